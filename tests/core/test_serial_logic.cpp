// The transaction's text rules and its reply loop, against a scripted device.

#include <deque>
#include <filesystem>
#include <gtest/gtest.h>

#include "common/Clock.h"
#include "common/Errors.h"
#include "common/uCheckAll.h"
#include "platform/Platform.h"
#include "support/GlobalsGuard.h"
#include "support/TestSupport.h"

namespace {

TEST(HexPairsToText, DecodesPairsOfEitherCase) {
    using namespace std::string_literals;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0A", "\n"}, {"414243", "ABC"}, {"4a4B", "JK"},       {"41F", "A"},     {"", ""},
        {"7", ""},    {"00", "\0"s},     {"FF80", "\xFF\x80"}, {"0D0A", "\r\n"},
    };
    for (const auto& [hex, text] : cases)
        EXPECT_EQ(HexPairsToText(hex), text) << hex;
}

TEST(HexPairsToText, NonHexPairThrowsConvertError) {
    for (const std::string hex : {"0G", "G0", " 1", "+1", "-1", "4142 Z"})
        EXPECT_THROW(HexPairsToText(hex), EConvertError) << hex;
}

TEST(PortNumberText, TakesUpToThreeCharactersFromTheFourth) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"COM3", "3"}, {"COM12", "12"}, {"COM123", "123"}, {"COM1234", "123"},
        {"LPT1", "1"}, {"CNCA0", "A0"}, {"COM", ""},       {"", ""},
    };
    for (const auto& [name, number] : cases)
        EXPECT_EQ(PortNumberText(name), number) << name;
}

TEST(PortDevicePath, FixedMapCoversThreeRangesOfThirtyTwo) {
    testsupport::TempDir dir;
    const std::vector<std::pair<int, std::string>> cases = {
        {1, "/dev/ttyS0"},
        {32, "/dev/ttyS31"},
        {33, "/dev/ttyUSB0"},
        {64, "/dev/ttyUSB31"},
        {65, "/dev/ttyACM0"},
        {96, "/dev/ttyACM31"},
        {97, ""},
        {999, ""},
        {0, ""},
        {-1, ""},
        {1000, ""},
    };
    for (const auto& [number, path] : cases)
        EXPECT_EQ(platform::PortDevicePath(dir.Path(), number), path) << number;
}

TEST(PortDevicePath, PortsLinkOverridesEvenWhenDangling) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.Path() + "ports");
    std::filesystem::create_symlink("/dev/null", dir.Path() + "ports/com5");
    std::filesystem::create_symlink(dir.Path() + "missing", dir.Path() + "ports/com3");
    std::filesystem::create_symlink("/dev/null", dir.Path() + "ports/com500");

    EXPECT_EQ(platform::PortDevicePath(dir.Path(), 5), dir.Path() + "ports/com5");
    EXPECT_EQ(platform::PortDevicePath(dir.Path(), 3), dir.Path() + "ports/com3");
    EXPECT_EQ(platform::PortDevicePath(dir.Path(), 500), dir.Path() + "ports/com500");
    EXPECT_EQ(platform::PortDevicePath(dir.Path(), 4), "/dev/ttyS3");
}

// The transaction's tick clock, moved only by the device's waits, so that the reply limit costs
// no real time.
class ManualTicks {
public:
    ManualTicks() {
        SetTickClock([this] { return now_; });
    }
    ~ManualTicks() { SetTickClock({}); }
    ManualTicks(const ManualTicks&) = delete;
    ManualTicks& operator=(const ManualTicks&) = delete;
    void Advance(std::chrono::milliseconds by) { now_ += by; }

private:
    std::chrono::steady_clock::time_point now_{};
};

// A device whose input arrives in the scripted chunks, one chunk per wait. When the script is
// used up it either fails (gone) or stays silent for the whole wait, as a quiet line does.
class ScriptedDevice : public platform::SerialDevice {
public:
    ScriptedDevice(ManualTicks& ticks, std::deque<std::string> arrivals, bool goneAtEnd)
        : ticks_(ticks), arrivals_(std::move(arrivals)), goneAtEnd_(goneAtEnd) {}

