#include "LogTestSupport.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace fs = std::filesystem;

namespace lumvane::testing {

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("lumvane-log-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void useUtc() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

LogTimePoint fixedTime(int64_t plusMilliseconds) {
    // 2026-03-04 05:06:07.089 UTC
    return LogTimePoint(std::chrono::milliseconds(1772600767089LL + plusMilliseconds));
}

std::vector<std::string> readLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> listFolder(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace lumvane::testing
