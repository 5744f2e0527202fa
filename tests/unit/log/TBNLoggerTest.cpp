// The entry point: level mask, tags, the record handed to the dispatcher, macros and
// the function text they pass.
#include "runtime/log/TBNLogger.h"

#include <gtest/gtest.h>

#include "LogTestSupport.h"

namespace lumvane {
namespace {

using testing::CapturingLogger;
using testing::FixedLogEnvironment;
using testing::fixedTime;

class TBNLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedMask_ = TBNLogger::maxLevel();
        LogDispatcher::sharedInstance().removeAllLoggers();
        LogDispatcher::sharedInstance().addLogger(capture_);
    }
    void TearDown() override {
        LogDispatcher::sharedInstance().flush();
        LogDispatcher::sharedInstance().removeAllLoggers();
        TBNLogger::setMaxLevel(savedMask_);
    }
    std::vector<LogRecord> written() {
        LogDispatcher::sharedInstance().flush();
        return capture_->records();
    }

    std::shared_ptr<CapturingLogger> capture_ = std::make_shared<CapturingLogger>();
    uint64_t savedMask_ = 0;
};

TEST(TBNLoggerInitial, SharedMaskIsInfoUntilSomebodySetsIt) {
    EXPECT_EQ(TBNLogger::maxLevel(), 7u);
    EXPECT_EQ(TBNLog::maxLevel(), 7u);
    EXPECT_EQ(&TBNLogger::shared(), &TBNLogger::shared());
}

TEST_F(TBNLoggerTest, FlagPassesOnlyWhenAllItsBitsLieInTheMask) {
    struct Case {
        uint64_t mask;
        uint64_t flag;
        bool written;
    };
    const Case cases[] = {
        {7, 1, true},    {7, 2, true},  {7, 4, true},   {7, 8, false},  {7, 16, false},
        {7, 0, true},    {7, 6, true},  {7, 12, false}, {0, 0, true},   {0, 1, false},
        {0, 2, false},   {0, 4, false}, {0, 8, false},  {0, 16, false}, {31, 16, true},
        {15, 16, false}, {15, 8, true},
    };
    for (const Case& c : cases) {
        TBNLog::setMaxLevel(c.mask);
        EXPECT_EQ(TBNLogger::maxLevel(), c.mask);
        size_t before = written().size();
        TBNLogger::log(true, c.flag, TBNLogTag::messageTag(), "f.cpp", "F::g", 1, "line {}",
                       c.flag);
        EXPECT_EQ(written().size() - before, c.written ? 1u : 0u)
            << "mask " << c.mask << " flag " << c.flag;
    }
}

TEST_F(TBNLoggerTest, DisabledCallDoesNotEvaluateItsArguments) {
    TBNLogger::setMaxLevel(kTBNLogLevelInfo);
    int evaluated = 0;
    auto costly = [&evaluated] {
        ++evaluated;
        return 42;
    };
    TBN_LOG_DEBUG("core", "value {}", costly());
    TBN_LOG_VERBOSE_VALUE("core", evaluated);
    EXPECT_EQ(evaluated, 0);
    TBN_LOG_INFO("core", "value {}", costly());
    EXPECT_EQ(evaluated, 1);
    ASSERT_EQ(written().size(), 1u);
    EXPECT_EQ(written()[0].message, "value 42");
}

