#include "app/desktop/DesktopNoticeBackend.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>

#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr const char* kTags = "ui|app";
constexpr int kCallTimeoutMs = 3000;
}  // namespace

DesktopNoticeBackend::DesktopNoticeBackend(Fallback fallback) : fallback_(std::move(fallback)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(kService, kPath, kInterface, "ActionInvoked", this,
                    SLOT(onActionInvoked(uint, QString)));
        bus.connect(kService, kPath, kInterface, "NotificationClosed", this,
                    SLOT(onNotificationClosed(uint, uint)));
    }
}

DesktopNoticeBackend::~DesktopNoticeBackend() = default;

uint32_t DesktopNoticeBackend::notify(uint32_t replaces, const std::string& summary,
                                      const std::string& body, const QStringList& actions,
                                      int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    uint32_t id = 0;
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
        QVariantMap hints;
        hints.insert("desktop-entry", QString("io.lumvane.Lumvane"));
        call << QString(kAppName) << replaces << QString("dialog-password")
             << QString::fromStdString(summary) << QString::fromStdString(body) << actions << hints
             << timeoutMs;
        QDBusMessage answer = bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty()) {
            id = answer.arguments().first().toUInt();
        } else {
            TBN_LOG_WARN(kTags, "no notification server: {}", answer.errorMessage().toStdString());
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    serverAnswered_ = id != 0;
    return id;
}

uint32_t DesktopNoticeBackend::show(const DesktopNotice& notice, uint32_t replaces) {
    std::string body = notice.subtitle;
    if (!notice.body.empty()) body += "\n" + notice.body;
    QStringList actions;
    if (!notice.buttonTitle.empty()) {
        actions << kButtonAction << QString::fromStdString(notice.buttonTitle);
    }
    const bool balloonBefore = replaces >= 0x80000000u;
    const uint32_t id = notify(balloonBefore ? 0 : replaces, notice.title, body, actions, -1);
    if (id != 0) return id;
    if (fallback_) fallback_(notice.title, body);
    std::lock_guard<std::mutex> lock(mutex_);
    return ++fallbackIds_;
}

void DesktopNoticeBackend::close(uint32_t id) {
    if (id == 0 || id >= 0x80000000u) return;  // balloons go by themselves
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "CloseNotification");
    call << id;
    bus.call(call, QDBus::Block, kCallTimeoutMs);
}

void DesktopNoticeBackend::deliver(const UserNotification& notification) {
    QStringList actions;
    actions << kApproveAction << QString::fromStdString(notification.actionButtonTitle)
            << kRejectAction << QString::fromStdString(notification.otherButtonTitle);
    // The prompt stays until it is answered or the prompt itself gives up.
    const uint32_t id = notify(0, notification.title, notification.informativeText, actions, 0);
    if (id != 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        prompts_[id] = notification;
    }
    auto d = delegate().lock();
    if (d) d->didDeliver(*this, notification);
}

bool DesktopNoticeBackend::isPresented(const std::string& identifier) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, n] : prompts_) {
        if (n.identifier == identifier) return true;
    }
    return false;
}

std::vector<std::string> DesktopNoticeBackend::deliveredIdentifiers() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& [id, n] : prompts_) ids.push_back(n.identifier);
    return ids;
}

void DesktopNoticeBackend::removeDelivered(const std::string& identifier) {
    std::vector<uint32_t> ids;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = prompts_.begin(); it != prompts_.end();) {
            if (it->second.identifier == identifier) {
                ids.push_back(it->first);
                it = prompts_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (uint32_t id : ids) close(id);
}

std::weak_ptr<UserNotificationCenterDelegate> DesktopNoticeBackend::delegate() {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_;
}

void DesktopNoticeBackend::setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

bool DesktopNoticeBackend::serverAnswered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return serverAnswered_;
}

void DesktopNoticeBackend::onActionInvoked(uint id, const QString& action) {
    std::optional<UserNotification> prompt;
    std::shared_ptr<UserNotificationCenterDelegate> d;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = prompts_.find(id);
        if (it == prompts_.end()) return;  // one of the plain notices: nothing further
        prompt = it->second;
        d = delegate_.lock();
    }
    if (d) d->didActivate(*this, *prompt, action == kApproveAction);
}

void DesktopNoticeBackend::onNotificationClosed(uint id, uint reason) {
    (void)reason;
    std::lock_guard<std::mutex> lock(mutex_);
    prompts_.erase(id);  // the prompt's watch sees it gone and rejects
}

}  // namespace lumvane
