// The service layer's front end: per-file context, function text, messages of the
// error, result and value forms, and the level of each operation.
#include "runtime/log/ServiceLayerLog.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "LogTestSupport.h"

namespace lumvane {
namespace u2f {
struct U2FAuthenticator {
    virtual ~U2FAuthenticator() = default;
};
struct SoftAuthenticator : U2FAuthenticator {};
}  // namespace u2f

namespace {

using testing::CapturingLogger;

class ServiceLayerLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedMask_ = TBNLogger::maxLevel();
        TBNLogger::setMaxLevel(kTBNLogLevelVerbose);
        LogDispatcher::sharedInstance().removeAllLoggers();
        LogDispatcher::sharedInstance().addLogger(capture_);
    }
    void TearDown() override {
        LogDispatcher::sharedInstance().flush();
        LogDispatcher::sharedInstance().removeAllLoggers();
        TBNLogger::setMaxLevel(savedMask_);
    }
    LogRecord last() {
        LogDispatcher::sharedInstance().flush();
        auto records = capture_->records();
        EXPECT_FALSE(records.empty());
        return records.empty() ? LogRecord{} : records.back();
    }
    size_t count() {
        LogDispatcher::sharedInstance().flush();
        return capture_->records().size();
    }
    static std::vector<std::string> tagsOf(const LogRecord& r) {
        auto* tag = dynamic_cast<const TBNLogTag*>(r.tag.get());
        return tag ? tag->logTags() : std::vector<std::string>{"<no tag>"};
    }
    static std::string contextOf(const LogRecord& r) {
        auto* tag = dynamic_cast<const TBNLogTag*>(r.tag.get());
        return tag ? tag->context() : "<no tag>";
    }

    std::shared_ptr<CapturingLogger> capture_ = std::make_shared<CapturingLogger>();
    uint64_t savedMask_ = 0;
};

// Each call site below is a function of its own, so the function text is predictable.
// Returns the line of its log call.
uint64_t startService() {
    const uint64_t line = __LINE__ + 1;
    logInfo("started");
    return line;
}
void startWithTags() {
    logInfo("started", logTags("own|tags", "ctx"));
}

TEST_F(ServiceLayerLogTest, ContextStoreSuppliesClassAndTags) {
    const char* file = "ServiceFile.cpp";
    // No registration: empty tags and the plain function name.
    logRecord("m", 4, 0, "", "", file, "start", 3);
    LogRecord r = last();
    EXPECT_EQ(r.function, "start");
    EXPECT_TRUE(tagsOf(r).empty());
    EXPECT_EQ(r.file, file);
    EXPECT_EQ(r.line, 3u);

    u2f::SoftAuthenticator object;
    const u2f::U2FAuthenticator& base = object;
    setLogContext(base, "u2f|core", file);  // the dynamic class counts
    logRecord("m", 4, 0, "", "", file, "start", 3);
    r = last();
    EXPECT_EQ(r.function, "SoftAuthenticator.start");
    EXPECT_EQ(tagsOf(r), (std::vector<std::string>{"u2f", "core"}));
    EXPECT_EQ(contextOf(r), "");

    logRecord("m", 4, 0, "mine", "ctx", file, "start", 3);
    r = last();
    EXPECT_EQ(tagsOf(r), (std::vector<std::string>{"mine"}));
    EXPECT_EQ(contextOf(r), "ctx");

    // A second registration wins; an empty class name gives the plain function.
    setLogClassName("Other", file);
    setLogTags("second", file);
    logRecord("m", 4, 0, "", "", file, "start", 3);
    r = last();
    EXPECT_EQ(r.function, "Other.start");
    EXPECT_EQ(tagsOf(r), (std::vector<std::string>{"second"}));
    setLogClassName("", file);
    logRecord("m", 4, 0, "", "", file, "start", 3);
    EXPECT_EQ(last().function, "start");
}

TEST_F(ServiceLayerLogTest, CallSiteComesFromTheDefaults) {
    setLogContext(u2f::U2FAuthenticator{}, "core|blec");  // for this very file
    const uint64_t line = startService();
    LogRecord r = last();
    EXPECT_EQ(r.function, "U2FAuthenticator.startService");
    EXPECT_NE(r.file.find("ServiceLayerLogTest.cpp"), std::string::npos);
    EXPECT_EQ(r.line, line);
    EXPECT_EQ(tagsOf(r), (std::vector<std::string>{"core", "blec"}));
    startWithTags();
    r = last();
    EXPECT_EQ(tagsOf(r), (std::vector<std::string>{"own", "tags"}));
    EXPECT_EQ(contextOf(r), "ctx");
    setLogClassName("");
    setLogTags("");
}

