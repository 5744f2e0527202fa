#pragma once
// What the status item shows, one change at a time: the status menu and the popover pages,
// with a priority queue and a normal queue for pages that arrive while another page is
// on screen. No Qt here: the status item is the view, and tests drive a fake view on a
// HeadlessMainLoop with a ManualClock.
//
// Every change (menu opened or closed, page shown or closed, next page taken) is one
// operation of a serial queue run on the main loop. An operation asks the view for
// something and then waits under a name until the view reports it done:
//
//   "did_open_menu"     the menu reported its opening     (menuDidOpen)
//   "did_close_menu"    the menu reported its closing     (menuDidClose)
//   "did_open_popover"  the page's window is on screen    (popoverDidShow)
//   "did_close_popover" the page's window has gone        (popoverDidClose)
//
// A wait is armed before the view is asked, so a report that comes at once (Qt emits
// aboutToShow inside popup()) is never lost. Each wait has a time-out after which the
// queue takes the change as failed and puts its state right (a menu that never opened is
// not open; a page that never showed or never closed is dropped), so no view can block
// the queue for good.
//
// Pages are known to the queue by a number and their priority; the view keeps the pages
// themselves.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/MainLoop.h"

namespace lumvane {

using PopoverPageId = uint64_t;

// The view side, called on the main loop.
class PopoverQueueView {
  public:
    virtual ~PopoverQueueView() = default;
    // Builds the menu from the current state and pops it up; reports menuDidOpen().
    // False when there is no menu to show (nothing is reported then).
    virtual bool showMenu() = 0;
    // Closes the open menu; reports menuDidClose().
    virtual void hideMenu() = 0;
    // Puts the page in a new popover window at the icon; reports popoverDidShow().
    virtual void showPage(PopoverPageId page) = 0;
    // The page is on screen: its fade-in.
    virtual void didShowPage(PopoverPageId page, double fadeSeconds) = 0;
    // The page's fade-out begins; its window is to be closed `closeAfter` seconds later,
    // which reports popoverDidClose().
    virtual void hidePage(PopoverPageId page, double fadeSeconds, double closeAfter) = 0;
    // The page has left the queue for good (closed or dropped unseen): release it.
    virtual void releasePage(PopoverPageId page) = 0;
    // Icon highlight while the menu is open or a page is shown.
    virtual void setHighlighted(bool highlighted) = 0;
};

class PopoverQueue : public std::enable_shared_from_this<PopoverQueue> {
  public:
    static constexpr const char* kDidOpenMenu = "did_open_menu";
    static constexpr const char* kDidCloseMenu = "did_close_menu";
    static constexpr const char* kDidOpenPopover = "did_open_popover";
    static constexpr const char* kDidClosePopover = "did_close_popover";

    struct Times {
        double menuDelay = 0.05;    // menu pop-up after a click
        double fade = 0.3;          // page fade-in and fade-out
        double forcedClose = 0.45;  // window closed after the fade-out begins
        double pageSettle = 0.45;   // pause of the queue after a page was shown
        double waitTimeout = 10.0;  // longest wait for the view's report
    };

    static std::shared_ptr<PopoverQueue> create(std::shared_ptr<MainLoop> loop,
                                                std::weak_ptr<PopoverQueueView> view, Times times);
    static std::shared_ptr<PopoverQueue> create(std::shared_ptr<MainLoop> loop,
                                                std::weak_ptr<PopoverQueueView> view) {
        return create(std::move(loop), std::move(view), Times{});
    }

    // ---- Any thread; each only queues an operation and returns ----
    // A new page id for a page about to be handed in.
    PopoverPageId newPageId();
    void showPage(PopoverPageId page, bool priority);
    // Closes the page on screen and shows the next one; nothing when none is shown.
    void hideCurrentPage();
    // A page asks to be closed: the one on screen closes; a waiting one leaves its queue.
    void pageWillClose(PopoverPageId page);
    // A click on the icon: closes the page on screen (next page follows), else closes the
    // open menu, else opens the menu.
    void click();

    // ---- Reports of the view (main loop) ----
    void menuDidOpen();
    void menuDidClose();
    void popoverDidShow();
    void popoverDidClose();

    // ---- State (any thread) ----
    bool isShowingMenu() const { return showingMenu_.load(); }
    bool isShowingPopover() const { return showingPopover_.load(); }
    std::optional<PopoverPageId> currentPage() const;
    size_t waitingPages() const;
    // True while an operation runs or waits to run.
    bool busy() const;
    // The names of the waits armed right now.
    std::vector<std::string> armedWaits() const;

    PopoverQueue(std::shared_ptr<MainLoop> loop, std::weak_ptr<PopoverQueueView> view, Times times);

  private:
    using Step = std::function<void()>;
    using Operation = std::function<void(Step done)>;
    struct Waiting {
        PopoverPageId id;
        bool priority;
    };
    struct Wait {
        MainLoop::TaskId timer = 0;
        std::function<void(bool released)> then;
    };

    // Main-loop side.
    void enqueue(Operation operation);
    void runNext();
    void finishOperation();
    void arm(const std::string& name, std::function<void(bool released)> then);
    void release(const std::string& name);
    void timedOut(const std::string& name);
    void sleepThen(double seconds, Step then);

    void opShowMenu(Step done);
    void opHideMenu(Step done);
    void opShowPopover(Waiting page, Step done);
    void opHidePopover(Step done);
    void opHideCurrentAndNext(Step done);
    std::optional<Waiting> nextWaiting();
    void updateHighlight();
    std::shared_ptr<PopoverQueueView> view() const { return view_.lock(); }

    const std::shared_ptr<MainLoop> loop_;
    const std::weak_ptr<PopoverQueueView> view_;
    const Times times_;

    std::atomic<bool> showingMenu_{false};
    std::atomic<bool> showingPopover_{false};
    std::atomic<PopoverPageId> nextId_{1};

    // Guards everything below (written on the main loop, read by the accessors).
    mutable std::mutex mutex_;
    std::deque<Operation> operations_;
    bool running_ = false;
    std::optional<Waiting> current_;
    std::deque<Waiting> priorityQueue_;
    std::deque<Waiting> normalQueue_;
    std::map<std::string, Wait> waits_;
};

}  // namespace lumvane
