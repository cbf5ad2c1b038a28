// Black-box tests of psu-sim over its pseudo-terminal, with a raw client of their own.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "support/TestSupport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::regex kReadingLine(R"(\d+\.\d\d,\d+\.\d\d,\d+\.\d\d\n)");

using testsupport::RemainingMs;

// The host side of the wire, opened the way a host opens a serial port: raw, no controlling tty.
class RawPort {
public:
    explicit RawPort(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (fd_ < 0)
            throw std::runtime_error("cannot open " + path);
        testsupport::MakeTerminalRaw(fd_);
    }
    ~RawPort() { close(fd_); }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    void Send(const std::string& bytes, std::chrono::milliseconds limit = 10s) {
        if (!testsupport::WriteAllWithin(fd_, bytes, limit))
            throw std::runtime_error("write failed or did not finish in time");
    }

    // Everything up to and including the first LF; what came before the limit if none did.
    std::string ReadLine(std::chrono::milliseconds limit = 5s) {
        const auto deadline = Clock::now() + limit;
        while (received_.find('\n') == std::string::npos && ReadSome(RemainingMs(deadline))) {
        }
        const auto end = received_.find('\n');
        const std::size_t take = end == std::string::npos ? received_.size() : end + 1;
        std::string line = received_.substr(0, take);
        received_.erase(0, take);
        return line;
    }

    // Reads until nothing arrives for the quiet time; false when data still flows at the limit.
    bool DrainUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (ReadSome(static_cast<int>(quiet.count()))) {
            received_.clear();
            if (Clock::now() >= deadline)
                return false;
        }
        return true;
    }

    // Number of reads that returned data so far.
    int reads() const { return reads_; }

    int BytesWaiting() const {
        int count = 0;
        ioctl(fd_, FIONREAD, &count);
        return count;
    }

    // What a host does when too much is waiting: throw away the whole receive queue.
    void Purge() { tcflush(fd_, TCIFLUSH); }

