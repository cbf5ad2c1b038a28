#include "common/ProfileFile.h"

#include "common/TextUtil.h"

namespace {

// One line of the content: [start, textEnd) is its text without the line end, next is where the
// following line starts (equal to textEnd when the line has no end).
struct Line {
    size_t start = 0;
    size_t textEnd = 0;
    size_t next = 0;
};

bool NextLine(std::string_view content, size_t from, Line& line) {
    if (from >= content.size())
        return false;
    const size_t lf = content.find('\n', from);
    line.start = from;
    line.next = lf == std::string_view::npos ? content.size() : lf + 1;
    line.textEnd = lf == std::string_view::npos ? content.size() : lf;
    if (line.textEnd > from && content[line.textEnd - 1] == '\r')
        --line.textEnd;
    return true;
}

std::string_view LineText(std::string_view content, const Line& line) {
    return content.substr(line.start, line.textEnd - line.start);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The section name of a header line ("[name]", the name up to the last "]"), or nothing.
std::optional<std::string_view> SectionName(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty() || text.front() != '[')
        return std::nullopt;
    text.remove_prefix(1);
    const size_t close = text.rfind(']');
    return TrimBlanks(close == std::string_view::npos ? text : text.substr(0, close));
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> SplitKeyLine(std::string_view text) {
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return KeyValue{TrimBlanks(text.substr(0, eq)), TrimBlanks(text.substr(eq + 1))};
}

std::string_view CutAtLineEnd(std::string_view text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

std::string_view CleanName(std::string_view text) {
    return TrimBlanks(CutAtLineEnd(text));
}

std::string KeyLine(std::string_view key, std::string_view value) {
    return std::string(key) + "=" + std::string(value) + "\r\n";
}

// Where the first section of that name is, and where its key is or a new key would go.
struct Position {
    bool sectionFound = false;
    bool keyFound = false;
    Line keyLine;        // the key's line, when found
    Line lastFilledLine; // the header or the section's last non-blank line, when no key was found
};

Position Locate(std::string_view content, std::string_view section, std::string_view key) {
    Position pos;
    bool inSection = false;
    Line line;
    for (size_t at = 0; NextLine(content, at, line); at = line.next) {
        const std::string_view text = LineText(content, line);
        if (const auto name = SectionName(text)) {
            if (inSection)
                break;
            if (SameIgnoringCase(*name, section)) {
                inSection = true;
                pos.sectionFound = true;
                pos.lastFilledLine = line;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!TrimBlanks(text).empty())
            pos.lastFilledLine = line;
        const auto keyValue = SplitKeyLine(text);
        if (keyValue && SameIgnoringCase(keyValue->key, key)) {
            pos.keyFound = true;
            pos.keyLine = line;
            break;
        }
    }
    return pos;
}

// Ends the last line so that a new one can follow. A final CR already ends that line for a read,
// so it only gets its LF; a CR LF after it would make the CR part of the line's text.
void EndLastLine(std::string& content) {
    if (!content.empty() && content.back() != '\n')
        content.append(content.back() == '\r' ? "\n" : "\r\n");
}

} // namespace

std::optional<std::string> ProfileRead(std::string_view content, std::string_view section,
                                       std::string_view key) {
    const Position pos = Locate(content, CleanName(section), CleanName(key));
    if (!pos.keyFound)
        return std::nullopt;
    const Line& line = pos.keyLine;
    const auto keyValue = SplitKeyLine(LineText(content, line));
    return std::string(keyValue->value.substr(0, kMaxProfileValueLength));
}

std::string ProfileWrite(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value) {
    const std::string_view cleanSection = CleanName(section);
    const std::string_view cleanKey = CleanName(key);
    const std::string_view cleanValue = CleanName(value);
    const Position pos = Locate(content, cleanSection, cleanKey);

    std::string result;
    if (pos.keyFound) {
        // The key keeps the spelling it has in the file; only its value changes.
        const Line& line = pos.keyLine;
        const auto existing = SplitKeyLine(LineText(content, line));
        result.append(content.substr(0, line.start));
        result.append(KeyLine(existing->key, cleanValue));
        result.append(content.substr(line.next));
        return result;
    }
    const std::string keyLine = KeyLine(cleanKey, cleanValue);
    result.reserve(content.size() + keyLine.size() + cleanSection.size() + 6);
    if (pos.sectionFound) {
        const size_t insertAt = pos.lastFilledLine.next;
        result.append(content.substr(0, insertAt));
        EndLastLine(result);
        result.append(keyLine);
        result.append(content.substr(insertAt));
        return result;
    }
    result.append(content);
    EndLastLine(result);
    result.append("[").append(cleanSection).append("]\r\n").append(keyLine);
    return result;
}
