#include "extension/browser/NSSTrust.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "runtime/AtomicFile.h"
#include "extension/browser/ChildProcess.h"
#include "extension/browser/TLSIdentity.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {
namespace {

constexpr const char* kLogTag = "core|browser";

// certutil prints the trust as "<SSL>,<S/MIME>,<code signing>".
constexpr const char* kServerTrust = "CP,,";
// Bounded so that a certutil that keeps answering success cannot loop us forever.
constexpr int kMaxRemovals = 32;

std::string databaseArgument(const std::string& folder) {
    return "sql:" + folder;
}

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// Splits PEM output that may hold several certificates.
std::vector<std::string> pemBlocks(const std::string& text) {
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    std::vector<std::string> blocks;
    size_t at = 0;
    while ((at = text.find(kBegin, at)) != std::string::npos) {
        size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        end += kEnd.size();
        blocks.push_back(text.substr(at, end - at) + "\n");
        at = end;
    }
    return blocks;
}

}  // namespace

NSSTrust::NSSTrust(std::string certutil) : certutil_(std::move(certutil)) {}

bool NSSTrust::hasDatabase(const std::string& folder) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(folder) / "cert9.db", error) ||
           std::filesystem::exists(std::filesystem::path(folder) / "cert8.db", error);
}

bool NSSTrust::createDatabase(const std::string& folder) const {
    if (!std::filesystem::exists(folder) && !ensurePrivateFolder(folder)) {
        TBN_LOG_ERROR(kLogTag, "cannot create the certificate database folder {}", folder);
        return false;
    }
    ChildResult result =
        runChildProcess({certutil_, "-N", "-d", databaseArgument(folder), "--empty-password"});
    if (!result.started || result.exitStatus != 0) {
        TBN_LOG_ERROR(kLogTag, "certutil could not create a database in {} (status {}): {}", folder,
                      result.exitStatus, trimmed(result.errors));
        return false;
    }
    return true;
}

void NSSTrust::removeNickname(const std::string& folder, const std::string& nickname) const {
    for (int i = 0; i < kMaxRemovals; ++i) {
        ChildResult result =
            runChildProcess({certutil_, "-D", "-d", databaseArgument(folder), "-n", nickname});
        if (!result.started || result.exitStatus != 0) break;
    }
}

bool NSSTrust::importTrusted(const std::string& folder, const std::string& nickname,
                             const std::string& certificateFile) const {
    removeNickname(folder, nickname);
    ChildResult result = runChildProcess({certutil_, "-A", "-d", databaseArgument(folder), "-n",
                                          nickname, "-t", kServerTrust, "-i", certificateFile});
    if (!result.started || result.exitStatus != 0) {
        TBN_LOG_ERROR(kLogTag, "certutil could not add the certificate to {} (status {}): {}",
                      folder, result.exitStatus, trimmed(result.errors));
        return false;
    }
    return true;
}

std::string NSSTrust::sslTrustFlags(const std::string& folder, const std::string& nickname) const {
    ChildResult result = runChildProcess({certutil_, "-L", "-d", databaseArgument(folder)});
    if (!result.started || result.exitStatus != 0) return {};
    // Lines are "<nickname, may hold spaces>   <ssl>,<smime>,<jar>".
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        size_t split = line.find_last_of(" \t");
        if (split == std::string::npos) continue;
        std::string flags = line.substr(split + 1);
        if (std::count(flags.begin(), flags.end(), ',') != 2) continue;
        if (trimmed(line.substr(0, split)) != nickname) continue;
        std::string ssl = flags.substr(0, flags.find(','));
        return ssl.empty() ? std::string("-") : ssl;  // present, but with no SSL trust
    }
    return {};
}

bool NSSTrust::hasNickname(const std::string& folder, const std::string& nickname) const {
    if (!hasDatabase(folder)) return false;
    return !sslTrustFlags(folder, nickname).empty();
}

bool NSSTrust::isTrusted(const std::string& folder, const std::string& nickname,
                         const std::string& certificatePem) const {
    if (!hasDatabase(folder)) return false;
    std::string ssl = sslTrustFlags(folder, nickname);
    if (ssl.find('C') == std::string::npos && ssl.find('P') == std::string::npos) return false;
    ChildResult listed =
        runChildProcess({certutil_, "-L", "-d", databaseArgument(folder), "-n", nickname, "-a"});
    if (!listed.started || listed.exitStatus != 0) return false;
    for (const std::string& block : pemBlocks(listed.output)) {
        if (sameCertificate(block, certificatePem)) return true;
    }
    return false;
}

}  // namespace lumvane
