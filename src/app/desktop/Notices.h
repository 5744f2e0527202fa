#pragma once
// The notices of the application: each event becomes three localised texts (title,
// message, button) that the system notification service shows, one notice at a time,
// with the message split over two lines at 45 UTF-16 units and removed after 10 s.
//
// No Qt here: the desktop's notification server is reached through NoticeBackend (the
// org.freedesktop.Notifications client in DesktopNoticeBackend.h, or the tray balloon),
// and the removal timer runs on the main loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/service/TBNNotifications.h"
#include "runtime/MainLoop.h"

namespace lumvane {

// One notice as the desktop shows it.
struct DesktopNotice {
    std::string title;
    std::string subtitle;     // first part of the message
    std::string body;         // the rest of the message
    std::string buttonTitle;  // empty: no action button
};

class NoticeBackend {
  public:
    virtual ~NoticeBackend() = default;
    // Shows the notice, replacing the one with `replaces` (0: none); the id of the notice
    // shown, 0 when nothing could show it.
    virtual uint32_t show(const DesktopNotice& notice, uint32_t replaces) = 0;
    virtual void close(uint32_t id) = 0;
};

// The message split over subtitle and body: words that fit in 45 UTF-16 units go first.
std::pair<std::string, std::string> splitNoticeMessage(const std::string& text);

// What TBNNotifications hands its three texts to.
class TBNNotificationServiceProtocol {
  public:
    virtual ~TBNNotificationServiceProtocol() = default;
    virtual void showNotification(const std::string& message,
                                  const std::optional<std::string>& title,
                                  const std::optional<std::string>& buttonTitle) = 0;
    void showNotification(const std::string& message) {
        showNotification(message, std::nullopt, std::nullopt);
    }
    void showNotification(const std::string& message, const std::string& title) {
        showNotification(message, title, std::nullopt);
    }
};

// One notice at a time: a new one replaces the last; each goes 10 s after it came.
// Any thread; the backend is called under the service's lock, so notices never cross.
class TBNSystemNotifictionService
    : public TBNNotificationServiceProtocol,
      public std::enable_shared_from_this<TBNSystemNotifictionService> {
  public:
    static constexpr double kRemoveAfterSeconds = 10.0;

    TBNSystemNotifictionService(std::shared_ptr<NoticeBackend> backend,
                                std::shared_ptr<MainLoop> loop);

    void showNotification(const std::string& message, const std::optional<std::string>& title,
                          const std::optional<std::string>& buttonTitle) override;
    using TBNNotificationServiceProtocol::showNotification;
    // The 10 s expiry.
    void timerRunner(uint64_t generation);

    std::optional<uint32_t> shownNotice() const;

  private:
    const std::shared_ptr<NoticeBackend> backend_;
    const std::shared_ptr<MainLoop> loop_;
    mutable std::mutex mutex_;
    uint32_t shown_ = 0;
    MainLoop::TaskId timer_ = 0;
    uint64_t generation_ = 0;
};

// The start-up texts (what is off around the program and what to do about it), each shown
// once, one after another: the next comes when the one before had its time, so none
// replaces another unseen. Texts may come from any thread; they are shown on the loop.
class StartupNoticeQueue : public std::enable_shared_from_this<StartupNoticeQueue> {
  public:
    StartupNoticeQueue(std::weak_ptr<TBNNotificationServiceProtocol> service,
                       std::shared_ptr<MainLoop> loop);
    void add(const std::string& text);

  private:
    void showNext();

    const std::weak_ptr<TBNNotificationServiceProtocol> service_;
    const std::shared_ptr<MainLoop> loop_;
    std::mutex mutex_;
    std::vector<std::string> waiting_;
    bool showing_ = false;  // a text is on screen and its time has not run out
};

// Texts by localisation key: the application's table, else the English built in here,
// else the key itself.
std::string desktopText(const std::string& key);
// "%@" placeholders filled in order.
std::string formatObjects(const std::string& format, const std::vector<std::string>& arguments);

// Every notice of the application (the service's and the status menu's).
class DesktopNotifications : public TBNNotifications {
  public:
    explicit DesktopNotifications(std::weak_ptr<TBNNotificationServiceProtocol> service);

    std::shared_ptr<TBNNotificationServiceProtocol> notificationService() const;

    // The service's notices.
    void notifyOfBluetoothOff() override;
    void notifyOfSearchPairedPhone() override;
    void notifyOfWaitingDevice() override;
    void notifyOfPiringLost() override;
    void notifyOfClientNotAuthorized() override;
    void notifyOfPiringSuccess() override;
    void notifyOfPiringFailWithError(const std::string& description) override;
    void notifyOfCopyPasswordFromPhoneToMacClipboardForLogin(const std::string& login) override;
    void notifyOfCopyAccountIdFromPhoneToMacClipboardForLogin(const std::string& login) override;
    void notifyOfCopyCommentFromPhoneToMacClipboardForLogin(const std::string& login) override;
    void notifyOfCopyTwoFactorCodeFromPhoneToMacClipboardForLogin(
        const std::string& login) override;
    void notifyOfCopyLoginFromPhoneToMacClipboard(const std::string& login) override;
    void notifyOfSaveAccountForLogin(const std::string& login,
                                     const std::string& siteName) override;
    void notifyOfAccessDenyForSiteName(const std::string& siteName) override;
    void notifyOfAccessTimeoutForSiteName(const std::string& siteName) override;

    // The status menu's notices.
    void notifyOfCannotFindPairedPhone();
    void notifyOfCannotFindLumvaneOnPhone();
    void notifyOfDatabaseIsLocked();
    void notifyOfCopyPasswordToMacClipboard();
    void notifyOfCopyPasswordToPhoneClipboard();
    void notifyOfCopyPasswordToMacAndPhoneClipboards();
    // An install line of the menu (or SIGUSR1) opened the extensions' registration
    // window: for how long, and whether the browser (empty: none) took the install page.
    void notifyOfExtensionRegistrationOpen(const std::string& browser, bool browserStarted);

  private:
    void notify(const char* titleKey, const char* messageKey, const char* buttonKey,
                const std::vector<std::string>& arguments = {});

    std::weak_ptr<TBNNotificationServiceProtocol> service_;
};

}  // namespace lumvane
