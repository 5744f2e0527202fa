#pragma once
// Helpers that the generated records call: byte-buffer transfer, bounded container
// reservation, value equality and hashing through shared references, the text form
// and the log-safe summary. Header-only so every library that compiles generated
// code can use it without a link dependency.
#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocol.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TBufferTransports.h>

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Bytes.h"

namespace lumvane::thriftsupport {

using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TType;

template <class T>
concept GeneratedRecord = requires(const T& r) {
    { r.description() } -> std::convertible_to<std::string>;
    { r.summary() } -> std::convertible_to<std::string>;
    { r.hash() } -> std::convertible_to<size_t>;
};

// ---- wire helpers -----------------------------------------------------------------

inline uint32_t writeBytes(TProtocol& p, const Bytes& b) {
    return p.writeBinary(std::string(reinterpret_cast<const char*>(b.data()), b.size()));
}

inline uint32_t readBytes(TProtocol& p, Bytes& out) {
    std::string s;
    uint32_t n = p.readBinary(s);
    out.assign(s.begin(), s.end());
    return n;
}

// A null element of a record list still has to fill its slot, or the announced count
// would not match what follows.
inline uint32_t writeEmptyStruct(TProtocol& p, const char* name) {
    uint32_t n = p.writeStructBegin(name);
    n += p.writeFieldStop();
    n += p.writeStructEnd();
    return n;
}

// Room to reserve for a container whose header announced `announced` elements. Every
// element takes at least one byte on the wire, so a memory buffer can hold no more
// elements than it has unread bytes; for other transports a small fixed amount is
// reserved and the container grows with what actually arrives.
inline uint32_t boundedReserve(uint32_t announced, TProtocol& p) {
    constexpr uint32_t kUnknownTransportCap = 64;
    auto transport = p.getTransport();
    if (auto* memory = dynamic_cast<apache::thrift::transport::TMemoryBuffer*>(transport.get())) {
        return std::min(announced, memory->available_read());
    }
    return std::min(announced, kUnknownTransportCap);
}

// A record in memory can be several hundred times larger than its smallest encoding (an
// empty login is one byte on the wire), so the number of container elements one message
// may carry is bounded as well. Generated processors and clients install a budget for
// each message they read; other readers may install their own. Without one, only the
// per-container limit of the protocol applies.
class ScopedElementBudget {
public:
    static constexpr int64_t kDefaultPerMessage = 1 << 18;

    explicit ScopedElementBudget(int64_t elements = kDefaultPerMessage)
        : savedRemaining_(remaining()), savedActive_(active()) {
        remaining() = elements;
        active() = true;
    }
    ~ScopedElementBudget() {
        remaining() = savedRemaining_;
        active() = savedActive_;
    }
    ScopedElementBudget(const ScopedElementBudget&) = delete;
    ScopedElementBudget& operator=(const ScopedElementBudget&) = delete;

    // Called with the count of every container header read.
    static void charge(uint32_t elements) {
        if (!active()) return;
        if (static_cast<int64_t>(elements) > remaining()) {
            throw apache::thrift::protocol::TProtocolException(
                apache::thrift::protocol::TProtocolException::SIZE_LIMIT,
                "too many container elements in one message");
        }
        remaining() -= elements;
    }

private:
    static int64_t& remaining() {
        static thread_local int64_t value = 0;
        return value;
    }
    static bool& active() {
        static thread_local bool value = false;
        return value;
    }
    int64_t savedRemaining_;
    bool savedActive_;
};

// ---- equality through shared references ---------------------------------------------

template <class T>
bool equalValues(const T& a, const T& b);
template <class T>
bool equalValues(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b);
template <class T>
bool equalValues(const std::optional<T>& a, const std::optional<T>& b);
template <class T>
bool equalValues(const std::vector<T>& a, const std::vector<T>& b);
template <class K, class V>
bool equalValues(const std::map<K, V>& a, const std::map<K, V>& b);

template <class T>
bool equalValues(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return equalValues(*a, *b);
}

template <class T>
bool equalValues(const std::optional<T>& a, const std::optional<T>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || equalValues(*a, *b);
}

template <class T>
bool equalValues(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!equalValues(a[i], b[i])) return false;
    }
    return true;
}

template <class K, class V>
bool equalValues(const std::map<K, V>& a, const std::map<K, V>& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [key, value] : a) {
        auto it = b.find(key);
        if (it == b.end() || !equalValues(value, it->second)) return false;
    }
    return true;
}

template <class T>
bool equalValues(const T& a, const T& b) {
    return a == b;
}

// ---- hashing consistent with equalValues ----------------------------------------------

