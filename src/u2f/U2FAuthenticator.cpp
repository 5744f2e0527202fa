#include "u2f/U2FAuthenticator.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "u2f/APDUCommand.h"
#include "u2f/HexEncoding.h"

namespace lumvane {

std::shared_ptr<U2FAuthenticator> U2FAuthenticator::shared() {
    static const std::shared_ptr<U2FAuthenticator> instance = [] {
        auto hid = U2FHID::shared();
        return hid ? create(hid) : std::shared_ptr<U2FAuthenticator>();
    }();
    return instance;
}

std::shared_ptr<U2FAuthenticator> U2FAuthenticator::create(std::shared_ptr<U2FHID> hid,
                                                           std::shared_ptr<DispatchQueue> queue) {
    if (!hid) return nullptr;
    std::shared_ptr<U2FAuthenticator> self(new U2FAuthenticator(std::move(hid), std::move(queue)));
    self->installMessageHandler();
    return self;
}

U2FAuthenticator::U2FAuthenticator(std::shared_ptr<U2FHID> hid,
                                   std::shared_ptr<DispatchQueue> queue)
    : u2fhid_(std::move(hid)),
      queue_(queue ? std::move(queue)
                   : DispatchQueue::global(DispatchQueue::Priority::Background)) {}

void U2FAuthenticator::installMessageHandler() {
    // The HID connection lives as long as the process's authenticator; a weak
    // reference keeps a test's authenticator from being held by its connection.
    std::weak_ptr<U2FAuthenticator> weak = weak_from_this();
    u2fhid_->setHandler(U2FHID::MessageType::Msg, [weak](const softu2f_hid_message& message) {
        auto self = weak.lock();
        return self ? self->handleMessage(message) : false;
    });
}

bool U2FAuthenticator::running() const {
    std::lock_guard lock(stateMutex_);
    return running_;
}

bool U2FAuthenticator::start() {
    if (!u2fhid_->run()) return false;
    std::lock_guard lock(stateMutex_);
    running_ = true;
    return true;
}

bool U2FAuthenticator::stop() {
    if (!u2fhid_->stop()) return false;
    std::lock_guard lock(stateMutex_);
    running_ = false;
    return true;
}

void U2FAuthenticator::setRegisterCallback(Callback callback) {
    std::lock_guard lock(stateMutex_);
    registerCallback_ = std::move(callback);
}

void U2FAuthenticator::setAuthenticationCallback(Callback callback) {
    std::lock_guard lock(stateMutex_);
    authenticationCallback_ = std::move(callback);
}

U2FAuthenticator::Callback U2FAuthenticator::registerCallback() const {
    std::lock_guard lock(stateMutex_);
    return registerCallback_;
}

U2FAuthenticator::Callback U2FAuthenticator::authenticationCallback() const {
    std::lock_guard lock(stateMutex_);
    return authenticationCallback_;
}

bool U2FAuthenticator::handleMessage(const softu2f_hid_message& message) {
    static const Bytes empty;
    const Bytes& raw = message.data ? *message.data : empty;
    uint32_t cid = message.cid;
    try {
        CommandHeader header = CommandHeader::fromRaw(raw);
        switch (header.ins) {
            case CommandCode::Register:
                handleRegisterRequest(raw, cid);
                break;
            case CommandCode::Authenticate:
                handleAuthenticationRequest(raw, cid);
                break;
            case CommandCode::Version:
                handleVersionRequest(raw, cid);
                break;
            case CommandCode::CheckRegister:
            case CommandCode::AuthenticateBatch:
                sendError(ResponseStatus::InsNotSupported, cid);
                break;
        }
    } catch (const ResponseStatusError& e) {
        sendError(e.status(), cid);
    } catch (const std::exception&) {
        sendError(ResponseStatus::OtherError, cid);
    }
    return true;
}

void U2FAuthenticator::handleRegisterRequest(const Bytes& raw, uint32_t cid) {
    RegisterRequest request = RegisterRequest::fromRaw(raw);
    Callback callback = registerCallback();
    if (!callback) {
        sendError(ResponseStatus::OtherError, cid);
        return;
    }
    processRequest(callback, raw, cid, request.applicationParameter());
}

void U2FAuthenticator::handleAuthenticationRequest(const Bytes& raw, uint32_t cid) {
    AuthenticationRequest request = AuthenticationRequest::fromRaw(raw);
    if (request.control() == Control::CheckOnly) {
        sendError(ResponseStatus::ConditionsNotSatisfied, cid);
        return;
    }
    Callback callback = authenticationCallback();
    if (!callback) {
        sendError(ResponseStatus::OtherError, cid);
        return;
    }
    processRequest(callback, raw, cid, request.applicationParameter());
}

void U2FAuthenticator::handleVersionRequest(const Bytes& raw, uint32_t cid) {
    VersionRequest::fromRaw(raw);
    sendData(VersionResponse::build("U2F_V2").raw(), cid);
}

void U2FAuthenticator::processRequest(const Callback& callback, const Bytes& raw, uint32_t cid,
                                      const Bytes& application) {
    char when[64];
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(when, sizeof(when), "%Y-%m-%d %H:%M:%S +0000", &utc);
    std::printf("%s handleRequest: %s\n", when, hexString(application).c_str());
    std::fflush(stdout);
    auto self = shared_from_this();
    queue_->async([self, callback, raw, cid] { self->workItem(callback, raw, cid); });
}

void U2FAuthenticator::workItem(const Callback& callback, const Bytes& raw, uint32_t cid) {
    const Bytes& key = raw;
    mutex_.lock();
    if (auto cached = responseCache_.find(key); cached != responseCache_.end()) {
        Bytes answer = std::move(cached->second);
        responseCache_.erase(cached);
        cacheOrder_.erase(std::find(cacheOrder_.begin(), cacheOrder_.end(), key));
        mutex_.unlock();
        if (!answer.empty()) {
            sendData(answer, cid);
        } else {
            // The phone gave no answer (gone, failed or timed out): say so rather than
            // leave the browser's request unanswered. The next repetition starts anew.
            sendError(ResponseStatus::OtherError, cid);
        }
        return;
    }
    if (requestFlag_.count(key)) {
        mutex_.unlock();
        sendError(ResponseStatus::ConditionsNotSatisfied, cid);
        return;
    }
    requestFlag_[key] = true;
    mutex_.unlock();
    sendError(ResponseStatus::ConditionsNotSatisfied, cid);

    std::optional<Bytes> answer;
    try {
        answer = callback(raw);
    } catch (const std::exception&) {
        answer.reset();
    }

    mutex_.lock();
    if (!responseCache_.count(key)) cacheOrder_.push_back(key);
    responseCache_[key] = answer.value_or(Bytes{});
    while (cacheOrder_.size() > kMaxCachedResponses) {
        responseCache_.erase(cacheOrder_.front());
        cacheOrder_.pop_front();
    }
    requestFlag_.erase(key);
    mutex_.unlock();
}

void U2FAuthenticator::sendError(ResponseStatus status, uint32_t cid) {
    sendData(ErrorResponse::build(status).raw(), cid);
}

void U2FAuthenticator::sendData(const Bytes& bytes, uint32_t cid) {
    u2fhid_->sendMessage(cid, bytes);
}

}  // namespace lumvane