TEST_F(ServiceLayerLogTest, FormsGiveKindFlagAndMessage) {
    const std::runtime_error error("disk full");
    struct Expected {
        uint64_t flag;
        uint64_t kind;
        std::string message;
    };
    std::vector<Expected> expected;
    auto expect = [&](uint64_t flag, uint64_t kind, std::string message) {
        expected.push_back({flag, kind, std::move(message)});
    };
    logError("e");
    expect(1, 0, "e");
    logWarning("w");
    expect(2, 0, "w");
    logInfo("i");
    expect(4, 0, "i");
    logDebug("d");
    expect(8, 0, "d");
    logVerbose("v");
    expect(16, 0, "v");
    logError(error);
    expect(1, 0, "*** error: disk full");
    logError(std::make_error_code(std::errc::timed_out));
    expect(1, 0, "*** error: " + std::make_error_code(std::errc::timed_out).message());
    logErrorValue(42);
    expect(1, 0, "*** error: 42");
    logErrorValue(std::optional<int>());
    expect(1, 0, "*** error: *** UNSUPPORTED TYPE ***");
    logInfoMethodBegin();
    expect(4, 1, "");
    logDebugMethodBegin("with");
    expect(8, 1, "with");
    logVerboseMethodEnd();
    expect(16, 2, "");
    logInfoMethodEnd("done");
    expect(4, 2, "done");
    logDebugMethodAltEnd();
    expect(8, 3, "");
    logVerboseMethodAltEnd("early");
    expect(16, 3, "early");
    logInfoMethodFail();
    expect(4, 4, "");
    logDebugMethodFail(error);
    expect(8, 4, "*** error: disk full");
    logVerboseMethodFail("no answer", error);
    expect(16, 4, "no answer *** error: disk full");
    logInfoMethodFail("gave up");
    expect(4, 4, "gave up");
    logDebugMethodResult(std::nullopt);
    expect(8, 2, "");
    logDebugMethodResult(error);
    expect(8, 4, "*** error: disk full");
    logInfoMethodResult(std::nullopt, "ok");
    expect(4, 2, "ok");
    logVerboseMethodResult(error, "saving");
    expect(16, 4, "saving *** error: disk full");
    logInfoTimeBegin();
    expect(4, 5, "");
    logDebugTimeBegin("load");
    expect(8, 5, "load");
    logVerboseTimeEnd();
    expect(16, 6, "");
    logInfoTimeEnd("load");
    expect(4, 6, "load");
    logInfoValue(5);
    expect(4, 7, "<: value = 5 :>");
    logDebugValue(std::string("text"));
    expect(8, 7, "<: value = text :>");
    logVerboseValue(nullptr);
    expect(16, 7, "<: value = *** UNSUPPORTED TYPE *** :>");
    logInfoValue(std::optional<int>());
    expect(4, 7, "<: value = *** UNSUPPORTED TYPE *** :>");
    logInfoValue(std::optional<int>(7));
    expect(4, 7, "<: value = 7 :>");
    struct Opaque {};
    logInfoValue(Opaque{});
    expect(4, 7, "<: value = *** UNSUPPORTED TYPE *** :>");

    LogDispatcher::sharedInstance().flush();
    auto records = capture_->records();
    ASSERT_EQ(records.size(), expected.size());
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].flag, expected[i].flag);
        EXPECT_EQ(records[i].context, expected[i].kind);
        EXPECT_EQ(records[i].message, expected[i].message);
        EXPECT_EQ(records[i].function, "TestBody");
    }
}

TEST_F(ServiceLayerLogTest, LevelMaskAndSilentForms) {
    TBNLogger::setMaxLevel(kTBNLogLevelInfo);
    logDebug("dropped");
    logVerboseValue(1);
    logInfo("kept");
    silentLogInfo("nothing");
    silentLogErrorValue(3, logTags("x"));
    silentLogDebugMethodResult();
    EXPECT_EQ(count(), 1u);
    EXPECT_EQ(last().message, "kept");
}

TEST(ServiceLayerLogNames, PlainTypeNames) {
    EXPECT_EQ(logPlainTypeName(typeid(u2f::U2FAuthenticator)), "U2FAuthenticator");
    EXPECT_EQ(logPlainTypeName(typeid(std::vector<int>)), "vector");
    EXPECT_EQ(logPlainTypeName(typeid(int)), "int");
}

}  // namespace
}  // namespace lumvane
