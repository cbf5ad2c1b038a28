#include "Options.h"

#include "Supply.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <sstream>
#include <vector>

namespace sim {
namespace {

int ParseInt(const std::string& option, const std::string& text, int min, int max) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || value < min || value > max)
        throw UsageError(option + ": '" + text + "' is not a whole number from " +
                         std::to_string(min) + " to " + std::to_string(max));
    return value;
}

double ParseDouble(const std::string& option, const std::string& text, double min) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || !std::isfinite(value) || value < min)
        throw UsageError(option + ": '" + text + "' is not a number of at least " +
                         std::to_string(min));
    return value;
}

constexpr int kMaxMs = 3600 * 1000;

struct OptionEntry {
    const char* name;
    const char* valueName; // nullptr for a flag
    const char* help;
    std::function<void(Options&, const std::string& name, const std::string& value)> apply;
};

const std::vector<OptionEntry>& OptionTable() {
    static const std::vector<OptionEntry> table = {
        {"--appdir", "DIR", "register the port as DIR/ports/comN (DIR/ports is created if needed)",
         [](Options& o, const std::string&, const std::string& v) { o.appDir = v; }},
        {"--port", "N", "port number N (1 to 999) for --appdir; the port name printed is COMN",
         [](Options& o, const std::string& n, const std::string& v) {
             o.port = ParseInt(n, v, 1, 999);
         }},
        {"--link", "PATH", "register the port as the symbolic link PATH instead; PATH is printed",
         [](Options& o, const std::string&, const std::string& v) { o.linkPath = v; }},
        {"--model", "TEXT",
         "model text of the identity reply (default PSU3010N: 30 V, 10 A); three skipped "
         "characters, rated volts, two-digit rated amperes, a mark; a final A offers preset 1 only",
         [](Options& o, const std::string& n, const std::string& v) {
             if (!ParseModel(v))
                 throw UsageError(n + ": '" + v +
                                  "' is not three characters, volts, two digits of amperes and "
                                  "a mark");
             o.model = v;
         }},
        {"--load", "OHMS", "resistance of the load (default 10, more than 0)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.loadOhms = ParseDouble(n, v, 0);
             if (o.loadOhms <= 0)
                 throw UsageError(n + ": the load must be more than 0 ohms");
         }},
        {"--noise", "AMPLITUDE",
         "largest noise added to each voltage (V) and current (A) reading (default 0.01; 0 for "
         "exact readings)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.noise = ParseDouble(n, v, 0);
         }},
        {"--seed", "S", "seed of the noise, for a repeatable sequence (default: from the clock)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.seed = static_cast<std::uint32_t>(ParseInt(n, v, 0, 2147483647));
         }},
        {"--transcript", "FILE",
         "append '<ms since start> <line>' to FILE for every received line (flushed each line)",
         [](Options& o, const std::string&, const std::string& v) { o.transcriptPath = v; }},
        {"--delay-ms", "MS", "wait MS milliseconds before every reply (default 0)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.delayMs = ParseInt(n, v, 0, kMaxMs);
         }},
        {"--silent", nullptr, "fault: never reply to anything",
         [](Options& o, const std::string&, const std::string&) { o.silent = true; }},
        {"--no-ack", nullptr,
         "fault: no reply at all to setting and preset commands (neither OK nor ERR)",
         [](Options& o, const std::string&, const std::string&) { o.noAck = true; }},
        {"--crlf", nullptr, "end every reply with CR LF instead of LF",
         [](Options& o, const std::string&, const std::string&) { o.crlf = true; }},
        {"--garble-every", "N",
         "fault: the Nth, 2Nth, ... reply to READ:ALL? is the garbage line 1#.x,,ZZ",
         [](Options& o, const std::string& n, const std::string& v) {
             o.garbleEvery = ParseInt(n, v, 1, 1000000);
         }},
        {"--chunk-bytes", "B", "fault: send every reply in pieces of B bytes",
         [](Options& o, const std::string& n, const std::string& v) {
             o.chunkBytes = ParseInt(n, v, 1, 1000000);
         }},
        {"--chunk-pause-ms", "MS", "pause between the pieces of --chunk-bytes (default 20)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.chunkPauseMs = ParseInt(n, v, 0, kMaxMs);
         }},
        {"--flood-every", "N",
         "fault: before the Nth, 2Nth, ... reply (any command) send --flood-bytes of noise "
         "without LF, then pause --flood-pause-ms, then the reply",
         [](Options& o, const std::string& n, const std::string& v) {
             o.floodEvery = ParseInt(n, v, 1, 1000000);
         }},
        {"--flood-bytes", "B", "size of a flood (default 2000; 1 to 16384)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.floodBytes = ParseInt(n, v, 1, 16384);
         }},
        {"--flood-pause-ms", "MS", "pause between a flood and its reply (default 200)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.floodPauseMs = ParseInt(n, v, 0, kMaxMs);
         }},
        {"--exit-after", "S",
         "fault: after S seconds (fractions allowed) the port vanishes: the link is removed "
         "and the program ends",
         [](Options& o, const std::string& n, const std::string& v) {
             o.exitAfterMs = static_cast<int>(std::lround(ParseDouble(n, v, 0) * 1000));
             if (*o.exitAfterMs > kMaxMs * 24)
                 throw UsageError(n + ": at most one day");
         }},
        {"--help", nullptr, "show this text and exit",
         [](Options& o, const std::string&, const std::string&) { o.help = true; }},
    };
    return table;
}

