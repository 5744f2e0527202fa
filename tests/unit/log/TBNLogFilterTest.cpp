// The filter: level mask, tag, class, method and kind rules, and the configurations
// that the log-level settings give the main log files.
#include "runtime/log/TBNLogFilter.h"

#include <gtest/gtest.h>

#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {
namespace {

class OtherTag : public LogTagObject {};

LogRecord recordOf(uint64_t flag, std::shared_ptr<const LogTagObject> tag,
                   std::string function = "TBNService::start", std::string message = "text") {
    LogRecord r;
    r.flag = flag;
    r.message = std::move(message);
    r.function = std::move(function);
    r.tag = std::move(tag);
    if (auto* t = dynamic_cast<const TBNLogTag*>(r.tag.get())) r.context = t->logType();
    return r;
}

bool passes(TBNLogFilter& filter, uint64_t flag, const char* tags,
            uint64_t kind = TBNLogTagTypeMessage, const char* function = "TBNService::start") {
    return filter.formatLogMessage(recordOf(flag, TBNLogTag::tagWithTags(tags, kind), function))
        .has_value();
}

TEST(TBNLogFilterTest, ClassAndMethodOfFunctionTexts) {
    struct Case {
        const char* text;
        std::optional<std::string> cls;
        std::optional<std::string> method;
    };
    const Case cases[] = {
        {"TBNService::start", "TBNService", "start"},
        {"Outer::Inner::run", "Outer::Inner", "run"},
        {"Cache<int>::all", "Cache<int>", "all"},
        {"TBNService::start::<lambda>", std::nullopt, std::nullopt},
        {"TBNService::start::<local>", std::nullopt, std::nullopt},
        {"Key::operator<", std::nullopt, std::nullopt},
        {"Key::operator bool", std::nullopt, std::nullopt},
        {"main", std::nullopt, std::nullopt},
        {"::start", std::nullopt, std::nullopt},
        {"TBNService::", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TBNLogFilter::clssName(c.text), c.cls) << c.text;
        EXPECT_EQ(TBNLogFilter::methodName(c.text), c.method) << c.text;
    }
}

TEST(TBNLogFilterTest, InitialFilterPassesInfoAndDropsDebugByMask) {
    TBNLogFilter filter;
    EXPECT_EQ(filter.maxLevel(), 7u);
    auto kept = filter.formatLogMessage(recordOf(4, TBNLogTag::messageTagWithTags("core")));
    EXPECT_EQ(kept, "text");  // the message passes on unchanged
    EXPECT_FALSE(passes(filter, 8, "core"));
    EXPECT_FALSE(passes(filter, 8, ""));
}

TEST(TBNLogFilterTest, RecordsWithoutOurTagOrTextAreDropped) {
    TBNLogFilter filter;
    filter.setMaxLevel(31);
    filter.setAllFilterDisabled(true);
    for (uint64_t flag : {1, 2, 4, 8, 16}) {
        EXPECT_FALSE(filter.formatLogMessage(recordOf(flag, nullptr)));
        EXPECT_FALSE(filter.formatLogMessage(recordOf(flag, std::make_shared<OtherTag>())));
    }
    LogRecord noText = recordOf(4, TBNLogTag::messageTag());
    noText.message.reset();
    EXPECT_FALSE(filter.formatLogMessage(noText));
}

TEST(TBNLogFilterTest, TagRules) {
    struct Case {
        const char* name;
        std::vector<std::string> enabled;
        std::vector<std::string> disabled;
        bool emptyTagsDisabled;
        bool tagFilterDisabled;
        uint64_t flag;
        const char* tags;
        bool passes;
    };
    const Case cases[] = {
        {"debug, all tags enabled", {"core", "thrift"}, {}, false, false, 8, "core|thrift", true},
        {"debug, one tag not enabled", {"core", "thrift"}, {}, false, false, 8, "core|blec", false},
        {"debug without tags", {"core", "thrift"}, {}, false, false, 8, "", true},
        {"verbose, tag not enabled", {"core"}, {}, false, false, 16, "blec", false},
        {"error ignores enabled tags", {"core", "thrift"}, {}, false, false, 1, "blec", true},
        {"info ignores enabled tags", {"core"}, {}, false, false, 4, "blec", true},
        {"no enabled tags drops tagged debug", {}, {}, false, false, 8, "core", false},
        {"flag 12 is neither debug nor verbose", {}, {}, false, false, 12, "core", true},
        {"disabled tag drops info", {}, {"blec"}, false, false, 4, "core|blec", false},
        {"disabled tag spares warning", {}, {"blec"}, false, false, 2, "blec", true},
        {"disabled tag spares error", {}, {"blec"}, false, false, 1, "core|blec", true},
        {"empty tags disabled", {}, {}, true, false, 4, "", false},
        {"empty tags disabled, tag rules off", {}, {}, true, true, 4, "", true},
        {"tag rules off spare debug", {}, {"blec"}, false, true, 8, "blec", true},
        {"an empty tag counts as a tag", {"core"}, {}, false, false, 8, "core|", false},
    };
    for (const Case& c : cases) {
        TBNLogFilter filter;
        filter.setMaxLevel(31);
        filter.addEnabledTagsToFilter(c.enabled);
        filter.addDisabledTagsToFilter(c.disabled);
        filter.setEmptyTagsDisabled(c.emptyTagsDisabled);
        filter.setTagFilterDisabled(c.tagFilterDisabled);
        EXPECT_EQ(passes(filter, c.flag, c.tags), c.passes) << c.name;
    }
}

TEST(TBNLogFilterTest, ClassAndMethodRules) {
    struct Case {
        const char* name;
        std::vector<std::string> enabledClasses;
        std::vector<std::string> disabledMethods;
        std::vector<std::string> enabledMethods;
        uint64_t flag;
        const char* function;
        bool passes;
    };
    const Case cases[] = {
        {"enabled class", {"TBNService"}, {}, {}, 4, "TBNService::start", true},
        {"other class", {"TBNService"}, {}, {}, 4, "TBNTimer::run", false},
        {"plain function fails enabled classes", {"TBNService"}, {}, {}, 4, "main", false},
        {"lambda fails enabled classes",
         {"TBNService"},
         {},
         {},
         4,
         "TBNService::start::<lambda>",
         false},
        {"error from anywhere", {"TBNService"}, {}, {}, 1, "main", true},
        {"disabled method", {}, {"update"}, {}, 4, "TBNTimer::update", false},
        {"disabled method, other class", {}, {"update"}, {}, 4, "TBNService::update", false},
        {"similar method passes", {}, {"update"}, {}, 4, "TBNService::updateInfo", true},
        {"lambda inside disabled method passes",
         {},
         {"update"},
         {},
         4,
         "TBNService::update::<lambda>",
         true},
        {"plain function passes disabled rules", {}, {"update"}, {}, 4, "update", true},
        {"warning from disabled method", {}, {"update"}, {}, 2, "TBNTimer::update", true},
        {"enabled method", {}, {}, {"start"}, 4, "TBNService::start", true},
        {"not an enabled method", {}, {}, {"start"}, 4, "TBNService::stop", false},
    };
    for (const Case& c : cases) {
        TBNLogFilter filter;
        filter.setMaxLevel(31);
        filter.addEnabledClasesToFilter(c.enabledClasses);
        filter.addDisabledMethodsToFilter(c.disabledMethods);
        filter.addEnabledMethodsToFilter(c.enabledMethods);
        EXPECT_EQ(passes(filter, c.flag, "", TBNLogTagTypeMessage, c.function), c.passes) << c.name;
    }
    TBNLogFilter filter;
    filter.addDisabledClassToFilter("TBNTimer");
    EXPECT_FALSE(passes(filter, 4, "", TBNLogTagTypeMessage, "TBNTimer::run"));
    filter.setClassFilterDisabled(true);
    EXPECT_TRUE(passes(filter, 4, "", TBNLogTagTypeMessage, "TBNTimer::run"));
}

TEST(TBNLogFilterTest, KindSwitchesDropEvenErrors) {
    TBNLogFilter filter;
    filter.setMaxLevel(31);
    filter.setScopeDisabled(true);
    for (uint64_t kind = 0; kind <= 8; ++kind) {
        const bool scope = kind >= 1 && kind <= 4;
        EXPECT_EQ(passes(filter, 1, "core", kind), !scope) << "kind " << kind;
        EXPECT_EQ(passes(filter, 4, "core", kind), !scope) << "kind " << kind;
    }
    TBNLogFilter timeOff;
    timeOff.setTimeDisabled(true);
    timeOff.setMessageDisabled(true);
    EXPECT_FALSE(passes(timeOff, 4, "", TBNLogTagTypeTimeBegin));
    EXPECT_FALSE(passes(timeOff, 4, "", TBNLogTagTypeTimeEnd));
    EXPECT_FALSE(passes(timeOff, 1, "", TBNLogTagTypeMessage));
    EXPECT_TRUE(passes(timeOff, 4, "", TBNLogTagTypeValue));

    TBNLogFilter all;
    all.setMaxLevel(31);
    all.setAllFilterDisabled(true);
    all.setValueDisabled(true);
    all.addDisabledTagToFilter("core");
    all.setEmptyTagsDisabled(true);
    EXPECT_FALSE(passes(all, 16, "core", TBNLogTagTypeValue));
    for (uint64_t kind : {0, 1, 2, 3, 4, 5, 6, 9}) {
        EXPECT_TRUE(passes(all, 16, "core|blec", kind)) << kind;
    }
    EXPECT_FALSE(passes(all, 32, "core"));  // the mask still applies
}

TEST(TBNLogFilterTest, SetOperations) {
    TBNLogFilter filter;
    filter.addEnabledTagsToFilter({"core", "thrift", "core"});
    EXPECT_EQ(filter.filterEnabledTags(), (TBNLogFilter::StringSet{"core", "thrift"}));
    filter.removeEnabledTagFromFilter("missing");
    filter.removeEnabledTagFromFilter("core");
    EXPECT_EQ(filter.filterEnabledTags(), (TBNLogFilter::StringSet{"thrift"}));
    filter.setFilterDisabledMethods({"a", "b"});
    filter.removeDisabledMethodFromFilter("a");
    EXPECT_EQ(filter.filterDisabledMethods(), (TBNLogFilter::StringSet{"b"}));
    filter.removeAllDisabledMethodFromFilter();
    filter.removeAllEnabledTagsFromFilter();
    EXPECT_TRUE(filter.filterDisabledMethods().empty());
    EXPECT_TRUE(filter.filterEnabledTags().empty());
}

// The main log files at each level setting: what the logger mask and the filter let
// through, for a table of records.
TEST(TBNLogFilterTest, LevelSettingsOfTheMainLogFiles) {
    struct Record {
        uint64_t flag;
        const char* tags;
        uint64_t kind;
        const char* function;
    };
    const Record records[] = {
        /*0*/ {4, "core|thrift", 0, "TBNService::start"},
        /*1*/ {8, "core|blec", 0, "TBNService::start"},
        /*2*/ {8, "misc|timer", 0, "TBNTimer::run"},
        /*3*/ {1, "misc|timer", 0, "TBNTimer::run"},
        /*4*/ {4, "core", 1, "TBNService::start"},
        /*5*/ {4, "core", 7, "TBNService::start"},
        /*6*/ {8, "core|blec|explorer", 0, "BLECExplorer::scan"},
        /*7*/ {16, "core|blec|explorer|unused", 0, "BLECExplorer::scan"},
        /*8*/ {16, "core|settings", 0, "TBNSettings::save"},
        /*9*/ {16, "core|thrift", 0, "TBNTimer::update"},
        /*10*/ {16, "core|thrift", 0, "TBNBlec::trySendNextRequest"},
        /*11*/ {2, "core", 2, "TBNService::start"},
        // Every extension ping: the service's delegate call and its verbose line.
        /*12*/ {16, "ui|service", 0, "TBNService::thriftHostServiceDidPingFromExtensionId"},
        /*13*/ {16, "ui|service", 0, "TBNService::didPingFromExtension"},
        /*14*/ {16, "ui|service", 0, "TBNService::didPingFromExtension::<lambda>"},
    };
    struct Setting {
        int64_t setting;
        uint64_t mask;
        std::vector<bool> written;
    };
    const Setting settings[] = {
        {0, 0, std::vector<bool>(15, false)},
        {2, 0, std::vector<bool>(15, false)},
        {11,
         7,
         {true, false, false, true, false, false, false, false, false, false, false, false, false,
          false, false}},
        {12,
         15,
         {true, true, false, true, true, true, true, false, false, false, false, true, false, false,
          false}},
        {13,
         31,
         {true, true, false, true, true, true, true, true, true, false, false, true, false, false,
          true}},
    };
    // The setting 11 turns scope records off: the warning method end (11) is dropped.
    for (const Setting& s : settings) {
        TBNLogFilter filter;
        filter.setMaxLevel(31);
        TBNLogFormatter formatter;
        TBNLogger::setMaxLevel(99);
        EXPECT_TRUE(TBNLogHelper::applyLoggingLevel(s.setting, filter, formatter));
        EXPECT_EQ(TBNLogger::maxLevel(), s.mask) << s.setting;
        for (size_t i = 0; i < std::size(records); ++i) {
            const Record& r = records[i];
            bool written =
                TBNLogger::isEnabled(r.flag) && passes(filter, r.flag, r.tags, r.kind, r.function);
            EXPECT_EQ(written, s.written[i]) << "setting " << s.setting << " record " << i;
        }
    }
    TBNLogger::setMaxLevel(7);
}

TEST(TBNLogFilterTest, LevelSettingsConfigureFilterAndFormatter) {
    TBNLogFilter filter;
    TBNLogFormatter formatter;
    EXPECT_TRUE(TBNLogHelper::applyLoggingLevel(11, filter, formatter));
    EXPECT_EQ(filter.filterEnabledTags().size(), 15u);
    EXPECT_TRUE(filter.scopeDisabled());
    EXPECT_TRUE(filter.valueDisabled());
    EXPECT_EQ(formatter.timeFormat(), 2u);

    EXPECT_TRUE(TBNLogHelper::applyLoggingLevel(12, filter, formatter));
    EXPECT_EQ(filter.filterEnabledTags().size(), 16u);
    EXPECT_FALSE(filter.scopeDisabled());
    EXPECT_EQ(formatter.timeFormat(), 2u);

    EXPECT_TRUE(TBNLogHelper::applyLoggingLevel(13, filter, formatter));
    EXPECT_EQ(filter.filterEnabledTags().size(), 18u);
    EXPECT_EQ(filter.filterDisabledMethods().size(), 7u);
    EXPECT_EQ(formatter.timeFormat(), 0u);
    EXPECT_EQ(TBNLogger::maxLevel(), 31u);

    // An unknown setting empties the filter but keeps mask and time format.
    filter.addDisabledClassToFilter("X");
    filter.addEnabledClassToFilter("Y");
    filter.addDisabledTagToFilter("Z");
    filter.setScopeDisabled(true);
    EXPECT_FALSE(TBNLogHelper::applyLoggingLevel(5, filter, formatter));
    EXPECT_TRUE(filter.filterEnabledTags().empty());
    EXPECT_TRUE(filter.filterDisabledTags().empty());
    EXPECT_TRUE(filter.filterEnabledClases().empty());
    EXPECT_TRUE(filter.filterDisabledClases().empty());
    EXPECT_TRUE(filter.filterEnabledMethods().empty());
    EXPECT_TRUE(filter.filterDisabledMethods().empty());
    EXPECT_FALSE(filter.scopeDisabled());
    EXPECT_FALSE(filter.valueDisabled());
    EXPECT_EQ(TBNLogger::maxLevel(), 31u);
    EXPECT_EQ(formatter.timeFormat(), 0u);
    TBNLogger::setMaxLevel(7);
}

}  // namespace
}  // namespace lumvane
