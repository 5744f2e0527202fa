#include "uninstaller/HostsLineRemoval.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "extension/browser/HostsRecord.h"

namespace lumvane {
namespace {

bool isOwnLine(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line == hostsRecordLine();
}

bool writeAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

HostsRemoval fail(std::string* error, const std::string& step, const std::string& path) {
    if (error) *error = step + " " + path + ": " + std::strerror(errno);
    return HostsRemoval::Failed;
}

}  // namespace

bool hostsTextHasOwnRecord(std::string_view text) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (isOwnLine(text.substr(0, end))) return true;
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return false;
}

std::string hostsTextWithoutOwnRecord(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end == std::string_view::npos ? end : end + 1);
        if (!isOwnLine(text.substr(0, end))) kept.append(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return kept;
}

HostsRemoval removeHostsRecord(const std::string& hostsFile, std::string* error) {
    char resolved[PATH_MAX];
    if (!realpath(hostsFile.c_str(), resolved)) {
        if (errno == ENOENT) return HostsRemoval::NotPresent;
        return fail(error, "cannot resolve", hostsFile);
    }
    const std::string path(resolved);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(error, "cannot open", path);
    struct Closer {
        int fd;
        ~Closer() { close(fd); }  // also drops the lock
    } closer{fd};
    if (flock(fd, LOCK_EX) != 0) return fail(error, "cannot lock", path);
    struct stat info {};
    if (fstat(fd, &info) != 0) return fail(error, "cannot inspect", path);

    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(error, "cannot read", path);
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    if (!hostsTextHasOwnRecord(text)) return HostsRemoval::NotPresent;
    const std::string kept = hostsTextWithoutOwnRecord(text);

    const size_t slash = path.rfind('/');
    const std::string folder = path.substr(0, slash == 0 ? 1 : slash);
    std::string temporary = path.substr(0, slash + 1) + ".lumvane-hosts.tmp-XXXXXX";
    int out = mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) return fail(error, "cannot create a temporary file in", folder);
    bool ok = fchmod(out, info.st_mode & 07777) == 0 &&
              fchown(out, info.st_uid, info.st_gid) == 0 && writeAll(out, kept) && fsync(out) == 0;
    int writeErrno = errno;
    ok = close(out) == 0 && ok;
    if (!ok) {
        unlink(temporary.c_str());
        errno = writeErrno;
        return fail(error, "cannot write", temporary);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        int renameErrno = errno;
        unlink(temporary.c_str());
        errno = renameErrno;
        return fail(error, "cannot replace", path);
    }
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return HostsRemoval::Removed;
}

}  // namespace lumvane
