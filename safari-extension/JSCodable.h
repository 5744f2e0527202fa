#pragma once
// Conversion between the typed records of the extension and the key/value dictionaries
// that page scripts and the popup page exchange with it. A record lists its fields once,
// in declaration order, as (JSON key, member) pairs in visitFields(); the encoder, the
// decoder and the generic log form all walk that list.
//
// Encoding writes a present optional field under its key and leaves an absent one out
// (never a JSON null). Decoding treats a missing key and a null value alike for optional
// fields, ignores unknown keys, and fails the whole record on the first value of the
// wrong JSON type (booleans and numbers are never mixed; integers must be whole numbers
// within the field's width). Nothing is cached: every call has its own state.
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace lumvane {

// A message body: a JSON object with text keys (or, where a caller passes one through,
// any JSON value).
using JSDictionary = nlohmann::json;

// The failure of decoding a record from a dictionary.
class JSDecodingError : public std::runtime_error {
  public:
    enum class Kind { TypeMismatch, ValueNotFound, DataCorrupted };
    JSDecodingError(Kind kind, const std::string& path, const std::string& detail);
    Kind kind() const { return kind_; }
    const std::string& codingPath() const { return path_; }

  private:
    Kind kind_;
    std::string path_;
};

// A required field: always written, must be present and non-null when read.
template <class T>
struct JSRequired {
    T value{};
};

namespace jscodec {

template <class T, class = void>
struct IsRecord : std::false_type {};
template <class T>
struct IsRecord<T, std::void_t<decltype(T::kTypeName)>> : std::true_type {};

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};

template <class T>
struct IsTextMap : std::false_type {};
template <class T>
struct IsTextMap<std::map<std::string, T>> : std::true_type {};

std::string jsonTypeName(const nlohmann::json& v);
[[noreturn]] void mismatch(const std::string& path, const char* expected,
                           const nlohmann::json& got);
int64_t readInteger(const nlohmann::json& v, const std::string& path, int64_t lo, int64_t hi);

template <class T>
nlohmann::json encodeValue(const T& v);
template <class T>
T decodeValue(const nlohmann::json& v, const std::string& path);

struct EncodeVisitor {
    nlohmann::json* out;
    template <class T>
    void operator()(const char* key, const std::optional<T>& field) {
        if (field) (*out)[key] = encodeValue(*field);
    }
    template <class T>
    void operator()(const char* key, const JSRequired<T>& field) {
        (*out)[key] = encodeValue(field.value);
    }
};

struct DecodeVisitor {
    const nlohmann::json* in;
    std::string path;
    template <class T>
    void operator()(const char* key, std::optional<T>& field) {
        auto it = in->find(key);
        if (it == in->end() || it->is_null()) {
            field.reset();
            return;
        }
        field = decodeValue<T>(*it, path + "." + key);
    }
    template <class T>
    void operator()(const char* key, JSRequired<T>& field) {
        auto it = in->find(key);
        if (it == in->end() || it->is_null()) {
            throw JSDecodingError(JSDecodingError::Kind::ValueNotFound, path + "." + key,
                                  "no value for the required key");
        }
        field.value = decodeValue<T>(*it, path + "." + key);
    }
};

template <class T>
nlohmann::json encodeValue(const T& v) {
    if constexpr (IsRecord<T>::value) {
        nlohmann::json out = nlohmann::json::object();
        EncodeVisitor visitor{&out};
        const_cast<T&>(v).visitFields(visitor);
        return out;
    } else if constexpr (IsVector<T>::value) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& e : v) out.push_back(encodeValue(e));
        return out;
    } else if constexpr (IsTextMap<T>::value) {
        nlohmann::json out = nlohmann::json::object();
        for (const auto& [k, e] : v) out[k] = encodeValue(e);
        return out;
    } else if constexpr (std::is_same_v<T, nlohmann::json>) {
        return v;
    } else {
        return nlohmann::json(v);
    }
}

template <class T>
T decodeValue(const nlohmann::json& v, const std::string& path) {
    if constexpr (IsRecord<T>::value) {
        if (!v.is_object()) mismatch(path, "object", v);
        T out{};
        DecodeVisitor visitor{&v, path};
        out.visitFields(visitor);
        return out;
    } else if constexpr (IsVector<T>::value) {
        if (!v.is_array()) mismatch(path, "array", v);
        T out;
        out.reserve(v.size());
        size_t i = 0;
        for (const auto& e : v) {
            out.push_back(
                decodeValue<typename T::value_type>(e, path + "[" + std::to_string(i++) + "]"));
        }
        return out;
    } else if constexpr (IsTextMap<T>::value) {
        if (!v.is_object()) mismatch(path, "object", v);
        T out;
        for (auto it = v.begin(); it != v.end(); ++it) {
            out.emplace(it.key(),
                        decodeValue<typename T::mapped_type>(it.value(), path + "." + it.key()));
        }
        return out;
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!v.is_string()) mismatch(path, "string", v);
        return v.get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!v.is_boolean()) mismatch(path, "boolean", v);
        return v.get<bool>();
    } else if constexpr (std::is_integral_v<T>) {
        return static_cast<T>(
            readInteger(v, path, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
    } else {
        static_assert(std::is_same_v<T, nlohmann::json>, "unsupported field type");
        return v;
    }
}

}  // namespace jscodec

// The two capabilities of a record, shared by every record through this base.
template <class Self>
struct JSCodable {
    using SelfClass = Self;

    // The record as a dictionary, or nothing when it has no JSON form (for example a text
    // that is not UTF-8). Never throws.
    std::optional<JSDictionary> dictionary() const noexcept {
        try {
            nlohmann::json out = jscodec::encodeValue(static_cast<const Self&>(*this));
            // The text form must exist, as it does when the record travels.
            (void)out.dump();
            if (!out.is_object()) return std::nullopt;
            return out;
        } catch (...) {
            return std::nullopt;
        }
    }

    // A record from a dictionary; throws JSDecodingError for the first field that does
    // not fit, or when the value is not a dictionary at all.
    static Self fromDictionary(const JSDictionary& dictionary) {
        return jscodec::decodeValue<Self>(dictionary, Self::kTypeName);
    }
};

namespace jscodec {
struct DescribeVisitor {
    std::string* out;
    bool first = true;
    template <class T>
    void operator()(const char* key, const std::optional<T>& field) {
        if (!first) *out += ", ";
        first = false;
        *out += key;
        *out += ": ";
        *out += field ? encodeValue(*field).dump(-1, ' ', false,
                                                 nlohmann::json::error_handler_t::replace)
                      : "nil";
    }
    template <class T>
    void operator()(const char* key, const JSRequired<T>& field) {
        (*this)(key, std::optional<T>(field.value));
    }
};
}  // namespace jscodec

// The generic one-line form of a record for log lines: its type name and each field
// (by key) with its value, "nil" for an absent one.
template <class Record>
std::string describeRecord(const Record& record) {
    std::string out = std::string(Record::kTypeName) + "(";
    jscodec::DescribeVisitor visitor{&out};
    const_cast<Record&>(record).visitFields(visitor);
    out += ")";
    return out;
}

// Printed form of any JSON value for log lines (invalid UTF-8 replaced, never throws).
std::string printedForm(const nlohmann::json& value);

}  // namespace lumvane
