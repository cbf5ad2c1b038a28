#include "record/CsvFormat.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/ProfileFile.h"
#include "common/TextUtil.h"

const char* const kRecordingHeader = "time,sample,voltage_V,current_A,power_W,event\r\n";

namespace {

template <class... Args> std::string Format(const char* format, Args... args) {
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, static_cast<std::size_t>(length));
}

bool FitsFileName(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code > 32 && code != 127 && std::string_view("\\/:*?\"<>|").find(c) == std::string::npos;
}

} // namespace

std::string RecordingDirectory(const std::string& base, const platform::LocalDateTime& started) {
    const char separator = platform::PathSeparator();
    return base + std::to_string(started.year) + separator + std::to_string(started.month) +
           separator;
}

std::string RecordingStem(const platform::LocalDateTime& started, const std::string& portName) {
    std::string port = portName;
    for (char& c : port)
        if (!FitsFileName(c))
            c = '_';
    return Format("%04d-%02d-%02d_%02d%02d%02d_", started.year, started.month, started.day,
                  started.hour, started.minute, started.second) +
           port;
}

std::string CsvNumber(double value) {
    // to_chars never looks at the locale. Whole numbers (every sample) keep all their digits,
    // as a spreadsheet shows them, instead of the shorter 1e+06.
    const bool whole = std::abs(value) < 1e15 && value == std::trunc(value);
    char buffer[32];
    const auto result =
        whole ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
              : std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + '"';
}

std::string RecordingRow(const CycleRecord& record) {
    std::string row = IsoLocalTime(record.time) + ',' + CsvNumber(record.sample) + ',';
    if (record.reading)
        row += CsvNumber(record.reading->volts) + ',' + CsvNumber(record.reading->amperes) + ',' +
               CsvNumber(record.reading->watts) + ',';
    else
        row += ",,,";
    return row + CsvField(WireBytesToUtf8(record.event)) + "\r\n";
}

std::string DeviceProfile(const SupplyIdentity& identity) {
    const std::pair<const char*, std::string> keys[] = {
        {"port", identity.portName},
        {"baud", std::to_string(identity.baudRate)},
        {"model", WireBytesToUtf8(identity.model)},
        {"serial", WireBytesToUtf8(identity.serialNumber)},
        {"version", WireBytesToUtf8(identity.version)},
        {"rated_voltage_V", std::to_string(identity.ratedVoltage)},
        {"rated_current_A", std::to_string(identity.ratedCurrent)},
    };
    std::string content;
    for (const auto& [key, value] : keys)
        content = ProfileWrite(content, "device", key, value);
    return content;
}
