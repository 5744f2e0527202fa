// The JSON encoding of RPC messages against Apache Thrift's own JSON protocol, on
// the reply to getSiteDataList with 1, 10 and 100 sites (two logins each).
#include <benchmark/benchmark.h>
#include <thrift/protocol/TJSONProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <memory>
#include <set>
#include <string>

#include "extension/ThriftJSONProtocol.h"
#include "idl/protocols.h"

namespace {

using apache::thrift::protocol::TJSONProtocol;
using apache::thrift::protocol::TProtocol;
using apache::thrift::transport::TMemoryBuffer;
using lumvane::ThriftJSONProtocol;

std::shared_ptr<lumvane::TBNGetSiteDataList_result> makeReply(int sites) {
    auto records = std::make_shared<std::vector<std::shared_ptr<lumvane::TBNSiteData>>>();
    for (int i = 0; i < sites; ++i) {
        auto site = std::make_shared<lumvane::TBNSiteData>();
        std::string host = "site" + std::to_string(i) + ".example.com";
        site->setSiteUrl("https://" + host + "/login");
        site->setDomain(host);
        site->setDisplayName("Site \"" + std::to_string(i) + "\"");
        site->setUpdateTimeStamp(1733874000123 + i);
        site->setIsFavorited(i % 3 == 0);
        site->setFormUrls(std::make_shared<std::set<std::string>>(
            std::set<std::string>{"https://" + host + "/login", "https://" + host + "/signin"}));
        auto logins = std::make_shared<std::vector<std::shared_ptr<lumvane::TBNLoginData>>>();
        for (int k = 0; k < 2; ++k) {
            auto login = std::make_shared<lumvane::TBNLoginData>();
            login->setLogin("user" + std::to_string(k) + "@mail.example");
            login->setPassword("cGFzc3dvcmQtMTIzNDU2Nzg5MA==");
            login->setNotes("line one\nline two");
            login->setPasswordStrength(3);
            login->setIsSecured(k == 1);
            login->setAccessCreateTimeStamp(1733874000123);
            login->setAccessUpdateTimeStamp(1733874000456);
            logins->push_back(login);
        }
        site->setLoginData(logins);
        records->push_back(site);
    }
    auto info = std::make_shared<lumvane::TBNResponseInfo>("12", 1733874000, "7", nullptr, "x7");
    return std::make_shared<lumvane::TBNGetSiteDataList_result>(
        std::make_shared<lumvane::TBNGetSiteDataListResponse>(info, records));
}

template <typename Protocol>
void encode(benchmark::State& state) {
    auto reply = makeReply(static_cast<int>(state.range(0)));
    auto buffer = std::make_shared<TMemoryBuffer>(64 * 1024);
    Protocol protocol(buffer);
    size_t bytes = 0;
    for (auto _ : state) {
        buffer->resetBuffer();
        protocol.writeMessageBegin("getSiteDataList", apache::thrift::protocol::T_REPLY, 0);
        reply->write(&protocol);
        protocol.writeMessageEnd();
        bytes = buffer->available_read();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

template <typename Protocol>
void decode(benchmark::State& state) {
    auto reply = makeReply(static_cast<int>(state.range(0)));
    auto written = std::make_shared<TMemoryBuffer>();
    {
        Protocol protocol(written);
        protocol.writeMessageBegin("getSiteDataList", apache::thrift::protocol::T_REPLY, 0);
        reply->write(&protocol);
        protocol.writeMessageEnd();
    }
    std::string text = written->getBufferAsString();
    auto buffer = std::make_shared<TMemoryBuffer>();
    Protocol protocol(buffer);
    for (auto _ : state) {
        buffer->resetBuffer(reinterpret_cast<uint8_t*>(text.data()),
                            static_cast<uint32_t>(text.size()));
        std::string name;
        apache::thrift::protocol::TMessageType type;
        int32_t seqid;
        protocol.readMessageBegin(name, type, seqid);
        lumvane::TBNGetSiteDataList_result result;
        result.read(&protocol);
        protocol.readMessageEnd();
        buffer->readEnd();
        benchmark::DoNotOptimize(result);
        if (!result.success() ||
            result.success()->records()->size() != static_cast<size_t>(state.range(0)))
            state.SkipWithError("decoded reply differs");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Encode_ThriftJSONProtocol(benchmark::State& s) {
    encode<ThriftJSONProtocol>(s);
}
void BM_Encode_TJSONProtocol(benchmark::State& s) {
    encode<TJSONProtocol>(s);
}
void BM_Decode_ThriftJSONProtocol(benchmark::State& s) {
    decode<ThriftJSONProtocol>(s);
}
void BM_Decode_TJSONProtocol(benchmark::State& s) {
    decode<TJSONProtocol>(s);
}

BENCHMARK(BM_Encode_ThriftJSONProtocol)->Arg(1)->Arg(10)->Arg(100);
BENCHMARK(BM_Encode_TJSONProtocol)->Arg(1)->Arg(10)->Arg(100);
BENCHMARK(BM_Decode_ThriftJSONProtocol)->Arg(1)->Arg(10)->Arg(100);
BENCHMARK(BM_Decode_TJSONProtocol)->Arg(1)->Arg(10)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
