#pragma once
// The one process-wide state of the extension: per-window service state for the toolbar
// icon, per-tab page state, pending save timers, the page-session counter, the last
// context and active-input report of each tab, and the shared collaborators (client of
// the main application, settings, popover controller).
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Browser.h"
#include "Communication.h"
#include "Config.h"
#include "JSRecords.h"
#include "runtime/Clock.h"

namespace lumvane {

class DispatchQueue;
class SafariExtensionViewController;
class Parsers;

enum class LumvaneServiceState {
    unknown,
    unauthorized,
    running,
    paused,
    offline,
    deviceNotPaired,
    deviceOfflined
};
const char* serviceStateName(LumvaneServiceState state);

struct WindowState {
    double lastPingTime = 0;
    LumvaneServiceState serviceState = LumvaneServiceState::unknown;
};

struct TabState {
    std::optional<std::string> url;
    std::optional<std::string> prevUrl;
    std::optional<std::string> referrer;
    std::optional<JSDictionary> lastEvent;
    std::optional<JSDictionary> prevLastEvent;
    std::optional<std::string> unloadSessionId;
    std::optional<std::string> transitionPredict;
    double loginButtonClickTimestamp = 0;
    int64_t loginClickStep = 0;
};

struct SessionEnvironment {
    std::shared_ptr<SafariApplication> application;
    // Time of the window and login-click stamps, the save timers and the ping pauses.
    std::shared_ptr<Clock> clock;
    ConfigEnvironment config = ConfigEnvironment::system();
    CommunicationEnvironment communication = CommunicationEnvironment::system();
    // Where the popover touches its web view; null gives a serial queue of its own.
    std::shared_ptr<DispatchQueue> mainQueue;
    // The parser database; null gives Parsers::shared().
    std::function<const Parsers&()> parsers;
};

class SessionStorage {
  public:
    static constexpr double kStaleAfterSeconds = 12.0;

    // The process-wide instance, made on first use from the environment given to
    // configureShared() (which must come first to have any effect).
    static SessionStorage& shared();
    static bool configureShared(SessionEnvironment environment);

    explicit SessionStorage(SessionEnvironment environment);
    ~SessionStorage();
    SessionStorage(const SessionStorage&) = delete;
    SessionStorage& operator=(const SessionStorage&) = delete;

    // Window operations, serialised on the window lock.
    LumvaneServiceState serviceState(const SafariWindow& window);
    void setServiceState(const SafariWindow& window, LumvaneServiceState state);
    bool hasWindow(const SafariWindow& window);
    bool isWindowStale(const SafariWindow& window);
    void touchWindow(const SafariWindow& window);
    std::optional<WindowState> removeWindow(const SafariWindow& window);

    // Pending login saves, one per tab-state key. A second schedule for a key that
    // already holds a timer (fired or not) is dropped; cancel removes it. The action runs
    // on the message queue.
    void scheduleSave(const JSContext& context, double delaySeconds, std::function<void()> action);
    void cancelScheduledSave(const JSContext& context);
    bool hasScheduledSave(const std::string& key);

    // The next page session number (1, 2, ...).
    int64_t nextSessionId();

    // Tab states. Fields are read and changed under lockTabs().
    std::unique_lock<std::recursive_mutex> lockTabs() {
        return std::unique_lock<std::recursive_mutex>(tabsMutex_);
    }
    // Under lockTabs(): the state of a key, or null.
    std::shared_ptr<TabState> tabState(const std::string& key);
    // Stores a new state under the key unless one exists.
    void ensureTabState(const std::string& key);

    void setLastTabContext(const std::string& tabKey, const JSContext& context);
    std::optional<JSContext> lastTabContext(const std::string& tabKey);
    void removeLastActiveInputs(const std::string& tabKey);
    // Stores the report unless one is there already; true when it was stored.
    bool storeLastActiveInputsIfAbsent(const std::string& tabKey, const JSActiveInputs& inputs);
    std::optional<JSActiveInputs> lastActiveInputs(const std::string& tabKey);

    Communication& communication() { return *communication_; }
    Config& config() { return *config_; }
    SafariExtensionViewController& popupViewController() { return *popupViewController_; }
    const Parsers& parsers() const;
    const std::shared_ptr<SafariApplication>& application() const { return env_.application; }
    const std::shared_ptr<Clock>& clock() const { return clock_; }
    // The serial queue on which every page message is handled.
    const std::shared_ptr<DispatchQueue>& messageQueue() const { return messageQueue_; }
    const std::shared_ptr<DispatchQueue>& mainQueue() const { return mainQueue_; }

    // Clock time in seconds.
    double now() const;

    // Ping loops: sleep on the clock; false when the session is shutting down.
    bool pause(double seconds);
    void pingLoopStarted();
    void pingLoopEnded();
    // Ends every ping loop and waits for them; drops pending save timers.
    void shutdown();

    // The tab-state key of a context: its tab id, "empty" without one.
    static std::string tabStateKey(const JSContext& context);

  private:
    SessionEnvironment env_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<DispatchQueue> messageQueue_;
    std::shared_ptr<DispatchQueue> mainQueue_;

    std::mutex windowsMutex_;
    std::map<int64_t, WindowState> windowsState_;

    std::mutex timersMutex_;
    std::map<std::string, Clock::CallId> timers_;

    std::unique_ptr<Communication> communication_;
    std::unique_ptr<Config> config_;
    std::unique_ptr<SafariExtensionViewController> popupViewController_;

    std::recursive_mutex tabsMutex_;
    int64_t sessionId_ = 0;
    std::map<std::string, std::shared_ptr<TabState>> tabsState_;
    std::map<std::string, JSContext> lastTabContext_;
    std::map<std::string, JSActiveInputs> lastActiveInputs_;

    std::mutex loopMutex_;
    std::condition_variable loopCv_;
    bool stopping_ = false;
    int runningLoops_ = 0;
};

}  // namespace lumvane
