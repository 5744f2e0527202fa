// The first-run pages against fakes: the Bluetooth check, the licence alert, the consent
// switch by location zone, the browser extensions with the TLS identity and the service
// start, the QR pairing and the done page.
#include <gtest/gtest.h>

#include "WizardTestSupport.h"
#include "protocol/TBNErrors.h"
#include "ui/wizard/WizardFirstRunPages.h"

namespace lumvane::wizardtest {
namespace {

class FirstRunTest : public ::testing::Test {
  protected:
    template <class Page>
    std::shared_ptr<Page> startAt() {
        auto page = std::make_shared<Page>(h.context);
        h.start(page);
        world.pump();
        return page;
    }

    FakeWizardWorld world;
    FlowHarness h{world};
};

TEST_F(FirstRunTest, WelcomeWaitsForTheBluetoothCheckBeforeItLetsTheUserGoOn) {
    auto welcome = startAt<WizardWelcomePage>();
    EXPECT_FALSE(h.nextEnabled());
    EXPECT_TRUE(h.flow->button(WizardButton::Cancel).enabled);
    EXPECT_FALSE(h.flow->button(WizardButton::Back).visible);
    EXPECT_EQ(welcome->check(), WizardWelcomePage::Check::Running);

    world.runBackground();
    EXPECT_TRUE(h.nextEnabled());
    EXPECT_TRUE(world.alerts.empty());
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.page(), kLicensePageId);

    welcome->openPricing();
    EXPECT_EQ(world.openedUrls, (std::vector<std::string>{"https://lumvane.io/pricing.html"}));
}

TEST_F(FirstRunTest, WithoutBluetoothLeTheUserIsToldWhyAndTheApplicationEnds) {
    world.bluetooth = false;
    auto welcome = startAt<WizardWelcomePage>();
    world.runBackground();
    EXPECT_FALSE(h.nextEnabled());
    EXPECT_EQ(welcome->check(), WizardWelcomePage::Check::Failed);
    ASSERT_EQ(world.alerts.size(), 1u);
    const auto& alert = world.alerts[0].alert;
    EXPECT_EQ(alert.messageKey, "DONT_SUPPORT_BLE_ALERT_MESSAGE");
    EXPECT_EQ(alert.informativeKey, "DONT_SUPPORT_BLE_ALERT_INFO");
    EXPECT_EQ(alert.buttonKeys, (std::vector<std::string>{"DONT_SUPPORT_BLE_BUTTON_CLOSE"}));
    EXPECT_EQ(alert.style, WizardAlert::Style::Critical);
    EXPECT_EQ(world.terminations, 0);
    world.answerAlert(0);
    EXPECT_EQ(world.terminations, 1);
}

TEST_F(FirstRunTest, LicenceMustBeAcceptedInItsAlertAndDecliningStays) {
    startAt<WizardLicensePage>();
    h.flow->next(WizardButton::Next);
    ASSERT_EQ(world.alerts.size(), 1u);
    EXPECT_EQ(world.alerts[0].alert.messageKey, "LICENSE_ALERT_MESSAGE");
    world.answerAlert(1);
    EXPECT_EQ(h.page(), kLicensePageId);

    h.flow->next(WizardButton::Next);
    ASSERT_EQ(world.alerts.size(), 1u);
    world.answerAlert(0);
    EXPECT_EQ(h.page(), kConsentPageId);
    EXPECT_FALSE(world.settings->sendReports());
}

TEST_F(FirstRunTest, ConsentSwitchFollowsTheLocationZoneAndNextStoresIt) {
    struct Case {
        const char* name;
        uint64_t zone;
        bool stored;
        bool userSets;  // what the user flips the switch to (if offered)
        bool visible;
        const char* info;
        bool expectStored;
    };
    const Case cases[] = {
        {"white zone, fresh", 0, false, true, false, "WIZARD_HELP_INFO_1", false},
        {"white zone keeps a stored yes", 0, true, false, false, "WIZARD_HELP_INFO_1", true},
        {"grey zone, user allows", 1, false, true, true, "WIZARD_HELP_INFO_2", true},
        {"black zone, user refuses", 2, true, false, true, "WIZARD_HELP_INFO_2", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWizardWorld w;
        w.zone = c.zone;
        w.settings->setSendReports(c.stored);
        w.settings->setResetSendReports(true);
        FlowHarness harness(w);
        auto consent = std::make_shared<WizardConsentPage>(harness.context);
        harness.start(consent);
        EXPECT_FALSE(w.settings->resetSendReports());
        EXPECT_FALSE(consent->switchVisible());  // until the zone is known
        w.runBackground();
        EXPECT_EQ(consent->switchVisible(), c.visible);
        EXPECT_EQ(consent->infoKey(), c.info);
        EXPECT_EQ(consent->checked(), c.stored);
        consent->setChecked(c.userSets);
        harness.flow->next(WizardButton::Next);
        EXPECT_EQ(w.settings->sendReports(), c.expectStored);
        EXPECT_EQ(harness.page(), kExtensionsPageId);
    }
}

// The switch and its explanation depend on the region: the page waits for it.
TEST_F(FirstRunTest, ConsentLetsTheUserGoOnOnlyOnceTheRegionIsKnown) {
    world.zone = 1;
    world.settings->setSendReports(false);
    auto consent = startAt<WizardConsentPage>();
    EXPECT_FALSE(h.nextEnabled());
    EXPECT_TRUE(h.flow->button(WizardButton::Cancel).enabled);
    // Next asked for anyway (the keyboard, a page moving on) does not leave the page.
    h.flow->next(WizardButton::Next);
    h.flow->next(std::nullopt);
    world.pump();
    EXPECT_EQ(h.page(), kConsentPageId);
    EXPECT_FALSE(world.settings->sendReports());

    world.runBackground();
    EXPECT_TRUE(h.nextEnabled());
    consent->setChecked(true);
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.page(), kExtensionsPageId);
    EXPECT_TRUE(world.settings->sendReports());
}

TEST_F(FirstRunTest, ConsentCancelStoresNothingButTheResetFlag) {
    world.zone = 1;
    world.settings->setSendReports(false);
    auto consent = startAt<WizardConsentPage>();
    world.runBackground();
    consent->setChecked(true);
    h.flow->cancel(WizardButton::Cancel);
    EXPECT_FALSE(world.settings->sendReports());
    EXPECT_EQ(h.delegate->cancelled, 1);
}

TEST_F(FirstRunTest, ExtensionsPageEnablesDetectedBrowsersAndStartsTheServiceWithAnIdentity) {
    auto page = startAt<WizardExtensionsPage>();
    ASSERT_EQ(page->rows().size(), 7u);
    for (const auto& row : page->rows()) {
        const bool expected =
            row.browser == TBNBrowser::Firefox || row.browser == TBNBrowser::Chromium;
        EXPECT_EQ(row.installed, expected) << row.name;
    }
    EXPECT_TRUE(h.nextEnabled());
    world.advance(0.05);
    EXPECT_EQ(world.serviceStarts, 0);
    world.advance(0.05);
    EXPECT_EQ(world.serviceStarts, 1);
    EXPECT_TRUE(world.alerts.empty());
    EXPECT_TRUE(h.context->serviceStarted);
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.page(), kPairQRCodePageId);
    EXPECT_EQ(world.serviceStarts, 1);
}

