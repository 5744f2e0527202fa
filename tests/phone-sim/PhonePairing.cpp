// The phone's side of a QR pairing, and the simulated phone's pairing, link keys and
// sleep (the PhoneSim members declared in PhoneSim.h under "Pairing").
#include "PhonePairing.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <sstream>

#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "PhoneSim.h"
#include "blec/BLECCharacteristics.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNCryptRnd.h"
#include "platform/ble/SimBlePeripheral.h"
#include "protocol/PasswordEncoding.h"
#include "protocol/ProtocolLimits.h"
#include "runtime/HexString.h"

namespace lumvane::phonesim {

namespace {

constexpr const char* kInvitationPhrase = "nu.bafrimo.tosxwed";
constexpr size_t kTokenLength = 16;

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

bool fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX sequences decoded; a "+" stays a "+" (it belongs to the Base64 alphabet here).
std::string percentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexDigit(text[i + 1]), lo = hexDigit(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::optional<std::string> queryValue(const std::string& url, const std::string& name) {
    const auto q = url.find('?');
    if (q == std::string::npos) return std::nullopt;
    std::stringstream ss(url.substr(q + 1));
    std::string pair;
    while (std::getline(ss, pair, '&')) {
        const auto eq = pair.find('=');
        if (eq == std::string::npos) continue;
        if (pair.substr(0, eq) == name) return percentDecode(pair.substr(eq + 1));
    }
    return std::nullopt;
}

}  // namespace

std::optional<PairingInvitation> readPairingUrl(const std::string& url, std::string* error) {
    auto auth = queryValue(url, "auth");
    if (!auth || auth->empty()) {
        fail(error, "the URL has no auth value");
        return std::nullopt;
    }
    auto sealed = base64Decode(*auth);
    if (!sealed || sealed->empty()) {
        fail(error, "the auth value is not Base64");
        return std::nullopt;
    }
    const Bytes key = TBNCryptHash::sha256FromString(std::string(kInvitationPhrase));
    const Bytes plain = TBNCryptAES::decryptData(Bytes(sealed->begin(), sealed->end()), key);
    if (plain.size() != kTokenLength + TBNCryptAES::kKeySize) {
        fail(error, "the auth value does not open to a token and a key");
        return std::nullopt;
    }
    PairingInvitation invitation;
    invitation.token.assign(plain.begin(), plain.begin() + kTokenLength);
    invitation.key.assign(plain.begin() + kTokenLength, plain.end());
    for (char c : invitation.token) {
        if (hexDigit(c) < 0) {
            fail(error, "the token is not hexadecimal");
            return std::nullopt;
        }
    }
    if (auto client = queryValue(url, "client")) {
        if (auto name = base64Decode(*client)) invitation.clientName = *name;
    }
    return invitation;
}

std::string tokenServiceUuid(const std::string& token) {
    const std::string t = upper(token);
    Bytes bytes(t.begin(), t.end());
    bytes.resize(16, 0);
    const std::string hex = stringWithHexData(bytes);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

PhonePairing::PhonePairing(PairingInvitation invitation, std::string clientSecret)
    : invitation_(std::move(invitation)), clientSecret_(std::move(clientSecret)) {
    if (clientSecret_.empty()) clientSecret_ = TBNCryptRnd::shareRnd().randomHexByLenght(16);
    authResponseData_ = TBNCryptAES::encryptData(Bytes(clientSecret_.begin(), clientSecret_.end()),
                                                 invitation_.key);
}

std::shared_ptr<TBNError> PhonePairing::check(const TBNApproveClientRequest& request) const {
    const auto& auth = request.auth();
    if (!auth || !auth->clientId() || auth->clientId()->empty() ||
        auth->clientSecret() != clientSecret_) {
        return PhoneVault::error(1, 1, "Client not authorized");
    }
    return nullptr;
}

bool PhonePairing::approve(const TBNApproveClientRequest& request) {
    auto key = base64Decode(request.secretKey().value_or(""));
    if (!key || key->size() != TBNCryptAES::kKeySize) return false;
    Approved a;
    a.clientId = request.auth()->clientId().value_or("");
    a.clientSecret = request.auth()->clientSecret().value_or("");
    a.secretKey.assign(key->begin(), key->end());
    a.clientName = request.clientName().value_or("");
    a.clientModel = request.clientModel().value_or("");
    a.osVersion = request.osVersion().value_or("");
    a.appVersion = request.appVersion();
    a.publicKey = request.publicKey();
    a.lastBackupTime = request.lastBackupTime();
    std::lock_guard<std::mutex> lock(mutex_);
    approved_ = std::move(a);
    return true;
}

std::optional<PhonePairing::Approved> PhonePairing::approved() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return approved_;
}

// ---- PhoneSim: pairing, link keys, sleep ---------------------------------------------

bool PhoneSim::startPairing(const std::string& pairingUrl, std::string* error,
                            const std::string& clientSecret) {
    auto invitation = readPairingUrl(pairingUrl, error);
    if (!invitation) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pairing_ = std::make_shared<PhonePairing>(*invitation, clientSecret);
        linkKeys_.insert(linkKeys_.begin(), invitation->key);
        asleep_ = false;
    }
    advertiseNow();
    return true;
}

std::shared_ptr<PhonePairing> PhoneSim::pairing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pairing_;
}

