// The pages that inform or set something up: guide, message, rating, security-key driver.
#include <QDir>
#include <QTest>

#include <fstream>

#include "UITestSupport.h"
#include "extension/browser/ChildProcess.h"
#include "ui/DriverSetup.h"
#include "ui/MorePages.h"
#include "ui/UserInterface.h"

namespace lumvane::testing {
namespace {

class OtherPagesTest : public PageFixture {
  public:
    using PageFixture::advance;
};

TEST_F(OtherPagesTest, GuideClosesItselfAfterAMinuteOrWhenDisplaced) {
    auto service = ui::makePopoverUIService(presenter_);
    service->showGuide("GUIDE_FIRSTFILL_TITLE", "GUIDE_FIRSTFILL_MESSAGE", false);
    settle();
    auto guide = std::dynamic_pointer_cast<TBNGuidePopoverViewController>(presenter_->current());
    ASSERT_TRUE(guide);
    EXPECT_EQ(guide->titleTextField->text(), ui::text("GUIDE_FIRSTFILL_TITLE"));
    advance(59.5);
    EXPECT_EQ(presenter_->current(), guide);
    advance(0.6);
    EXPECT_EQ(presenter_->current(), nullptr);

    // Any page opened later displaces it at once.
    service->showGuide("GUIDE_RESET_ANALYTICS_TITLE", "GUIDE_RESET_ANALYTICS_MESSAGE", true);
    settle();
    ASSERT_TRUE(presenter_->current());
    EXPECT_EQ(presenter_->current()->identifier(), "TBNGuidePopoverLargeViewController");
    service->showRate();
    settle();
    ASSERT_TRUE(presenter_->current());
    EXPECT_EQ(presenter_->current()->identifier(), "TBNRatePopoverViewController");
}

TEST_F(OtherPagesTest, GuideKeepsItsOwnTitleForAnEmptyOne) {
    auto guide = std::dynamic_pointer_cast<TBNGuidePopoverViewController>(
        ui::popoverAtName("TBNGuidePopoverViewController"));
    const QString before = guide->titleTextField->text();
    guide->updateTitle("", "A message");
    EXPECT_EQ(guide->titleTextField->text(), before);
    EXPECT_EQ(guide->messageTextField->text(), "A message");
}

TEST_F(OtherPagesTest, MessageButtonAndSelfClose) {
    struct Case {
        QString button;
        bool progress;
        bool shortButton, longButton, closesItself;
    };
    const Case cases[] = {
        {"12345678", false, true, false, true},
        {"123456789", false, false, true, true},
        {"", true, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button.toStdString());
        auto page = std::dynamic_pointer_cast<TBNMessagePopoverViewController>(
            ui::popoverAtName("TBNMessagePopoverViewController"));
        page->updateTitle("Title", "Message", c.button, c.progress);
        present(page);
        EXPECT_EQ(!page->buttonShort->isHidden(), c.shortButton);
        EXPECT_EQ(!page->buttonLong->isHidden(), c.longButton);
        advance(15.1);
        EXPECT_EQ(presenter_->current() == nullptr, c.closesItself);
        presenter_->hideCurrentPopover();
        advance(0.4);
    }
}

// A message page given nothing (or shown long after it was made) still goes by itself.
TEST_F(OtherPagesTest, MessageClosesFifteenSecondsAfterItIsShownWhateverItWasGiven) {
    auto bare = std::dynamic_pointer_cast<TBNMessagePopoverViewController>(
        ui::popoverAtName("TBNMessagePopoverViewController"));
    present(bare);
    advance(14.5);
    EXPECT_EQ(presenter_->current(), bare);
    advance(0.7);
    EXPECT_EQ(presenter_->current(), nullptr);
    advance(0.4);

    // Made and given its texts, then kept waiting behind a page that asks something.
    auto blocker = ui::popoverAtName("TBNChooseAccountPopoverViewController");
    present(blocker);
    auto waiting = std::dynamic_pointer_cast<TBNMessagePopoverViewController>(
        ui::popoverAtName("TBNMessagePopoverViewController"));
    waiting->updateTitle("Title", "Message", "OK", false);
    presenter_->showPopoverViewController(waiting);
    settle();
    advance(20);
    EXPECT_EQ(presenter_->current(), blocker);
    presenter_->hideCurrentPopover();
    settle();
    advance(0.7);
    EXPECT_EQ(presenter_->current(), waiting);
    advance(14);
    EXPECT_EQ(presenter_->current(), waiting);
    advance(1.2);
    EXPECT_EQ(presenter_->current(), nullptr);
}

// ---- Rate -----------------------------------------------------------------------------

using Record = ui::PageEnvironment::RateRecord;

TEST_F(OtherPagesTest, RateRecordsWhatEachExitMeans) {
    struct Case {
        const char* name;
        std::function<void(OtherPagesTest&, TBNRatePopoverViewController&)> act;
        std::vector<Record> records;
        std::vector<int64_t> sent;
        bool closed;
    };
    const Case cases[] = {
        {"no", [](auto&, auto& p) { p.buttonNo->click(); }, {Record::Cancel}, {}, true},
        {"later", [](auto&, auto& p) { p.buttonLater->click(); }, {Record::Skip}, {}, true},
        {"rate twice without stars",
         [](auto& t, auto& p) {
             p.buttonRate->click();
             t.advance(0.7);
             p.buttonRate->click();
         },
         {},
         {},
         false},
        {"four stars",
         [](auto& t, auto& p) {
             p.buttonRate->click();
             t.advance(0.7);
             p.stars[3]->click();
             p.buttonRate->click();
         },
         {Record::Success},
         {4},
         true},
        {"three then one star",
         [](auto& t, auto& p) {
             p.buttonRate->click();
             t.advance(0.7);
             p.stars[2]->click();
             p.stars[0]->click();
             p.buttonRate->click();
         },
         {Record::Success},
         {1},
         true},
        {"five stars then cancel the review",
         [](auto& t, auto& p) {
             p.buttonRate->click();
             t.advance(0.7);
             p.stars[4]->click();
             p.buttonRate->click();
             t.advance(0.7);
             EXPECT_FALSE(p.buttonReview->isHidden());
             p.buttonCancel->click();
         },
         {Record::Success},
         {5},
         true},
        {"cancel the stars",
         [](auto& t, auto& p) {
             p.buttonRate->click();
             t.advance(0.7);
             p.buttonCancel->click();
         },
         {Record::Skip},
         {},
         true},
        {"left alone for a minute",
         [](auto& t, auto&) { t.advance(60.1); },
         {Record::Skip},
         {},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rateRecords_.clear();
        ratingsSent_.clear();
        auto page = std::dynamic_pointer_cast<TBNRatePopoverViewController>(
            ui::popoverAtName("TBNRatePopoverViewController"));
        present(page);
        c.act(*this, *page);
        settle();
        advance(0.4);
        EXPECT_EQ(rateRecords_, c.records);
        EXPECT_EQ(ratingsSent_, c.sent);
        EXPECT_EQ(presenter_->current() == nullptr, c.closed);
        if (!c.closed) {
            presenter_->hideCurrentPopover();
            advance(0.4);
        }
    }
}

// ---- Install driver -------------------------------------------------------------------

TEST_F(OtherPagesTest, DriverSetUpRunsTheHelperAndShowsAFailure) {
    std::vector<std::vector<std::string>> commands;
    int status = 126;
    std::string helperErrors;
    env_.driverSetup = std::make_shared<TBNDriverSetup>(
        TBNDriverSetup::Options{(root_ / "rule").string(),
                                (root_ / "module").string(),
                                "/opt/lumvane/uhid-helper",
                                {"pkexec"},
                                [&](const std::vector<std::string>& argv, std::string* errors) {
                                    commands.push_back(argv);
                                    if (errors) *errors = helperErrors;
                                    return status;
                                }});
    int started = 0;
    env_.startSecurityKey = [&] { ++started; };
    ui::setEnvironment(env_);
    int closed = 0;
    auto service = ui::makePopoverUIService(presenter_);
    service->showInstallDriver(TBNInstallDriverViewType::Install, [&] { ++closed; });
    settle();
    advance(0.3);
    auto page =
        std::dynamic_pointer_cast<TBNInstallDriverPopoverViewController>(presenter_->current());
    ASSERT_TRUE(page);

    // The password dialog was dismissed: the failure shows and the button works again.
    page->installButton->click();
    EXPECT_FALSE(page->installButton->isEnabled());
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    EXPECT_TRUE(page->installButton->isEnabled());
    EXPECT_TRUE(page->messageTextField->text().contains("permission"));
    EXPECT_EQ(started, 0);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], (std::vector<std::string>{"pkexec", "/opt/lumvane/uhid-helper",
                                                     kUhidHelperInstallCommand}));
    // The helper's own words, as pkexec and the helper write them (lines, a full stop),
    // read as one sentence before the question.
    status = 1;
    helperErrors =
        "Error executing command as another user: Not authorized\n\nThis incident "
        "has been reported.\n";
    page->installButton->click();
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    EXPECT_EQ(page->messageTextField->text(),
              ui::text("U2F_DRIVER_FAILED")
                  .arg("Error executing command as another user: Not authorized. This incident "
                       "has been reported"));
    EXPECT_FALSE(page->messageTextField->text().contains(".."));
    settle();
    QDir().mkpath(LUMVANE_UI_ARTEFACTS);
    presenter_->window()->adjustSize();
    settle();
    EXPECT_TRUE(presenter_->window()->grab().save(
        QDir(LUMVANE_UI_ARTEFACTS).filePath("driver-install-failed.png")));

