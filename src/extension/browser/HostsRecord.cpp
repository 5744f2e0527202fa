#include "extension/browser/HostsRecord.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace lumvane {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool lineHasRecord(std::string_view line, std::string_view record) {
    size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    line.remove_prefix(start);
    if (line.substr(0, record.size()) != record) return false;
    if (line.size() == record.size()) return true;
    char next = line[record.size()];
    return isBlank(next) || next == '#';
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

}  // namespace

std::string hostsRecordLine() {
    std::string line(kLoopbackAddress);
    line += ' ';
    line += kLocalHostName;
    return line;
}

bool hostsTextHasRecord(std::string_view text) {
    const std::string record = hostsRecordLine();
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (lineHasRecord(line, record)) return true;
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return false;
}

HostsUpdate addHostsRecord(const std::string& hostsFile) {
    int fd = open(hostsFile.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return HostsUpdate::Failed;
    if (flock(fd, LOCK_EX) != 0) {
        close(fd);
        return HostsUpdate::Failed;
    }
    std::string text;
    char buffer[4096];
    bool readOk = true;
    for (;;) {
        ssize_t n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            readOk = false;
            break;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    HostsUpdate result = HostsUpdate::Failed;
    if (readOk && hostsTextHasRecord(text)) {
        result = HostsUpdate::AlreadyPresent;
    } else if (readOk) {
        std::string addition;
        if (!text.empty() && text.back() != '\n') addition += '\n';
        addition += hostsRecordLine();
        addition += '\n';
        if (writeAll(fd, addition) && fsync(fd) == 0) result = HostsUpdate::Appended;
    }
    close(fd);  // also drops the lock
    return result;
}

}  // namespace lumvane
