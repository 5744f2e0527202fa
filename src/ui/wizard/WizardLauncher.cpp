#include "ui/wizard/WizardLauncher.h"

#include <QPointer>

#include <map>

#include "app/shell/QtMainLoop.h"
#include "core/service/TBNService.h"
#include "runtime/MainLoop.h"
#include "ui/wizard/WizardFirstRunPages.h"
#include "ui/wizard/WizardImportExportPages.h"
#include "ui/wizard/WizardWindows.h"

namespace lumvane {

std::shared_ptr<WizardPage> makeFirstWizardPage(WizardKind kind,
                                                std::shared_ptr<WizardContext> context) {
    switch (kind) {
        case WizardKind::FirstRun:
            return std::make_shared<WizardWelcomePage>(std::move(context));
        case WizardKind::Import:
            return std::make_shared<WizardImportPage>(std::move(context));
        case WizardKind::Export:
            return std::make_shared<WizardExportPage>(std::move(context));
    }
    return nullptr;
}

WizardWindow* openWizardWindow(WizardKind kind, WizardServices services,
                               std::shared_ptr<WizardFlowDelegate> delegate) {
    // The application's main loop: Qt's event loop, which the application installed.
    if (!services.loop) services.loop = MainLoop::main();
    auto context = std::make_shared<WizardContext>(std::move(services));
    auto flow = std::make_shared<WizardFlow>(context);
    flow->setDelegate(delegate);
    flow->setFirstPage(makeFirstWizardPage(kind, context));
    auto* window = new WizardWindow(flow);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<WizardWindow> guarded = window;
    WizardWindow::bindWindowServices(context->services, guarded);
    if (!context->services.terminate) {
        std::weak_ptr<WizardFlow> weak = flow;
        context->services.terminate = [weak] {
            if (auto f = weak.lock()) f->abort();
        };
    }
    // The delegate lives as long as the window.
    QObject::connect(window, &QObject::destroyed, [delegate] {});
    window->start();
    return window;
}

namespace {

// Tells the application's owner how the first run ended. With the owner gone, a
// cancelled first run still ends the application rather than leaving it without wizard
// and without service.
class FirstRunDelegate : public WizardFlowDelegate {
  public:
    explicit FirstRunDelegate(std::weak_ptr<TBNWizardWindowControllerDelegate> owner)
        : owner_(std::move(owner)) {}
    void wizardFlowDidCancel() override {
        if (auto owner = owner_.lock()) {
            owner->wizardWindowControllerDidCanceled();
        } else {
            quitApplication();
        }
    }
    void wizardFlowDidFinish() override {
        if (auto owner = owner_.lock()) owner->wizardWindowControllerDidFinished();
    }

  private:
    std::weak_ptr<TBNWizardWindowControllerDelegate> owner_;
};

// One window of each kind at a time; asking again raises the open one.
std::map<WizardKind, QPointer<WizardWindow>>& openWindows() {
    static std::map<WizardKind, QPointer<WizardWindow>> windows;
    return windows;
}

void show(WizardKind kind, const std::shared_ptr<TBNService>& service,
          std::shared_ptr<WizardFlowDelegate> delegate,
          std::weak_ptr<TBNWizardWindowControllerDelegate> owner = {}) {
    auto& open = openWindows()[kind];
    if (open) {
        open->raise();
        open->activateWindow();
        return;
    }
    if (!service) return;
    WizardServices services = wizardServicesFor(service);
    if (!owner.expired()) {
        std::weak_ptr<TBNService> weakService = service;
        services.startService = [owner, weakService] {
            if (auto o = owner.lock()) {
                o->wizardWindowControllerStartService();
            } else if (auto s = weakService.lock()) {
                s->start();
            }
        };
    }
    open = openWizardWindow(kind, std::move(services), std::move(delegate));
}

}  // namespace

namespace ui {

void showFirstRunWizard(std::shared_ptr<TBNService> service,
                        std::weak_ptr<TBNWizardWindowControllerDelegate> delegate) {
    show(WizardKind::FirstRun, service, std::make_shared<FirstRunDelegate>(delegate), delegate);
}

void showImportWindow(std::shared_ptr<TBNService> service) {
    show(WizardKind::Import, service, nullptr);
}

void showExportWindow(std::shared_ptr<TBNService> service) {
    show(WizardKind::Export, service, nullptr);
}

}  // namespace ui
}  // namespace lumvane
