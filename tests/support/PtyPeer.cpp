#include "support/PtyPeer.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "common/TextUtil.h"
#include "support/TestSupport.h"

namespace serialtest {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

PtyPeer::PtyPeer() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    devicePath_ = ptsname(master_);
    slave_ = open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0)
        throw std::runtime_error("cannot open " + devicePath_);
}

PtyPeer::~PtyPeer() {
    CloseMaster();
    close(slave_);
}

void PtyPeer::LinkAs(const std::string& appDir, int number) const {
    std::filesystem::create_directories(appDir + "ports");
    std::filesystem::create_symlink(devicePath_, appDir + "ports/com" + std::to_string(number));
}

void PtyPeer::MakeRaw() const {
    testsupport::MakeTerminalRaw(slave_);
}

std::string PtyPeer::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string line;
    while (!EndsWith(line, "\n")) {
        pollfd pfd{master_, POLLIN, 0};
        const int ready = poll(&pfd, 1, testsupport::RemainingMs(deadline));
        if (ready == 0)
            break;
        if (ready < 0 && errno == EINTR)
            continue;
        char byte;
        if (ready < 0 || read(master_, &byte, 1) != 1)
            break;
        line += byte;
    }
    return line;
}

std::string PtyPeer::ReadAvailable() {
    std::string bytes;
    char buffer[256];
    ssize_t got;
    while ((got = read(master_, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(got));
    return bytes;
}

void PtyPeer::Send(const std::string& bytes, std::chrono::milliseconds limit) {
    testsupport::WriteAllWithin(master_, bytes, limit); // what does not fit is given up, as told
}

int PtyPeer::SlaveBytesWaiting() const {
    int count = 0;
    return ioctl(slave_, FIONREAD, &count) == 0 ? count : -1;
}

void PtyPeer::DiscardPending() {
    tcflush(slave_, TCIFLUSH);
    ReadAvailable();
}

void PtyPeer::CloseMaster() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

std::string LogText(const std::string& appDir, const std::string& channel) {
    std::string text;
    const std::string suffix = "__" + channel + ".log";
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(appDir + "Log", ec)) {
        // The channel's lines are in the day's file whatever the case of its name.
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.size() >= suffix.size() &&
            SameIgnoringCase(std::string_view(name).substr(name.size() - suffix.size()), suffix))
            text += testsupport::ReadFile(entry.path().string());
    }
    return text;
}

} // namespace serialtest
