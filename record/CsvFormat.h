#pragma once
// The text of a recording: its path, its rows and the identity file beside it. Pure functions, so
// that every rule of the format is tested without a disk.

#include <string>
#include <string_view>

#include "worker/ReadingSink.h"

// The header line, CR LF ended.
extern const char* const kRecordingHeader;

// base + "<year>/<month>/" (the month without a leading zero), with the platform's separator.
std::string RecordingDirectory(const std::string& base, const platform::LocalDateTime& started);

// "<yyyy-mm-dd>_<hhmmss>_<port>": the name of a worker's files without extension. Characters that
// a file name cannot hold become "_".
std::string RecordingStem(const platform::LocalDateTime& started, const std::string& portName);

// A number with "." as decimal mark whatever the locale, in its shortest exact form; whole
// numbers with all their digits.
std::string CsvNumber(double value);

// The field as RFC 4180 wants it: quoted (with inner quotes doubled) when it holds a comma, a
// quote or a line break.
std::string CsvField(std::string_view text);

// One CR LF ended row: time, sample, the three values ("." decimals, shortest exact form; empty
// when the cycle had no reading), event.
std::string RecordingRow(const CycleRecord& record);

// The [device] section of the identity file, in the profile format.
std::string DeviceProfile(const SupplyIdentity& identity);
