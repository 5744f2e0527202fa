// Import speed: loading a 10,000-login CSV export (own format) and turning the loaded
// sites into the import payload (compact protocol + bzip2), as an import of that file does.
#include <benchmark/benchmark.h>

#include <string>

#include "core/importexport/ImportPayload.h"
#include "core/importexport/LoginFiles.h"
#include "core/importexport/TBNCSVLoader.h"

using namespace lumvane;

namespace {

std::string makeCsv(size_t logins) {
    TBNSiteDataList sites;
    for (size_t s = 0; s < logins / 4; ++s) {
        auto site = std::make_shared<TBNSiteData>();
        std::string domain = "site" + std::to_string(s) + ".example.com";
        site->setDomain(domain);
        site->setSiteUrl(domain);
        site->setDisplayName("Site " + std::to_string(s));
        site->setFormUrls(std::make_shared<std::set<std::string>>(
            std::set<std::string>{"https://" + domain + "/login"}));
        auto list = std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>();
        for (size_t i = 0; i < 4; ++i) {
            auto l = std::make_shared<TBNLoginData>();
            l->setLogin("user" + std::to_string(i) + "@example.com");
            l->setPassword("Pa55-word, \"" + std::to_string(s * 4 + i) + "\"!x");
            l->setEmail("user" + std::to_string(i) + "@example.com");
            l->setNotes("first line\nsecond line with some words " + std::to_string(s));
            l->setIsFavorited(i == 0);
            list->push_back(l);
        }
        site->setLoginData(list);
        sites.push_back(site);
    }
    return lumvaneCsvText(sites);
}

TBNCSVKeyMap ownKeys() {
    TBNCSVKeyMap keys;
    for (const char* k :
         {"url", "domain", "display_name", "login", "password", "account", "email", "phone_prefix",
          "phone", "user_name", "first_name", "last_name", "full_name", "company", "applicant_id",
          "zipcode", "notes", "is_secured", "is_favorited"})
        keys.columns[k] = k;
    return keys;
}

void BM_LoadCsv10k(benchmark::State& state) {
    const std::string csv = makeCsv(10000);
    const auto keys = ownKeys();
    for (auto _ : state) {
        std::optional<TBNCSVLoaderError> error;
        auto sites = TBNCSVLoader::loadFromText(csv, keys, {}, &error);
        if (error || importRecordCount(sites) != 10000) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(sites);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * csv.size()));
    state.counters["logins/s"] =
        benchmark::Counter(10000.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadCsv10k)->Unit(benchmark::kMillisecond);

void BM_ImportPayload10k(benchmark::State& state) {
    std::optional<TBNCSVLoaderError> error;
    auto sites = TBNCSVLoader::loadFromText(makeCsv(10000), ownKeys(), {}, &error);
    auto collection = importCollection(sites, nullptr);
    size_t plain = compactBytes(*collection).size();
    size_t packed = 0;
    for (auto _ : state) {
        auto payload = importPayload(*collection);
        packed = payload.bytes.size();
        benchmark::DoNotOptimize(payload);
    }
    state.counters["compact_bytes"] = static_cast<double>(plain);
    state.counters["bzip2_bytes"] = static_cast<double>(packed);
}
BENCHMARK(BM_ImportPayload10k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
