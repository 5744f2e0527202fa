#pragma once
// What the page tests share: one QApplication, a manual clock behind every page timer, a
// settings store in a temporary folder, fakes for the clipboard, rating, file dialogs and
// favicons, and TestPresenter, which hosts pages in a plain window the way the status item
// does (queues, show and hide hooks, closing on request).
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/pasteboard/Pasteboard.h"
#include "runtime/Clock.h"
#include "settings/TBNSettings.h"
#include "ui/PageEnvironment.h"
#include "ui/TBNPopoverViewController.h"

namespace lumvane::testing {

QApplication& application();

// Hosts one page at a time in a window; later pages wait in a priority and a normal
// queue, and a normal page on screen gives way to any new page. GUI thread only; pages
// handed in from another thread are taken on the GUI thread.
class TestPresenter : public TBNPopoverPresenter,
                      public TBNPopoverViewControllerDelegate,
                      public TBNPopoverHost {
  public:
    TestPresenter();
    ~TestPresenter() override;

    void showPopoverViewController(std::shared_ptr<TBNPopoverViewController> page) override;
    void hideCurrentPopover() override;
    void popoverViewControllerWillClose(TBNPopoverViewController* page) override;
    QSize contentSize() const override;
    void setContentSize(const QSize& size) override;

    // A click on the status item's icon while a page is shown.
    void clickIcon() { hideCurrentPopover(); }
    std::shared_ptr<TBNPopoverViewController> current() const { return current_; }
    size_t queued() const { return priority_.size() + normal_.size(); }
    QWidget* window() const { return window_.get(); }
    // How often a page asked for another content size.
    int resizes = 0;
    // Every page shown so far, in order.
    std::vector<std::string> shown;

  private:
    void showPage(std::shared_ptr<TBNPopoverViewController> page);
    void hideCurrent();

    std::unique_ptr<QWidget> window_;
    std::shared_ptr<TBNPopoverViewController> current_;
    std::deque<std::shared_ptr<TBNPopoverViewController>> priority_, normal_;
    // Pages fading out, kept until their fade has ended.
    std::vector<std::shared_ptr<TBNPopoverViewController>> hiding_;
    QSize contentSize_;
};

class PageFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the GUI thread's pending work.
    void settle();
    // Moves the pages' clock and runs what became due.
    void advance(double seconds);
    // Processes events until `done` holds (true) or a generous deadline passed (false).
    bool waitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Shows a page through the presenter and lets its fade-in end.
    void present(const std::shared_ptr<TBNPopoverViewController>& page);

    // A paired phone, online or not.
    void pairPhone(bool online);
    void setPhoneOnline(bool online);

    std::filesystem::path root_;
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    std::shared_ptr<TBNSettings> settings_;
    std::shared_ptr<MemoryPasteboard> memory_ = std::make_shared<MemoryPasteboard>();
    std::shared_ptr<TestPresenter> presenter_;
    ui::PageEnvironment env_;

    // What the fakes saw.
    std::vector<ui::PageEnvironment::RateRecord> rateRecords_;
    std::vector<int64_t> ratingsSent_;
    std::vector<QString> urlsOpened_;
    std::vector<ui::FileQuestion> fileQuestions_;
    std::optional<QString> fileAnswer_;
    int copyNotices_ = 0;
    std::vector<QString> faviconFetches_;
};

}  // namespace lumvane::testing
