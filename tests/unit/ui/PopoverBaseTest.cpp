// The page base: timed closes, fades and the content size, with the test presenter in the
// status item's place.
#include <QLabel>

#include "UITestSupport.h"
#include "ui/Pages.h"
#include "ui/UserInterface.h"

namespace lumvane::testing {
namespace {

class PopoverBaseTest : public PageFixture {};

// A page that only counts the closes it asked for.
class CountingDelegate : public TBNPopoverViewControllerDelegate {
  public:
    void popoverViewControllerWillClose(TBNPopoverViewController*) override { ++closes; }
    int closes = 0;
};

TEST_F(PopoverBaseTest, CloseAfterReachesOnlyTheDelegateOfThatTime) {
    auto page = ui::popoverAtName("TBNMessagePopoverViewController");
    ASSERT_TRUE(page);
    CountingDelegate first, later;
    page->setDelegate(&first);
    page->closeAfter(2);
    advance(1);
    EXPECT_EQ(first.closes, 0);
    page->setDelegate(&later);
    advance(1.1);
    EXPECT_EQ(first.closes, 0);
    EXPECT_EQ(later.closes, 1);

    // A page whose hiding has started (no delegate) is not affected.
    page->closeAfter(1);
    page->setDelegate(nullptr);
    advance(1.1);
    EXPECT_EQ(later.closes, 1);
}

TEST_F(PopoverBaseTest, LateSelfCloseOfAHiddenPageLeavesTheNextPageAlone) {
    auto guide = ui::popoverAtName("TBNGuidePopoverViewController");
    present(guide);
    // The guide is displaced long before its 60 s self-close.
    auto save = ui::popoverAtName("TBNSaveAccountPopoverViewController");
    present(save);
    ASSERT_EQ(presenter_->current(), save);
    advance(61);
    EXPECT_EQ(presenter_->current(), save);
}

TEST_F(PopoverBaseTest, FadesEndWithTheirCompletionAfterTheirTime) {
    auto page = ui::popoverAtName("TBNMessagePopoverViewController");
    int completions = 0;
    page->fadeInViews({}, 0.5, [&] { ++completions; });
    advance(0.4);
    EXPECT_EQ(completions, 0);
    advance(0.2);
    EXPECT_EQ(completions, 1);

    QLabel view(page.get());
    page->fadeOutViews({&view}, 0.3, [&] { ++completions; });
    EXPECT_FALSE(view.isHidden());
    advance(0.4);
    EXPECT_EQ(completions, 2);
    EXPECT_TRUE(view.isHidden());
    page->fadeInViews({&view}, 0.3);
    advance(0.4);
    EXPECT_FALSE(view.isHidden());
}

TEST_F(PopoverBaseTest, ContentHeightChangesAgainstTheDefaultSize) {
    auto page = ui::popoverAtName("TBNMessagePopoverViewController");
    presenter_->setContentSize(QSize(360, 300));
    page->setParentPopoverController(presenter_.get());
    EXPECT_EQ(page->defaultContentSize(), QSize(360, 300));
    page->reduceContentHeightOfValue(0);
    EXPECT_EQ(presenter_->contentSize(), QSize(360, 300));
    page->reduceContentHeightOfValue(40);
    EXPECT_EQ(presenter_->contentSize(), QSize(360, 260));
    page->reduceContentHeightOfValue(40);
    EXPECT_EQ(presenter_->contentSize(), QSize(360, 260));
    page->increaseContentHeightOfValue(1234);
    EXPECT_EQ(presenter_->contentSize(), QSize(360, 300));
}

TEST_F(PopoverBaseTest, FactoryKnowsEveryPageByItsIdentifier) {
    struct Case {
        const char* identifier;
        bool priority;
    };
    const Case cases[] = {
        {"TBNChooseAccountPopoverViewController", true},
        {"TBNSaveAccountPopoverViewController", true},
        {"TBNPairDevicePopoverViewController", true},
        {"TBNBackupDatabasePopoverViewController", true},
        {"TBNRestoreDatabasePopoverViewController", true},
        {"TBNGuidePopoverViewController", false},
        {"TBNGuidePopoverLargeViewController", false},
        {"TBNPasswordGeneratorPopoverViewController", false},
        {"TBNPasswordGeneratorV2PopoverViewController", false},
        {"TBNInstallDriverPopoverViewController", false},
        {"TBNAboutPopoverViewController", false},
        {"TBNDebugSettingsPopoverViewController", false},
        {"TBNRatePopoverViewController", false},
        {"TBNMessagePopoverViewController", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identifier);
        auto page = ui::popoverAtName(c.identifier);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->identifier().toStdString(), c.identifier);
        EXPECT_EQ(page->isPriorityViewController(), c.priority);
        // A new page for every opening.
        EXPECT_NE(ui::popoverAtName(c.identifier), page);
    }
    EXPECT_FALSE(ui::popoverAtName("TBNNoSuchViewController"));
}

}  // namespace
}  // namespace lumvane::testing
