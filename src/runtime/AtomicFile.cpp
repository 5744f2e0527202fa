#include "runtime/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace lumvane {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool failed(std::string* error, const char* step, const std::string& path, int err) {
    if (error) *error = std::string(step) + " " + path + ": " + std::strerror(err);
    return false;
}

}  // namespace

std::string atomicTemporaryPrefix(const std::string& path) {
    // Appended piece by piece: GCC 12 warns (-Wrestrict, a false positive) on
    // "literal" + std::string&&.
    std::string prefix = ".";
    prefix += std::filesystem::path(path).filename().string();
    prefix += ".tmp-";
    return prefix;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         std::string* error, bool sync) {
    std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::string temporary = (folder / (atomicTemporaryPrefix(path) + "XXXXXX")).string();

    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // created 0600
    if (fd < 0) return failed(error, "create temporary file in", folder.string(), errno);
    int err = 0;
    const char* step = nullptr;
    if (::fchmod(fd, mode) != 0) {
        err = errno, step = "chmod";
    } else if (!writeAll(fd, bytes)) {
        err = errno, step = "write";
    } else if (sync && ::fsync(fd) != 0) {
        err = errno, step = "fsync";
    }
    if (::close(fd) != 0 && !step) err = errno, step = "close";
    if (!step && ::rename(temporary.c_str(), path.c_str()) != 0) err = errno, step = "rename onto";
    if (step) {
        ::unlink(temporary.c_str());
        return failed(error, step, step[0] == 'r' ? path : temporary, err);
    }
    if (!sync) return true;
    // The rename is only durable once the folder's entry is on disk.
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return failed(error, "open folder", folder.string(), errno);
    const bool synced = ::fsync(dirFd) == 0;
    err = errno;
    ::close(dirFd);
    if (!synced) return failed(error, "fsync folder", folder.string(), err);
    return true;
}

bool ensurePrivateFolder(const std::string& path, mode_t mode) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) return false;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    if ((info.st_mode & 07777) != mode && chmod(path.c_str(), mode) != 0) return false;
    return true;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return false;
    bytes = buffer.str();
    return true;
}

}  // namespace lumvane
