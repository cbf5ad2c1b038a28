// ComTransact end to end over a pseudo-terminal whose far end the test scripts.

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/file.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "common/uCheckAll.h"
#include "platform/Platform.h"
#include "support/GlobalsGuard.h"
#include "support/LogCount.h"
#include "support/PtyPeer.h"
#include "support/TestSupport.h"

using serialtest::LogText;
using serialtest::OpenDescriptorCount;
using serialtest::PtyPeer;

namespace {

constexpr int kPort = 7;
constexpr TransactFailure kOk = TransactFailure::None;
const std::string kCommand = "READ:ALL?";

// The log text that appeared since `before` was taken.
std::string NewLogText(const std::string& channel, const std::string& before) {
    const std::string now = LogText(AppDir, channel);
    return now.substr(std::min(before.size(), now.size()));
}

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppDir = dir_.Path();
        peer_.LinkAs(AppDir, kPort);
    }

    // One transaction on `portText` while the peer answers the command with the chunks, each
    // sent once the host has taken the one before. `wire_` gets every byte the host wrote.
    std::string Transact(const std::vector<std::string>& chunks,
                         const std::string& portText = std::to_string(kPort)) {
        peer_.DiscardPending();
        std::thread far([&] {
            wire_ = peer_.ReadLine();
            for (std::size_t i = 0; i < chunks.size(); ++i) {
                if (i > 0)
                    testsupport::WaitUntil([&] { return peer_.SlaveBytesWaiting() == 0; },
                                           std::chrono::seconds(2));
                peer_.Send(chunks[i]);
            }
        });
        std::string reply = "stale";
        ComTransact(portText, "115200", kCommand, true, reply);
        far.join();
        wire_ += peer_.ReadAvailable();
        return reply;
    }

    // A transaction that must fail before anything reaches the wire.
    std::string TransactUnsent(const std::string& portText, const std::string& baudText) {
        peer_.DiscardPending();
        std::string reply = "stale";
        ComTransact(portText, baudText, kCommand, true, reply);
        EXPECT_EQ(peer_.ReadAvailable(), "");
        return reply;
    }

    testsupport::GlobalsGuard globals_;
    testsupport::TempDir dir_;
    PtyPeer peer_;
    std::string wire_;
};

struct ReplyCase {
    const char* what;
    std::vector<std::string> chunks;
    std::string reply;
    bool logged;
    std::string logText; // after "rece:"
    TransactFailure cause;
};

TEST_F(TransactionTest, ReplyBytesGiveTheirReplyAndLogLine) {
    using namespace std::string_literals;
    const std::vector<ReplyCase> cases = {
        {"CR LF", {"1.00,2.00,3.00\r\n"}, "1.00,2.00,3.00", true, "1.00,2.00,3.00\r", kOk},
        {"chunks", {"1.00,", "2.00,", "3.00\n"}, "1.00,2.00,3.00", true, "1.00,2.00,3.00", kOk},
        {"two lines", {"AB\nCD\n"}, "ABCD", true, "AB\nCD", kOk},
        {"bare LF", {"\n"}, "", true, "", kOk},
        {"zero byte", {"A\0B\n"s}, "A\0B"s, true, "A\0B"s, kOk},
        {"high bytes", {"\xFF\x80\n"}, "\xFF\x80", true, "\xFF\x80", kOk},
        {"silence", {}, "", false, "", TransactFailure::NoReply},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string logBefore = LogText(AppDir, "comm");
        const int descriptors = OpenDescriptorCount();

        EXPECT_EQ(Transact(c.chunks), c.reply);

        EXPECT_EQ(LastTransactCause().failure, c.cause);
        EXPECT_EQ(wire_, kCommand + "\n");
        EXPECT_EQ(OpenDescriptorCount(), descriptors);
        const std::string logged = NewLogText("comm", logBefore);
        if (c.logged) {
            const std::string line = "] rece:" + c.logText + "\r\n";
            ASSERT_GE(logged.size(), line.size());
            EXPECT_EQ(logged.substr(logged.size() - line.size()), line);
            EXPECT_EQ(logged.front(), '[');
            EXPECT_EQ(logged.find('['), logged.rfind('[')) << "one line only";
        } else {
            EXPECT_EQ(logged, "");
        }
    }
    EXPECT_EQ(testsupport::LogCount(AppDir, "COMM", "send bad."), 0u);
}

