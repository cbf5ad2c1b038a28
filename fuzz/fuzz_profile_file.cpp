// The profile reader and writer on any content: after ProfileWrite the key reads back as the
// value (as the writer normalises it), every line the key does not own stays byte for byte, and
// every other key of the content reads as it did.

#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

#include "common/ProfileFile.h"
#include "fuzz/FuzzSupport.h"

namespace {

// Other keys compared per input; enough to reach every line of a small content.
constexpr int kMaxOtherKeys = 32;

// The writer's rule for names and values: cut at the first CR or LF, blanks dropped at both ends.
std::string_view Clean(std::string_view text) {
    text = text.substr(0, text.find_first_of("\r\n"));
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    a = Clean(a);
    b = Clean(b);
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// A key the line format can hold: with "=" in it its line would split earlier, and beginning
// with "[" its line would read as a section header.
bool IsExpressibleKey(std::string_view key) {
    key = Clean(key);
    return key.find('=') == std::string_view::npos && (key.empty() || key.front() != '[');
}

// The key named by a "key=value" line, or nothing for a line without "=".
std::optional<std::string_view> KeyOfLine(std::string_view line) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return line.substr(0, eq);
}

// The content cut after each LF; the last piece lacks one when the content does not end in it.
std::vector<std::string_view> RawLines(std::string_view content) {
    std::vector<std::string_view> lines;
    while (!content.empty()) {
        const size_t lf = content.find('\n');
        const size_t length = lf == std::string_view::npos ? content.size() : lf + 1;
        lines.push_back(content.substr(0, length));
        content.remove_prefix(length);
    }
    return lines;
}

// A line as it was; the last line, which lacked its end, may have gained one so that a new line
// can follow: CR LF, or only the LF after a final CR.
bool Kept(std::string_view before, std::string_view after) {
    if (before == after)
        return true;
    if (before.back() == '\n' || after.substr(0, before.size()) != before)
        return false;
    return after.substr(before.size()) == (before.back() == '\r' ? "\n" : "\r\n");
}

// The new content is the old one with one line replaced (the key's own), one line inserted (a
// new key in its section), two lines appended (a new section and its key), or nothing changed
// (the key's line already read as the writer writes it).
void CheckOtherLinesKept(std::string_view content, std::string_view written, std::string_view key) {
    const std::vector<std::string_view> before = RawLines(content);
    const std::vector<std::string_view> after = RawLines(written);
    size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && Kept(before[prefix], after[prefix]))
        ++prefix;
    size_t suffix = 0;
    while (prefix + suffix < before.size() && prefix + suffix < after.size() &&
           Kept(before[before.size() - 1 - suffix], after[after.size() - 1 - suffix]))
        ++suffix;
    const size_t lost = before.size() - prefix - suffix;
    const size_t added = after.size() - prefix - suffix;
    if (lost == 1) {
        fuzz::Check(added == 1, "a line was replaced by more than one");
        const auto ownKey = KeyOfLine(before[prefix]);
        fuzz::Check(ownKey && SameName(*ownKey, key), "a line the key does not own was replaced");
        return;
    }
    fuzz::Check(lost == 0, "lines the key does not own were lost or changed");
    fuzz::Check(added <= 1 || (added == 2 && prefix == before.size()),
                "more lines were added than a key and its section");
}

// Every key named in the old content, other than the one written, reads as it did.
void CheckOtherKeysRead(std::string_view content, std::string_view written,
                        std::string_view section, std::string_view key) {
    std::string_view lineSection;
    int compared = 0;
    for (const std::string_view line : RawLines(content)) {
        const std::string_view text = Clean(line);
        if (!text.empty() && text.front() == '[') {
            lineSection = text.substr(1, text.rfind(']') - 1);
            continue;
        }
        const auto lineKey = KeyOfLine(text);
        if (!lineKey || (SameName(lineSection, section) && SameName(*lineKey, key)))
            continue;
        fuzz::Check(ProfileRead(content, lineSection, *lineKey) ==
                        ProfileRead(written, lineSection, *lineKey),
                    "a write changed what another key reads");
        if (++compared == kMaxOtherKeys)
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string value = input.ConsumeRandomLengthString(3 * kMaxProfileValueLength / 2);
    const std::string content = input.ConsumeRemainingBytesAsString();

    const std::string written = ProfileWrite(content, section, key, value);
    CheckOtherLinesKept(content, written, key);
    if (!IsExpressibleKey(key))
        return 0;
    const std::string expected(Clean(value).substr(0, kMaxProfileValueLength));
    fuzz::Check(ProfileRead(written, section, key) == expected,
                "the key does not read back as the value written");
    CheckOtherKeysRead(content, written, section, key);
    return 0;
}
