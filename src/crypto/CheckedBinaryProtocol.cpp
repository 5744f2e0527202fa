#include "crypto/CheckedBinaryProtocol.h"

#include <thrift/protocol/TProtocolException.h>

namespace lumvane {

using apache::thrift::protocol::TList;
using apache::thrift::protocol::TMap;
using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::protocol::TSet;
using apache::thrift::protocol::TType;

CheckedBinaryProtocol::CheckedBinaryProtocol(
    std::shared_ptr<apache::thrift::transport::TTransport> transport, int32_t stringLimit,
    int32_t containerLimit)
    : TBinaryProtocolT(std::move(transport), stringLimit, containerLimit, false, true),
      containerLimit_(containerLimit) {}

uint32_t CheckedBinaryProtocol::readType(TType& type) {
    int8_t byte = 0;
    const uint32_t n = readByte(byte);
    switch (byte) {
        case apache::thrift::protocol::T_STOP:
        case apache::thrift::protocol::T_VOID:
        case apache::thrift::protocol::T_BOOL:
        case apache::thrift::protocol::T_BYTE:
        case apache::thrift::protocol::T_DOUBLE:
        case apache::thrift::protocol::T_I16:
        case apache::thrift::protocol::T_I32:
        case apache::thrift::protocol::T_U64:
        case apache::thrift::protocol::T_I64:
        case apache::thrift::protocol::T_STRING:
        case apache::thrift::protocol::T_STRUCT:
        case apache::thrift::protocol::T_MAP:
        case apache::thrift::protocol::T_SET:
        case apache::thrift::protocol::T_LIST:
        case apache::thrift::protocol::T_UTF8:
        case apache::thrift::protocol::T_UTF16:
            type = static_cast<TType>(byte);
            return n;
        default:
            throw TProtocolException(TProtocolException::INVALID_DATA, "Unknown wire type");
    }
}

uint32_t CheckedBinaryProtocol::readSize(uint32_t& size) {
    int32_t value = 0;
    const uint32_t n = readI32(value);
    if (value < 0) {
        throw TProtocolException(TProtocolException::NEGATIVE_SIZE);
    }
    if (containerLimit_ > 0 && value > containerLimit_) {
        throw TProtocolException(TProtocolException::SIZE_LIMIT);
    }
    size = static_cast<uint32_t>(value);
    return n;
}

uint32_t CheckedBinaryProtocol::readFieldBegin_virt(std::string& name, TType& fieldType,
                                                    int16_t& fieldId) {
    name.clear();
    uint32_t n = readType(fieldType);
    if (fieldType == apache::thrift::protocol::T_STOP) {
        fieldId = 0;
        return n;
    }
    n += readI16(fieldId);
    return n;
}

uint32_t CheckedBinaryProtocol::readMapBegin_virt(TType& keyType, TType& valType, uint32_t& size) {
    uint32_t n = readType(keyType);
    n += readType(valType);
    n += readSize(size);
    TMap map(keyType, valType, size);
    checkReadBytesAvailable(map);
    return n;
}

uint32_t CheckedBinaryProtocol::readListBegin_virt(TType& elemType, uint32_t& size) {
    uint32_t n = readType(elemType);
    n += readSize(size);
    TList list(elemType, size);
    checkReadBytesAvailable(list);
    return n;
}

uint32_t CheckedBinaryProtocol::readSetBegin_virt(TType& elemType, uint32_t& size) {
    uint32_t n = readType(elemType);
    n += readSize(size);
    TSet set(elemType, size);
    checkReadBytesAvailable(set);
    return n;
}

uint32_t CheckedBinaryProtocol::skip_virt(TType type) {
    return apache::thrift::protocol::skip(static_cast<TProtocol&>(*this), type);
}

}  // namespace lumvane