private:
    bool ReadSome(int timeoutMs) {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            return n < 0 && errno == EAGAIN;
        ++reads_;
        received_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int fd_;
    std::string received_;
    int reads_ = 0;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct RunResult {
    int exitCode;
    std::string output;
};

// Runs psu-sim to its end with stdout and stderr captured; for options that end it at once.
RunResult RunToEnd(const std::string& arguments) {
    const std::string command = std::string(PSU_SIM_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("popen failed");
    std::string output;
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class SimTest : public ::testing::Test {
protected:
    static constexpr int kPort = 4;

    void Start(std::vector<std::string> options) {
        sim_ = std::make_unique<testsupport::SimProcess>(dir_.Path(), kPort, options);
    }
    // Exact readings, so the expected texts are plain arithmetic.
    void StartExact(std::vector<std::string> options = {}) {
        options.insert(options.end(), {"--noise", "0"});
        Start(options);
    }
    std::string LinkPath() const { return dir_.Path() + "ports/com" + std::to_string(kPort); }
    std::string TranscriptPath() const { return dir_.Path() + "transcript.txt"; }
    bool LinkExists() const { return std::filesystem::is_symlink(LinkPath()); }

    // One transaction as the host makes it: open, write the line, read the reply, close.
    std::string Ask(const std::string& command) {
        RawPort port(LinkPath());
        port.Send(command + "\n");
        return port.ReadLine();
    }

    testsupport::TempDir dir_;
    std::unique_ptr<testsupport::SimProcess> sim_;
};

TEST_F(SimTest, IdentityHasFiveFieldsThenTheDefaultModel) {
    StartExact();
    EXPECT_EQ(sim_->PortName(), "COM4");
    EXPECT_TRUE(std::regex_match(Ask("*IDN?"), std::regex(R"(PSU,SIM,1,SN\d+,V1\.0,PSU3010N\n)")));
}

TEST_F(SimTest, IdentityCarriesTheGivenModel) {
    Start({"--model", "XYZ6005N"});
    const std::string identity = Ask("*IDN?");
    EXPECT_TRUE(std::regex_match(identity, std::regex(R"(PSU,SIM,1,SN\d+,V1\.0,XYZ6005N\n)")))
        << identity;
}

struct SetpointCase {
    const char* name;
    const char* load;
    const char* volts;
    const char* amperes;
    const char* reading;
};

// Names the case in test listings, the same in every run.
void PrintTo(const SetpointCase& c, std::ostream* out) {
    *out << c.name;
}

class SimSetpointTest : public SimTest, public ::testing::WithParamInterface<SetpointCase> {};

TEST_P(SimSetpointTest, ReadingsFollowTheSetpointsThroughTheLoad) {
    const SetpointCase& c = GetParam();
    StartExact({"--load", c.load});
    EXPECT_EQ(Ask(std::string("SOUR:VOLT ") + c.volts), "OK\n");
    EXPECT_EQ(Ask(std::string("SOUR:CURR ") + c.amperes), "OK\n");
    EXPECT_EQ(Ask("READ:ALL?"), std::string(c.reading) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Regions, SimSetpointTest,
    ::testing::Values(SetpointCase{"ConstantVoltage", "10", "12.00", "2.00", "12.00,1.20,14.40"},
                      SetpointCase{"ConstantCurrent", "10", "24.00", "1.00", "10.00,1.00,10.00"},
                      SetpointCase{"LowLoadCurrentLimit", "2.5", "12", "2", "5.00,2.00,10.00"},
                      SetpointCase{"ClampedToRating", "10", "99", "99", "30.00,3.00,90.00"},
                      SetpointCase{"NegativeClampedToZero", "10", "-5", "1", "0.00,0.00,0.00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTest, NoiseStaysWithinItsAmplitudeAndRepeatsForASeed) {
    const std::vector<std::string> options = {"--noise", "0.05", "--seed", "7"};
    auto readings = [&] {
        std::vector<std::string> lines;
        for (int i = 0; i < 5; ++i)
            lines.push_back(Ask("READ:ALL?"));
        return lines;
    };
    Start(options);
    const auto first = readings();
    sim_.reset();
    Start(options);
    EXPECT_EQ(readings(), first);

    bool anyNoise = false;
    for (const std::string& line : first) {
        double volts = 0, amperes = 0, watts = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf", &volts, &amperes, &watts), 3) << line;
        // Preset 1 at start: 5 V into 10 ohms.
        EXPECT_NEAR(volts, 5.0, 0.055);
        EXPECT_NEAR(amperes, 0.5, 0.055);
        EXPECT_NEAR(watts, volts * amperes, 0.006);
        anyNoise = anyNoise || line != "5.00,0.50,2.50\n";
    }
    EXPECT_TRUE(anyNoise);
}

TEST_F(SimTest, PresetsRecallTheirSetpoints) {
    StartExact();
    const std::vector<std::pair<std::string, std::string>> presets = {
        {"SOUR:APPLY M2", "12.00,1.20,14.40\n"},
        {"SOUR:APPLY M3", "24.00,2.40,57.60\n"},
        {"SOUR:APPLY M1", "5.00,0.50,2.50\n"}};
    for (const auto& [command, reading] : presets) {
        EXPECT_EQ(Ask(command), "OK\n") << command;
        EXPECT_EQ(Ask("READ:ALL?"), reading) << command;
    }
}

TEST_F(SimTest, SinglePresetModelRefusesPresetsTwoAndThree) {
    StartExact({"--model", "PSU3010A"});
    ASSERT_EQ(Ask("SOUR:VOLT 7"), "OK\n");
    EXPECT_EQ(Ask("SOUR:APPLY M2"), "ERR\n");
    EXPECT_EQ(Ask("SOUR:APPLY M3"), "ERR\n");
    EXPECT_EQ(Ask("READ:ALL?"), "7.00,0.70,4.90\n") << "a refused preset changed the output";
    EXPECT_EQ(Ask("SOUR:APPLY M1"), "OK\n");
    EXPECT_EQ(Ask("READ:ALL?"), "5.00,0.50,2.50\n");
}

TEST_F(SimTest, SettingsAreAcknowledgedAndEverythingElseIsAnError) {
    StartExact();
    const std::vector<std::pair<std::string, std::string>> cases = {{"SOUR:VOLT 3.5", "OK\n"},
                                                                    {"SOUR:CURR 0.25", "OK\n"},
                                                                    {"SOUR:APPLY M1", "OK\n"},
                                                                    {"SOUR:VOLT abc", "ERR\n"},
                                                                    {"SOUR:VOLT ", "ERR\n"},
                                                                    {"SOUR:CURR 1,5", "ERR\n"},
                                                                    {"SOUR:APPLY M4", "ERR\n"},
                                                                    {"SOUR:APPLY M12", "ERR\n"},
                                                                    {"SOUR:APPLY M0", "ERR\n"},
                                                                    {"read:all?", "ERR\n"},
                                                                    {"FOO", "ERR\n"},
                                                                    {"*IDN? ", "ERR\n"},
                                                                    {"SOUR:VOLTAGE 3", "ERR\n"},
                                                                    {"SOUR:VOLT nan", "ERR\n"}};
    for (const auto& [command, reply] : cases)
        EXPECT_EQ(Ask(command), reply) << "command: '" << command << "'";
}

TEST_F(SimTest, NoAckLeavesSettingsUnansweredButAppliesThem) {
    StartExact({"--no-ack"});
    RawPort port(LinkPath());
    // Replies come in order: the first line must be the reading, not an acknowledgement.
    port.Send("SOUR:VOLT 3\nSOUR:APPLY M9\nREAD:ALL?\n*IDN?\n");
    EXPECT_EQ(port.ReadLine(), "3.00,0.30,0.90\n");
    EXPECT_EQ(port.ReadLine().rfind("PSU,SIM,", 0), 0u);
}

TEST_F(SimTest, AcceptsCrLfAndIgnoresEmptyLines) {
    StartExact();
    RawPort port(LinkPath());
    port.Send("\n\r\n*IDN?\r\n\nSOUR:VOLT 3\r\nREAD:ALL?\n");
    EXPECT_EQ(port.ReadLine().rfind("PSU,SIM,", 0), 0u);
    EXPECT_EQ(port.ReadLine(), "OK\n");
    EXPECT_EQ(port.ReadLine(), "3.00,0.30,0.90\n");
}

TEST_F(SimTest, TranscriptRecordsEveryReceivedLineInOrder) {
    StartExact({"--transcript", TranscriptPath()});
    const std::vector<std::string> commands = {"*IDN?", "SOUR:VOLT 3", "NONSENSE", "READ:ALL?"};
    for (const std::string& command : commands)
        Ask(command + "\r");
    Ask("\x01\\bin");
    std::vector<std::string> lines;
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        lines = Lines(testsupport::ReadFile(TranscriptPath()));
        return lines.size() >= commands.size() + 1;
    }));
    ASSERT_EQ(lines.size(), commands.size() + 1);

    const std::regex entry(R"((\d+) (.*))");
    long previousMs = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, entry)) << lines[i];
        const std::string expected = i < commands.size() ? commands[i] : "\\x01\\\\bin";
        EXPECT_EQ(match[2].str(), expected);
        const long ms = std::stol(match[1].str());
        EXPECT_GE(ms, previousMs);
        previousMs = ms;
    }
}

