// Application directory, port settings and one-shot access to profile files.

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/Errors.h"
#include "common/ProfileFile.h"
#include "common/TextUtil.h"
#include "common/uCheckAll.h"
#include "platform/Platform.h"

std::string AppDir;
std::string ComPortName = "com1";
int32_t ComBaudRate = 115200;
RecordSettings Recording;

namespace {

const char* const kSettingsFileName = "config.ini";
const char* const kComSection = "com Info";
const char* const kPortKey = "com";
const char* const kBaudKey = "baut";
const char* const kRecordSection = "record";

std::string SettingsFile() {
    return AppDir + kSettingsFileName;
}

enum class ReadResult { Read, Missing, Failed };

ReadResult ReadWholeFile(const std::string& fileName, std::string& content) {
    std::error_code ec;
    const auto status = std::filesystem::status(fileName, ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return ReadResult::Missing;
    if (ec || !std::filesystem::is_regular_file(status))
        return ReadResult::Failed;
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return ReadResult::Failed;
    std::string data;
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        data.append(buffer, static_cast<size_t>(in.gcount()));
    if (in.bad())
        return ReadResult::Failed;
    content = std::move(data);
    return ReadResult::Read;
}

} // namespace

std::string DirectoryOfExecutable(const std::string& exePath) {
    // ':' ends a drive name only where the separator is '\'; elsewhere it is an ordinary character.
    const char separator = platform::PathSeparator();
    const std::string cutAfter = separator == '\\' ? std::string("\\:") : std::string(1, separator);
    const size_t last = exePath.find_last_of(cutAfter);
    return last == std::string::npos ? std::string() : exePath.substr(0, last + 1);
}

void InitAppDir() {
    const std::string exePath = platform::ExecutablePath();
    const std::string directory = DirectoryOfExecutable(exePath);
    // An empty AppDir would silently mean the current directory.
    if (directory.empty())
        throw std::runtime_error("Unable to find the directory of the program '" + exePath + "'");
    AppDir = directory;
}

std::string IniReadString(const std::string& fileName, const std::string& section,
                          const std::string& key, const std::string& defaultValue) {
    try {
        std::string content;
        if (ReadWholeFile(fileName, content) != ReadResult::Read)
            return defaultValue;
        return ProfileRead(content, section, key).value_or(defaultValue);
    } catch (const std::exception&) {
        // A read never fails: whatever stops it yields the default.
        return defaultValue;
    }
}

void IniWriteString(const std::string& fileName, const std::string& section, const std::string& key,
                    const std::string& value) {
    std::string content;
    // A file that exists but cannot be read is not rewritten, or its other lines would be lost.
    if (ReadWholeFile(fileName, content) == ReadResult::Failed ||
        !platform::ReplaceFileAtomically(fileName, ProfileWrite(content, section, key, value)))
        throw EWriteError("Unable to write to " + fileName);
}

void IniWriteInteger(const std::string& fileName, const std::string& section,
                     const std::string& key, int32_t value) {
    IniWriteString(fileName, section, key, std::to_string(value));
}

bool LoadComSettings() {
    const std::string fileName = SettingsFile();
    ComPortName = IniReadString(fileName, kComSection, kPortKey, "com1");
    ComBaudRate = TextToInt(IniReadString(fileName, kComSection, kBaudKey, "115200"));
    return true;
}

bool SaveComSettings() {
    const std::string fileName = SettingsFile();
    IniWriteString(fileName, kComSection, kPortKey, ComPortName);
    IniWriteInteger(fileName, kComSection, kBaudKey, ComBaudRate);
    return true;
}

void LoadRecordSettings() {
    const std::string fileName = SettingsFile();
    const std::string enabled = IniReadString(fileName, kRecordSection, "enabled", "1");
    int32_t value = 1;
    if (!TryTextToInt(enabled, value)) {
        value = 1;
        WriteConsoleLine("config.ini [record] enabled=" + enabled + " 不是整数，记录保持开启。");
    }
    Recording.enabled = value != 0;
    Recording.dir = IniReadString(fileName, kRecordSection, "dir", "");
}

std::string RecordingBase() {
    const std::string base = AddTrailingSeparator(Recording.dir);
    if (base.empty())
        return AppDir + "Data" + platform::PathSeparator();
    return std::filesystem::path(base).is_relative() ? AppDir + base : base;
}
