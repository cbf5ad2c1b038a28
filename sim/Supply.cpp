#include "Supply.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace sim {
namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The meter resolves 10 mV and 10 mA; the power is computed from what it shows.
double ToMeterResolution(double value) {
    return std::round(value * 100) / 100;
}

} // namespace

std::optional<Rating> ParseModel(const std::string& model) {
    // Shortest form: 3 skipped, 1 volt digit, 2 ampere digits, the mark.
    if (model.size() < 7)
        return std::nullopt;
    const std::string numbers = model.substr(3, model.size() - 4);
    const std::string volts = numbers.substr(0, numbers.size() - 2);
    const std::string amperes = numbers.substr(numbers.size() - 2);
    if (!AllDigits(volts) || !AllDigits(amperes) || volts.size() > 6)
        return std::nullopt;
    Rating rating;
    rating.volts = std::stoi(volts);
    rating.amperes = std::stoi(amperes);
    rating.singlePreset = std::toupper(static_cast<unsigned char>(model.back())) == 'A';
    return rating;
}

Supply::Supply(const std::string& model, double loadOhms, double noise, std::uint32_t seed)
    : model_(model), rating_(ParseModel(model).value()), loadOhms_(loadOhms), noise_(noise),
      random_(seed) {
    ApplyPreset(1);
}

void Supply::SetVoltage(double volts) {
    voltageSet_ = std::clamp(volts, 0.0, 1.0 * rating_.volts);
}

void Supply::SetCurrent(double amperes) {
    currentSet_ = std::clamp(amperes, 0.0, 1.0 * rating_.amperes);
}

bool Supply::ApplyPreset(int number) {
    const int offered = rating_.singlePreset ? 1 : static_cast<int>(kPresets.size());
    if (number < 1 || number > offered)
        return false;
    SetVoltage(kPresets[number - 1].volts);
    SetCurrent(kPresets[number - 1].amperes);
    return true;
}

Reading Supply::Measure() {
    const double volts = std::min(voltageSet_, currentSet_ * loadOhms_);
    const double amperes = volts / loadOhms_;
    std::uniform_real_distribution<double> jitter(-noise_, noise_);
    Reading reading;
    reading.volts = ToMeterResolution(std::max(0.0, volts + jitter(random_)));
    reading.amperes = ToMeterResolution(std::max(0.0, amperes + jitter(random_)));
    reading.watts = reading.volts * reading.amperes;
    return reading;
}

} // namespace sim
