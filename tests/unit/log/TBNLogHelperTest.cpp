// Log set-up, log files, limits, archive and the in-memory logger.
#include "runtime/log/TBNLogHelper.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <fstream>
#include <latch>
#include <mutex>
#include <thread>

#include "LogTestSupport.h"
#include "lumvane/Version.h"

namespace fs = std::filesystem;

namespace lumvane {
namespace {

using testing::CapturingLogger;
using testing::FixedLogEnvironment;
using testing::fixedTime;
using testing::listFolder;
using testing::readLines;
using testing::ScratchFolder;

const std::string kVersion = kAppVersion;
const std::string kDate = "2026-03-04--05-06-07-089";

std::vector<std::string> zipListing(const fs::path& zipPath) {
    std::vector<std::string> names;
    int error = 0;
    zip_t* archive = zip_open(zipPath.c_str(), ZIP_RDONLY, &error);
    if (!archive) return names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        names.push_back(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
    }
    zip_close(archive);
    std::sort(names.begin(), names.end());
    return names;
}

std::string zipEntryText(const fs::path& zipPath, const std::string& entry) {
    int error = 0;
    zip_t* archive = zip_open(zipPath.c_str(), ZIP_RDONLY, &error);
    if (!archive) return {};
    std::string text;
    if (zip_file_t* file = zip_fopen(archive, entry.c_str(), 0)) {
        char buffer[4096];
        for (zip_int64_t n; (n = zip_fread(file, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<size_t>(n));
        }
        zip_fclose(file);
    }
    zip_close(archive);
    return text;
}

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

class LogFilesTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::useUtc(); }
    void TearDown() override {
        LogDispatcher::sharedInstance().flush();
        LogDispatcher::sharedInstance().removeAllLoggers();
    }
    ScratchFolder scratch_;
    FixedLogEnvironment env_{fixedTime()};
};

TEST_F(LogFilesTest, FileNamesCarryNameVersionAndDate) {
    fs::path logs = scratch_.path() / "settings" / "logs";
    TBNLogFileManager manager(logs.string());
    EXPECT_TRUE(fs::is_directory(logs));  // made with its parents
    EXPECT_EQ(fs::status(logs).permissions() & fs::perms::all, fs::perms::owner_all);

    EXPECT_EQ(manager.newLogFileName(), "Lumvane " + kVersion + " " + kDate + ".tbnlog");
    std::string path = manager.rollLogFile();
    EXPECT_EQ(fs::path(path).filename(), "Lumvane " + kVersion + " " + kDate + ".tbnlog");
    EXPECT_TRUE(fs::exists(path));
    // A second file in the same millisecond gets a name of its own.
    std::string second = manager.rollLogFile();
    EXPECT_EQ(fs::path(second).filename(), "Lumvane " + kVersion + " " + kDate + " 2.tbnlog");
    EXPECT_EQ(manager.sortedLogFileNames().size(), 2u);

    manager.setCustomApplicationName("com.tobrin.chrome.lumvane");
    manager.setCustomApplicationVersion("3.1.0");
    EXPECT_EQ(manager.newLogFileName(), "com.tobrin.chrome.lumvane 3.1.0 " + kDate + ".tbnlog");
    manager.setCustomApplicationName(std::nullopt);
    manager.setCustomApplicationVersion("");
    EXPECT_EQ(manager.newLogFileName(), "Lumvane  " + kDate + ".tbnlog");
}

TEST_F(LogFilesTest, RecognisesItsOwnFiles) {
    TBNLogFileManager manager(scratch_.path().string());
    struct Case {
        const char* name;
        bool own;
    };
    const Case cases[] = {
        {"Lumvane 1.0.0.0 2026-03-04--05-06-07-089.tbnlog", true},
        {"Lumvane 0.9 2020-01-01--00-00-00-000.tbnlog", true},
        {"Lumvane.tbnlog", true},
        {"osx_logs_2026-03-04--05-06-07.zip", false},
        {"Other 1.0 2026.tbnlog", false},
        {"Lumvane 1.0 2026.tbnlog.zip", false},
        {"Lumvane 1.0 2026.log", false},
        {"lumvane 1.0 2026.tbnlog", false},
    };
    for (const Case& c : cases) EXPECT_EQ(manager.isLogFile(c.name), c.own) << c.name;
    manager.setCustomApplicationName("com.tobrin.chrome.lumvane");
    EXPECT_TRUE(manager.isLogFile("com.tobrin.chrome.lumvane 3.0 x.tbnlog"));
    EXPECT_FALSE(manager.isLogFile("Lumvane 1.0 x.tbnlog"));
}

TEST_F(LogFilesTest, KeepsAtMostTwentyFiles) {
    TBNLogFileManager manager(scratch_.path().string());
    manager.setMaximumNumberOfLogFiles(20);
    manager.setLogFilesDiskQuota(0x2000000);
    writeFile(scratch_.path() / "notes.txt", "not a log file");
    std::vector<std::string> made;
    for (int i = 0; i < 25; ++i) {
        env_.setTime(fixedTime(i * 1000));
        made.push_back(fs::path(manager.rollLogFile()).filename().string());
    }
    std::vector<std::string> kept = manager.sortedLogFileNames();
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(kept.front(), made.back());  // newest first
    EXPECT_EQ(kept.back(), made[5]);       // the five oldest are gone
    EXPECT_TRUE(fs::exists(scratch_.path() / "notes.txt"));
}

TEST_F(LogFilesTest, KeepsWithinThirtyTwoMebibytes) {
    TBNLogFileManager manager(scratch_.path().string());
    manager.setMaximumNumberOfLogFiles(20);
    manager.setLogFilesDiskQuota(0x2000000);
    const std::string threeMiB(3 * 1024 * 1024, 'x');
    const auto base = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int i = 0; i < 12; ++i) {
        fs::path file = scratch_.path() / ("Lumvane 1.0 old" + std::to_string(10 + i) + ".tbnlog");
        writeFile(file, threeMiB);
        fs::last_write_time(file, base + std::chrono::minutes(i));
    }
    writeFile(scratch_.path() / "osx_logs_old.zip", threeMiB + threeMiB);
    std::string current = manager.rollLogFile();
    std::vector<std::string> kept = manager.sortedLogFileNames();
    // The new (empty) file and the ten newest old ones: 30 MiB; an eleventh would pass 32.
    ASSERT_EQ(kept.size(), 11u);
    EXPECT_EQ(kept.front(), fs::path(current).filename());
    EXPECT_EQ(kept[1], "Lumvane 1.0 old21.tbnlog");
    EXPECT_EQ(kept.back(), "Lumvane 1.0 old12.tbnlog");
    EXPECT_TRUE(fs::exists(scratch_.path() / "osx_logs_old.zip"));  // archives stay
}

