// The status item's popover queue against a fake view, on a manual clock: the fake view
// records what it was asked and reports only when the test says so.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/desktop/PopoverQueue.h"
#include "runtime/Clock.h"
#include "runtime/MainLoop.h"

namespace lumvane {
namespace {

class FakeView : public PopoverQueueView {
  public:
    bool showMenu() override {
        calls.push_back("showMenu");
        return hasMenu;
    }
    void hideMenu() override { calls.push_back("hideMenu"); }
    void showPage(PopoverPageId page) override {
        calls.push_back("showPage " + std::to_string(page));
        shown.push_back(page);
    }
    void didShowPage(PopoverPageId page, double) override {
        calls.push_back("didShowPage " + std::to_string(page));
    }
    void hidePage(PopoverPageId page, double, double) override {
        calls.push_back("hidePage " + std::to_string(page));
    }
    void releasePage(PopoverPageId page) override { released.push_back(page); }
    void setHighlighted(bool on) override { highlighted = on; }

    bool hasMenu = true;
    bool highlighted = false;
    std::vector<std::string> calls;
    std::vector<PopoverPageId> shown;
    std::vector<PopoverPageId> released;
};

class PopoverQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock = std::make_shared<ManualClock>();
        loop = std::make_shared<HeadlessMainLoop>(clock);
        view = std::make_shared<FakeView>();
        queue = PopoverQueue::create(loop, view);
    }
    void TearDown() override {
        queue.reset();
        clock->cancelAll();
    }

    // Runs the main loop until nothing is queued.
    void settle() { loop->runPending(); }
    // Settles, moves time (running what becomes due) and settles again.
    void advance(double seconds) {
        settle();
        clock->advance(seconds);
        settle();
    }
    bool armed(const std::string& name) const {
        for (const auto& n : queue->armedWaits()) {
            if (n == name) return true;
        }
        return false;
    }
    // The view reports the page on screen and the queue's pause after it passes.
    void reportShown() {
        ASSERT_TRUE(armed(PopoverQueue::kDidOpenPopover));
        queue->popoverDidShow();
        settle();
        advance(PopoverQueue::Times{}.pageSettle);
    }
    void reportClosed() {
        ASSERT_TRUE(armed(PopoverQueue::kDidClosePopover));
        queue->popoverDidClose();
        settle();
    }
    PopoverPageId hand(bool priority) {
        const PopoverPageId id = queue->newPageId();
        queue->showPage(id, priority);
        settle();
        return id;
    }

    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<HeadlessMainLoop> loop;
    std::shared_ptr<FakeView> view;
    std::shared_ptr<PopoverQueue> queue;
};

TEST_F(PopoverQueueTest, ClickOpensTheMenuAfterItsDelayAndASecondClickClosesIt) {
    queue->click();
    settle();
    EXPECT_TRUE(view->calls.empty()) << "the menu pops up 50 ms after the click";
    advance(0.05);
    ASSERT_EQ(view->calls, std::vector<std::string>{"showMenu"});
    EXPECT_TRUE(armed(PopoverQueue::kDidOpenMenu));
    queue->menuDidOpen();
    settle();
    EXPECT_TRUE(queue->isShowingMenu());
    EXPECT_TRUE(view->highlighted);
    EXPECT_FALSE(queue->busy());

    queue->click();
    settle();
    EXPECT_EQ(view->calls.back(), "hideMenu");
    queue->menuDidClose();
    settle();
    EXPECT_FALSE(queue->isShowingMenu());
    EXPECT_FALSE(view->highlighted);
    EXPECT_FALSE(queue->busy());
}

