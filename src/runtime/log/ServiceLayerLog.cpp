#include "runtime/log/ServiceLayerLog.h"

#include <cxxabi.h>

#include <cstdlib>
#include <mutex>

namespace lumvane {

TBNLogError::TBNLogError(const std::exception_ptr& error) {
    if (!error) {
        description_ = "unknown error";
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        description_ = e.what();
    } catch (...) {
        description_ = "unknown error";
    }
}

TBNLogContextStore& TBNLogContextStore::shared() {
    static TBNLogContextStore* store = new TBNLogContextStore();
    return *store;
}

void TBNLogContextStore::setClassName(std::string_view file, std::string className) {
    std::unique_lock lock(mutex_);
    classNames_[std::string(file)] = std::move(className);
}

void TBNLogContextStore::setTags(std::string_view file, std::string tags) {
    std::unique_lock lock(mutex_);
    tags_[std::string(file)] = std::move(tags);
}

std::string TBNLogContextStore::className(std::string_view file) const {
    std::shared_lock lock(mutex_);
    auto it = classNames_.find(std::string(file));
    return it == classNames_.end() ? std::string() : it->second;
}

std::string TBNLogContextStore::tags(std::string_view file) const {
    std::shared_lock lock(mutex_);
    auto it = tags_.find(std::string(file));
    return it == tags_.end() ? std::string() : it->second;
}

std::string logPlainTypeName(const std::type_info& type) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : type.name();
    std::free(demangled);
    // Drop template arguments, then every qualifier.
    if (size_t angle = name.find('<'); angle != std::string::npos) name.erase(angle);
    if (size_t colon = name.rfind("::"); colon != std::string::npos) name.erase(0, colon + 2);
    return name;
}

void setLogClassName(std::string_view className, const char* file) {
    TBNLogContextStore::shared().setClassName(file ? file : "", std::string(className));
}

void setLogTags(std::string_view tags, const char* file) {
    TBNLogContextStore::shared().setTags(file ? file : "", std::string(tags));
}

namespace logdetail {
std::string errorMessage(std::string_view message, const TBNLogError& error) {
    if (message.empty()) return "*** error: " + error.description();
    return std::string(message) + " *** error: " + error.description();
}
}  // namespace logdetail

void logRecord(std::string_view message, uint64_t flag, uint64_t kind, std::string_view tags,
               std::string_view context, const char* file, const char* function, uint64_t line) {
    const std::string fileText = file ? file : "";
    const std::string functionName = function ? function : "";
    TBNLogContextStore& store = TBNLogContextStore::shared();
    const std::string className = store.className(fileText);
    const std::string functionText =
        className.empty() ? functionName : className + "." + functionName;
    const std::string storedTags = tags.empty() ? store.tags(fileText) : std::string();
    const std::string_view tagText = tags.empty() ? std::string_view(storedTags) : tags;
    TBNLogger::logText(true, flag, TBNLogTag::tagWithTags(tagText, kind, context), fileText,
                       functionText, line, std::string(message));
}

}  // namespace lumvane
