#include "extension/ThriftJSONProtocol.h"

#include <thrift/transport/TBufferTransports.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace lumvane {

using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TMemoryBuffer;
using namespace apache::thrift::protocol;
using jsonproto::FieldSpan;
using jsonproto::Member;
using jsonproto::Node;
using jsonproto::ReadItem;
using jsonproto::WriteFrame;

namespace {

struct TypeEntry {
    TType type;
    std::string_view name;
};
constexpr TypeEntry kTypes[] = {
    {T_BOOL, "tf"}, {T_BYTE, "i8"}, {T_DOUBLE, "dbl"}, {T_I16, "i16"},
    {T_I32, "i32"}, {T_I64, "i64"}, {T_STRING, "str"}, {T_STRUCT, "rec"},
    {T_MAP, "map"}, {T_SET, "set"}, {T_LIST, "lst"},
};

[[noreturn]] void fail(const std::string& reason, TProtocolException::TProtocolExceptionType type =
                                                      TProtocolException::INVALID_DATA) {
    throw ThriftJSONProtocolException(reason, type);
}

// Length of the valid UTF-8 sequence starting at p, or 0 when it is not valid
// (overlong forms, surrogates and code points above U+10FFFF are refused).
size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    unsigned char c = p[0];
    if (c < 0x80) return 1;
    auto cont = [&](size_t i) { return p + i < end && (p[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (c == 0xE0 && p[1] < 0xA0) return 0;
        if (c == 0xED && p[1] >= 0xA0) return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (c == 0xF0 && p[1] < 0x90) return 0;
        if (c == 0xF4 && p[1] >= 0x90) return 0;
        return 4;
    }
    return 0;
}

// Integer value of a text the way a lenient number reader takes it: leading
// white space, an optional sign, then digits up to the first other character;
// saturates at the 64-bit limits; 0 when no digit follows.
int64_t leadingInteger(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    uint64_t value = 0;
    bool overflow = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            overflow = true;
        } else {
            value = value * 10 + digit;
        }
    }
    if (negative) {
        if (overflow || value > uint64_t(1) << 63) return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(0 - value);
    }
    if (overflow || value > uint64_t(std::numeric_limits<int64_t>::max()))
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(value);
}

