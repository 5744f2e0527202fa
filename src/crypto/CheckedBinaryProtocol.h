#pragma once

#include <memory>

#include <thrift/protocol/TBinaryProtocol.h>

namespace lumvane {

// The binary protocol for reading outside bytes. The stock reader stores any
// byte it finds as a wire type (an enum) before checking it, which is undefined
// behaviour for bytes that name no type; this one refuses such bytes with
// TProtocolException(INVALID_DATA) first, and applies its string and container
// limits (negative or larger sizes are refused before anything is allocated).
class CheckedBinaryProtocol final : public apache::thrift::protocol::TBinaryProtocol {
  public:
    CheckedBinaryProtocol(std::shared_ptr<apache::thrift::transport::TTransport> transport,
                          int32_t stringLimit, int32_t containerLimit);

    uint32_t readFieldBegin_virt(std::string& name, apache::thrift::protocol::TType& fieldType,
                                 int16_t& fieldId) override;
    uint32_t readMapBegin_virt(apache::thrift::protocol::TType& keyType,
                               apache::thrift::protocol::TType& valType, uint32_t& size) override;
    uint32_t readListBegin_virt(apache::thrift::protocol::TType& elemType, uint32_t& size) override;
    uint32_t readSetBegin_virt(apache::thrift::protocol::TType& elemType, uint32_t& size) override;
    // Skips through this object's checked readers (the stock skip would call the
    // unchecked ones directly).
    uint32_t skip_virt(apache::thrift::protocol::TType type) override;

  private:
    uint32_t readType(apache::thrift::protocol::TType& type);
    uint32_t readSize(uint32_t& size);

    int32_t containerLimit_;
};

}  // namespace lumvane