TEST_F(LogFilesTest, FileLoggerWritesRollsAndRecreatesItsFile) {
    auto manager = std::make_shared<TBNLogFileManager>((scratch_.path() / "logs").string());
    auto logger = std::make_shared<LogFileLogger>(manager);
    auto record = [](const char* text) {
        LogRecord r;
        r.flag = 4;
        r.message = text;
        return r;
    };
    logger->logMessage(record("one"));
    logger->flush();
    std::string first = logger->currentLogFilePath();
    EXPECT_EQ(readLines(first), (std::vector<std::string>{"one"}));

    bool completed = false;
    env_.setTime(fixedTime(1000));
    logger->rollLogFileWithCompletionBlock([&] { completed = true; });
    EXPECT_TRUE(completed);
    logger->logMessage(record("two"));
    logger->flush();
    std::string second = logger->currentLogFilePath();
    EXPECT_NE(second, first);
    EXPECT_EQ(readLines(second), (std::vector<std::string>{"two"}));

    // Folder removed underneath: the next lines go to a new file in a new folder.
    fs::remove_all(scratch_.path() / "logs");
    logger->logMessage(record("three"));
    logger->flush();
    logger->logMessage(record("four"));
    logger->flush();
    std::string third = logger->currentLogFilePath();
    ASSERT_TRUE(fs::exists(third));
    EXPECT_EQ(readLines(third), (std::vector<std::string>{"four"}));

    // Rolling by size.
    logger->setMaximumFileSize(10);
    env_.setTime(fixedTime(2000));
    logger->logMessage(record("0123456789"));
    logger->logMessage(record("after"));
    logger->flush();
    EXPECT_EQ(readLines(logger->currentLogFilePath()), (std::vector<std::string>{"after"}));
}

