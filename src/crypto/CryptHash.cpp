#include "crypto/CryptHash.h"

#include <argon2.h>

#include <algorithm>
#include <charconv>
#include <thread>
#include <vector>

namespace lumvane {

namespace {

ByteView viewOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A signed decimal that fits in 64 bits: optional sign, then digits only.
int64_t integerOr(std::string_view field, int64_t fallback) {
    std::string_view digits = field;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return fallback;
    }
    // Parse with the sign attached so that INT64_MIN is accepted.
    std::string text;
    text.reserve(digits.size() + 1);
    if (negative) {
        text.push_back('-');
    }
    text.append(digits);
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return fallback;
    }
    return value;
}

std::optional<uint32_t> asU32(int64_t value) {
    if (value < 0 || value > int64_t{UINT32_MAX}) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<Bytes> CryptHash::argon2(const Params& params) {
    if (params.type < 0 || params.type > 2 || params.tagLength == 0) {
        return std::nullopt;
    }
    if (int64_t{params.memoryKiB} > kMaxMemoryKiB) {
        return std::nullopt;
    }
    if (params.password.size() > UINT32_MAX || params.salt.size() > UINT32_MAX ||
        params.secret.size() > UINT32_MAX || params.associatedData.size() > UINT32_MAX) {
        return std::nullopt;
    }
    Bytes tag(params.tagLength);
    // The library writes through non-const pointers but does not change inputs
    // when the clear flags are off; copies keep that promise independent of it.
    Bytes password(params.password.begin(), params.password.end());
    Bytes salt(params.salt.begin(), params.salt.end());
    Bytes secret(params.secret.begin(), params.secret.end());
    Bytes ad(params.associatedData.begin(), params.associatedData.end());

    argon2_context ctx{};
    ctx.out = tag.data();
    ctx.outlen = params.tagLength;
    ctx.pwd = password.empty() ? nullptr : password.data();
    ctx.pwdlen = static_cast<uint32_t>(password.size());
    ctx.salt = salt.empty() ? nullptr : salt.data();
    ctx.saltlen = static_cast<uint32_t>(salt.size());
    ctx.secret = secret.empty() ? nullptr : secret.data();
    ctx.secretlen = static_cast<uint32_t>(secret.size());
    ctx.ad = ad.empty() ? nullptr : ad.data();
    ctx.adlen = static_cast<uint32_t>(ad.size());
    ctx.t_cost = params.timeCost;
    ctx.m_cost = params.memoryKiB;
    ctx.lanes = params.lanes;
    // Threads change only the speed; never spawn more than the machine has.
    const uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    ctx.threads = std::max(1u, std::min({params.lanes, cores, 16u}));
    ctx.version = ARGON2_VERSION_13;
    ctx.flags = ARGON2_DEFAULT_FLAGS;
    if (argon2_ctx(&ctx, static_cast<argon2_type>(params.type)) != ARGON2_OK) {
        return std::nullopt;
    }
    return tag;
}

std::optional<std::string> CryptHash::hexstrArgonFromString(
    std::optional<std::string_view> string, std::optional<std::string_view> config) {
    const std::string_view text = string.value_or(std::string_view());
    const std::string_view conf = config.value_or(std::string_view());

    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= conf.size()) {
        size_t end = conf.find('$', start);
        if (end == std::string_view::npos) {
            end = conf.size();
        }
        if (end > start) {
            fields.push_back(conf.substr(start, end - start));
        }
        start = end + 1;
    }
    if (fields.size() != 6) {
        return std::nullopt;
    }

    int type = 0;
    if (fields[0] == "1") {
        type = 1;
    } else if (fields[0] == "2") {
        type = 2;
    }
    // Out-of-range values (negative ones included) are refused, never truncated.
    const auto timeCost = asU32(integerOr(fields[2], 6));
    const auto memory = asU32(integerOr(fields[3], 131072));
    const auto lanes = asU32(integerOr(fields[4], 2));
    if (!timeCost || !memory || !lanes) {
        return std::nullopt;
    }

    Params params;
    params.type = type;
    params.timeCost = *timeCost;
    params.memoryKiB = *memory;
    params.lanes = *lanes;
    params.tagLength = 32;
    params.password = viewOf(text);
    params.salt = viewOf(fields[5]);
    const auto tag = argon2(params);
    if (!tag) {
        return std::nullopt;
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : *tag) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

}  // namespace lumvane
