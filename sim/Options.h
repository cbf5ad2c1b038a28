#pragma once
// Command-line options of the simulated supply.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace sim {

struct Options {
    // Where the slave is registered: appDir/ports/com<port>, or linkPath when given.
    std::string appDir;
    int port = 0;
    std::string linkPath;

    std::string model = "PSU3010N";
    double loadOhms = 10.0;
    double noise = 0.01;
    std::optional<std::uint32_t> seed;

    std::string transcriptPath;
    int delayMs = 0;

    bool silent = false;
    bool noAck = false;
    bool crlf = false;
    int garbleEvery = 0;
    int chunkBytes = 0;
    int chunkPauseMs = 20;
    int floodEvery = 0;
    int floodBytes = 2000;
    int floodPauseMs = 200;
    std::optional<int> exitAfterMs;

    bool help = false;
};

// Bad command-line input; the message names the option and the offending text.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws UsageError for unknown options, missing or malformed values and missing registration.
Options ParseOptions(int argc, char** argv);

std::string HelpText(const std::string& programName);

} // namespace sim
