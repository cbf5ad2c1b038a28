// Serial ports on Windows: exclusive COM devices set up raw, and the ports of the registry's
// serial device map.

#include "platform/Platform.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <optional>
#include <windows.h>

namespace platform {
namespace {

constexpr int kHighestPortNumber = 999;
constexpr DWORD kQueueSize = 256;

// The same rates as on Linux, so a settings file means the same on both.
constexpr int32_t kBaudRates[] = {
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000,
};

bool IsAcceptedBaudRate(int32_t rate) {
    return std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) != std::end(kBaudRates);
}

std::error_code LastError() {
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

// Reads return at once with what has arrived; writes have no time limit.
constexpr COMMTIMEOUTS kImmediateReads = {MAXDWORD, 0, 0, 0, 0};

// Raw 8N1 without flow control, with DTR and RTS raised as a Linux open raises them.
bool ConfigureLine(HANDLE handle, int32_t baudRate) {
    if (!IsAcceptedBaudRate(baudRate)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    COMMTIMEOUTS timeouts = kImmediateReads;
    if (!SetCommTimeouts(handle, &timeouts) || !SetupComm(handle, kQueueSize, kQueueSize))
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return false;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(handle, &dcb) != 0;
}

// The wait for input is a read with a time limit, not an overlapped WaitCommEvent: the handle
// stays a plain one (no overlapped I/O anywhere else), and a read that returns with the first
// byte, or with none once the limit passes, is one wait in the driver without a loop here. The
// byte it takes is held until the next Read hands it out.
class Win32SerialDevice final : public SerialDevice {
public:
    explicit Win32SerialDevice(HANDLE handle) : handle_(handle) {}
    ~Win32SerialDevice() override { CloseHandle(handle_); }
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    long Write(const char* data, std::size_t size) override {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
        if (!WriteFile(handle_, data, chunk, &written, nullptr))
            return -1;
        return static_cast<long>(written);
    }

    // ClearCommError also clears the line errors (framing, parity, overrun), which nothing else
    // looks at; it fails once the device is gone.
    long BytesWaiting() override {
        COMSTAT status{};
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &status))
            return -1;
        return static_cast<long>(std::min<DWORD>(status.cbInQue, LONG_MAX - 1)) + (held_ ? 1 : 0);
    }

    long Read(char* buffer, std::size_t size) override {
        if (size == 0)
            return 0;
        std::size_t count = 0;
        if (held_) {
            buffer[count++] = *held_;
            held_.reset();
        }
        DWORD got = 0;
        const DWORD room = static_cast<DWORD>(std::min<std::size_t>(size - count, MAXDWORD));
        if (room > 0 && !ReadFile(handle_, buffer + count, room, &got, nullptr))
            return count > 0 ? static_cast<long>(count) : -1;
        return static_cast<long>(count + got);
    }

    bool WaitReadable(int timeoutMs) override {
        if (held_ || timeoutMs <= 0)
            return BytesWaiting() >= 0;
        // MAXDWORD, MAXDWORD and a constant: return with the first byte, or after the constant.
        COMMTIMEOUTS waiting = {MAXDWORD, MAXDWORD, static_cast<DWORD>(timeoutMs), 0, 0};
        COMMTIMEOUTS immediate = kImmediateReads;
        if (!SetCommTimeouts(handle_, &waiting))
            return false;
        char byte = 0;
        DWORD got = 0;
        const bool read = ReadFile(handle_, &byte, 1, &got, nullptr) != 0;
        const bool restored = SetCommTimeouts(handle_, &immediate) != 0;
        if (read && got == 1)
            held_ = byte;
        return read && restored;
    }

    void PurgeInput() override {
        held_.reset();
        PurgeComm(handle_, PURGE_RXCLEAR);
    }

private:
    HANDLE handle_;
    std::optional<char> held_;
};

SerialErrorKind OpenErrorKind(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_UNIT:
        return SerialErrorKind::DeviceMissing;
    // A COM port that another handle holds answers "access denied" to every further open.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return SerialErrorKind::PortBusy;
    default:
        return SerialErrorKind::Failed;
    }
}

OpenedSerialDevice Refused(SerialErrorKind kind, std::error_code error) {
    return {nullptr, {kind, error}};
}

// The port number of a registry entry such as "COM12"; 0 for anything else.
int PortNumberOf(const std::string& name) {
    if (name.size() < 4 || name.size() > 6)
        return 0;
    const std::string prefix = name.substr(0, 3);
    if (!std::equal(prefix.begin(), prefix.end(), "COM", [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        }))
        return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number <= kHighestPortNumber ? number : 0;
}

// The text of every value of the key, each up to its first zero character: the registry does
// not promise one. Values that are not text are left out.
std::vector<std::string> TextValues(HKEY key) {
    DWORD count = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return {};
    std::vector<std::string> texts;
    std::string name(longestName + 1, '\0');
    std::string data(longestData, '\0');
    for (DWORD index = 0; index < count; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            continue;
        const std::string text = data.substr(0, std::min<std::size_t>(size, data.size()));
        texts.push_back(text.substr(0, text.find('\0')));
    }
    return texts;
}

} // namespace

OpenedSerialDevice OpenSerialDevice(const std::string& devicePath, int32_t baudRate) {
    // Share mode 0: while this handle is open, no other open of the port succeeds.
    const HANDLE handle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return Refused(OpenErrorKind(error),
                       std::error_code(static_cast<int>(error), std::system_category()));
    }
    auto device = std::make_unique<Win32SerialDevice>(handle);
    if (!ConfigureLine(handle, baudRate))
        return Refused(SerialErrorKind::SettingsRefused, LastError());
    return {std::move(device), {}};
}

// COM1 to COM9 are reserved names in every folder, so there is no per-program override here.
std::string PortDevicePath(const std::string&, int portNumber) {
    if (portNumber < 1 || portNumber > kHighestPortNumber)
        return {};
    return "\\\\.\\COM" + std::to_string(portNumber);
}

// The ports the registry's serial device map lists, once each, ascending by number. Entries that
// are not COM ports, or not text, are left out; a missing key lists nothing.
std::vector<SerialPortEntry> EnumerateSerialPorts(const std::string& appDir) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    std::vector<int> numbers;
    for (const std::string& text : TextValues(key)) {
        if (const int number = PortNumberOf(text); number > 0)
            numbers.push_back(number);
    }
    RegCloseKey(key);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<SerialPortEntry> ports;
    for (int number : numbers)
        ports.push_back({"COM" + std::to_string(number), PortDevicePath(appDir, number)});
    return ports;
}

} // namespace platform