TEST_F(TransactionTest, BacklogOverLimitIsPurgedAndTheNextLineStillRead) {
    peer_.MakeRaw();
    peer_.Send(std::string(2000, 'x'));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return peer_.SlaveBytesWaiting() == 2000; }));

    std::string reply;
    std::thread far([&] {
        wire_ = peer_.ReadLine();
        // The host throws the backlog away before it reads anything.
        testsupport::WaitUntil([&] { return peer_.SlaveBytesWaiting() == 0; });
        peer_.Send("OK\n");
    });
    ComTransact(std::to_string(kPort), "115200", kCommand, true, reply);
    far.join();

    EXPECT_EQ(reply, "OK");
    EXPECT_EQ(wire_, kCommand + "\n");
}

TEST_F(TransactionTest, NoiseWithoutLineFeedEndsEmptyWithoutLeaks) {
    std::mt19937 random(42);
    std::string noise(100 * 1024, '\0');
    for (char& byte : noise)
        byte = static_cast<char>(random() % 256);
    std::replace(noise.begin(), noise.end(), '\n', 'x');
    const int descriptors = OpenDescriptorCount();

    EXPECT_EQ(Transact({noise}), "");

    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(LogText(AppDir, "comm"), "");
}

TEST_F(TransactionTest, VanishedPortEndsEmptyAndANewOneServes) {
    std::string reply = "stale";
    const int descriptors = OpenDescriptorCount();
    std::thread far([&] {
        peer_.ReadLine();
        peer_.CloseMaster();
    });
    ComTransact(std::to_string(kPort), "115200", kCommand, true, reply);
    far.join();
    EXPECT_EQ(OpenDescriptorCount(), descriptors - 1) << "only the peer's own end is gone";
    EXPECT_EQ(reply, "");
    EXPECT_EQ(LastTransactCause().failure, TransactFailure::PortLost);
    EXPECT_EQ(LogText(AppDir, "comm"), "");

    // The port comes back under the same number.
    PtyPeer again;
    std::filesystem::remove(AppDir + "ports/com" + std::to_string(kPort));
    again.LinkAs(AppDir, kPort);
    std::thread answer([&] {
        again.ReadLine();
        again.Send("back\n");
    });
    ComTransact(std::to_string(kPort), "115200", kCommand, true, reply);
    answer.join();
    EXPECT_EQ(reply, "back");
}

