#include "runtime/extlog/TBNOSXLoggingService.h"

#include <algorithm>
#include <set>

#include "runtime/Paths.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

std::shared_ptr<TBNOSXLoggingService> TBNOSXLoggingService::create(int64_t loggingLevelSetting) {
    return create(loggingLevelSetting, Options{});
}

std::shared_ptr<TBNOSXLoggingService> TBNOSXLoggingService::create(int64_t loggingLevelSetting,
                                                                   Options options) {
    std::shared_ptr<TBNOSXLoggingService> service(
        new TBNOSXLoggingService(loggingLevelSetting, std::move(options)));
    service->registerCallbacks();
    return service;
}

TBNOSXLoggingService::TBNOSXLoggingService(int64_t loggingLevelSetting, Options options)
    : options_(std::move(options)),
      logFormater_(std::make_shared<TBNLogFormatter>()),
      logFilter_(std::make_shared<TBNLogFilter>()) {
    folder_ = options_.folder ? *options_.folder : Paths::logsFolder() / "extensions";

    logFormater_->setDateFormat(1);
    logFormater_->setThreadFormat(3);
    logFormater_->setContextFormat(1);
    logFormater_->setLevelFormat(2);
    logFormater_->setComponentFormat(0);
    logFormater_->setScopeFormat(0);
    logFormater_->setTimeFormat(2);
    logFormater_->setValueFormat(0);
    logFormater_->setMessageFormat(0);
    logFormater_->setTagsFormat(1);

    logFilter_->setAllFilterDisabled(true);
    logFilter_->setMaxLevel(31);

    timeGuard_ =
        std::make_shared<TimeBeginGuardFormatter>(logFormater_, options_.maxOpenTimeMeasurements);
    maxLevel_.store(maxLevelForSetting(loggingLevelSetting));
}

TBNOSXLoggingService::~TBNOSXLoggingService() {
    if (options_.notificationCenter) {
        for (auto id : observers_) options_.notificationCenter->removeObserver(id);
    }
}

void TBNOSXLoggingService::registerCallbacks() {
    std::weak_ptr<TBNOSXLoggingService> weak = weak_from_this();
    if (NotificationCenter* center = options_.notificationCenter) {
        auto observe = [&](const char* name, uint64_t mask) {
            observers_.push_back(center->addObserver(name, [weak, mask](const Notification&) {
                if (auto self = weak.lock()) self->setMaxLevel(mask);
            }));
        };
        observe(kLoggingDisabledNotification, 0);
        observe(kLoggingInfoLevelNotification, 7);
        observe(kLoggingDebugLevelNotification, 15);
        observe(kLoggingVerboseLevelNotification, 31);
    }
    if (TBNLogHelper* helper = options_.logHelper) {
        // Before an archive: write out what is queued. After the files were moved away:
        // start new files, so extension logging goes on in the logs folder.
        helper->instanceAddFlushLogsCallback([weak] {
            if (auto self = weak.lock()) self->flushLog();
        });
        helper->instanceAddRollLogsCallback([weak] {
            if (auto self = weak.lock()) self->rollAll();
        });
    }
}

uint64_t TBNOSXLoggingService::maxLevelForSetting(int64_t setting) {
    switch (setting) {
        case 11:
            return 7;
        case 12:
            return 15;
        case 13:
            return 31;
        default:
            return 0;
    }
}

