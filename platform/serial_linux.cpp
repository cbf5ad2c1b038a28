// Serial ports on Linux: exclusive raw termios devices, the port map and port enumeration.

#include "platform/Platform.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kHighestPortNumber = 999;

struct BaudEntry {
    int32_t rate;
    speed_t code;
};

// The rates termios can set; 0 (B0 means "hang up") is deliberately absent.
constexpr BaudEntry kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool FindBaudCode(int32_t rate, speed_t& code) {
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

// Raw 8N1: no echo, no canonical input, no CR/LF translation, no flow control, reads return at
// once.
bool ConfigureLine(int fd, int32_t baudRate) {
    speed_t speed;
    if (!FindBaudCode(baudRate, speed)) {
        errno = EINVAL;
        return false;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0)
        return false;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool HasFailed(short revents) {
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

class PosixSerialDevice final : public SerialDevice {
public:
    explicit PosixSerialDevice(int fd) : fd_(fd) {}
    ~PosixSerialDevice() override { ::close(fd_); }
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    // Blocks until at least one byte went out: the line has no write time limit.
    long Write(const char* data, std::size_t size) override {
        for (;;) {
            const ssize_t written = ::write(fd_, data, size);
            if (written >= 0)
                return static_cast<long>(written);
            if (errno == EINTR)
                continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitWritable())
                return -1;
        }
    }

    long BytesWaiting() override {
        int count = 0;
        if (::ioctl(fd_, FIONREAD, &count) != 0)
            return -1;
        return count;
    }

    long Read(char* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, size);
            if (got >= 0)
                return static_cast<long>(got);
            if (errno == EINTR)
                continue;
            return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        }
    }

    bool WaitReadable(int timeoutMs) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd pfd{fd_, POLLIN, 0};
        for (;;) {
            const int ready = ::poll(&pfd, 1, RemainingMs(deadline));
            if (ready > 0)
                return !HasFailed(pfd.revents);
            if (ready == 0)
                return true; // time is up; the caller's clock decides what that means
            if (errno != EINTR)
                return false;
        }
    }

    void PurgeInput() override { ::tcflush(fd_, TCIFLUSH); }

private:
    bool WaitWritable() {
        pollfd pfd{fd_, POLLOUT, 0};
        for (;;) {
            const int ready = ::poll(&pfd, 1, -1);
            if (ready > 0)
                return !HasFailed(pfd.revents);
            if (errno != EINTR)
                return false;
        }
    }

    int fd_;
};

bool EntryExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool DeviceExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string FixedMapPath(int portNumber) {
    struct Range {
        int first;
        const char* prefix;
    };
    static constexpr Range kRanges[] = {{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}};
    constexpr int kPortsPerRange = 32;
    for (const Range& range : kRanges) {
        if (portNumber >= range.first && portNumber < range.first + kPortsPerRange)
            return range.prefix + std::to_string(portNumber - range.first);
    }
    return {};
}

// "ttyS<digits>" names an on-board UART slot, which the kernel creates whether or not one is
// fitted.
bool IsUartSlotName(const std::string& name) {
    const std::string prefix = "ttyS";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return name.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

// True when the UART slot reports no UART; unknown answers keep the port listed.
bool UartIsMissing(const std::filesystem::path& device) {
    std::ifstream typeFile("/sys/class/tty/" + device.filename().string() + "/type");
    int type = -1;
    if (typeFile >> type)
        return type == 0;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool unknown = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
    ::close(fd);
    return unknown;
}

bool IsUsablePort(const std::string& devicePath) {
    if (!DeviceExists(devicePath))
        return false;
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::canonical(devicePath, ec);
    if (ec)
        return false;
    return !IsUartSlotName(device.filename().string()) || !UartIsMissing(device);
}

SerialErrorKind OpenErrorKind(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return SerialErrorKind::DeviceMissing;
    case EACCES:
    case EPERM:
    case EROFS:
        return SerialErrorKind::AccessDenied;
    case EBUSY:
        return SerialErrorKind::PortBusy;
    default:
        return SerialErrorKind::Failed;
    }
}

OpenedSerialDevice Refused(SerialErrorKind kind, int error) {
    return {nullptr, {kind, std::error_code(error, std::generic_category())}};
}

} // namespace

OpenedSerialDevice OpenSerialDevice(const std::string& devicePath, int32_t baudRate) {
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Refused(OpenErrorKind(errno), errno);
    auto device = std::make_unique<PosixSerialDevice>(fd);
    // The lock belongs to the open file, so it holds against every other open, also root's.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return Refused(error == EWOULDBLOCK ? SerialErrorKind::PortBusy : SerialErrorKind::Failed,
                       error);
    }
    if (!ConfigureLine(fd, baudRate))
        return Refused(SerialErrorKind::SettingsRefused, errno);
    return {std::move(device), {}};
}

std::string PortDevicePath(const std::string& appDir, int portNumber) {
    if (portNumber < 1 || portNumber > kHighestPortNumber)
        return {};
    // A link in ports/ is the port even when it dangles: then the port is missing, not remapped.
    const std::string mapped = appDir + "ports/com" + std::to_string(portNumber);
    if (EntryExists(mapped))
        return mapped;
    return FixedMapPath(portNumber);
}

std::vector<SerialPortEntry> EnumerateSerialPorts(const std::string& appDir) {
    std::vector<SerialPortEntry> ports;
    for (int number = 1; number <= kHighestPortNumber; ++number) {
        std::string devicePath = PortDevicePath(appDir, number);
        if (!devicePath.empty() && IsUsablePort(devicePath))
            ports.push_back({"COM" + std::to_string(number), std::move(devicePath)});
    }
    return ports;
}

} // namespace platform