TEST_F(FirstRunTest, RegistrationWindowLastsTwoMinutesFromTheLastClick) {
    auto page = startAt<WizardExtensionsPage>();
    page->install(TBNBrowser::Firefox);
    EXPECT_EQ(world.installs, (std::vector<TBNBrowser>{TBNBrowser::Firefox}));
    EXPECT_EQ(world.registrations, 1);
    world.advance(60);
    page->install(TBNBrowser::Chromium);
    EXPECT_EQ(world.registrations, 2);
    world.advance(119);
    EXPECT_EQ(page->registeringBrowser(), TBNBrowser::Chromium);
    world.advance(1);
    EXPECT_FALSE(page->registeringBrowser());
}

TEST_F(FirstRunTest, MissingIdentityIsOfferedAndMadeBeforeTheServiceStarts) {
    world.identityReady = false;
    startAt<WizardExtensionsPage>();
    world.advance(0.1);
    ASSERT_EQ(world.alerts.size(), 1u);
    EXPECT_EQ(world.alerts[0].alert.messageKey, "CONFIG_SSL_IDENTITY_ALERT_MESSAGE");
    EXPECT_EQ(world.alerts[0].alert.buttonKeys[0], "SSL_IDENTITY_ALERT_BUTTON_CREATE");
    EXPECT_EQ(world.serviceStarts, 0);
    world.answerAlert(0);
    EXPECT_EQ(world.identitySetups, 0);  // not on the window's thread
    world.runBackground();
    EXPECT_EQ(world.identitySetups, 1);
    EXPECT_EQ(world.activations, 1);
    world.runBackground();
    EXPECT_EQ(world.serviceStarts, 1);
    EXPECT_EQ(world.terminations, 0);
}

