#include "protocol/Protocol.h"

#include <array>
#include <cctype>
#include <charconv>
#include <string_view>
#include <system_error>

#include "common/Errors.h"
#include "common/TextUtil.h"

namespace {

// Takes the text before the first comma and removes it with the comma. Without a comma the
// field is empty and the rest stays as it is.
std::string TakeCommaField(std::string& rest) {
    const std::size_t comma = rest.find(',');
    if (comma == std::string::npos)
        return {};
    std::string field = rest.substr(0, comma);
    rest.erase(0, comma + 1);
    return field;
}

// Removes up to count characters from the end; a text shorter than count keeps its characters,
// so a one-character rating serves as both current and voltage.
std::string RemoveLast(std::string_view text, std::size_t count) {
    if (text.size() < count)
        return std::string(text);
    return std::string(text.substr(0, text.size() - count));
}

// The last count characters, or the whole text when it is shorter.
std::string LastChars(std::string_view text, std::size_t count) {
    if (text.size() <= count)
        return std::string(text);
    return std::string(text.substr(text.size() - count));
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Advances over decimal digits; returns how many there were.
std::size_t SkipDigits(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && IsDigit(text[pos]))
        ++pos;
    return pos - start;
}

// [sign] digits [ "." digits ] [ (E|e) [sign] digits ], at least one mantissa digit. Checked
// here because from_chars would also take "inf", "nan" and other forms.
bool IsDecimalNumber(std::string_view text) {
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        ++pos;
    std::size_t mantissaDigits = SkipDigits(text, pos);
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        mantissaDigits += SkipDigits(text, pos);
    }
    if (mantissaDigits == 0)
        return false;
    if (pos < text.size() && (text[pos] == 'E' || text[pos] == 'e')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
            ++pos;
        if (SkipDigits(text, pos) == 0)
            return false;
    }
    return pos == text.size();
}

} // namespace

IdentityFields SplitIdentityReply(const std::string& reply) {
    std::string rest = TrimControl(reply);
    IdentityFields fields;
    TakeCommaField(rest);
    TakeCommaField(rest);
    TakeCommaField(rest);
    fields.serialNumber = TakeCommaField(rest);
    fields.version = TakeCommaField(rest);
    fields.model = rest;
    return fields;
}

ModelRating ModelRatings(const std::string& model) {
    std::string rest = model.size() > 3 ? model.substr(3) : std::string();
    ModelRating rating;
    rating.singlePreset =
        !rest.empty() && std::toupper(static_cast<unsigned char>(rest.back())) == 'A';
    if (!rest.empty())
        rest.pop_back();
    rating.ratedCurrent = TextToInt(LastChars(rest, 2));
    rating.ratedVoltage = TextToInt(RemoveLast(rest, 2));
    return rating;
}

ReadingsTexts SplitReadingsReply(const std::string& reply) {
    std::string rest = reply;
    ReadingsTexts texts;
    texts.voltage = TrimControl(TakeCommaField(rest));
    texts.current = TrimControl(TakeCommaField(rest));
    texts.power = TrimControl(rest);
    return texts;
}

double MeasurementToDouble(const std::string& text) {
    const std::string trimmed = TrimControl(text);
    std::string_view number = trimmed;
    double value = 0;
    if (IsDecimalNumber(number)) {
        // from_chars takes no leading "+".
        if (number.front() == '+')
            number.remove_prefix(1);
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec == std::errc() && end == number.data() + number.size())
            return value;
    }
    throw EConvertError("'" + text + "' is not a valid floating point value");
}

std::string SetpointText(double value) {
    // Wide enough for the largest double in fixed notation.
    std::array<char, 400> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                         std::chars_format::fixed, 2);
    if (ec != std::errc())
        throw EConvertError("setpoint cannot be written as text");
    return std::string(buffer.data(), end);
}
