#include "mounts/PrivateMounts.h"

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace lumvane::test {

namespace {

bool gPrivate = false;
std::string gProblem = "enterPrivateMountNamespace() was not called";

constexpr const char* kFiller = ".filler";

}  // namespace

bool enterPrivateMountNamespace() {
    if (gPrivate) return true;
    if (::unshare(CLONE_NEWNS) != 0) {
        gProblem = std::string("no mount namespace of its own (unshare: ") + std::strerror(errno) +
                   "); run as root";
        return false;
    }
    // Systemd makes / shared: without this, mounts made here would appear outside.
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        gProblem = std::string("mounts would propagate (mount --make-rprivate /: ") +
                   std::strerror(errno) + ")";
        return false;
    }
    gPrivate = true;
    gProblem.clear();
    return true;
}

bool inPrivateMountNamespace() {
    return gPrivate;
}

std::string privateMountNamespaceProblem() {
    return gProblem;
}

SmallTmpfs::SmallTmpfs(size_t bytes) : bytes_(bytes) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lumvane-tmpfs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    if (!gPrivate) return;
    const std::string options = "size=" + std::to_string(bytes_) + ",mode=0700";
    mounted_ =
        ::mount("lumvane-test", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

void SmallTmpfs::fill() {
    const std::string filler = (path_ / kFiller).string();
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::vector<char> block(4096, 'x');
    // Whole pages first, then single bytes for what is left of the last page.
    for (size_t size : {block.size(), size_t{1}}) {
        for (;;) {
            const ssize_t n = ::write(fd, block.data(), size);
            if (n <= 0 && errno != EINTR) break;
        }
    }
    ::close(fd);
}

void SmallTmpfs::release() {
    ::unlink((path_ / kFiller).c_str());
}

void SmallTmpfs::setReadOnly(bool readOnly) {
    if (!mounted_) return;
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    const std::string options = "size=" + std::to_string(bytes_) + ",mode=0700";
    ::mount("lumvane-test", path_.c_str(), "tmpfs", flags, options.c_str());
}

}  // namespace lumvane::test