TEST_F(FirstRunTest, RefusedOrFailedIdentityEndsTheApplicationWithoutAStart) {
    for (bool refuse : {true, false}) {
        SCOPED_TRACE(refuse ? "refused" : "creation failed");
        FakeWizardWorld w;
        w.identityReady = false;
        w.identitySetupWorks = false;
        FlowHarness harness(w);
        harness.start(std::make_shared<WizardExtensionsPage>(harness.context));
        w.advance(0.1);
        w.answerAlert(refuse ? 1 : 0);
        w.runBackground();
        if (!refuse) {
            ASSERT_EQ(w.alerts.size(), 1u);
            EXPECT_EQ(w.alerts[0].alert.messageKey, "CONFIG_SSL_IDENTITY_FAIL_ALERT_MESSAGE");
            EXPECT_EQ(w.alerts[0].alert.style, WizardAlert::Style::Critical);
            w.answerAlert(0);
        }
        EXPECT_EQ(w.terminations, 1);
        EXPECT_EQ(w.serviceStarts, 0);
    }
}

TEST_F(FirstRunTest, ClosingBeforeTheIdentityIsReadyStartsNothing) {
    world.identityReady = false;
    startAt<WizardExtensionsPage>();
    world.advance(0.1);
    world.answerAlert(0);
    h.flow->closeRequested();  // the window's close button while the identity is made
    world.runBackground();
    world.runBackground();
    EXPECT_EQ(world.serviceStarts, 0);
    EXPECT_EQ(world.activations, 0);

    FakeWizardWorld w;
    FlowHarness early(w);
    early.start(std::make_shared<WizardExtensionsPage>(early.context));
    early.flow->cancel(WizardButton::Cancel);
    w.advance(1);
    EXPECT_EQ(w.serviceStarts, 0);
}

class PairingTest : public FirstRunTest {
  protected:
    std::shared_ptr<WizardPairQRCodePage> startPairing() {
        auto qr = startAt<WizardPairQRCodePage>();
        EXPECT_TRUE(world.pairings.empty());
        world.advance(0.1);
        EXPECT_EQ(world.pairings.size(), 1u);
        return qr;
    }
    RecordedPairing& pairing() { return world.pairings.at(0); }
};

TEST_F(PairingTest, CodeProgressAndSuccessMoveToTheDonePageWhichMarksTheFirstRunDone) {
    auto qr = startPairing();
    EXPECT_EQ(h.nextTitle(), "BUTTON_SKIP");
    EXPECT_FALSE(qr->qrCodeValue());
    pairing().url("https://lumvane.io/auth/appinstall.html#auth=X");
    world.pump();
    EXPECT_EQ(qr->qrCodeValue(), "https://lumvane.io/auth/appinstall.html#auth=X");
    pairing().process("Connecting…");
    world.pump();
    EXPECT_EQ(qr->stateText(), "Connecting…");

    qr->setZoomOpen(true);
    // The phone is stored by the service before it reports success.
    auto device = std::make_shared<TBNOSXDeviceInfo>();
    device->setHardwareId(std::string("HW-1"));
    device->setDeviceId(std::string("DEV-1"));
    world.settings->addPairedDevice(device);
    pairing().success(1);
    world.pump();
    EXPECT_EQ(h.nextTitle(), "BUTTON_CONTINUE");
    EXPECT_FALSE(qr->zoomOpen());
    EXPECT_EQ(h.page(), kPairQRCodePageId);
    EXPECT_FALSE(world.settings->doneWizard());
    world.advance(0.5);
    EXPECT_EQ(h.page(), kDonePageId);
    EXPECT_TRUE(world.settings->doneWizard());
    auto done = std::static_pointer_cast<WizardDonePage>(h.flow->currentPage());
    EXPECT_EQ(done->infoKey(), "WIZARD_FINISH_INFO_DONE");
    EXPECT_FALSE(h.flow->button(WizardButton::Cancel).visible);
    EXPECT_EQ(h.nextTitle(), "BUTTON_FINISH");

    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.delegate->finished, 1);
    EXPECT_EQ(world.pairStops, 0);  // the pairing had ended; nothing to stop
}

TEST_F(PairingTest, SkipBeforeTheCodeArrivedMovesOnAndLeavesThePairingRunning) {
    startPairing();
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.page(), kDonePageId);
    EXPECT_EQ(std::static_pointer_cast<WizardDonePage>(h.flow->currentPage())->infoKey(),
              "WIZARD_FINISH_INFO_SKIP");
    EXPECT_EQ(world.pairStops, 0);  // skipping leaves the pairing running
    // A late report reaches the page that is no longer current and changes nothing.
    pairing().url("https://lumvane.io/x");
    pairing().success(1);
    world.advance(1);
    EXPECT_EQ(h.page(), kDonePageId);
    EXPECT_FALSE(h.flow->ended());
}

