// The Windows side of the system layer: separator, own path, local time, atomic file replacement,
// files of appended rows.

#include <string>
#include <windows.h>

#include "platform/Platform.h"

namespace platform {

char PathSeparator() {
    return '\\';
}

std::string ExecutablePath() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::string();
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        // The path was cut to the buffer; try again with more room.
        buffer.resize(buffer.size() * 2);
    }
}

LocalDateTime SystemLocalNow() {
    TIME_ZONE_INFORMATION zone{};
    const DWORD zoneState = GetTimeZoneInformation(&zone);
    SYSTEMTIME local{};
    GetLocalTime(&local);
    // Bias is what is added to local time to get UTC, in minutes.
    LONG bias = zone.Bias;
    if (zoneState == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (zoneState == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    LocalDateTime result;
    result.year = local.wYear;
    result.month = local.wMonth;
    result.day = local.wDay;
    result.hour = local.wHour;
    result.minute = local.wMinute;
    result.second = local.wSecond;
    result.millisecond = local.wMilliseconds;
    result.utcOffsetMinutes = zoneState == TIME_ZONE_ID_INVALID ? 0 : static_cast<int>(-bias);
    return result;
}

namespace {

bool WriteAll(HANDLE file, const std::string& content) {
    std::size_t written = 0;
    while (written < content.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(content.size() - written, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(file, content.data() + written, chunk, &n, nullptr) || n == 0)
            return false;
        written += n;
    }
    return true;
}

// The attributes a replacement carries over from the file it replaces.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// An existing target must be a file that is not read-only; a missing one is created.
bool TargetAcceptsWrite(const std::string& target, DWORD& attributes) {
    attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        attributes = FILE_ATTRIBUTE_NORMAL;
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return false;
    attributes &= kKeptAttributes;
    if (attributes == 0)
        attributes = FILE_ATTRIBUTE_NORMAL;
    return true;
}

// Creates a fresh temporary file beside the target; INVALID_HANDLE_VALUE when none can be made.
HANDLE CreateTemporaryBeside(const std::string& target, DWORD attributes, std::string& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath =
            target + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        const HANDLE file = CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& content) {
    DWORD attributes = 0;
    if (!TargetAcceptsWrite(path, attributes))
        return false;
    std::string tempPath;
    const HANDLE file = CreateTemporaryBeside(path, attributes, tempPath);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = WriteAll(file, content) && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    ok = ok && MoveFileExA(tempPath.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileA(tempPath.c_str());
        return false;
    }
    return true;
}

namespace {

std::error_code LastFileError() {
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

// The only writer of a new file (others may only read it), so its end is where the last row
// ended.
class Win32RecordFile final : public RecordFile {
public:
    explicit Win32RecordFile(HANDLE file) : file_(file) {}
    ~Win32RecordFile() override { CloseHandle(file_); }
    Win32RecordFile(const Win32RecordFile&) = delete;
    Win32RecordFile& operator=(const Win32RecordFile&) = delete;

    std::error_code Append(const std::string& text) override {
        DWORD written = 0;
        const BOOL ok =
            WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        if (ok && written == text.size()) {
            size_.QuadPart += written;
            return {};
        }
        // A short write stopped for want of room: cut it off, so no torn row stays behind. Should
        // even that fail, the caller learns so from the error.
        const std::error_code error =
            ok ? std::make_error_code(std::errc::no_space_on_device) : LastFileError();
        if (written > 0 &&
            (!SetFilePointerEx(file_, size_, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)))
            return LastFileError();
        return error;
    }

    std::error_code Sync() override {
        if (!FlushFileBuffers(file_))
            return LastFileError();
        return {};
    }

private:
    HANDLE file_;
    LARGE_INTEGER size_{};
};

} // namespace

CreatedRecordFile CreateRecordFile(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Said the portable way: callers compare with std::errc::file_exists.
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            return {nullptr, std::make_error_code(std::errc::file_exists)};
        return {nullptr, std::error_code(static_cast<int>(error), std::system_category())};
    }
    return {std::make_unique<Win32RecordFile>(file), {}};
}

} // namespace platform