TEST_F(SimTest, SilentNeverReplies) {
    Start({"--silent", "--transcript", TranscriptPath()});
    RawPort port(LinkPath());
    port.Send("*IDN?\nSOUR:VOLT 3\nREAD:ALL?\n");
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return Lines(testsupport::ReadFile(TranscriptPath())).size() == 3; }));
    // A reply would have been written right after the transcript line.
    EXPECT_EQ(port.ReadLine(300ms), "");
}

TEST_F(SimTest, GarblesEveryNthReadingOnly) {
    Start({"--garble-every", "3"});
    std::vector<std::string> readings;
    for (int i = 0; i < 7; ++i) {
        readings.push_back(Ask("READ:ALL?"));
        // Other replies do not count.
        EXPECT_EQ(Ask("*IDN?").rfind("PSU,SIM,", 0), 0u);
    }
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if ((i + 1) % 3 == 0)
            EXPECT_EQ(readings[i], "1#.x,,ZZ\n") << "reading " << i + 1;
        else
            EXPECT_TRUE(std::regex_match(readings[i], kReadingLine)) << readings[i];
    }
}

TEST_F(SimTest, ChunkedReplyArrivesInSeveralReads) {
    Start({"--chunk-bytes", "5", "--chunk-pause-ms", "40"});
    RawPort port(LinkPath());
    port.Send("*IDN?\n");
    const std::string reply = port.ReadLine();
    EXPECT_TRUE(std::regex_match(reply, std::regex(R"(PSU,SIM,1,SN\d+,V1\.0,PSU3010N\n)")))
        << reply;
    EXPECT_GE(port.reads(), 2);
}

