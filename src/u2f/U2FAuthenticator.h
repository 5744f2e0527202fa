#pragma once
// Answers the U2F requests that arrive as MSG messages. Version requests are answered
// here; register and authenticate requests go, as the raw bytes the browser sent, to
// a callback (the phone signs). Because the phone may take minutes, the browser is
// told "conditions not satisfied" at once and on every repetition while the callback
// runs; the first repetition after the answer arrived gets that answer, once.
//
// Answers are kept under the whole request, so only a repetition of the very request
// (same kind, challenge, application and key handle) receives one: a register answer
// never goes to an authenticate request, nor an answer to an older challenge to a
// newer one.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>

#include "runtime/Bytes.h"
#include "runtime/DispatchQueue.h"
#include "u2f/APDUResponse.h"
#include "u2f/BytesLess.h"
#include "u2f/U2FHID.h"

namespace lumvane {

// A lock built on a counting semaphore of one.
class Mutex {
  public:
    void lock() { semaphore_.acquire(); }
    void unlock() { semaphore_.release(); }

  private:
    std::counting_semaphore<1> semaphore_{1};
};

class U2FAuthenticator : public std::enable_shared_from_this<U2FAuthenticator> {
  public:
    using Callback = std::function<std::optional<Bytes>(const Bytes&)>;

    // Answers kept for repetitions that have not come yet; beyond this many the
    // oldest is dropped.
    static constexpr size_t kMaxCachedResponses = 64;

    // The process-wide instance over U2FHID::shared(); nothing, for good, without it.
    static std::shared_ptr<U2FAuthenticator> shared();
    // An authenticator over a HID connection; its callbacks run on `queue` (null: the
    // global background queue).
    static std::shared_ptr<U2FAuthenticator> create(std::shared_ptr<U2FHID> hid,
                                                    std::shared_ptr<DispatchQueue> queue = nullptr);

    bool running() const;
    bool start();
    bool stop();
    void setRegisterCallback(Callback callback);
    void setAuthenticationCallback(Callback callback);

    // The MSG handler; always true (failures are answered with status words).
    bool handleMessage(const softu2f_hid_message& message);

  private:
    U2FAuthenticator(std::shared_ptr<U2FHID> hid, std::shared_ptr<DispatchQueue> queue);
    void installMessageHandler();
    void handleRegisterRequest(const Bytes& raw, uint32_t cid);
    void handleAuthenticationRequest(const Bytes& raw, uint32_t cid);
    void handleVersionRequest(const Bytes& raw, uint32_t cid);
    // `application` is only shown in the request's log line.
    void processRequest(const Callback& callback, const Bytes& raw, uint32_t cid,
                        const Bytes& application);
    void workItem(const Callback& callback, const Bytes& raw, uint32_t cid);
    void sendError(ResponseStatus status, uint32_t cid);
    void sendData(const Bytes& bytes, uint32_t cid);
    Callback registerCallback() const;
    Callback authenticationCallback() const;

    std::shared_ptr<U2FHID> u2fhid_;
    std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex stateMutex_;  // running flag and callbacks
    bool running_ = false;
    Callback registerCallback_;
    Callback authenticationCallback_;

    Mutex mutex_;  // responseCache_, cacheOrder_, requestFlag_ (keyed by the raw request)
    std::map<Bytes, Bytes, BytesLess> responseCache_;
    std::deque<Bytes> cacheOrder_;
    std::map<Bytes, bool, BytesLess> requestFlag_;
};

}  // namespace lumvane