TEST_F(LogFilesTest, DispatcherRollsOnlyItsFirstFileLogger) {
    LogDispatcher dispatcher;
    bool called = false;
    dispatcher.rollLogFileWithCompletionBlock([&] { called = true; });
    EXPECT_TRUE(called);  // no file logger: at once

    auto managerA = std::make_shared<TBNLogFileManager>((scratch_.path() / "a").string());
    auto managerB = std::make_shared<TBNLogFileManager>((scratch_.path() / "b").string());
    dispatcher.addLogger(std::make_shared<CapturingLogger>());
    dispatcher.addLogger(std::make_shared<LogFileLogger>(managerA));
    dispatcher.addLogger(std::make_shared<LogFileLogger>(managerB));
    const uint64_t a = managerA->generation();
    const uint64_t b = managerB->generation();
    called = false;
    dispatcher.rollLogFileWithCompletionBlock([&] { called = true; });
    EXPECT_TRUE(called);
    EXPECT_EQ(managerA->generation(), a + 1);
    EXPECT_EQ(managerB->generation(), b);
}

TEST_F(LogFilesTest, DispatcherKeepsOrderAndFlushes) {
    LogDispatcher dispatcher;
    auto capture = std::make_shared<CapturingLogger>();
    dispatcher.addLogger(capture);
    auto errorsOnly = std::make_shared<CapturingLogger>();
    dispatcher.addLogger(errorsOnly, 1);
    // Three rounds: later rounds reuse the queue slots of records already written, and
    // a synchronous record in the middle waits for everything queued before it.
    constexpr int kRounds = 3;
    constexpr int kPerThread = 500;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&dispatcher, t, round] {
                for (int i = 0; i < kPerThread; ++i) {
                    LogRecord r;
                    r.flag = i % 2 ? 1 : 4;
                    r.message = std::to_string(t) + ":" + std::to_string(round * kPerThread + i);
                    dispatcher.log(!(t == 0 && i == 250), std::move(r));
                }
            });
        }
        for (auto& th : threads) th.join();
        if (round == 0) dispatcher.flush();
    }
    dispatcher.flush();
    std::vector<std::string> lines = capture->lines();
    ASSERT_EQ(lines.size(), 4u * kPerThread * kRounds);
    EXPECT_EQ(errorsOnly->lines().size(), 2u * kPerThread * kRounds);
    int next[4] = {0, 0, 0, 0};
    for (const std::string& line : lines) {
        int t = line[0] - '0';
        EXPECT_EQ(line.substr(2), std::to_string(next[t]++));  // per thread in call order
    }
}

// A logger that, for a record marked "echo", logs a synchronous record through its own
// dispatcher: the dispatcher must know its thread then, even on its very first batch.
class EchoingLogger : public Logger {
  public:
    explicit EchoingLogger(LogDispatcher& dispatcher) : dispatcher_(dispatcher) {}
    void logMessage(const LogRecord& record) override {
        if (record.message == "echo") {
            LogRecord echo;
            echo.flag = 4;
            echo.message = "echoed";
            dispatcher_.log(false, std::move(echo));
            return;
        }
        std::lock_guard lock(mutex_);
        lines_.push_back(record.message.value_or(""));
    }
    std::string loggerName() const override { return "test.echo"; }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    LogDispatcher& dispatcher_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST_F(LogFilesTest, DispatcherStartedFromSeveralThreadsAtOnce) {
    // The first records of a new dispatcher come from several threads at the same time
    // (one of them starts its thread), mixed with flushes and synchronous records.
    for (int round = 0; round < 20; ++round) {
        LogDispatcher dispatcher;
        auto echo = std::make_shared<EchoingLogger>(dispatcher);
        dispatcher.addLogger(echo);
        std::latch start(4);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                LogRecord record;
                record.flag = 4;
                switch (t) {
                    case 0:
                        record.message = "echo";
                        dispatcher.log(true, std::move(record));
                        break;
                    case 1:
                        record.message = "async";
                        dispatcher.log(true, std::move(record));
                        break;
                    case 2:
                        dispatcher.flush();
                        break;
                    default:
                        record.message = "sync";
                        dispatcher.log(false, std::move(record));
                        break;
                }
            });
        }
        for (auto& th : threads) th.join();
        dispatcher.flush();
        std::vector<std::string> lines = echo->lines();
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, (std::vector<std::string>{"async", "echoed", "sync"}))
            << "round " << round;
    }
}

