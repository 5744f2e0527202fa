#include "protocol/ProtocolLimits.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TCompactProtocol.h>
#include <thrift/transport/TTransportException.h>

#include <algorithm>
#include <string>

namespace lumvane {

using apache::thrift::TConfiguration;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TCompactProtocol;
using apache::thrift::transport::TMemoryBuffer;
using apache::thrift::transport::TTransport;
using apache::thrift::transport::TTransportException;

namespace {

using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::protocol::TType;

// The stock readers allocate a string's announced size before reading it, up to the
// string limit, however few bytes follow. Here a memory buffer must hold the whole string
// first, and from any other transport the string is read piece by piece, so memory
// follows the bytes that arrive.
class StringBodyReader {
public:
    uint32_t read(TTransport& transport, std::string& str, int32_t size, int32_t limit) {
        if (size < 0) throw TProtocolException(TProtocolException::NEGATIVE_SIZE);
        if (limit > 0 && size > limit) throw TProtocolException(TProtocolException::SIZE_LIMIT);
        const auto length = static_cast<uint32_t>(size);
        if (!checked_) {
            memory_ = dynamic_cast<TMemoryBuffer*>(&transport);
            checked_ = true;
        }
        if (memory_ && memory_->available_read() < length) {
            throw TTransportException(
                TTransportException::END_OF_FILE, "String longer than the bytes left");
        }
        str.clear();
        constexpr uint32_t kPiece = 64 * 1024;
        for (uint32_t done = 0; done < length;) {
            const uint32_t piece = memory_ ? length : std::min(kPiece, length - done);
            str.resize(done + piece);
            transport.readAll(reinterpret_cast<uint8_t*>(&str[done]), piece);
            done += piece;
        }
        return length;
    }

private:
    bool checked_ = false;
    TMemoryBuffer* memory_ = nullptr;
};

// The stock binary reader stores any type byte straight into the TType and TMessageType
// enumerations, which is undefined for bytes outside their range. Peer input is checked
// here before it becomes an enumeration value.
class CheckedBinaryProtocol : public TBinaryProtocol {
public:
    using TBinaryProtocol::TBinaryProtocol;

    uint32_t readString_virt(std::string& str) override { return readSizedString(str); }
    uint32_t readBinary_virt(std::string& str) override { return readSizedString(str); }

    uint32_t readMessageBegin_virt(
        std::string& name, TMessageType& messageType, int32_t& seqid) override {
        int32_t sz = 0;
        uint32_t result = readI32(sz);
        int32_t type = 0;
        if (sz < 0) {
            if ((sz & VERSION_MASK) != VERSION_1) {
                throw TProtocolException(
                    TProtocolException::BAD_VERSION, "Bad version identifier");
            }
            type = sz & 0xff;
            result += readSizedString(name);
        } else {
            if (strict_read_) {
                throw TProtocolException(TProtocolException::BAD_VERSION,
                    "No version identifier... old protocol client in strict mode?");
            }
            int8_t byte = 0;
            result += strings_.read(*trans_, name, sz, string_limit_);
            result += readByte(byte);
            type = byte;
        }
        if (type < apache::thrift::protocol::T_CALL || type > apache::thrift::protocol::T_ONEWAY) {
            throw TProtocolException(TProtocolException::INVALID_DATA, "Bad message type");
        }
        messageType = static_cast<TMessageType>(type);
        result += readI32(seqid);
        return result;
    }

    uint32_t readFieldBegin_virt(std::string& name, TType& fieldType, int16_t& fieldId) override {
        name.clear();
        int8_t type = 0;
        uint32_t result = readByte(type);
        fieldType = toType(type);
        fieldId = 0;
        if (fieldType != apache::thrift::protocol::T_STOP) result += readI16(fieldId);
        return result;
    }

    uint32_t readMapBegin_virt(TType& keyType, TType& valType, uint32_t& size) override {
        int8_t k = 0;
        int8_t v = 0;
        uint32_t result = readByte(k);
        result += readByte(v);
        keyType = toType(k);
        valType = toType(v);
        return result + readSize(size, [&](uint32_t n) {
            apache::thrift::protocol::TMap map(keyType, valType, n);
            checkReadBytesAvailable(map);
        });
    }

    uint32_t readListBegin_virt(TType& elemType, uint32_t& size) override {
        int8_t e = 0;
        uint32_t result = readByte(e);
        elemType = toType(e);
        return result + readSize(size, [&](uint32_t n) {
            apache::thrift::protocol::TList list(elemType, n);
            checkReadBytesAvailable(list);
        });
    }

    uint32_t readSetBegin_virt(TType& elemType, uint32_t& size) override {
        int8_t e = 0;
        uint32_t result = readByte(e);
        elemType = toType(e);
        return result + readSize(size, [&](uint32_t n) {
            apache::thrift::protocol::TSet set(elemType, n);
            checkReadBytesAvailable(set);
        });
    }

