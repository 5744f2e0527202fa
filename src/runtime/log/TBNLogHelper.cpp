#include "runtime/log/TBNLogHelper.h"

#include <sys/stat.h>
#include <zip.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "lumvane/Version.h"
#include "runtime/log/LogDateFormatter.h"

namespace fs = std::filesystem;

namespace lumvane {

// ---- TBNLog registration -----------------------------------------------------------

void TBNLog::addLoggerWithoutFilterAndFormatter(std::shared_ptr<Logger> logger) {
    LogDispatcher::sharedInstance().addLogger(std::move(logger));
}

void TBNLog::addLogger(std::shared_ptr<Logger> logger, std::shared_ptr<TBNLogFilter> filter,
                       std::shared_ptr<TBNLogFormatter> formatter) {
    if (!logger) return;
    if (filter && formatter) {
        logger->setLogFormatter(std::make_shared<LogMultiFormatter>(
            std::vector<std::shared_ptr<LogFormatter>>{std::move(filter), std::move(formatter)}));
    } else if (filter) {
        logger->setLogFormatter(std::move(filter));
    } else if (formatter) {
        logger->setLogFormatter(std::move(formatter));
    }
    LogDispatcher::sharedInstance().addLogger(std::move(logger));
}

void TBNLog::addLoggerWithDefaultFilterAndFormatter(
    std::shared_ptr<Logger> logger,
    std::function<void(TBNLogFilter&, TBNLogFormatter&)> configBlock) {
    auto filter = std::make_shared<TBNLogFilter>();
    auto formatter = std::make_shared<TBNLogFormatter>();
    if (configBlock) configBlock(*filter, *formatter);
    addLogger(std::move(logger), std::move(filter), std::move(formatter));
}

// ---- TBNLogFileManager -------------------------------------------------------------

TBNLogFileManager::TBNLogFileManager(std::string logsDirectory)
    : LogFileManager(std::move(logsDirectory)) {}

std::string TBNLogFileManager::applicationName() const {
    std::lock_guard lock(customMutex_);
    return customApplicationName_ ? *customApplicationName_ : LogFileManager::applicationName();
}

std::string TBNLogFileManager::applicationVersion() {
    static const std::string version = kAppVersion ? kAppVersion : "";
    return version;
}

std::string TBNLogFileManager::newLogFileName() {
    std::string version;
    {
        std::lock_guard lock(customMutex_);
        version = customApplicationVersion_ ? *customApplicationVersion_ : applicationVersion();
    }
    return applicationName() + " " + version + " " + fileNameDateText() + ".tbnlog";
}

bool TBNLogFileManager::isLogFile(const std::string& fileName) const {
    static constexpr std::string_view kExtension = ".tbnlog";
    const std::string name = applicationName();
    return fileName.size() >= kExtension.size() && fileName.rfind(name, 0) == 0 &&
           fileName.compare(fileName.size() - kExtension.size(), kExtension.size(), kExtension) ==
               0;
}

std::optional<std::string> TBNLogFileManager::customApplicationName() const {
    std::lock_guard lock(customMutex_);
    return customApplicationName_;
}

void TBNLogFileManager::setCustomApplicationName(std::optional<std::string> name) {
    std::lock_guard lock(customMutex_);
    customApplicationName_ = std::move(name);
}

std::optional<std::string> TBNLogFileManager::customApplicationVersion() const {
    std::lock_guard lock(customMutex_);
    return customApplicationVersion_;
}

void TBNLogFileManager::setCustomApplicationVersion(std::optional<std::string> version) {
    std::lock_guard lock(customMutex_);
    customApplicationVersion_ = std::move(version);
}

// ---- TBNArrayLogger ----------------------------------------------------------------

namespace {
std::mutex g_arrayMutex;
std::shared_ptr<TBNArrayLogger> g_sharedArrayLogger;
}  // namespace

std::shared_ptr<TBNArrayLogger> TBNArrayLogger::sharedInstance() {
    std::lock_guard lock(g_arrayMutex);
    if (!g_sharedArrayLogger) g_sharedArrayLogger.reset(new TBNArrayLogger());
    return g_sharedArrayLogger;
}

std::shared_ptr<TBNArrayLogger> TBNArrayLogger::init() {
    std::lock_guard lock(g_arrayMutex);
    if (g_sharedArrayLogger) return nullptr;
    return std::shared_ptr<TBNArrayLogger>(new TBNArrayLogger());
}

void TBNArrayLogger::logMessage(const LogRecord& record) {
    std::optional<std::string> line = lineFor(record);
    if (!line) return;
    std::lock_guard lock(mutex_);
    logs_.push_back(std::move(*line));
    while (logs_.size() > maxRowCount_.load()) logs_.pop_front();
}

std::vector<std::string> TBNArrayLogger::rows() const {
    std::lock_guard lock(mutex_);
    return {logs_.begin(), logs_.end()};
}

void TBNArrayLogger::setLogs(std::vector<std::string> lines) {
    std::lock_guard lock(mutex_);
    logs_.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
}

// ---- TBNLogHelper: class operations ------------------------------------------------

TBNLogHelper& TBNLogHelper::shared() {
    static TBNLogHelper* helper = new TBNLogHelper();
    return *helper;
}

void TBNLogHelper::initializeLogsInFolder(const std::string& folder,
                                          ConfigCallback /*ttyLogConfig*/,
                                          ConfigCallback fileLogConfig) {
    auto filter = std::make_shared<TBNLogFilter>();
    filter->setMaxLevel(kTBNLogLevelVerbose);

    auto formatter = std::make_shared<TBNLogFormatter>();
    formatter->setDateFormat(1);
    formatter->setThreadFormat(5);
    formatter->setContextFormat(1);
    formatter->setLevelFormat(2);
    formatter->setComponentFormat(0);
    formatter->setScopeFormat(0);
    formatter->setTimeFormat(0);
    formatter->setValueFormat(0);
    formatter->setMessageFormat(0);
    formatter->setTagsFormat(1);

    auto chain = std::make_shared<LogMultiFormatter>(
        std::vector<std::shared_ptr<LogFormatter>>{filter, formatter});

    auto manager = std::make_shared<TBNLogFileManager>(folder);
    manager->setMaximumNumberOfLogFiles(20);
    manager->setLogFilesDiskQuota(0x2000000);
    manager->rollLogFile();

    addRollLogsCallback([manager] { manager->rollLogFile(); });

    auto fileLogger = std::make_shared<LogFileLogger>(manager);
    fileLogger->setLogFormatter(chain);
    // A crash still gets the lines this logger holds into the file.
    fileLogger->becomeFatalSignalTarget();
    LogDispatcher::sharedInstance().addLogger(fileLogger);

    if (fileLogConfig) fileLogConfig(*filter, *formatter);
}

void TBNLogHelper::flushLog() {
    shared().instanceFlushLog();
}

std::optional<std::string> TBNLogHelper::archiveAllLogsToZipFile(const std::string& logsFolder) {
    return shared().instanceArchiveAllLogsToZipFile(logsFolder);
}

void TBNLogHelper::addFlushLogsCallback(Callback callback) {
    shared().instanceAddFlushLogsCallback(std::move(callback));
}

void TBNLogHelper::addRollLogsCallback(Callback callback) {
    shared().instanceAddRollLogsCallback(std::move(callback));
}

void TBNLogHelper::startTraceCallstacksWithRefreshTime(double seconds) {
    shared().instanceStartTraceCallstacksWithRefreshTime(seconds);
}

void TBNLogHelper::stopTraceCallstacks() {
    shared().instanceStopTraceCallstacks();
}

std::optional<uint64_t> TBNLogHelper::maxLevelForLoggingLevel(int64_t setting) {
    if (setting >= 0 && setting <= 2) return kTBNLogLevelOff;
    if (setting == 11) return kTBNLogLevelInfo;
    if (setting == 12) return kTBNLogLevelDebug;
    if (setting == 13) return kTBNLogLevelVerbose;
    return std::nullopt;
}

bool TBNLogHelper::applyLoggingLevel(int64_t setting, TBNLogFilter& filter,
                                     TBNLogFormatter& formatter) {
    static const std::vector<std::string> kInfoTags{
        "ui",   "app",  "stitem", "service",   "popover", "menuitem", "wizard", "qrcode",
        "core", "blec", "thrift", "validator", "client",  "siteurl",  "browser"};
    static const std::vector<std::string> kVerboseDisabledMethods{
        // The service's handling of every extension ping: the delegate call from the host
        // service and the method that logs the ping (function texts carry the C++ names).
        "thriftHostServiceDidPingFromExtensionId",
        "didPingFromExtension",
        "update",
        "lastChromeExtVersion",
        "extensionExtendedMode",
        "lastSafariExtVersion",
        "trySendNextRequest"};

    {
        std::lock_guard lock(filter.lock());
        filter.removeAllEnabledTagsFromFilter();
        filter.removeAllDisabledTagsFromFilter();
        filter.removeAllEnabledClasesFromFilter();
        filter.removeAllDisabledClasesFromFilter();
        filter.removeAllEnabledMethodsFromFilter();
        filter.removeAllDisabledMethodFromFilter();
        filter.setScopeDisabled(false);
        filter.setValueDisabled(false);
        switch (setting) {
            case 11:
                filter.addEnabledTagsToFilter(kInfoTags);
                filter.setScopeDisabled(true);
                filter.setValueDisabled(true);
                break;
            case 12:
                filter.addEnabledTagsToFilter(kInfoTags);
                filter.addEnabledTagToFilter("explorer");
                break;
            case 13:
                filter.addEnabledTagsToFilter(kInfoTags);
                filter.addEnabledTagsToFilter({"explorer", "unused", "settings"});
                filter.addDisabledMethodsToFilter(kVerboseDisabledMethods);
                break;
            default:
                break;
        }
    }
    std::optional<uint64_t> mask = maxLevelForLoggingLevel(setting);
    if (!mask) return false;
    TBNLogger::setMaxLevel(*mask);
    if (setting == 11 || setting == 12) formatter.setTimeFormat(2);
    if (setting == 13) formatter.setTimeFormat(0);
    return true;
}

// ---- TBNLogHelper: instance operations ---------------------------------------------

TBNLogHelper::~TBNLogHelper() {
    instanceStopTraceCallstacks();
}

std::vector<TBNLogHelper::Callback> TBNLogHelper::callbacksCopy(
    const std::vector<Callback>& list) const {
    std::lock_guard lock(mutex_);
    return list;
}

void TBNLogHelper::instanceAddFlushLogsCallback(Callback callback) {
    if (!callback) return;
    std::lock_guard lock(mutex_);
    flushCallbacks_.push_back(std::move(callback));
}

void TBNLogHelper::instanceAddRollLogsCallback(Callback callback) {
    if (!callback) return;
    std::lock_guard lock(mutex_);
    rollCallbacks_.push_back(std::move(callback));
}

void TBNLogHelper::instanceFlushLog() {
    // The lists are copied, so a callback may register another without harm.
    for (const Callback& callback : callbacksCopy(flushCallbacks_)) callback();
    LogDispatcher::sharedInstance().flush();
}

void TBNLogHelper::setZipWriter(ZipWriter writer) {
    std::lock_guard lock(mutex_);
    zipWriter_ = std::move(writer);
}

bool TBNLogHelper::writeZipFromFolder(const std::string& folder, const std::string& zipPath) {
    int error = 0;
    zip_t* archive = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!archive) return false;
    bool ok = true;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) ok = false;
    for (; ok && it != end; it.increment(ec)) {
        if (ec) {
            ok = false;
            break;
        }
        const fs::path& path = it->path();
        const std::string relative = path.lexically_relative(folder).generic_string();
        std::error_code typeEc;
        if (it->is_directory(typeEc)) {
            if (zip_dir_add(archive, relative.c_str(), ZIP_FL_ENC_UTF_8) < 0) ok = false;
        } else if (it->is_regular_file(typeEc)) {
            zip_source_t* source = zip_source_file(archive, path.c_str(), 0, 0);
            if (!source) {
                ok = false;
            } else if (zip_file_add(archive, relative.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
                zip_source_free(source);
                ok = false;
            }
        }
    }
    if (ec) ok = false;
    if (ok && zip_get_num_entries(archive, 0) == 0) ok = false;  // libzip writes no file then
    if (!ok) {
        zip_discard(archive);
        return false;
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        return false;
    }
    return fs::exists(zipPath, ec);
}

