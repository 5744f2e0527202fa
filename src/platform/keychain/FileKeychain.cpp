#include "platform/keychain/FileKeychain.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "runtime/AtomicFile.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

using Items = std::map<std::string, std::vector<uint8_t>>;

std::string toHex(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

std::optional<std::vector<uint8_t>> fromHex(const std::string& text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = value(text[i]);
        const int lo = value(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

// An advisory lock on a side file, so that the program, its native-messaging
// instances and other readers never see half a change.
class FileLock {
  public:
    FileLock(const std::filesystem::path& path, bool exclusive) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace

FileKeychain::FileKeychain(std::filesystem::path folder)
    : folder_(std::move(folder)), path_(folder_ / kFileName) {}

namespace {

// Renames the file to "<name>.unreadable-<seconds>" ("-2", "-3" ... appended when that
// name is taken), never replacing an earlier aside. Nothing when no name could be taken.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& path) {
    const auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    auto base = path;
    base += ".unreadable-" + std::to_string(stamp);
    for (int n = 1; n < 1000; ++n) {
        auto aside = base;
        if (n > 1) aside += "-" + std::to_string(n);
        // A hard link fails on a name that exists, where rename would replace it.
        if (::link(path.c_str(), aside.c_str()) == 0) {
            ::unlink(path.c_str());
            return aside;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

struct Loaded {
    KeychainStatus status = kKeychainSuccess;
    Items items;
};

Loaded load(const std::filesystem::path& path) {
    Loaded result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            result.status = kKeychainIOError;
        }
        return result;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            result.status = kKeychainIOError;
            return result;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    try {
        const auto json = nlohmann::json::parse(text);
        const auto& items = json.at("items");
        // Anything but an object of names would be read as one nameless item.
        if (!items.is_object()) throw std::runtime_error("items is not an object");
        for (const auto& [service, value] : items.items()) {
            auto name = fromHex(service);
            auto bytes = fromHex(value.get<std::string>());
            if (!name || !bytes) {
                throw std::runtime_error("bad hex");
            }
            result.items[std::string(name->begin(), name->end())] = std::move(*bytes);
        }
    } catch (const std::exception&) {
        // Keep the unreadable file for inspection and start over with an empty store.
        result.items.clear();
        if (auto aside = moveAside(path)) {
            TBN_LOG_WARN("keychain", "Keychain file could not be read; moved aside to {}",
                         aside->string());
        } else {
            result.status = kKeychainIOError;
        }
    }
    return result;
}

KeychainStatus save(const std::filesystem::path& path, const Items& items) {
    nlohmann::json json;
    json["version"] = 1;
    json["items"] = nlohmann::json::object();
    for (const auto& [service, value] : items) {
        json["items"][toHex(reinterpret_cast<const uint8_t*>(service.data()), service.size())] =
            toHex(value.data(), value.size());
    }
    const std::string text = json.dump();
    if (!writeFileAtomically(path.string(), text, 0600)) {
        return kKeychainIOError;
    }
    return kKeychainSuccess;
}

}  // namespace

KeychainStatus FileKeychain::addItem(const std::string& service,
                                     const std::vector<uint8_t>& value) {
    std::lock_guard guard(mutex_);
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        return kKeychainIOError;
    }
    ::chmod(folder_.c_str(), 0700);
    auto lockPath = path_;
    lockPath += ".lock";
    FileLock lock(lockPath, true);
    if (!lock.ok()) {
        return kKeychainIOError;
    }
    Loaded loaded = load(path_);
    if (loaded.status != kKeychainSuccess) {
        return loaded.status;
    }
    if (loaded.items.count(service) != 0) {
        return kKeychainDuplicateItem;
    }
    loaded.items[service] = value;
    return save(path_, loaded.items);
}

KeychainStatus FileKeychain::copyItem(const std::string& service, std::vector<uint8_t>& value) {
    std::lock_guard guard(mutex_);
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) {
        return ec ? kKeychainIOError : kKeychainItemNotFound;
    }
    auto lockPath = path_;
    lockPath += ".lock";
    FileLock lock(lockPath, true);
    if (!lock.ok()) {
        return kKeychainIOError;
    }
    Loaded loaded = load(path_);
    if (loaded.status != kKeychainSuccess) {
        return loaded.status;
    }
    auto it = loaded.items.find(service);
    if (it == loaded.items.end()) {
        return kKeychainItemNotFound;
    }
    value = it->second;
    return kKeychainSuccess;
}

KeychainStatus FileKeychain::deleteItem(const std::string& service) {
    std::lock_guard guard(mutex_);
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) {
        return ec ? kKeychainIOError : kKeychainItemNotFound;
    }
    auto lockPath = path_;
    lockPath += ".lock";
    FileLock lock(lockPath, true);
    if (!lock.ok()) {
        return kKeychainIOError;
    }
    Loaded loaded = load(path_);
    if (loaded.status != kKeychainSuccess) {
        return loaded.status;
    }
    if (loaded.items.erase(service) == 0) {
        return kKeychainItemNotFound;
    }
    return save(path_, loaded.items);
}

}  // namespace lumvane
