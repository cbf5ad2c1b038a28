#pragma once
// Our own reader and editor of profile files ("[section]" lines followed by "key=value" lines).
// Pure functions on the file's content, so they behave alike on every platform.
//
// Section and key names match without regard to ASCII letter case; blanks (space, tab) around
// names and values do not count. Lines end in LF or CR LF; the last line may lack its end.
// When a section or key occurs twice, the first one counts, for reading and for writing.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The longest value a read returns; longer values are cut.
inline constexpr std::size_t kMaxProfileValueLength = 2047;

// The value of the key in the section, or nothing when the section or the key is missing.
std::optional<std::string> ProfileRead(std::string_view content, std::string_view section,
                                       std::string_view key);

// The content with the key set to the value: the key's line is rewritten in place with the key
// spelt as it was, a missing key goes after the last non-blank line of its section, a missing
// section at the end. Every other line, the section's header too, stays byte for byte; lines
// written here end in CR LF and have no blanks around "=".
// Section, key and value are cut at their first CR or LF, since a line end inside them would
// break the file; blanks around them are dropped, as a read would drop them anyway.
std::string ProfileWrite(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value);
