#include "core/importexport/ImportExportService.h"

#include <spawn.h>
#include <sys/wait.h>

#include <any>
#include <atomic>
#include <thread>

#include "core/importexport/ImportPayload.h"
#include "protocol/TBNErrors.h"
#include "runtime/FreedMemory.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

extern char** environ;

namespace lumvane {

namespace {

constexpr const char* kUnsupportedData = "Unsuported data format";
constexpr const char* kOffline = "Paired device is offline";
constexpr const char* kInvalidFile = "Invalid file format";
constexpr const char* kGoogleTimeout = "Timeout of import from google account";
constexpr const char* kChromeNotOpened = "Google Chrome could not be opened";
constexpr const char* kNotText = "The file is not a text file";
constexpr const char* kNotLogins = "Most lines of the file are not logins of this kind";

std::string cancelledText() {
    auto e = TBNErrors::requestCanceledByUser();
    return e->debugMessage().value_or("User canceled");
}

std::optional<std::string> messageOf(const TBNErrorPtr& error) {
    if (!error) return std::nullopt;
    if (error->debugMessage() && !error->debugMessage()->empty()) return error->debugMessage();
    return std::string("Unknown error");
}

bool spawnChrome(const std::string& url) {
    for (const char* program :
         {"google-chrome", "google-chrome-stable", "chromium", "chromium-browser"}) {
        pid_t pid = 0;
        std::string name = program;
        std::string arg = url;
        char* argv[] = {name.data(), arg.data(), nullptr};
        if (::posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) == 0) {
            std::thread([pid] {
                int status = 0;
                ::waitpid(pid, &status, 0);
            }).detach();
            return true;
        }
    }
    return false;
}

// The CSV key maps of the sources, each source's attempts in order.
struct Attempt {
    TBNCSVKeyMap keys;
    std::vector<TBNCSVLoaderFilter> filters;
};

std::vector<Attempt> csvAttempts(TBNImportSource source) {
    switch (source) {
        case TBNImportSource::LUMVANE_CSV: {
            TBNCSVKeyMap keys;
            for (const char* k :
                 {"url", "domain", "display_name", "login", "password", "account", "email",
                  "phone_prefix", "phone", "user_name", "first_name", "last_name", "full_name",
                  "company", "applicant_id", "zipcode", "notes", "is_secured", "is_favorited"})
                keys.columns[k] = k;
            return {{keys, {}}};
        }
        case TBNImportSource::LASTPASS_CSV: {
            auto named = TBNCSVKeyMap::byName({{"url", "url"},
                                               {"domain", "name"},
                                               {"login", "username"},
                                               {"password", "password"},
                                               {"notes", "extra"},
                                               {"is_favorited", "fav"}});
            auto numbered = TBNCSVKeyMap::byColumn({{"url", 0},
                                                    {"domain", 4},
                                                    {"login", 1},
                                                    {"password", 2},
                                                    {"notes", 3},
                                                    {"is_favorited", 6}});
            // LastPass writes the favourite flag as "1" and every value with "&", "<" and
            // ">" as entities.
            for (auto* k : {&named, &numbered}) {
                k->trueTexts.insert("1");
                k->htmlEntities = true;
            }
            return {{named, {}}, {numbered, {}}};
        }
        case TBNImportSource::DASHLANE_CSV: {
            TBNCSVLoaderFilter count;
            count.allowedColumnCount = 5;
            TBNCSVLoaderFilter notBirth;
            notBirth.columnNotContainesValue = {{"1", "place-of-birth"}};
            return {{TBNCSVKeyMap::byColumn(
                         {{"url", 1}, {"domain", 0}, {"login", 2}, {"password", 3}, {"notes", 4}}),
                     {count, notBirth}}};
        }
        case TBNImportSource::KEEPASS_CSV: {
            auto named = TBNCSVKeyMap::byName({{"url", "Web Site"},
                                               {"domain", "Account"},
                                               {"login", "Login Name"},
                                               {"password", "Password"},
                                               {"notes", "Comments"}});
            auto numbered = TBNCSVKeyMap::byColumn(
                {{"url", 3}, {"domain", 0}, {"login", 1}, {"password", 2}, {"notes", 4}});
            // KeePass 1.x writes \\ and \" inside its quoted values.
            named.backslashEscapes = numbered.backslashEscapes = true;
            return {{named, {}}, {numbered, {}}};
        }
        case TBNImportSource::TRUEKEY_CSV: {
            TBNCSVLoaderFilter kind;
            kind.columnContainesValue = {{"kind", "login"}};
            return {{TBNCSVKeyMap::byName({{"url", "url"},
                                           {"domain", "name"},
                                           {"login", "login"},
                                           {"password", "password"},
                                           {"notes", "memo"},
                                           {"account", "memberId"},
                                           {"email", "email"},
                                           {"phone", "telephone"},
                                           {"first_name", "firstName"},
                                           {"last_name", "lastName"},
                                           {"company", "company"},
                                           {"zipcode", "zipCode"}}),
                     {kind}}};
        }
        case TBNImportSource::ONEPASSWORD_CSV: {
            TBNCSVLoaderFilter byName;
            byName.columnContainesValue = {{"Type", "Login"}};
            TBNCSVLoaderFilter col3;
            col3.columnContainesValue = {{"3", "Login"}};
            TBNCSVLoaderFilter col121;
            col121.columnContainesValue = {{"121", "Login"}};
            return {{TBNCSVKeyMap::byName({{"url", "URL"},
                                           {"domain", "Title"},
                                           {"login", "Username"},
                                           {"password", "Password"},
                                           {"notes", "Notes"}}),
                     {byName}},
                    {TBNCSVKeyMap::byColumn(
                         {{"url", 4}, {"domain", 2}, {"login", 5}, {"password", 1}, {"notes", 0}}),
                     {col3}},
                    {TBNCSVKeyMap::byColumn({{"url", 126},
                                             {"domain", 120},
                                             {"login", 128},
                                             {"password", 76},
                                             {"notes", 70}}),
                     {col121}}};
        }
        default:
            return {};
    }
}

}  // namespace

