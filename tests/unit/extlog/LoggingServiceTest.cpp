// The handler of the logging service with files on disk in a folder of the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <thrift/transport/TBufferTransports.h>

#include "protocol/ProtocolLimits.h"
#include "runtime/extlog/ExtensionLogRecord.h"
#include "runtime/extlog/TBNOSXLoggingService.h"

namespace lumvane {
namespace {

namespace fs = std::filesystem;

std::string b64(const std::string& text) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        uint32_t n = (uint8_t(text[i]) << 16) | (uint8_t(text[i + 1]) << 8) | uint8_t(text[i + 2]);
        for (int k = 3; k >= 0; --k) out += a[(n >> (6 * k)) & 63];
    }
    const size_t rest = text.size() - i;
    if (rest > 0) {
        uint32_t n = uint8_t(text[i]) << 16;
        if (rest == 2) n |= uint8_t(text[i + 1]) << 8;
        out += a[(n >> 18) & 63];
        out += a[(n >> 12) & 63];
        out += rest == 2 ? a[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::shared_ptr<TBNLogMessage> message(const std::string& appId, const std::string& version,
                                       const std::string& text, int32_t level = 2,
                                       int32_t type = 0) {
    auto m = std::make_shared<TBNLogMessage>();
    m->setAppId(appId);
    m->setAppVersion(version);
    m->setMessage(b64(text));
    m->setLevel(level);
    m->setType(type);
    return m;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file under the root, by path relative to it.
std::map<std::string, std::string> filesUnder(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->is_regular_file())
            out[fs::relative(it->path(), root).string()] = readFile(it->path());
    }
    return out;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

class LoggingService : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("extlog-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        logs = root / "logs";
        folder = logs / "extensions";
        fs::create_directories(logs);
    }
    void TearDown() override { fs::remove_all(root); }

    std::shared_ptr<TBNOSXLoggingService> make(int64_t setting,
                                               TBNOSXLoggingService::Options o = {}) {
        o.folder = folder;
        o.notificationCenter = &center;
        o.logHelper = &helper;
        return TBNOSXLoggingService::create(setting, o);
    }

    // All text written for one app id, every version together.
    std::string textOf(const std::string& appId) {
        std::string all;
        if (!fs::exists(folder)) return all;
        for (auto& e : fs::directory_iterator(folder)) {
            if (e.path().filename().string().rfind(appId + " ", 0) == 0) all += readFile(e.path());
        }
        return all;
    }

    fs::path root, logs, folder;
    NotificationCenter center;
    TBNLogHelper helper;
};

TEST_F(LoggingService, LevelMaskFromSettingAndNotifications) {
    EXPECT_EQ(TBNOSXLoggingService::maxLevelForSetting(11), 7u);
    EXPECT_EQ(TBNOSXLoggingService::maxLevelForSetting(12), 15u);
    EXPECT_EQ(TBNOSXLoggingService::maxLevelForSetting(13), 31u);
    for (int64_t off : {0, 1, 2, 5, -1})
        EXPECT_EQ(TBNOSXLoggingService::maxLevelForSetting(off), 0u);

    auto service = make(12);
    EXPECT_EQ(service->maxLevel(), 15u);
    service->sendLog(message("com.tobrin.chrome.lumvane", "3.1.0", "verbose dropped", 4));
    EXPECT_TRUE(service->extLogs().empty()) << "a dropped first record opens no log";
    EXPECT_FALSE(fs::exists(folder));

    service->sendLog(message("com.tobrin.chrome.lumvane", "3.1.0", "debug kept", 3));
    center.postNotification(kLoggingDisabledNotification, this);
    EXPECT_EQ(service->maxLevel(), 0u);
    service->sendLog(message("com.tobrin.chrome.lumvane", "3.1.0", "error while off", 0));
    center.postNotification(kLoggingVerboseLevelNotification);
    EXPECT_EQ(service->maxLevel(), 31u);
    service->sendLog(message("com.tobrin.chrome.lumvane", "3.1.0", "verbose now", 9));
    center.postNotification(kLoggingInfoLevelNotification);
    EXPECT_EQ(service->maxLevel(), 7u);
    center.postNotification(kLoggingDebugLevelNotification);
    EXPECT_EQ(service->maxLevel(), 15u);
    service->flushLog();

    const std::string text = textOf("com.tobrin.chrome.lumvane");
    EXPECT_NE(text.find("debug kept"), std::string::npos);
    EXPECT_NE(text.find("verbose now"), std::string::npos);
    EXPECT_EQ(text.find("verbose dropped"), std::string::npos);
    EXPECT_EQ(text.find("error while off"), std::string::npos);

    auto off = make(1);
    EXPECT_EQ(off->maxLevel(), 0u);
}

TEST_F(LoggingService, EmptyTagsAndThreadNameComeFromTheAppId) {
    auto service = make(13);
    auto m = message("com.tobrin.chrome.lumvane", "3.1.0", "hello");
    service->sendLog(m);
    EXPECT_EQ(m->tags(), "ext:chrome-lumvane");
    auto tagged = message("com.tobrin.chrome.lumvane", "3.1.0", "tagged");
    tagged->setTags("a|b");
    service->sendLog(tagged);
    EXPECT_EQ(tagged->tags(), "a|b");
    // An id shorter than the usual prefix is used whole.
    auto shortId = message("x.y", "1", "short id");
    service->sendLog(shortId);
    EXPECT_EQ(shortId->tags(), "ext:x-y");
    service->flushLog();

    const auto lines = linesOf(textOf("com.tobrin.chrome.lumvane"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("chrome-lumvane"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("ext:chrome-lumvane"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("a:b"), std::string::npos) << lines[1];
    EXPECT_NE(textOf("x.y").find("short id"), std::string::npos);
}

TEST_F(LoggingService, NamesThatAreNotPlainWordsAreRefused) {
    auto service = make(13);
    const std::string bad[] = {
        "",           ".", "..", "../evil", "a/b", "a b", "a\nb", "..\\x", std::string(65, 'a'),
        "caf\xC3\xA9"};
    for (const std::string& name : bad) {
        service->sendLog(message(name, "1.0", "from a bad id"));
        service->sendLog(message("com.ok", name, "from a bad version"));
    }
    auto noVersion = message("com.ok", "1", "no version");
    noVersion->unsetAppVersion();
    service->sendLog(noVersion);
    service->sendLog(nullptr);
    service->flushLog();
    EXPECT_TRUE(service->extLogs().empty());
    EXPECT_TRUE(filesUnder(root).empty());

    EXPECT_TRUE(TBNOSXLoggingService::isValidLogName(std::string(64, 'a')));
    EXPECT_TRUE(TBNOSXLoggingService::isValidLogName("com.tobrin.safari-lumvane_2"));
    EXPECT_TRUE(TBNOSXLoggingService::isValidLogName("..."));
}

TEST_F(LoggingService, VersionsAndLookalikeIdsKeepTheirOwnFiles) {
    fs::create_directories(folder);
    TBNOSXLoggingService::Options o;
    o.maximumNumberOfLogFiles = 1;  // each manager keeps only its newest file
    auto service = make(13, o);
    // Two versions of one extension: two logs, both in the same folder.
    {
        auto plain = make(13);
        plain->sendLog(message("com.two", "1", "version one"));
        plain->sendLog(message("com.two", "2", "version two"));
        plain->flushLog();
        EXPECT_EQ(plain->extLogs(), (std::vector<std::string>{"com.two_1", "com.two_2"}));
        size_t files = 0;
        for (auto& e : fs::directory_iterator(folder)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("com.two 1 ", 0) == 0 || name.rfind("com.two 2 ", 0) == 0) ++files;
        }
        EXPECT_EQ(files, 2u);
        EXPECT_NE(textOf("com.two").find("version one"), std::string::npos);
        EXPECT_NE(textOf("com.two").find("version two"), std::string::npos);
    }
    // Files that only look alike: a longer id with the same beginning.
    std::ofstream(folder / "com.a.b 1 2020-01-01--00-00-00-000.tbnlog") << "other extension\n";
    std::ofstream(folder / "com.a_x 1 2020-01-01--00-00-00-000.tbnlog") << "other extension\n";

    service->sendLog(message("com.a", "1", "v1"));
    // The key "a_b" + "c" and "a" + "b_c" must not meet.
    service->sendLog(message("a_b", "c", "first pair"));
    service->sendLog(message("a", "b_c", "second pair"));
    service->flushLog();
    EXPECT_NE(textOf("a_b").find("first pair"), std::string::npos);
    EXPECT_EQ(textOf("a_b").find("second pair"), std::string::npos);
    EXPECT_NE(textOf("a").find("second pair"), std::string::npos);

    service->rollLogFileWithCompletionBlock(nullptr);  // prunes each manager's own files
    service->flushLog();

    EXPECT_TRUE(fs::exists(folder / "com.a.b 1 2020-01-01--00-00-00-000.tbnlog"));
    EXPECT_TRUE(fs::exists(folder / "com.a_x 1 2020-01-01--00-00-00-000.tbnlog"));
    EXPECT_EQ(service->extLogs(), (std::vector<std::string>{"com.a_1", "a_b_c", "a_b_c"}));
    for (auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        EXPECT_EQ(name.substr(name.size() - 7), ".tbnlog") << name;
    }
}

TEST_F(LoggingService, AtMostSixteenLiveLogsLeastRecentlyUsedClosed) {
    auto service = make(13);
    for (int i = 0; i < 20; ++i) {
        service->sendLog(message("ext" + std::to_string(i), "1", "line of " + std::to_string(i)));
        if (i >= 1) service->sendLog(message("ext0", "1", "ext0 again " + std::to_string(i)));
    }
    auto live = service->extLogs();
    EXPECT_EQ(live.size(), 16u);
    EXPECT_EQ(service->extLogFileManagers().size(), 16u);
    EXPECT_EQ(live.back(), "ext0_1") << "the busy one stays open";
    EXPECT_EQ(std::count(live.begin(), live.end(), "ext1_1"), 0) << "the idle ones are closed";
    service->flushLog();
    // Closing wrote out what was queued.
    for (int i = 0; i < 20; ++i) {
        EXPECT_NE(textOf("ext" + std::to_string(i)).find("line of " + std::to_string(i)),
                  std::string::npos)
            << i;
    }
}

TEST_F(LoggingService, FolderQuotaBoundsAllExtensionsTogether) {
    fs::create_directories(folder);
    // Old files of many extensions: 10 x 10 KiB.
    for (int i = 0; i < 10; ++i) {
        auto p = folder / ("old" + std::to_string(i) + " 1 2020-01-01--00-00-00-000.tbnlog");
        std::ofstream(p) << std::string(10 * 1024, 'o');
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(100 - i));
    }
    std::ofstream(folder / "unrelated.txt") << "not a log";
    TBNOSXLoggingService::Options o;
    o.folderQuota = 35 * 1024;
    auto service = make(13, o);
    service->sendLog(message("com.new", "1", "fresh"));
    service->flushLog();

    uint64_t total = 0;
    std::set<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) {
        names.insert(e.path().filename().string());
        if (e.path().extension() == ".tbnlog") total += fs::file_size(e.path());
    }
    EXPECT_LE(total, o.folderQuota);
    EXPECT_TRUE(names.count("old9 1 2020-01-01--00-00-00-000.tbnlog")) << "newest old file kept";
    EXPECT_FALSE(names.count("old0 1 2020-01-01--00-00-00-000.tbnlog")) << "oldest removed";
    EXPECT_TRUE(names.count("unrelated.txt"));
    EXPECT_NE(textOf("com.new").find("fresh"), std::string::npos) << "the live file is kept";
}

TEST_F(LoggingService, OpenTimeMeasurementsAreCapped) {
    TBNOSXLoggingService::Options o;
    o.maxOpenTimeMeasurements = 4;
    auto service = make(13, o);
    for (int i = 0; i < 50; ++i) {
        service->sendLog(message("com.t", "1", "measure " + std::to_string(i), 2, 5));
    }
    service->flushLog();
    EXPECT_EQ(service->openTimeMeasurements(), 4u);
    EXPECT_EQ(service->logFormater()->timeBegins().size(), 4u);
    // The end of an open measurement writes its elapsed time and frees its slot.
    service->sendLog(message("com.t", "1", "measure 2", 2, 6));
    service->sendLog(message("com.t", "1", "measure 40", 2, 5));
    service->flushLog();
    EXPECT_EQ(service->openTimeMeasurements(), 4u);
    const std::string text = textOf("com.t");
    EXPECT_NE(text.find("s] - measure 2"), std::string::npos) << text;
    EXPECT_EQ(linesOf(text).size(), 1u) << "time-begin records write no line";
}

TEST_F(LoggingService, ArchiveMovesTheFilesAndLoggingGoesOnInNewOnes) {
    auto service = make(13);
    service->sendLog(message("com.tobrin.chrome.lumvane", "3.1.0", "before the archive"));
    auto zip = helper.instanceArchiveAllLogsToZipFile(logs.string());
    ASSERT_TRUE(zip);
    EXPECT_TRUE(fs::exists(*zip));
    EXPECT_GT(fs::file_size(*zip), 0u);
    ASSERT_TRUE(fs::exists(folder)) << "the roll after the move made the folder again";

    service->sendLog(message("com.tobrin.chrome.lumvane", "3.1.0", "after the archive"));
    service->flushLog();
    const std::string text = textOf("com.tobrin.chrome.lumvane");
    EXPECT_NE(text.find("after the archive"), std::string::npos);
    EXPECT_EQ(text.find("before the archive"), std::string::npos) << "that line went with the zip";
}

TEST_F(LoggingService, RollWalkCallsCompletionOnceAfterTheLast) {
    auto service = make(13);
    int calls = 0;
    service->rollLogFileWithCompletionBlock([&] { ++calls; });
    EXPECT_EQ(calls, 1);
    for (const char* id : {"a1", "a2", "a3"}) service->sendLog(message(id, "1", "x"));
    service->flushLog();
    std::promise<void> done;
    service->rollLogFileWithCompletionBlock([&] {
        ++calls;
        done.set_value();
    });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(calls, 2);
}

// Several extensions at once through the processor, one of them hostile, with a level
// change half way; then every file on disk is checked.
TEST_F(LoggingService, ConcurrentExtensionsOneHostile) {
    auto service = make(13);
    TBNLoggingServiceProcessor processor(service);
    auto send = [&](const std::shared_ptr<TBNLogMessage>& m) {
        auto out = makeWriteBuffer();
        TBNLoggingServiceClient writer(makeBinaryProtocol(out));
        writer.send_sendLog(m);
        const std::string call = out->getBufferAsString();
        auto in = makeReadBuffer(reinterpret_cast<const uint8_t*>(call.data()), call.size());
        auto reply = makeWriteBuffer();
        processor.process(makeBinaryProtocol(in), makeBinaryProtocol(reply), nullptr);
        // The reply is the same whatever became of the record.
        auto replyIn =
            makeReadBuffer(reinterpret_cast<const uint8_t*>(reply->getBufferAsString().data()),
                           reply->available_read());
        TBNLoggingServiceClient reader(makeBinaryProtocol(replyIn));
        reader.recv_sendLog();
    };

    const int kPerPhase = 60;
    const std::vector<std::string> good = {"com.tobrin.chrome.lumvane",
                                           "com.tobrin.firefox.lumvane", "com.tobrin.edge.lumvane"};
    auto phase = [&](int level, const std::string& label) {
        std::vector<std::thread> threads;
        for (const std::string& id : good) {
            threads.emplace_back([&, id] {
                for (int i = 0; i < kPerPhase; ++i) {
                    send(message(id, "1.0", label + " " + std::to_string(i), level));
                }
            });
        }
        threads.emplace_back([&] {
            const std::string huge(64 * 1024, 'H');
            for (int i = 0; i < kPerPhase; ++i) {
                send(message("../../../../tmp/evil", "1.0", "traversal"));
                send(message("com.evil", "../../x", "traversal in version"));
                auto m = message("com.evil", "1.0",
                                 "line\nbreak\r\nforged | ERRR | x\u2028y " + huge, level);
                m->setTags("t1\n|t2\r" + std::string(4000, 't'));
                m->setThreadName("thread\nname" + std::string(4000, 'n'));
                m->setContextName("ctx\r\n" + std::string(4000, 'c'));
                m->setFuncName("fn\n" + std::string(4000, 'f'));
                send(m);
            }
        });
        for (auto& t : threads) t.join();
    };
    phase(3, "debug-phase");
    center.postNotification(kLoggingInfoLevelNotification);
    phase(3, "dropped-phase");
    phase(2, "info-phase");
    service->flushLog();

    // Nothing outside the extensions folder, and only plain file names inside it.
    for (const auto& [path, text] : filesUnder(root)) {
        EXPECT_EQ(path.rfind("logs/extensions/", 0), 0u) << path;
        const std::string name = fs::path(path).filename().string();
        const std::string id = name.substr(0, name.find(' '));
        EXPECT_TRUE(TBNOSXLoggingService::isValidLogName(id)) << name;
        EXPECT_EQ(text.find('\r'), std::string::npos) << name;
        for (const std::string& line : linesOf(text)) {
            EXPECT_LE(line.size(), 16 * 1024 + 1024u) << name;
            EXPECT_EQ(line.find("\xE2\x80\xA8"), std::string::npos);
        }
    }
    for (const std::string& id : good) {
        const auto lines = linesOf(textOf(id));
        size_t debug = 0, info = 0, dropped = 0;
        for (const std::string& line : lines) {
            debug += line.find("debug-phase") != std::string::npos;
            info += line.find("info-phase") != std::string::npos;
            dropped += line.find("dropped-phase") != std::string::npos;
        }
        EXPECT_EQ(debug, static_cast<size_t>(kPerPhase)) << id;
        EXPECT_EQ(info, static_cast<size_t>(kPerPhase)) << id;
        EXPECT_EQ(dropped, 0u) << id;
    }
    const auto evil = linesOf(textOf("com.evil"));
    EXPECT_EQ(evil.size(), static_cast<size_t>(2 * kPerPhase)) << "one line per hostile record";
    for (const std::string& line : evil) {
        EXPECT_NE(line.find("line break  forged"), std::string::npos);
    }
}

}  // namespace
}  // namespace lumvane
