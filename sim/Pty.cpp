#include "Pty.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace sim {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        ThrowErrno("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        ThrowErrno("tcsetattr");
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        ThrowErrno("posix_openpt");
    try {
        if (grantpt(master_) != 0 || unlockpt(master_) != 0)
            ThrowErrno("grantpt/unlockpt");
        char name[128];
        if (ptsname_r(master_, name, sizeof name) != 0)
            ThrowErrno("ptsname_r");
        slavePath_ = name;
        slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave_ < 0)
            ThrowErrno("open " + slavePath_);
        MakeRaw(slave_);
    } catch (...) {
        Close();
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    Close();
}

void PseudoTerminal::Close() {
    if (slave_ >= 0)
        close(slave_);
    if (master_ >= 0)
        close(master_);
    slave_ = master_ = -1;
}

PortLink::PortLink(std::string path, std::string target)
    : path_(std::move(path)), target_(std::move(target)) {
    namespace fs = std::filesystem;
    const fs::path link(path_);
    std::error_code ec;
    if (link.has_parent_path())
        fs::create_directories(link.parent_path(), ec);
    if (ec)
        throw std::runtime_error("cannot create " + link.parent_path().string() + ": " +
                                 ec.message());
    const auto status = fs::symlink_status(link, ec);
    if (fs::exists(status) && !fs::is_symlink(status))
        throw std::runtime_error(path_ + " exists and is not a symbolic link; not replacing it");
    // A temporary link renamed over the old one replaces it in one step.
    const std::string temporary = path_ + ".new" + std::to_string(getpid());
    if (symlink(target_.c_str(), temporary.c_str()) != 0)
        ThrowErrno("symlink " + temporary);
    if (rename(temporary.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        throw std::system_error(error, std::generic_category(), "rename to " + path_);
    }
    linked_ = true;
}

PortLink::~PortLink() {
    Remove();
}

void PortLink::Remove() {
    if (!linked_)
        return;
    linked_ = false;
    std::error_code ec;
    const auto current = std::filesystem::read_symlink(path_, ec);
    if (ec || current != target_)
        return; // already gone, or another server's link now: not ours to remove
    if (!std::filesystem::remove(path_, ec))
        std::fprintf(stderr, "psu-sim: cannot remove %s: %s\n", path_.c_str(),
                     ec.message().c_str());
}

} // namespace sim
