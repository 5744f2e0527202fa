// Encode and decode of a getSiteDataList reply (1, 100, 1000 sites with three logins
// each), compact and binary, our generated records beside the stock generator's code for
// the same interface files. Goal: ours within 1.25x of the stock code.
#include <benchmark/benchmark.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TCompactProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "idl/protocols.h"
#include "protocols_types.h"

namespace {

using namespace lumvane;
namespace stock = lumvane_stock;
using apache::thrift::protocol::TProtocol;
using apache::thrift::transport::TMemoryBuffer;

constexpr int kLoginsPerSite = 3;

std::shared_ptr<TBNGetSiteDataListResponse> ourReply(int sites) {
    auto records = std::make_shared<std::vector<std::shared_ptr<TBNSiteData>>>();
    for (int s = 0; s < sites; ++s) {
        auto site = std::make_shared<TBNSiteData>();
        site->setSiteUrl("https://www.site" + std::to_string(s) + ".example.com/login");
        site->setDomain("site" + std::to_string(s) + ".example.com");
        site->setDisplayName("Site number " + std::to_string(s));
        site->setIsFavorited(s % 3 == 0);
        site->setIsSecured(false);
        site->setUpdateTimeStamp(1700000000000LL + s);
        site->setFormUrls(std::make_shared<std::set<std::string>>(
            std::set<std::string>{"https://www.site" + std::to_string(s) + ".example.com/login"}));
        site->setLoginData(std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>());
        for (int i = 0; i < kLoginsPerSite; ++i) {
            auto login = std::make_shared<TBNLoginData>();
            login->setLogin("user" + std::to_string(i) + "@mail.example.com");
            login->setPassword("cGFzc3dvcmQtMTIzNDU2Nzg5MA==");
            login->setEmail("user" + std::to_string(i) + "@mail.example.com");
            login->setTitle("Personal account");
            login->setNotes("Recovery codes are in the drawer");
            login->setPasswordStrength(3);
            login->setIsSecured(false);
            login->setIsFavorited(true);
            login->setAccessCreateTimeStamp(1600000000000LL);
            login->setAccessUpdateTimeStamp(1650000000000LL);
            site->loginData()->push_back(login);
        }
        records->push_back(site);
    }
    auto info = std::make_shared<TBNResponseInfo>("resp-1", 1700000000, "req-1", nullptr, "ctx");
    return std::make_shared<TBNGetSiteDataListResponse>(info, records);
}

stock::GetSiteDataListResponse stockReply(int sites) {
    stock::GetSiteDataListResponse reply;
    stock::ResponseInfo info;
    info.__set_id("resp-1");
    info.__set_timeStampUtc(1700000000);
    info.__set_requestId("req-1");
    info.__set_contextName("ctx");
    reply.__set_info(info);
    std::vector<stock::SiteData> records;
    for (int s = 0; s < sites; ++s) {
        stock::SiteData site;
        site.__set_siteUrl("https://www.site" + std::to_string(s) + ".example.com/login");
        site.__set_domain("site" + std::to_string(s) + ".example.com");
        site.__set_displayName("Site number " + std::to_string(s));
        site.__set_isFavorited(s % 3 == 0);
        site.__set_isSecured(false);
        site.__set_updateTimeStamp(1700000000000LL + s);
        site.__set_formUrls({"https://www.site" + std::to_string(s) + ".example.com/login"});
        std::vector<stock::LoginData> logins;
        for (int i = 0; i < kLoginsPerSite; ++i) {
            stock::LoginData login;
            login.__set_login("user" + std::to_string(i) + "@mail.example.com");
            login.__set_password("cGFzc3dvcmQtMTIzNDU2Nzg5MA==");
            login.__set_email("user" + std::to_string(i) + "@mail.example.com");
            login.__set_title("Personal account");
            login.__set_notes("Recovery codes are in the drawer");
            login.__set_passwordStrength(3);
            login.__set_isSecured(false);
            login.__set_isFavorited(true);
            login.__set_accessCreateTimeStamp(1600000000000LL);
            login.__set_accessUpdateTimeStamp(1650000000000LL);
            logins.push_back(login);
        }
        site.__set_loginData(logins);
        records.push_back(site);
    }
    reply.__set_records(records);
    return reply;
}

// Plain stock protocols on a memory buffer for both sides, so only the records differ.
template <bool Compact>
std::shared_ptr<TProtocol> protocolOn(std::shared_ptr<TMemoryBuffer> buffer) {
    if constexpr (Compact) {
        return std::make_shared<apache::thrift::protocol::TCompactProtocol>(buffer);
    } else {
        return std::make_shared<apache::thrift::protocol::TBinaryProtocol>(buffer);
    }
}

template <class R, bool Compact>
void encodeBench(benchmark::State& state, const R& record) {
    auto buffer = std::make_shared<TMemoryBuffer>(1 << 20);
    auto protocol = protocolOn<Compact>(buffer);
    for (auto _ : state) {
        buffer->resetBuffer();
        record.write(protocol.get());
        benchmark::DoNotOptimize(buffer->available_read());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * buffer->available_read());
}

template <class R, bool Compact>
void decodeBench(benchmark::State& state, const R& record) {
    auto out = std::make_shared<TMemoryBuffer>(1 << 20);
    record.write(protocolOn<Compact>(out).get());
    std::string bytes = out->getBufferAsString();
    bool checked = false;
    for (auto _ : state) {
        // A fresh buffer per message: a transport counts consumed bytes against its
        // message size limit until it is made anew.
        auto buffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<uint8_t*>(bytes.data()),
                                                      static_cast<uint32_t>(bytes.size()));
        auto protocol = protocolOn<Compact>(buffer);
        R decoded;
        decoded.read(protocol.get());
        benchmark::DoNotOptimize(decoded);
        if (!checked) {
            // What was decoded is what was encoded, and nothing was left over.
            checked = true;
            // Written again, the decoded record gives the bytes it came from.
            auto again = std::make_shared<TMemoryBuffer>(1 << 20);
            decoded.write(protocolOn<Compact>(again).get());
            if (again->getBufferAsString() != bytes) {
                state.SkipWithError("the decoded record differs from the encoded one");
                break;
            }
            if (buffer->available_read() != 0) {
                state.SkipWithError("the decoder left bytes of the message unread");
                break;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
}

template <bool Compact>
void BM_OursEncode(benchmark::State& state) {
    encodeBench<TBNGetSiteDataListResponse, Compact>(state, *ourReply(state.range(0)));
}
template <bool Compact>
void BM_StockEncode(benchmark::State& state) {
    encodeBench<stock::GetSiteDataListResponse, Compact>(state, stockReply(state.range(0)));
}
template <bool Compact>
void BM_OursDecode(benchmark::State& state) {
    decodeBench<TBNGetSiteDataListResponse, Compact>(state, *ourReply(state.range(0)));
}
template <bool Compact>
void BM_StockDecode(benchmark::State& state) {
    decodeBench<stock::GetSiteDataListResponse, Compact>(state, stockReply(state.range(0)));
}

#define SITES ->Arg(1)->Arg(100)->Arg(1000)
BENCHMARK(BM_OursEncode<true>) SITES;
BENCHMARK(BM_StockEncode<true>) SITES;
BENCHMARK(BM_OursDecode<true>) SITES;
BENCHMARK(BM_StockDecode<true>) SITES;
BENCHMARK(BM_OursEncode<false>) SITES;
BENCHMARK(BM_StockEncode<false>) SITES;
BENCHMARK(BM_OursDecode<false>) SITES;
BENCHMARK(BM_StockDecode<false>) SITES;

}  // namespace

BENCHMARK_MAIN();
