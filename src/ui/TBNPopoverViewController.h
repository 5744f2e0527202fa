#pragma once
// The base of every page shown in the status item's popover window.
//
// A page is made afresh for each opening (popoverAtName in UserInterface.h), given its
// inputs through its own setters and handed to a TBNPopoverPresenter (the status item).
// Ownership: the page is held by a std::shared_ptr whose deleter calls deleteLater().
// The status item reparents the page into its popover window while it is shown and takes
// it out again (setParent(nullptr)) before that window goes, so Qt never deletes a page.
//
// Everything here runs on the main (GUI) thread.
#include <QList>
#include <QPointer>
#include <QSize>
#include <QWidget>
#include <functional>
#include <memory>

namespace lumvane {

class TBNPopoverViewController;

// The status item: a page asks it to be closed.
class TBNPopoverViewControllerDelegate {
  public:
    virtual ~TBNPopoverViewControllerDelegate() = default;
    virtual void popoverViewControllerWillClose(TBNPopoverViewController* page) = 0;
};

// The popover window hosting a page.
class TBNPopoverHost {
  public:
    virtual ~TBNPopoverHost() = default;
    virtual QSize contentSize() const = 0;
    virtual void setContentSize(const QSize& size) = 0;
};

class TBNPopoverViewController : public QWidget {
    Q_OBJECT
  public:
    explicit TBNPopoverViewController(QWidget* parent = nullptr);
    ~TBNPopoverViewController() override;

    // The page's identifier ("TBNSaveAccountPopoverViewController", ...).
    virtual QString identifier() const = 0;
    // Priority pages wait in the status item's priority queue and are never displaced.
    virtual bool isPriorityViewController() const;

    // Set by the status item while the page is shown; cleared when its hiding starts.
    void setDelegate(TBNPopoverViewControllerDelegate* delegate);
    TBNPopoverViewControllerDelegate* delegate() const;
    // Stores the host and takes its current content size as the default.
    void setParentPopoverController(TBNPopoverHost* host);
    TBNPopoverHost* parentPopoverController() const;
    QSize defaultContentSize() const;
    void setDefaultContentSize(const QSize& size);

    // Asks the delegate (if any) to close this page, at once.
    void closePage();
    // After `seconds`, asks the delegate it has then (if any) to close this page.
    void closeAfter(double seconds);
    void reduceContentHeightOfValue(double value);
    void increaseContentHeightOfValue(double value);

    // Hooks of the status item: the page is on screen / its hiding starts.
    virtual void didShowViewControolerWithTimeAnimation(double seconds);
    virtual void willHideViewControolerWithTimeAnimation(double seconds);

    void fadeInViews(const QList<QWidget*>& views, double seconds,
                     std::function<void()> completion = {});
    void fadeOutViews(const QList<QWidget*>& views, double seconds,
                      std::function<void()> completion = {});

  private:
    TBNPopoverViewControllerDelegate* delegate_ = nullptr;
    TBNPopoverHost* host_ = nullptr;
    QSize defaultContentSize_;
};

// What a service or menu action uses to put a page on screen: the status item.
// Both operations may be called from any thread and return at once.
class TBNPopoverPresenter {
  public:
    virtual ~TBNPopoverPresenter() = default;
    virtual void showPopoverViewController(std::shared_ptr<TBNPopoverViewController> page) = 0;
    virtual void hideCurrentPopover() = 0;
};

}  // namespace lumvane
