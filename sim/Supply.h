#pragma once
// The simulated supply: ratings from the model text, setpoints, presets, a resistive load.

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

namespace sim {

struct Rating {
    int volts = 0;
    int amperes = 0;
    bool singlePreset = false;
};

// Three skipped characters, one or more digits of volts, two digits of amperes, a final mark.
std::optional<Rating> ParseModel(const std::string& model);

struct Reading {
    double volts = 0;
    double amperes = 0;
    double watts = 0;
};

class Supply {
public:
    // model must satisfy ParseModel.
    Supply(const std::string& model, double loadOhms, double noise, std::uint32_t seed);

    const std::string& model() const { return model_; }
    void SetVoltage(double volts);
    void SetCurrent(double amperes);
    // Recalls preset 1..3; false (nothing changes) when the model does not offer it.
    bool ApplyPreset(int number);
    // The output into the load, constant voltage or constant current, plus noise.
    Reading Measure();

private:
    struct Preset {
        double volts;
        double amperes;
    };
    static constexpr std::array<Preset, 3> kPresets = {{{5, 1}, {12, 2}, {24, 3}}};

    std::string model_;
    Rating rating_;
    double loadOhms_;
    double noise_;
    std::mt19937 random_;
    double voltageSet_ = 0;
    double currentSet_ = 0;
};

} // namespace sim
