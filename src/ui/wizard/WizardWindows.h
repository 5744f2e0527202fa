#pragma once
// Opening the wizard windows with given services (the launcher's functions use the
// application service's; tests and the demo program pass their own).
#include <memory>

#include "ui/wizard/WizardServices.h"
#include "ui/wizard/WizardWindow.h"

namespace lumvane {

enum class WizardKind { FirstRun, Import, Export };

std::shared_ptr<WizardPage> makeFirstWizardPage(WizardKind kind,
                                                std::shared_ptr<WizardContext> context);

// A new wizard window, shown at its first page; it deletes itself when closed. Services
// left empty get the window's own (Qt loop, alerts, file panels, activation); an empty
// `terminate` ends the wizard as cancelled. The delegate (may be null) is kept alive by
// the window.
WizardWindow* openWizardWindow(WizardKind kind, WizardServices services,
                               std::shared_ptr<WizardFlowDelegate> delegate);

}  // namespace lumvane