TEST_F(TBNLoggerTest, RecordCarriesTheCallAndTheMoment) {
    FixedLogEnvironment env(fixedTime(), {"12", "main", "io.lumvane.queue"});
    auto tag = TBNLogTag::methodEndTagWithTags("core|thrift", "ctx");
    TBNLogger::log(false, kTBNLogFlagWarning, tag, "src/a.cpp", "A::run", 77, "n={}", 5);
    auto records = written();
    ASSERT_EQ(records.size(), 1u);
    const LogRecord& r = records[0];
    EXPECT_EQ(r.message, "n=5");
    EXPECT_EQ(r.level, 31u);
    EXPECT_EQ(r.flag, 2u);
    EXPECT_EQ(r.context, 2u);
    EXPECT_EQ(r.file, "src/a.cpp");
    EXPECT_EQ(r.function, "A::run");
    EXPECT_EQ(r.line, 77u);
    EXPECT_EQ(r.tag.get(), tag.get());
    EXPECT_EQ(r.options, 0u);
    EXPECT_EQ(r.timestamp, fixedTime());
    EXPECT_EQ(r.threadNumber, "12");
    EXPECT_EQ(r.threadName, "main");
    EXPECT_EQ(r.queueLabel, "io.lumvane.queue");
}

TEST_F(TBNLoggerTest, AbsentFormatFileAndFunction) {
    TBNLogger::setMaxLevel(kTBNLogLevelVerbose);
    TBNLogger::log(true, kTBNLogFlagError, TBNLogTag::messageTag(), "f", "g", 1, nullptr);
    TBNLogger::logText(true, kTBNLogFlagError, TBNLogTag::messageTag(), "f", "g", 1, std::nullopt);
    EXPECT_TRUE(written().empty());

    TBNLogger::log(true, kTBNLogFlagError, TBNLogTag::messageTag(), nullptr, nullptr, 3, "x");
    // An absent tag is passed on as it is; the filter and the formatter drop it later.
    TBNLogger::logText(true, kTBNLogFlagInfo, nullptr, "file", "fn", 4, "y");
    auto records = written();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].file, "");
    EXPECT_EQ(records[0].function, "");
    EXPECT_EQ(records[1].tag, nullptr);
    EXPECT_EQ(records[1].context, 0u);
}

TEST(TBNLogTagTest, TagsStringIsSplitAtBars) {
    struct Case {
        const char* tags;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"", {}},
        {"core", {"core"}},
        {"core|thrift|blec", {"core", "thrift", "blec"}},
        {"core||blec", {"core", "", "blec"}},
        {"|", {"", ""}},
        {"core|", {"core", ""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TBNLogTag::messageTagWithTags(c.tags)->logTags(), c.expected) << c.tags;
    }
}

TEST(TBNLogTagTest, ConstructorsSetKindTagsAndContext) {
    using Make0 = TBNLogTagPtr (*)();
    using Make1 = TBNLogTagPtr (*)(std::string_view);
    using Make2 = TBNLogTagPtr (*)(std::string_view, std::string_view);
    struct Family {
        uint64_t kind;
        Make0 plain;
        Make1 withTags;
        Make1 withContext;
        Make2 withBoth;
    };
    const Family families[] = {
        {0, &TBNLogTag::messageTag, &TBNLogTag::messageTagWithTags,
         &TBNLogTag::messageTagWithContext, &TBNLogTag::messageTagWithTags},
        {1, &TBNLogTag::methodBeginTag, &TBNLogTag::methodBeginTagWithTags,
         &TBNLogTag::methodBeginTagWithContext, &TBNLogTag::methodBeginTagWithTags},
        {2, &TBNLogTag::methodEndTag, &TBNLogTag::methodEndTagWithTags,
         &TBNLogTag::methodEndTagWithContext, &TBNLogTag::methodEndTagWithTags},
        {3, &TBNLogTag::methodAltEndTag, &TBNLogTag::methodAltEndTagWithTags,
         &TBNLogTag::methodAltEndTagWithContext, &TBNLogTag::methodAltEndTagWithTags},
        {4, &TBNLogTag::methodFailTag, &TBNLogTag::methodFailTagWithTags,
         &TBNLogTag::methodFailTagWithContext, &TBNLogTag::methodFailTagWithTags},
        {5, &TBNLogTag::timeBeginTag, &TBNLogTag::timeBeginTagWithTags,
         &TBNLogTag::timeBeginTagWithContext, &TBNLogTag::timeBeginTagWithTags},
        {6, &TBNLogTag::timeEndTag, &TBNLogTag::timeEndTagWithTags,
         &TBNLogTag::timeEndTagWithContext, &TBNLogTag::timeEndTagWithTags},
        {7, &TBNLogTag::valueTag, &TBNLogTag::valueTagWithTags, &TBNLogTag::valueTagWithContext,
         &TBNLogTag::valueTagWithTags},
    };
    const std::vector<std::string> tags{"core", "thrift", "blec"};
    for (const Family& f : families) {
        SCOPED_TRACE(f.kind);
        auto plain = f.plain();
        EXPECT_EQ(plain->logType(), f.kind);
        EXPECT_TRUE(plain->logTags().empty());
        EXPECT_EQ(plain->context(), "");
        auto withTags = f.withTags("core|thrift|blec");
        EXPECT_EQ(withTags->logType(), f.kind);
        EXPECT_EQ(withTags->logTags(), tags);
        EXPECT_EQ(withTags->context(), "");
        auto withContext = f.withContext("ctx");
        EXPECT_EQ(withContext->logType(), f.kind);
        EXPECT_TRUE(withContext->logTags().empty());
        EXPECT_EQ(withContext->context(), "ctx");
        auto both = f.withBoth("core|thrift|blec", "ctx");
        EXPECT_EQ(both->logType(), f.kind);
        EXPECT_EQ(both->logTags(), tags);
        EXPECT_EQ(both->context(), "ctx");
    }
    EXPECT_EQ(TBNLogTag::tagWithTags("a", 9)->logType(), 9u);
    EXPECT_EQ(TBNLogTag::tagWithTags("a", 9, "c")->context(), "c");
}