TEST_F(SimTest, CrlfEndsEveryReplyWithCrLf) {
    StartExact({"--crlf"});
    EXPECT_EQ(Ask("READ:ALL?"), "5.00,0.50,2.50\r\n");
    EXPECT_EQ(Ask("SOUR:VOLT 3"), "OK\r\n");
    EXPECT_EQ(Ask("BAD"), "ERR\r\n");
    EXPECT_EQ(Ask("*IDN?").substr(0, 8), "PSU,SIM,");
}

TEST_F(SimTest, FloodWithoutLineFeedPrecedesEveryNthReply) {
    StartExact({"--flood-every", "2", "--flood-bytes", "2000", "--flood-pause-ms", "300"});
    RawPort port(LinkPath());
    port.Send("READ:ALL?\n");
    EXPECT_EQ(port.ReadLine(), "5.00,0.50,2.50\n") << "the first reply must come unflooded";

    port.Send("READ:ALL?\n");
    const std::string flooded = port.ReadLine();
    ASSERT_EQ(flooded.size(), 2000u + 15u);
    EXPECT_EQ(flooded.find_first_of("\r\n"), flooded.size() - 1);
    EXPECT_EQ(flooded.substr(2000), "5.00,0.50,2.50\n");

    // A host that purges a backlog above 1024 bytes still gets the reply that follows.
    port.Send("READ:ALL?\n");
    EXPECT_EQ(port.ReadLine(), "5.00,0.50,2.50\n");
    port.Send("READ:ALL?\n");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return port.BytesWaiting() > 1024; }));
    port.Purge();
    EXPECT_EQ(port.ReadLine(), "5.00,0.50,2.50\n");
}

TEST_F(SimTest, ExitAfterRemovesTheLinkAndEnds) {
    Start({"--exit-after", "1"});
    ASSERT_TRUE(LinkExists());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !LinkExists(); }));
    const int status = sim_->Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

class SimSignalTest : public SimTest, public ::testing::WithParamInterface<int> {};

TEST_P(SimSignalTest, SignalRemovesTheLinkAndEndsCleanly) {
    Start({});
    ASSERT_TRUE(LinkExists());
    ASSERT_EQ(kill(sim_->Pid(), GetParam()), 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !LinkExists(); }));
    const int status = sim_->Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, SimSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "TERM" : "INT"; });

