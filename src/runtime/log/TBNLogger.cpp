#include "runtime/log/TBNLogger.h"

#include <mutex>
#include <unordered_set>

#include "runtime/log/LogDispatcher.h"

namespace lumvane {

// ---- TBNLogTag ---------------------------------------------------------------------

TBNLogTag::TBNLogTag(std::string_view tags, TBNLogTagType type, std::string_view context)
    : tagsText_(tags), logType_(type), context_(context) {
    if (tags.empty()) return;
    size_t start = 0;
    for (;;) {
        size_t bar = tags.find('|', start);
        if (bar == std::string_view::npos) {
            logTags_.emplace_back(tags.substr(start));
            break;
        }
        logTags_.emplace_back(tags.substr(start, bar - start));
        start = bar + 1;
    }
}

#define TBN_TAG_CONSTRUCTORS(prefix, kind)                                                         \
    TBNLogTagPtr TBNLogTag::prefix##Tag() {                                                        \
        return std::make_shared<const TBNLogTag>("", kind, "");                                    \
    }                                                                                              \
    TBNLogTagPtr TBNLogTag::prefix##TagWithTags(std::string_view tags) {                           \
        return std::make_shared<const TBNLogTag>(tags, kind, "");                                  \
    }                                                                                              \
    TBNLogTagPtr TBNLogTag::prefix##TagWithContext(std::string_view context) {                     \
        return std::make_shared<const TBNLogTag>("", kind, context);                               \
    }                                                                                              \
    TBNLogTagPtr TBNLogTag::prefix##TagWithTags(std::string_view tags, std::string_view context) { \
        return std::make_shared<const TBNLogTag>(tags, kind, context);                             \
    }

TBN_TAG_CONSTRUCTORS(message, TBNLogTagTypeMessage)
TBN_TAG_CONSTRUCTORS(methodBegin, TBNLogTagTypeMethodBegin)
TBN_TAG_CONSTRUCTORS(methodEnd, TBNLogTagTypeMethodEnd)
TBN_TAG_CONSTRUCTORS(methodAltEnd, TBNLogTagTypeMethodAltEnd)
TBN_TAG_CONSTRUCTORS(methodFail, TBNLogTagTypeMethodFail)
TBN_TAG_CONSTRUCTORS(timeBegin, TBNLogTagTypeTimeBegin)
TBN_TAG_CONSTRUCTORS(timeEnd, TBNLogTagTypeTimeEnd)
TBN_TAG_CONSTRUCTORS(value, TBNLogTagTypeValue)
#undef TBN_TAG_CONSTRUCTORS

TBNLogTagPtr TBNLogTag::tagWithTags(std::string_view tags, uint64_t type) {
    return std::make_shared<const TBNLogTag>(tags, static_cast<TBNLogTagType>(type), "");
}

TBNLogTagPtr TBNLogTag::tagWithTags(std::string_view tags, uint64_t type,
                                    std::string_view context) {
    return std::make_shared<const TBNLogTag>(tags, static_cast<TBNLogTagType>(type), context);
}

// ---- TBNLogger ---------------------------------------------------------------------

TBNLogger& TBNLogger::shared() {
    static TBNLogger* logger = new TBNLogger();
    return *logger;
}

void TBNLogger::logText(bool asynchronous, uint64_t flag, std::shared_ptr<const LogTagObject> tag,
                        std::string_view file, std::string_view function, uint64_t line,
                        std::optional<std::string> message) {
    if (!message) return;
    shared().logMessage(asynchronous, flag, std::move(tag), file, function, line,
                        std::move(*message));
}

void TBNLogger::logMessage(bool asynchronous, uint64_t flag,
                           std::shared_ptr<const LogTagObject> tag, std::string_view file,
                           std::string_view function, uint64_t line, std::string message) {
    if (!isEnabled(flag)) return;
    uint64_t kind = 0;
    if (auto* logTag = dynamic_cast<const TBNLogTag*>(tag.get())) kind = logTag->logType();
    LogDispatcher::sharedInstance().log(
        asynchronous,
        LogRecord::make(std::move(message), kTBNLogLevelVerbose, flag, kind, std::string(file),
                        std::string(function), line, std::move(tag)));
}

