#pragma once
// Counting what the program wrote: texts in a file's content, lines in the daily log.

#include <cstddef>
#include <string>

namespace testsupport {

// Occurrences of the text in the haystack, not overlapping.
std::size_t CountOf(const std::string& haystack, const std::string& text);

// How often the text occurs in the log files of the channel under appDir.
std::size_t LogCount(const std::string& appDir, const std::string& channel,
                     const std::string& text);

} // namespace testsupport
