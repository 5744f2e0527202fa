#pragma once
// Protocol factories that build compact and binary protocols with our read limits, for
// the asynchronous clients (which make their protocol through a factory).
#include <memory>

#include <thrift/protocol/TProtocol.h>

#include "protocol/ProtocolLimits.h"

namespace lumvane {

class LimitedCompactProtocolFactory : public apache::thrift::protocol::TProtocolFactory {
  public:
    explicit LimitedCompactProtocolFactory(const ProtocolLimits& limits = {}) : limits_(limits) {}
    std::shared_ptr<apache::thrift::protocol::TProtocol> getProtocol(
        std::shared_ptr<apache::thrift::transport::TTransport> transport) override;

  private:
    ProtocolLimits limits_;
};

class LimitedBinaryProtocolFactory : public apache::thrift::protocol::TProtocolFactory {
  public:
    explicit LimitedBinaryProtocolFactory(const ProtocolLimits& limits = {}) : limits_(limits) {}
    std::shared_ptr<apache::thrift::protocol::TProtocol> getProtocol(
        std::shared_ptr<apache::thrift::transport::TTransport> transport) override;

  private:
    ProtocolLimits limits_;
};

}  // namespace lumvane
