#pragma once
// What the extension handlers need of the application service: the questions to the
// user (save, update, choose an account), the news of every extension ping, and the
// hand-over of the logins that an extension read from the user's Google account.
//
// The application service (TBNService) implements TBNThriftHostServiceDelegate and hands
// itself, weakly, to TBNThriftHostService. Every question is asked on a server connection
// thread and may block it until the user answers or the question times out; it is never
// asked on the main thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "idl/protocols.h"
#include "idl/structures.h"

namespace lumvane {

class TBNThriftHostService;

// The answer to a save or update question.
using TBNSaveVariant = uint64_t;
inline constexpr TBNSaveVariant TBNSaveVariantTimeout = 0;      // extension gets "User timeout"
inline constexpr TBNSaveVariant TBNSaveVariantDecline = 1;      // extension gets "User canceled"
inline constexpr TBNSaveVariant TBNSaveVariantSave = 2;         // saved on the phone
inline constexpr TBNSaveVariant TBNSaveVariantSaveSecured = 3;  // saved, marked secured
// Any other value is taken as TBNSaveVariantSave.

// The Objective-C selectors of this protocol all begin with "thriftHostService:", so the
// C++ names keep the second selector part to tell them apart.
class TBNThriftHostServiceDelegate {
  public:
    virtual ~TBNThriftHostServiceDelegate() = default;

    // A new login for the site. `loginData` is the request's record (login and password
    // never absent, possibly empty); the delegate may replace its login and password with
    // what the user typed. `siteUrl` is the site origin ("scheme://host"), `siteName` the
    // site domain; both empty when the request had no site URL.
    virtual TBNSaveVariant thriftHostServiceCanSaveLoginData(TBNThriftHostService& service,
                                                             TBNLoginData& loginData,
                                                             const std::string& siteUrl,
                                                             const std::string& siteName) = 0;
    // The same for a login the phone already holds.
    virtual TBNSaveVariant thriftHostServiceCanUpdateLoginData(TBNThriftHostService& service,
                                                               TBNLoginData& loginData,
                                                               const std::string& siteUrl,
                                                               const std::string& siteName) = 0;
    // Declared for completeness; the handlers never ask it.
    virtual TBNSaveVariant thriftHostServiceCanApproveExtension(TBNThriftHostService& service,
                                                                const std::string& extension,
                                                                const std::string& siteUrl,
                                                                const std::string& siteName) {
        (void)service, (void)extension, (void)siteUrl, (void)siteName;
        return TBNSaveVariantDecline;
    }
    // Which of `accounts` (already in the order to offer) to fill in: an index into the
    // list, or a negative number for none. `usingAccountCache` is the request's noCache
    // flag as the extension sent it. The default answers nothing at all, which means this
    // delegate does not ask: the handler then answers the first account without asking.
    // An index past the end of the list is taken as no choice.
    virtual std::optional<int64_t> thriftHostServiceChooseDefaultAccount(
        TBNThriftHostService& service, const std::vector<std::string>& accounts,
        const std::string& siteUrl, const std::string& siteName, bool usingAccountCache) {
        (void)service, (void)accounts, (void)siteUrl, (void)siteName, (void)usingAccountCache;
        return std::nullopt;
    }
    // Every ping, approved or not, after the handler has made up its answer.
    virtual void thriftHostServiceDidPingFromExtensionId(
        TBNThriftHostService& service, const std::optional<std::string>& extensionId,
        const std::optional<std::string>& extensionVersion) = 0;
};

// The import of logins from the password page of the user's Google account.
//
// The application service opens that page and waits on the named wait
// kTBNImportFromGoogleWaitName (TBNWaitManager, 3600 s). When an extension then calls
// importSiteDataFromGoogle, the host service releases that wait with a
// TBNGoogleImportResult held in the std::any:
//
//   std::any answer = waits.waitWithName(kTBNImportFromGoogleWaitName, 3600.0);
//   if (auto* result = std::any_cast<TBNGoogleImportResult>(&answer)) { ... }
//
// Records are accepted only while such a wait is pending; the host service and the
// application service must use the same TBNWaitManager.
inline constexpr const char* kTBNImportFromGoogleWaitName = "importFromGoogle";
inline constexpr double kTBNImportFromGoogleTimeout = 3600.0;

struct TBNGoogleImportResult {
    // Each with a site URL ("http://<domain>" when it came without), that URL among its
    // form URLs, and plain-text passwords (a password that was not Base64 of UTF-8 text
    // is absent).
    std::vector<std::shared_ptr<TBNSiteData>> records;
    // The request's detail text; empty when it had none.
    std::string sourceDetail;
};

}  // namespace lumvane
