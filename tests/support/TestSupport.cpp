#include "TestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "psu-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WriteAllWithin(int fd, const std::string& bytes, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + sent, bytes.size() - sent);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd pfd{fd, POLLOUT, 0};
        if (poll(&pfd, 1, RemainingMs(deadline)) == 0)
            return false;
    }
    return true;
}

void MakeTerminalRaw(int fd) {
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
}

void KillAWorkingChildAfter(const std::function<void(int startedFd)>& work,
                            std::chrono::microseconds delay) {
    int started[2];
    ASSERT_EQ(pipe(started), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        work(started[1]);
        _exit(0); // work never returns on its own; a child that does is reported below
    }
    close(started[1]);
    char byte;
    ASSERT_EQ(read(started[0], &byte, 1), 1) << "the child could not begin";
    close(started[0]);
    std::this_thread::sleep_for(delay);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: status " << status;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

SimProcess::SimProcess(const std::string& appDir, int port,
                       const std::vector<std::string>& options) {
    std::vector<std::string> args = {PSU_SIM_PATH, "--appdir", appDir, "--port",
                                     std::to_string(port)};
    args.insert(args.end(), options.begin(), options.end());
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // The first line it prints is the port name; it serves from then on.
    std::string line;
    pollfd pfd{out[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        char c[256];
        ssize_t n = read(out[0], c, sizeof c);
        if (n <= 0)
            break;
        line.append(c, static_cast<size_t>(n));
    }
    close(out[0]);
    auto eol = line.find('\n');
    if (eol == std::string::npos) {
        Stop();
        throw std::runtime_error("psu-sim did not start: " + line);
    }
    portName_ = line.substr(0, eol);
}

SimProcess::~SimProcess() {
    Stop();
}

int SimProcess::Stop() {
    if (pid_ <= 0)
        return 0;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

} // namespace testsupport