TEST_F(PairingTest, EveryKindOfCloseStopsThePairingThisWindowStartedOnce) {
    struct Case {
        const char* name;
        std::function<void(FlowHarness&)> close;
    };
    const Case cases[] = {
        {"Cancel", [](FlowHarness& f) { f.flow->cancel(WizardButton::Cancel); }},
        {"close button", [](FlowHarness& f) { f.flow->closeRequested(); }},
        {"application ends", [](FlowHarness& f) { f.flow->abort(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWizardWorld w;
        FlowHarness f(w);
        f.start(std::make_shared<WizardPairQRCodePage>(f.context));
        w.advance(0.1);
        ASSERT_EQ(w.pairings.size(), 1u);
        c.close(f);
        EXPECT_TRUE(f.flow->ended());
        EXPECT_EQ(w.pairStops, 1);
        f.context->windowClosed();
        EXPECT_EQ(w.pairStops, 1);
    }
}

// After Skip the pairing is the service's: the phone may still be paired after the wizard.
TEST_F(PairingTest, AfterSkipNoEndOfTheWizardStopsThePairing) {
    struct Case {
        const char* name;
        std::function<void(FlowHarness&)> end;
    };
    const Case cases[] = {
        {"Finish", [](FlowHarness& f) { f.flow->next(WizardButton::Next); }},
        {"close button", [](FlowHarness& f) { f.flow->closeRequested(); }},
        {"application ends", [](FlowHarness& f) { f.flow->abort(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWizardWorld w;
        FlowHarness f(w);
        f.start(std::make_shared<WizardPairQRCodePage>(f.context));
        w.advance(0.1);
        ASSERT_EQ(w.pairings.size(), 1u);
        w.pairings[0].url("https://lumvane.io/x");
        w.pump();
        f.flow->next(WizardButton::Next);
        ASSERT_EQ(f.page(), kDonePageId);
        EXPECT_FALSE(f.context->ownsRunningPairing());
        c.end(f);
        EXPECT_TRUE(f.flow->ended());
        EXPECT_EQ(w.pairStops, 0);
        // The pairing ends later all the same; its report changes nothing.
        w.pairings[0].success(1);
        w.advance(1);
        EXPECT_EQ(w.pairStops, 0);
    }
}

TEST_F(PairingTest, AFailedPairingStaysOnSkipAndIsNotStoppedAgain) {
    auto qr = startPairing();
    pairing().url("https://lumvane.io/x");
    qr->setZoomOpen(true);
    auto error = std::make_shared<TBNError>();
    error->setDebugMessage(std::string("timed out"));
    pairing().fail(error);
    world.advance(1);
    EXPECT_EQ(qr->state(), WizardPairQRCodePage::State::Failed);
    EXPECT_EQ(qr->failureText(), "timed out");
    EXPECT_FALSE(qr->zoomOpen());
    EXPECT_EQ(h.nextTitle(), "BUTTON_SKIP");
    EXPECT_EQ(h.page(), kPairQRCodePageId);
    h.flow->closeRequested();
    EXPECT_EQ(world.pairStops, 0);
}

TEST_F(PairingTest, ClosingBeforeThePairingStartedStartsNone) {
    startAt<WizardPairQRCodePage>();
    h.flow->closeRequested();
    world.advance(1);
    EXPECT_TRUE(world.pairings.empty());
    EXPECT_EQ(world.pairStops, 0);
}

TEST_F(FirstRunTest, WholeFirstRunFromWelcomeToFinish) {
    startAt<WizardWelcomePage>();
    world.runBackground();
    h.flow->next(WizardButton::Next);
    h.flow->next(WizardButton::Next);
    world.answerAlert(0);
    world.runBackground();
    h.flow->next(WizardButton::Next);
    world.advance(0.1);
    EXPECT_EQ(world.serviceStarts, 1);
    h.flow->next(WizardButton::Next);
    world.advance(0.1);
    ASSERT_EQ(world.pairings.size(), 1u);
    world.pairings[0].success(1);
    world.pump();
    world.advance(0.5);
    EXPECT_EQ(h.page(), kDonePageId);
    h.flow->next(WizardButton::Next);
    EXPECT_EQ(h.delegate->finished, 1);
    EXPECT_TRUE(world.settings->doneWizard());
}

}  // namespace
}  // namespace lumvane::wizardtest
