#pragma once
// The JSON encoding of RPC messages that browser extensions, the Safari extension
// and the loopback servers speak. Laid out like Thrift's own JSON protocol
// (version 1, the same type names) with these differences: bools are the numbers
// 1 and 0, bytes are written unsigned, binary is written as a JSON string, and the
// members of a record always stand in ascending field-id order.
//
//   [1,"deleteLoginData",2,0,{"0":{"rec":{"1":{"rec":{"1":{"str":"7"}}}}}}]
//
// Writing builds the whole message in memory and hands it to the transport in one
// write at message end. Reading takes the whole message from the transport, parses
// it, then walks the parsed values; what a peer sends is bounded: the message size,
// the nesting depth and every container count (never more than the elements
// actually present, so nothing is allocated from an announced count alone).
#include <thrift/protocol/TProtocol.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/protocol/TVirtualProtocol.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumvane {

// A failure of this encoding. name() is "ThriftJSONProtocol"; reason() (also
// what()) is the fixed reason text, such as "Fialed json parsing: ..." or
// "Wrong thrift protocol version: 2".
class ThriftJSONProtocolException : public apache::thrift::protocol::TProtocolException {
  public:
    explicit ThriftJSONProtocolException(const std::string& reason,
                                         TProtocolExceptionType type = INVALID_DATA)
        : TProtocolException(type, reason) {}
    static constexpr const char* kName = "ThriftJSONProtocol";
    const char* name() const { return kName; }
    std::string reason() const { return what(); }
};

// Stands in for a string value that cannot be written as JSON text (binary data
// that is not UTF-8). It is written as null, and null reads back as an empty string.
class NullObject {};

namespace jsonproto {
// The parsed form of one message: a flat node table, arrays and objects pointing
// into shared child tables.
struct Node {
    enum Kind : uint8_t { Null, False, True, Int, Dbl, Str, Arr, Obj };
    Kind kind = Null;
    bool escaped = false;  // Str: the text lives in the arena, not in the input
    uint32_t a = 0;        // Str: text offset; Arr: first child; Obj: first member
    uint32_t b = 0;        // Str: text length; Arr/Obj: count
    union {
        int64_t i;
        double d;
    } num{0};
};
struct Member {
    uint32_t nameOff = 0;
    uint32_t nameLen = 0;
    bool nameEscaped = false;
    int64_t key = 0;  // integer value of the name (0 when it is not a number)
    uint32_t value = 0;
};
// One entry of the read stack.
struct ReadItem {
    enum Kind : uint8_t { Value, ListIter, ObjIter };
    enum Origin : uint8_t { FromMessage, FromField, FromList, FromMapValue, FromMapPairs };
    Kind kind = Value;
    Origin origin = FromMessage;
    uint32_t node = 0;
    uint32_t pos = 0;  // ListIter: next child; ObjIter: next entry of the sorted order
    uint32_t end = 0;
    uint32_t orderOff = 0;  // ObjIter: start of its member order
};
struct WriteFrame {
    enum Kind : uint8_t { Message, Record, Field, List, Map };
    Kind kind = Message;
    int16_t fieldId = 0;
    uint32_t count = 0;
    size_t start = 0;
    size_t fieldsBegin = 0;
    apache::thrift::protocol::TType keyType = apache::thrift::protocol::T_STOP;
    apache::thrift::protocol::TType valueType = apache::thrift::protocol::T_STOP;
};
struct FieldSpan {
    int16_t id;
    size_t begin;
    size_t end;
};
}  // namespace jsonproto

class ThriftJSONProtocol : public apache::thrift::protocol::TVirtualProtocol<ThriftJSONProtocol> {
  public:
    using TType = apache::thrift::protocol::TType;
    using TMessageType = apache::thrift::protocol::TMessageType;
    using TTransport = apache::thrift::transport::TTransport;

    static constexpr int32_t ThriftProtocolVersion = 1;
    // Upper bound of one message read from a peer (the transport's configured
    // maximum applies as well when it is smaller).
    static constexpr size_t kDefaultMaxMessageBytes = 64u * 1024 * 1024;
    // Deepest nesting of JSON arrays and objects accepted from a peer.
    static constexpr int kMaxNestingDepth = 256;

    explicit ThriftJSONProtocol(std::shared_ptr<TTransport> transport,
                                size_t maxMessageBytes = kDefaultMaxMessageBytes);
    ~ThriftJSONProtocol() override;

    std::shared_ptr<TTransport> transport() { return getTransport(); }
    void setTransport(std::shared_ptr<TTransport> transport);

