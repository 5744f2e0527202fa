#pragma once
// The remote phone service as the import and export see it.
#include <memory>

#include "core/importexport/ImportExportPhone.h"

namespace lumvane {

class TBNThriftRemoteMobileSevice;

// Forwards to the service's import and export hand-overs; holds the service weakly (once
// it is gone, both callbacks are released uncalled, which the import and export report).
std::shared_ptr<ImportExportPhone> remoteImportExportPhone(
    std::weak_ptr<TBNThriftRemoteMobileSevice> service);

}  // namespace lumvane
