// The readings reply and its numbers: the split never fails and gives the trimmed fields between
// the commas; MeasurementToDouble throws nothing but EConvertError naming the text, and agrees
// with the C library's conversion wherever the text is a plain decimal number.

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "common/Errors.h"
#include "common/TextUtil.h"
#include "fuzz/FuzzSupport.h"
#include "protocol/Protocol.h"

namespace {

void CheckSplit(const std::string& reply) {
    const ReadingsTexts texts = SplitReadingsReply(reply);
    for (const std::string* field : {&texts.voltage, &texts.current, &texts.power})
        fuzz::Check(fuzz::IsTrimmed(*field), "a readings field is not trimmed");
    // A field whose comma is missing stays empty; the power takes what is left.
    const std::vector<std::string> parts = fuzz::SplitAtCommas(reply);
    const size_t commas = parts.size() - 1;
    fuzz::Check(texts.voltage == (commas >= 1 ? TrimControl(parts[0]) : ""), "wrong voltage");
    fuzz::Check(texts.current == (commas >= 2 ? TrimControl(parts[1]) : ""), "wrong current");
    fuzz::Check(texts.power == TrimControl(fuzz::JoinFrom(parts, std::min<size_t>(commas, 2))),
                "wrong power");
}

// The value strtod gives when it takes the whole text as a plain decimal number (no "inf",
// "nan" or hexadecimal forms, no overflow or underflow), else nothing.
std::optional<double> PlainDecimalValue(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE)
        return std::nullopt;
    return value;
}

void CheckMeasurement(const std::string& text) {
    const std::optional<double> expected = PlainDecimalValue(TrimControl(text));
    try {
        const double value = MeasurementToDouble(text);
        fuzz::Check(std::isfinite(value), "a measurement converted to a value that is not finite");
        fuzz::Check(!expected || value == *expected, "a measurement converted to another value");
    } catch (const EConvertError& error) {
        fuzz::Check(!expected, "a plain decimal number was refused");
        fuzz::Check(fuzz::MessageIs(error, "'" + text + "' is not a valid floating point value"),
                    "the conversion error does not name the text");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply = fuzz::AsText(data, size);
    CheckSplit(reply);
    const ReadingsTexts texts = SplitReadingsReply(reply);
    for (const std::string* field : {&texts.voltage, &texts.current, &texts.power})
        CheckMeasurement(*field);
    CheckMeasurement(reply);
    return 0;
}
