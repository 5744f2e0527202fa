// The application service's questions, shown as pages through the status item (or any
// other presenter). Each opening gets its own page and its own reply, so an answer always
// goes back to the question that asked for it.
#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>

#include "runtime/log/TBNLogger.h"
#include "ui/MorePages.h"
#include "ui/Pages.h"
#include "ui/UserInterface.h"

namespace lumvane::ui {

namespace {

constexpr const char* kTag = "ui|service";

template <class Page>
std::shared_ptr<Page> pageAt(const std::string& identifier) {
    auto page = popoverAtName(identifier);
    auto typed = std::dynamic_pointer_cast<Page>(page);
    if (!typed) TBN_LOG_ERROR(kTag, "no page {}", identifier);
    return typed;
}

class PopoverUIService : public TBNUIServiceProtocol {
  public:
    explicit PopoverUIService(std::shared_ptr<TBNPopoverPresenter> presenter)
        : presenter_(std::move(presenter)) {}

    void showSaveAccount(const TBNSaveAccountQuestion& question, SaveAccountReply reply) override {
        show([presenter = presenter_, question, reply] {
            auto page =
                pageAt<TBNSaveAccountPopoverViewController>("TBNSaveAccountPopoverViewController");
            if (!page) return reply(std::nullopt);
            page->setReply(reply);
            page->setQuestion(question);
            presenter->showPopoverViewController(page);
        });
    }

    void showChooseAccount(const TBNChooseAccountQuestion& question,
                           ChooseAccountReply reply) override {
        show([presenter = presenter_, question, reply] {
            auto page = pageAt<TBNChooseAccountPopoverViewController>(
                "TBNChooseAccountPopoverViewController");
            if (!page) return reply(std::nullopt);
            page->setReply(reply);
            page->setAccounts(question.accounts, question.siteUrl, question.siteName);
            presenter->showPopoverViewController(page);
        });
    }

    void showRestoreDatabase(RestoreDatabaseReply reply) override {
        show([presenter = presenter_, reply] {
            auto page = pageAt<TBNRestoreDatabasePopoverViewController>(
                "TBNRestoreDatabasePopoverViewController");
            if (!page) return reply(std::nullopt);
            page->setReply(reply);
            presenter->showPopoverViewController(page);
        });
    }

    void showInstallDriver(TBNInstallDriverViewType type, Closed closed) override {
        show([presenter = presenter_, type, closed] {
            auto page = pageAt<TBNInstallDriverPopoverViewController>(
                "TBNInstallDriverPopoverViewController");
            if (!page) {
                if (closed) closed();
                return;
            }
            page->setViewType(type);
            page->setClosed(closed);
            presenter->showPopoverViewController(page);
        });
    }

    void showCreateSSLIdentityAlert(CreateSSLIdentityReply reply) override {
        show([reply] {
            auto* box = new QMessageBox(QMessageBox::Warning, text("SSL_IDENTITY_TITLE"),
                                        text("SSL_IDENTITY_MESSAGE"));
            box->setObjectName("createSSLIdentityAlert");
            auto* create = box->addButton(text("SSL_IDENTITY_CREATE"), QMessageBox::AcceptRole);
            box->addButton(text("SSL_IDENTITY_QUIT"), QMessageBox::RejectRole);
            box->setDefaultButton(create);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::ApplicationModal);
            auto answered = std::make_shared<bool>(false);
            QObject::connect(box, &QMessageBox::buttonClicked, box,
                             [reply, create, answered](QAbstractButton* button) {
                                 *answered = true;
                                 reply(button == create);
                             });
            // Closing the window any other way means quit.
            QObject::connect(box, &QObject::destroyed, [reply, answered] {
                if (!*answered) reply(false);
            });
            box->open();
        });
    }

    void showSSLIdentityFailedAlert(Closed closed) override {
        show([closed] {
            auto* box = new QMessageBox(QMessageBox::Critical, text("SSL_IDENTITY_TITLE"),
                                        text("SSL_IDENTITY_FAILED_MESSAGE"), QMessageBox::Ok);
            box->setObjectName("sslIdentityFailedAlert");
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::ApplicationModal);
            QObject::connect(box, &QObject::destroyed, [closed] {
                if (closed) closed();
            });
            box->open();
        });
    }

    void showGuide(const std::string& titleKey, const std::string& messageKey,
                   bool large) override {
        show([presenter = presenter_, titleKey, messageKey, large] {
            auto page = pageAt<TBNGuidePopoverViewController>(
                large ? "TBNGuidePopoverLargeViewController" : "TBNGuidePopoverViewController");
            if (!page) return;
            page->updateTitle(text(titleKey), text(messageKey));
            presenter->showPopoverViewController(page);
        });
    }

    void showRate() override {
        show([presenter = presenter_] {
            auto page = popoverAtName("TBNRatePopoverViewController");
            if (page) presenter->showPopoverViewController(page);
        });
    }

    void hideCurrentPopover() override { presenter_->hideCurrentPopover(); }

  private:
    // Pages are made on the GUI thread; the service may call from its own loop.
    void show(std::function<void()> fn) { onMainNow(nullptr, std::move(fn)); }

    std::shared_ptr<TBNPopoverPresenter> presenter_;
};

}  // namespace

std::shared_ptr<TBNUIServiceProtocol> makePopoverUIService(
    std::shared_ptr<TBNPopoverPresenter> presenter) {
    return std::make_shared<PopoverUIService>(std::move(presenter));
}

}  // namespace lumvane::ui