struct ImportExportService::Transfer {
    explicit Transfer(Callback a, Started s, Callback c)
        : approvedCb(std::move(a)), startedCb(std::move(s)), completionCb(std::move(c)) {}

    void approve(Message message) {
        Callback cb;
        {
            std::lock_guard<std::mutex> g(mutex);
            if (approved || finished) return;
            approved = true;
            cb = std::move(approvedCb);
        }
        if (cb) cb(std::move(message));
    }
    void start() {
        Started cb;
        {
            std::lock_guard<std::mutex> g(mutex);
            if (started || finished) return;
            started = true;
            cb = std::move(startedCb);
        }
        if (cb) cb();
    }
    void finish(Message message) {
        Callback cb;
        {
            std::lock_guard<std::mutex> g(mutex);
            if (finished) return;
            finished = true;
            cb = std::move(completionCb);
            approvedCb = nullptr;
            startedCb = nullptr;
        }
        if (cb) cb(std::move(message));
        // A large file leaves hundreds of megabytes of small freed pieces behind, which the
        // allocator would keep for the rest of the run.
        returnFreedMemoryToSystem();
    }
    // A refusal ends the transfer: approved with the text, then completion with it.
    void refuse(const std::string& message) {
        approve(message);
        finish(message);
    }
    bool isFinished() {
        std::lock_guard<std::mutex> g(mutex);
        return finished;
    }

    std::mutex mutex;
    Callback approvedCb;
    Started startedCb;
    Callback completionCb;
    bool approved = false;
    bool started = false;
    bool finished = false;
    std::atomic<bool> cancelled{false};
};

namespace {

// Shared by the callbacks handed to the phone: when the last of them is released without
// having ended the transfer, the transfer ends with an error here.
template <class TransferT>
struct PhoneGuard {
    explicit PhoneGuard(std::shared_ptr<TransferT> t) : transfer(std::move(t)) {}
    ~PhoneGuard() {
        if (transfer->isFinished()) return;
        std::string message =
            transfer->cancelled
                ? cancelledText()
                : TBNErrors::deviceNotFound()->debugMessage().value_or("Device not available");
        TBN_LOG_WARN("core|import|export", "phone transfer ended without an answer");
        transfer->refuse(message);
    }
    std::shared_ptr<TransferT> transfer;
};

}  // namespace

std::shared_ptr<ImportExportService> ImportExportService::create(Options options) {
    return std::make_shared<ImportExportService>(std::move(options));
}

