#pragma once
// Turns one received command line into the reply text the supply sends (without line ending).

#include "Supply.h"

#include <optional>
#include <string>

namespace sim {

// One received command line without its ending; truncated when it was longer than accepted.
struct ReceivedLine {
    std::string text;
    bool truncated = false;
};

struct ResponderPolicy {
    bool silent = false;
    bool noAck = false;
    int garbleEvery = 0; // 0: never
};

class Responder {
public:
    Responder(Supply& supply, std::string serialNumber, ResponderPolicy policy);

    // No value when the supply stays quiet.
    std::optional<std::string> Answer(const ReceivedLine& line);

private:
    std::optional<std::string> Evaluate(const std::string& line);
    std::string Identity() const;
    std::string Readings();
    // Setting and preset commands: OK when applied, ERR when refused.
    std::optional<std::string> Acknowledge(bool applied) const;
    std::optional<std::string> SetPoint(const std::string& valueText, void (Supply::*set)(double));

    Supply& supply_;
    std::string serialNumber_;
    ResponderPolicy policy_;
    long readingsCount_ = 0;
};

} // namespace sim
