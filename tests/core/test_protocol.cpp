#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "common/Errors.h"
#include "protocol/Protocol.h"
#include "support/NumericLocale.h"

namespace {

// ---- Identity reply --------------------------------------------------------------------------

struct IdentityCase {
    std::string reply;
    std::string serialNumber, version, model;
};

void PrintTo(const IdentityCase& c, std::ostream* out) {
    *out << '"' << c.reply << '"';
}

class SplitIdentityReplyTest : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(SplitIdentityReplyTest, TakesFieldsFourAndFiveAndTheRest) {
    const IdentityCase& c = GetParam();
    const IdentityFields fields = SplitIdentityReply(c.reply);
    EXPECT_EQ(fields.serialNumber, c.serialNumber);
    EXPECT_EQ(fields.version, c.version);
    EXPECT_EQ(fields.model, c.model);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SplitIdentityReplyTest,
    ::testing::Values(
        IdentityCase{"ABC,DEF,1,SN77A,V1.2,XYZ3010A", "SN77A", "V1.2", "XYZ3010A"},
        // Blanks, tabs and line ends around the reply reach neither the first field nor the mark.
        IdentityCase{" \t ABC,DEF,1,SN77A,V1.2,XYZ3010A \t\r", "SN77A", "V1.2", "XYZ3010A"},
        // Fields are not trimmed one by one.
        IdentityCase{"A, B,C, SN ,V1 , XYZ6005N", " SN ", "V1 ", " XYZ6005N"},
        // Further commas stay in the model text.
        IdentityCase{"A,B,C,D,E,F,G", "D", "E", "F,G"}, IdentityCase{"A,B,C,D,E,", "D", "E", ""},
        // Fewer than five commas: the missing fields are empty, the model follows the last comma.
        IdentityCase{"A,B,C,SN,V1", "SN", "", "V1"}, IdentityCase{"A,B,C,SN", "", "", "SN"},
        IdentityCase{"A,B", "", "", "B"}, IdentityCase{"  XYZ3010A  ", "", "", "XYZ3010A"},
        IdentityCase{"", "", "", ""}, IdentityCase{",,,,,", "", "", ""}));

// ---- Rated values ----------------------------------------------------------------------------

struct RatingCase {
    std::string model;
    bool singlePreset;
    int32_t current, voltage;
};

void PrintTo(const RatingCase& c, std::ostream* out) {
    *out << c.model;
}

class ModelRatingsTest : public ::testing::TestWithParam<RatingCase> {};

TEST_P(ModelRatingsTest, DerivesMarkCurrentAndVoltage) {
    const RatingCase& c = GetParam();
    const ModelRating rating = ModelRatings(c.model);
    EXPECT_EQ(rating.singlePreset, c.singlePreset);
    EXPECT_EQ(rating.ratedCurrent, c.current);
    EXPECT_EQ(rating.ratedVoltage, c.voltage);
}

INSTANTIATE_TEST_SUITE_P(
    Models, ModelRatingsTest,
    ::testing::Values(RatingCase{"XYZ3010A", true, 10, 30}, RatingCase{"XYZ6005N", false, 5, 60},
                      RatingCase{"XYZ3010a", true, 10, 30}, RatingCase{"XYZ12005B", false, 5, 120},
                      RatingCase{"XYZ305A", true, 5, 3},
                      // One character serves as current and voltage.
                      RatingCase{"XYZ7N", false, 7, 7}, RatingCase{"XYZ0000A", true, 0, 0}));

struct RatingFailure {
    std::string model;
    std::string failingText; // the text the error names
};

void PrintTo(const RatingFailure& c, std::ostream* out) {
    *out << '"' << c.model << '"';
}

class ModelRatingsFailureTest : public ::testing::TestWithParam<RatingFailure> {};

TEST_P(ModelRatingsFailureTest, NamesTheTextThatFailed) {
    const RatingFailure& c = GetParam();
    try {
        ModelRatings(c.model);
        FAIL() << "no error for " << c.model;
    } catch (const EConvertError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "'" + c.failingText + "' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, ModelRatingsFailureTest,
    ::testing::Values(
        // Current 5 converts, then the voltage part is empty.
        RatingFailure{"XYZ05N", ""},
        // Four characters or fewer: the current part is empty.
        RatingFailure{"", ""}, RatingFailure{"XYZ", ""}, RatingFailure{"XYZA", ""},
        RatingFailure{"XYZ7", ""},
        // The current is converted before the voltage.
        RatingFailure{"XYZQQRRN", "RR"}, RatingFailure{"XYZQQ10N", "QQ"},
        // A blank left at the start of the model counts as one of the skipped characters.
        RatingFailure{" XYZ3010A", "Z30"}));

// ---- Measurement reply -----------------------------------------------------------------------

struct ReadingsCase {
    std::string reply;
    std::string voltage, current, power;
};

void PrintTo(const ReadingsCase& c, std::ostream* out) {
    *out << '"' << c.reply << '"';
}

class SplitReadingsReplyTest : public ::testing::TestWithParam<ReadingsCase> {};

TEST_P(SplitReadingsReplyTest, SplitsAndTrimsThreeTexts) {
    const ReadingsCase& c = GetParam();
    const ReadingsTexts texts = SplitReadingsReply(c.reply);
    EXPECT_EQ(texts.voltage, c.voltage);
    EXPECT_EQ(texts.current, c.current);
    EXPECT_EQ(texts.power, c.power);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SplitReadingsReplyTest,
    ::testing::Values(ReadingsCase{"12.00,1.50,18.00", "12.00", "1.50", "18.00"},
                      ReadingsCase{"12.00, 1.50 , 18.00", "12.00", "1.50", "18.00"},
                      ReadingsCase{"\t12.00\t,\r1.50\x01,18.00 \r", "12.00", "1.50", "18.00"},
                      ReadingsCase{"12.00,1.50", "12.00", "", "1.50"},
                      ReadingsCase{" 12.00 ", "", "", "12.00"},
                      ReadingsCase{"1,2,3,4", "1", "2", "3,4"},
                      ReadingsCase{"1,2, 3 , 4 ", "1", "2", "3 , 4"}, ReadingsCase{"", "", "", ""},
                      ReadingsCase{",,", "", "", ""}));

// ---- Numbers on the wire ---------------------------------------------------------------------

struct NumberCase {
    std::string text;
    double value;
};

void PrintTo(const NumberCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class MeasurementToDoubleTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(MeasurementToDoubleTest, Converts) {
    EXPECT_DOUBLE_EQ(MeasurementToDouble(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Good, MeasurementToDoubleTest,
                         ::testing::Values(NumberCase{"12.00", 12.0}, NumberCase{" 1.50 ", 1.5},
                                           NumberCase{"0", 0.0}, NumberCase{"-3", -3.0},
                                           NumberCase{"+7.25", 7.25}, NumberCase{"+.5", 0.5},
                                           NumberCase{"-.5", -0.5}, NumberCase{"5.", 5.0},
                                           NumberCase{"1e3", 1000.0}, NumberCase{"1E-2", 0.01},
                                           NumberCase{"2.5e+1", 25.0}, NumberCase{"007.50", 7.5},
                                           NumberCase{"\t18.00\t", 18.0}));

class MeasurementToDoubleFailureTest : public ::testing::TestWithParam<std::string> {};

TEST_P(MeasurementToDoubleFailureTest, FailsNamingTheText) {
    const std::string& text = GetParam();
    try {
        const double value = MeasurementToDouble(text);
        FAIL() << "'" << text << "' gave " << value;
    } catch (const EConvertError& error) {
        EXPECT_EQ(std::string(error.what()), "'" + text + "' is not a valid floating point value");
    }
}

INSTANTIATE_TEST_SUITE_P(Bad, MeasurementToDoubleFailureTest,
                         ::testing::Values("", " ", "1,5", "1.2.3", "1e", "1e+", "e5", ".", "+",
                                           "-", "+-1", "--1", "1..2", ".e1", "nan", "NAN", "inf",
                                           "-inf", "infinity", "0x10", "1 2", "12V", "ERR", "3,4",
                                           "1e999"));

struct SetpointCase {
    double value;
    std::string text;
};

void PrintTo(const SetpointCase& c, std::ostream* out) {
    *out << c.value;
}

class SetpointTextTest : public ::testing::TestWithParam<SetpointCase> {};

TEST_P(SetpointTextTest, TwoDecimalsWithAFullStop) {
    EXPECT_EQ(SetpointText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, SetpointTextTest,
                         ::testing::Values(SetpointCase{12.5, "12.50"}, SetpointCase{0, "0.00"},
                                           SetpointCase{30, "30.00"}, SetpointCase{3.14159, "3.14"},
                                           SetpointCase{0.999, "1.00"}, SetpointCase{-1.5, "-1.50"},
                                           SetpointCase{1234.567, "1234.57"}));

TEST(SetpointText, RoundsLikePrintfInTheClassicLocale) {
    // Binary rounding (2.675 is stored just below) must match "%.2f" exactly.
    const std::vector<double> values = {2.675, 1.005, 0.125, 0.375, 7.995, 99.999, 0.004, 1e-9};
    for (double value : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.2f", value);
        EXPECT_EQ(SetpointText(value), expected) << value;
    }
}

TEST(WireNumbers, IgnoreACommaLocale) {
    const testsupport::NumericLocale locale(testsupport::kCommaLocaleNames, ',');
    if (!locale.active())
        GTEST_SKIP() << "no locale with a comma decimal mark is installed";
    EXPECT_DOUBLE_EQ(MeasurementToDouble("12.50"), 12.5);
    EXPECT_DOUBLE_EQ(MeasurementToDouble("1.5e1"), 15.0);
    EXPECT_THROW(MeasurementToDouble("12,50"), EConvertError);
    EXPECT_EQ(SetpointText(12.5), "12.50");
}

} // namespace