// ---- archive --------------------------------------------------------------------------

class ArchiveTest : public LogFilesTest {
  protected:
    void SetUp() override {
        LogFilesTest::SetUp();
        logs_ = scratch_.path() / "Lumvane" / "logs";
        manager_ = std::make_shared<TBNLogFileManager>(logs_.string());
        manager_->setMaximumNumberOfLogFiles(20);
        logger_ = std::make_shared<LogFileLogger>(manager_);
        helper_.instanceAddRollLogsCallback([this] { manager_->rollLogFile(); });
        for (int i = 1; i <= 3; ++i) {
            writeFile(logs_ / ("Lumvane 1.0 day" + std::to_string(i) + ".tbnlog"),
                      "line " + std::to_string(i) + "\n");
        }
        writeFile(logs_ / "osx_logs_2020-01-01--00-00-00.zip", "older archive");
        writeFile(logs_ / ".DS_Store", "finder");
        writeFile(logs_ / "extensions" / "com.tobrin.chrome.lumvane 3.1.0 x.tbnlog", "ext\n");
        writeFile(logs_ / "CAPS.ZIP", "capital");
    }
    void log(const char* text) {
        LogRecord r;
        r.flag = 4;
        r.message = text;
        logger_->logMessage(r);
        logger_->flush();
    }
    std::vector<std::string> workFolders() const {
        std::vector<std::string> found;
        for (const std::string& name : listFolder(logs_.parent_path())) {
            if (name.rfind("osx_logs_", 0) == 0) found.push_back(name);
        }
        return found;
    }

    fs::path logs_;
    std::shared_ptr<TBNLogFileManager> manager_;
    std::shared_ptr<LogFileLogger> logger_;
    TBNLogHelper helper_;
};

TEST_F(ArchiveTest, PacksEverythingButArchivesAndFinderFiles) {
    log("before");
    const std::string before = logger_->currentLogFilePath();
    const std::string beforeName = fs::path(before).filename().string();

    std::optional<std::string> zip = helper_.instanceArchiveAllLogsToZipFile(logs_.string());
    ASSERT_TRUE(zip);
    EXPECT_EQ(*zip, (logs_ / "osx_logs_2026-03-04--05-06-07.zip").string());
    EXPECT_EQ(
        zipListing(*zip),
        (std::vector<std::string>{"CAPS.ZIP", "Lumvane 1.0 day1.tbnlog", "Lumvane 1.0 day2.tbnlog",
                                  "Lumvane 1.0 day3.tbnlog", beforeName, "extensions/",
                                  "extensions/com.tobrin.chrome.lumvane 3.1.0 x.tbnlog"}));
    EXPECT_EQ(zipEntryText(*zip, "Lumvane 1.0 day2.tbnlog"), "line 2\n");
    EXPECT_EQ(zipEntryText(*zip, beforeName), "before\n");

    // What stays: the archives and .DS_Store, plus the new file the roll made.
    std::vector<std::string> left = listFolder(logs_);
    ASSERT_EQ(left.size(), 4u);
    EXPECT_EQ(left[0], ".DS_Store");
    EXPECT_TRUE(manager_->isLogFile(left[1])) << left[1];
    EXPECT_EQ(left[2], "osx_logs_2020-01-01--00-00-00.zip");
    EXPECT_EQ(left[3], "osx_logs_2026-03-04--05-06-07.zip");
    EXPECT_TRUE(workFolders().empty());

    // The file logger writes into the new file.
    // (The clock stands still, so the new file may take the moved file's name.)
    log("after");
    EXPECT_EQ(fs::path(logger_->currentLogFilePath()).filename(), left[1]);
    EXPECT_EQ(readLines(logger_->currentLogFilePath()), (std::vector<std::string>{"after"}));
}

