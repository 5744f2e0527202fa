#pragma once
// What import and export need from the remote phone service: the two transfers of the
// mobile-storage service (request, then the data call under the phone's token). The
// remote phone service implements this; tests use a fake vault.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "idl/protocols.h"
#include "idl/structures.h"

namespace lumvane {

using TBNSiteDataList = std::vector<std::shared_ptr<TBNSiteData>>;
using TBNU2FDataList = std::vector<std::shared_ptr<TBNU2FData>>;
using TBNErrorPtr = std::shared_ptr<TBNError>;

class ImportExportPhone {
  public:
    using Answer = std::function<void(TBNErrorPtr error)>;
    using ExportDone =
        std::function<void(std::shared_ptr<TBNSiteDataList> sites,
                           std::shared_ptr<TBNU2FDataList> u2fRecords, TBNErrorPtr error)>;

    virtual ~ImportExportPhone() = default;

    // Asks the phone to accept the records (requestForImportSiteData, recordCount = the
    // logins summed over the sites), then sends them under the phone's token
    // (importSiteData, payload from importPayload()). Returns at once. Calls `approved`
    // once with the request's error or null; only when that was null, `completion` once
    // with the import call's error or null. An implementation that cannot reach the
    // phone, fails or is cancelled may simply drop both callbacks: the caller turns a
    // callback released uncalled into an error of its own.
    virtual void importRecords(TBNSiteDataList sites, std::shared_ptr<TBNU2FDataList> u2fRecords,
                               std::string sourceName, std::string sourceDetail, Answer approved,
                               Answer completion) = 0;
    // Stops a running import at its next step.
    virtual void cancelImport() = 0;

    // requestForExportSiteData, then exportSiteData under the token; the records are read
    // from the answer with recordsFromExportPayload(). Same callback rules as the import;
    // `completion` gets null lists with an error.
    virtual void exportRecordsTo(std::string destinationName, std::string destinationDetail,
                                 Answer approved, ExportDone completion) = 0;
    virtual void cancelExport() = 0;
};

}  // namespace lumvane
