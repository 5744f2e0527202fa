// The page factory: a new page for each opening, by the page's identifier.
#include <functional>
#include <map>

#include "ui/MorePages.h"
#include "ui/Pages.h"
#include "ui/UserInterface.h"

namespace lumvane::ui {

namespace {

using Maker = std::function<TBNPopoverViewController*()>;

template <class Page>
Maker make() {
    return [] { return new Page(); };
}

const std::map<std::string, Maker>& makers() {
    static const std::map<std::string, Maker> table = {
        {"TBNChooseAccountPopoverViewController", make<TBNChooseAccountPopoverViewController>()},
        {"TBNSaveAccountPopoverViewController", make<TBNSaveAccountPopoverViewController>()},
        {"TBNBackupDatabasePopoverViewController", make<TBNBackupDatabasePopoverViewController>()},
        {"TBNRestoreDatabasePopoverViewController",
         make<TBNRestoreDatabasePopoverViewController>()},
        {"TBNGuidePopoverViewController", [] { return new TBNGuidePopoverViewController(false); }},
        {"TBNGuidePopoverLargeViewController",
         [] { return new TBNGuidePopoverViewController(true); }},
        {"TBNMessagePopoverViewController", make<TBNMessagePopoverViewController>()},
        {"TBNInstallDriverPopoverViewController", make<TBNInstallDriverPopoverViewController>()},
        {"TBNRatePopoverViewController", make<TBNRatePopoverViewController>()},
        {"TBNPasswordGeneratorPopoverViewController",
         make<TBNPasswordGeneratorPopoverViewController>()},
        {"TBNPasswordGeneratorV2PopoverViewController",
         make<TBNPasswordGeneratorV2PopoverViewController>()},
        {"TBNAboutPopoverViewController", make<TBNAboutPopoverViewController>()},
        {"TBNDebugSettingsPopoverViewController", make<TBNDebugSettingsPopoverViewController>()},
        {"TBNPairDevicePopoverViewController", make<TBNPairDevicePopoverViewController>()},
    };
    return table;
}

}  // namespace

std::shared_ptr<TBNPopoverViewController> popoverAtName(const std::string& identifier) {
    auto it = makers().find(identifier);
    if (it == makers().end()) return nullptr;
    // Pages are deleted on the GUI thread whoever drops the last reference.
    return std::shared_ptr<TBNPopoverViewController>(
        it->second(), [](TBNPopoverViewController* page) { page->deleteLater(); });
}

}  // namespace lumvane::ui
