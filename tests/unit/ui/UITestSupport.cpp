#include "UITestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVBoxLayout>

#include <unistd.h>

#include <atomic>

#include "idl/settings.h"
#include "runtime/MainLoop.h"
#include "ui/DriverSetup.h"
#include "ui/PageSupport.h"

namespace lumvane::testing {

namespace fs = std::filesystem;

QApplication& application() {
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// ---- Presenter ------------------------------------------------------------------------

TestPresenter::TestPresenter() : window_(std::make_unique<QWidget>()) {
    window_->setObjectName("popoverWindow");
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TestPresenter::~TestPresenter() {
    if (current_) {
        current_->setDelegate(nullptr);
        current_->setParent(nullptr);
    }
    for (auto& page : hiding_) page->setParent(nullptr);
}

void TestPresenter::showPopoverViewController(std::shared_ptr<TBNPopoverViewController> page) {
    if (!page) return;
    if (!ui::isMainThread()) {
        ui::onMain(nullptr, [this, page] { showPopoverViewController(page); });
        return;
    }
    if (!current_) {
        showPage(std::move(page));
        return;
    }
    (page->isPriorityViewController() ? priority_ : normal_).push_back(page);
    if (!current_->isPriorityViewController()) hideCurrent();
}

void TestPresenter::hideCurrentPopover() {
    if (!ui::isMainThread()) {
        ui::onMain(nullptr, [this] { hideCurrentPopover(); });
        return;
    }
    if (current_) hideCurrent();
}

void TestPresenter::popoverViewControllerWillClose(TBNPopoverViewController* page) {
    if (current_ && current_.get() == page) {
        hideCurrent();
        return;
    }
    for (auto* queue : {&priority_, &normal_}) {
        std::erase_if(*queue, [page](const auto& p) { return p.get() == page; });
    }
}

QSize TestPresenter::contentSize() const {
    return contentSize_;
}

void TestPresenter::setContentSize(const QSize& size) {
    contentSize_ = size;
    ++resizes;
}

void TestPresenter::showPage(std::shared_ptr<TBNPopoverViewController> page) {
    current_ = std::move(page);
    shown.push_back(current_->identifier().toStdString());
    current_->setDelegate(this);
    window_->layout()->addWidget(current_.get());
    current_->show();
    window_->show();
    window_->activateWindow();
    QApplication::setActiveWindow(window_.get());
    window_->adjustSize();
    contentSize_ = window_->size();
    current_->setParentPopoverController(this);
    current_->didShowViewControolerWithTimeAnimation(0.3);
}

void TestPresenter::hideCurrent() {
    auto page = std::move(current_);
    current_.reset();
    page->setDelegate(nullptr);
    page->willHideViewControolerWithTimeAnimation(0.3);
    window_->layout()->removeWidget(page.get());
    page->hide();
    page->setParent(nullptr);
    hiding_.push_back(page);
    std::shared_ptr<TBNPopoverViewController> next;
    if (!priority_.empty()) {
        next = priority_.front();
        priority_.pop_front();
    } else if (!normal_.empty()) {
        next = normal_.front();
        normal_.pop_front();
    }
    if (next) {
        showPage(std::move(next));
    } else {
        window_->hide();
    }
}

// ---- Fixture --------------------------------------------------------------------------

void PageFixture::SetUp() {
    application();
    static std::atomic<int> counter{0};
    root_ = fs::temp_directory_path() /
            ("lumvane-ui-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(root_);
    TBNSettings::Options so;
    so.clock = clock_;
    so.bundleVersion = "1.0.0.0";
    settings_ = TBNSettings::create(so);
    settings_->loadBySettingsClass(root_ / TBNSettings::kSettingsFileName);
    settings_->decryptEncryptedSettingsByKey(Bytes(32, 0x5A));
    settings_->waitForPendingSaves();

    env_.clock = clock_;
    env_.settings = settings_.get();
    env_.pasteboard = TBNPasteboard::create(memory_, std::make_shared<HeadlessMainLoop>(clock_));
    env_.notifyPasswordCopied = [this] { ++copyNotices_; };
    env_.recordRate = [this](ui::PageEnvironment::RateRecord r) { rateRecords_.push_back(r); };
    env_.sendRating = [this](int64_t stars) { ratingsSent_.push_back(stars); };
    env_.chooseFile = [this](QWidget*, const ui::FileQuestion& q) {
        fileQuestions_.push_back(q);
        return fileAnswer_;
    };
    env_.openUrl = [this](const QString& url) { urlsOpened_.push_back(url); };
    // Never the network in tests.
    env_.fetchFavicon = [this](const QString& url, auto done) {
        faviconFetches_.push_back(url);
        done(std::nullopt);
    };
    env_.faviconCacheFolder = QString::fromStdString((root_ / "favicons").string());
    env_.driverSetup = std::make_shared<TBNDriverSetup>(
        TBNDriverSetup::Options{(root_ / "rule").string(),
                                (root_ / "module").string(),
                                "/nonexistent/helper",
                                {"/nonexistent/pkexec"},
                                [](const auto&, std::string*) { return 1; }});
    env_.startSecurityKey = [] {};
    env_.version = "1.2.3";
    ui::setEnvironment(env_);
    presenter_ = std::make_shared<TestPresenter>();
}

void PageFixture::TearDown() {
    presenter_.reset();
    settle();
    clock_->cancelAll();
    settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    settings_->waitForPendingSaves();
    // The observers' last notices may still be queued for the GUI thread.
    settle();
    ui::setEnvironment(ui::PageEnvironment{});
    settings_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void PageFixture::settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

void PageFixture::advance(double seconds) {
    // In small steps, so that timers started by due work run at their own time.
    const int steps = static_cast<int>(seconds / 0.1 + 0.5);
    for (int i = 0; i < steps; ++i) {
        clock_->advance(0.1);
        settle();
    }
}

bool PageFixture::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

void PageFixture::present(const std::shared_ptr<TBNPopoverViewController>& page) {
    presenter_->showPopoverViewController(page);
    settle();
    advance(0.3);
}

void PageFixture::pairPhone(bool online) {
    auto device = std::make_shared<TBNOSXDeviceInfo>();
    device->setDeviceId(std::string("DEVICE-1"));
    device->setHardwareId(std::string("HW-1"));
    device->setName(std::string("Test phone"));
    device->setModel(std::string("Pixel"));
    device->setOnline(online);
    settings_->addPairedDevice(device);
    settings_->waitForPendingSaves();
}

void PageFixture::setPhoneOnline(bool online) {
    pairPhone(online);
}

}  // namespace lumvane::testing