TEST_F(TransactionTest, PortHeldElsewhereIsSendBadUntilReleased) {
    const int holder = open(peer_.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    EXPECT_EQ(TransactUnsent(std::to_string(kPort), "115200"), "");
    EXPECT_NE(LogText(AppDir, "COMM").find("] send bad.\r\n"), std::string::npos);
    EXPECT_EQ(LastTransactCause().failure, TransactFailure::PortBusy);
    EXPECT_EQ(DescribeTransactCause(LastTransactCause()), "串口已被其他程序占用。");

    close(holder);
    EXPECT_EQ(Transact({"free\n"}), "free");
}

struct OpenFailure {
    const char* what;
    std::string portText;
    std::string baudText;
    TransactFailure cause;
    std::string said; // what the operator is told
};

TEST_F(TransactionTest, OpenFailuresAreSendBadAndLeaveThePortUsable) {
    std::filesystem::create_symlink(AppDir + "no-such-device", AppDir + "ports/com8");
    const std::vector<OpenFailure> cases = {
        {"no device for the number", "200", "115200", TransactFailure::DeviceMissing,
         "该串口号没有对应的设备。"},
        {"dangling ports/ link", "8", "115200", TransactFailure::DeviceMissing,
         "串口设备不存在：" + AppDir + "ports/com8。"},
        {"baud termios cannot set", std::to_string(kPort), "12345",
         TransactFailure::SettingsRefused, "串口不接受通信设置（波特率 12345）。"},
        {"baud zero", std::to_string(kPort), "0", TransactFailure::SettingsRefused,
         "串口不接受通信设置（波特率 0）。"},
        {"negative baud", std::to_string(kPort), "-9600", TransactFailure::SettingsRefused,
         "串口不接受通信设置（波特率 -9600）。"},
    };
    for (const OpenFailure& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string logBefore = LogText(AppDir, "COMM");
        const int descriptors = OpenDescriptorCount();

        EXPECT_EQ(TransactUnsent(c.portText, c.baudText), "");

        EXPECT_EQ(LastTransactCause().failure, c.cause);
        EXPECT_EQ(DescribeTransactCause(LastTransactCause()), c.said);
        EXPECT_EQ(OpenDescriptorCount(), descriptors);
        const std::string logged = NewLogText("COMM", logBefore);
        EXPECT_EQ(logged.substr(logged.find(']') + 1), " send bad.\r\n");
    }
    // A refused setting did not leave the port open or locked.
    EXPECT_EQ(Transact({"again\n"}), "again");
    EXPECT_EQ(LastTransactCause().failure, kOk) << "a success clears the cause";
}

TEST_F(TransactionTest, EachThreadKeepsTheCauseOfItsOwnLastTransaction) {
    TransactUnsent("", "115200");
    std::thread other([] {
        std::string reply;
        ComTransact("200", "115200", kCommand, true, reply);
        EXPECT_EQ(LastTransactCause().failure, TransactFailure::DeviceMissing);
    });
    other.join();
    EXPECT_EQ(LastTransactCause().failure, TransactFailure::NoPort);
    EXPECT_EQ(DescribeTransactCause(LastTransactCause()), "未选择串口。");
}

TEST_F(TransactionTest, TextsThatDoNotConvertLogNothing) {
    using enum TransactFailure;
    const std::vector<std::tuple<std::string, std::string, TransactFailure>> cases = {
        {"", "115200", NoPort},
        {"A0", "115200", NoPort},
        {"7x", "115200", NoPort},
        {"7", "", SettingsRefused},
        {"7", "fast", SettingsRefused}};
    for (const auto& [portText, baudText, cause] : cases) {
        SCOPED_TRACE("port [" + portText + "] baud [" + baudText + "]");
        EXPECT_EQ(TransactUnsent(portText, baudText), "");
        EXPECT_EQ(LastTransactCause().failure, cause);
    }
    EXPECT_EQ(LogText(AppDir, "COMM"), "");
    EXPECT_EQ(LogText(AppDir, "comm"), "");
}

TEST_F(TransactionTest, PortNameOpensThePortOfItsNumber) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"COM3", 3}, {"COM12", 12}, {"COM123", 123}, {"COM1234", 123}, {"LPT1", 1}, {"com1", 1}};
    for (const auto& [name, number] : cases) {
        SCOPED_TRACE(name);
        const std::string link = AppDir + "ports/com" + std::to_string(number);
        peer_.LinkAs(AppDir, number);
        EXPECT_EQ(Transact({name + "\n"}, PortNumberText(name)), name);
        std::filesystem::remove(link);
    }
}

} // namespace

TEST_F(TransactionTest, LateReplyToAnEarlierTransactionIsNotTakenByTheNext) {
    peer_.MakeRaw();
    peer_.DiscardPending();
    std::string reply = "stale";
    ComTransact(std::to_string(kPort), "115200", kCommand, true, reply); // nobody answers
    ASSERT_EQ(reply, "");
    ASSERT_EQ(peer_.ReadLine(), kCommand + "\n");
    // The answer comes after the host gave up; the device's other end keeps it queued.
    peer_.Send("late\n");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return peer_.SlaveBytesWaiting() == 5; }));

    std::thread far([&] {
        peer_.ReadLine();
        peer_.Send("fresh\n");
    });
    ComTransact(std::to_string(kPort), "115200", kCommand, true, reply);
    far.join();
    EXPECT_EQ(reply, "fresh");
}
