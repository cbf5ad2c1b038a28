#include "common/TextUtil.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/Errors.h"

std::string TrimControl(std::string_view text) {
    auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isControl(text[begin]))
        ++begin;
    while (end > begin && isControl(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

namespace {

// Length of a hexadecimal prefix at pos ("$", "x", "X", "0x", "0X"), or 0 when there is none.
size_t HexPrefixLength(const std::string& text, size_t pos) {
    if (pos >= text.size())
        return 0;
    const char c = text[pos];
    if (c == '$' || c == 'x' || c == 'X')
        return 1;
    if (c == '0' && pos + 1 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X'))
        return 2;
    return 0;
}

} // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool TryTextToInt(const std::string& text, int32_t& value) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const size_t prefix = HexPrefixLength(text, pos);
    const int base = prefix ? 16 : 10;
    pos += prefix;
    if (pos == text.size())
        return false;
    // The magnitude may reach 2^31 for the most negative value; one step past it already fails.
    const int64_t limit = negative ? int64_t{1} << 31 : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = HexDigitValue(text[pos]);
        if (digit < 0 || digit >= base)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return false;
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

int32_t TextToInt(const std::string& text) {
    int32_t value = 0;
    if (!TryTextToInt(text, value))
        throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}

std::string IsoLocalTime(const platform::LocalDateTime& time) {
    const int offset = std::abs(time.utcOffsetMinutes);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", time.year,
                  time.month, time.day, time.hour, time.minute, time.second, time.millisecond,
                  time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string WireBytesToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || code == 127)
            text += "\xEF\xBF\xBD";
        else if (code < 128)
            text += c;
        else {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}
