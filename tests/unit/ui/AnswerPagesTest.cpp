// The pages that answer the application service: each answers its own opener once, with
// the user's choice or with nothing, whatever ended it.
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTest>

#include <thread>

#include "UITestSupport.h"
#include "ui/Pages.h"
#include "ui/UserInterface.h"

namespace lumvane::testing {
namespace {

// The answers one opener received. Pages may outlive a test's scope (they are deleted
// later), so what they answer into is shared.
template <class T>
struct Replies {
    std::shared_ptr<std::vector<std::optional<T>>> received =
        std::make_shared<std::vector<std::optional<T>>>();
    std::vector<std::optional<T>>& answers = *received;
    std::function<void(std::optional<T>)> reply() {
        return [r = received](std::optional<T> value) { r->push_back(std::move(value)); };
    }
};

// How a page that asks something can end besides its own buttons.
enum class OtherEnd { SelfClose, IconClick, ServiceHides };

class AnswerPagesTest : public PageFixture {
  protected:
    void endOtherwise(OtherEnd how, double selfCloseSeconds) {
        switch (how) {
            case OtherEnd::SelfClose:
                advance(selfCloseSeconds + 0.1);
                break;
            case OtherEnd::IconClick:
                presenter_->clickIcon();
                break;
            case OtherEnd::ServiceHides:
                ui::makePopoverUIService(presenter_)->hideCurrentPopover();
                break;
        }
        settle();
        advance(0.4);  // the fade-out
    }

    std::shared_ptr<TBNChooseAccountPopoverViewController> choosePage(
        Replies<uint64_t>& replies, std::vector<std::string> accounts) {
        auto page = std::dynamic_pointer_cast<TBNChooseAccountPopoverViewController>(
            ui::popoverAtName("TBNChooseAccountPopoverViewController"));
        page->setReply(replies.reply());
        page->setAccounts(accounts, "https://mail.example.com/login", "example.com");
        return page;
    }

    std::shared_ptr<TBNSaveAccountPopoverViewController> savePage(
        Replies<TBNSaveAccountAnswer>& replies, TBNSaveAccountQuestion q) {
        auto page = std::dynamic_pointer_cast<TBNSaveAccountPopoverViewController>(
            ui::popoverAtName("TBNSaveAccountPopoverViewController"));
        page->setReply(replies.reply());
        page->setQuestion(q);
        return page;
    }

