#pragma once
// Keeps the running application reachable: the status icon where a tray shows it, else a
// small ordinary window with the status menu (TrayPresence decides, this carries it out).
// Qt says neither when a tray comes or goes nor what colour the panel has, so both are
// looked at once a second (not on a desktop whose tray Qt reaches over D-Bus, where
// neither can change for Qt while it runs); and later starts of the program reach this
// one through the instance channel and are shown the menu or the window.
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/InstanceChannel.h"
#include "app/desktop/TrayPresence.h"

class QPushButton;
class QSocketNotifier;
class QTimer;

namespace lumvane {

class TBNStatusItem;

// The window: what it is for, a button that opens the status menu under it, and Quit.
// Closing it only hides it.
class TrayFallbackWindow : public QWidget {
    Q_OBJECT
  public:
    TrayFallbackWindow();
    QPushButton* menuButton() const { return menuButton_; }
    // Shown and brought to the front.
    void present();

  signals:
    void menuRequested();
    void quitRequested();

  private:
    QPushButton* menuButton_ = nullptr;
    bool placed_ = false;
};

class TrayFallback : public QObject {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<void(const std::string& line)> say;
        std::function<void(const std::string& title, const std::string& text)> notify;
        // Sets the status icon again (its set follows the panel's colour).
        std::function<void()> refreshIcon;
        std::function<void()> quit;
    };

    // On the GUI thread, once the status item exists; `channel` may be nothing (then
    // later starts are not answered).
    TrayFallback(std::shared_ptr<TBNStatusItem> item, std::optional<InstanceChannel> channel,
                 Hooks hooks);
    ~TrayFallback() override;

    // Says how the application is reached and starts watching and answering.
    void start();

    TrayFallbackWindow& window() { return *window_; }
    const TrayPresence& presence() const { return presence_; }

  private:
    void check();

    std::shared_ptr<TBNStatusItem> item_;
    std::optional<InstanceChannel> channel_;
    Hooks hooks_;
    std::unique_ptr<TrayFallbackWindow> window_;
    TrayPresence presence_;
    QTimer* timer_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    std::optional<TrayGlyph> glyph_;
};

// Whether a StatusNotifierItem host (the D-Bus tray of KDE, of GNOME's AppIndicator
// extension...) is registered on the session bus.
bool statusNotifierHostRegistered();

}  // namespace lumvane