namespace {

// "<base>", then "<base>-2", "<base>-3", ... until the check says it is free.
template <typename Try>
std::optional<std::string> firstFree(const std::string& base, const std::string& extension,
                                     Try tryName) {
    for (int n = 1; n < 1000; ++n) {
        std::string name = n == 1 ? base + extension : base + "-" + std::to_string(n) + extension;
        switch (tryName(name)) {
            case 0:
                return name;  // taken for us
            case 1:
                continue;  // exists already
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

// Moves `from` back into `folder` under `name`.
bool putBack(const fs::path& from, const fs::path& folder, const std::string& name) {
    std::error_code ec;
    const fs::path target = folder / name;
    if (fs::is_directory(from, ec) && fs::is_directory(target, ec)) {
        // The folder was made anew meanwhile (the extension logs roll into theirs): merge
        // into it, so its files stay where their manager counts them against its quota.
        bool all = true;
        std::vector<std::string> names;
        for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
            names.push_back(it->path().filename().string());
        }
        if (ec) return false;
        for (const std::string& child : names) {
            if (!putBack(from / child, target, child)) all = false;
        }
        if (all) fs::remove(from, ec);
        return all && !ec;
    }
    // A new file may have taken the name meanwhile (the roll's new log file): ours comes
    // back as "<stem> 2<ext>", which the log-file manager still owns.
    const fs::path original(name);
    const std::string stem = original.stem().string();
    const std::string extension = original.extension().string();
    for (int n = 1; n < 1000; ++n) {
        const fs::path candidate =
            folder / (n == 1 ? name : stem + " " + std::to_string(n) + extension);
        if (fs::exists(fs::symlink_status(candidate, ec))) continue;
        fs::rename(from, candidate, ec);
        return !ec;
    }
    return false;
}

}  // namespace

std::optional<std::string> TBNLogHelper::instanceArchiveAllLogsToZipFile(
    const std::string& logsFolder) {
    instanceFlushLog();

    static const auto* nameDate = new LogDateFormatter("yyyy'-'MM'-'dd'--'HH'-'mm'-'ss'");
    const std::string baseName = "osx_logs_" + nameDate->stringFromDate(logenv::now());

    fs::path folder = fs::path(logsFolder).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();  // "logs/" -> "logs"
    const fs::path parent = folder.parent_path();

    // A working folder of our own: two archives in one second get different ones.
    std::optional<std::string> workName = firstFree(baseName, "", [&](const std::string& name) {
        if (::mkdir((parent / name).c_str(), 0700) == 0) return 0;
        return errno == EEXIST ? 1 : 2;
    });
    if (!workName) return std::nullopt;
    const fs::path work = parent / *workName;

    // Move the entries away so new lines can go on in the logs folder meanwhile.
    std::vector<std::string> moved;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->path().extension() == ".zip" || name == ".DS_Store") continue;
        std::error_code moveEc;
        fs::rename(it->path(), work / name, moveEc);
        if (!moveEc) moved.push_back(name);  // an entry that cannot move stays out
    }

