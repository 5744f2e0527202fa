// Reads arbitrary bytes as each storage-service request, as an argument record and as a
// whole call through the processor, with the compact and the binary protocol. A request
// that reads must write and read back to the same bytes.
#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransportException.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "idl/protocols.h"
#include "protocol/ProtocolLimits.h"

namespace {

using namespace lumvane;
using apache::thrift::TException;
using apache::thrift::protocol::TProtocol;

// The limits the program reads with, so that announced sizes between the small limits of
// other targets and these are read too (the test command caps single allocations: none
// may follow an announced size past the bytes present).
ProtocolLimits fuzzLimits() {
    return ProtocolLimits{};
}

std::shared_ptr<TProtocol> protocolFor(
    std::shared_ptr<apache::thrift::transport::TMemoryBuffer> buffer, bool compact) {
    return compact ? makeCompactProtocol(buffer, fuzzLimits())
                   : makeBinaryProtocol(buffer, fuzzLimits());
}

template <class R>
std::string encode(const R& record, bool compact) {
    auto buffer = makeWriteBuffer(fuzzLimits());
    record.write(protocolFor(buffer, compact).get());
    return buffer->getBufferAsString();
}

template <class R>
void readAndCheck(const uint8_t* data, size_t size, bool compact) {
    R record;
    try {
        auto buffer = makeReadBuffer(data, size, fuzzLimits());
        record.read(protocolFor(buffer, compact).get());
    } catch (const TException&) {
        return;  // malformed input is reported, never crashes
    }
    const std::string once = encode(record, compact);
    R again;
    auto buffer = makeReadBuffer(reinterpret_cast<const uint8_t*>(once.data()), once.size(),
        fuzzLimits());
    again.read(protocolFor(buffer, compact).get());
    if (encode(again, compact) != once) std::abort();
    (void)record.description();
    (void)record.summary();
    (void)record.hash();
}

class NullStorage : public TBNStorageService {
public:
    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest>) override {
        return std::make_shared<TBNGetLoginDataResponse>();
    }
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> request) override {
        auto response = std::make_shared<TBNGetSiteDataResponse>();
        if (request) response->setInfo(std::make_shared<TBNResponseInfo>());
        return response;
    }
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest>) override {
        return nullptr;
    }
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest>) override {
        return nullptr;
    }
};

void serve(const uint8_t* data, size_t size, bool compact) {
    static auto processor = std::make_shared<TBNStorageServiceProcessor>(
        std::make_shared<NullStorage>());
    try {
        auto in = makeReadBuffer(data, size, fuzzLimits());
        auto out = makeWriteBuffer(fuzzLimits());
        processor->process(protocolFor(in, compact), protocolFor(out, compact), nullptr);
    } catch (const TException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (bool compact : {true, false}) {
        readAndCheck<TBNGetLoginDataRequest>(data, size, compact);
        readAndCheck<TBNAddLoginDataRequest>(data, size, compact);
        readAndCheck<TBNDeleteLoginDataRequest>(data, size, compact);
        readAndCheck<TBNUpdateLoginDataRequest>(data, size, compact);
        readAndCheck<TBNGetSiteDataRequest>(data, size, compact);
        readAndCheck<TBNGetSiteDataListRequest>(data, size, compact);
        readAndCheck<TBNDeleteSiteDataRequest>(data, size, compact);
        readAndCheck<TBNGet2FACodeRequest>(data, size, compact);
        readAndCheck<TBNgetSiteData_args>(data, size, compact);
        serve(data, size, compact);
    }
    return 0;
}
