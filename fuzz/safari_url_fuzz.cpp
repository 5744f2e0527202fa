// Page addresses as the browser hands them to the Safari extension: the strict parse, the
// host and path, the site domain and the keys made from them; and the Base64 the
// passwords travel in. A parsed URL is the text it came from, with its host and path
// pieces of it; Base64 reads back what it wrote, and what it reads it can write again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "Config.h"
#include "SafariURL.h"

namespace {

bool strictUtf8(std::string_view s) {
    try {
        (void)nlohmann::json(std::string(s)).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto url = lumvane::SafariURL::parse(text)) {
        if (url->absoluteString != text) std::abort();
        for (unsigned char c : text)
            if (c <= 0x20 || c >= 0x7f) std::abort();
        if (url->host && text.find(*url->host) == std::string_view::npos) std::abort();
        if (text.find(url->path) == std::string_view::npos) std::abort();
        if (url->scheme && !text.starts_with(*url->scheme + ":")) std::abort();
        const auto site = url->siteDomain();
        if (site && (!url->host || url->host->empty())) std::abort();
        if (lumvane::siteDomainOfText(std::string(text)) != site) std::abort();
        if (lumvane::Config::siteKey(*url) != site.value_or("")) std::abort();
        (void)url->pageKey();
        (void)url->storedAddress();
    } else if (lumvane::siteDomainOfText(std::string(text))) {
        std::abort();
    }

    if (lumvane::isValidUTF8(text) != strictUtf8(text)) std::abort();
    const std::string encoded = lumvane::base64Encode(text);
    if (lumvane::base64Decode(encoded) != std::string(text)) std::abort();
    // Text that decodes has the length of what encodes back; leftover bits of its last
    // character may be set (a lenient reader), so its bytes read back the same.
    if (auto decoded = lumvane::base64Decode(text)) {
        const std::string again = lumvane::base64Encode(*decoded);
        if (again.size() != text.size() || lumvane::base64Decode(again) != decoded) std::abort();
    }
    return 0;
}
