// The loopback services as a browser extension reaches them on port 19521: a POST body,
// bare or in its envelope (plain, or encrypted with the key of a client the settings
// know), through the JSON encoding into the product's host-storage and storage
// processors with their real handlers. The host service answers pings (and registers
// new clients, since the registration window is open), chooses among accounts, takes
// logins from a Google import that a helper thread waits for, generates passwords and
// asks the save question; the proxy checks approval and pause and decodes and encodes
// Base64 passwords in front of a fake phone. The settings are a real store in a scratch
// folder, set back to the same file after any input that changed it.
//
// Every reply our processors write must read back as a JSON message, and an envelope is
// always answered with a JSON object.
#include <thrift/transport/TBufferTransports.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "FuzzScratch.h"
#include "crypto/TBNCryptHash.h"
#include "extension/TBNProtocolHelper.h"
#include "extension/ThriftHTTPServer.h"
#include "extension/ThriftJSONProtocol.h"
#include "extension/handlers/TBNThriftHostService.h"
#include "extension/handlers/TBNThriftProxy.h"
#include "idl/protocols.h"
#include "idl/settings.h"
#include "runtime/Clock.h"
#include "runtime/TBNWaitManager.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace {

namespace fs = std::filesystem;
using namespace lumvane;

constexpr const char* kClientId = "EXT-CLIENT";
constexpr const char* kClientSecret = "EXT-SECRET-0001";
constexpr const char* kHardwareId = "AA:BB:CC:DD:EE:FF";
const Bytes kSettingsKey(32, 0x42);

// The phone: answers every storage call with records built from the request, so the
// proxy has passwords to encode.
class FakePhone : public TBNStorageService {
  public:
    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> r) override {
        auto login = std::make_shared<TBNLoginData>();
        login->setLogin(r->login());
        login->setPassword(r->siteUrl());
        return std::make_shared<TBNGetLoginDataResponse>(nullptr, login);
    }
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest>) override {
        return std::make_shared<TBNAddLoginDataResponse>(nullptr, false);
    }
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest>) override {
        return std::make_shared<TBNDeleteLoginDataResponse>();
    }
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest>) override {
        return nullptr;  // a phone that does not answer
    }
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> r) override {
        return std::make_shared<TBNGetSiteDataResponse>(nullptr, siteFor(r->siteUrl()));
    }
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest> r) override {
        auto list = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
        list->push_back(siteFor(r->info() ? r->info()->id() : std::nullopt));
        list->push_back(nullptr);
        return std::make_shared<TBNGetSiteDataListResponse>(nullptr, list);
    }
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest>) override {
        throw std::runtime_error("the link broke");
    }
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest> r) override {
        auto response = std::make_shared<TBNGet2FACodeResponse>();
        response->setCode(r->login());
        return response;
    }

  private:
    static std::shared_ptr<TBNSiteData> siteFor(const std::optional<std::string>& text) {
        auto site = std::make_shared<TBNSiteData>();
        site->setSiteUrl(text);
        auto logins = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
        auto login = std::make_shared<TBNLoginData>();
        login->setPassword(text);
        logins->push_back(login);
        logins->push_back(nullptr);
        site->setLoginData(logins);
        return site;
    }
};

// The user, as the application service asks: answers follow from what is asked, so
// every answer is reachable and an input always gets the same ones.
class User : public TBNThriftHostServiceDelegate {
  public:
    TBNSaveVariant thriftHostServiceCanSaveLoginData(TBNThriftHostService&, TBNLoginData& data,
                                                     const std::string&,
                                                     const std::string&) override {
        return data.password().value_or("").size() % 5;
    }
    TBNSaveVariant thriftHostServiceCanUpdateLoginData(TBNThriftHostService&, TBNLoginData& data,
                                                       const std::string&,
                                                       const std::string&) override {
        data.setPassword(std::string("typed"));
        return data.login().value_or("").size() % 5;
    }
    std::optional<int64_t> thriftHostServiceChooseDefaultAccount(
        TBNThriftHostService&, const std::vector<std::string>& accounts, const std::string&,
        const std::string&, bool usingAccountCache) override {
        if (usingAccountCache) return std::nullopt;
        return static_cast<int64_t>(accounts.front().size()) - 1;
    }
    void thriftHostServiceDidPingFromExtensionId(TBNThriftHostService&,
                                                 const std::optional<std::string>&,
                                                 const std::optional<std::string>&) override {}
};

// The envelope's key of a client: the digest of its stored secret, as the service gives.
class Keys : public ThriftHTTPServerDelegate {
  public:
    explicit Keys(std::shared_ptr<TBNSettings> settings) : settings_(std::move(settings)) {}
    std::optional<Bytes> thriftHTTPServer(ThriftHTTPServer&, const std::string& clientId) override {
        if (clientId.empty()) return std::nullopt;
        auto secret = settings_->clientSecretByClientId(clientId);
        if (!secret) return std::nullopt;
        return TBNCryptHash::sha256FromString(*secret);
    }

  private:
    std::shared_ptr<TBNSettings> settings_;
};

struct World {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    TBNWaitManager waits{clock};
    std::shared_ptr<TBNSettings> settings;
    fs::path file;
    Bytes fileBytes;  // the settings file every input starts from
    uint64_t writes = 0;
    std::shared_ptr<User> user = std::make_shared<User>();
    std::shared_ptr<FakePhone> phone = std::make_shared<FakePhone>();
    std::shared_ptr<Keys> keys;
    // The import the user started: a thread that waits for an extension's records.
    std::atomic<uint64_t> imports{0};
    std::thread importer;

