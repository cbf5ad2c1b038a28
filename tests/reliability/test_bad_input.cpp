// Malformed input at the program's boundaries: measurement replies off the wire, and settings files
// that are damaged, huge, in the way or out of reach.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <random>
#include <sys/stat.h>

#include "LiveWorker.h"
#include "common/Errors.h"
#include "common/uCheckAll.h"
#include "protocol/Protocol.h"
#include "support/PeerResponder.h"
#include "support/PtyPeer.h"
#include "support/SettingsFixture.h"
#include "support/Unprivileged.h"

using namespace reliability;
using namespace std::string_literals;
using workertest::Sample;

namespace {

namespace fs = std::filesystem;

// ---- Measurement replies ---------------------------------------------------------------------

struct ReadingCase {
    std::string wire;               // what the supply sends, line feed included
    std::optional<Sample> accepted; // the point it gives (x aside), or nothing when dropped
};

Sample Point(double volts, double amperes, double watts) {
    return {0, volts, amperes, watts};
}

const std::vector<ReadingCase>& ReadingCorpus() {
    static const std::vector<ReadingCase> corpus = {
        {"12.00,1.50,18.00\n", Point(12, 1.5, 18)},
        {" 12.00 , 1.50 , 18.00 \r\n", Point(12, 1.5, 18)},
        {"\t1\t,\x01"
         "2\x1f,\x00"
         "3\n"s,
         Point(1, 2, 3)}, // control characters around the fields are trimmed
        {"1e3,2E-1,+3\n", Point(1000, 0.2, 3)},
        {"-1.5,-0,5.\n", Point(-1.5, 0, 5)},
        {"1,2\r,3\r\r\n", Point(1, 2, 3)}, // every CR goes, wherever it stands
        {"\n", std::nullopt},              // an empty reply: not even counted
        {"ERR\n", std::nullopt},
        {"1,2\n", std::nullopt},
        {"1,2,3,4\n", std::nullopt},
        {",,\n", std::nullopt},
        {"12,50,1,50,18,75\n", std::nullopt}, // a supply writing decimal commas
        {"1,2\x00"
         "5,3\n"s,
         std::nullopt},
        {"1,\xff\xfe,3\n", std::nullopt},
        {"\xef\xbc\x91,2,3\n", std::nullopt}, // a full-width digit
        {"nan,inf,1\n", std::nullopt},
        {"1e999,1,1\n", std::nullopt},
        {std::string(1000, '9') + ",1,1\n", std::nullopt},    // beyond a double
        {std::string(1018, '0') + "1,2,3\n", Point(1, 2, 3)}, // 1024 bytes: still read whole
        {"1 2,3,4\n", std::nullopt},
        {"+,-,.\n", std::nullopt},
    };
    return corpus;
}

class MalformedReadings : public LiveWorkerTest {};

TEST_F(MalformedReadings, GiveAWholePointOrNoneAndPollingGoesOn) {
    serialtest::PtyPeer peer;
    peer.LinkAs(dir.Path(), kPort);
    const std::string sentinel = "9,9,9\n";
    std::size_t next = 0;
    serialtest::PeerResponder supply(
        peer, [&](const std::string& line) -> std::optional<std::string> {
            if (line != CmdReadAll)
                return std::nullopt;
            return next < ReadingCorpus().size() ? ReadingCorpus()[next++].wire : sentinel;
        });

    std::vector<Sample> expected;
    int64_t dropped = 0;
    double sample = 0;
    for (const ReadingCase& c : ReadingCorpus()) {
        if (c.wire == "\n")
            continue;
        ++sample;
        if (!c.accepted) {
            ++dropped;
            continue;
        }
        Sample point = *c.accepted;
        point.x = sample;
        expected.push_back(point);
    }
    expected.push_back({sample + 1, 9, 9, 9});

    StartWorker();
    ASSERT_TRUE(WaitForPoints(expected.size()));
    StopWorker();

    const auto points = view.Points();
    ASSERT_GE(points.size(), expected.size());
    EXPECT_EQ(std::vector<Sample>(points.begin(), points.begin() + expected.size()), expected);
    EXPECT_EQ(record.DroppedAtEnd(), dropped);
    EXPECT_EQ(view.LastShown(), (workertest::Texts{"9", "9", "9"}));
    EXPECT_EQ(LogCount("COMM", "send bad."), 0u);
}

// ---- Settings files at start-up --------------------------------------------------------------

class BadSettingsFile : public testsupport::SettingsFixture {};

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() % 256);
    return bytes;
}

