#include "protocol/services/ProtocolFactories.h"

namespace lumvane {

std::shared_ptr<apache::thrift::protocol::TProtocol> LimitedCompactProtocolFactory::getProtocol(
    std::shared_ptr<apache::thrift::transport::TTransport> transport) {
    return makeCompactProtocol(std::move(transport), limits_);
}

std::shared_ptr<apache::thrift::protocol::TProtocol> LimitedBinaryProtocolFactory::getProtocol(
    std::shared_ptr<apache::thrift::transport::TTransport> transport) {
    return makeBinaryProtocol(std::move(transport), limits_);
}

}  // namespace lumvane