// Call sites of the macros: a class with a method, a static member and a lambda.
struct MacroSite {
    void run() { TBN_LOG_INFO("core|thrift", "from {}", "run"); }
    static void make() { TBN_LOG_WARN("ui", "static"); }
    void callback() {
        auto later = [] { TBN_LOG_ERROR("ui", "inside"); };
        later();
    }
    void scopes() {
        TBN_LOG_BEGIN(INFO, "core");
        int count = 3;
        bool ready = false;
        double ratio = 0.5;
        TBN_LOG_VALUE(INFO, "core", count);
        TBN_LOG_VALUE(INFO, "core", ready);
        TBN_LOG_VALUE(INFO, "core", ratio);
        TBN_LOG_TIME_BEGIN(INFO, "core", "load");
        TBN_LOG_TIME_END(INFO, "core", "load");
        TBN_LOG_FAIL(INFO, "core", "no {}", "answer");
        TBN_LOG_ALT_END(INFO, "core");
        TBN_LOG_END(INFO, "core");
    }
};

void plainFunction() {
    TBN_LOG_INFO("", "plain");
}

TEST_F(TBNLoggerTest, MacrosPassKindTagsAndFunctionText) {
    TBNLogger::setMaxLevel(kTBNLogLevelInfo);
    MacroSite site;
    site.run();
    MacroSite::make();
    site.callback();
    plainFunction();
    site.scopes();
    auto records = written();
    struct Expected {
        uint64_t flag;
        uint64_t kind;
        const char* function;
        const char* message;
    };
    const Expected expected[] = {
        {4, 0, "MacroSite::run", "from run"},
        {2, 0, "MacroSite::make", "static"},
        {1, 0, "MacroSite::callback::<lambda>", "inside"},
        {4, 0, "plainFunction", "plain"},
        {4, 1, "MacroSite::scopes", ""},
        {4, 7, "MacroSite::scopes", "<: count = 3 :>"},
        {4, 7, "MacroSite::scopes", "<: ready = FL :>"},
        {4, 7, "MacroSite::scopes", "<: ratio = 0.500000 :>"},
        {4, 5, "MacroSite::scopes", "load"},
        {4, 6, "MacroSite::scopes", "load"},
        {4, 4, "MacroSite::scopes", "no answer"},
        {4, 3, "MacroSite::scopes", ""},
        {4, 2, "MacroSite::scopes", ""},
    };
    ASSERT_EQ(records.size(), std::size(expected));
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].flag, expected[i].flag);
        EXPECT_EQ(records[i].context, expected[i].kind);
        EXPECT_EQ(records[i].function, expected[i].function);
        EXPECT_EQ(records[i].message, expected[i].message);
        EXPECT_NE(records[i].file.find("TBNLoggerTest.cpp"), std::string::npos);
    }
    auto* tag = dynamic_cast<const TBNLogTag*>(records[0].tag.get());
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->logTags(), (std::vector<std::string>{"core", "thrift"}));
}

