// The daily log files and the two path helpers they use.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "common/Clock.h"
#include "common/TextUtil.h"
#include "common/uCheckAll.h"
#include "platform/Platform.h"

namespace {

namespace fs = std::filesystem;

// Serialises every WriteLog call of the process.
std::mutex LogLock;

std::string DateText(const LocalDateTime& now) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", now.year, now.month, now.day);
    return text;
}

std::string StampText(const LocalDateTime& now) {
    char text[64];
    std::snprintf(text, sizeof text, "[%s %02d:%02d:%02d:%03d] ", DateText(now).c_str(), now.hour,
                  now.minute, now.second, now.millisecond);
    return text;
}

bool EnsureDirectory(const std::string& directory) {
    std::error_code ec;
    if (fs::is_directory(directory, ec))
        return true;
    fs::create_directories(directory, ec);
    return fs::is_directory(directory, ec);
}

void AppendLine(const std::string& path, const std::string& line) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out.close();
}

// The day's file found without regard to letter case, as on a file system that ignores it, so
// that "comm" and "COMM" share one file named as whichever line created it. A file of exactly that
// name wins over one that differs only in case.
std::string DayFilePath(const std::string& directory, const std::string& fileName) {
    std::error_code ec;
    if (fs::exists(directory + fileName, ec))
        return directory + fileName;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string existing = it->path().filename().string();
        if (SameIgnoringCase(existing, fileName))
            return directory + existing;
    }
    return directory + fileName;
}

void WriteLogLocked(const std::string& text, const std::string& channel) {
    // One reading of the clock, so the file's day and the line's stamp always agree.
    const LocalDateTime now = LocalNow();
    const std::string separator(1, platform::PathSeparator());
    const std::string logRoot = AppDir + "Log" + separator;
    DeleteTree(logRoot + std::to_string(now.year - 2));

    const std::string dayDirectory =
        logRoot + std::to_string(now.year) + separator + std::to_string(now.month);
    if (!EnsureDirectory(dayDirectory))
        return;
    const std::string fileName = DateText(now) + "__" + channel + ".log";
    AppendLine(DayFilePath(dayDirectory + separator, fileName), StampText(now) + text + "\r\n");
}

// Deletes one entry of a tree walk: a directory with its content, anything else (a link too) alone.
bool DeleteEntry(const std::string& entry) {
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(entry, ec)))
        return DeleteTree(entry);
    fs::remove(entry, ec);
    return !ec;
}

} // namespace

void WriteConsoleLine(const std::string& text) {
    const std::string line = StampText(LocalNow()) + text + "\n";
    // One write, so lines of two threads never interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void WriteLog(const std::string& text, const std::string& channel) {
    try {
        std::lock_guard lock(LogLock);
        WriteLogLocked(text, channel);
    } catch (...) {
        // The log never reports a failure of its own; the line is dropped.
    }
}

std::string AddTrailingSeparator(const std::string& path) {
    std::string result = TrimControl(path);
    if (!result.empty() && result.back() != platform::PathSeparator())
        result.push_back(platform::PathSeparator());
    return result;
}

bool DeleteTree(const std::string& directory) {
    std::error_code ec;
    // Only a real directory is walked; a symbolic link is never followed out of the tree.
    if (!fs::is_directory(fs::symlink_status(directory, ec)))
        return true;
    const std::string prefix = AddTrailingSeparator(directory);
    std::error_code listError;
    for (fs::directory_iterator it(directory, listError), end; !listError && it != end;
         it.increment(listError)) {
        if (!DeleteEntry(prefix + it->path().filename().string()))
            return false;
    }
    // A listing that broke off leaves entries behind, and then this removal fails.
    fs::remove(directory, ec);
    return !ec;
}
