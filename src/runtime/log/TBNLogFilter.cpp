#include "runtime/log/TBNLogFilter.h"

#include "runtime/log/TBNLogger.h"

namespace lumvane {
namespace {

bool isPlainName(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '~';
        if (!ok) return false;
    }
    return true;
}

// Splits "Class::method"; nothing unless both parts are there and the method is a name.
bool splitFunctionText(std::string_view text, std::string_view& cls, std::string_view& method) {
    size_t sep = text.rfind("::");
    if (sep == std::string_view::npos || sep == 0) return false;
    method = text.substr(sep + 2);
    cls = text.substr(0, sep);
    return isPlainName(method);
}

// Membership test without building a std::string for the key.
bool contains(const TBNLogFilter::StringSet& set, std::string_view key) {
    return set.find(key) != set.end();
}

}  // namespace

std::optional<std::string> TBNLogFilter::clssName(std::string_view functionText) {
    std::string_view cls, method;
    if (!splitFunctionText(functionText, cls, method)) return std::nullopt;
    return std::string(cls);
}

std::optional<std::string> TBNLogFilter::methodName(std::string_view functionText) {
    std::string_view cls, method;
    if (!splitFunctionText(functionText, cls, method)) return std::nullopt;
    return std::string(method);
}

std::optional<std::string> TBNLogFilter::formatRecord(const LogRecord& record,
                                                      const std::optional<std::string>& message) {
    std::lock_guard guard(lock_);
    // 1. Level.
    if ((record.flag & maxLevel()) != record.flag) return std::nullopt;
    // 2. Only our own records carry a TBNLogTag.
    const auto* tag = dynamic_cast<const TBNLogTag*>(record.tag.get());
    if (!tag) return std::nullopt;
    // 3. Errors and warnings are never dropped by tags, classes or methods.
    if ((record.flag & 3) == 0 && !allFilterDisabled()) {
        // 4. Tags.
        if (!tagFilterDisabled()) {
            const std::vector<std::string>& tags = tag->logTags();
            if (emptyTagsDisabled() && tags.empty()) return std::nullopt;
            for (const std::string& t : tags) {
                if (filterDisabledTags_.count(t) != 0) return std::nullopt;
            }
            if (record.flag == kTBNLogFlagDebug || record.flag == kTBNLogFlagVerbose) {
                for (const std::string& t : tags) {
                    if (filterEnabledTags_.count(t) == 0) return std::nullopt;
                }
            }
        }
        std::string_view cls, method;
        const bool named = splitFunctionText(record.function, cls, method);
        // 5. Classes.
        if (!classFilterDisabled()) {
            if (named && !filterDisabledClases_.empty() && contains(filterDisabledClases_, cls)) {
                return std::nullopt;
            }
            if (!filterEnabledClases_.empty() && (!named || !contains(filterEnabledClases_, cls))) {
                return std::nullopt;
            }
        }
        // 6. Methods.
        if (!methodFilterDisabled()) {
            if (named && !filterDisabledMethods_.empty() &&
                contains(filterDisabledMethods_, method)) {
                return std::nullopt;
            }
            if (!filterEnabledMethods_.empty() &&
                (!named || !contains(filterEnabledMethods_, method))) {
                return std::nullopt;
            }
        }
    }
    // 7. Kinds, for every record that got here.
    switch (tag->logType()) {
        case TBNLogTagTypeMessage:
            if (messageDisabled()) return std::nullopt;
            break;
        case TBNLogTagTypeValue:
            if (valueDisabled()) return std::nullopt;
            break;
        case TBNLogTagTypeMethodBegin:
        case TBNLogTagTypeMethodEnd:
        case TBNLogTagTypeMethodAltEnd:
        case TBNLogTagTypeMethodFail:
            if (scopeDisabled()) return std::nullopt;
            break;
        case TBNLogTagTypeTimeBegin:
        case TBNLogTagTypeTimeEnd:
            if (timeDisabled()) return std::nullopt;
            break;
        default:
            break;
    }
    // 8. The text (a record without text is dropped as well).
    return message;
}

#define TBN_FILTER_SET_OPS(Kind, Kinds, field, RemoveAll)                             \
    void TBNLogFilter::add##Kind##ToFilter(const std::string& value) {                \
        std::lock_guard guard(lock_);                                                 \
        field.insert(value);                                                          \
    }                                                                                 \
    void TBNLogFilter::add##Kinds##ToFilter(const std::vector<std::string>& values) { \
        std::lock_guard guard(lock_);                                                 \
        for (const std::string& value : values) add##Kind##ToFilter(value);           \
    }                                                                                 \
    void TBNLogFilter::remove##Kind##FromFilter(const std::string& value) {           \
        std::lock_guard guard(lock_);                                                 \
        field.erase(value);                                                           \
    }                                                                                 \
    void TBNLogFilter::RemoveAll() {                                                  \
        std::lock_guard guard(lock_);                                                 \
        field.clear();                                                                \
    }

TBN_FILTER_SET_OPS(EnabledTag, EnabledTags, filterEnabledTags_, removeAllEnabledTagsFromFilter)
TBN_FILTER_SET_OPS(DisabledTag, DisabledTags, filterDisabledTags_, removeAllDisabledTagsFromFilter)
TBN_FILTER_SET_OPS(EnabledClass, EnabledClases, filterEnabledClases_,
                   removeAllEnabledClasesFromFilter)
TBN_FILTER_SET_OPS(DisabledClass, DisabledClases, filterDisabledClases_,
                   removeAllDisabledClasesFromFilter)
TBN_FILTER_SET_OPS(EnabledMethod, EnabledMethods, filterEnabledMethods_,
                   removeAllEnabledMethodsFromFilter)
TBN_FILTER_SET_OPS(DisabledMethod, DisabledMethods, filterDisabledMethods_,
                   removeAllDisabledMethodFromFilter)
#undef TBN_FILTER_SET_OPS

#define TBN_FILTER_SET_PROPERTY(getter, Setter, field)     \
    TBNLogFilter::StringSet TBNLogFilter::getter() const { \
        std::lock_guard guard(lock_);                      \
        return field;                                      \
    }                                                      \
    void TBNLogFilter::Setter(StringSet values) {          \
        std::lock_guard guard(lock_);                      \
        field = std::move(values);                         \
    }

TBN_FILTER_SET_PROPERTY(filterEnabledTags, setFilterEnabledTags, filterEnabledTags_)
TBN_FILTER_SET_PROPERTY(filterDisabledTags, setFilterDisabledTags, filterDisabledTags_)
TBN_FILTER_SET_PROPERTY(filterEnabledClases, setFilterEnabledClases, filterEnabledClases_)
TBN_FILTER_SET_PROPERTY(filterDisabledClases, setFilterDisabledClases, filterDisabledClases_)
TBN_FILTER_SET_PROPERTY(filterEnabledMethods, setFilterEnabledMethods, filterEnabledMethods_)
TBN_FILTER_SET_PROPERTY(filterDisabledMethods, setFilterDisabledMethods, filterDisabledMethods_)
#undef TBN_FILTER_SET_PROPERTY

}  // namespace lumvane