int64_t saturatingTrunc(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

// Shortest text that reads back as the same double; integral values carry no
// fraction ("30"). Non-finite values have no JSON form.
void appendDouble(std::string& out, double value) {
    if (!std::isfinite(value)) fail("Cannot write a non-finite double");
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

}  // namespace

// ---------------------------------------------------------------------------
// Parser

class JsonParser {
  public:
    explicit JsonParser(ThriftJSONProtocol& p)
        : p_(p), s_(p.input_.data()), end_(s_ + p.input_.size()), begin_(s_) {}

    uint32_t parseDocument() {
        skipSpace();
        uint32_t root = parseValue(0);
        skipSpace();
        if (s_ != end_) error("Garbage at end");
        return root;
    }

  private:
    [[noreturn]] void error(const char* what) {
        fail(std::string("Fialed json parsing: ") + what + " around character " +
             std::to_string(s_ - begin_) + ".");
    }

    void skipSpace() {
        while (s_ < end_ && (*s_ == ' ' || *s_ == '\t' || *s_ == '\n' || *s_ == '\r')) ++s_;
    }

    uint32_t newNode(Node::Kind kind) {
        if (p_.nodes_.size() >= std::numeric_limits<uint32_t>::max()) error("Too many values");
        p_.nodes_.push_back(Node{});
        p_.nodes_.back().kind = kind;
        return static_cast<uint32_t>(p_.nodes_.size() - 1);
    }

    bool literal(std::string_view word) {
        if (static_cast<size_t>(end_ - s_) < word.size() ||
            std::memcmp(s_, word.data(), word.size()) != 0)
            return false;
        s_ += word.size();
        return true;
    }

    uint32_t parseValue(int depth) {
        if (s_ == end_) error("Unexpected end of input");
        switch (*s_) {
            case '[':
                return parseArray(depth + 1);
            case '{':
                return parseObject(depth + 1);
            case '"': {
                uint32_t n = newNode(Node::Str);
                parseString(p_.nodes_[n].a, p_.nodes_[n].b, p_.nodes_[n].escaped);
                return n;
            }
            case 't':
                if (literal("true")) return newNode(Node::True);
                break;
            case 'f':
                if (literal("false")) return newNode(Node::False);
                break;
            case 'n':
                if (literal("null")) return newNode(Node::Null);
                break;
            default:
                if (*s_ == '-' || (*s_ >= '0' && *s_ <= '9')) return parseNumber();
                break;
        }
        error("Invalid value");
    }

    uint32_t parseNumber() {
        const char* start = s_;
        bool integral = true;
        if (*s_ == '-') ++s_;
        if (s_ == end_) error("Invalid number");
        if (*s_ == '0') {
            ++s_;
        } else if (*s_ >= '1' && *s_ <= '9') {
            while (s_ < end_ && *s_ >= '0' && *s_ <= '9') ++s_;
        } else {
            error("Invalid number");
        }
        if (s_ < end_ && *s_ == '.') {
            integral = false;
            ++s_;
            if (s_ == end_ || *s_ < '0' || *s_ > '9') error("Invalid number");
            while (s_ < end_ && *s_ >= '0' && *s_ <= '9') ++s_;
        }
        if (s_ < end_ && (*s_ == 'e' || *s_ == 'E')) {
            integral = false;
            ++s_;
            if (s_ < end_ && (*s_ == '+' || *s_ == '-')) ++s_;
            if (s_ == end_ || *s_ < '0' || *s_ > '9') error("Invalid number");
            while (s_ < end_ && *s_ >= '0' && *s_ <= '9') ++s_;
        }
        if (integral) {
            int64_t v = 0;
            auto res = std::from_chars(start, s_, v);
            if (res.ec == std::errc() && res.ptr == s_) {
                uint32_t n = newNode(Node::Int);
                p_.nodes_[n].num.i = v;
                return n;
            }
        }
        double d = 0;
        auto res = std::from_chars(start, s_, d);
        if (res.ec == std::errc::result_out_of_range) {
            // Beyond the range of a double: strtod gives the infinity or the zero.
            d = std::strtod(std::string(start, s_).c_str(), nullptr);
        } else if (res.ec != std::errc()) {
            error("Invalid number");
        }
        uint32_t n = newNode(Node::Dbl);
        p_.nodes_[n].num.d = d;
        return n;
    }

    static int hexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    unsigned readHex4() {
        if (end_ - s_ < 4) error("Invalid escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            int h = hexValue(s_[i]);
            if (h < 0) error("Invalid escape");
            v = (v << 4) | static_cast<unsigned>(h);
        }
        s_ += 4;
        return v;
    }

    static void appendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // A string without escapes stays a view of the input; one with escapes is
    // decoded into the arena. The input must be UTF-8.
    void parseString(uint32_t& off, uint32_t& len, bool& escaped) {
        ++s_;  // opening quote
        const char* start = s_;
        while (s_ < end_) {
            unsigned char c = static_cast<unsigned char>(*s_);
            if (c == '"') {
                off = static_cast<uint32_t>(start - begin_);
                len = static_cast<uint32_t>(s_ - start);
                escaped = false;
                ++s_;
                return;
            }
            if (c == '\\') break;
            if (c < 0x20) error("Unescaped control character in string");
            if (c < 0x80) {
                ++s_;
            } else {
                size_t n = utf8SequenceLength(reinterpret_cast<const unsigned char*>(s_),
                                              reinterpret_cast<const unsigned char*>(end_));
                if (n == 0) error("Invalid UTF-8 in string");
                s_ += n;
            }
        }
        if (s_ == end_) error("Unterminated string");
        std::string& arena = p_.arena_;
        size_t arenaStart = arena.size();
        arena.append(start, s_);
        while (true) {
            if (s_ == end_) error("Unterminated string");
            unsigned char c = static_cast<unsigned char>(*s_);
            if (c == '"') {
                ++s_;
                break;
            }
            if (c < 0x20) error("Unescaped control character in string");
            if (c == '\\') {
                ++s_;
                if (s_ == end_) error("Unterminated string");
                char e = *s_++;
                switch (e) {
                    case '"':
                        arena += '"';
                        break;
                    case '\\':
                        arena += '\\';
                        break;
                    case '/':
                        arena += '/';
                        break;
                    case 'b':
                        arena += '\b';
                        break;
                    case 'f':
                        arena += '\f';
                        break;
                    case 'n':
                        arena += '\n';
                        break;
                    case 'r':
                        arena += '\r';
                        break;
                    case 't':
                        arena += '\t';
                        break;
                    case 'u': {
                        unsigned cp = readHex4();
                        if (cp >= 0xD800 && cp <= 0xDBFF) {
                            if (end_ - s_ < 2 || s_[0] != '\\' || s_[1] != 'u')
                                error("Unpaired surrogate in string");
                            s_ += 2;
                            unsigned low = readHex4();
                            if (low < 0xDC00 || low > 0xDFFF) error("Unpaired surrogate in string");
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                            error("Unpaired surrogate in string");
                        }
                        appendUtf8(arena, cp);
                        break;
                    }
                    default:
                        error("Invalid escape");
                }
                continue;
            }
            size_t n = c < 0x80 ? 1
                                : utf8SequenceLength(reinterpret_cast<const unsigned char*>(s_),
                                                     reinterpret_cast<const unsigned char*>(end_));
            if (n == 0) error("Invalid UTF-8 in string");
            arena.append(s_, n);
            s_ += n;
        }
        if (arena.size() > std::numeric_limits<uint32_t>::max()) error("String too long");
        off = static_cast<uint32_t>(arenaStart);
        len = static_cast<uint32_t>(arena.size() - arenaStart);
        escaped = true;
    }

    uint32_t parseArray(int depth) {
        if (depth > ThriftJSONProtocol::kMaxNestingDepth) error("Nesting too deep");
        ++s_;
        size_t scratchStart = kidScratch_.size();
        skipSpace();
        if (s_ < end_ && *s_ == ']') {
            ++s_;
        } else {
            while (true) {
                skipSpace();
                uint32_t kid = parseValue(depth);
                kidScratch_.push_back(kid);
                skipSpace();
                if (s_ == end_) error("Unterminated array");
                if (*s_ == ',') {
                    ++s_;
                    continue;
                }
                if (*s_ == ']') {
                    ++s_;
                    break;
                }
                error("Expected ',' or ']'");
            }
        }
        uint32_t n = newNode(Node::Arr);
        p_.nodes_[n].a = static_cast<uint32_t>(p_.kids_.size());
        p_.nodes_[n].b = static_cast<uint32_t>(kidScratch_.size() - scratchStart);
        p_.kids_.insert(p_.kids_.end(), kidScratch_.begin() + scratchStart, kidScratch_.end());
        kidScratch_.resize(scratchStart);
        return n;
    }

    uint32_t parseObject(int depth) {
        if (depth > ThriftJSONProtocol::kMaxNestingDepth) error("Nesting too deep");
        ++s_;
        size_t scratchStart = memberScratch_.size();
        skipSpace();
        if (s_ < end_ && *s_ == '}') {
            ++s_;
        } else {
            while (true) {
                skipSpace();
                if (s_ == end_ || *s_ != '"') error("Expected a member name");
                Member m;
                parseString(m.nameOff, m.nameLen, m.nameEscaped);
                m.key = leadingInteger(p_.memberName(m));
                skipSpace();
                if (s_ == end_ || *s_ != ':') error("Expected ':'");
                ++s_;
                skipSpace();
                m.value = parseValue(depth);
                memberScratch_.push_back(m);
                skipSpace();
                if (s_ == end_) error("Unterminated object");
                if (*s_ == ',') {
                    ++s_;
                    continue;
                }
                if (*s_ == '}') {
                    ++s_;
                    break;
                }
                error("Expected ',' or '}'");
            }
        }
        uint32_t n = newNode(Node::Obj);
        p_.nodes_[n].a = static_cast<uint32_t>(p_.members_.size());
        p_.nodes_[n].b = static_cast<uint32_t>(memberScratch_.size() - scratchStart);
        p_.members_.insert(p_.members_.end(), memberScratch_.begin() + scratchStart,
                           memberScratch_.end());
        memberScratch_.resize(scratchStart);
        return n;
    }

    ThriftJSONProtocol& p_;
    const char* s_;
    const char* end_;
    const char* begin_;
    std::vector<uint32_t> kidScratch_;
    std::vector<Member> memberScratch_;
};

// ---------------------------------------------------------------------------
// Construction, type table

ThriftJSONProtocol::ThriftJSONProtocol(std::shared_ptr<TTransport> transport,
                                       size_t maxMessageBytes)
    : TVirtualProtocol<ThriftJSONProtocol>(std::move(transport)),
      maxMessageBytes_(maxMessageBytes) {}

ThriftJSONProtocol::~ThriftJSONProtocol() = default;

void ThriftJSONProtocol::setTransport(std::shared_ptr<TTransport> transport) {
    ptrans_ = std::move(transport);
}

std::string_view ThriftJSONProtocol::typeName(TType type) {
    for (const auto& e : kTypes)
        if (e.type == type) return e.name;
    return {};
}

TType ThriftJSONProtocol::typeForName(std::string_view name) {
    for (const auto& e : kTypes)
        if (e.name == name) return e.type;
    return T_STOP;
}

// ---------------------------------------------------------------------------
// Writing

void ThriftJSONProtocol::beforeValue() {
    if (tstack_.empty()) return;
    WriteFrame& f = tstack_.back();
    switch (f.kind) {
        case WriteFrame::Message:
        case WriteFrame::List:
            out_ += ',';
            break;
        case WriteFrame::Map:
            if (f.count % 2 == 0) {
                if (f.count > 0) out_ += ',';
            } else {
                out_ += ':';
            }
            break;
        case WriteFrame::Field:
        case WriteFrame::Record:
            break;
    }
    ++f.count;
}

bool ThriftJSONProtocol::writingMapKey() const {
    return !tstack_.empty() && tstack_.back().kind == WriteFrame::Map &&
           tstack_.back().count % 2 == 1;
}

void ThriftJSONProtocol::appendEscaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    // Validate first so that a text that cannot be written leaves nothing behind.
    for (const auto* q = p; q < end;) {
        if (*q < 0x80) {
            ++q;
            continue;
        }
        size_t n = utf8SequenceLength(q, end);
        if (n == 0) {
            // A map key must stay a JSON member name.
            out_ += writingMapKey() ? "\"\"" : "null";
            return;
        }
        q += n;
    }
    out_ += '"';
    const auto* run = p;
    for (; p < end; ++p) {
        unsigned char c = *p;
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out_.append(reinterpret_cast<const char*>(run), p - run);
        run = p + 1;
        switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\b':
                out_ += "\\b";
                break;
            case '\f':
                out_ += "\\f";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\r':
                out_ += "\\r";
                break;
            case '\t':
                out_ += "\\t";
                break;
            default: {
                char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
                out_.append(esc, 6);
            }
        }
    }
    out_.append(reinterpret_cast<const char*>(run), end - run);
    out_ += '"';
}