TEST_F(ArchiveTest, FailedZipLeavesEveryLogInPlace) {
    log("kept");
    const std::vector<std::string> before = listFolder(logs_);
    helper_.setZipWriter([](const std::string& folder, const std::string& zipPath) {
        // Half a file, then failure.
        std::ofstream(zipPath) << "PK partial";
        EXPECT_TRUE(fs::exists(fs::path(folder) / "extensions"));
        return false;
    });
    std::optional<std::string> zip = helper_.instanceArchiveAllLogsToZipFile(logs_.string());
    EXPECT_FALSE(zip);
    std::vector<std::string> after = listFolder(logs_);
    // Every entry is back; the roll added one new log file, and no partial ZIP is left.
    for (const std::string& name : before) {
        EXPECT_NE(std::find(after.begin(), after.end(), name), after.end()) << name;
    }
    EXPECT_EQ(after.size(), before.size() + 1);
    EXPECT_FALSE(fs::exists(logs_ / "osx_logs_2026-03-04--05-06-07.zip"));
    EXPECT_EQ(readLines(logs_ / "extensions" / "com.tobrin.chrome.lumvane 3.1.0 x.tbnlog"),
              (std::vector<std::string>{"ext"}));
    EXPECT_EQ(readLines(logs_ / "Lumvane 1.0 day1.tbnlog"), (std::vector<std::string>{"line 1"}));
    EXPECT_TRUE(workFolders().empty());
}

TEST_F(ArchiveTest, FailedZipMergesTheExtensionLogsBackIntoTheirFolder) {
    // The extension logs roll while the archive is made: their folder is there again,
    // with a new file and one whose name an older file had.
    const fs::path extensions = logs_ / "extensions";
    writeFile(extensions / "com.tobrin.firefox.lumvane" / "old.tbnlog", "old firefox\n");
    helper_.instanceAddRollLogsCallback([&] {
        writeFile(extensions / "com.tobrin.chrome.lumvane 3.1.0 y.tbnlog", "new\n");
        writeFile(extensions / "com.tobrin.chrome.lumvane 3.1.0 x.tbnlog", "newer x\n");
        writeFile(extensions / "com.tobrin.firefox.lumvane" / "new.tbnlog", "new firefox\n");
    });
    helper_.setZipWriter([](const std::string&, const std::string&) { return false; });
    EXPECT_FALSE(helper_.instanceArchiveAllLogsToZipFile(logs_.string()));

    for (const std::string& name : listFolder(logs_)) {
        EXPECT_EQ(name.rfind("extensions", 0) == 0, name == "extensions") << name;
    }
    EXPECT_EQ(listFolder(extensions),
              (std::vector<std::string>{"com.tobrin.chrome.lumvane 3.1.0 x 2.tbnlog",
                                        "com.tobrin.chrome.lumvane 3.1.0 x.tbnlog",
                                        "com.tobrin.chrome.lumvane 3.1.0 y.tbnlog",
                                        "com.tobrin.firefox.lumvane"}));
    EXPECT_EQ(readLines(extensions / "com.tobrin.chrome.lumvane 3.1.0 x 2.tbnlog"),
              (std::vector<std::string>{"ext"}));
    EXPECT_EQ(readLines(extensions / "com.tobrin.chrome.lumvane 3.1.0 x.tbnlog"),
              (std::vector<std::string>{"newer x"}));
    EXPECT_EQ(listFolder(extensions / "com.tobrin.firefox.lumvane"),
              (std::vector<std::string>{"new.tbnlog", "old.tbnlog"}));
    EXPECT_TRUE(workFolders().empty());
}

