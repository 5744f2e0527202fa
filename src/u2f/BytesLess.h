#pragma once
// The order of std::less<Bytes>, for maps keyed by bytes. std::less goes through the
// vector's operator<=>, on which GCC 12 warns in optimised builds (-Wstringop-overread on
// a memcmp bound it cannot prove small, a false positive).
#include <algorithm>
#include <cstring>

#include "runtime/Bytes.h"

namespace lumvane {

struct BytesLess {
    bool operator()(const Bytes& a, const Bytes& b) const {
        const size_t common = std::min(a.size(), b.size());
        if (common != 0) {
            if (const int order = std::memcmp(a.data(), b.data(), common)) return order < 0;
        }
        return a.size() < b.size();
    }
};

}  // namespace lumvane