void ThriftJSONProtocol::appendNumberText(int64_t value, bool quote) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    if (quote) out_ += '"';
    out_.append(buf, res.ptr);
    if (quote) out_ += '"';
}

void ThriftJSONProtocol::finishTopLevel() {
    // A record or container written outside a message (a record serialised on
    // its own) goes to the transport as soon as it is complete.
    if (tstack_.empty() && !out_.empty()) {
        getTransport()->write(reinterpret_cast<const uint8_t*>(out_.data()),
                              static_cast<uint32_t>(out_.size()));
        out_.clear();
        fields_.clear();
    }
}

uint32_t ThriftJSONProtocol::writeMessageBegin(const std::string& name,
                                               const TMessageType messageType,
                                               const int32_t seqid) {
    out_.clear();
    tstack_.clear();
    fields_.clear();
    out_ += "[1,";
    appendEscaped(name);
    out_ += ',';
    appendNumberText(static_cast<int32_t>(messageType), false);
    out_ += ',';
    appendNumberText(seqid, false);
    WriteFrame f;
    f.kind = WriteFrame::Message;
    f.count = 4;
    tstack_.push_back(f);
    return static_cast<uint32_t>(out_.size());
}

uint32_t ThriftJSONProtocol::writeMessageEnd() {
    // Close whatever is still open (only the message itself when the caller
    // nested properly) and hand the whole text over in one write.
    while (!tstack_.empty() && tstack_.back().kind != WriteFrame::Message) tstack_.pop_back();
    out_ += ']';
    uint32_t size = static_cast<uint32_t>(out_.size());
    getTransport()->write(reinterpret_cast<const uint8_t*>(out_.data()), size);
    out_.clear();
    tstack_.clear();
    fields_.clear();
    return size;
}