    static TBNSaveAccountQuestion newLogin() {
        TBNSaveAccountQuestion q;
        q.account = "alice";
        q.password = "s3cret!";
        q.siteName = "example.com";
        q.siteUrl = "https://www.example.com/login";
        return q;
    }
};

// ---- Choose account -------------------------------------------------------------------

TEST_F(AnswerPagesTest, ChooseAnswersThePickedIndex) {
    struct Case {
        const char* name;
        int pick;  // -1: leave the selection as it opened
        std::optional<uint64_t> answer;
    };
    const Case cases[] = {
        {"untouched", -1, 0u},
        {"third", 2, 2u},
        {"second", 1, 1u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Replies<uint64_t> replies;
        auto page = choosePage(replies, {"anna", "bob", "carol"});
        present(page);
        if (c.pick >= 0) page->accountsComboBox->setCurrentIndex(c.pick);
        QTest::mouseClick(page->okButton, Qt::LeftButton);
        settle();
        advance(0.4);
        ASSERT_EQ(replies.answers.size(), 1u);
        EXPECT_EQ(replies.answers[0], c.answer);
        EXPECT_EQ(presenter_->current(), nullptr);
    }
}

TEST_F(AnswerPagesTest, ChooseAnswersNothingWhenEndedAnyOtherWay) {
    struct Case {
        const char* name;
        std::optional<OtherEnd> end;  // none: the Cancel button
    };
    const Case cases[] = {{"cancel", std::nullopt},
                          {"self-close after 300 s", OtherEnd::SelfClose},
                          {"icon click", OtherEnd::IconClick},
                          {"service hides it", OtherEnd::ServiceHides}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Replies<uint64_t> replies;
        auto page = choosePage(replies, {"anna", "bob"});
        present(page);
        if (c.end) {
            endOtherwise(*c.end, TBNChooseAccountPopoverViewController::kSelfCloseSeconds);
        } else {
            QTest::mouseClick(page->cancelButton, Qt::LeftButton);
            settle();
            advance(0.4);
        }
        ASSERT_EQ(replies.answers.size(), 1u);
        EXPECT_EQ(replies.answers[0], std::nullopt);
        EXPECT_EQ(presenter_->current(), nullptr);
    }
}

TEST_F(AnswerPagesTest, ChooseWithNoAccountsKeepsOkFromAnswering) {
    Replies<uint64_t> replies;
    auto page = choosePage(replies, {});
    present(page);
    QTest::mouseClick(page->okButton, Qt::LeftButton);
    advance(1);
    EXPECT_TRUE(replies.answers.empty());
    EXPECT_EQ(presenter_->current(), page);
    QTest::mouseClick(page->cancelButton, Qt::LeftButton);
    advance(0.4);
    ASSERT_EQ(replies.answers.size(), 1u);
    EXPECT_EQ(replies.answers[0], std::nullopt);
}

TEST_F(AnswerPagesTest, ChooseShowsTheSiteAndAPlaceholderIconWithoutTheNetworkInTests) {
    Replies<uint64_t> replies;
    auto page = choosePage(replies, {"anna"});
    EXPECT_EQ(page->siteTextField->text(), "example.com");
    ASSERT_FALSE(page->iconImageView->pixmap().isNull());
    ASSERT_EQ(faviconFetches_.size(), 1u);
    EXPECT_EQ(faviconFetches_[0], "https://mail.example.com/favicon.ico");
}

// ---- Save account ---------------------------------------------------------------------

TEST_F(AnswerPagesTest, SaveAnswersTheValuesAsTheUserLeftThem) {
    pairPhone(true);
    Replies<TBNSaveAccountAnswer> replies;
    auto page = savePage(replies, newLogin());
    present(page);
    page->accountTextField->setFocus();
    settle();
    page->accountTextField->setText("alice@example.com");
    QTest::mouseClick(page->secureSwitch, Qt::LeftButton);
    QTest::mouseClick(page->saveButton, Qt::LeftButton);
    settle();
    advance(0.4);
    ASSERT_EQ(replies.answers.size(), 1u);
    ASSERT_TRUE(replies.answers[0]);
    EXPECT_EQ(replies.answers[0]->account, "alice@example.com");
    EXPECT_EQ(replies.answers[0]->password, "s3cret!");
    EXPECT_EQ(replies.answers[0]->siteUrl, "https://www.example.com/login");
    EXPECT_EQ(replies.answers[0]->siteName, "example.com");
    EXPECT_TRUE(replies.answers[0]->secure);
    EXPECT_EQ(presenter_->current(), nullptr);
}

// Return ends an edit; what the user types afterwards in the same field must still count.
TEST_F(AnswerPagesTest, SaveTakesWhatEachFieldShowsWhenTypingGoesOnAfterReturn) {
    using Page = TBNSaveAccountPopoverViewController;
    struct Case {
        const char* name;
        std::function<QLineEdit*(Page&)> field;
        const char* beforeReturn;
        const char* afterReturn;
        const char* shown;  // what the field shows once the page has taken the text
        std::function<std::string(const TBNSaveAccountAnswer&)> answered;
    };
    const Case cases[] = {
        {"account", [](Page& p) { return p.accountTextField; }, "ali", "ce", "alice",
         [](const auto& a) { return a.account; }},
        {"hidden password", [](Page& p) { return p.passwordSecureTextField; }, "s3", "cret!",
         "s3cret!", [](const auto& a) { return a.password; }},
        {"shown password",
         [](Page& p) {
             p.showPasswordButton->click();
             return p.passwordTextField;
         },
         "pass", "word", "password", [](const auto& a) { return a.password; }},
        {"site", [](Page& p) { return p.siteUrlTextField; }, "my", " bank", "my bank",
         [](const auto& a) { return a.siteName + "|" + a.siteUrl; }},
    };
    pairPhone(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Replies<TBNSaveAccountAnswer> replies;
        auto page = savePage(replies, newLogin());
        present(page);
        QLineEdit* field = c.field(*page);
        QTest::mouseClick(field, Qt::LeftButton);
        settle();
        ASSERT_TRUE(field->hasFocus());
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, c.beforeReturn);
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClicks(field, c.afterReturn);
        advance(0.4);  // the buttons of the asking page fade in
        QDir().mkpath(LUMVANE_UI_ARTEFACTS);
        presenter_->window()->grab().save(
            QDir(LUMVANE_UI_ARTEFACTS)
                .filePath(QString("save-account-typed-after-return-%1.png")
                              .arg(QString(c.name).replace(' ', '-'))));
        QTest::mouseClick(page->saveButton, Qt::LeftButton);
        settle();
        advance(0.4);
        EXPECT_EQ(field->text(), c.shown);
        ASSERT_EQ(replies.answers.size(), 1u);
        ASSERT_TRUE(replies.answers[0]);
        const std::string expected =
            std::string(c.name) == "site" ? std::string(c.shown) + "|" : std::string(c.shown);
        EXPECT_EQ(c.answered(*replies.answers[0]), expected);
    }
}

TEST_F(AnswerPagesTest, SaveAnswersNothingWhenEndedAnyOtherWay) {
    struct Case {
        const char* name;
        std::optional<OtherEnd> end;
        bool online;
        bool skipUntilOnline;
    };
    const Case cases[] = {
        {"cancel while offline", std::nullopt, false, true},
        {"cancel while online", std::nullopt, true, false},
        {"self-close", OtherEnd::SelfClose, false, false},
        {"icon click", OtherEnd::IconClick, false, false},
        {"service hides it", OtherEnd::ServiceHides, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings_->setSkipUntilOnline(false);
        pairPhone(c.online);
        Replies<TBNSaveAccountAnswer> replies;
        auto q = newLogin();
        q.password.clear();  // asks rather than saving itself
        auto page = savePage(replies, q);
        present(page);
        if (c.end) {
            endOtherwise(*c.end, TBNSaveAccountPopoverViewController::kSelfCloseSeconds);
        } else {
            QTest::mouseClick(c.online ? page->cancelButton : page->cancelButton, Qt::LeftButton);
            settle();
            advance(0.4);
        }
        ASSERT_EQ(replies.answers.size(), 1u);
        EXPECT_EQ(replies.answers[0], std::nullopt);
        settings_->waitForPendingSaves();
        EXPECT_EQ(settings_->skipUntilOnline(), c.skipUntilOnline);
    }
}

TEST_F(AnswerPagesTest, SaveSavesItselfFiveSecondsAfterThePhoneComesOnline) {
    pairPhone(false);
    Replies<TBNSaveAccountAnswer> replies;
    auto page = savePage(replies, newLogin());
    present(page);
    EXPECT_EQ(page->titleTextField->text(), ui::text("SAVING_TEXTFIELD_TITLE"));
    EXPECT_FALSE(page->oneCancelButton->isHidden());
    EXPECT_TRUE(page->saveButton->isHidden());
    EXPECT_FALSE(page->waitingBox->isHidden());
    EXPECT_FALSE(page->saveButton->isEnabled());

    // Offline, nothing happens however long the page stands (short of its self-close).
    advance(30);
    EXPECT_TRUE(replies.answers.empty());

    setPhoneOnline(true);
    ASSERT_TRUE(waitFor([&] { return page->logic().autoSavePending(); }));
    advance(0.5);
    EXPECT_TRUE(page->waitingBox->isHidden());
    advance(4.3);
    EXPECT_TRUE(replies.answers.empty());
    advance(0.3);
    ASSERT_EQ(replies.answers.size(), 1u);
    ASSERT_TRUE(replies.answers[0]);
    EXPECT_EQ(replies.answers[0]->account, "alice");
    EXPECT_EQ(replies.answers[0]->password, "s3cret!");
    EXPECT_FALSE(replies.answers[0]->secure);
    advance(0.5);
    EXPECT_EQ(presenter_->current(), nullptr);
    EXPECT_EQ(replies.answers.size(), 1u);
}

TEST_F(AnswerPagesTest, SaveDoesNotSaveItselfOnceTheUserTouchedIt) {
    struct Case {
        const char* name;
        std::function<void(TBNSaveAccountPopoverViewController&)> touch;
    };
    const Case cases[] = {
        {"typed in the account field",
         [](auto& page) {
             page.accountTextField->setFocus();
             QTest::keyClicks(page.accountTextField, "x");
         }},
        {"showed the password", [](auto& page) { page.actionShowPasswordButton(); }},
        {"turned the secure switch", [](auto& page) { page.secureSwitch->click(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pairPhone(true);
        Replies<TBNSaveAccountAnswer> replies;
        auto page = savePage(replies, newLogin());
        present(page);
        ASSERT_TRUE(page->logic().autoSavePending());
        advance(2);
        c.touch(*page);
        settle();
        EXPECT_FALSE(page->logic().autoSavePending());
        advance(10);
        EXPECT_TRUE(replies.answers.empty());
        EXPECT_EQ(page->titleTextField->text(), ui::text("SAVE_TEXTFIELD_TITLE"));
        EXPECT_FALSE(page->saveButton->isHidden());
        EXPECT_FALSE(page->cancelButton->isHidden());
        EXPECT_TRUE(page->oneCancelButton->isHidden());
        QTest::mouseClick(page->saveButton, Qt::LeftButton);
        advance(0.4);
        ASSERT_EQ(replies.answers.size(), 1u);
        EXPECT_TRUE(replies.answers[0]);
    }
}

TEST_F(AnswerPagesTest, SaveSelfSaveStopsWhenThePageHides) {
    pairPhone(true);
    Replies<TBNSaveAccountAnswer> first;
    auto page = savePage(first, newLogin());
    present(page);
    ASSERT_TRUE(page->logic().autoSavePending());
    presenter_->clickIcon();
    settle();
    EXPECT_FALSE(page->logic().autoSavePending());
    advance(10);
    ASSERT_EQ(first.answers.size(), 1u);
    EXPECT_EQ(first.answers[0], std::nullopt);
}

TEST_F(AnswerPagesTest, SaveUpdateNeverSavesItself) {
    pairPhone(true);
    Replies<TBNSaveAccountAnswer> replies;
    auto q = newLogin();
    q.isUpdate = true;
    auto page = savePage(replies, q);
    present(page);
    EXPECT_EQ(page->titleTextField->text(), ui::text("UPDATE_TEXTFIELD_TITLE"));
    EXPECT_EQ(page->saveButton->title(), ui::text("UPDATE_BUTTON"));
    EXPECT_FALSE(page->secureSwitch->isEnabled());
    EXPECT_FALSE(page->secureSwitch->isChecked());
    advance(20);
    EXPECT_TRUE(replies.answers.empty());
}

TEST_F(AnswerPagesTest, SaveSiteTextBecomesUrlOrName) {
    struct Case {
        const char* typed;
        const char* siteUrl;
        const char* siteName;
    };
    const Case cases[] = {
        {"accounts.example.org/signin", "http://accounts.example.org/signin", "example.org"},
        {"https://shop.example.net", "https://shop.example.net", "example.net"},
        {"my bank", "", "my bank"},
        // Longer than 256 characters: ignored, the old values stay.
        {nullptr, "https://www.example.com/login", "example.com"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed ? c.typed : "too long");
        pairPhone(true);
        Replies<TBNSaveAccountAnswer> replies;
        auto page = savePage(replies, newLogin());
        present(page);
        page->siteUrlTextField->setFocus();
        settle();
        // Editing shows the full URL.
        EXPECT_EQ(page->siteUrlTextField->text(), "https://www.example.com/login");
        page->siteUrlTextField->setText(c.typed ? c.typed : QString(257, 'a'));
        page->accountTextField->setFocus();
        settle();
        EXPECT_EQ(page->logic().siteUrl(), c.siteUrl);
        EXPECT_EQ(page->logic().siteName(), c.siteName);
        EXPECT_EQ(page->siteUrlTextField->text().toStdString(), c.siteName);
        QTest::mouseClick(page->saveButton, Qt::LeftButton);
        advance(0.4);
        ASSERT_EQ(replies.answers.size(), 1u);
        ASSERT_TRUE(replies.answers[0]);
        EXPECT_EQ(replies.answers[0]->siteUrl, c.siteUrl);
    }
}

TEST_F(AnswerPagesTest, SaveNeedsASiteAndACredential) {
    struct Case {
        const char* name;
        TBNSaveAccountQuestion q;
        bool answers;
    };
    const Case cases[] = {
        {"site and password, no account", {"", "pw", "example.com", "https://example.com"}, true},
        {"site and account, no password", {"bob", "", "example.com", ""}, true},
        {"no site", {"bob", "pw", "", ""}, false},
        {"no credential", {"", "", "example.com", "https://example.com"}, false},
    };
    pairPhone(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Replies<TBNSaveAccountAnswer> replies;
        auto page = savePage(replies, c.q);
        present(page);
        QTest::mouseClick(page->saveButton, Qt::LeftButton);
        advance(0.4);
        EXPECT_EQ(replies.answers.size(), c.answers ? 1u : 0u);
        if (!c.answers) {
            QTest::mouseClick(page->cancelButton, Qt::LeftButton);
            advance(0.4);
        }
    }
}

// ---- Two openers at once ---------------------------------------------------------------

TEST_F(AnswerPagesTest, EachOpeningGetsTheAnswerOfItsOwnPage) {
    pairPhone(true);
    auto service = ui::makePopoverUIService(presenter_);
    Replies<TBNSaveAccountAnswer> first, second;
    auto a = newLogin();
    a.password.clear();
    auto b = a;
    b.account = "bob";
    b.siteName = "other.org";
    b.siteUrl = "https://other.org";
    // Asked from the service's own threads, as the extension server does.
    std::thread t1([&] { service->showSaveAccount(a, first.reply()); });
    t1.join();
    std::thread t2([&] { service->showSaveAccount(b, second.reply()); });
    t2.join();
    ASSERT_TRUE(waitFor([&] { return presenter_->current() && presenter_->queued() == 1; }));
    advance(0.3);
    auto shown =
        std::dynamic_pointer_cast<TBNSaveAccountPopoverViewController>(presenter_->current());
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->logic().account(), "alice");
    QTest::mouseClick(shown->saveButton, Qt::LeftButton);
    settle();
    advance(0.4);
    ASSERT_EQ(first.answers.size(), 1u);
    EXPECT_EQ(first.answers[0]->siteName, "example.com");
    EXPECT_TRUE(second.answers.empty());

    auto next =
        std::dynamic_pointer_cast<TBNSaveAccountPopoverViewController>(presenter_->current());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->logic().account(), "bob");
    QTest::mouseClick(next->saveButton, Qt::LeftButton);
    advance(0.4);
    ASSERT_EQ(second.answers.size(), 1u);
    EXPECT_EQ(second.answers[0]->siteName, "other.org");
    EXPECT_EQ(first.answers.size(), 1u);
}

TEST_F(AnswerPagesTest, AQueuedPageDroppedUnshownAnswersNothing) {
    Replies<uint64_t> first, second;
    auto shown = choosePage(first, {"a"});
    auto queued = choosePage(second, {"b"});
    present(shown);
    presenter_->showPopoverViewController(queued);
    settle();
    EXPECT_EQ(presenter_->queued(), 1u);
    // The queued page's own self-close finds no delegate; dropping it answers the opener.
    presenter_->popoverViewControllerWillClose(queued.get());
    queued.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(second.answers.size(), 1u);
    EXPECT_EQ(second.answers[0], std::nullopt);
    EXPECT_TRUE(first.answers.empty());
}

// ---- Backup and restore ----------------------------------------------------------------

TEST_F(AnswerPagesTest, BackupNamesCountUpAndKeepTheCalendarYear) {
    const QString folder = QString::fromStdString((root_ / "backups").string());
    QDir().mkpath(folder);
    const QDate lateDecember(2024, 12, 30);  // already week 1 of 2025
    EXPECT_EQ(proposedBackupName(folder, lateDecember), "lumvane_241230");
    for (const char* name : {"lumvane_241230.lmbk", "lumvane_241230 (1).lmbk"}) {
        QFile f(QDir(folder).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(proposedBackupName(folder, lateDecember), "lumvane_241230 (2)");
}

TEST_F(AnswerPagesTest, RestoreAnswersTheChosenFileAtOnce) {
    Replies<std::string> replies;
    auto page = std::dynamic_pointer_cast<TBNRestoreDatabasePopoverViewController>(
        ui::popoverAtName("TBNRestoreDatabasePopoverViewController"));
    page->setReply(replies.reply());
    present(page);
    // No last backup: nothing to restore yet.
    EXPECT_FALSE(page->restoreButton->isEnabled());

    fileAnswer_.reset();
    QTest::mouseClick(page->selectLocationButton, Qt::LeftButton);
    EXPECT_TRUE(replies.answers.empty());
    fileAnswer_ = "/backups/lumvane_240101.lmbk";
    QTest::mouseClick(page->selectLocationButton, Qt::LeftButton);
    advance(0.4);
    ASSERT_EQ(replies.answers.size(), 1u);
    EXPECT_EQ(replies.answers[0], "/backups/lumvane_240101.lmbk");
    ASSERT_EQ(fileQuestions_.size(), 2u);
    EXPECT_EQ(fileQuestions_[1].kind, ui::FileQuestion::Kind::OpenFile);
}

TEST_F(AnswerPagesTest, RestoreOffersTheLastBackupWhileItExists) {
    const auto last = root_ / "last.lmbk";
    {
        QFile f(QString::fromStdString(last.string()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    settings_->setLastBackupFilePath(last.string());
    settings_->waitForPendingSaves();
    struct Case {
        const char* name;
        bool deleted;
        std::optional<OtherEnd> end;
        std::optional<std::string> answer;
    };
    const Case cases[] = {
        {"restore the last backup", false, std::nullopt, last.string()},
        {"self-close", false, OtherEnd::SelfClose, std::nullopt},
        {"service hides it (the phone cancelled)", false, OtherEnd::ServiceHides, std::nullopt},
        {"backup deleted meanwhile", true, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.deleted) std::filesystem::remove(last);
        Replies<std::string> replies;
        auto page = std::dynamic_pointer_cast<TBNRestoreDatabasePopoverViewController>(
            ui::popoverAtName("TBNRestoreDatabasePopoverViewController"));
        page->setReply(replies.reply());
        present(page);
        EXPECT_EQ(page->restoreButton->isEnabled(), !c.deleted);
        if (c.end) {
            endOtherwise(*c.end, TBNRestoreDatabasePopoverViewController::kSelfCloseSeconds);
        } else if (c.deleted) {
            QTest::mouseClick(page->cancelButton, Qt::LeftButton);
            advance(0.4);
        } else {
            QTest::mouseClick(page->restoreButton, Qt::LeftButton);
            advance(0.4);
        }
        ASSERT_EQ(replies.answers.size(), 1u);
        EXPECT_EQ(replies.answers[0], c.answer);
    }
}

}  // namespace
}  // namespace lumvane::testing

namespace lumvane::testing {
namespace {

class PageSizeTest : public PageFixture {};

// The waiting box comes and goes with the phone; the window follows the page's size so
// that nothing is cut off.
TEST_F(PageSizeTest, WindowFollowsTheWaitingBox) {
    pairPhone(true);
    auto page = std::dynamic_pointer_cast<TBNSaveAccountPopoverViewController>(
        ui::popoverAtName("TBNSaveAccountPopoverViewController"));
    page->setQuestion({"", "", "example.com", "https://example.com", false});
    present(page);
    settle();
    const int small = presenter_->contentSize().height();
    EXPECT_TRUE(page->waitingBox->isHidden());

    setPhoneOnline(false);
    ASSERT_TRUE(waitFor([&] { return !page->waitingBox->isHidden(); }));
    advance(0.4);
    settle();
    const int large = presenter_->contentSize().height();
    EXPECT_GT(large, small);
    EXPECT_GE(large, page->sizeHint().height());

    setPhoneOnline(true);
    ASSERT_TRUE(waitFor([&] { return page->logic().phoneOnline(); }));
    advance(0.4);
    settle();
    EXPECT_EQ(presenter_->contentSize().height(), small);
}

}  // namespace
}  // namespace lumvane::testing
