#include "support/PortHolder.h"

#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// Only async-signal-safe calls: the parent has other threads.
[[noreturn]] void HoldInChild(const char* device, int ready, int release) {
    // Keep no copy of the parent's descriptors: one of them may be the worker's open port,
    // whose lock would then outlive the worker's close and block ours for good.
    if (dup2(ready, 0) < 0 || dup2(release, 1) < 0 || close_range(3, ~0U, 0) != 0)
        _exit(1);
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    const char ok = fd >= 0 && flock(fd, LOCK_EX) == 0 ? '1' : '0';
    [[maybe_unused]] ssize_t n = write(0, &ok, 1);
    char byte;
    n = read(1, &byte, 1); // returns when the parent closes its end
    _exit(0);
}

} // namespace

PortHolder::PortHolder(const std::string& device) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0)
        HoldInChild(device.c_str(), ready[1], release[0]);
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    pollfd pfd{ready[0], POLLIN, 0};
    char ok = '0';
    held_ = poll(&pfd, 1, 10000) == 1 && read(ready[0], &ok, 1) == 1 && ok == '1';
    close(ready[0]);
}

void PortHolder::Release() {
    if (pid_ <= 0)
        return;
    close(release_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

} // namespace testsupport