uint32_t ThriftJSONProtocol::writeStructBegin(const char*) {
    beforeValue();
    WriteFrame f;
    f.kind = WriteFrame::Record;
    f.start = out_.size();
    f.fieldsBegin = fields_.size();
    tstack_.push_back(f);
    out_ += '{';
    return 1;
}

void ThriftJSONProtocol::reorderRecord(const WriteFrame& frame) {
    // Members go out in ascending field-id order; of several writes of one id
    // the last one counts.
    std::vector<FieldSpan> spans(fields_.begin() + static_cast<ptrdiff_t>(frame.fieldsBegin),
                                 fields_.end());
    std::stable_sort(spans.begin(), spans.end(),
                     [](const FieldSpan& x, const FieldSpan& y) { return x.id < y.id; });
    std::string text = "{";
    bool first = true;
    for (size_t i = 0; i < spans.size(); ++i) {
        if (i + 1 < spans.size() && spans[i + 1].id == spans[i].id) continue;
        if (!first) text += ',';
        first = false;
        text.append(out_, spans[i].begin, spans[i].end - spans[i].begin);
    }
    text += '}';
    out_.replace(frame.start, std::string::npos, text);
}

uint32_t ThriftJSONProtocol::writeStructEnd() {
    if (tstack_.empty() || tstack_.back().kind != WriteFrame::Record)
        fail("Record end without record begin");
    WriteFrame frame = tstack_.back();
    tstack_.pop_back();
    bool ordered = true;
    for (size_t i = frame.fieldsBegin + 1; i < fields_.size(); ++i) {
        if (fields_[i].id <= fields_[i - 1].id) {
            ordered = false;
            break;
        }
    }
    if (ordered) {
        out_ += '}';
    } else {
        reorderRecord(frame);
    }
    fields_.resize(frame.fieldsBegin);
    finishTopLevel();
    return 1;
}

uint32_t ThriftJSONProtocol::writeFieldBegin(const char*, const TType fieldType,
                                             const int16_t fieldId) {
    if (tstack_.empty() || tstack_.back().kind != WriteFrame::Record)
        fail("Field begin outside a record");
    std::string_view type = typeName(fieldType);
    if (type.empty()) fail("Cannot write field type " + std::to_string(fieldType));
    WriteFrame& record = tstack_.back();
    if (record.count > 0) out_ += ',';
    ++record.count;
    WriteFrame f;
    f.kind = WriteFrame::Field;
    f.fieldId = fieldId;
    f.start = out_.size();
    appendNumberText(fieldId, true);
    out_ += ":{\"";
    out_ += type;
    out_ += "\":";
    tstack_.push_back(f);
    return 1;
}

uint32_t ThriftJSONProtocol::writeFieldEnd() {
    if (tstack_.empty() || tstack_.back().kind != WriteFrame::Field)
        fail("Field end without field begin");
    WriteFrame f = tstack_.back();
    tstack_.pop_back();
    out_ += '}';
    fields_.push_back(FieldSpan{f.fieldId, f.start, out_.size()});
    return 1;
}

uint32_t ThriftJSONProtocol::writeFieldStop() {
    return 0;
}

