#pragma once
// In-process notifications by name: post() calls the matching observers synchronously
// on the posting thread. Observers may be added and removed from any thread, also from
// inside a delivery; once removeObserver() has returned, the observer's callback is not
// running on another thread and will not be called again.
#include <any>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lumvane {

// Posted by the application when the log level is set, with the poster as object.
inline constexpr const char* kLoggingDisabledNotification = "io.lumvane.loggingDisabled";
inline constexpr const char* kLoggingInfoLevelNotification = "io.lumvane.loggingInfoLevel";
inline constexpr const char* kLoggingDebugLevelNotification = "io.lumvane.loggingDebugLevel";
inline constexpr const char* kLoggingVerboseLevelNotification = "io.lumvane.loggingVerboseLevel";

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender's identity (may be null)
    std::any userInfo;
};

class NotificationCenter {
  public:
    using ObserverId = uint64_t;
    using Callback = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Observes `name` (empty: every name) from `sender` (null: any sender).
    ObserverId addObserver(std::string name, Callback callback, const void* sender = nullptr);
    // Unknown ids are ignored. Called from inside the observer's own callback it returns
    // at once (the running call completes).
    void removeObserver(ObserverId id);
    void postNotification(const std::string& name, const void* object = nullptr,
                          std::any userInfo = {});

  private:
    struct Entry;
    std::mutex mutex_;
    std::condition_variable idle_;
    ObserverId lastId_ = 0;
    std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace lumvane
