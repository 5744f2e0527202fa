// Cost of a log call at a disabled and an enabled level, and lines per second through
// filter + formatter + file logger into a file, beside spdlog's rotating file logger.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "runtime/log/TBNLogHelper.h"
#include "runtime/log/TBNLogger.h"

#ifdef LUMVANE_BENCH_SPDLOG
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace fs = std::filesystem;
using namespace lumvane;

namespace {

fs::path benchFolder(const std::string& name) {
    fs::path path =
        fs::temp_directory_path() / ("lumvane-log-bench-" + std::to_string(::getpid())) / name;
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
}

void removeBenchFolders() {
    std::error_code ec;
    fs::remove_all(fs::temp_directory_path() / ("lumvane-log-bench-" + std::to_string(::getpid())),
                   ec);
}

// The main log files' chain: filter (mask 31, debug-level tags) and formatter.
std::shared_ptr<LogMultiFormatter> mainChain() {
    auto filter = std::make_shared<TBNLogFilter>();
    filter->setMaxLevel(31);
    auto formatter = std::make_shared<TBNLogFormatter>();
    formatter->setDateFormat(1);
    formatter->setThreadFormat(5);
    formatter->setContextFormat(1);
    formatter->setTagsFormat(1);
    TBNLogHelper::applyLoggingLevel(12, *filter, *formatter);
    TBNLogger::setMaxLevel(kTBNLogLevelInfo);
    return std::make_shared<LogMultiFormatter>(
        std::vector<std::shared_ptr<LogFormatter>>{filter, formatter});
}

struct Service {
    void disabled(int i) { TBN_LOG_DEBUG("core|thrift", "request {} answered in {} ms", i, 12); }
    void enabled(int i) { TBN_LOG_INFO("core|thrift", "request {} answered in {} ms", i, 12); }
};

void BM_LogCallDisabledLevel(benchmark::State& state) {
    TBNLogger::setMaxLevel(kTBNLogLevelInfo);
    Service service;
    int i = 0;
    for (auto _ : state) {
        service.disabled(i++);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LogCallDisabledLevel);

// The caller's cost of an enabled call: text, record, hand-over to the dispatcher,
// whose thread writes the lines into a file meanwhile.
void BM_LogCallEnabledLevel(benchmark::State& state) {
    LogDispatcher::sharedInstance().removeAllLoggers();
    auto manager = std::make_shared<TBNLogFileManager>(benchFolder("enabled").string());
    manager->setMaximumNumberOfLogFiles(20);
    manager->setLogFilesDiskQuota(0x2000000);
    auto logger = std::make_shared<LogFileLogger>(manager);
    logger->setLogFormatter(mainChain());
    LogDispatcher::sharedInstance().addLogger(logger);
    Service service;
    int i = 0;
    for (auto _ : state) {
        service.enabled(i++);
        if ((i & 0xFFF) == 0) {
            // Keep the queue from growing without bound; not part of the call's cost.
            state.PauseTiming();
            LogDispatcher::sharedInstance().flush();
            state.ResumeTiming();
        }
    }
    LogDispatcher::sharedInstance().flush();
    LogDispatcher::sharedInstance().removeAllLoggers();
}
BENCHMARK(BM_LogCallEnabledLevel);

// Lines through filter + formatter + file logger (20 files, 32 MiB, 1 MiB per file).
void BM_FileLinesLumvane(benchmark::State& state) {
    auto manager = std::make_shared<TBNLogFileManager>(benchFolder("lumvane").string());
    manager->setMaximumNumberOfLogFiles(20);
    manager->setLogFilesDiskQuota(0x2000000);
    auto logger = std::make_shared<LogFileLogger>(manager);
    logger->setLogFormatter(mainChain());
    LogRecord record = LogRecord::make("request 12345 answered in 12 ms", 31, kTBNLogFlagInfo, 0,
                                       "src/core/Service.cpp", "TBNService::answer", 120,
                                       TBNLogTag::messageTagWithTags("core|thrift"));
    for (auto _ : state) {
        logger->logMessage(record);
    }
    logger->flush();
    state.SetItemsProcessed(state.iterations());
    auto line = logger->logFormatter()->formatLogMessage(record);
    state.counters["line_bytes"] = static_cast<double>(line ? line->size() + 1 : 0);
}
BENCHMARK(BM_FileLinesLumvane);

// The whole road: TBNLogger calls from the caller, written by the dispatcher's thread,
// measured until the last line is in the file.
void BM_FileLinesLumvaneEndToEnd(benchmark::State& state) {
    LogDispatcher::sharedInstance().removeAllLoggers();
    auto manager = std::make_shared<TBNLogFileManager>(benchFolder("endtoend").string());
    manager->setMaximumNumberOfLogFiles(20);
    manager->setLogFilesDiskQuota(0x2000000);
    auto logger = std::make_shared<LogFileLogger>(manager);
    logger->setLogFormatter(mainChain());
    LogDispatcher::sharedInstance().addLogger(logger);
    Service service;
    constexpr int kBatch = 1000;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) service.enabled(i);
        LogDispatcher::sharedInstance().flush();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    LogDispatcher::sharedInstance().removeAllLoggers();
}
BENCHMARK(BM_FileLinesLumvaneEndToEnd)->UseRealTime();

#ifdef LUMVANE_BENCH_SPDLOG
// spdlog's rotating file logger with a line of the same shape and length.
void BM_FileLinesSpdlogRotating(benchmark::State& state) {
    fs::path folder = benchFolder("spdlog");
    auto logger =
        spdlog::rotating_logger_mt("bench", (folder / "spdlog.log").string(), 1 << 20, 20);
    logger->set_pattern("%y%m%d%H%M%S%e | %10t: %-24n | %-10! | %^%L%$ | %v");
    const std::string message =
        fmt::format("{:<144} | {:<32}", ">>  request 12345 answered in 12 ms", "core:thrift");
    for (auto _ : state) {
        logger->info("{}", message);
    }
    logger->flush();
    state.SetItemsProcessed(state.iterations());
    std::ifstream in(folder / "spdlog.log");
    std::string first;
    std::getline(in, first);
    state.counters["line_bytes"] = static_cast<double>(first.size() + 1);
    spdlog::drop("bench");
}
BENCHMARK(BM_FileLinesSpdlogRotating);
#endif

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeBenchFolders();
    return 0;
}
