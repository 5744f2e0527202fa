#pragma once
// The application's icon in the panel (QSystemTrayIcon: StatusNotifierItem where a
// watcher exists, XEmbed otherwise), the status menu it opens and the popover pages it
// shows one at a time in a frameless tool window at the icon. What is on screen is
// decided by the GUI-free PopoverQueue; this class only carries it out.
//
// Pages: held by the item from showPopoverViewController() until the queue releases
// them. A page shown is reparented into the popover window and taken out again
// (setParent(nullptr)) before that window goes, so Qt never deletes a page.
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <map>
#include <memory>
#include <mutex>

#include "app/desktop/PopoverQueue.h"
#include "app/desktop/TrayPresence.h"
#include "ui/TBNPopoverViewController.h"

class QMenu;

namespace lumvane {

class TBNStatusItem;

class TBNStatusItemDelegate {
  public:
    virtual ~TBNStatusItemDelegate() = default;
    // A new menu for this opening (the item owns it until it closes); nullptr: none.
    virtual QMenu* menuToShowStatusItem(TBNStatusItem& item) = 0;
};

// The frameless window a page is shown in. It never closes by itself (no Escape, no
// closing on focus loss): only the status item closes it.
class TBNPopoverWindow : public QWidget, public TBNPopoverHost {
    Q_OBJECT
  public:
    explicit TBNPopoverWindow(QWidget* content);
    QSize contentSize() const override;
    void setContentSize(const QSize& size) override;
    // Puts the window above (or below) the anchor, inside the available screen area;
    // an empty anchor: the top-right corner of the screen's available area.
    void placeAt(const QRect& anchor);

  signals:
    void didShow();
    void didClose();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  public:
    bool forced = false;  // set before the item closes it

  private:
    // Under a top panel (or at the top of the screen) the top edge is the one next to
    // the icon; above a bottom panel the bottom edge is.
    bool hangsFromTop_ = false;
};

class TBNStatusItem : public QObject,
                      public PopoverQueueView,
                      public TBNPopoverPresenter,
                      public TBNPopoverViewControllerDelegate,
                      public std::enable_shared_from_this<TBNStatusItem> {
    Q_OBJECT
  public:
    // On the GUI thread, with the main loop the queue runs on.
    static std::shared_ptr<TBNStatusItem> create(const QIcon& image, const QIcon& activeImage,
                                                 std::shared_ptr<MainLoop> loop);
    ~TBNStatusItem() override;

    void setImage(const QIcon& image, const QIcon& activeImage = QIcon());
    void setDelegate(TBNStatusItemDelegate* delegate) { delegate_ = delegate; }
    QSystemTrayIcon& trayIcon() { return *tray_; }
    const std::shared_ptr<PopoverQueue>& queue() const { return queue_; }
    bool isShowingMenu() const { return queue_->isShowingMenu(); }
    bool isShowingPopover() const { return queue_->isShowingPopover(); }

    // The panel's colour as seen around the icon: only where the tray says where the icon
    // is (an XEmbed tray) and the screen can be read.
    std::optional<Rgb> panelColour() const;
    // The icon set that stands out on the panel (TrayPresence.h).
    TrayGlyph glyphForPanel() const;
    // Where the menu and the pages open while the tray does not say where the icon is
    // and this widget is shown (the window that stands in for a missing tray).
    void setFallbackAnchor(QWidget* widget) { fallbackAnchor_ = widget; }
    // Opens the menu at the icon unless the menu or a page is already there.
    void revealMenu();

    // TBNPopoverPresenter (any thread).
    void showPopoverViewController(std::shared_ptr<TBNPopoverViewController> page) override;
    void hideCurrentPopover() override;
    // TBNPopoverViewControllerDelegate.
    void popoverViewControllerWillClose(TBNPopoverViewController* page) override;

    // PopoverQueueView (main loop).
    bool showMenu() override;
    void hideMenu() override;
    void showPage(PopoverPageId page) override;
    void didShowPage(PopoverPageId page, double fadeSeconds) override;
    void hidePage(PopoverPageId page, double fadeSeconds, double closeAfter) override;
    void releasePage(PopoverPageId page) override;
    void setHighlighted(bool highlighted) override;

    explicit TBNStatusItem(std::shared_ptr<MainLoop> loop);

  private:
    void init(const QIcon& image, const QIcon& activeImage);
    std::shared_ptr<TBNPopoverViewController> pageById(PopoverPageId id) const;
    QRect anchor() const;

    std::shared_ptr<MainLoop> loop_;
    std::shared_ptr<PopoverQueue> queue_;
    TBNStatusItemDelegate* delegate_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QIcon image_;
    QIcon activeImage_;
    bool highlighted_ = false;
    QPointer<QMenu> currentMenu_;
    QPointer<TBNPopoverWindow> popover_;
    PopoverPageId popoverPage_ = 0;
    QPointer<QWidget> fallbackAnchor_;

    mutable std::mutex pagesMutex_;
    std::map<PopoverPageId, std::shared_ptr<TBNPopoverViewController>> pages_;
};

}  // namespace lumvane
