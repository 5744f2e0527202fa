#pragma once
// The simulated phone's side of the Mac's own mobile-storage calls: backups and restores,
// clipboard values and URLs it puts up for the Mac, passwords it receives, import and
// export transfers and U2F requests. It keeps everything it received so tests can compare
// it with what the Mac sent, and answers from what a test put up.
//
// Import: requestForImportSiteData answers a fresh token (or the refusal a test set);
// importSiteData checks the token, reads the payload by its typeSerialize and stores the
// collection. Export: requestForExportSiteData answers a token; exportSiteData under that
// token answers the export collection (default: the vault's sites with passwords and
// two-factor data), bzip2-compressed, or the raw payload a test put up.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "idl/database.h"
#include "idl/protocols.h"
#include "runtime/Bytes.h"

namespace lumvane::phonesim {

class PhoneVault;

class PhoneMobileStorage {
  public:
    explicit PhoneMobileStorage(PhoneVault& vault);

    // Makes a service that answers these calls here and passes the others (approval,
    // info, caches) to `inner`.
    std::shared_ptr<TBNMobileStorageService> wrap(std::shared_ptr<TBNMobileStorageService> inner);

    // ---- What the phone puts up ----
    // The backup getBackUp hands out (nothing: "no backup") and the phone's time of it.
    void setBackUp(std::optional<Bytes> backUp, int64_t lastBackUpTime);
    // The clipboard answer (fields left unset stay unset on the wire).
    void setClipboard(std::shared_ptr<TBNLoadDataForClipboardResponse> answer);
    void setUrlToOpen(std::optional<std::string> url);
    // The records exportSiteData sends (replaces the vault-derived default).
    void setExportRecords(std::shared_ptr<TBNSiteDataCollection> records);
    // Sends exactly these bytes with this typeSerialize instead.
    void setExportPayload(int32_t typeSerialize, Bytes bytes);
    // Answers U2F requests; nothing: an answer without responseRaw. Runs on the phone's
    // work queue; it may block to make a request slow.
    using U2FResponder =
        std::function<std::optional<Bytes>(bool registering, const Bytes& requestRaw)>;
    void setU2FResponder(U2FResponder responder);
    // Runs before the phone answers any call of the mobile-storage service (outside its
    // locks, on the phone's work queue), with the method's name: tests block it to hold a
    // call in flight.
    void setBeforeAnswer(std::function<void(const std::string& method)> hook);
    // Answers the named method ("getBackUp", "requestForImportSiteData", ...) with this
    // error (category, id, text) until cleared.
    void setMethodError(const std::string& method, std::shared_ptr<TBNError> error);

    // ---- What the phone received ----
    struct BackUpRequest {
        int64_t lastBackUpTime = 0;
    };
    struct BackUpResult {
        std::shared_ptr<TBNError> result;
        int64_t backupTime = 0;
    };
    struct Restore {
        std::optional<Bytes> backUp;
        std::shared_ptr<TBNError> result;
    };
    struct ImportRequest {
        int32_t source = -1;
        std::optional<std::string> sourceName, sourceDetail;
        int32_t recordCount = -1;
    };
    struct Imported {
        std::string token;
        int32_t typeSerialize = -1;
        std::shared_ptr<TBNSiteDataCollection> records;  // null when unreadable
    };
    struct ExportRequest {
        int32_t destination = -1;
        std::optional<std::string> destinationName, destinationDetail;
    };
    struct U2FRequest {
        bool registering = false;
        Bytes requestRaw;
        bool siteUrlSet = false, loginSet = false;
    };
    struct CacheRequest {
        std::string method;  // "getSitesCache" or "getAccountsCache"
        int64_t updateTimeStamp = -1;
        bool includeAccountsCache = false;
        std::optional<std::string> siteUrl, domain;
    };
    struct Received {
        std::vector<CacheRequest> cacheRequests;
        std::vector<BackUpRequest> backUpRequests;
        std::vector<BackUpResult> backUpResults;
        std::vector<Restore> restores;
        std::vector<std::string> passwords;
        size_t clipboardRequests = 0;
        size_t urlRequests = 0;
        std::vector<ImportRequest> importRequests;
        std::vector<Imported> imports;
        std::vector<ExportRequest> exportRequests;
        size_t exports = 0;
        std::vector<U2FRequest> u2fRequests;
        std::vector<std::string> badTokens;  // transfer calls under a token never given
        std::vector<std::string> clientIds;  // the credentials of every call, in order
    };
    Received received() const;

    // The export default: the vault's sites, logins with passwords and two-factor data.
    std::shared_ptr<TBNSiteDataCollection> vaultCollection() const;

  private:
    class Service;
    friend class Service;

    PhoneVault& vault_;
    mutable std::mutex mutex_;
    std::optional<Bytes> backUp_;
    int64_t lastBackUpTime_ = 0;
    std::shared_ptr<TBNLoadDataForClipboardResponse> clipboard_;
    std::optional<std::string> url_;
    std::shared_ptr<TBNSiteDataCollection> exportRecords_;
    std::optional<std::pair<int32_t, Bytes>> exportPayload_;
    U2FResponder u2f_;
    std::function<void(const std::string&)> beforeAnswer_;
    std::vector<std::pair<std::string, std::shared_ptr<TBNError>>> methodErrors_;
    std::vector<std::string> importTokens_, exportTokens_;
    uint64_t tokenCounter_ = 0;
    Received received_;
};

}  // namespace lumvane::phonesim
