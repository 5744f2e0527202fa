#include "settings/SettingsFile.h"

#include "runtime/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace lumvane::settingsfile {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& step, const fs::path& path, int err) {
    std::string text = step;
    text.append(" ").append(path.string()).append(": ").append(std::strerror(err));
    throw std::runtime_error(text);
}

// Closes the descriptor on every way out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

}  // namespace

Bytes readWholeFile(const fs::path& file) {
    Fd in;
    in.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) fail("open", file, errno);
    struct stat st {};
    if (::fstat(in.fd, &st) != 0) fail("stat", file, errno);
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        throw std::runtime_error("settings file " + file.string() + " is too large (" +
                                 std::to_string(st.st_size) + " bytes)");
    }
    Bytes data;
    data.reserve(static_cast<size_t>(st.st_size));
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(in.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("read", file, errno);
        }
        if (n == 0) break;
        if (data.size() + static_cast<size_t>(n) > kMaxFileSize) {
            throw std::runtime_error("settings file " + file.string() + " is too large");
        }
        data.insert(data.end(), buffer, buffer + n);
    }
    return data;
}

std::string temporaryPrefix(const fs::path& file) {
    return atomicTemporaryPrefix(file.string());
}

fs::path followLinks(const fs::path& file) {
    fs::path current = file;
    // As many hops as the kernel follows before it gives up (ELOOP).
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::error_code ec;
        fs::path target = fs::read_symlink(current, ec);
        if (ec) return current;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return file;
}

void writeFileAtomically(const fs::path& file, const Bytes& data, bool sync) {
    std::string error;
    const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    // Renaming over a link would put a plain file in its place; a user who keeps the
    // settings elsewhere through a link keeps that link.
    const fs::path target = followLinks(file);
    if (!lumvane::writeFileAtomically(target.string(), bytes, 0600, &error, sync)) {
        throw std::runtime_error(error);
    }
}

int removeStaleTemporaries(const fs::path& link) {
    const fs::path file = followLinks(link);
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    const std::string prefix = temporaryPrefix(file);
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
            std::error_code rmEc;
            if (fs::remove(it->path(), rmEc)) ++removed;
        }
    }
    return removed;
}

std::optional<fs::path> moveAside(const fs::path& file,
                                  std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string base = file.filename().string();
    base.append(".unreadable-").append(stamp);
    for (int n = 1; n < 1000; ++n) {
        std::string name = base;
        if (n > 1) name.append("-").append(std::to_string(n));
        fs::path target = file.parent_path() / name;
        std::error_code ec;
        if (fs::exists(target, ec) || ec) continue;
        // link + unlink would refuse to replace; a plain rename after the check is
        // enough here: only this process writes the settings folder.
        if (::rename(file.c_str(), target.c_str()) == 0) return target;
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace lumvane::settingsfile
