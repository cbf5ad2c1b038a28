#include <gtest/gtest.h>

#include <optional>

#include "common/Errors.h"
#include "common/TextUtil.h"

namespace {

struct IntCase {
    const char* text;
    std::optional<int32_t> value; // nothing = conversion failure
};

// Names the case by its text, so that test names stay the same from run to run.
void PrintTo(const IntCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

const IntCase kIntCases[] = {
    {"9600", 9600},
    {"0", 0},
    {"+17", 17},
    {"-17", -17},
    {"   42", 42},
    {"007", 7},
    {"$2580", 9600},
    {"x2580", 9600},
    {"X2580", 9600},
    {"0x2580", 9600},
    {"0X2580", 9600},
    {"$ff", 255},
    {"$FF", 255},
    {"-$10", -16},
    {"+0x10", 16},
    {"2147483647", 2147483647},
    {"-2147483648", INT32_MIN},
    {"$7FFFFFFF", 2147483647},
    {"-$80000000", INT32_MIN},
    {"0000000000002147483647", 2147483647},
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"+", std::nullopt},
    {"-", std::nullopt},
    {"$", std::nullopt},
    {"0x", std::nullopt},
    {"-0x", std::nullopt},
    {"9600 ", std::nullopt},
    {"9600bps", std::nullopt},
    {"\t9600", std::nullopt},
    {"- 5", std::nullopt},
    {"+-5", std::nullopt},
    {"$-10", std::nullopt},
    {"12.5", std::nullopt},
    {"ff", std::nullopt},
    {"$fg", std::nullopt},
    {"2147483648", std::nullopt},
    {"-2147483649", std::nullopt},
    {"$80000000", std::nullopt},
    {"$FFFFFFFF", std::nullopt},
    {"99999999999999999999", std::nullopt},
};

class TextToIntTable : public ::testing::TestWithParam<IntCase> {};

TEST_P(TextToIntTable, ConvertsOrFailsWithTheText) {
    const IntCase& c = GetParam();
    int32_t value = -999;
    EXPECT_EQ(TryTextToInt(c.text, value), c.value.has_value()) << "'" << c.text << "'";
    if (c.value) {
        EXPECT_EQ(value, *c.value);
        EXPECT_EQ(TextToInt(c.text), *c.value);
    } else {
        EXPECT_EQ(value, -999) << "a failed conversion must leave the value alone";
        try {
            TextToInt(c.text);
            ADD_FAILURE() << "no error for '" << c.text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.what(), "'" + std::string(c.text) + "' is not a valid integer value");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TextToIntTable, ::testing::ValuesIn(kIntCases));

TEST(TextToInt, ZeroByteInsideTheTextFails) {
    int32_t value = 0;
    EXPECT_FALSE(TryTextToInt(std::string("96\0"
                                          "00",
                                          5),
                              value));
}

TEST(TrimControl, DropsCodesUpTo32AtBothEndsOnly) {
    EXPECT_EQ(TrimControl(" \t\r\n\x01 a b\x1f\x20"), "a b");
    EXPECT_EQ(TrimControl(std::string("\0x\0", 3)), "x");
    EXPECT_EQ(TrimControl("\x7f"
                          "a\x80"),
              "\x7f"
              "a\x80"); // 127 and 128 are not control here
    EXPECT_EQ(TrimControl(" \n\t "), "");
    EXPECT_EQ(TrimControl(""), "");
}

} // namespace
