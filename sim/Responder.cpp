#include "Responder.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace sim {
namespace {

const std::string kOk = "OK";
const std::string kError = "ERR";
const std::string kGarbage = "1#.x,,ZZ";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::optional<double> ParseNumber(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

Responder::Responder(Supply& supply, std::string serialNumber, ResponderPolicy policy)
    : supply_(supply), serialNumber_(std::move(serialNumber)), policy_(policy) {}

std::optional<std::string> Responder::Answer(const ReceivedLine& line) {
    // A cut line is never taken for the command its beginning looks like.
    auto reply = line.truncated ? kError : Evaluate(line.text);
    if (policy_.silent)
        return std::nullopt;
    return reply;
}

std::optional<std::string> Responder::Evaluate(const std::string& line) {
    static const std::string kVoltage = "SOUR:VOLT ";
    static const std::string kCurrent = "SOUR:CURR ";
    static const std::string kPreset = "SOUR:APPLY M";
    if (line == "*IDN?")
        return Identity();
    if (line == "READ:ALL?")
        return Readings();
    if (StartsWith(line, kVoltage))
        return SetPoint(line.substr(kVoltage.size()), &Supply::SetVoltage);
    if (StartsWith(line, kCurrent))
        return SetPoint(line.substr(kCurrent.size()), &Supply::SetCurrent);
    if (StartsWith(line, kPreset) && line.size() == kPreset.size() + 1)
        return Acknowledge(supply_.ApplyPreset(line.back() - '0'));
    return kError;
}

std::string Responder::Identity() const {
    return "PSU,SIM,1," + serialNumber_ + ",V1.0," + supply_.model();
}

std::string Responder::Readings() {
    const Reading reading = supply_.Measure();
    ++readingsCount_;
    if (policy_.garbleEvery > 0 && readingsCount_ % policy_.garbleEvery == 0)
        return kGarbage;
    char text[96];
    std::snprintf(text, sizeof text, "%.2f,%.2f,%.2f", reading.volts, reading.amperes,
                  reading.watts);
    return text;
}

std::optional<std::string> Responder::Acknowledge(bool applied) const {
    if (policy_.noAck)
        return std::nullopt;
    return applied ? kOk : kError;
}

std::optional<std::string> Responder::SetPoint(const std::string& valueText,
                                               void (Supply::*set)(double)) {
    const auto value = ParseNumber(Trim(valueText));
    if (value)
        (supply_.*set)(*value);
    return Acknowledge(value.has_value());
}

} // namespace sim