uint32_t ThriftJSONProtocol::writeMapBegin(const TType keyType, const TType valType,
                                           const uint32_t) {
    if (typeName(keyType).empty() || typeName(valType).empty())
        fail("Cannot write map of types " + std::to_string(keyType) + ", " +
             std::to_string(valType));
    beforeValue();
    WriteFrame f;
    f.kind = WriteFrame::Map;
    f.start = out_.size();
    f.keyType = keyType;
    f.valueType = valType;
    tstack_.push_back(f);
    return 1;
}

uint32_t ThriftJSONProtocol::writeMapEnd() {
    if (tstack_.empty() || tstack_.back().kind != WriteFrame::Map)
        fail("Map end without map begin");
    WriteFrame f = tstack_.back();
    tstack_.pop_back();
    if (f.count % 2 == 1) out_ += ":null";  // a key without its value
    // The header carries the number of pairs actually written, known only now.
    std::string header = "[\"";
    header += typeName(f.keyType);
    header += "\",\"";
    header += typeName(f.valueType);
    header += "\",";
    header += std::to_string((f.count + 1) / 2);
    header += ",{";
    out_.insert(f.start, header);
    out_ += "}]";
    finishTopLevel();
    return 1;
}

uint32_t ThriftJSONProtocol::writeListBegin(const TType elemType, const uint32_t size) {
    std::string_view type = typeName(elemType);
    if (type.empty()) fail("Cannot write list of type " + std::to_string(elemType));
    beforeValue();
    WriteFrame f;
    f.kind = WriteFrame::List;
    f.start = out_.size();
    tstack_.push_back(f);
    out_ += "[\"";
    out_ += type;
    out_ += "\",";
    appendNumberText(size, false);
    return 1;
}

uint32_t ThriftJSONProtocol::writeListEnd() {
    if (tstack_.empty() || tstack_.back().kind != WriteFrame::List)
        fail("List end without list begin");
    tstack_.pop_back();
    out_ += ']';
    finishTopLevel();
    return 1;
}

uint32_t ThriftJSONProtocol::writeSetBegin(const TType elemType, const uint32_t size) {
    return writeListBegin(elemType, size);
}

uint32_t ThriftJSONProtocol::writeSetEnd() {
    return writeListEnd();
}

uint32_t ThriftJSONProtocol::writeBool(const bool value) {
    return writeI64(value ? 1 : 0);
}

uint32_t ThriftJSONProtocol::writeByte(const int8_t byte) {
    return writeI64(static_cast<uint8_t>(byte));
}

uint32_t ThriftJSONProtocol::writeI16(const int16_t i16) {
    return writeI64(i16);
}

uint32_t ThriftJSONProtocol::writeI32(const int32_t i32) {
    return writeI64(i32);
}

uint32_t ThriftJSONProtocol::writeI64(const int64_t i64) {
    beforeValue();
    appendNumberText(i64, writingMapKey());
    finishTopLevel();
    return 1;
}

uint32_t ThriftJSONProtocol::writeDouble(const double dub) {
    if (!std::isfinite(dub)) fail("Cannot write a non-finite double");
    beforeValue();
    bool quote = writingMapKey();
    if (quote) out_ += '"';
    appendDouble(out_, dub);
    if (quote) out_ += '"';
    finishTopLevel();
    return 1;
}

uint32_t ThriftJSONProtocol::writeString(const std::string& str) {
    beforeValue();
    appendEscaped(str);
    finishTopLevel();
    return static_cast<uint32_t>(str.size());
}

uint32_t ThriftJSONProtocol::writeBinary(const std::string& str) {
    return writeString(str);
}

// ---------------------------------------------------------------------------
// Reading

struct ThriftJSONProtocol::Val {
    const Node* node = nullptr;  // null: a map key, whose text is key
    std::string_view key;
};

std::string_view ThriftJSONProtocol::nodeText(const Node& n) const {
    const std::string& base = n.escaped ? arena_ : input_;
    return std::string_view(base).substr(n.a, n.b);
}

std::string_view ThriftJSONProtocol::memberName(const Member& m) const {
    const std::string& base = m.nameEscaped ? arena_ : input_;
    return std::string_view(base).substr(m.nameOff, m.nameLen);
}

void ThriftJSONProtocol::takeInput() {
    input_.clear();
    TTransport* trans = getTransport().get();
    size_t limit = maxMessageBytes_;
    if (auto config = trans->getConfiguration()) {
        int configured = config->getMaxMessageSize();
        if (configured > 0) limit = std::min(limit, static_cast<size_t>(configured));
    }
    if (auto* memory = dynamic_cast<TMemoryBuffer*>(trans)) {
        uint32_t available = memory->available_read();
        if (available > limit) fail("Message too large", TProtocolException::SIZE_LIMIT);
        if (available > 0) {
            uint32_t len = available;
            const uint8_t* data = memory->borrow(nullptr, &len);
            input_.assign(reinterpret_cast<const char*>(data), available);
            memory->consume(available);
        }
        return;
    }
    // Any other transport (a socket, an HTTP or framed stream) is read until the
    // top-level value is complete or the transport has nothing more to give; asking
    // such a transport for more after the message would wait for the next one.
    uint8_t block[1024];
    int depth = 0;
    bool started = false, inString = false, escaped = false;
    while (true) {
        uint32_t got = trans->read(block, sizeof block);
        if (got == 0) break;
        if (input_.size() + got > limit) fail("Message too large", TProtocolException::SIZE_LIMIT);
        input_.append(reinterpret_cast<const char*>(block), got);
        bool complete = false;
        for (uint32_t i = 0; i < got && !complete; ++i) {
            char c = static_cast<char>(block[i]);
            if (inString) {
                if (escaped) {
                    escaped = false;
                } else if (c == '\\') {
                    escaped = true;
                } else if (c == '"') {
                    inString = false;
                }
            } else if (c == '"') {
                inString = true;
            } else if (c == '[' || c == '{') {
                ++depth;
                started = true;
            } else if (c == ']' || c == '}') {
                --depth;
                complete = started && depth <= 0;
            }
        }
        if (complete) break;
    }
}

