#include "u2f/UserPresence.h"

#include <algorithm>

namespace lumvane {

namespace {
struct Environment {
    std::mutex mutex;
    std::shared_ptr<UserNotificationCenter> center;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<UserPresence> pending;
    uint64_t nextIdentifier = 0;
};
Environment& env() {
    static Environment e;
    return e;
}
std::shared_ptr<Clock> envClock() {
    std::lock_guard lock(env().mutex);
    return env().clock ? env().clock : Clock::steady();
}
std::shared_ptr<DispatchQueue> envQueue() {
    std::lock_guard lock(env().mutex);
    return env().queue;
}
}  // namespace

std::atomic<bool> UserPresence::approveAll{false};

void UserPresence::setEnvironment(std::shared_ptr<UserNotificationCenter> center,
                                  std::shared_ptr<Clock> clock,
                                  std::shared_ptr<DispatchQueue> queue) {
    std::lock_guard lock(env().mutex);
    env().center = std::move(center);
    env().clock = std::move(clock);
    env().queue = std::move(queue);
}

void UserPresence::confirm(const Notification& kind, bool approveAtOnce, Callback callback) {
    if (approveAll || approveAtOnce) {
        callback(true);
        return;
    }
    std::shared_ptr<UserPresence> previous;
    std::shared_ptr<UserNotificationCenter> center;
    {
        std::lock_guard lock(env().mutex);
        previous = env().pending;
        center = env().center;
    }
    if (previous) previous->finish(false);
    if (!center) {
        // Nowhere to ask: a request nobody approved is rejected.
        callback(false);
        return;
    }
    auto previousDelegate = center->delegate();
    auto prompt = std::make_shared<UserPresence>(
        [center, previousDelegate, callback = std::move(callback)](bool approved) {
            center->setDelegate(previousDelegate);
            callback(approved);
        });
    {
        std::lock_guard lock(env().mutex);
        env().pending = prompt;
    }
    center->setDelegate(prompt);
    prompt->present(kind);
}

UserPresence::UserPresence(Callback callback) : callback_(std::move(callback)) {}

bool UserPresence::expired() const {
    std::lock_guard lock(mutex_);
    if (!timerStart_) return false;
    return envClock()->now() - *timerStart_ > Clock::seconds(kTimeoutSeconds);
}

std::shared_ptr<UserNotificationCenter> UserPresence::center() const {
    std::lock_guard lock(env().mutex);
    return env().center;
}

void UserPresence::present(const Notification& kind) {
    deliver(kind);
}

std::string UserPresence::informativeText(const Notification& kind) {
    std::string text =
        kind.kind == Notification::Kind::Register ? "Register with " : "Authenticate with ";
    return text + kind.facet.value_or("site");
}

void UserPresence::deliver(const Notification& kind) {
    UserNotification notification;
    {
        std::lock_guard lock(env().mutex);
        notification.identifier = "lumvane.u2f.presence." + std::to_string(++env().nextIdentifier);
    }
    notification.title = "Security Key Request";
    notification.informativeText = informativeText(kind);
    notification.actionButtonTitle = "Approve";
    notification.otherButtonTitle = "Reject";
    {
        std::lock_guard lock(mutex_);
        notification_ = notification;
    }
    if (auto c = center()) c->deliver(notification);
}

void UserPresence::didDeliver(UserNotificationCenter& center,
                              const UserNotification& notification) {
    if (center.isPresented(notification.identifier))
        startWatching();
    else
        finish(false);
}

void UserPresence::didActivate(UserNotificationCenter&, const UserNotification&,
                               bool fromActionButton) {
    finish(fromActionButton);
}

void UserPresence::startWatching() {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        timerStart_ = envClock()->now();
    }
    scheduleTick();
}

void UserPresence::scheduleTick() {
    auto clock = envClock();
    auto queue = envQueue();
    auto self = shared_from_this();  // the timer holds the prompt
    std::lock_guard lock(mutex_);
    if (finished_) return;
    timer_ = clock->callAt(clock->deadlineAfter(kWatchInterval), [self, queue] {
        if (queue)
            queue->async([self] { self->tick(); });
        else
            self->tick();
    });
}

void UserPresence::tick() {
    std::optional<std::string> identifier;
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        timer_.reset();
        if (notification_) identifier = notification_->identifier;
    }
    if (!identifier) {
        scheduleTick();
        return;
    }
    if (expired()) {
        finish(false);
        return;
    }
    if (auto c = center()) {
        auto shown = c->deliveredIdentifiers();
        if (std::find(shown.begin(), shown.end(), *identifier) == shown.end()) {
            finish(false);
            return;
        }
    }
    scheduleTick();
}

void UserPresence::stopWatching() {
    std::optional<Clock::CallId> timer;
    {
        std::lock_guard lock(mutex_);
        timer = timer_;
        timer_.reset();
    }
    if (timer) envClock()->cancel(*timer);
}

void UserPresence::removeNotification() {
    std::optional<std::string> identifier;
    {
        std::lock_guard lock(mutex_);
        if (notification_) identifier = notification_->identifier;
    }
    if (identifier)
        if (auto c = center()) c->removeDelivered(*identifier);
}

void UserPresence::finish(bool approved) {
    {
        std::lock_guard lock(mutex_);
        // A click and the time-out can meet: the caller hears one answer.
        if (finished_) return;
        finished_ = true;
    }
    stopWatching();
    removeNotification();
    callback_(approved);
    std::lock_guard lock(env().mutex);
    // Only this prompt's own entry; a newer prompt stays pending.
    if (env().pending.get() == this) env().pending.reset();
}

}  // namespace lumvane