const OptionEntry& FindOption(const std::string& name) {
    for (const auto& option : OptionTable())
        if (name == option.name)
            return option;
    throw UsageError("unknown option '" + name + "' (see --help)");
}

void CheckRegistration(const Options& options) {
    if (!options.linkPath.empty())
        return;
    if (options.appDir.empty() || options.port == 0)
        throw UsageError("give --appdir DIR and --port N, or --link PATH (see --help)");
}

// The help of one option after its head (head columns wide), wrapped into a column of its own.
std::string WrappedHelp(const std::string& help, std::size_t head) {
    constexpr std::size_t kHelpColumn = 24;
    constexpr std::size_t kLineWidth = 99;
    const std::string indent(kHelpColumn, ' ');
    std::string out = head < kHelpColumn ? std::string(kHelpColumn - head, ' ') : "\n" + indent;
    std::size_t column = kHelpColumn;
    std::istringstream words(help);
    for (std::string word; words >> word;) {
        if (column > kHelpColumn && column + 1 + word.size() > kLineWidth) {
            out += "\n" + indent;
            column = kHelpColumn;
        }
        if (column > kHelpColumn) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
    }
    return out + "\n";
}

} // namespace

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const OptionEntry& option = FindOption(name);
        std::string value;
        if (option.valueName) {
            if (i + 1 >= argc)
                throw UsageError(name + " needs a value " + option.valueName);
            value = argv[++i];
        }
        option.apply(options, name, value);
    }
    if (!options.help)
        CheckRegistration(options);
    return options;
}

std::string HelpText(const std::string& programName) {
    std::ostringstream out;
    out << "Usage: " << programName << " (--appdir DIR --port N | --link PATH) [options]\n\n"
        << "A simulated adjustable DC supply on a pseudo-terminal. Once it serves, it prints the\n"
        << "port name (COMN, or PATH with --link) as its first line. SIGINT, SIGTERM and SIGHUP "
           "end\n"
        << "it and remove the link.\n\n"
        << "Commands (lines ended by LF; CR LF is accepted, empty lines are ignored):\n"
        << "  *IDN?            PSU,SIM,1,SN<digits>,V1.0,<model>\n"
        << "  READ:ALL?        <volts>,<amperes>,<watts> with two decimals, e.g. 12.00,1.20,14.40\n"
        << "  SOUR:VOLT x      voltage setpoint, clamped to 0..rated; reply OK\n"
        << "  SOUR:CURR x      current setpoint, clamped to 0..rated; reply OK\n"
        << "  SOUR:APPLY Mn    recall preset n (1: 5 V 1 A, 2: 12 V 2 A, 3: 24 V 3 A); reply OK\n"
        << "  anything else, a malformed number or a preset the model lacks: reply ERR\n\n"
        << "The output follows the setpoints through the load: V = min(Vset, Iset * R),\n"
        << "I = V / R, P = V * I.\n\n"
        << "Options:\n";
    for (const auto& option : OptionTable()) {
        std::string head = std::string("  ") + option.name;
        if (option.valueName)
            head += std::string(" ") + option.valueName;
        out << head << WrappedHelp(option.help, head.size());
    }
    out << "\nExit status: 0 when ended by a signal or --exit-after, 1 on a failure while "
           "serving, 2 on bad options.\n";
    return out.str();
}

} // namespace sim