    World() {
        TBNLogger::setMaxLevel(kTBNLogLevelOff);
        const fs::path root = fuzz::scratchFolder();
        ::setenv("HOME", (root / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root / "home" / ".config").c_str(), 1);
        fs::create_directories(root / "settings");
        file = root / "settings" / TBNSettings::kSettingsFileName;
        TBNSettings::Options o;
        o.clock = clock;
        o.now = [] { return std::chrono::system_clock::time_point(std::chrono::hours(480000)); };
        o.bundleVersion = "1.0.0.0";
        o.syncWrites = false;
        settings = TBNSettings::create(o);
        settings->loadBySettingsClass(file);
        settings->decryptEncryptedSettingsByKey(kSettingsKey);
        settings->upgrade();
        settings->approveExtForClientId(std::string(kClientId), std::string(kClientSecret));
        // A paired phone that knows one site and one account of it.
        auto device = std::make_shared<TBNOSXDeviceInfo>();
        device->setDeviceId(std::string("PHONE-DEVICE-ID"));
        device->setHardwareId(std::string(kHardwareId));
        settings->addPairedDevice(device);
        auto sites = std::make_shared<TBNSitesCache>();
        sites->setAccountsCache(
            std::make_shared<std::map<std::string, std::shared_ptr<TBNAccountsCache>>>());
        settings->updateSitesCache(sites, std::string(kHardwareId));
        settings->addToCacheUserName(std::string("known"), std::string("secret"),
                                     std::string("example.com"), std::string(kHardwareId));
        settings->waitForPendingSaves();
        std::ifstream in(file, std::ios::binary);
        fileBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        writes = settings->fileWrites();
        keys = std::make_shared<Keys>(settings);
        importer = std::thread([this] {
            for (;;) {
                waits.waitWithName(kTBNImportFromGoogleWaitName, kTBNImportFromGoogleTimeout);
                imports.fetch_add(1);
            }
        });
        importer.detach();  // waits for the whole run
        waitForImporter();
    }

    void waitForImporter() {
        while (!waits.waitedWithName(kTBNImportFromGoogleWaitName)) std::this_thread::yield();
    }

    // After an input that changed the settings: the same file and records as before it.
    void restore() {
        settings->waitForPendingSaves();
        if (settings->fileWrites() == writes) return;
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(fileBytes.data()),
                      static_cast<std::streamsize>(fileBytes.size()));
        }
        settings->reloadBySettingsClass();
        settings->decryptEncryptedSettingsByKey(kSettingsKey);
        settings->upgrade();
        settings->waitForPendingSaves();
        writes = settings->fileWrites();
    }
};

World& world() {
    static World* w = new World();  // lives as long as the process, like the service
    return *w;
}

// A reply we wrote must read as a JSON message again.
void checkReadsBack(const std::string& reply) {
    if (reply.empty()) return;
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>(
        reinterpret_cast<uint8_t*>(const_cast<char*>(reply.data())),
        static_cast<uint32_t>(reply.size()), apache::thrift::transport::TMemoryBuffer::COPY);
    ThriftJSONProtocol protocol(buffer);
    std::string name;
    apache::thrift::protocol::TMessageType type;
    int32_t seqid = 0;
    protocol.readMessageBegin(name, type, seqid);
    protocol.skip(apache::thrift::protocol::T_STRUCT);
    protocol.readMessageEnd();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = world();
    const uint64_t importsBefore = w.imports.load();
    TBNProtocolHelper helper([] { return int64_t{1800000000}; });

    TBNThriftHostService::Options hostOptions;
    hostOptions.settings = w.settings;
    hostOptions.waitManager = &w.waits;
    hostOptions.clock = w.clock;
    hostOptions.protocolHelper = &helper;
    auto host = TBNThriftHostService::initWithDelegate(w.user, hostOptions);
    host->openExtensionRegistration();
    TBNThriftProxy::Options proxyOptions;
    proxyOptions.settings = w.settings;
    proxyOptions.protocolHelper = &helper;
    auto processors = TBNExtensionProcessors::make(host, w.phone, proxyOptions);
    ThriftHTTPServer::Options serverOptions;
    serverOptions.listen = false;
    auto server = ThriftHTTPServer::initAsConcurrentWithPort(
        0, std::nullopt, ThriftJSONProtocolFactory::sharedFactory(),
        {processors.hostStorage, processors.storage}, serverOptions);
    server->setDelegate(w.keys);

    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::string answer = server->processRequest(body);

    const auto envelope = nlohmann::json::parse(body, nullptr, false);
    const bool enveloped = envelope.is_object() && envelope.contains("clientId");
    if (enveloped && body.find("\"clientId\":") != std::string::npos) {
        const auto reply = nlohmann::json::parse(answer, nullptr, false);
        if (!reply.is_object()) std::abort();
        if (auto r = reply.find("response"); r != reply.end() && r->is_string() &&
                                             reply.value("encrypted", true) == false) {
            checkReadsBack(r->get<std::string>());
        }
    } else if (body.find("\"clientId\":") == std::string::npos) {
        checkReadsBack(answer);
    }

    server.reset();
    if (w.imports.load() != importsBefore) w.waitForImporter();
    w.restore();
    return 0;
}
