#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lumvane {

// Hash that lets the table be searched with a std::string_view without building a std::string.
struct RootDomainHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
        return std::hash<std::string_view>{}(key);
    }
};

// Domain endings treated as roots by the site-domain rule, each mapped to true. Only the
// presence of a key counts; keys are lower-case and compared byte for byte.
using RootDomainTable = std::unordered_map<std::string, bool, RootDomainHash, std::equal_to<>>;

}  // namespace lumvane

// The process-wide root-domain table: built on the first call (callers arriving together wait
// for it), never changed afterwards, and the same object on every call. Never null; the caller
// does not own it. Safe to read from any thread without a lock.
extern "C" const lumvane::RootDomainTable* TBNRootDomains(void);