    // The stock skip reads through the non-virtual readers; go through the checked ones.
    uint32_t skip_virt(TType type) override {
        return apache::thrift::protocol::skip(static_cast<apache::thrift::protocol::TProtocol&>(*this), type);
    }

private:
    uint32_t readSizedString(std::string& str) {
        int32_t size = 0;
        const uint32_t result = readI32(size);
        return result + strings_.read(*trans_, str, size, string_limit_);
    }

    static TType toType(int8_t byte) {
        // 0 (stop) to 16; gaps in between are left to skip(), which rejects them.
        if (byte < 0 || byte > 16) {
            throw TProtocolException(TProtocolException::INVALID_DATA, "Bad type code");
        }
        return static_cast<TType>(byte);
    }

    template <class Check>
    uint32_t readSize(uint32_t& size, Check check) {
        int32_t sizei = 0;
        uint32_t result = readI32(sizei);
        if (sizei < 0) {
            throw TProtocolException(TProtocolException::NEGATIVE_SIZE);
        }
        if (container_limit_ && sizei > container_limit_) {
            throw TProtocolException(TProtocolException::SIZE_LIMIT);
        }
        size = static_cast<uint32_t>(sizei);
        check(size);
        return result;
    }

    StringBodyReader strings_;
};

// The compact reader with the string bodies read as above.
class CheckedCompactProtocol : public TCompactProtocol {
public:
    using TCompactProtocol::TCompactProtocol;

    uint32_t readString_virt(std::string& str) override { return readSizedString(str); }
    uint32_t readBinary_virt(std::string& str) override { return readSizedString(str); }

    uint32_t readMessageBegin_virt(
        std::string& name, TMessageType& messageType, int32_t& seqid) override {
        int8_t protocolId = 0;
        int8_t versionAndType = 0;
        uint32_t result = readByte(protocolId);
        if (protocolId != PROTOCOL_ID) {
            throw TProtocolException(TProtocolException::BAD_VERSION, "Bad protocol identifier");
        }
        result += readByte(versionAndType);
        if ((versionAndType & VERSION_MASK) != VERSION_N) {
            throw TProtocolException(TProtocolException::BAD_VERSION, "Bad protocol version");
        }
        messageType = static_cast<TMessageType>((versionAndType >> TYPE_SHIFT_AMOUNT) & TYPE_BITS);
        result += readVarint32(seqid);
        return result + readSizedString(name);
    }

    // The stock skip reads through the non-virtual readers; go through the checked ones.
    uint32_t skip_virt(TType type) override {
        return apache::thrift::protocol::skip(static_cast<apache::thrift::protocol::TProtocol&>(*this), type);
    }

private:
    uint32_t readSizedString(std::string& str) {
        int32_t size = 0;
        const uint32_t result = readVarint32(size);
        return result + strings_.read(*trans_, str, size, string_limit_);
    }

    StringBodyReader strings_;
};

}  // namespace

std::shared_ptr<TConfiguration> limitedConfiguration(const ProtocolLimits& limits) {
    const int maxFrameSize = TConfiguration::DEFAULT_MAX_FRAME_SIZE;
    return std::make_shared<TConfiguration>(
        limits.maxMessageSize, maxFrameSize, limits.recursionLimit);
}

std::shared_ptr<apache::thrift::protocol::TProtocol> makeCompactProtocol(
    std::shared_ptr<TTransport> transport, const ProtocolLimits& limits) {
    return std::make_shared<CheckedCompactProtocol>(
        std::move(transport), limits.maxStringSize, limits.maxContainerSize);
}

std::shared_ptr<apache::thrift::protocol::TProtocol> makeBinaryProtocol(
    std::shared_ptr<TTransport> transport, const ProtocolLimits& limits) {
    // strict read off: peers may send the old header form; strict write on.
    return std::make_shared<CheckedBinaryProtocol>(
        std::move(transport), limits.maxStringSize, limits.maxContainerSize, false, true);
}

std::shared_ptr<TMemoryBuffer> makeReadBuffer(
    const uint8_t* data, size_t size, const ProtocolLimits& limits) {
    if (size > static_cast<size_t>(limits.maxMessageSize)) {
        throw TTransportException(TTransportException::END_OF_FILE, "MaxMessageSize reached");
    }
    auto buffer = std::make_shared<TMemoryBuffer>(static_cast<uint32_t>(size > 0 ? size : 1),
        limitedConfiguration(limits));
    if (size > 0) {
        buffer->write(data, static_cast<uint32_t>(size));
    }
    return buffer;
}

std::shared_ptr<TMemoryBuffer> makeWriteBuffer(const ProtocolLimits& limits) {
    return std::make_shared<TMemoryBuffer>(limitedConfiguration(limits));
}

}  // namespace lumvane
