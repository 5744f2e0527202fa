// The application service's questions through the popover UI service to the pages and
// back: the service blocks a connection thread on its question while the user answers
// on the page (offscreen), the way an extension's request waits in the running program.
#include <QComboBox>
#include <QTest>

#include <future>

#include "ServiceTestSupport.h"
#include "UITestSupport.h"
#include "ui/Pages.h"
#include "ui/UserInterface.h"

namespace lumvane::testing {
namespace {

class ServiceEndToEndTest : public servicetest::ServiceFixture {
  protected:
    void SetUp() override {
        application();
        ServiceFixture::SetUp();
        makeService();
        ui::PageEnvironment env;
        env.clock = clock_;
        env.settings = settings_.get();
        env.pasteboard = pasteboard_;
        env.fetchFavicon = [](const QString&, auto done) { done(std::nullopt); };
        ui::setEnvironment(env);
        presenter_ = std::make_shared<TestPresenter>();
        popoverUI_ = ui::makePopoverUIService(presenter_);
        service_->setUiService(popoverUI_);
    }

    void TearDown() override {
        presenter_.reset();
        settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ServiceFixture::TearDown();
        settle();
        ui::setEnvironment(ui::PageEnvironment{});
    }

    static void settle() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }

    // Moves the shared manual clock in small steps, letting the GUI thread keep up.
    void advance(double seconds) {
        for (int i = 0; i < static_cast<int>(seconds / 0.1 + 0.5); ++i) {
            clock_->advance(0.1);
            settle();
        }
    }

    bool guiWaitFor(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    template <class Page>
    std::shared_ptr<Page> shownPage() {
        std::shared_ptr<Page> page;
        guiWaitFor([&] {
            page = std::dynamic_pointer_cast<Page>(presenter_->current());
            return page != nullptr;
        });
        advance(0.3);
        return page;
    }

    template <class T>
    static bool ready(std::future<T>& f) {
        return f.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    }

    std::shared_ptr<TestPresenter> presenter_;
    std::shared_ptr<TBNUIServiceProtocol> popoverUI_;
};

TEST_F(ServiceEndToEndTest, OfflineLoginIsSavedByThePageOnceThePhoneIsBack) {
    pairPhone(false);
    TBNLoginData data;
    data.setLogin(std::string("alice"));
    data.setPassword(std::string("s3cret!"));
    auto asked = std::async(std::launch::async, [&] {
        return service_->canSaveLoginData(data, "https://www.example.com/login", "example.com");
    });
    auto page = shownPage<TBNSaveAccountPopoverViewController>();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->logic().account(), "alice");
    EXPECT_FALSE(page->waitingBox->isHidden());
    advance(10);
    EXPECT_FALSE(ready(asked));

    pairPhone(true);
    ASSERT_TRUE(guiWaitFor([&] { return page->logic().autoSavePending(); }));
    advance(5.2);
    ASSERT_TRUE(guiWaitFor([&] { return ready(asked); }));
    EXPECT_EQ(asked.get(), TBNSaveVariantSave);
    EXPECT_EQ(data.login(), "alice");
    EXPECT_EQ(data.password(), "s3cret!");
}

TEST_F(ServiceEndToEndTest, TheSecondAccountPickedIsTheOneAnswered) {
    auto asked = std::async(std::launch::async, [&] {
        return service_->chooseDefaultAccount({"anna@example.com", "bob@example.com"},
                                              "https://example.com", "example.com", false);
    });
    auto page = shownPage<TBNChooseAccountPopoverViewController>();
    ASSERT_TRUE(page);
    page->accountsComboBox->setCurrentIndex(1);
    QTest::mouseClick(page->okButton, Qt::LeftButton);
    ASSERT_TRUE(guiWaitFor([&] { return ready(asked); }));
    EXPECT_EQ(asked.get(), 1);
}

TEST_F(ServiceEndToEndTest, AnUnansweredQuestionEndsWithThePagesSelfClose) {
    auto asked = std::async(std::launch::async, [&] {
        return service_->chooseDefaultAccount({"anna", "bob"}, "https://example.com", "example.com",
                                              false);
    });
    auto page = shownPage<TBNChooseAccountPopoverViewController>();
    ASSERT_TRUE(page);
    advance(299);
    EXPECT_FALSE(ready(asked));
    // The page closes itself 10 s before the service would stop waiting.
    advance(1.5);
    ASSERT_TRUE(guiWaitFor([&] { return ready(asked); }));
    EXPECT_EQ(asked.get(), -1);
    EXPECT_EQ(presenter_->current(), nullptr);
}

}  // namespace
}  // namespace lumvane::testing
