#pragma once
// A recording as a killed or starved process leaves it: the rows that are whole, and what
// follows the last line end.

#include <string>
#include <vector>

#include "record/CsvFormat.h"
#include "support/TestSupport.h"

namespace reliability {

struct RecordingFile {
    bool startsWithHeader = false;
    std::vector<std::string> rows; // whole rows without their CR LF, header left out
    std::string tail;              // after the last CR LF: empty, or a row cut short

    // The sample column of each whole row.
    std::vector<long> Samples() const {
        std::vector<long> samples;
        for (const std::string& row : rows) {
            const std::size_t comma = row.find(',');
            samples.push_back(std::stol(row.substr(comma + 1)));
        }
        return samples;
    }
};

inline RecordingFile ReadRecording(const std::string& path) {
    const std::string content = testsupport::ReadFile(path);
    const std::string header = kRecordingHeader;
    RecordingFile file;
    file.startsWithHeader = content.compare(0, header.size(), header) == 0;
    std::size_t start = file.startsWithHeader ? header.size() : 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        file.rows.push_back(content.substr(start, end - start));
    file.tail = content.substr(start);
    return file;
}

} // namespace reliability