std::vector<Bytes> PhoneSim::linkKeys() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return linkKeys_;
}

void PhoneSim::addLinkKey(const Bytes& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(linkKeys_.begin(), linkKeys_.end(), key) == linkKeys_.end()) {
        linkKeys_.insert(linkKeys_.begin(), key);
    }
}

bool PhoneSim::asleep() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return asleep_;
}

void PhoneSim::sleep() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        asleep_ = true;
    }
    if (!device_) return;
    device_->stopAdvertising();
    for (const auto& central : device_->connectedCentrals()) device_->disconnectCentral(central);
}

void PhoneSim::wakeUp() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!asleep_) return;
        asleep_ = false;
        ++wakeUps_;
    }
    advertiseNow();
}

size_t PhoneSim::wakeUps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return wakeUps_;
}

bool PhoneSim::takePush(const std::string& line) {
    const auto space = line.find(' ');
    if (space == std::string::npos) return false;
    const Bytes token = hexData(line.substr(0, space));
    const Bytes mine = hexData(vault_.content().device.token);
    if (token.empty() || token != mine) return false;
    wakeUp();
    return true;
}

void PhoneSim::advertiseNow() {
    if (!device_ || !options_.advertise) return;
    std::string uuid;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (asleep_) return;
        // While a pairing waits for its approval the phone shows the token; otherwise its
        // device id.
        uuid = pairing_ && !pairing_->approved() ? tokenServiceUuid(pairing_->invitation().token)
                                                 : deviceId();
    }
    ble::AdvertisementData ad;
    ad.localName = vault_.content().device.name;
    ad.serviceUuids = std::vector<std::string>{uuid};
    ad.isConnectable = true;
    device_->startAdvertising(ad);
}

std::optional<Bytes> PhoneSim::pairingAnswer() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pairing_ || pairing_->approved()) return std::nullopt;
    return pairing_->authResponseData();
}

Bytes PhoneSim::processApproval(const Bytes& request) {
    using namespace apache::thrift;
    auto pairing = this->pairing();
    auto in = makeCompactProtocol(makeReadBuffer(request.data(), request.size()));
    std::string name;
    protocol::TMessageType type;
    int32_t seq = 0;
    TBNapproveClient_args args;
    try {
        in->readMessageBegin(name, type, seq);
        args.read(in.get());
        in->readMessageEnd();
    } catch (const std::exception& e) {
        std::cerr << "phone-sim: unreadable approval: " << e.what() << "\n";
        return {};
    }
    auto response = std::make_shared<TBNApproveClientResponse>();
    auto req = args.request();
    std::shared_ptr<TBNError> error;
    if (!req) {
        error = PhoneVault::error(4, 10, "No request");
    } else {
        error = pairing->check(*req);
        if (!error && !pairing->approve(*req)) {
            error = PhoneVault::error(1, 1, "Client not authorized");
        }
    }
    if (!error) {
        const auto approved = *pairing->approved();
        {
            std::lock_guard<std::mutex> lock(vault_.mutex_);
            auto& clients = vault_.content_.clients;
            clients.erase(
                std::remove_if(clients.begin(), clients.end(),
                               [&](const auto& c) { return c.first == approved.clientId; }),
                clients.end());
            clients.emplace_back(approved.clientId, approved.clientSecret);
        }
        addLinkKey(approved.secretKey);
        const auto d = vault_.content().device;
        auto info = std::make_shared<TBNDeviceInfo>();
        info->setName(d.name);
        info->setModel(d.model);
        info->setOsVersion(d.osVersion);
        info->setAppVersion(d.appVersion);
        info->setPushToken(d.token);
        response->setDeviceId(d.id);
        response->setDeviceInfo(info);
    }
    {
        std::lock_guard<std::mutex> lock(vault_.mutex_);
        response->setInfo(vault_.responseFor(req ? req->info() : nullptr, error));
    }
    TBNApproveClient_result result;
    result.setSuccess(response);
    auto outBuffer = makeWriteBuffer();
    auto out = makeCompactProtocol(outBuffer);
    out->writeMessageBegin("approveClient", protocol::T_REPLY, seq);
    result.write(out.get());
    out->writeMessageEnd();
    out->getTransport()->writeEnd();
    out->getTransport()->flush();
    if (!error) advertiseNow();
    const std::string bytes = outBuffer->getBufferAsString();
    return Bytes(bytes.begin(), bytes.end());
}

}  // namespace lumvane::phonesim