void logWithTags(const std::string& tags) {
    TBN_LOG_INFO(tags, "tagged");
}

TEST_F(TBNLoggerTest, CallSiteKeepsItsTagOnlyWhileTheTagsStayTheSame) {
    TBNLogger::setMaxLevel(kTBNLogLevelInfo);
    logWithTags("core|blec");
    logWithTags("core|blec");
    logWithTags("ui");
    auto records = written();
    ASSERT_EQ(records.size(), 3u);
    auto tagsOf = [](const LogRecord& r) {
        return dynamic_cast<const TBNLogTag&>(*r.tag).logTags();
    };
    EXPECT_EQ(tagsOf(records[0]), (std::vector<std::string>{"core", "blec"}));
    EXPECT_EQ(records[0].tag.get(), records[1].tag.get());  // one object for both lines
    EXPECT_EQ(tagsOf(records[2]), (std::vector<std::string>{"ui"}));
}

TEST(LogFunctionText, CompilerNamesBecomeClassAndMethod) {
    struct Case {
        const char* pretty;
        const char* text;
    };
    const Case cases[] = {
        {"void lumvane::TBNService::start()", "TBNService::start"},
        {"void lumvane::TBNService::updateInfo(int, const std::string &) const",
         "TBNService::updateInfo"},
        {"static lumvane::TBNService &lumvane::TBNService::sharedService()",
         "TBNService::sharedService"},
        {"lumvane::TBNService::TBNService(int)", "TBNService::TBNService"},
        {"lumvane::TBNService::~TBNService()", "TBNService::~TBNService"},
        {"virtual void lumvane::BLECLink::onData(std::vector<unsigned char>)", "BLECLink::onData"},
        {"std::map<int, std::string> lumvane::Cache<int>::all() const", "Cache<int>::all"},
        {"void lumvane::Box<T>::put(T) [with T = int]", "Box<T>::put"},
        {"void lumvane::Box<int>::put(T) [T = int]", "Box<int>::put"},
        {"const char *lumvane::Names::first()", "Names::first"},
        {"const char* lumvane::Names::first()", "Names::first"},
        {"int main(int, char **)", "main"},
        {"void lumvane::(anonymous namespace)::helper()", "helper"},
        {"void {anonymous}::Local::go()", "Local::go"},
        {"void lumvane::threadinfo::reset()", "threadinfo::reset"},
        {"lumvane::TBNService::start()::<lambda()>", "TBNService::start::<lambda>"},
        {"auto lumvane::TBNService::start()::(anonymous class)::operator()() const",
         "TBNService::start::<lambda>"},
        {"auto lumvane::TBNService::start()::(lambda at a.cpp:3:5)::operator()() const",
         "TBNService::start::<lambda>"},
        {"void lumvane::TBNService::start()::Helper::go()", "TBNService::start::<local>"},
        {"bool lumvane::Key::operator<(const lumvane::Key &) const", "Key::operator<"},
        {"bool lumvane::Key::operator()(int) const", "Key::operator()"},
        {"lumvane::Key::operator bool() const", "Key::operator bool"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(makeLogFunctionText(c.pretty), c.text) << c.pretty;
    }
    EXPECT_EQ(logFunctionText("void lumvane::A::b()"), logFunctionText("void lumvane::A::b()"));
}

}  // namespace
}  // namespace lumvane
