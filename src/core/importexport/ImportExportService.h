#pragma once
// Import of logins into the phone's vault and export of the vault into a file: the part of
// the application service behind the import and export windows. TBNService forwards its
// importWithSourceType / exportWithDestinationType / cancelImport / cancelExport here.
//
// Callbacks (each at most once, in this order; none is ever left out):
//   import: startSendToDevice(), approved(error or nothing), completion(error or nothing)
//   export: approved(error or nothing), startSaveToFile(), completion(error or nothing)
// `completion` is always the last call and always comes: every failure, a refusal by the
// phone (approved with the text, then completion with the same text), an unreachable phone,
// a cancelled transfer, an empty source or a failed write ends with completion(text).
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/importexport/ImportExportPhone.h"
#include "core/importexport/LoginFiles.h"
#include "core/importexport/TBNCSVLoader.h"
#include "protocol/services/ServiceEnums.h"
#include "runtime/DispatchQueue.h"
#include "runtime/TBNWaitManager.h"

namespace lumvane {

// What the browser extension's upload releases the "importFromGoogle" wait with.
struct GoogleImportReport {
    TBNSiteDataList records;
    std::string sourceDetail;
};

class ImportExportService : public std::enable_shared_from_this<ImportExportService> {
  public:
    using Message = std::optional<std::string>;
    using Callback = std::function<void(Message)>;
    using Started = std::function<void()>;

    static constexpr const char* kGoogleWaitName = "importFromGoogle";
    static constexpr const char* kGooglePasswordsUrl = "https://passwords.google.com/?lumvane=1";

    struct Options {
        std::shared_ptr<ImportExportPhone> phone;
        // Whether a phone is paired (default: the settings' first paired device).
        std::function<bool()> hasPairedDevice;
        // Where the work runs (default: the default-priority global queue).
        std::shared_ptr<DispatchQueue> queue;
        // The named waits of the Google import (default: the shared manager).
        TBNWaitManager* waits = nullptr;
        // Opens the Google account's password page in Google Chrome; false when it could
        // not be started (default: starts google-chrome or chromium).
        std::function<bool(const std::string& url)> openInChrome;
        double googleImportTimeout = 3600;
    };

    static std::shared_ptr<ImportExportService> create(Options options);

    void importWithSourceType(int32_t source, const std::filesystem::path& file, Callback approved,
                              Started startSendToDevice, Callback completion);
    void cancelImport();
    void exportWithDestinationType(int32_t destination, const std::filesystem::path& file,
                                   Callback approved, Started startSaveToFile, Callback completion);
    void cancelExport();

    // Readers (run on the import's queue). On their own failure they call `completion`
    // and return an empty list.
    TBNSiteDataList loadRecordsFromLumvaneJsonFile(const std::filesystem::path& file,
                                                   std::shared_ptr<TBNU2FDataList>& u2fRecords,
                                                   const Callback& completion);
    TBNSiteDataList loadRecordsFromDashlaneJsonFile(const std::filesystem::path& file,
                                                    const Callback& completion);
    // Blocks until the extension reports (or the time-out); nothing when the report had
    // no records.
    std::optional<TBNSiteDataList> loadRecordsFromGoogleAccountSourceDetail(
        std::string& sourceDetail, const Callback& completion);
    // The CSV loader with the key maps of the source (attempts tried in order while the
    // loader fails).
    static TBNSiteDataList loadRecordsFromCSVSource(TBNImportSource source,
                                                    const std::filesystem::path& file,
                                                    std::optional<TBNCSVLoaderError>* error);

    // Writers: synchronous, exactly one completion call, the file written atomically.
    static void saveRecords(const TBNSiteDataList& sites, const TBNU2FDataList& u2fRecords,
                            const std::filesystem::path& toLumvaneJsonFile,
                            const Callback& completion);
    static void saveRecordsToLumvaneCSVFile(const TBNSiteDataList& sites,
                                            const std::filesystem::path& file,
                                            const Callback& completion);
    static void saveRecordsToLastpassCSVFile(const TBNSiteDataList& sites,
                                             const std::filesystem::path& file,
                                             const Callback& completion);

    explicit ImportExportService(Options options);

  private:
    struct Transfer;
    void runImport(int32_t source, std::filesystem::path file, std::shared_ptr<Transfer> t);
    void runExport(int32_t destination, std::filesystem::path file, std::shared_ptr<Transfer> t);

    Options options_;
    std::mutex mutex_;
    std::weak_ptr<Transfer> import_;
    std::weak_ptr<Transfer> export_;
};

}  // namespace lumvane