bool TBNOSXLoggingService::isValidLogName(std::string_view name) {
    if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

std::string TBNOSXLoggingService::extLogsFolder() const {
    return folder_.string();
}

void TBNOSXLoggingService::sendLog(std::shared_ptr<TBNLogMessage> message) {
    if (!message) return;
    // The two texts name files: anything but a plain word is refused.
    if (!message->appId() || !message->appVersion() || !isValidLogName(*message->appId()) ||
        !isValidLogName(*message->appVersion())) {
        return;
    }
    if (!message->tags() || message->tags()->empty()) {
        message->setTags("ext:" + shortAppId(*message->appId()));
    }
    LogRecord record = logRecordWithTBNLogMessage(*message, options_.fieldLimits);
    if ((record.flag & maxLevel()) != record.flag) return;

    std::shared_ptr<LogDispatcher> dispatcher =
        logFor(Key{*message->appId(), *message->appVersion()});
    if (!dispatcher) return;
    const uint64_t size = record.message ? record.message->size() : 0;
    dispatcher->log(true, std::move(record));

    if (bytesSinceQuotaCheck_.fetch_add(size + 1) + size + 1 >= options_.quotaCheckInterval) {
        bytesSinceQuotaCheck_.store(0);
        checkFolderQuota();
    }
}

std::shared_ptr<LogDispatcher> TBNOSXLoggingService::logFor(const Key& key) {
    std::shared_ptr<LogDispatcher> evicted;  // closed outside the lock
    std::shared_ptr<LogDispatcher> result;
    bool created = false;
    {
        std::lock_guard lock(mutex_);
        auto it = table_.find(key);
        if (it != table_.end()) {
            it->second.lastUse = ++useCounter_;
            return it->second.dispatcher;
        }
        if (options_.maxLiveLogs == 0) return nullptr;
        if (table_.size() >= options_.maxLiveLogs) {
            auto oldest = std::min_element(table_.begin(), table_.end(), [](auto& a, auto& b) {
                return a.second.lastUse < b.second.lastUse;
            });
            evicted = std::move(oldest->second.dispatcher);
            table_.erase(oldest);
        }
        ExtLog log;
        log.manager =
            std::make_shared<ExtensionLogFileManager>(folder_.string(), key.first, key.second);
        log.manager->setMaximumNumberOfLogFiles(options_.maximumNumberOfLogFiles);
        log.manager->setLogFilesDiskQuota(options_.logFilesDiskQuota);
        log.fileLogger = std::make_shared<LogFileLogger>(log.manager);
        log.fileLogger->setLogFormatter(std::make_shared<LogMultiFormatter>(
            std::vector<std::shared_ptr<LogFormatter>>{logFilter_, timeGuard_}));
        log.dispatcher = std::make_shared<LogDispatcher>();
        log.dispatcher->addLogger(log.fileLogger);
        log.lastUse = ++useCounter_;
        result = log.dispatcher;
        table_.emplace(key, std::move(log));
        created = true;
    }
    if (evicted) evicted->flush();
    evicted.reset();
    if (created) checkFolderQuota();
    return result;
}

std::vector<TBNOSXLoggingService::ExtLog> TBNOSXLoggingService::snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<ExtLog> logs;
    logs.reserve(table_.size());
    for (const auto& [key, log] : table_) logs.push_back(log);
    std::sort(logs.begin(), logs.end(),
              [](const ExtLog& a, const ExtLog& b) { return a.lastUse < b.lastUse; });
    return logs;
}

std::vector<std::string> TBNOSXLoggingService::extLogs() const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<uint64_t, std::string>> keys;
    for (const auto& [key, log] : table_)
        keys.emplace_back(log.lastUse, key.first + "_" + key.second);
    std::sort(keys.begin(), keys.end());
    std::vector<std::string> out;
    for (auto& k : keys) out.push_back(std::move(k.second));
    return out;
}

std::vector<std::shared_ptr<TBNLogFileManager>> TBNOSXLoggingService::extLogFileManagers() const {
    std::vector<std::shared_ptr<TBNLogFileManager>> out;
    for (const ExtLog& log : snapshot()) out.push_back(log.manager);
    return out;
}

void TBNOSXLoggingService::flushLog() {
    for (const ExtLog& log : snapshot()) log.dispatcher->flush();
}

void TBNOSXLoggingService::rollAll() {
    for (const ExtLog& log : snapshot()) {
        log.dispatcher->flush();
        log.manager->rollLogFile();
    }
    checkFolderQuota();
}

namespace {
// Rolls one log after another: each roll starts from the previous one's completion.
// The pending completion holds the walk alive; nothing holds itself.
template <class Logs>
struct RollWalk : std::enable_shared_from_this<RollWalk<Logs>> {
    Logs logs;
    std::function<void()> completion;

    void run(size_t i) {
        auto self = this->shared_from_this();
        logs[i].dispatcher->rollLogFileWithCompletionBlock([self, i] {
            if (i + 1 == self->logs.size()) {
                if (self->completion) self->completion();
            } else {
                self->run(i + 1);
            }
        });
    }
};
}  // namespace

void TBNOSXLoggingService::rollLogFileWithCompletionBlock(std::function<void()> completion) {
    auto walk = std::make_shared<RollWalk<std::vector<ExtLog>>>();
    walk->logs = snapshot();
    walk->completion = std::move(completion);
    if (walk->logs.empty()) {
        if (walk->completion) walk->completion();
        return;
    }
    walk->run(0);
}

void TBNOSXLoggingService::checkFolderQuota() {
    std::lock_guard quotaLock(quotaMutex_);
    std::set<std::string> keep;
    for (const ExtLog& log : snapshot()) {
        std::string path = log.fileLogger->currentLogFilePath();
        if (!path.empty()) keep.insert(std::move(path));
    }
    enforceFolderQuota(folder_, options_.folderQuota, keep);
}

}  // namespace lumvane
