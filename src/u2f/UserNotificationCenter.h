#pragma once
// The desktop's notification center as the presence prompt needs it: deliver a notice
// with two buttons, see whether it is still shown, remove it, and hear when it was
// shown or clicked. The Linux implementation (org.freedesktop.Notifications) comes
// with the user interface; tests use a fake.
#include <memory>
#include <string>
#include <vector>

namespace lumvane {

struct UserNotification {
    std::string identifier;
    std::string title;
    std::string informativeText;
    std::string actionButtonTitle;
    std::string otherButtonTitle;
};

class UserNotificationCenter;

class UserNotificationCenterDelegate {
  public:
    virtual ~UserNotificationCenterDelegate() = default;
    virtual void didDeliver(UserNotificationCenter& center,
                            const UserNotification& notification) = 0;
    // fromActionButton: the user pressed the action button, not the body or the other one.
    virtual void didActivate(UserNotificationCenter& center, const UserNotification& notification,
                             bool fromActionButton) = 0;
    virtual bool shouldPresent(UserNotificationCenter&, const UserNotification&) { return true; }
};

class UserNotificationCenter {
  public:
    virtual ~UserNotificationCenter() = default;
    virtual void deliver(const UserNotification& notification) = 0;
    // Whether the notice was actually shown to the user.
    virtual bool isPresented(const std::string& identifier) = 0;
    // The notices still shown.
    virtual std::vector<std::string> deliveredIdentifiers() = 0;
    virtual void removeDelivered(const std::string& identifier) = 0;
    // Held weakly.
    virtual std::weak_ptr<UserNotificationCenterDelegate> delegate() = 0;
    virtual void setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate) = 0;
};

}  // namespace lumvane
