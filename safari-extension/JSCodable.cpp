#include "JSCodable.h"

namespace lumvane {

namespace {
const char* kindName(JSDecodingError::Kind kind) {
    switch (kind) {
        case JSDecodingError::Kind::TypeMismatch:
            return "typeMismatch";
        case JSDecodingError::Kind::ValueNotFound:
            return "valueNotFound";
        case JSDecodingError::Kind::DataCorrupted:
            return "dataCorrupted";
    }
    return "unknown";
}
}  // namespace

JSDecodingError::JSDecodingError(Kind kind, const std::string& path, const std::string& detail)
    : std::runtime_error(std::string(kindName(kind)) + " at " + path + ": " + detail),
      kind_(kind),
      path_(path) {}

namespace jscodec {

std::string jsonTypeName(const nlohmann::json& v) {
    if (v.is_number_float()) return "fractional number";
    if (v.is_number()) return "number";
    return v.type_name();
}

void mismatch(const std::string& path, const char* expected, const nlohmann::json& got) {
    throw JSDecodingError(JSDecodingError::Kind::TypeMismatch, path,
                          std::string("expected ") + expected + ", found " + jsonTypeName(got));
}

int64_t readInteger(const nlohmann::json& v, const std::string& path, int64_t lo, int64_t hi) {
    if (v.is_number_integer() && !v.is_number_unsigned()) {
        int64_t n = v.get<int64_t>();
        if (n >= lo && n <= hi) return n;
    } else if (v.is_number_unsigned()) {
        uint64_t n = v.get<uint64_t>();
        if (n <= static_cast<uint64_t>(hi)) return static_cast<int64_t>(n);
    } else if (v.is_number_float()) {
        double d = v.get<double>();
        // A whole number written with a fraction part ("1500.0") still counts as whole.
        if (std::isfinite(d) && std::floor(d) == d && d >= static_cast<double>(lo) &&
            d < -static_cast<double>(std::numeric_limits<int64_t>::min()) &&
            d <= static_cast<double>(hi)) {
            int64_t n = static_cast<int64_t>(d);
            if (n >= lo && n <= hi) return n;
        }
        throw JSDecodingError(JSDecodingError::Kind::DataCorrupted, path,
                              "number does not fit the integer field");
    } else {
        mismatch(path, "integer", v);
    }
    throw JSDecodingError(JSDecodingError::Kind::DataCorrupted, path,
                          "number does not fit the integer field");
}

}  // namespace jscodec

std::string printedForm(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace lumvane
