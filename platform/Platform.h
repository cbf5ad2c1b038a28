#pragma once
// The operating-system layer. One implementation file per platform (*_linux.cpp, *_win32.cpp).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

// A local date and time with milliseconds, and how far local time is ahead of UTC.
struct LocalDateTime {
    int year = 0;
    int month = 0; // 1..12
    int day = 0;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int utcOffsetMinutes = 0;
};

// The path separator of the platform ("/" or "\").
char PathSeparator();

// The full path of the running executable, as the system reports it; empty when unknown.
std::string ExecutablePath();

// The system's local date and time with milliseconds.
LocalDateTime SystemLocalNow();

// Replaces the file's whole content so that a crash, a kill or a full disk leaves the old content
// or the new, never a mix (a temporary file beside it, flushed, then renamed over it). Returns
// false when the write was refused; the old file then stays as it was.
bool ReplaceFileAtomically(const std::string& path, const std::string& content);

// A file that rows are appended to, each row with one write so that a killed process leaves
// every row it wrote whole. Closed when destroyed.
class RecordFile {
public:
    virtual ~RecordFile() = default;
    // Appends the text with one write. A write that the system cuts short (a full disk) is taken
    // back, so that the file never ends in part of a row; the error says why.
    virtual std::error_code Append(const std::string& text) = 0;
    // Puts what was appended on the disk itself (fdatasync, FlushFileBuffers).
    virtual std::error_code Sync() = 0;
};

struct CreatedRecordFile {
    std::unique_ptr<RecordFile> file; // empty on failure
    std::error_code error;            // why; std::errc::file_exists when the name is taken
};

// Creates a new file for appending rows; never opens one that exists already.
CreatedRecordFile CreateRecordFile(const std::string& path);

// Why a serial call failed; systemError keeps the system's own error where there is one.
enum class SerialErrorKind {
    None,
    DeviceMissing,   // no device at the path (or it went away)
    PortBusy,        // another program holds the port
    AccessDenied,    // the device exists but may not be opened by this user
    SettingsRefused, // the line settings (the baud rate) were refused
    Failed,          // any other failure of the system call
};

struct SerialError {
    SerialErrorKind kind = SerialErrorKind::None;
    std::error_code systemError;
};

// An open serial port, exclusively held until the object is destroyed (which closes it).
class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    // Writes up to size bytes; returns the count written, or -1 on failure.
    virtual long Write(const char* data, std::size_t size) = 0;
    // Bytes in the receive queue, or -1 when the port failed (hang-up, device gone).
    virtual long BytesWaiting() = 0;
    // Reads up to size bytes that are already there, without waiting; -1 on failure.
    virtual long Read(char* buffer, std::size_t size) = 0;
    // Blocks until input arrives, the port fails, or timeoutMs passes. Returns false on failure.
    virtual bool WaitReadable(int timeoutMs) = 0;
    // Throws away everything in the receive queue.
    virtual void PurgeInput() = 0;
};

struct OpenedSerialDevice {
    std::unique_ptr<SerialDevice> device; // empty on failure, and then nothing stays open
    SerialError error;                    // why it is empty
};

// Opens the device exclusively and sets it up raw at the given baud rate, 8N1.
OpenedSerialDevice OpenSerialDevice(const std::string& devicePath, int32_t baudRate);

// The device that serves port number n. On Linux appDir + "ports/comN" when it exists, else the
// fixed map; on Windows "\\.\COMn". Empty when n has no device.
std::string PortDevicePath(const std::string& appDir, int portNumber);

struct SerialPortEntry {
    std::string name;       // "COM3"
    std::string devicePath; // what it opens
};

// Every port the system knows, once each, ascending by number: on Linux the ports whose device
// exists, leaving out serial devices without a UART; on Windows the registry's serial device map.
std::vector<SerialPortEntry> EnumerateSerialPorts(const std::string& appDir);

} // namespace platform
