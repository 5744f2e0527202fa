#pragma once
// What the application shell needs of the first-run wizard and the import and export
// windows. Main (GUI) thread only.
#include <memory>

namespace lumvane {

class TBNService;

class TBNWizardWindowControllerDelegate {
  public:
    virtual ~TBNWizardWindowControllerDelegate() = default;
    // The user cancelled (or closed the window): the application quits.
    virtual void wizardWindowControllerDidCanceled() = 0;
    // The wizard ended with a paired phone and doneWizard set.
    virtual void wizardWindowControllerDidFinished() = 0;
    // The extensions page starts the service (the identity question answered): through
    // the application, which says that it serves and brings the status icon in step.
    virtual void wizardWindowControllerStartService() = 0;
};

namespace ui {

// The first-run wizard, from its welcome page. Its browser-extensions page starts
// `service` (after the local TLS identity question).
void showFirstRunWizard(std::shared_ptr<TBNService> service,
                        std::weak_ptr<TBNWizardWindowControllerDelegate> delegate);
// The import and export windows of the status menu (no delegate).
void showImportWindow(std::shared_ptr<TBNService> service);
void showExportWindow(std::shared_ptr<TBNService> service);

}  // namespace ui
}  // namespace lumvane
