// Arbitrary bytes read as RPC requests in the JSON encoding: through the generated
// processors (the servers' road) and through a record of every wire type.
#include <thrift/TApplicationException.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "TBNHostStorageService.h"
#include "TBNStorageService.h"
#include "extension/ThriftJSONProtocol.h"
#include "jsonwire_test_types.h"

namespace {

namespace wt = lumvane::wiretest;
using apache::thrift::transport::TMemoryBuffer;

class Storage : public wt::TBNStorageServiceIf {
  public:
    void deleteLoginData(wt::TBNDeleteLoginDataResponse& out,
                         const wt::TBNDeleteLoginDataRequest& request) override {
        wt::TBNResponseInfo info;
        info.__set_requestId(request.info.id);
        out.__set_info(info);
    }
    void getSiteDataList(wt::TBNGetSiteDataListResponse& out,
                         const wt::TBNGetSiteDataListRequest& request) override {
        wt::TBNResponseInfo info;
        info.__set_contextName(request.info.contextName);
        out.__set_info(info);
    }
};

class Host : public wt::TBNHostStorageServiceIf {
  public:
    void sendPing(wt::TBNPongTestResponse& out, const wt::TBNPingTestRequest& request) override {
        out.__set_clientSecret(request.auth.clientSecret);
    }
};

std::shared_ptr<TMemoryBuffer> input(const uint8_t* data, size_t size) {
    if (size == 0) return std::make_shared<TMemoryBuffer>();
    return std::make_shared<TMemoryBuffer>(const_cast<uint8_t*>(data), static_cast<uint32_t>(size),
                                           TMemoryBuffer::COPY);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto storage =
        std::make_shared<wt::TBNStorageServiceProcessor>(std::make_shared<Storage>());
    static auto host =
        std::make_shared<wt::TBNHostStorageServiceProcessor>(std::make_shared<Host>());
    for (auto* processor : {static_cast<apache::thrift::TProcessor*>(storage.get()),
                            static_cast<apache::thrift::TProcessor*>(host.get())}) {
        auto out = std::make_shared<TMemoryBuffer>();
        try {
            processor->process(std::make_shared<lumvane::ThriftJSONProtocol>(input(data, size)),
                               std::make_shared<lumvane::ThriftJSONProtocol>(out), nullptr);
        } catch (const apache::thrift::TException&) {
        }
    }
    try {
        lumvane::ThriftJSONProtocol in(input(data, size));
        std::string name;
        apache::thrift::protocol::TMessageType type;
        int32_t seqid;
        in.readMessageBegin(name, type, seqid);
        wt::AllTypes all;
        all.read(&in);
        in.readMessageEnd();
        // What was read writes back out.
        auto out = std::make_shared<TMemoryBuffer>();
        lumvane::ThriftJSONProtocol writer(out);
        writer.writeMessageBegin(name, type, seqid);
        all.write(&writer);
        writer.writeMessageEnd();
    } catch (const apache::thrift::TException&) {
    }
    return 0;
}