void ThriftJSONProtocol::parseInput() {
    arena_.clear();
    nodes_.clear();
    kids_.clear();
    members_.clear();
    order_.clear();
    rstack_.clear();
    rpos_.clear();
    if (input_.size() > std::numeric_limits<uint32_t>::max() / 2)
        fail("Message too large", TProtocolException::SIZE_LIMIT);
    JsonParser parser(*this);
    uint32_t root = parser.parseDocument();
    ReadItem item;
    item.kind = ReadItem::Value;
    item.node = root;
    rstack_.push_back(item);
}

ReadItem& ThriftJSONProtocol::top() {
    if (rstack_.empty()) fail("Nothing left to read");
    return rstack_.back();
}

void ThriftJSONProtocol::openObject(ReadItem& item, uint32_t node, ReadItem::Origin origin) {
    const Node& n = nodes_[node];
    if (n.kind != Node::Obj) fail("Expected an object");
    item.kind = ReadItem::ObjIter;
    item.origin = origin;
    item.node = node;
    item.orderOff = static_cast<uint32_t>(order_.size());
    item.pos = item.orderOff;
    // Members are taken in ascending numeric order of their names; a name that
    // occurs twice counts once, with its last value.
    size_t first = order_.size();
    for (uint32_t i = 0; i < n.b; ++i) order_.push_back(n.a + i);
    bool sorted = true;
    for (size_t i = first + 1; i < order_.size(); ++i) {
        if (members_[order_[i]].key <= members_[order_[i - 1]].key) {
            sorted = false;
            break;
        }
    }
    if (!sorted) {
        std::stable_sort(
            order_.begin() + static_cast<ptrdiff_t>(first), order_.end(),
            [this](uint32_t x, uint32_t y) { return members_[x].key < members_[y].key; });
        size_t out = first;
        for (size_t i = first; i < order_.size(); ++i) {
            bool overwritten = false;
            for (size_t j = i + 1;
                 j < order_.size() && members_[order_[j]].key == members_[order_[i]].key; ++j) {
                if (memberName(members_[order_[j]]) == memberName(members_[order_[i]])) {
                    overwritten = true;
                    break;
                }
            }
            if (!overwritten) order_[out++] = order_[i];
        }
        order_.resize(out);
    }
    item.end = static_cast<uint32_t>(order_.size());
}

std::string ThriftJSONProtocol::describe(uint32_t node) const {
    const Node& n = nodes_[node];
    switch (n.kind) {
        case Node::Null:
            return "null";
        case Node::False:
            return "0";
        case Node::True:
            return "1";
        case Node::Int:
            return std::to_string(n.num.i);
        case Node::Dbl: {
            char buf[64];
            auto res = std::to_chars(buf, buf + sizeof buf, n.num.d);
            return std::string(buf, res.ptr);
        }
        case Node::Str:
            return std::string(nodeText(n));
        case Node::Arr:
            return "(array of " + std::to_string(n.b) + ")";
        case Node::Obj:
            return "{object of " + std::to_string(n.b) + "}";
    }
    return {};
}

uint32_t ThriftJSONProtocol::readMessageBegin(std::string& name, TMessageType& messageType,
                                              int32_t& seqid) {
    rstack_.clear();
    rpos_.clear();
    takeInput();
    parseInput();
    const Node root = nodes_[rstack_.back().node];
    rstack_.clear();
    if (root.kind != Node::Arr) fail("Message is not an array");
    if (root.b < 5) fail("Message has fewer than five elements");
    const uint32_t* el = &kids_[root.a];
    const Node& version = nodes_[el[0]];
    bool isOne = (version.kind == Node::Int && version.num.i == ThriftProtocolVersion) ||
                 (version.kind == Node::Dbl && version.num.d == ThriftProtocolVersion) ||
                 version.kind == Node::True;
    if (!isOne) fail("Wrong thrift protocol version: " + describe(el[0]));
    const Node& nameNode = nodes_[el[1]];
    if (nameNode.kind != Node::Str) fail("Message name is not a string");
    name.assign(nodeText(nameNode));
    int32_t kind = toInt32(Val{&nodes_[el[2]], {}});
    if (kind < T_CALL || kind > T_ONEWAY) fail("Invalid message type " + std::to_string(kind));
    messageType = static_cast<TMessageType>(kind);
    seqid = toInt32(Val{&nodes_[el[3]], {}});
    ReadItem item;
    item.kind = ReadItem::Value;
    item.origin = ReadItem::FromMessage;
    item.node = el[4];
    rstack_.push_back(item);
    return static_cast<uint32_t>(input_.size());
}