    // Wire name of a type ("i32"), or an empty view for a type without one.
    static std::string_view typeName(TType type);
    // Type of a wire name; T_STOP for a name the table does not hold.
    static TType typeForName(std::string_view name);

    // Writing.
    uint32_t writeMessageBegin(const std::string& name, const TMessageType messageType,
                               const int32_t seqid);
    uint32_t writeMessageEnd();
    uint32_t writeStructBegin(const char* name);
    uint32_t writeStructEnd();
    uint32_t writeFieldBegin(const char* name, const TType fieldType, const int16_t fieldId);
    uint32_t writeFieldEnd();
    uint32_t writeFieldStop();
    uint32_t writeMapBegin(const TType keyType, const TType valType, const uint32_t size);
    uint32_t writeMapEnd();
    uint32_t writeListBegin(const TType elemType, const uint32_t size);
    uint32_t writeListEnd();
    uint32_t writeSetBegin(const TType elemType, const uint32_t size);
    uint32_t writeSetEnd();
    uint32_t writeBool(const bool value);
    uint32_t writeByte(const int8_t byte);
    uint32_t writeI16(const int16_t i16);
    uint32_t writeI32(const int32_t i32);
    uint32_t writeI64(const int64_t i64);
    uint32_t writeDouble(const double dub);
    uint32_t writeString(const std::string& str);
    uint32_t writeBinary(const std::string& str);

    // Reading.
    uint32_t readMessageBegin(std::string& name, TMessageType& messageType, int32_t& seqid);
    uint32_t readMessageEnd();
    uint32_t readStructBegin(std::string& name);
    uint32_t readStructEnd();
    uint32_t readFieldBegin(std::string& name, TType& fieldType, int16_t& fieldId);
    uint32_t readFieldEnd();
    uint32_t readMapBegin(TType& keyType, TType& valType, uint32_t& size);
    uint32_t readMapEnd();
    uint32_t readListBegin(TType& elemType, uint32_t& size);
    uint32_t readListEnd();
    uint32_t readSetBegin(TType& elemType, uint32_t& size);
    uint32_t readSetEnd();
    uint32_t readBool(bool& value);
    using TVirtualProtocol<ThriftJSONProtocol>::readBool;
    uint32_t readByte(int8_t& byte);
    uint32_t readI16(int16_t& i16);
    uint32_t readI32(int32_t& i32);
    uint32_t readI64(int64_t& i64);
    uint32_t readDouble(double& dub);
    uint32_t readString(std::string& str);
    uint32_t readBinary(std::string& str);

  private:
    struct Val;  // a value taken off the read stack: a node or a map key text

    // Writing helpers.
    void beforeValue();
    bool writingMapKey() const;
    void appendEscaped(std::string_view text);
    void appendNumberText(int64_t value, bool quote);
    void finishTopLevel();
    void reorderRecord(const jsonproto::WriteFrame& frame);

    // Reading helpers.
    void takeInput();
    void parseInput();
    jsonproto::ReadItem& top();
    void openObject(jsonproto::ReadItem& item, uint32_t node, jsonproto::ReadItem::Origin origin);
    Val readValue();
    int64_t toInt64(const Val& v) const;
    int32_t toInt32(const Val& v) const;
    std::string_view textOf(const Val& v) const;
    std::string_view nodeText(const jsonproto::Node& n) const;
    std::string_view memberName(const jsonproto::Member& m) const;
    std::string describe(uint32_t node) const;

    size_t maxMessageBytes_;

    // Write state.
    std::string out_;
    std::vector<jsonproto::WriteFrame> tstack_;
    std::vector<jsonproto::FieldSpan> fields_;

    // Read state: the input, its parsed form and the walk over it.
    std::string input_;
    std::string arena_;  // texts of strings that held escapes
    std::vector<jsonproto::Node> nodes_;
    std::vector<uint32_t> kids_;
    std::vector<jsonproto::Member> members_;
    std::vector<uint32_t> order_;
    std::vector<jsonproto::ReadItem> rstack_;
    std::vector<size_t> rpos_;

    friend class JsonParser;
};

// The process-wide factory of the encoding; it holds no state.
class ThriftJSONProtocolFactory : public apache::thrift::protocol::TProtocolFactory {
  public:
    static std::shared_ptr<ThriftJSONProtocolFactory> sharedFactory();
    std::shared_ptr<apache::thrift::protocol::TProtocol> getProtocol(
        std::shared_ptr<apache::thrift::transport::TTransport> trans) override;
};

}  // namespace lumvane
