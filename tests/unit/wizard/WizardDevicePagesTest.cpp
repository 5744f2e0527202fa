// The device pairing pages: the source choice and where it leads, the online phones with
// their indicator, the service started and stopped, the invitation e-mail, and the colours
// of the table cells.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "WizardTestSupport.h"
#include "ui/wizard/WizardDevicePages.h"
#include "ui/wizard/WizardFirstRunPages.h"

namespace lumvane::wizardtest {
namespace {

std::shared_ptr<TBNOSXDeviceInfo> phone(const std::string& hardwareId, const std::string& name) {
    auto d = std::make_shared<TBNOSXDeviceInfo>();
    d->setHardwareId(hardwareId);
    d->setDeviceId("DEV-" + hardwareId);
    d->setName(name);
    d->setModel(std::string("iPhone9,3"));
    d->setOsVersion(std::string("16.1"));
    d->setAppVersion(std::string("1.2.0"));
    d->setOnline(true);
    return d;
}

class DevicePagesTest : public ::testing::Test {
  protected:
    FakeWizardWorld world;
    FlowHarness h{world};
};

TEST_F(DevicePagesTest, SourceChoiceLeadsToItsPageAndAlwaysReplacesTheClientId) {
    struct Case {
        const char* name;
        int row;  // -1: no choice
        const char* title;
        const char* next;
    };
    const Case cases[] = {
        {"no choice", -1, "BUTTON_SKIP", kSkipDonePageId},
        {"phone with the app", 0, "BUTTON_CONTINUE", kSelectDevicePageId},
        {"phone without the app", 1, "BUTTON_CONTINUE", kInviteToInstallPageId},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWizardWorld w;
        w.settings->setClientId(std::string("OLD-ID"));
        FlowHarness f(w);
        auto page = std::make_shared<WizardSelectSourcePage>(f.context);
        f.start(page);
        page->selectRow(2);  // the stand-alone row changes nothing
        EXPECT_EQ(page->selectedRow(), -1);
        EXPECT_EQ(f.nextTitle(), "BUTTON_SKIP");
        if (c.row >= 0) page->selectRow(c.row);
        EXPECT_EQ(f.nextTitle(), c.title);
        EXPECT_TRUE(f.nextEnabled());
        f.flow->next(WizardButton::Next);
        EXPECT_EQ(f.page(), c.next);
        EXPECT_NE(w.settings->clientId().value_or("OLD-ID"), "OLD-ID");
    }
}

TEST_F(DevicePagesTest, BackFromTheGroupLeadsToTheConsentPageAndForgetsTheChoice) {
    auto page = std::make_shared<WizardSelectSourcePage>(h.context);
    h.start(page);
    page->selectRow(1);
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.page(), kInviteToInstallPageId);
    h.flow->back(WizardButton::Back);
    EXPECT_EQ(h.page(), kSelectSourcePageId);
    EXPECT_EQ(
        std::static_pointer_cast<WizardSelectSourcePage>(h.flow->currentPage())->selectedRow(), -1);
    h.flow->back(WizardButton::Back);
    EXPECT_EQ(h.page(), kConsentPageId);
}

TEST_F(DevicePagesTest, SelectDeviceSearchesUntilAPhoneIsOnlineAndRemembersTheChosenOne) {
    auto page = std::make_shared<WizardSelectDevicePage>(h.context);
    h.start(page);
    world.runBackground();
    EXPECT_EQ(world.serviceStarts, 1);
    EXPECT_TRUE(page->searching());
    EXPECT_FALSE(h.nextEnabled());

    world.settings->addOnlineDevice(phone("HW-1", "Alice's iPhone"));
    world.settings->addOnlineDevice(phone("HW-2", "Bob's iPhone"));
    page->settingsChanged(TBNSettingsComponentOnlineDevices);
    EXPECT_FALSE(page->searching());
    ASSERT_EQ(page->onlineDevices().size(), 2u);
    EXPECT_FALSE(h.nextEnabled());
    page->selectRow(1);
    EXPECT_TRUE(h.nextEnabled());
    const auto chosen = page->onlineDevices()[1]->hardwareId();

    // A chosen row that vanished disables Next and writes nothing.
    world.settings->removeOnlineDeviceAtHardwareId(page->onlineDevices()[0]->hardwareId());
    page->settingsChanged(TBNSettingsComponentOnlineDevices);
    EXPECT_FALSE(h.nextEnabled());
    page->didNextClick(std::nullopt);
    EXPECT_FALSE(world.settings->pairingHardwareId());

    page->selectRow(0);
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(world.settings->pairingHardwareId(), chosen);
    ASSERT_EQ(h.page(), kPairingWithDevicePageId);
    auto pairing = std::static_pointer_cast<WizardPairingWithDevicePage>(h.flow->currentPage());
    ASSERT_TRUE(pairing->pairingDevice());
    EXPECT_EQ(pairing->pairingDevice()->name(), "Bob's iPhone");
    EXPECT_EQ(pairing->pairCode(), "XXXXX");
    EXPECT_FALSE(h.nextEnabled());
    EXPECT_EQ(world.serviceStops, 0);
}

TEST_F(DevicePagesTest, SelectDeviceStopsTheServiceOnCancelAndOnBackOnly) {
    for (bool back : {false, true}) {
        FakeWizardWorld w;
        FlowHarness f(w);
        f.start(std::make_shared<WizardSelectDevicePage>(f.context));
        w.runBackground();
        if (back) {
            f.flow->back(WizardButton::Back);
            EXPECT_EQ(f.page(), kConsentPageId);
        } else {
            f.flow->cancel(WizardButton::Cancel);
        }
        EXPECT_EQ(w.serviceStops, 1);
        EXPECT_FALSE(f.context->serviceStarted);
    }
}

TEST_F(DevicePagesTest, SettingsNotificationsReachThePageOnTheMainLoop) {
    auto page = std::make_shared<WizardSelectDevicePage>(h.context);
    h.start(page);
    world.settings->addOnlineDevice(phone("HW-9", "Carol's iPhone"));
    world.settings->waitForPendingSaves();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (page->searching() && std::chrono::steady_clock::now() < deadline) {
        world.pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(page->searching());
    ASSERT_EQ(page->onlineDevices().size(), 1u);
}

TEST_F(DevicePagesTest, InviteComposesTheInvitationAndTheDonePagesStartTheService) {
    auto invite = std::make_shared<WizardInviteToInstallPage>(h.context);
    h.start(invite);
    invite->setEmail("friend@example.org");
    h.flow->next(WizardButton::Next);
    ASSERT_EQ(world.openedUrls.size(), 1u);
    const auto& mail = world.openedUrls[0];
    EXPECT_EQ(mail.rfind("mailto:invite@lumvane.io?subject=Get%20invited%20for%20Lumvane", 0), 0u);
    EXPECT_NE(mail.find("Email%3A%20friend%40example.org%0AOS%3A%20Linux%20"), std::string::npos);
    EXPECT_EQ(h.page(), kInviteDonePageId);
    EXPECT_FALSE(h.flow->button(WizardButton::Cancel).visible);
    EXPECT_EQ(world.serviceStarts, 0);
    world.advance(0.1);
    EXPECT_EQ(world.serviceStarts, 1);
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.delegate->finished, 1);
    EXPECT_FALSE(world.settings->doneWizard());
}

// The source cell keeps colours of its own; the device cell is the application's (drawn and
// checked with the window).
TEST(WizardCells, ColoursAndTextsOfSourceCells) {
    EXPECT_EQ(sourceCellStyle(true, true).fill, (CellColor{1, 1, 1, 1}));
    EXPECT_EQ(sourceCellStyle(true, false).title, (CellColor{0.09, 0.29, 0.60, 1.0}));
    EXPECT_EQ(sourceCellStyle(true, false).subtitle, (CellColor{0.56, 0.45, 0.23, 1.0}));
    EXPECT_EQ(sourceCellStyle(false, true).fill, (CellColor{0.7, 0.7, 0.7, 1.0}));
    EXPECT_EQ(sourceCellStyle(false, false).fill, (CellColor{0.65, 0.75, 0.90, 0.2}));
    EXPECT_EQ(sourceCellStyle(false, false).title, (CellColor{1, 1, 1, 1}));
    EXPECT_EQ(sourceCellStyle(false, false).subtitle, (CellColor{0.98, 0.87, 0.68, 1.0}));

    EXPECT_EQ(sourceCellTexts(2)->titleKey, "TEXTFIELD_STANDALONE_TITLE");
    EXPECT_FALSE(sourceCellTexts(3));
}

}  // namespace
}  // namespace lumvane::wizardtest