struct FileCase {
    const char* what;
    std::string content;
    std::string port;           // loaded when the load succeeds
    int32_t baud;               //
    std::string convertFailure; // the error's message when the load must fail
};

TEST_F(BadSettingsFile, LoadsWhatIsThereOrFailsNamingTheText) {
    const std::string section = "[com Info]\r\ncom=COM7\r\nbaut=9600\r\n";
    const std::string twoMegabytes(2 * 1024 * 1024, 'x');
    const std::vector<FileCase> cases = {
        {"binary junk", RandomBytes(64 * 1024, 1), "com1", 115200, ""},
        {"binary junk before the section", RandomBytes(64 * 1024, 2) + "\r\n" + section, "COM7",
         9600, ""},
        {"junk values", "[com Info]\r\ncom=\x01\xfe\x00X\r\nbaut=\xff\x80\r\n"s, "\x01\xfe\x00X"s,
         0, "'\xff\x80' is not a valid integer value"},
        {"2 MB of other lines, then the section", "[big]\r\n" + twoMegabytes + "\r\n" + section,
         "COM7", 9600, ""},
        {"2 MB line without a line end", twoMegabytes, "com1", 115200, ""},
        {"2 MB baud value, read cut to 2047 characters",
         "[com Info]\r\nbaut=" + std::string(2 * 1024 * 1024, '9') + "\r\n", "com1", 0,
         "'" + std::string(2047, '9') + "' is not a valid integer value"},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::WriteFile(ConfigPath(), c.content);
        ComPortName.clear();
        ComBaudRate = -1;
        try {
            LoadComSettings();
            EXPECT_EQ(c.convertFailure, "") << "the load did not fail";
            EXPECT_EQ(ComPortName, c.port);
            EXPECT_EQ(ComBaudRate, c.baud);
        } catch (const EConvertError& error) {
            EXPECT_EQ(error.what(), c.convertFailure);
        }
    }
}

TEST_F(BadSettingsFile, ADirectoryNamedConfigIniReadsAsNoFile) {
    fs::create_directory(ConfigPath());
    ComPortName = "COM9";
    EXPECT_TRUE(LoadComSettings());
    EXPECT_EQ(ComPortName, "com1");
    EXPECT_EQ(ComBaudRate, 115200);
}

// The user runs the program, but config.ini and its directory belong to someone else.
class SettingsOutOfReach : public BadSettingsFile {
protected:
    void SetUp() override {
        BadSettingsFile::SetUp();
        ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0); // others may enter, not write
        testsupport::WriteFile(ConfigPath(), old);
    }
    const std::string old = "[com Info]\r\ncom=COM7\r\nbaut=9600\r\n";
};

TEST_F(SettingsOutOfReach, AnUnreadableFileGivesTheDefaults) {
    ASSERT_EQ(chmod(ConfigPath().c_str(), 0600), 0);
    const auto defaults = testsupport::RunUnprivileged(
        [] { return LoadComSettings() && ComPortName == "com1" && ComBaudRate == 115200; });
    ASSERT_TRUE(defaults.has_value()) << "could not run as an unprivileged user";
    EXPECT_TRUE(*defaults);
}

TEST_F(SettingsOutOfReach, ASaveIsRefusedAndTheFileStaysAsItWas) {
    ASSERT_EQ(chmod(ConfigPath().c_str(), 0644), 0);
    const std::string expected = "Unable to write to " + ConfigPath();
    const auto refused = testsupport::RunUnprivileged([&] {
        ComPortName = "COM3";
        try {
            SaveComSettings();
            return false;
        } catch (const EWriteError& error) {
            return error.what() == expected;
        }
    });
    ASSERT_TRUE(refused.has_value()) << "could not run as an unprivileged user";
    EXPECT_TRUE(*refused);
    EXPECT_EQ(testsupport::ReadFile(ConfigPath()), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1) << "no temporary left";
}

} // namespace
