// The container's steps: buttons, vetoes, asynchronous next, back to a fresh page, the
// end through Cancel, Finish or the window's close button, each reported once.
#include <gtest/gtest.h>

#include "WizardTestSupport.h"

namespace lumvane::wizardtest {
namespace {

// A page whose every answer the test sets.
class ScriptedPage : public WizardPage {
  public:
    ScriptedPage(std::string id, std::shared_ptr<WizardContext> context)
        : WizardPage(std::move(id), std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return cancelTitle; }
    std::optional<std::string> backButtonTitle() const override { return backTitle; }
    std::optional<std::string> nextButtonTitle() const override { return nextTitle; }
    bool canEnableNextButton() const override { return nextEnabled; }
    bool willCancelClick(WizardSender) override { return allowCancel; }
    bool willBackClick(WizardSender) override { return allowBack; }
    bool willNextClick(WizardSender) override { return allowNext; }
    void willNextClick(WizardSender, Completion complete) override {
        if (holdNext) {
            pending = std::move(complete);
            return;
        }
        complete(true);
    }
    bool nextIsFinish(WizardSender) override { return finishes; }
    void didCancelClick(WizardSender) override { log.push_back("didCancel"); }
    void didBackClick(WizardSender) override { log.push_back("didBack"); }
    void didNextClick(WizardSender) override { log.push_back("didNext"); }
    void willAppear() override { ++appeared; }
    void willDisappear() override { ++disappeared; }
    std::shared_ptr<WizardPage> nextPage() override { return makeNext ? makeNext() : nullptr; }
    std::shared_ptr<WizardPage> previousPage() override {
        return makePrevious ? makePrevious() : nullptr;
    }

    std::optional<std::string> cancelTitle = "BUTTON_CANCEL";
    std::optional<std::string> backTitle;
    std::optional<std::string> nextTitle = "BUTTON_CONTINUE";
    bool nextEnabled = true;
    bool allowCancel = true, allowBack = true, allowNext = true;
    bool holdNext = false;
    bool finishes = false;
    Completion pending;
    std::function<std::shared_ptr<WizardPage>()> makeNext, makePrevious;
    std::vector<std::string> log;
    int appeared = 0, disappeared = 0;

  protected:
    void didLoad() override { ++loads; }

  public:
    int loads = 0;
};

class WizardFlowTest : public ::testing::Test {
  protected:
    std::shared_ptr<ScriptedPage> page(const std::string& id) {
        auto p = std::make_shared<ScriptedPage>(id, h.context);
        made.push_back(p);
        return p;
    }

    FakeWizardWorld world;
    FlowHarness h{world};
    std::vector<std::shared_ptr<ScriptedPage>> made;
};

TEST_F(WizardFlowTest, FirstPageShowsOnlyTheButtonsItTitlesAndAppearsAfterTheDelay) {
    auto first = page("first");
    EXPECT_FALSE(h.flow->button(WizardButton::Next).visible);
    h.start(first);
    EXPECT_EQ(first->loads, 1);
    EXPECT_EQ(first->disappeared, 0);
    EXPECT_TRUE(h.flow->button(WizardButton::Cancel).visible);
    EXPECT_FALSE(h.flow->button(WizardButton::Back).visible);
    EXPECT_TRUE(h.flow->button(WizardButton::Next).visible);
    EXPECT_EQ(h.nextTitle(), "BUTTON_CONTINUE");

    world.advance(0.19);
    EXPECT_EQ(first->appeared, 0);
    world.advance(0.01);
    EXPECT_EQ(first->appeared, 1);
}

TEST_F(WizardFlowTest, TitleBecomingNothingKeepsTheButtonUntilTheNextPage) {
    auto first = page("first");
    auto second = page("second");
    first->makeNext = [&] { return second; };
    second->cancelTitle.reset();
    h.start(first);
    first->cancelTitle.reset();
    first->updateButtons();
    EXPECT_TRUE(h.flow->button(WizardButton::Cancel).visible);
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.page(), "second");
    EXPECT_FALSE(h.flow->button(WizardButton::Cancel).visible);
}

TEST_F(WizardFlowTest, HiddenOrDisabledButtonsDoNothingButAPageMayMoveOnByItself) {
    auto first = page("first");
    auto second = page("second");
    first->makeNext = [&] { return second; };
    first->nextTitle.reset();
    h.start(first);
    h.flow->next(WizardButton::Next);
    h.flow->back(WizardButton::Back);
    EXPECT_EQ(h.page(), "first");
    EXPECT_TRUE(first->log.empty());

    first->goToNextView();
    EXPECT_EQ(h.page(), "second");
    EXPECT_EQ(first->log, (std::vector<std::string>{"didNext"}));

    auto third = page("third");
    second->makeNext = [&] { return third; };
    second->nextEnabled = false;
    second->updateButtons();
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.page(), "second");
    second->goToNextView();
    EXPECT_EQ(h.page(), "third");
}