// ---- function text -----------------------------------------------------------------

namespace {

bool isIdentifierChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '~';
}

void eraseAll(std::string& text, std::string_view what) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
        text.erase(at, what.size());
    }
}

}  // namespace

std::string makeLogFunctionText(std::string_view pretty) {
    // Template arguments that the compilers append: " [with T = int]" or " [T = int]".
    if (!pretty.empty() && pretty.back() == ']') {
        int depth = 0;
        for (size_t i = 0; i + 1 < pretty.size(); ++i) {
            char c = pretty[i];
            if (c == '(' || c == '<') ++depth;
            if ((c == ')' || c == '>') && depth > 0) --depth;
            if (depth == 0 && c == ' ' && pretty[i + 1] == '[') {
                pretty = pretty.substr(0, i);
                break;
            }
        }
    }
    // Find the parameter list: the first "(" outside brackets that follows a name.
    // Groups such as "(anonymous namespace)" follow a blank, "::" or nothing.
    int depth = 0;
    size_t nameStart = 0;
    size_t open = std::string_view::npos;
    for (size_t i = 0; i < pretty.size(); ++i) {
        char c = pretty[i];
        if (depth == 0 && pretty.compare(i, 8, "operator") == 0 &&
            (i == 0 || !isIdentifierChar(pretty[i - 1])) &&
            (i + 8 >= pretty.size() || !isIdentifierChar(pretty[i + 8]))) {
            // Skip the operator's symbol so its "<", ">" or "()" is not taken as brackets.
            size_t j = i + 8;
            if (pretty.compare(j, 2, "()") == 0) {
                j += 2;
            } else if (j < pretty.size() && pretty[j] == ' ') {
                ++j;  // a conversion operator: "operator bool"
                while (j < pretty.size() && pretty[j] != '(') ++j;
            } else {
                while (j < pretty.size() && pretty[j] != '(') ++j;
            }
            if (j < pretty.size()) {
                open = j;
                break;
            }
            i = j - 1;
            continue;
        }
        if (c == '(') {
            char before = i > 0 ? pretty[i - 1] : ' ';
            if (depth == 0 && (isIdentifierChar(before) || before == '>' || before == ')')) {
                bool operatorCall = i >= 2 && pretty.compare(i - 2, 2, "()") == 0;
                if (before != ')' || operatorCall) {
                    open = i;
                    break;
                }
            }
            ++depth;
        } else if (c == ')' || (c == '>' && depth > 0)) {
            if (depth > 0) --depth;
        } else if (c == '<') {
            ++depth;
        } else if (c == ' ' && depth == 0) {
            nameStart = i + 1;
        }
    }
    if (open == std::string_view::npos) return std::string(pretty);
    std::string name(pretty.substr(nameStart, open - nameStart));
    while (!name.empty() && (name.front() == '*' || name.front() == '&')) name.erase(0, 1);
    // Whatever follows the parameter list with "::" is an entity local to the function:
    // a lambda or a local class.
    depth = 0;
    size_t close = std::string_view::npos;
    for (size_t i = open; i < pretty.size(); ++i) {
        if (pretty[i] == '(') ++depth;
        if (pretty[i] == ')' && --depth == 0) {
            close = i;
            break;
        }
    }
    std::string suffix;
    if (close != std::string_view::npos && pretty.compare(close + 1, 2, "::") == 0) {
        suffix = pretty.find("lambda", close) != std::string_view::npos ||
                         pretty.find("(anonymous class)", close) != std::string_view::npos
                     ? "::<lambda>"
                     : "::<local>";
    }
    eraseAll(name, "(anonymous namespace)::");
    eraseAll(name, "{anonymous}::");
    if (name.rfind("lumvane::", 0) == 0) name.erase(0, 9);
    return name + suffix;
}

const char* logFunctionText(const char* prettyFunction) {
    static std::mutex mutex;
    static auto* texts = new std::unordered_set<std::string>();
    std::string text = makeLogFunctionText(prettyFunction ? prettyFunction : "");
    std::lock_guard lock(mutex);
    return texts->insert(std::move(text)).first->c_str();
}

}  // namespace lumvane
