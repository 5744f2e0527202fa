#include "app/desktop/TrayFallback.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include "app/desktop/TBNStatusItem.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {
constexpr const char* kTags = "ui|app";
constexpr int kCheckIntervalMs = 1000;
}  // namespace

// ---- The window ------------------------------------------------------------------------

TrayFallbackWindow::TrayFallbackWindow() : QWidget(nullptr, Qt::Window) {
    setObjectName("TrayFallbackWindow");
    setWindowTitle(QString::fromStdString(TrayPresence::windowTitle()));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(12);

    auto* heading = new QLabel(QString::fromStdString(TrayPresence::windowHeading()), this);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    heading->setFont(font);
    layout->addWidget(heading);

    auto* text = new QLabel(QString::fromStdString(TrayPresence::windowText()), this);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(text);

    auto* buttons = new QHBoxLayout();
    menuButton_ = new QPushButton(QString::fromStdString(TrayPresence::windowMenuButton()), this);
    menuButton_->setDefault(true);
    auto* quit = new QPushButton(QString::fromStdString(TrayPresence::windowQuitButton()), this);
    buttons->addWidget(menuButton_);
    buttons->addStretch(1);
    buttons->addWidget(quit);
    layout->addLayout(buttons);
    connect(menuButton_, &QPushButton::clicked, this, &TrayFallbackWindow::menuRequested);
    connect(quit, &QPushButton::clicked, this, &TrayFallbackWindow::quitRequested);

    // Wide enough for the text to read as a paragraph, tall enough for all of it.
    setFixedWidth(440);
    setFixedHeight(heightForWidth(440) > 0 ? heightForWidth(440) : sizeHint().height());
}

void TrayFallbackWindow::present() {
    if (!placed_) {
        // Where a window manager places nothing, the middle of the screen beats its corner.
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
        placed_ = true;
    }
    show();
    raise();
    activateWindow();
}

// ---- Watching the tray and answering later starts ---------------------------------------

TrayFallback::TrayFallback(std::shared_ptr<TBNStatusItem> item,
                           std::optional<InstanceChannel> channel, Hooks hooks)
    : item_(std::move(item)),
      channel_(std::move(channel)),
      hooks_(std::move(hooks)),
      window_(std::make_unique<TrayFallbackWindow>()),
      presence_(TrayPresence::View{
          [this](const std::string& line) { hooks_.say(line); },
          [this](const std::string& title, const std::string& text) { hooks_.notify(title, text); },
          [this] { window_->present(); },
          [this] { window_->hide(); },
          [this] { item_->revealMenu(); },
      }) {
    connect(window_.get(), &TrayFallbackWindow::menuRequested, this, [this] {
        TBN_LOG_DEBUG(kTags, "menu from the window");
        item_->queue()->click();
    });
    connect(window_.get(), &TrayFallbackWindow::quitRequested, this, [this] { hooks_.quit(); });
    // The menu and the pages open at the window's button while there is no icon.
    item_->setFallbackAnchor(window_->menuButton());
}

TrayFallback::~TrayFallback() {
    if (item_) item_->setFallbackAnchor(nullptr);
}

void TrayFallback::start() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    const bool overDBus = available && statusNotifierHostRegistered();
    TBN_LOG_INFO(kTags, "system tray: {}", !available ? "none" : overDBus ? "D-Bus" : "XEmbed");
    presence_.trayAvailable(available);
    if (!overDBus) {
        // Qt reaches an XEmbed tray (or none) on the X server: a tray that comes later
        // shows the icon at once, and the panel behind it can be seen.
        timer_ = new QTimer(this);
        timer_->setInterval(kCheckIntervalMs);
        connect(timer_, &QTimer::timeout, this, &TrayFallback::check);
        timer_->start();
        check();
    }
    if (channel_) {
        notifier_ = new QSocketNotifier(channel_->fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            channel_->serveWaiting([this](const std::string& request) -> std::string {
                TBN_LOG_INFO(kTags, "a later start asks: {}", request);
                if (request == InstanceChannel::kShowRequest) return presence_.reveal();
                return "unknown request";
            });
        });
    }
}

void TrayFallback::check() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    presence_.trayAvailable(available);
    if (!available) return;
    const TrayGlyph glyph = item_->glyphForPanel();
    if (glyph_ != glyph) {
        glyph_ = glyph;
        hooks_.refreshIcon();
    }
}

bool statusNotifierHostRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QString watcher = "org.kde.StatusNotifierWatcher";
    auto* names = bus.interface();
    if (!names || !names->isServiceRegistered(watcher).value()) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, "/StatusNotifierWatcher",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << watcher << QString("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

}  // namespace lumvane