TEST_F(SimTest, ReplacesAStaleLinkAndPointsItAtItsTerminal) {
    std::filesystem::create_directories(dir_.Path() + "ports");
    std::filesystem::create_symlink("/nonexistent/pts/99", LinkPath());
    Start({});
    EXPECT_EQ(std::filesystem::read_symlink(LinkPath()).string().rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(Ask("*IDN?").rfind("PSU,SIM,", 0), 0u);
}

TEST_F(SimTest, LinkOptionRegistersThatPathAndPrintsIt) {
    const std::string link = dir_.Path() + "supply-link";
    Start({"--link", link});
    EXPECT_EQ(sim_->PortName(), link);
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "ports"));
    RawPort port(link);
    port.Send("*IDN?\n");
    EXPECT_EQ(port.ReadLine().rfind("PSU,SIM,", 0), 0u);
    sim_->Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(SimTest, SurvivesOverlongLinesAndBinaryGarbage) {
    Start({"--transcript", TranscriptPath()});
    EXPECT_EQ(Ask(std::string(10000, 'A')), "ERR\n");
    // Truncated, a command-shaped line must not count as the command.
    EXPECT_EQ(Ask("SOUR:VOLT 1" + std::string(5000, '0')), "ERR\n");
    std::string garbage;
    for (int c = 0; c < 256; ++c)
        if (c != '\n')
            garbage += static_cast<char>(c);
    EXPECT_EQ(Ask(garbage), "ERR\n");
    EXPECT_EQ(Ask("*IDN?").rfind("PSU,SIM,", 0), 0u);
    const auto lines = Lines(testsupport::ReadFile(TranscriptPath()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find(" [truncated]"), std::string::npos);
}

TEST_F(SimTest, KeepsServingWhenTheHostStopsReading) {
    Start({});
    RawPort port(LinkPath());
    // Far more reply bytes than the terminal and the server's output bound can hold.
    std::string polls;
    for (int i = 0; i < 8000; ++i)
        polls += "READ:ALL?\n";
    port.Send(polls);
    // Replies that did not fit are gone; what did fit drains, and then nothing more comes.
    EXPECT_TRUE(port.DrainUntilQuiet(300ms, 30s));
    EXPECT_EQ(Ask("*IDN?").rfind("PSU,SIM,", 0), 0u);
}

TEST(SimCommandLine, HelpExitsZeroAndNamesEveryOption) {
    const RunResult result = RunToEnd("--help");
    EXPECT_EQ(result.exitCode, 0);
    for (const char* option :
         {"--appdir",      "--port",        "--link",           "--model",       "--load",
          "--noise",       "--seed",        "--transcript",     "--delay-ms",    "--silent",
          "--no-ack",      "--crlf",        "--garble-every",   "--chunk-bytes", "--chunk-pause-ms",
          "--flood-every", "--flood-bytes", "--flood-pause-ms", "--exit-after",  "--help"})
        EXPECT_NE(result.output.find(option), std::string::npos) << option;
}

TEST(SimCommandLine, BadOptionsExitTwoNamingTheProblem) {
    testsupport::TempDir dir;
    const std::string link = "--link " + dir.Path() + "link";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--bogus", "--bogus"},
        {link + " --port 0", "--port"},
        {link + " --port 1000", "--port"},
        {link + " --load 0", "--load"},
        {link + " --noise -1", "--noise"},
        {link + " --model AB12", "--model"},
        {link + " --model XYZ30A0N", "--model"},
        {link + " --delay-ms 1x", "--delay-ms"},
        {link + " --garble-every", "--garble-every"},
        {"--port 3", "--appdir"},
        {"", "--link"}};
    for (const auto& [arguments, named] : cases) {
        // Should an option wrongly pass, the server still ends on its own.
        const RunResult result = RunToEnd(arguments + " --exit-after 2");
        EXPECT_EQ(result.exitCode, 2) << arguments;
        EXPECT_NE(result.output.find(named), std::string::npos)
            << arguments << " -> " << result.output;
    }
}

} // namespace
