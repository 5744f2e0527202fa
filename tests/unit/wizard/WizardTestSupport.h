#pragma once
// Wizard pages against fakes: a manual clock under a headless main loop, background work
// that runs when the test says so, a private settings store, and recorded alerts, file
// panels, pairings and service starts that the test answers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Bytes.h"
#include "runtime/Clock.h"
#include "runtime/MainLoop.h"
#include "settings/TBNSettings.h"
#include "ui/wizard/WizardFlow.h"
#include "ui/wizard/WizardServices.h"

namespace lumvane::wizardtest {

namespace fs = std::filesystem;

class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/lumvane-wizard-XXXXXX";
        if (::mkdtemp(pattern)) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

struct RecordedAlert {
    WizardAlert alert;
    std::function<void(int)> answer;
};

struct RecordedPanel {
    WizardFilePanel panel;
    std::function<void(std::optional<std::string>)> answer;
};

struct RecordedPairing {
    TBNService::PairURLHandler url;
    TBNService::PairProcessHandler process;
    TBNService::PairSuccessHandler success;
    TBNService::PairFailHandler fail;
};

// Everything a wizard touches, faked; `services()` hands out functions bound to it.
class FakeWizardWorld {
  public:
    FakeWizardWorld() {
        clock = std::make_shared<ManualClock>();
        loop = std::make_shared<HeadlessMainLoop>(clock);
        settings = TBNSettings::create(TBNSettings::Options{});
        settings->loadBySettingsClass(folder.path() / TBNSettings::kSettingsFileName);
        settings->decryptEncryptedSettingsByKey(Bytes(32, 7));
    }
    ~FakeWizardWorld() {
        clock->cancelAll();
        settings->waitForPendingSaves();
    }

    WizardServices services() {
        WizardServices s;
        s.settings = settings;
        s.loop = loop;
        s.runAsync = [this](std::function<void()> block) {
            background.push_back(std::move(block));
        };
        s.showAlert = [this](const WizardAlert& a, std::function<void(int)> answer) {
            alerts.push_back({a, std::move(answer)});
        };
        s.chooseFile = [this](const WizardFilePanel& p,
                              std::function<void(std::optional<std::string>)> answer) {
            panels.push_back({p, std::move(answer)});
        };
        s.activateWindow = [this] { ++activations; };
        s.terminate = [this] { ++terminations; };
        s.openUrl = [this](const std::string& url) { openedUrls.push_back(url); };
        s.canSupportBluetoothLowEnergy = [this] { return bluetooth; };
        s.locationZone = [this] { return zone; };
        s.isBrowserInstalled = [this](TBNBrowser b) {
            for (auto i : installedBrowsers)
                if (i == b) return true;
            return false;
        };
        s.installExtension = [this](TBNBrowser b) { installs.push_back(b); };
        s.openExtensionRegistration = [this] { ++registrations; };
        s.generateSSLCerts = true;
        s.isSetupedSSLIdentity = [this] { return identityReady; };
        s.setupSSLIdentity = [this] {
            ++identitySetups;
            identityReady = identitySetupWorks;
            return identityReady;
        };
        s.startService = [this] { ++serviceStarts; };
        s.stopService = [this] { ++serviceStops; };
        s.startPair = [this](TBNService::PairURLHandler u, TBNService::PairProcessHandler p,
                             TBNService::PairSuccessHandler ok, TBNService::PairFailHandler f) {
            pairings.push_back({std::move(u), std::move(p), std::move(ok), std::move(f)});
        };
        s.stopPair = [this] { ++pairStops; };
        return s;
    }

    // Runs what the main loop has now (no time passes).
    void pump() { loop->runPending(); }
    // Moves the manual clock and runs what came due.
    void advance(double seconds) {
        clock->advance(seconds);
        loop->runPending();
    }
    // Runs the queued background blocks, then the main loop.
    void runBackground() {
        while (!background.empty()) {
            auto block = std::move(background.front());
            background.pop_front();
            block();
        }
        pump();
    }
    // Answers the oldest open alert.
    void answerAlert(int button) {
        ASSERT_FALSE(alerts.empty());
        auto a = std::move(alerts.front());
        alerts.erase(alerts.begin());
        a.answer(button);
        pump();
    }

    TempFolder folder;
    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<HeadlessMainLoop> loop;
    std::shared_ptr<TBNSettings> settings;

    std::deque<std::function<void()>> background;
    std::vector<RecordedAlert> alerts;
    std::vector<RecordedPanel> panels;
    std::vector<RecordedPairing> pairings;
    std::vector<std::string> openedUrls;
    std::vector<TBNBrowser> installs;
    std::vector<TBNBrowser> installedBrowsers{TBNBrowser::Firefox, TBNBrowser::Chromium};
    bool bluetooth = true;
    uint64_t zone = 0;
    bool identityReady = true;
    bool identitySetupWorks = true;
    int activations = 0, terminations = 0, registrations = 0, identitySetups = 0;
    int serviceStarts = 0, serviceStops = 0, pairStops = 0;
};

// Records how the wizard ended.
class RecordingDelegate : public WizardFlowDelegate {
  public:
    void wizardFlowDidCancel() override { ++cancelled; }
    void wizardFlowDidFinish() override { ++finished; }
    int cancelled = 0, finished = 0;
};

// A view that only counts what the container asked of it.
class CountingView : public WizardFlowView {
  public:
    void wizardFlowButtonsChanged() override { ++buttonUpdates; }
    void wizardFlowShowPage(const std::shared_ptr<WizardPage>& page) override {
        shown.push_back(page->identifier());
    }
    void wizardFlowRemovePage(const std::shared_ptr<WizardPage>&) override { ++removed; }
    void wizardFlowCloseWindow() override { ++closes; }
    int buttonUpdates = 0, removed = 0, closes = 0;
    std::vector<std::string> shown;
};

// A wizard flow over the fake world, started at `first`.
struct FlowHarness {
    explicit FlowHarness(FakeWizardWorld& world)
        : context(std::make_shared<WizardContext>(world.services())),
          flow(std::make_shared<WizardFlow>(context)),
          delegate(std::make_shared<RecordingDelegate>()) {
        flow->setView(&view);
        flow->setDelegate(delegate);
    }
    ~FlowHarness() { flow->setView(nullptr); }
    void start(std::shared_ptr<WizardPage> first) {
        flow->setFirstPage(std::move(first));
        flow->start();
    }
    std::string page() const {
        return flow->currentPage() ? flow->currentPage()->identifier() : "";
    }
    bool nextEnabled() const { return flow->button(WizardButton::Next).enabled; }
    std::string nextTitle() const { return flow->button(WizardButton::Next).title; }

    std::shared_ptr<WizardContext> context;
    std::shared_ptr<WizardFlow> flow;
    std::shared_ptr<RecordingDelegate> delegate;
    CountingView view;
};

}  // namespace lumvane::wizardtest
