#pragma once
// Decides which records a logger writes, by level flag, tags, kind and the class and
// method of the function text. It is the first link of a formatter chain: it returns
// the record's message to keep the record and nothing to drop it.
//
// Class and method come from the function text the log macros pass ("Class::method",
// see TBNLogger.h): the class is the part before the last "::", the method the part
// after it. A method part that is not a plain name (a lambda's "<lambda>", an operator)
// or a text without "::" (a plain function) gives neither.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/log/Logger.h"

namespace lumvane {

class TBNLogFilter : public LogFormatter {
  public:
    using StringSet = std::set<std::string, std::less<>>;

    TBNLogFilter() = default;

    std::optional<std::string> formatRecord(const LogRecord& record,
                                            const std::optional<std::string>& message) override;

    static std::optional<std::string> clssName(std::string_view functionText);
    static std::optional<std::string> methodName(std::string_view functionText);

    void addEnabledTagToFilter(const std::string& tag);
    void addEnabledTagsToFilter(const std::vector<std::string>& tags);
    void removeEnabledTagFromFilter(const std::string& tag);
    void removeAllEnabledTagsFromFilter();
    void addDisabledTagToFilter(const std::string& tag);
    void addDisabledTagsToFilter(const std::vector<std::string>& tags);
    void removeDisabledTagFromFilter(const std::string& tag);
    void removeAllDisabledTagsFromFilter();
    void addEnabledClassToFilter(const std::string& name);
    void addEnabledClasesToFilter(const std::vector<std::string>& names);
    void removeEnabledClassFromFilter(const std::string& name);
    void removeAllEnabledClasesFromFilter();
    void addDisabledClassToFilter(const std::string& name);
    void addDisabledClasesToFilter(const std::vector<std::string>& names);
    void removeDisabledClassFromFilter(const std::string& name);
    void removeAllDisabledClasesFromFilter();
    void addEnabledMethodToFilter(const std::string& name);
    void addEnabledMethodsToFilter(const std::vector<std::string>& names);
    void removeEnabledMethodFromFilter(const std::string& name);
    void removeAllEnabledMethodsFromFilter();
    void addDisabledMethodToFilter(const std::string& name);
    void addDisabledMethodsToFilter(const std::vector<std::string>& names);
    void removeDisabledMethodFromFilter(const std::string& name);
    void removeAllDisabledMethodFromFilter();

    // Copies of the sets; the setters replace a whole set.
    StringSet filterEnabledTags() const;
    void setFilterEnabledTags(StringSet tags);
    StringSet filterDisabledTags() const;
    void setFilterDisabledTags(StringSet tags);
    StringSet filterEnabledClases() const;
    void setFilterEnabledClases(StringSet names);
    StringSet filterDisabledClases() const;
    void setFilterDisabledClases(StringSet names);
    StringSet filterEnabledMethods() const;
    void setFilterEnabledMethods(StringSet names);
    StringSet filterDisabledMethods() const;
    void setFilterDisabledMethods(StringSet names);

    // The lock that serialises every decision and every change of the sets.
    std::recursive_mutex& lock() const { return lock_; }

    // The mask and the switches are single words; their setters take no lock.
    uint64_t maxLevel() const { return maxLevel_.load(std::memory_order_relaxed); }
    void setMaxLevel(uint64_t mask) { maxLevel_.store(mask, std::memory_order_relaxed); }
#define TBN_FILTER_SWITCH(name, Name)                   \
    bool name() const {                                 \
        return name##_.load(std::memory_order_relaxed); \
    }                                                   \
    void set##Name(bool on) {                           \
        name##_.store(on, std::memory_order_relaxed);   \
    }
    TBN_FILTER_SWITCH(messageDisabled, MessageDisabled)
    TBN_FILTER_SWITCH(valueDisabled, ValueDisabled)
    TBN_FILTER_SWITCH(scopeDisabled, ScopeDisabled)
    TBN_FILTER_SWITCH(timeDisabled, TimeDisabled)
    TBN_FILTER_SWITCH(emptyTagsDisabled, EmptyTagsDisabled)
    TBN_FILTER_SWITCH(allFilterDisabled, AllFilterDisabled)
    TBN_FILTER_SWITCH(tagFilterDisabled, TagFilterDisabled)
    TBN_FILTER_SWITCH(classFilterDisabled, ClassFilterDisabled)
    TBN_FILTER_SWITCH(methodFilterDisabled, MethodFilterDisabled)
#undef TBN_FILTER_SWITCH

  private:
    StringSet filterEnabledTags_;
    StringSet filterDisabledTags_;
    StringSet filterEnabledClases_;
    StringSet filterDisabledClases_;
    StringSet filterEnabledMethods_;
    StringSet filterDisabledMethods_;
    mutable std::recursive_mutex lock_;
    std::atomic<uint64_t> maxLevel_{7};
    std::atomic<bool> messageDisabled_{false};
    std::atomic<bool> valueDisabled_{false};
    std::atomic<bool> scopeDisabled_{false};
    std::atomic<bool> timeDisabled_{false};
    std::atomic<bool> emptyTagsDisabled_{false};
    std::atomic<bool> allFilterDisabled_{false};
    std::atomic<bool> tagFilterDisabled_{false};
    std::atomic<bool> classFilterDisabled_{false};
    std::atomic<bool> methodFilterDisabled_{false};
};

}  // namespace lumvane
