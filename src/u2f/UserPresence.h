#pragma once
// Asks the user, through a desktop notice with "Approve" and "Reject", to allow a
// security-key registration or authentication, and reports the answer once to a
// callback. Rejected: "Reject", dismissing the notice, clicking its body, or 10 s
// without an answer. At most one prompt is pending; a new one rejects the one before.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/Clock.h"
#include "runtime/DispatchQueue.h"
#include "u2f/UserNotificationCenter.h"

namespace lumvane {

class UserPresence : public UserNotificationCenterDelegate,
                     public std::enable_shared_from_this<UserPresence> {
  public:
    struct Notification {
        enum class Kind { Register, Authenticate };
        Kind kind = Kind::Register;
        std::optional<std::string> facet;
        static Notification Register(std::optional<std::string> facet = std::nullopt) {
            return {Kind::Register, std::move(facet)};
        }
        static Notification Authenticate(std::optional<std::string> facet = std::nullopt) {
            return {Kind::Authenticate, std::move(facet)};
        }
    };
    using Callback = std::function<void(bool approved)>;

    static constexpr double kTimeoutSeconds = 10.0;
    static constexpr double kWatchInterval = 0.1;

    // While true every request is approved without asking.
    static std::atomic<bool> approveAll;

    // Where prompts are shown and what times them; ticks run on `queue` when given,
    // else on the clock's thread.
    static void setEnvironment(std::shared_ptr<UserNotificationCenter> center,
                               std::shared_ptr<Clock> clock,
                               std::shared_ptr<DispatchQueue> queue = nullptr);

    // Any thread.
    static void confirm(const Notification& kind, bool approveAtOnce, Callback callback);

    explicit UserPresence(Callback callback);

    bool expired() const;
    std::shared_ptr<UserNotificationCenter> center() const;
    void present(const Notification& kind);
    void deliver(const Notification& kind);
    // Reports the answer; only the first call of a prompt counts.
    void finish(bool approved);
    void removeNotification();
    void startWatching();
    void stopWatching();

    void didDeliver(UserNotificationCenter& center, const UserNotification& notification) override;
    void didActivate(UserNotificationCenter& center, const UserNotification& notification,
                     bool fromActionButton) override;
    bool shouldPresent(UserNotificationCenter&, const UserNotification&) override { return true; }

    // The text a prompt shows for a request.
    static std::string informativeText(const Notification& kind);

  private:
    void tick();
    void scheduleTick();

    const Callback callback_;
    mutable std::mutex mutex_;
    std::optional<UserNotification> notification_;
    std::optional<Clock::CallId> timer_;
    std::optional<Clock::TimePoint> timerStart_;
    bool finished_ = false;
};

}  // namespace lumvane