    long Write(const char*, std::size_t size) override { return static_cast<long>(size); }
    long BytesWaiting() override { return failQueries_ ? -1 : static_cast<long>(queue_.size()); }
    long Read(char* buffer, std::size_t size) override {
        largestRead = std::max(largestRead, size);
        const std::size_t count = std::min(size, queue_.size());
        queue_.copy(buffer, count);
        queue_.erase(0, count);
        return static_cast<long>(count);
    }
    bool WaitReadable(int timeoutMs) override {
        ++waits;
        if (!arrivals_.empty()) {
            queue_ += arrivals_.front();
            arrivals_.pop_front();
            return true;
        }
        if (goneAtEnd_)
            return false;
        ticks_.Advance(std::chrono::milliseconds(timeoutMs));
        return true;
    }
    void PurgeInput() override {
        ++purges;
        queue_.clear();
    }

    void FailQueries() { failQueries_ = true; }
    std::size_t ChunksLeft() const { return arrivals_.size(); }

    int waits = 0;
    int purges = 0;
    std::size_t largestRead = 0;

private:
    ManualTicks& ticks_;
    std::deque<std::string> arrivals_;
    bool goneAtEnd_;
    bool failQueries_ = false;
    std::string queue_;
};

class ReadComReplyTest : public ::testing::Test {
protected:
    void SetUp() override { AppDir = dir_.Path(); }

    std::string Read(ScriptedDevice& device) {
        std::string reply = "stale";
        ReadComReply(device, 1, reply);
        return reply;
    }

    testsupport::GlobalsGuard globals_;
    testsupport::TempDir dir_;
    ManualTicks ticks;
};

TEST_F(ReadComReplyTest, EndsWithTheFirstChunkThatEndsInLineFeed) {
    ScriptedDevice device(ticks, {"1.00,", "2.0\n0,", "3.00\r\n", "late\n"}, true);
    EXPECT_EQ(Read(device), "1.00,2.00,3.00");
    EXPECT_EQ(device.ChunksLeft(), 1u);
}

TEST_F(ReadComReplyTest, BacklogOverLimitIsPurgedButExactlyLimitIsRead) {
    ScriptedDevice flooded(ticks, {std::string(1025, 'x'), "OK\n"}, true);
    EXPECT_EQ(Read(flooded), "OK");
    EXPECT_EQ(flooded.purges, 1);

    ScriptedDevice full(ticks, {std::string(1023, 'y') + "\n"}, true);
    EXPECT_EQ(Read(full), std::string(1023, 'y'));
    EXPECT_EQ(full.purges, 0);
    EXPECT_EQ(full.largestRead, 1024u);
}

TEST_F(ReadComReplyTest, GoneDeviceEndsAtOnceWithoutLog) {
    ScriptedDevice gone(ticks, {"partial"}, true);
    EXPECT_EQ(Read(gone), "");
    EXPECT_EQ(gone.waits, 2);
    EXPECT_EQ(LastTransactCause().failure, TransactFailure::PortLost);

    ScriptedDevice failing(ticks, {}, true);
    failing.FailQueries();
    EXPECT_EQ(Read(failing), "");
    EXPECT_EQ(failing.waits, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "Log"));
}

// A quiet line is waited on, not polled: a few waits cover the whole limit.
TEST_F(ReadComReplyTest, SilentLineBlocksUntilTheLimitInFewWaits) {
    for (const char* arrived : {"", "no end", "AB\nCD"}) {
        SCOPED_TRACE(arrived);
        ScriptedDevice silent(ticks, {arrived}, false);
        EXPECT_EQ(Read(silent), "");
        EXPECT_GE(silent.waits, 2);
        EXPECT_LE(silent.waits, 5);
        EXPECT_EQ(LastTransactCause().failure, TransactFailure::NoReply);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "Log"));
}

TEST(ComBytesWaiting, CountsUpToTheLimitAndPurgesAbove) {
    struct Case {
        long waiting;
        unsigned expected;
        int purges;
    };
    ManualTicks ticks;
    for (const Case c : {Case{-1, 0, 0}, Case{0, 0, 0}, Case{1024, 1024, 0}, Case{1025, 0, 1}}) {
        struct Fixed : ScriptedDevice {
            Fixed(ManualTicks& ticks, long n) : ScriptedDevice(ticks, {}, true), n(n) {}
            long BytesWaiting() override { return n; }
            long n;
        } device(ticks, c.waiting);
        EXPECT_EQ(ComBytesWaiting(device), c.expected) << c.waiting;
        EXPECT_EQ(device.purges, c.purges) << c.waiting;
    }
}

} // namespace
