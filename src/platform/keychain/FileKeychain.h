#pragma once

#include <filesystem>
#include <mutex>

#include "platform/keychain/KeychainStore.h"

namespace lumvane {

// Items in one file readable by the user only (folder 0700, file 0600), used when
// no Secret Service is running. Every change rewrites the file through a
// temporary file, fsync and rename, under an advisory lock shared with other
// processes. A file that cannot be decoded is moved aside, never overwritten.
class FileKeychain final : public KeychainStore {
  public:
    static constexpr const char* kFileName = "keychain.json";

    explicit FileKeychain(std::filesystem::path folder);

    KeychainStatus addItem(const std::string& service, const std::vector<uint8_t>& value) override;
    KeychainStatus copyItem(const std::string& service, std::vector<uint8_t>& value) override;
    KeychainStatus deleteItem(const std::string& service) override;
    std::string storeName() const override { return "file"; }

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    std::mutex mutex_;
};

}  // namespace lumvane