TEST_F(WizardFlowTest, VetoesLeaveThePageAndTheWizardAsTheyWere) {
    auto first = page("first");
    auto second = page("second");
    first->backTitle = "BUTTON_BACK";
    first->makeNext = [&] { return second; };
    first->makePrevious = [&] { return second; };
    h.start(first);

    struct Case {
        const char* name;
        std::function<void()> veto;
        std::function<void()> click;
    };
    const Case cases[] = {
        {"cancel", [&] { first->allowCancel = false; },
         [&] { h.flow->cancel(WizardButton::Cancel); }},
        {"back", [&] { first->allowBack = false; }, [&] { h.flow->back(WizardButton::Back); }},
        {"next", [&] { first->allowNext = false; }, [&] { h.flow->next(WizardButton::Next); }},
        {"next completion", [&] { first->holdNext = true; },
         [&] {
             h.flow->next(WizardButton::Next);
             ASSERT_TRUE(first->pending);
             first->pending(false);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.veto();
        c.click();
        EXPECT_EQ(h.page(), "first");
        EXPECT_FALSE(h.flow->ended());
        EXPECT_TRUE(first->log.empty());
        first->allowCancel = first->allowBack = first->allowNext = true;
        first->holdNext = false;
    }
    EXPECT_EQ(h.delegate->cancelled + h.delegate->finished, 0);
}

TEST_F(WizardFlowTest, AsynchronousNextGoesOnWhenTheCompletionComesAndOnlyOnce) {
    auto first = page("first");
    int made = 0;
    first->makeNext = [&] {
        ++made;
        return page("second");
    };
    first->holdNext = true;
    h.start(first);
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.page(), "first");
    auto complete = first->pending;
    complete(true);
    EXPECT_EQ(h.page(), "second");
    complete(true);  // a second call changes nothing
    EXPECT_EQ(made, 1);
    EXPECT_EQ(first->log, (std::vector<std::string>{"didNext"}));
}

TEST_F(WizardFlowTest, CompletionAfterTheWizardEndedDoesNothing) {
    auto first = page("first");
    first->holdNext = true;
    first->makeNext = [&] { return page("second"); };
    h.start(first);
    h.flow->next(WizardButton::Next);
    h.flow->cancel(WizardButton::Cancel);
    first->pending(true);
    EXPECT_EQ(first->log, (std::vector<std::string>{"didCancel"}));
    EXPECT_EQ(h.delegate->cancelled, 1);
    EXPECT_EQ(h.delegate->finished, 0);
}

TEST_F(WizardFlowTest, BackShowsAFreshCopyOfTheEarlierPage) {
    auto first = page("first");
    std::shared_ptr<ScriptedPage> second;
    first->makeNext = [&] {
        second = page("second");
        second->backTitle = "BUTTON_BACK";
        second->makePrevious = [&] { return page("first"); };
        return second;
    };
    h.start(first);
    h.flow->next(WizardButton::Next);
    h.flow->back(WizardButton::Back);
    EXPECT_EQ(h.page(), "first");
    EXPECT_NE(h.flow->currentPage(), first);
    EXPECT_EQ(made.back()->loads, 1);
    EXPECT_EQ(second->disappeared, 1);
    EXPECT_EQ(second->log, (std::vector<std::string>{"didBack"}));
    EXPECT_EQ(second->host(), nullptr);
}

TEST_F(WizardFlowTest, TwoQuickReplacementsMakeTheCurrentPageAppearTwice) {
    auto first = page("first");
    auto second = page("second");
    first->makeNext = [&] { return second; };
    h.start(first);
    world.advance(0.1);
    h.flow->next(WizardButton::Next);
    world.advance(0.1);
    EXPECT_EQ(second->appeared, 1);
    world.advance(0.1);
    EXPECT_EQ(second->appeared, 2);
    EXPECT_EQ(first->appeared, 0);
}

TEST_F(WizardFlowTest, CancelAndFinishAreReportedOnceThenTheWindowCloses) {
    {
        auto first = page("first");
        h.start(first);
        h.flow->cancel(WizardButton::Cancel);
        h.flow->cancel(WizardButton::Cancel);
        h.flow->closeRequested();
        EXPECT_EQ(h.delegate->cancelled, 1);
        EXPECT_EQ(h.view.closes, 1);
        EXPECT_EQ(first->log, (std::vector<std::string>{"didCancel"}));
        EXPECT_TRUE(h.context->closed);
    }
    FlowHarness other(world);
    auto done = std::make_shared<ScriptedPage>("done", other.context);
    done->finishes = true;
    done->cancelTitle.reset();
    other.start(done);
    other.flow->next(WizardButton::Next);
    other.flow->next(WizardButton::Next);
    EXPECT_EQ(other.delegate->finished, 1);
    EXPECT_EQ(other.delegate->cancelled, 0);
    EXPECT_EQ(other.view.closes, 1);
}

TEST_F(WizardFlowTest, WindowCloseButtonIsCancelOrFinishAsThePageOffers) {
    struct Case {
        const char* name;
        bool cancelShown;
        bool allowCancel;
        bool finishes;
        int cancelled, finished;
        bool ended;
    };
    const Case cases[] = {
        {"page with Cancel", true, true, false, 1, 0, true},
        {"Cancel vetoed", true, false, false, 0, 0, false},
        {"done page", false, true, true, 0, 1, true},
        {"page without Cancel or Finish", false, true, false, 1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlowHarness harness(world);
        auto p = std::make_shared<ScriptedPage>("p", harness.context);
        if (!c.cancelShown) p->cancelTitle.reset();
        p->allowCancel = c.allowCancel;
        p->finishes = c.finishes;
        harness.start(p);
        harness.flow->closeRequested();
        EXPECT_EQ(harness.delegate->cancelled, c.cancelled);
        EXPECT_EQ(harness.delegate->finished, c.finished);
        EXPECT_EQ(harness.flow->ended(), c.ended);
        EXPECT_EQ(harness.context->closed, c.ended);
    }
}

TEST_F(WizardFlowTest, WorkAPageScheduledDoesNotRunAfterTheWindowClosed) {
    auto first = page("first");
    h.start(first);
    int ran = 0;
    first->onMainAfter(1.0, [&](WizardPage&) { ++ran; });
    first->onMain([&](WizardPage&) { ++ran; });
    h.flow->cancel(WizardButton::Cancel);
    world.advance(2.0);
    EXPECT_EQ(ran, 0);
}

}  // namespace
}  // namespace lumvane::wizardtest
