// Arbitrary bytes as this program's own JSON export and as a Dashlane JSON export. What the
// own reader accepts is written again and must read back with the same logins and keys.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/importexport/LoginFiles.h"

using namespace lumvane;

namespace {
size_t loginCount(const TBNSiteDataList& sites) {
    size_t n = 0;
    for (const auto& s : sites) n += s->loginData()->size();
    return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto dashlane = readDashlaneJson(text)) {
        for (const auto& s : *dashlane)
            if (!s->domain() || s->domain()->empty()) std::abort();
    }
    auto own = readLumvaneJson(text);
    if (!own) return 0;
    std::string written;
    try {
        written = lumvaneJsonText(own->sites, *own->u2fRecords);
    } catch (...) {
        return 0;  // text that is not UTF-8 cannot be written as JSON; the export reports it
    }
    auto again = readLumvaneJson(written);
    if (!again || loginCount(again->sites) != loginCount(own->sites) ||
        again->u2fRecords->size() != own->u2fRecords->size())
        std::abort();
    return 0;
}