ImportExportService::ImportExportService(Options options) : options_(std::move(options)) {
    if (!options_.hasPairedDevice)
        options_.hasPairedDevice = [] {
            return TBNSettings::sharedSettings().firstPairedDevice() != nullptr;
        };
    if (!options_.queue) options_.queue = DispatchQueue::global(DispatchQueue::Priority::Default);
    if (!options_.waits) options_.waits = &TBNWaitManager::sharedManager();
    if (!options_.openInChrome) options_.openInChrome = spawnChrome;
}

// ---- Import -------------------------------------------------------------------------

void ImportExportService::importWithSourceType(int32_t source, const std::filesystem::path& file,
                                               Callback approved, Started startSendToDevice,
                                               Callback completion) {
    auto t = std::make_shared<Transfer>(std::move(approved), std::move(startSendToDevice),
                                        std::move(completion));
    bool paired = false;
    try {
        paired = options_.phone && options_.hasPairedDevice();
    } catch (const std::exception& e) {
        TBN_LOG_ERROR("core|import", "paired device check failed: {}", e.what());
    }
    if (!paired) {
        t->finish(std::string(kOffline));
        return;
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        import_ = t;
    }
    auto self = shared_from_this();
    options_.queue->async([self, source, file, t] { self->runImport(source, file, t); });
}

void ImportExportService::cancelImport() {
    std::shared_ptr<Transfer> t;
    {
        std::lock_guard<std::mutex> g(mutex_);
        t = import_.lock();
    }
    if (t) t->cancelled = true;
    // A Google import may be waiting for the extension.
    options_.waits->releaseForName(kGoogleWaitName);
    if (options_.phone) options_.phone->cancelImport();
}

TBNSiteDataList ImportExportService::loadRecordsFromCSVSource(
    TBNImportSource source, const std::filesystem::path& file,
    std::optional<TBNCSVLoaderError>* error) {
    TBNSiteDataList sites;
    auto text = readImportFile(file);
    // Read by column numbers, any bytes give some "logins": a file that is not text, or
    // whose lines mostly do not have the shape of a login, is refused instead.
    if (text && !looksLikeText(*text)) {
        if (error) *error = TBNCSVLoaderError{-4, kNotText};
        return sites;
    }
    for (const auto& attempt : csvAttempts(source)) {
        std::optional<TBNCSVLoaderError> attemptError;
        TBNCSVLoadStats stats;
        sites = TBNCSVLoader::loadFromText(text.value_or(""), attempt.keys, attempt.filters,
                                           &attemptError, &stats);
        if (!attemptError && stats.misshapenRows * 2 > stats.rows) {
            attemptError = TBNCSVLoaderError{-5, kNotLogins};
            sites.clear();
        }
        if (error) *error = attemptError;
        if (!attemptError) break;
    }
    return sites;
}

TBNSiteDataList ImportExportService::loadRecordsFromLumvaneJsonFile(
    const std::filesystem::path& file, std::shared_ptr<TBNU2FDataList>& u2fRecords,
    const Callback& completion) {
    auto text = readImportFile(file);
    auto content = text ? readLumvaneJson(*text) : std::nullopt;
    if (!content) {
        if (completion) completion(std::string(kInvalidFile));
        return {};
    }
    u2fRecords = content->u2fRecords;
    return std::move(content->sites);
}

TBNSiteDataList ImportExportService::loadRecordsFromDashlaneJsonFile(
    const std::filesystem::path& file, const Callback& completion) {
    auto text = readImportFile(file);
    auto sites = text ? readDashlaneJson(*text) : std::nullopt;
    if (!sites) {
        if (completion) completion(std::string(kInvalidFile));
        return {};
    }
    return std::move(*sites);
}

std::optional<TBNSiteDataList> ImportExportService::loadRecordsFromGoogleAccountSourceDetail(
    std::string& sourceDetail, const Callback& completion) {
    if (!options_.openInChrome(kGooglePasswordsUrl)) {
        if (completion) completion(std::string(kChromeNotOpened));
        return TBNSiteDataList{};
    }
    std::any response = options_.waits->waitWithName(kGoogleWaitName, options_.googleImportTimeout);
    if (!response.has_value()) {
        if (completion) completion(std::string(kGoogleTimeout));
        return TBNSiteDataList{};
    }
    const auto* report = std::any_cast<GoogleImportReport>(&response);
    if (!report || report->records.empty()) return std::nullopt;
    sourceDetail = report->sourceDetail;
    return report->records;
}