inline void hashCombine(size_t& seed, size_t h) {
    seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <class T>
size_t hashValue(const T& v);
template <class T>
size_t hashValue(const std::shared_ptr<T>& p);
template <class T>
size_t hashValue(const std::optional<T>& o);
template <class T>
size_t hashValue(const std::vector<T>& v);
template <class T>
size_t hashValue(const std::set<T>& v);
template <class K, class V>
size_t hashValue(const std::map<K, V>& m);

inline size_t hashValue(const std::string& s) { return std::hash<std::string_view>{}(s); }
inline size_t hashValue(const Bytes& b) {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}
template <class T>
size_t hashValue(const std::shared_ptr<T>& p) {
    return p ? hashValue(*p) : 0x51ed27;
}
template <class T>
size_t hashValue(const std::optional<T>& o) {
    return o ? hashValue(*o) : 0x51ed27;
}
template <class T>
size_t hashValue(const std::vector<T>& v) {
    size_t seed = v.size();
    for (const auto& e : v) hashCombine(seed, hashValue(e));
    return seed;
}
template <class T>
size_t hashValue(const std::set<T>& v) {
    size_t seed = v.size();
    for (const auto& e : v) hashCombine(seed, hashValue(e));
    return seed;
}
template <class K, class V>
size_t hashValue(const std::map<K, V>& m) {
    size_t seed = m.size();
    for (const auto& [k, v] : m) {
        hashCombine(seed, hashValue(k));
        hashCombine(seed, hashValue(v));
    }
    return seed;
}
template <class T>
size_t hashValue(const T& v) {
    if constexpr (GeneratedRecord<T>) {
        return v.hash();
    } else {
        return std::hash<T>{}(v);
    }
}

// ---- text form ------------------------------------------------------------------------

inline void describe(std::string& out, bool v) { out += v ? '1' : '0'; }
inline void describe(std::string& out, int8_t v) { out += std::to_string(v); }
inline void describe(std::string& out, int16_t v) { out += std::to_string(v); }
inline void describe(std::string& out, int32_t v) { out += std::to_string(v); }
inline void describe(std::string& out, int64_t v) { out += std::to_string(v); }
inline void describe(std::string& out, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", v);
    out += buf;
}
inline void describeText(std::string& out, const std::string& s) {
    out += '"';
    out += s;
    out += '"';
}
inline void describeBytes(std::string& out, const Bytes& b) {
    static const char* kHex = "0123456789abcdef";
    out += "\"<";
    for (size_t i = 0; i < b.size(); ++i) {
        if (i > 0 && i % 4 == 0) out += ' ';
        out += kHex[b[i] >> 4];
        out += kHex[b[i] & 15];
    }
    out += ">\"";
}
inline void describe(std::string& out, const std::string& s) { describeText(out, s); }
inline void describe(std::string& out, const Bytes& b) { describeBytes(out, b); }
inline void describe(std::string& out, const std::optional<std::string>& s) {
    if (s) {
        describeText(out, *s);
    } else {
        out += "\"(null)\"";
    }
}
inline void describe(std::string& out, const std::optional<Bytes>& b) {
    if (b) {
        describeBytes(out, *b);
    } else {
        out += "\"(null)\"";
    }
}
template <class T>
void describe(std::string& out, const std::vector<T>& v);
template <class T>
void describe(std::string& out, const std::set<T>& v);
template <class K, class V>
void describe(std::string& out, const std::map<K, V>& m);
template <GeneratedRecord T>
void describe(std::string& out, const T& r) {
    out += r.description();
}
template <class T>
void describe(std::string& out, const std::shared_ptr<T>& p);
template <class T>
void describe(std::string& out, const std::vector<T>& v) {
    out += '[';
    bool first = true;
    for (const auto& e : v) {
        if (!first) out += ", ";
        first = false;
        describe(out, e);
    }
    out += ']';
}
template <class T>
void describe(std::string& out, const std::set<T>& v) {
    out += '{';
    bool first = true;
    for (const auto& e : v) {
        if (!first) out += ", ";
        first = false;
        describe(out, e);
    }
    out += '}';
}
template <class K, class V>
void describe(std::string& out, const std::map<K, V>& m) {
    out += '{';
    bool first = true;
    for (const auto& [k, v] : m) {
        if (!first) out += ", ";
        first = false;
        describe(out, k);
        out += ": ";
        describe(out, v);
    }
    out += '}';
}
template <class T>
void describe(std::string& out, const std::shared_ptr<T>& p) {
    if (p) {
        describe(out, *p);
    } else {
        out += "(null)";
    }
}

// ---- log-safe summary: structure, numbers and sizes, never the text of a field ----------

inline void summarize(std::string& out, bool v) { describe(out, v); }
inline void summarize(std::string& out, int8_t v) { describe(out, v); }
inline void summarize(std::string& out, int16_t v) { describe(out, v); }
inline void summarize(std::string& out, int32_t v) { describe(out, v); }
inline void summarize(std::string& out, int64_t v) { describe(out, v); }
inline void summarize(std::string& out, double v) { describe(out, v); }
// Appends prefix, count and suffix (kept free of `literal + std::string`, which g++ 12
// warns about falsely under optimisation).
inline void appendCount(std::string& out, const char* prefix, size_t n, const char* suffix) {
    out += prefix;
    out += std::to_string(n);
    out += suffix;
}
inline void summarize(std::string& out, const std::string& s) {
    appendCount(out, "<", s.size(), " chars>");
}
inline void summarize(std::string& out, const Bytes& b) {
    appendCount(out, "<", b.size(), " bytes>");
}
template <class T>
void summarize(std::string& out, const std::optional<T>& o) {
    if (o) {
        summarize(out, *o);
    } else {
        out += "null";
    }
}
template <class T>
void summarize(std::string& out, const std::vector<T>& v);
template <class T>
void summarize(std::string& out, const std::set<T>& v);
template <class K, class V>
void summarize(std::string& out, const std::map<K, V>& m);
template <GeneratedRecord T>
void summarize(std::string& out, const T& r) {
    out += r.summary();
}
template <class T>
void summarize(std::string& out, const std::shared_ptr<T>& p);
template <class T>
void summarize(std::string& out, const std::vector<T>& v) {
    appendCount(out, "[", v.size(), " items]");
}
template <class T>
void summarize(std::string& out, const std::set<T>& v) {
    appendCount(out, "{", v.size(), " items}");
}
template <class K, class V>
void summarize(std::string& out, const std::map<K, V>& m) {
    appendCount(out, "{", m.size(), " entries}");
}
template <class T>
void summarize(std::string& out, const std::shared_ptr<T>& p) {
    if (p) {
        summarize(out, *p);
    } else {
        out += "null";
    }
}

}  // namespace lumvane::thriftsupport
