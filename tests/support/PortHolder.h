#pragma once
// Another program holding a serial device: a child process that takes the device's exclusive lock
// and keeps it until released.

#include <string>
#include <sys/types.h>

namespace testsupport {

class PortHolder {
public:
    explicit PortHolder(const std::string& device);
    ~PortHolder() { Release(); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    // Whether the child opened the device and holds its lock.
    bool held() const { return held_; }
    void Release();

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool held_ = false;
};

} // namespace testsupport