// Qt reports aboutToShow from inside popup(): the wait is armed before the view is asked.
TEST_F(PopoverQueueTest, AReportThatComesInsideTheRequestIsNotLost) {
    struct EagerView : FakeView {
        std::weak_ptr<PopoverQueue> queue;
        bool showMenu() override {
            FakeView::showMenu();
            queue.lock()->menuDidOpen();
            return true;
        }
        void hideMenu() override {
            FakeView::hideMenu();
            queue.lock()->menuDidClose();
        }
        void showPage(PopoverPageId page) override {
            FakeView::showPage(page);
            queue.lock()->popoverDidShow();
        }
    };
    auto eager = std::make_shared<EagerView>();
    view = eager;
    queue = PopoverQueue::create(loop, view);
    eager->queue = queue;

    queue->click();
    advance(0.05);
    EXPECT_TRUE(queue->isShowingMenu());
    EXPECT_FALSE(queue->busy()) << "the opening was heard at once, no time-out needed";
    hand(false);
    EXPECT_FALSE(queue->isShowingMenu());
    EXPECT_TRUE(queue->isShowingPopover());
    EXPECT_EQ(view->shown.size(), 1u);
}

TEST_F(PopoverQueueTest, APageHandedInWhileTheMenuIsOpenClosesTheMenuFirst) {
    queue->click();
    advance(0.05);
    queue->menuDidOpen();
    settle();

    const auto page = hand(false);
    EXPECT_EQ(view->calls.back(), "hideMenu");
    EXPECT_TRUE(view->shown.empty()) << "shown only after the menu reported its closing";
    queue->menuDidClose();
    settle();
    ASSERT_EQ(view->shown, std::vector<PopoverPageId>{page});
    EXPECT_TRUE(queue->isShowingPopover());
    EXPECT_TRUE(view->highlighted);
}

TEST_F(PopoverQueueTest, NormalPagesGiveWayToEachNewPage) {
    const auto a = hand(false);
    reportShown();
    const auto b = hand(false);
    EXPECT_EQ(view->calls.back(), "hidePage " + std::to_string(a));
    reportClosed();
    EXPECT_EQ(view->shown.back(), b);
    reportShown();
    const auto c = hand(false);
    reportClosed();
    EXPECT_EQ(view->shown, (std::vector<PopoverPageId>{a, b, c}));
    EXPECT_EQ(view->released, (std::vector<PopoverPageId>{a, b}));
}

TEST_F(PopoverQueueTest, PriorityPagesComeFirstAndAreNeverDisplaced) {
    const auto p = hand(true);
    reportShown();
    const auto n1 = hand(false);
    const auto q = hand(true);
    const auto n2 = hand(false);
    EXPECT_EQ(view->shown, std::vector<PopoverPageId>{p}) << "a priority page stays";
    EXPECT_EQ(queue->waitingPages(), 3u);

    // P closes itself: Q (priority) before N1 and N2, which keep their order.
    queue->pageWillClose(p);
    settle();
    reportClosed();
    EXPECT_EQ(view->shown.back(), q);
    reportShown();
    queue->pageWillClose(q);
    settle();
    reportClosed();
    EXPECT_EQ(view->shown.back(), n1);
    reportShown();
    queue->pageWillClose(n1);
    settle();
    reportClosed();
    EXPECT_EQ(view->shown.back(), n2);
    reportShown();
    queue->pageWillClose(n2);
    settle();
    reportClosed();
    EXPECT_FALSE(queue->isShowingPopover());
    EXPECT_FALSE(view->highlighted);
    EXPECT_EQ(view->shown, (std::vector<PopoverPageId>{p, q, n1, n2}));
}

TEST_F(PopoverQueueTest, AClickOnTheIconClosesThePageAndShowsTheNextInsteadOfTheMenu) {
    const auto p = hand(true);
    reportShown();
    const auto n = hand(false);
    queue->click();
    settle();
    EXPECT_EQ(view->calls.back(), "hidePage " + std::to_string(p));
    reportClosed();
    EXPECT_EQ(view->shown.back(), n);
    reportShown();
    queue->click();
    settle();
    reportClosed();
    EXPECT_FALSE(queue->isShowingPopover());
    advance(1.0);
    for (const auto& call : view->calls) EXPECT_NE(call, "showMenu");
}

