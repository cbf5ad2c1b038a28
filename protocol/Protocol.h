#pragma once
// The supply's command set and the parsers of its replies.

#include <cstdint>
#include <string>

// The command texts, sent as they stand; the transaction adds the line feed.
inline constexpr const char* CmdIdentify = "*IDN?";
inline constexpr const char* CmdReadAll = "READ:ALL?";
inline constexpr const char* CmdSetVoltagePrefix = "SOUR:VOLT ";
inline constexpr const char* CmdSetCurrentPrefix = "SOUR:CURR ";
inline constexpr const char* CmdApplyPreset1 = "SOUR:APPLY M1";
inline constexpr const char* CmdApplyPreset2 = "SOUR:APPLY M2";
inline constexpr const char* CmdApplyPreset3 = "SOUR:APPLY M3";

struct IdentityFields {
    std::string serialNumber; // field 4
    std::string version;      // field 5
    std::string model;        // everything after the fifth comma
};

// Trims the reply as a whole, then takes five comma-separated fields; never fails.
IdentityFields SplitIdentityReply(const std::string& reply);

struct ModelRating {
    bool singlePreset = false; // model text ends in "A" or "a"
    int32_t ratedCurrent = 0;  // whole amperes
    int32_t ratedVoltage = 0;  // whole volts
};

// Skips three characters, takes the final mark, two current digits, then the voltage.
// Throws EConvertError when the current or the voltage part is not a whole number.
ModelRating ModelRatings(const std::string& model);

struct ReadingsTexts {
    std::string voltage;
    std::string current;
    std::string power; // everything after the second comma, trimmed
};

// Splits "V,I,P", trimming each field; never fails.
ReadingsTexts SplitReadingsReply(const std::string& reply);

// Converts a measurement text with "." as the decimal mark, whatever the locale: blanks at both
// ends, optional sign, digits with at most one ".", optional exponent. Throws EConvertError
// "'<text>' is not a valid floating point value".
double MeasurementToDouble(const std::string& text);

// A setpoint as it goes on the wire: two decimals and "." ("12.50").
std::string SetpointText(double value);
