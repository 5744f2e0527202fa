#include "SessionStorage.h"

#include "Parsers.h"
#include "SafariExtensionViewController.h"
#include "runtime/DispatchQueue.h"

namespace lumvane {

const char* serviceStateName(LumvaneServiceState state) {
    switch (state) {
        case LumvaneServiceState::unknown:
            return "unknown";
        case LumvaneServiceState::unauthorized:
            return "unauthorized";
        case LumvaneServiceState::running:
            return "running";
        case LumvaneServiceState::paused:
            return "paused";
        case LumvaneServiceState::offline:
            return "offline";
        case LumvaneServiceState::deviceNotPaired:
            return "deviceNotPaired";
        case LumvaneServiceState::deviceOfflined:
            return "deviceOfflined";
    }
    return "unknown";
}

namespace {
std::mutex& sharedEnvMutex() {
    static std::mutex m;
    return m;
}
std::optional<SessionEnvironment>& sharedEnv() {
    static std::optional<SessionEnvironment> env;
    return env;
}
bool& sharedMade() {
    static bool made = false;
    return made;
}
}  // namespace

bool SessionStorage::configureShared(SessionEnvironment environment) {
    std::lock_guard<std::mutex> lock(sharedEnvMutex());
    if (sharedMade()) return false;
    sharedEnv() = std::move(environment);
    return true;
}

SessionStorage& SessionStorage::shared() {
    static SessionStorage* instance = [] {
        std::lock_guard<std::mutex> lock(sharedEnvMutex());
        sharedMade() = true;
        return new SessionStorage(sharedEnv().value_or(SessionEnvironment{}));
    }();
    return *instance;
}

SessionStorage::SessionStorage(SessionEnvironment environment) : env_(std::move(environment)) {
    clock_ = env_.clock ? env_.clock : Clock::steady();
    messageQueue_ =
        DispatchQueue::create("com.lumvane.safari.lockQueue", DispatchQueue::Kind::Serial,
                              DispatchQueue::Priority::Default, clock_);
    mainQueue_ = env_.mainQueue ? env_.mainQueue
                                : DispatchQueue::create("com.lumvane.safari.popover",
                                                        DispatchQueue::Kind::Serial,
                                                        DispatchQueue::Priority::High, clock_);
    communication_ = std::make_unique<Communication>(env_.communication);
    config_ = std::make_unique<Config>(env_.config);
    popupViewController_ = std::make_unique<SafariExtensionViewController>(*this);
}

SessionStorage::~SessionStorage() {
    shutdown();
    popupViewController_->shutdown();
    messageQueue_->sync([] {});
    mainQueue_->sync([] {});
    config_->flush();
}

const Parsers& SessionStorage::parsers() const {
    return env_.parsers ? env_.parsers() : Parsers::shared();
}

double SessionStorage::now() const {
    return std::chrono::duration<double>(clock_->now().time_since_epoch()).count();
}

std::string SessionStorage::tabStateKey(const JSContext& context) {
    return context.tabId.value_or("empty");
}

LumvaneServiceState SessionStorage::serviceState(const SafariWindow& window) {
    std::lock_guard<std::mutex> lock(windowsMutex_);
    auto it = windowsState_.find(window.hash());
    return it == windowsState_.end() ? LumvaneServiceState::unknown : it->second.serviceState;
}

void SessionStorage::setServiceState(const SafariWindow& window, LumvaneServiceState state) {
    double t = now();
    std::lock_guard<std::mutex> lock(windowsMutex_);
    auto [it, created] = windowsState_.try_emplace(window.hash());
    if (created) it->second.lastPingTime = t;
    it->second.serviceState = state;
}

bool SessionStorage::hasWindow(const SafariWindow& window) {
    std::lock_guard<std::mutex> lock(windowsMutex_);
    return windowsState_.count(window.hash()) != 0;
}

bool SessionStorage::isWindowStale(const SafariWindow& window) {
    double t = now();
    std::lock_guard<std::mutex> lock(windowsMutex_);
    auto it = windowsState_.find(window.hash());
    if (it == windowsState_.end()) return false;
    return t - it->second.lastPingTime > kStaleAfterSeconds;
}

void SessionStorage::touchWindow(const SafariWindow& window) {
    double t = now();
    std::lock_guard<std::mutex> lock(windowsMutex_);
    windowsState_[window.hash()].lastPingTime = t;
}

std::optional<WindowState> SessionStorage::removeWindow(const SafariWindow& window) {
    std::lock_guard<std::mutex> lock(windowsMutex_);
    auto it = windowsState_.find(window.hash());
    if (it == windowsState_.end()) return std::nullopt;
    WindowState removed = it->second;
    windowsState_.erase(it);
    return removed;
}

void SessionStorage::scheduleSave(const JSContext& context, double delaySeconds,
                                  std::function<void()> action) {
    std::string key = tabStateKey(context);
    std::lock_guard<std::mutex> lock(timersMutex_);
    if (timers_.count(key)) return;
    std::weak_ptr<DispatchQueue> queue = messageQueue_;
    auto id =
        clock_->callAt(clock_->deadlineAfter(delaySeconds), [queue, action = std::move(action)] {
            if (auto q = queue.lock()) q->async(action);
        });
    timers_[key] = id;
}

void SessionStorage::cancelScheduledSave(const JSContext& context) {
    std::string key = tabStateKey(context);
    std::lock_guard<std::mutex> lock(timersMutex_);
    auto it = timers_.find(key);
    if (it == timers_.end()) return;
    clock_->cancel(it->second);
    timers_.erase(it);
}

bool SessionStorage::hasScheduledSave(const std::string& key) {
    std::lock_guard<std::mutex> lock(timersMutex_);
    return timers_.count(key) != 0;
}

int64_t SessionStorage::nextSessionId() {
    std::lock_guard<std::recursive_mutex> lock(tabsMutex_);
    return ++sessionId_;
}

std::shared_ptr<TabState> SessionStorage::tabState(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(tabsMutex_);
    auto it = tabsState_.find(key);
    return it == tabsState_.end() ? nullptr : it->second;
}

void SessionStorage::ensureTabState(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(tabsMutex_);
    if (!tabsState_.count(key)) tabsState_[key] = std::make_shared<TabState>();
}

void SessionStorage::setLastTabContext(const std::string& tabKey, const JSContext& context) {
    std::lock_guard<std::recursive_mutex> lock(tabsMutex_);
    lastTabContext_[tabKey] = context;
}

std::optional<JSContext> SessionStorage::lastTabContext(const std::string& tabKey) {
    std::lock_guard<std::recursive_mutex> lock(tabsMutex_);
    auto it = lastTabContext_.find(tabKey);
    if (it == lastTabContext_.end()) return std::nullopt;
    return it->second;
}

void SessionStorage::removeLastActiveInputs(const std::string& tabKey) {
    std::lock_guard<std::recursive_mutex> lock(tabsMutex_);
    lastActiveInputs_.erase(tabKey);
}

bool SessionStorage::storeLastActiveInputsIfAbsent(const std::string& tabKey,
                                                   const JSActiveInputs& inputs) {
    std::lock_guard<std::recursive_mutex> lock(tabsMutex_);
    return lastActiveInputs_.emplace(tabKey, inputs).second;
}

std::optional<JSActiveInputs> SessionStorage::lastActiveInputs(const std::string& tabKey) {
    std::lock_guard<std::recursive_mutex> lock(tabsMutex_);
    auto it = lastActiveInputs_.find(tabKey);
    if (it == lastActiveInputs_.end()) return std::nullopt;
    return it->second;
}

bool SessionStorage::pause(double seconds) {
    auto deadline = clock_->deadlineAfter(seconds);
    std::unique_lock<std::mutex> lock(loopMutex_);
    clock_->waitUntil(lock, loopCv_, deadline, [&] { return stopping_; });
    return !stopping_;
}

void SessionStorage::pingLoopStarted() {
    std::lock_guard<std::mutex> lock(loopMutex_);
    ++runningLoops_;
}

void SessionStorage::pingLoopEnded() {
    std::lock_guard<std::mutex> lock(loopMutex_);
    --runningLoops_;
    loopCv_.notify_all();
}

void SessionStorage::shutdown() {
    {
        std::unique_lock<std::mutex> lock(loopMutex_);
        stopping_ = true;
        loopCv_.notify_all();
        loopCv_.wait(lock, [&] { return runningLoops_ == 0; });
    }
    std::lock_guard<std::mutex> lock(timersMutex_);
    for (auto& [key, id] : timers_) clock_->cancel(id);
    timers_.clear();
}

}  // namespace lumvane