TEST_F(ArchiveTest, TwoArchivesInOneSecondKeepApart) {
    // A working folder of that second already exists (another archive at work).
    const fs::path busy = logs_.parent_path() / "osx_logs_2026-03-04--05-06-07";
    writeFile(busy / "someone else's.tbnlog", "theirs\n");

    std::optional<std::string> first = helper_.instanceArchiveAllLogsToZipFile(logs_.string());
    log("between");
    std::optional<std::string> second = helper_.instanceArchiveAllLogsToZipFile(logs_.string());
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(fs::path(*second).filename(), "osx_logs_2026-03-04--05-06-07-2.zip");
    EXPECT_EQ(zipListing(*first).size(), 6u);
    // The second holds the file the first roll made, with the line written between.
    std::vector<std::string> secondListing = zipListing(*second);
    ASSERT_EQ(secondListing.size(), 1u);
    EXPECT_EQ(zipEntryText(*second, secondListing[0]), "between\n");
    // The other archive's folder is untouched.
    EXPECT_EQ(readLines(busy / "someone else's.tbnlog"), (std::vector<std::string>{"theirs"}));
    EXPECT_EQ(workFolders(), (std::vector<std::string>{"osx_logs_2026-03-04--05-06-07"}));
}

TEST_F(ArchiveTest, FlushCallbacksRunFirstAndClassFlushReachesThem) {
    std::vector<std::string> order;
    helper_.instanceAddFlushLogsCallback([&] { order.push_back("flush"); });
    helper_.instanceAddRollLogsCallback([&] { order.push_back("roll"); });
    helper_.setZipWriter([&](const std::string&, const std::string&) {
        order.push_back("zip");
        return false;
    });
    helper_.instanceArchiveAllLogsToZipFile(logs_.string());
    EXPECT_EQ(order, (std::vector<std::string>{"flush", "roll", "zip"}));

    int flushed = 0;
    TBNLogHelper::addFlushLogsCallback([&] { ++flushed; });
    TBNLogHelper::flushLog();
    EXPECT_EQ(flushed, 1);
}

// ---- set-up, golden lines --------------------------------------------------------------

std::string mainLine(const std::string& level, const std::string& message,
                     const std::string& tags) {
    auto pad = [](std::string text, size_t width) {
        if (text.size() < width) text.append(width - text.size(), ' ');
        return text;
    };
    return "260304050607089 |          7: " + pad("main", 24) + " | " + pad("", 10) + " | " +
           level + " | " + pad(message, 144) + " | " + pad(tags, 32);
}

