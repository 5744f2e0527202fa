#pragma once
// Notices through the desktop's notification server (org.freedesktop.Notifications on the
// session bus): the application's notices with their button as an action, replacing one
// another in place, and the security-key presence prompt with "Approve" and "Reject".
// When no server answers, the notices go to the tray icon's balloon instead.
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "app/desktop/Notices.h"
#include "u2f/UserNotificationCenter.h"

namespace lumvane {

class DesktopNoticeBackend : public QObject, public NoticeBackend, public UserNotificationCenter {
    Q_OBJECT
  public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kInterface = "org.freedesktop.Notifications";
    static constexpr const char* kAppName = "Lumvane";
    // Action keys of the notices: the button, and the notice's body.
    static constexpr const char* kButtonAction = "button";
    static constexpr const char* kApproveAction = "approve";
    static constexpr const char* kRejectAction = "reject";

    // Shows a notice where no server answers (the tray balloon): title and text.
    using Fallback = std::function<void(const std::string& title, const std::string& text)>;

    // On the GUI thread.
    explicit DesktopNoticeBackend(Fallback fallback);
    ~DesktopNoticeBackend() override;

    // NoticeBackend (any thread).
    uint32_t show(const DesktopNotice& notice, uint32_t replaces) override;
    void close(uint32_t id) override;

    // UserNotificationCenter (any thread).
    void deliver(const UserNotification& notification) override;
    bool isPresented(const std::string& identifier) override;
    std::vector<std::string> deliveredIdentifiers() override;
    void removeDelivered(const std::string& identifier) override;
    std::weak_ptr<UserNotificationCenterDelegate> delegate() override;
    void setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate) override;

    // Whether the last call reached a notification server.
    bool serverAnswered() const;

  private slots:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

  private:
    // Notify on the bus; 0 when it failed.
    uint32_t notify(uint32_t replaces, const std::string& summary, const std::string& body,
                    const QStringList& actions, int timeoutMs);

    Fallback fallback_;
    mutable std::mutex mutex_;
    bool serverAnswered_ = false;
    std::weak_ptr<UserNotificationCenterDelegate> delegate_;
    std::map<uint32_t, UserNotification> prompts_;  // bus id -> presence prompt shown
    uint32_t fallbackIds_ = 0x80000000u;            // ids of balloon notices
};

}  // namespace lumvane