    for (const Callback& callback : callbacksCopy(rollCallbacks_)) callback();

    ZipWriter writer;
    {
        std::lock_guard lock(mutex_);
        writer = zipWriter_;
    }
    if (!writer) writer = &TBNLogHelper::writeZipFromFolder;

    std::optional<std::string> zipName = firstFree(baseName, ".zip", [&](const std::string& name) {
        return fs::exists(folder / name, ec) ? 1 : 0;
    });
    const fs::path zipPath = zipName ? folder / *zipName : fs::path();
    const bool written = zipName && writer(work.string(), zipPath.string());

    if (written) {
        fs::remove_all(work, ec);
        return zipPath.string();
    }

    // Nothing is lost: the partial ZIP goes, the entries go back where they were.
    if (zipName) fs::remove(zipPath, ec);
    bool allBack = true;
    for (const std::string& name : moved) {
        if (!putBack(work / name, folder, name)) allBack = false;  // the work folder is kept
    }
    if (allBack) fs::remove(work, ec);
    return std::nullopt;
}

void TBNLogHelper::instanceStartTraceCallstacksWithRefreshTime(double seconds) {
    std::lock_guard lock(mutex_);
    if (traceCallstacksTimer_) return;
    auto timer = std::make_unique<TraceTimer>();
    TraceTimer* raw = timer.get();
    const auto interval = std::chrono::duration<double>(seconds > 0 ? seconds : 1.0);
    timer->thread = std::thread([raw, interval] {
        std::unique_lock lock(raw->mutex);
        while (!raw->cv.wait_for(lock, interval, [raw] { return raw->stop; })) {
            // The trace has no content yet: each tick does nothing and runs again.
        }
    });
    traceCallstacksTimer_ = std::move(timer);
}

void TBNLogHelper::instanceStopTraceCallstacks() {
    std::unique_ptr<TraceTimer> timer;
    {
        std::lock_guard lock(mutex_);
        timer = std::move(traceCallstacksTimer_);
    }
    if (!timer) return;
    {
        std::lock_guard lock(timer->mutex);
        timer->stop = true;
    }
    timer->cv.notify_all();
    if (timer->thread.joinable()) timer->thread.join();
}

bool TBNLogHelper::traceCallstacksRunning() const {
    std::lock_guard lock(mutex_);
    return traceCallstacksTimer_ != nullptr;
}

}  // namespace lumvane