TEST_F(LogFilesTest, MainLogFilesGoldenLinesPerLevelSetting) {
    const uint64_t savedMask = TBNLogger::maxLevel();
    LogDispatcher::sharedInstance().removeAllLoggers();
    std::shared_ptr<TBNLogFilter> filterSeen;
    std::shared_ptr<TBNLogFormatter> formatterSeen;
    TBNLogFilter* filter = nullptr;
    TBNLogFormatter* formatter = nullptr;
    bool ttyCalled = false;
    TBNLogFormatter::Moment moment{std::chrono::seconds(50)};
    const fs::path logs = scratch_.path() / "logs";
    TBNLogHelper::initializeLogsInFolder(
        logs.string(), [&](TBNLogFilter&, TBNLogFormatter&) { ttyCalled = true; },
        [&](TBNLogFilter& f, TBNLogFormatter& fm) {
            filter = &f;
            formatter = &fm;
        });
    ASSERT_NE(filter, nullptr);
    ASSERT_NE(formatter, nullptr);
    EXPECT_FALSE(ttyCalled);
    EXPECT_EQ(filter->maxLevel(), 31u);
    EXPECT_EQ(TBNLogger::maxLevel(), savedMask);  // the set-up leaves the mask alone
    formatter->setMomentClock([&moment] { return moment; });
    std::vector<std::string> files = listFolder(logs);
    ASSERT_EQ(files.size(), 1u);  // rolled at once
    EXPECT_EQ(files[0], "Lumvane " + kVersion + " " + kDate + ".tbnlog");

    auto logAll = [&] {
        const char* fn = "TBNService::start";
        TBNLogger::log(false, 4, TBNLogTag::messageTagWithTags("core|thrift"), "s.cpp", fn, 1,
                       "started");
        TBNLogger::log(false, 8, TBNLogTag::messageTagWithTags("core|blec"), "s.cpp", fn, 2,
                       "detail {}", 1);
        TBNLogger::log(false, 16, TBNLogTag::messageTagWithTags("core|settings"), "s.cpp", fn, 3,
                       "chatter");
        TBNLogger::log(false, 1, TBNLogTag::messageTagWithTags("misc|timer"), "s.cpp", fn, 4,
                       "failed: {}", "timeout");
        TBNLogger::log(false, 4, TBNLogTag::methodBeginTagWithTags("core"), "s.cpp", fn, 5, "");
        TBNLogger::log(false, 8, TBNLogTag::valueTagWithTags("core"), "s.cpp", fn, 6, "{}",
                       logValueText("count", 3));
        TBNLogger::log(false, 4, TBNLogTag::timeBeginTagWithTags("core"), "s.cpp", fn, 7, "load");
        moment += std::chrono::milliseconds(1500);
        TBNLogger::log(false, 4, TBNLogTag::timeEndTagWithTags("core"), "s.cpp", fn, 8, "load");
        TBNLogger::log(false, 2, TBNLogTag::methodAltEndTagWithTags("core|blec"), "s.cpp", fn, 9,
                       "");
        TBNLogger::log(false, 4, TBNLogTag::messageTagWithTags("core|blec"), "s.cpp", fn, 10,
                       "two\nlines");
        TBNLogger::log(false, 8, TBNLogTag::methodFailTagWithTags("core"), "s.cpp", fn, 11,
                       "no answer");
        TBNLogger::log(false, 4, TBNLogTag::methodEndTagWithTags("core"), "s.cpp", fn, 12, "");
    };
    for (int64_t setting : {0, 11, 12, 13}) {
        TBNLogHelper::applyLoggingLevel(setting, *filter, *formatter);
        TBNLogger::log(false, 1, TBNLogTag::messageTag(), "s.cpp", "T::t", 0, "setting {}",
                       setting);
        logAll();
    }
    // 0 (off): nothing at all.
    const std::string started = mainLine("INFO", ">>  started", "core:thrift");
    const std::string failed = mainLine("ERRR", ">>  failed: timeout", "misc:timer");
    const std::string twoLines = mainLine("INFO", ">>  two\nlines", "core:blec");
    // 11 (info): scopes and values off, time begins silent, time ends with the prefix.
    std::vector<std::string> info{mainLine("ERRR", ">>  setting 11", ""), started, failed,
                                  mainLine("INFO", ">>  [1.500s] - load", "core"), twoLines};
    // 12 (debug): debug lines whose tags are all enabled, scopes and values back.
    std::vector<std::string> debug{mainLine("ERRR", ">>  setting 12", ""),
                                   started,
                                   mainLine("DEBG", ">>  detail 1", "core:blec"),
                                   failed,
                                   mainLine("INFO", "--> TBNService::start", "core"),
                                   mainLine("DEBG", "    <: count = 3 :>", "core"),
                                   mainLine("INFO", ">>  [1.500s] - load", "core"),
                                   mainLine("WARN", "<++ TBNService::start", "core:blec"),
                                   twoLines,
                                   mainLine("DEBG", "<** TBNService::start - no answer", "core"),
                                   mainLine("INFO", "<-- TBNService::start", "core")};
    // 13 (verbose): the settings tag is enabled; time begins get their own line again.
    std::vector<std::string> verbose{mainLine("ERRR", ">>  setting 13", ""),
                                     started,
                                     mainLine("DEBG", ">>  detail 1", "core:blec"),
                                     mainLine("VERB", ">>  chatter", "core:settings"),
                                     failed,
                                     mainLine("INFO", "--> TBNService::start", "core"),
                                     mainLine("DEBG", "    <: count = 3 :>", "core"),
                                     mainLine("INFO", "==> load", "core"),
                                     mainLine("INFO", "<== [1.500s] - load", "core"),
                                     mainLine("WARN", "<++ TBNService::start", "core:blec"),
                                     twoLines,
                                     mainLine("DEBG", "<** TBNService::start - no answer", "core"),
                                     mainLine("INFO", "<-- TBNService::start", "core")};
    // The golden lines are compared as the file holds them: a message's own line feed
    // stays (only value records are put on one line).
    std::vector<std::string> all;
    for (const auto* part : {&info, &debug, &verbose}) {
        all.insert(all.end(), part->begin(), part->end());
    }
    std::vector<std::string> fileLines;
    for (const std::string& line : all) {
        size_t start = 0;
        for (size_t nl; (nl = line.find('\n', start)) != std::string::npos; start = nl + 1) {
            fileLines.push_back(line.substr(start, nl - start));
        }
        fileLines.push_back(line.substr(start));
    }
    TBNLogHelper::flushLog();
    EXPECT_EQ(readLines(logs / files[0]), fileLines);
    TBNLogger::setMaxLevel(savedMask);
}