void ImportExportService::runImport(int32_t source, std::filesystem::path file,
                                    std::shared_ptr<Transfer> t) {
    try {
        Callback fail = [t](Message m) {
            t->finish(t->cancelled ? cancelledText() : std::move(m));
        };
        TBNSiteDataList sites;
        std::shared_ptr<TBNU2FDataList> u2f;
        std::string detail = file.filename().string();
        auto type = static_cast<TBNImportSource>(source);
        switch (type) {
            case TBNImportSource::LUMVANE_JSON:
                u2f = std::make_shared<TBNU2FDataList>();
                sites = loadRecordsFromLumvaneJsonFile(file, u2f, fail);
                break;
            case TBNImportSource::LUMVANE_CSV:
            case TBNImportSource::LASTPASS_CSV:
            case TBNImportSource::DASHLANE_CSV:
            case TBNImportSource::KEEPASS_CSV:
            case TBNImportSource::TRUEKEY_CSV:
            case TBNImportSource::ONEPASSWORD_CSV: {
                std::optional<TBNCSVLoaderError> error;
                sites = loadRecordsFromCSVSource(type, file, &error);
                if (error) {
                    t->finish(error->localizedDescription());
                    return;
                }
                break;
            }
            case TBNImportSource::DASHLANE_JSON:
                sites = loadRecordsFromDashlaneJsonFile(file, fail);
                break;
            case TBNImportSource::GOOGLE_ACCOUNT: {
                detail.clear();
                auto collected = loadRecordsFromGoogleAccountSourceDetail(detail, fail);
                if (!collected) {
                    t->finish(std::string(kUnsupportedData));
                    return;
                }
                sites = std::move(*collected);
                break;
            }
            default:
                t->finish(std::string(kUnsupportedData));
                return;
        }
        if (t->isFinished()) return;  // the reader reported its own failure
        if (t->cancelled) {
            t->finish(cancelledText());
            return;
        }
        // A source that holds nothing to import is an error, not a silent end.
        if (importRecordCount(sites) == 0 && (!u2f || u2f->empty())) {
            t->finish(std::string(kUnsupportedData));
            return;
        }
        t->start();
        for (const auto& site : sites)
            for (const auto& login : *site->loginData())
                if (!login->login()) login->setLogin(std::string());

        auto guard = std::make_shared<PhoneGuard<Transfer>>(t);
        options_.phone->importRecords(
            std::move(sites), u2f, importSourceName(source).value_or(""), detail,
            [guard](TBNErrorPtr error) {
                auto message = messageOf(error);
                if (message)
                    guard->transfer->refuse(*message);
                else
                    guard->transfer->approve(std::nullopt);
            },
            [guard](TBNErrorPtr error) { guard->transfer->finish(messageOf(error)); });
    } catch (const std::exception& e) {
        TBN_LOG_ERROR("core|import", "import failed: {}", e.what());
        t->finish(std::string(kUnsupportedData));
    }
}

// ---- Export -------------------------------------------------------------------------

void ImportExportService::exportWithDestinationType(int32_t destination,
                                                    const std::filesystem::path& file,
                                                    Callback approved, Started startSaveToFile,
                                                    Callback completion) {
    auto t = std::make_shared<Transfer>(std::move(approved), std::move(startSaveToFile),
                                        std::move(completion));
    bool paired = false;
    try {
        paired = options_.phone && options_.hasPairedDevice();
    } catch (const std::exception& e) {
        TBN_LOG_ERROR("core|export", "paired device check failed: {}", e.what());
    }
    if (!paired) {
        t->finish(std::string(kOffline));
        return;
    }
    if (destination < 0 || destination > 2) {
        // Nothing could write such a file: do not ask the phone for the vault at all.
        t->finish(std::string(kUnsupportedData));
        return;
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        export_ = t;
    }
    auto self = shared_from_this();
    options_.queue->async([self, destination, file, t] { self->runExport(destination, file, t); });
}

