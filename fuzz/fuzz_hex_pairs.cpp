// HexPairsToText: any bytes written as pairs of either case come back unchanged; any other text
// decodes one character per pair or throws EConvertError because a pair is not hexadecimal.

#include <cctype>

#include "common/Errors.h"
#include "common/uCheckAll.h"
#include "fuzz/FuzzSupport.h"

namespace {

// Upper-case digits for even positions, lower-case for odd ones, so both cases are decoded.
std::string ToMixedCaseHexPairs(std::string_view bytes) {
    static constexpr char kUpper[] = "0123456789ABCDEF";
    static constexpr char kLower[] = "0123456789abcdef";
    std::string pairs;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char* digits = i % 2 == 0 ? kUpper : kLower;
        const auto code = static_cast<unsigned char>(bytes[i]);
        pairs += digits[code >> 4];
        pairs += digits[code & 0x0F];
    }
    return pairs;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool AllHexDigits(std::string_view text) {
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::AsText(data, size);
    fuzz::Check(HexPairsToText(ToMixedCaseHexPairs(input)) == input,
                "bytes written as hexadecimal pairs do not decode to themselves");

    // A final unpaired character is ignored, so only the paired part counts.
    const std::string_view paired = std::string_view(input).substr(0, size / 2 * 2);
    try {
        const std::string decoded = HexPairsToText(input);
        fuzz::Check(AllHexDigits(paired), "a pair that is not hexadecimal was decoded");
        fuzz::Check(SameIgnoringCase(ToMixedCaseHexPairs(decoded), paired),
                    "decoded text does not encode back to its pairs");
    } catch (const EConvertError&) {
        fuzz::Check(!AllHexDigits(paired), "hexadecimal pairs were refused");
    }
    return 0;
}
