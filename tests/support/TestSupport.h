#pragma once
// Helpers shared by the tests: temporary directories, waiting for a condition, the simulated
// supply.

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The directory path, ending in "/".
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Polls the condition until it holds or the limit passes; returns its last value.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

// Milliseconds left until the deadline, 0 once it has passed (a poll time-out).
int RemainingMs(std::chrono::steady_clock::time_point deadline);

// Writes all bytes to a non-blocking descriptor, waiting while it is full. False when a write
// fails or the limit passes first.
bool WriteAllWithin(int fd, const std::string& bytes, std::chrono::milliseconds limit);

// Sets the terminal raw (no echo, no line editing, no CR/LF translation), as a serial line is.
void MakeTerminalRaw(int fd);

// Forks a child that runs work(startedFd): it writes one byte to startedFd once it has begun and
// then works until it is killed. Kills it with SIGKILL after the delay (a moment of its work, not
// a wait for it) and reaps it; the test fails when it could not begin or ended by itself.
void KillAWorkingChildAfter(const std::function<void(int startedFd)>& work,
                            std::chrono::microseconds delay);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// A running psu-sim, registered as appDir/ports/comN; stopped (SIGTERM) when destroyed.
class SimProcess {
public:
    // Starts psu-sim --appdir appDir --port port plus extra options and waits until it serves.
    SimProcess(const std::string& appDir, int port, const std::vector<std::string>& options = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The port name it printed ("COM7").
    const std::string& PortName() const { return portName_; }
    pid_t Pid() const { return pid_; }
    // Sends SIGTERM and waits for the exit; returns the exit status as waitpid gives it.
    int Stop();

private:
    pid_t pid_ = -1;
    std::string portName_;
};

} // namespace testsupport