uint32_t ThriftJSONProtocol::readMessageEnd() {
    return 0;
}

uint32_t ThriftJSONProtocol::readStructBegin(std::string& name) {
    name.clear();
    ReadItem& t = top();
    if (t.kind == ReadItem::ListIter) {
        if (t.pos >= t.end) fail("No element left in list");
        uint32_t node = kids_[t.pos++];
        ReadItem item;
        openObject(item, node, ReadItem::FromList);
        rstack_.push_back(item);
    } else if (t.kind == ReadItem::Value) {
        openObject(t, t.node, t.origin);
    } else {
        fail("Expected a record");
    }
    return 0;
}

uint32_t ThriftJSONProtocol::readStructEnd() {
    ReadItem& t = top();
    if (t.kind == ReadItem::ObjIter &&
        (t.origin == ReadItem::FromList || t.origin == ReadItem::FromMapValue))
        rstack_.pop_back();
    return 0;
}

uint32_t ThriftJSONProtocol::readFieldBegin(std::string& name, TType& fieldType, int16_t& fieldId) {
    name.clear();
    ReadItem& t = top();
    if (t.kind != ReadItem::ObjIter) fail("Expected a record");
    if (t.pos >= t.end) {
        fieldType = T_STOP;
        fieldId = -1;
        return 0;
    }
    const Member& m = members_[order_[t.pos++]];
    fieldId = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(m.key)));
    const Node& field = nodes_[m.value];
    if (field.kind != Node::Obj || field.b != 1) fail("Field is not an object of one member");
    const Member& typed = members_[field.a];
    fieldType = typeForName(memberName(typed));
    // A type name outside the table ends the record here; nothing of the field
    // stays on the stacks, so the enclosing reads go on undisturbed.
    if (fieldType == T_STOP) return 0;
    rpos_.push_back(rstack_.size());
    ReadItem item;
    item.kind = ReadItem::Value;
    item.origin = ReadItem::FromField;
    item.node = typed.value;
    rstack_.push_back(item);
    return 0;
}

uint32_t ThriftJSONProtocol::readFieldEnd() {
    if (rpos_.empty()) fail("Field end without field begin");
    size_t pos = rpos_.back();
    rpos_.pop_back();
    if (rstack_.size() > pos) rstack_.resize(pos);
    return 0;
}

uint32_t ThriftJSONProtocol::readMapBegin(TType& keyType, TType& valType, uint32_t& size) {
    ReadItem& t = top();
    uint32_t node;
    if (t.kind == ReadItem::Value) {
        node = t.node;
        rstack_.pop_back();
    } else if (t.kind == ReadItem::ListIter) {
        if (t.pos >= t.end) fail("No element left in list");
        node = kids_[t.pos++];
    } else {
        fail("Expected a map");
    }
    const Node& n = nodes_[node];
    if (n.kind != Node::Arr || n.b < 4) fail("Expected a map");
    const uint32_t* el = &kids_[n.a];
    if (nodes_[el[0]].kind != Node::Str || nodes_[el[1]].kind != Node::Str)
        fail("Map types are not names");
    keyType = typeForName(nodeText(nodes_[el[0]]));
    valType = typeForName(nodeText(nodes_[el[1]]));
    int32_t count = toInt32(Val{&nodes_[el[2]], {}});
    if (count < 0) fail("Negative map size", TProtocolException::NEGATIVE_SIZE);
    rpos_.push_back(rstack_.size());
    ReadItem item;
    openObject(item, el[3], ReadItem::FromMapPairs);
    if (static_cast<uint32_t>(count) > item.end - item.orderOff)
        fail("Map size beyond the pairs present", TProtocolException::SIZE_LIMIT);
    rstack_.push_back(item);
    size = static_cast<uint32_t>(count);
    return 0;
}

uint32_t ThriftJSONProtocol::readMapEnd() {
    return readFieldEnd();
}

uint32_t ThriftJSONProtocol::readListBegin(TType& elemType, uint32_t& size) {
    ReadItem& t = top();
    uint32_t node;
    if (t.kind == ReadItem::Value) {
        node = t.node;
        rstack_.pop_back();
    } else if (t.kind == ReadItem::ListIter) {
        if (t.pos >= t.end) fail("No element left in list");
        node = kids_[t.pos++];
    } else {
        fail("Expected a list");
    }
    const Node& n = nodes_[node];
    if (n.kind != Node::Arr || n.b < 2) fail("Expected a list");
    const uint32_t* el = &kids_[n.a];
    if (nodes_[el[0]].kind != Node::Str) fail("List type is not a name");
    elemType = typeForName(nodeText(nodes_[el[0]]));
    int32_t count = toInt32(Val{&nodes_[el[1]], {}});
    if (count < 0) fail("Negative list size", TProtocolException::NEGATIVE_SIZE);
    if (static_cast<uint32_t>(count) > n.b - 2)
        fail("List size beyond the elements present", TProtocolException::SIZE_LIMIT);
    rpos_.push_back(rstack_.size());
    ReadItem item;
    item.kind = ReadItem::ListIter;
    item.node = node;
    item.pos = n.a + 2;
    item.end = n.a + n.b;
    rstack_.push_back(item);
    size = static_cast<uint32_t>(count);
    return 0;
}