TEST_F(PopoverQueueTest, AWaitingPageThatAsksToCloseIsNeverShown) {
    const auto p = hand(true);
    reportShown();
    const auto waiting = hand(false);
    queue->pageWillClose(waiting);
    settle();
    EXPECT_EQ(queue->waitingPages(), 0u);
    EXPECT_EQ(view->released, std::vector<PopoverPageId>{waiting});
    queue->pageWillClose(p);
    settle();
    reportClosed();
    EXPECT_FALSE(queue->isShowingPopover());
    EXPECT_EQ(view->shown, std::vector<PopoverPageId>{p});
}

TEST_F(PopoverQueueTest, HideCurrentPageWithNothingShownDoesNothing) {
    queue->hideCurrentPage();
    settle();
    EXPECT_TRUE(view->calls.empty());
    EXPECT_FALSE(queue->busy());
}

TEST_F(PopoverQueueTest, APageShownKeepsTheQueueForItsPauseOnly) {
    const auto a = hand(false);
    queue->popoverDidShow();
    settle();
    EXPECT_EQ(view->calls.back(), "didShowPage " + std::to_string(a));
    const auto b = hand(false);
    EXPECT_EQ(view->calls.back(), "didShowPage " + std::to_string(a)) << "still in the pause";
    advance(0.45);
    EXPECT_EQ(view->calls.back(), "hidePage " + std::to_string(a));
    reportClosed();
    EXPECT_EQ(view->shown.back(), b);
}

// A view that never reports cannot hold the queue past the time-outs: the page that never
// showed is dropped and the next one gets its turn; so is a menu that never closes.
TEST_F(PopoverQueueTest, SilentViewsDoNotBlockTheQueuePastTheTimeOuts) {
    const double timeout = PopoverQueue::Times{}.waitTimeout;
    const auto a = hand(false);
    const auto b = hand(false);  // waits behind the operation that shows A
    EXPECT_EQ(view->shown, std::vector<PopoverPageId>{a});
    advance(timeout - 0.1);
    EXPECT_EQ(view->shown, std::vector<PopoverPageId>{a}) << "not before the time-out";
    advance(0.1);  // A never showed: it is closed
    EXPECT_EQ(view->calls.back(), "hidePage " + std::to_string(a));
    advance(timeout);  // and never reported closed either: dropped
    EXPECT_EQ(view->released.front(), a);
    ASSERT_EQ(view->shown.size(), 2u);
    EXPECT_EQ(view->shown.back(), b);
    reportShown();
    queue->click();
    settle();
    reportClosed();
    EXPECT_FALSE(queue->isShowingPopover());
    EXPECT_FALSE(queue->busy());

    // A menu that opens but never reports closing.
    queue->click();
    advance(0.05);
    queue->menuDidOpen();
    settle();
    queue->click();
    settle();
    advance(timeout);
    EXPECT_FALSE(queue->isShowingMenu());
    EXPECT_FALSE(view->highlighted);
    queue->click();
    advance(0.05);
    EXPECT_EQ(view->calls.back(), "showMenu") << "the next click opens a fresh menu";
}

TEST_F(PopoverQueueTest, NoMenuToShowLeavesTheQueueFree) {
    view->hasMenu = false;
    queue->click();
    advance(0.05);
    EXPECT_FALSE(queue->isShowingMenu());
    EXPECT_FALSE(queue->busy());
    EXPECT_TRUE(queue->armedWaits().empty());
}

// A late report after a time-out finds no wait and changes nothing for the next page.
TEST_F(PopoverQueueTest, ALateReportAfterATimeOutIsDropped) {
    const double timeout = PopoverQueue::Times{}.waitTimeout;
    hand(false);
    advance(timeout);         // never shown: closing
    advance(timeout);         // never closed: dropped
    queue->popoverDidShow();  // far too late
    queue->popoverDidClose();
    settle();
    const auto b = hand(false);
    EXPECT_EQ(view->shown.back(), b);
    EXPECT_TRUE(armed(PopoverQueue::kDidOpenPopover)) << "B still waits for its own report";
}

}  // namespace
}  // namespace lumvane
