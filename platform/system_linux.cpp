// The Linux side of the system layer: separator, own path, local time, atomic file replacement,
// files of appended rows.

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Platform.h"

namespace platform {

char PathSeparator() {
    return '/';
}

std::string ExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return std::string();
        if (static_cast<size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<size_t>(length));
            return buffer;
        }
        // The path may have been cut; try again with more room.
        buffer.resize(buffer.size() * 2);
    }
}

LocalDateTime SystemLocalNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto sinceEpoch = duration_cast<milliseconds>(now.time_since_epoch()).count();
    std::tm local{};
    localtime_r(&seconds, &local);
    LocalDateTime result;
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    result.second = local.tm_sec;
    result.millisecond = static_cast<int>(((sinceEpoch % 1000) + 1000) % 1000);
    result.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    return result;
}

namespace {

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& content) {
    size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

// Creates a fresh temporary file beside the target; -1 when none can be made.
int CreateTemporaryBeside(const std::string& target, std::string& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The file that a replacement writes: the target of a symbolic link, else the path itself.
std::string ResolvedTarget(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// An existing target must be a writable regular file: a read-only file refuses the write even
// for a user whom permissions would not stop, as it does on the other platforms.
bool TargetAcceptsWrite(const std::string& target, mode_t& mode) {
    struct stat info {};
    if (stat(target.c_str(), &info) != 0)
        return errno == ENOENT;
    mode = info.st_mode & 07777;
    return S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0 && access(target.c_str(), W_OK) == 0;
}

void SyncDirectory(const std::string& directory) {
    // Best effort: the rename has happened; some file systems cannot sync a directory.
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

} // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& content) {
    const std::string target = ResolvedTarget(path);
    mode_t mode = 0;
    if (!TargetAcceptsWrite(target, mode))
        return false;
    std::string tempPath;
    const int fd = CreateTemporaryBeside(target, tempPath);
    if (fd < 0)
        return false;
    // The replacement keeps the permissions of the file it replaces.
    bool ok = (mode == 0 || fchmod(fd, mode) == 0) && WriteAll(fd, content) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(tempPath.c_str());
        return false;
    }
    SyncDirectory(DirectoryOf(target));
    return true;
}

} // namespace platform

namespace platform {

namespace {

class PosixRecordFile : public RecordFile {
public:
    explicit PosixRecordFile(int fd) : fd_(fd) {}
    ~PosixRecordFile() override { close(fd_); }

    std::error_code Append(const std::string& text) override {
        ssize_t n;
        do
            n = write(fd_, text.data(), text.size());
        while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(text.size())) {
            size_ += n;
            return {};
        }
        // A short write stopped for want of room: cut it off, so no torn row stays behind. Should
        // even that fail, the caller learns so from the error.
        const std::error_code error(n < 0 ? errno : ENOSPC, std::generic_category());
        if (n > 0 && ftruncate(fd_, size_) != 0)
            return {errno, std::generic_category()};
        return error;
    }

    std::error_code Sync() override {
        if (fdatasync(fd_) != 0)
            return {errno, std::generic_category()};
        return {};
    }

private:
    int fd_;
    off_t size_ = 0; // a new file holds only what was appended here
};

} // namespace

CreatedRecordFile CreateRecordFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return {nullptr, std::error_code(errno, std::generic_category())};
    return {std::make_unique<PosixRecordFile>(fd), {}};
}

} // namespace platform
