#include "protocol/site/TBNRootDomains.h"

#include <iterator>

namespace {

constexpr const char* kRootDomainKeys[] = {
#include "protocol/site/RootDomainKeys.inc"
};

const lumvane::RootDomainTable* buildRootDomains() {
    auto* table = new lumvane::RootDomainTable();
    table->reserve(std::size(kRootDomainKeys));
    for (const char* key : kRootDomainKeys) {
        table->emplace(key, true);
    }
    return table;
}

}  // namespace

extern "C" const lumvane::RootDomainTable* TBNRootDomains(void) {
    // A function-local static is initialised exactly once, with concurrent first callers
    // blocked until it is ready. It is never released, so late readers during exit stay safe.
    static const lumvane::RootDomainTable* const table = buildRootDomains();
    return table;
}
