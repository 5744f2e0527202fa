// Import speed: loading a 10,000-login CSV export (own format) and turning the loaded
// sites into the import payload (compact protocol + bzip2), as an import of that file does.
// And the memory of a whole 200,000-row import: the process's resident size before, at
// the end of the import and after it (reported as counters, in MB).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "core/importexport/ImportExportService.h"
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

// Resident set size of this process in MB.
double residentMB() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

// The phone's side of an import as the remote phone service does it: the collection and
// its payload are built, sent, and dropped.
class PayloadPhone : public ImportExportPhone {
  public:
    double residentAtEnd = 0;
    void importRecords(TBNSiteDataList sites, std::shared_ptr<TBNU2FDataList> u2f, std::string,
                       std::string, Answer approved, Answer completion) override {
        approved(nullptr);
        {
            auto collection = importCollection(sites, u2f);
            auto payload = importPayload(*collection);
            benchmark::DoNotOptimize(payload);
            residentAtEnd = residentMB();
        }
        sites.clear();
        completion(nullptr);
    }
    void cancelImport() override {}
    void exportRecordsTo(std::string, std::string, Answer, ExportDone) override {}
    void cancelExport() override {}
};

// A LastPass export of 200,000 logins over 50,000 sites.
std::string lastPassCsv(size_t rows) {
    std::string csv = "url,username,password,extra,name,grouping,fav\n";
    for (size_t i = 0; i < rows; ++i) {
        const std::string site = "site" + std::to_string(i / 4) + ".example.com";
        csv += "https://" + site + "/login,user" + std::to_string(i % 4) + "@example.com,Pa55-" +
               std::to_string(i) + "-word,\"a note, with a comma " + std::to_string(i) + "\"," +
               site + ",Group," + (i % 7 == 0 ? "1" : "0") + "\n";
    }
    return csv;
}

void BM_Import200kRowsMemory(benchmark::State& state) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("lumvane-200k-" + std::to_string(::getpid()) + ".csv");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << lastPassCsv(200000);
    }
    double before = 0, atEnd = 0, after = 0;
    for (auto _ : state) {
        auto phone = std::make_shared<PayloadPhone>();
        ImportExportService::Options options;
        options.phone = phone;
        options.hasPairedDevice = [] { return true; };
        options.queue = DispatchQueue::create("import-bench", DispatchQueue::Kind::Serial,
                                              DispatchQueue::Priority::Default);
        auto service = ImportExportService::create(options);
        before = residentMB();
        std::promise<std::optional<std::string>> done;
        service->importWithSourceType(
            static_cast<int32_t>(TBNImportSource::LASTPASS_CSV), file,
            [](std::optional<std::string>) {}, [] {},
            [&done](std::optional<std::string> error) { done.set_value(error); });
        if (auto error = done.get_future().get()) state.SkipWithError(error->c_str());
        options.queue->sync([] {});  // the import's own frame is gone too
        atEnd = phone->residentAtEnd;
        after = residentMB();
    }
    std::filesystem::remove(file);
    state.counters["rss_before_MB"] = before;
    state.counters["rss_during_MB"] = atEnd;
    state.counters["rss_after_MB"] = after;
}
BENCHMARK(BM_Import200kRowsMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