uint32_t ThriftJSONProtocol::readListEnd() {
    return readFieldEnd();
}

uint32_t ThriftJSONProtocol::readSetBegin(TType& elemType, uint32_t& size) {
    return readListBegin(elemType, size);
}

uint32_t ThriftJSONProtocol::readSetEnd() {
    return readListEnd();
}

ThriftJSONProtocol::Val ThriftJSONProtocol::readValue() {
    ReadItem& t = top();
    switch (t.kind) {
        case ReadItem::ListIter:
            if (t.pos >= t.end) fail("No element left in list");
            return Val{&nodes_[kids_[t.pos++]], {}};
        case ReadItem::ObjIter: {
            if (t.pos >= t.end) fail("No member left in map");
            const Member& m = members_[order_[t.pos++]];
            ReadItem item;
            item.kind = ReadItem::Value;
            item.origin = ReadItem::FromMapValue;
            item.node = m.value;
            rstack_.push_back(item);
            return Val{nullptr, memberName(m)};
        }
        case ReadItem::Value: {
            const Node* n = &nodes_[t.node];
            rstack_.pop_back();
            return Val{n, {}};
        }
    }
    fail("Nothing left to read");
}

int64_t ThriftJSONProtocol::toInt64(const Val& v) const {
    if (!v.node) return leadingInteger(v.key);
    switch (v.node->kind) {
        case Node::Int:
            return v.node->num.i;
        case Node::Dbl:
            return saturatingTrunc(v.node->num.d);
        case Node::True:
            return 1;
        case Node::False:
            return 0;
        case Node::Str:
            return leadingInteger(nodeText(*v.node));
        default:
            fail("Expected a number");
    }
}

int32_t ThriftJSONProtocol::toInt32(const Val& v) const {
    // Texts saturate at the 32-bit limits; numbers keep their low 32 bits.
    bool isText = !v.node || v.node->kind == Node::Str;
    int64_t wide = toInt64(v);
    if (isText)
        return static_cast<int32_t>(std::clamp<int64_t>(wide, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}

std::string_view ThriftJSONProtocol::textOf(const Val& v) const {
    if (!v.node) return v.key;
    if (v.node->kind == Node::Str) return nodeText(*v.node);
    if (v.node->kind == Node::Null) return {};
    fail("Expected a string");
}

uint32_t ThriftJSONProtocol::readBool(bool& value) {
    int8_t byte = 0;
    readByte(byte);
    value = byte == 1;
    return 1;
}

uint32_t ThriftJSONProtocol::readByte(int8_t& byte) {
    int32_t v = 0;
    readI32(v);
    byte = static_cast<int8_t>(static_cast<uint8_t>(static_cast<uint32_t>(v)));
    return 1;
}

uint32_t ThriftJSONProtocol::readI16(int16_t& i16) {
    int32_t v = 0;
    readI32(v);
    i16 = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
    return 2;
}

uint32_t ThriftJSONProtocol::readI32(int32_t& i32) {
    i32 = toInt32(readValue());
    return 4;
}

uint32_t ThriftJSONProtocol::readI64(int64_t& i64) {
    i64 = toInt64(readValue());
    return 8;
}

uint32_t ThriftJSONProtocol::readDouble(double& dub) {
    Val v = readValue();
    if (v.node && v.node->kind == Node::Dbl) {
        dub = v.node->num.d;
    } else if (v.node && v.node->kind != Node::Str) {
        dub = static_cast<double>(toInt64(v));
    } else {
        // A text gives the number at its start, 0 when there is none.
        std::string_view text = textOf(v);
        size_t i = 0;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
        if (i < text.size() && text[i] == '+') ++i;
        double d = 0;
        auto res = std::from_chars(text.data() + i, text.data() + text.size(), d);
        dub = res.ec == std::errc() ? d : 0;
    }
    return 8;
}

uint32_t ThriftJSONProtocol::readString(std::string& str) {
    str.assign(textOf(readValue()));
    return static_cast<uint32_t>(str.size());
}

uint32_t ThriftJSONProtocol::readBinary(std::string& str) {
    return readString(str);
}

// ---------------------------------------------------------------------------
// Factory

std::shared_ptr<ThriftJSONProtocolFactory> ThriftJSONProtocolFactory::sharedFactory() {
    static const auto factory = std::make_shared<ThriftJSONProtocolFactory>();
    return factory;
}

std::shared_ptr<apache::thrift::protocol::TProtocol> ThriftJSONProtocolFactory::getProtocol(
    std::shared_ptr<apache::thrift::transport::TTransport> trans) {
    return std::make_shared<ThriftJSONProtocol>(std::move(trans));
}

}  // namespace lumvane