// ---- registration, array logger, trace ------------------------------------------------

TEST_F(LogFilesTest, RegisteringLoggersWithFiltersAndFormatters) {
    LogDispatcher::sharedInstance().removeAllLoggers();
    auto both = std::make_shared<CapturingLogger>();
    auto filterOnly = std::make_shared<CapturingLogger>();
    auto plain = std::make_shared<CapturingLogger>();
    auto configured = std::make_shared<CapturingLogger>();
    auto filter = std::make_shared<TBNLogFilter>();
    auto formatter = std::make_shared<TBNLogFormatter>();
    formatter->setDateFormat(0);
    formatter->setThreadFormat(0);
    formatter->setPrintFormat(1);
    TBNLog::addLogger(both, filter, formatter);
    TBNLog::addLogger(filterOnly, filter, nullptr);
    TBNLog::addLoggerWithoutFilterAndFormatter(plain);
    bool configuredBefore = false;
    TBNLog::addLoggerWithDefaultFilterAndFormatter(
        configured, [&](TBNLogFilter& f, TBNLogFormatter& fm) {
            configuredBefore = configured->logFormatter() == nullptr;
            f.setMessageDisabled(true);
            fm.setDateFormat(0);
        });
    EXPECT_TRUE(configuredBefore);
    EXPECT_EQ(LogDispatcher::sharedInstance().allLoggers().size(), 4u);

    TBNLogger::log(false, 4, TBNLogTag::messageTagWithTags("core"), "f", "A::b", 1, "hello");
    TBNLogger::log(false, 8, TBNLogTag::messageTagWithTags("core"), "f", "A::b", 1, "dropped");
    LogDispatcher::sharedInstance().flush();
    EXPECT_EQ(both->lines(), (std::vector<std::string>{"INFO | >>  hello"}));
    EXPECT_EQ(filterOnly->lines(), (std::vector<std::string>{"hello"}));
    EXPECT_EQ(plain->lines(), (std::vector<std::string>{"hello"}));
    EXPECT_TRUE(configured->lines().empty());  // its filter drops messages
}

TEST(TBNArrayLoggerTest, KeepsTheLastLines) {
    auto logger = TBNArrayLogger::sharedInstance();
    EXPECT_EQ(logger, TBNArrayLogger::sharedInstance());
    EXPECT_EQ(TBNArrayLogger::init(), nullptr);
    EXPECT_EQ(logger->loggerName(), "com.tobrin.arrayLogger");
    EXPECT_EQ(logger->maxRowCount(), 10240u);
    logger->setLogs({});
    for (int i = 1; i <= 10241; ++i) {
        LogRecord r;
        r.message = std::to_string(i);
        logger->logMessage(r);
    }
    std::vector<std::string> rows = logger->rows();
    ASSERT_EQ(rows.size(), 10240u);
    EXPECT_EQ(rows.front(), "2");
    EXPECT_EQ(rows.back(), "10241");
    // A formatter that drops the record leaves no line.
    logger->setLogFormatter(std::make_shared<TBNLogFilter>());
    LogRecord untagged;
    untagged.message = "x";
    logger->logMessage(untagged);
    EXPECT_EQ(logger->rows().back(), "10241");
}

TEST(TBNLogHelperTrace, StartsOnceAndStopsQuietly) {
    TBNLogHelper helper;
    helper.instanceStopTraceCallstacks();
    EXPECT_FALSE(helper.traceCallstacksRunning());
    helper.instanceStartTraceCallstacksWithRefreshTime(0.01);
    helper.instanceStartTraceCallstacksWithRefreshTime(0.01);
    EXPECT_TRUE(helper.traceCallstacksRunning());
    helper.instanceStopTraceCallstacks();
    EXPECT_FALSE(helper.traceCallstacksRunning());
}

}  // namespace
}  // namespace lumvane
