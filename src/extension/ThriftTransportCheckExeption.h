#pragma once
// Wraps the output protocol of one processor call and remembers whether the reply
// begun through it is an exception (a processor answers a method name it does not
// know with one), so that the server can offer the message to its next processor.
#include <thrift/protocol/TProtocolDecorator.h>

#include <memory>

namespace lumvane {

class ThriftTransportCheckExeption : public apache::thrift::protocol::TProtocolDecorator {
  public:
    explicit ThriftTransportCheckExeption(
        std::shared_ptr<apache::thrift::protocol::TProtocol> protocol)
        : TProtocolDecorator(std::move(protocol)) {}

    // Set when made; cleared for good once a message of type exception is begun.
    bool isSeccuss() const { return isSeccuss_; }

    uint32_t writeMessageBegin_virt(const std::string& name,
                                    const apache::thrift::protocol::TMessageType messageType,
                                    const int32_t seqid) override {
        if (messageType == apache::thrift::protocol::T_EXCEPTION) isSeccuss_ = false;
        return TProtocolDecorator::writeMessageBegin_virt(name, messageType, seqid);
    }

  private:
    bool isSeccuss_ = true;
};

}  // namespace lumvane