    status = 0;
    page->installButton->click();
    ASSERT_TRUE(waitFor([&] { return !page->working(); }));
    EXPECT_EQ(started, 1);
    advance(0.7);
    EXPECT_FALSE(page->updatedTextField->isHidden());
    EXPECT_EQ(closed, 0);
    advance(5);
    EXPECT_EQ(presenter_->current(), nullptr);
    advance(0.4);
    EXPECT_EQ(closed, 1);
}

TEST_F(OtherPagesTest, DriverPageTellsItsOpenerOnceWhateverEndedIt) {
    struct Case {
        const char* name;
        bool cancel;
    };
    for (const Case& c : {Case{"cancel", true}, Case{"icon click", false}}) {
        SCOPED_TRACE(c.name);
        int closed = 0;
        auto service = ui::makePopoverUIService(presenter_);
        service->showInstallDriver(TBNInstallDriverViewType::Update, [&] { ++closed; });
        settle();
        advance(0.3);
        auto page =
            std::dynamic_pointer_cast<TBNInstallDriverPopoverViewController>(presenter_->current());
        ASSERT_TRUE(page);
        EXPECT_EQ(page->titleTextField->text(), ui::text("UPDATE_U2F_DRIVER_TITLE"));
        if (c.cancel) {
            page->cancelButton->click();
        } else {
            presenter_->clickIcon();
        }
        settle();
        advance(0.4);
        page.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(closed, 1);
    }
}

TEST_F(OtherPagesTest, DriverProbeReadsTheRuleFileAndTheModule) {
    TBNDriverSetup setup(TBNDriverSetup::Options{
        (root_ / "rule").string(), (root_ / "module").string(), "", {}, {}});
    EXPECT_FALSE(setup.probe().installed);
    EXPECT_FALSE(setup.probe().running);
    { std::ofstream((root_ / "rule").string()) << kUhidRule; }
    std::filesystem::create_directories(root_ / "module");
    EXPECT_TRUE(setup.probe().installed);
    EXPECT_TRUE(setup.probe().running);
}

}  // namespace
}  // namespace lumvane::testing

namespace lumvane::testing {
namespace {

// The elevated helper takes its one command and nothing else. (The command itself is
// never run here: it changes the machine's udev rules.)
TEST(UhidHelperTest, RefusesEveryOtherArgumentVector) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"install"},
        {std::string(kUhidHelperInstallCommand) + " ; rm -rf /"},
        {kUhidHelperInstallCommand, "--rule-file", "/tmp/other"},
        {"--help"},
    };
    for (const auto& args : refused) {
        std::vector<std::string> argv = {LUMVANE_UHID_HELPER};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildResult result = runChildProcess(argv);
        ASSERT_TRUE(result.started);
        EXPECT_EQ(result.exitStatus, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(result.errors.find("usage"), std::string::npos);
    }
}

}  // namespace
}  // namespace lumvane::testing