void ImportExportService::cancelExport() {
    std::shared_ptr<Transfer> t;
    {
        std::lock_guard<std::mutex> g(mutex_);
        t = export_.lock();
    }
    if (t) t->cancelled = true;
    if (options_.phone) options_.phone->cancelExport();
}

void ImportExportService::runExport(int32_t destination, std::filesystem::path file,
                                    std::shared_ptr<Transfer> t) {
    try {
        auto guard = std::make_shared<PhoneGuard<Transfer>>(t);
        options_.phone->exportRecordsTo(
            exportDestinationName(destination), file.filename().string(),
            [guard](TBNErrorPtr error) {
                auto message = messageOf(error);
                if (message)
                    guard->transfer->refuse(*message);
                else
                    guard->transfer->approve(std::nullopt);
            },
            [guard, destination, file](std::shared_ptr<TBNSiteDataList> sites,
                                       std::shared_ptr<TBNU2FDataList> u2f, TBNErrorPtr error) {
                auto& transfer = guard->transfer;
                if (auto message = messageOf(error)) {
                    transfer->finish(message);
                    return;
                }
                if (transfer->cancelled) {
                    transfer->finish(cancelledText());
                    return;
                }
                TBNSiteDataList records = sites ? *sites : TBNSiteDataList{};
                TBNU2FDataList keys = u2f ? *u2f : TBNU2FDataList{};
                // A hole in what arrived means the vault did not come whole: no file.
                for (const auto& site : records) {
                    bool broken = !site;
                    if (site && site->loginData())
                        for (const auto& login : *site->loginData()) broken = broken || !login;
                    if (broken) {
                        transfer->finish(std::string(kUnsupportedData));
                        return;
                    }
                }
                for (const auto& key : keys) {
                    if (!key) {
                        transfer->finish(std::string(kUnsupportedData));
                        return;
                    }
                }
                transfer->start();
                Callback done = [transfer](Message m) { transfer->finish(std::move(m)); };
                try {
                    switch (destination) {
                        case 0:
                            saveRecords(records, keys, file, done);
                            break;
                        case 1:
                            saveRecordsToLumvaneCSVFile(records, file, done);
                            break;
                        default:
                            saveRecordsToLastpassCSVFile(records, file, done);
                            break;
                    }
                } catch (const std::exception& e) {
                    TBN_LOG_ERROR("core|export", "export failed: {}", e.what());
                    transfer->finish(std::string("Unknown error"));
                }
            });
    } catch (const std::exception& e) {
        TBN_LOG_ERROR("core|export", "export failed: {}", e.what());
        t->finish(std::string("Unknown error"));
    }
}

namespace {

void writeAndReport(const std::string& text, const std::filesystem::path& file,
                    const ImportExportService::Callback& completion) {
    auto failure = writeFileAtomically(file, text);
    if (failure) TBN_LOG_ERROR("ui|service", "export file not written: {}", *failure);
    if (completion) completion(failure);
}

}  // namespace

void ImportExportService::saveRecords(const TBNSiteDataList& sites,
                                      const TBNU2FDataList& u2fRecords,
                                      const std::filesystem::path& toLumvaneJsonFile,
                                      const Callback& completion) {
    TBN_LOG_INFO_BEGIN("ui|service");
    std::string text;
    try {
        text = lumvaneJsonText(sites, u2fRecords);
    } catch (const std::exception& e) {
        if (completion) completion(std::string(e.what()));
        return;
    }
    writeAndReport(text, toLumvaneJsonFile, completion);
    TBN_LOG_INFO_END("ui|service");
}

void ImportExportService::saveRecordsToLumvaneCSVFile(const TBNSiteDataList& sites,
                                                      const std::filesystem::path& file,
                                                      const Callback& completion) {
    TBN_LOG_INFO_BEGIN("ui|service");
    writeAndReport(lumvaneCsvText(sites), file, completion);
    TBN_LOG_INFO_END("ui|service");
}

void ImportExportService::saveRecordsToLastpassCSVFile(const TBNSiteDataList& sites,
                                                       const std::filesystem::path& file,
                                                       const Callback& completion) {
    TBN_LOG_INFO_BEGIN("ui|service");
    writeAndReport(lastpassCsvText(sites), file, completion);
    TBN_LOG_INFO_END("ui|service");
}

}  // namespace lumvane
