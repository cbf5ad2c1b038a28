// The worker against a misbehaving supply: each fault of psu-sim, the port vanishing and coming
// back, and the port held by another program.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "LiveWorker.h"
#include "common/uCheckAll.h"
#include "protocol/Protocol.h"
#include "support/PortHolder.h"

using namespace reliability;
using workertest::Sample;

namespace {

const std::string kFirstPresetLine = "rece:5.00,0.50,2.50";

// Every point carries the full reading, in order of its sample number.
void ExpectWholeFirstPresetPoints(const std::vector<Sample>& points) {
    double lastX = 0;
    for (const Sample& p : points) {
        EXPECT_EQ(Sample({p.x, kFirstPreset.volts, kFirstPreset.amperes, kFirstPreset.watts}), p)
            << "x " << p.x;
        EXPECT_GT(p.x, lastX);
        lastX = p.x;
    }
}

std::size_t CountReceived(const std::vector<Received>& lines, const std::string& line) {
    std::size_t count = 0;
    for (const auto& entry : lines)
        count += entry.line == line ? 1 : 0;
    return count;
}

// On the supply's side: after each line it left unanswered, the next line came only once the host
// had waited out its reply limit.
void ExpectEachUnansweredLineCostsTheLimit(
    const std::vector<Received>& received,
    const std::function<bool(const std::string&)>& unanswered) {
    // The supply stamps a line when it gets to read it; a late read of one line shortens the gap
    // to the next by that lateness. A host that did not wait would send the next line within a
    // few milliseconds, so a tenth of the limit is room enough for a loaded machine.
    constexpr int kLimitMs = 1000, kReadLatenessMs = 100;
    for (std::size_t i = 0; i + 1 < received.size(); ++i) {
        if (unanswered(received[i].line)) {
            EXPECT_GE(received[i + 1].ms - received[i].ms, kLimitMs - kReadLatenessMs)
                << received[i].line;
        }
    }
}

using FaultMatrix = LiveWorkerTest;

TEST_F(FaultMatrix, SilentSupplyCostsEachPollItsLimitAndChangesNothing) {
    StartSim({"--silent"});
    StartWorker();
    ASSERT_TRUE(WaitForPolls(3));
    StopWorker();

    EXPECT_EQ(record.Counts().answeredPolls, 0);
    EXPECT_EQ(view.PointCount(), 0u);
    EXPECT_EQ(view.ShownCount(), 0u);
    const auto received = Transcript();
    EXPECT_GE(CountReceived(received, CmdReadAll), 3u) << "polling goes on";
    ExpectEachUnansweredLineCostsTheLimit(received, [](const std::string&) { return true; });
    EXPECT_EQ(LogCount("comm", "rece:"), 0u);
    EXPECT_EQ(LogCount("COMM", "send bad."), 0u);
}

TEST_F(FaultMatrix, UnansweredSettingsCostTheirLimitWhilePollingGoesOn) {
    StartSim({"--no-ack"});
    CommandQueue.Append(CmdSetVoltagePrefix + std::string("12.00"));
    CommandQueue.Append(CmdApplyPreset2);
    StartWorker();
    // 12 V, 2 A through 10 ohm: the unanswered lines were still carried out.
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        return view.LastShown() == workertest::Texts{"12.00", "1.20", "14.40"};
    }));
    StopWorker();

    const auto sends = record.Sends();
    ASSERT_EQ(sends.size(), 2u);
    for (std::size_t i = 0; i < sends.size(); ++i) {
        EXPECT_EQ(sends[i].reply, "") << sends[i].line;
        EXPECT_EQ(sends[i].pollsBefore, static_cast<int64_t>(i)) << "one line per cycle";
    }
    const auto counts = record.Counts();
    EXPECT_EQ(counts.answeredPolls, counts.polls) << "every poll still answered";

    const auto received = Transcript();
    const auto isSetting = [](const std::string& line) { return line != CmdReadAll; };
    ExpectEachUnansweredLineCostsTheLimit(received, isSetting);
    for (std::size_t i = 0; i + 1 < received.size(); ++i) {
        if (isSetting(received[i].line)) {
            EXPECT_EQ(received[i + 1].line, CmdReadAll) << "each line is followed by its poll";
        }
    }
}

TEST_F(FaultMatrix, GarbledRepliesAreDroppedWholeAndPollingGoesOn) {
    StartSim({"--garble-every", "3"});
    StartWorker();
    ASSERT_TRUE(WaitForPoints(6));
    StopWorker();

    const auto points = view.Points();
    ExpectWholeFirstPresetPoints(points);
    for (const Sample& p : points)
        EXPECT_NE(static_cast<int>(p.x) % 3, 0) << "sample " << p.x << " was the garbled one";
    const auto counts = record.Counts();
    EXPECT_EQ(counts.answeredPolls, counts.polls);
    EXPECT_EQ(record.SampleCountAtEnd(), counts.answeredPolls) << "a dropped reply still counts";
    EXPECT_EQ(record.DroppedAtEnd(), counts.answeredPolls / 3);
    EXPECT_EQ(points.size() + record.DroppedAtEnd(),
              static_cast<std::size_t>(counts.answeredPolls));
    EXPECT_EQ(view.ShownCount(), points.size());
    EXPECT_EQ(view.LastShown(), kFirstPresetTexts);
    EXPECT_EQ(LogCount("comm", "rece:1#.x,,ZZ\r\n"),
              static_cast<std::size_t>(record.DroppedAtEnd()))
        << "the dropped replies are still logged";
}

// Replies that arrive in another shape than one plain line must read exactly as one.
struct ShapeCase {
    const char* name;
    std::vector<std::string> faults;
    std::string logLine; // how each poll reply is logged
};

// Names the case in test listings, the same in every run.
void PrintTo(const ShapeCase& c, std::ostream* out) {
    *out << c.name;
}

class ReplyShapes : public LiveWorkerTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(ReplyShapes, ReadAsOneWholeReplyEach) {
    StartSim(GetParam().faults);
    StartWorker();
    ASSERT_TRUE(WaitForPoints(4));
    StopWorker();

    const auto counts = record.Counts();
    EXPECT_EQ(counts.answeredPolls, counts.polls) << "no reply lost";
    EXPECT_EQ(record.DroppedAtEnd(), 0);
    EXPECT_EQ(view.PointCount(), static_cast<std::size_t>(counts.answeredPolls));
    ExpectWholeFirstPresetPoints(view.Points());
    EXPECT_EQ(view.LastShown(), kFirstPresetTexts);
    EXPECT_EQ(LogCount("comm", GetParam().logLine), static_cast<std::size_t>(counts.polls));
    EXPECT_EQ(LogCount("comm", "rece:"), static_cast<std::size_t>(counts.polls));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplyShapes,
    ::testing::Values(
        ShapeCase{
            "Chunks", {"--chunk-bytes", "4", "--chunk-pause-ms", "60"}, kFirstPresetLine + "\r\n"},
        ShapeCase{"CrLf", {"--crlf"}, kFirstPresetLine + "\r\r\n"},
        ShapeCase{"ByteByByteCrLf",
                  {"--crlf", "--chunk-bytes", "1", "--chunk-pause-ms", "15"},
                  kFirstPresetLine + "\r\r\n"},
        // 2000 bytes without a line feed before every second reply: thrown away at once.
        ShapeCase{"Flood", {"--flood-every", "2"}, kFirstPresetLine + "\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaultMatrix, VanishedPortChangesNothingLosesQueuedLinesAndPollingResumesWhenItIsBack) {
    StartSim();
    StartWorker();
    ASSERT_TRUE(WaitForPoints(3));
    ::testing::internal::CaptureStderr();
    sim->Stop(); // the port's name and its terminal go away

    // Once a transaction has failed on the missing port, the last reading is in the view.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return LogCount("COMM", "send bad.") >= 1; }));
    const std::size_t pointsBefore = view.PointCount();
    const std::size_t shownBefore = view.ShownCount();
    const auto textsBefore = view.LastShown();
    const int64_t pollsBefore = record.Counts().polls;
    for (const char* line : {CmdApplyPreset1, CmdApplyPreset2, CmdApplyPreset3})
        CommandQueue.Append(line);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return record.Sends().size() == 3; }));
    ASSERT_TRUE(WaitForPolls(pollsBefore + 5));

    EXPECT_EQ(view.PointCount(), pointsBefore);
    EXPECT_EQ(view.ShownCount(), shownBefore);
    EXPECT_EQ(view.LastShown(), textsBefore);
    EXPECT_EQ(CommandQueue.Count(), 0u);
    const auto sends = record.Sends();
    for (std::size_t i = 0; i < sends.size(); ++i) {
        EXPECT_EQ(sends[i].reply, "") << sends[i].line;
        if (i > 0) {
            EXPECT_EQ(sends[i].pollsBefore, sends[i - 1].pollsBefore + 1) << "one line per cycle";
        }
    }

    // The port comes back under the same name: the same worker reads again, with no reconnect.
    StartSim();
    ASSERT_TRUE(WaitForPoints(pointsBefore + 3));
    EXPECT_FALSE(record.Ended());
    StopWorker();
    EXPECT_GT(view.MissingCount(), 0u);
    EXPECT_TRUE(view.EndShown());

    // A terminal saw the change of cause each way, once each; without its link the port number
    // falls back to the fixed map, whose device this machine may lack too.
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::string gone = "COM3: 串口设备不存在：";
    const std::string back = "COM3: 通信正常。\n";
    const std::size_t goneAt = said.find(gone);
    EXPECT_NE(goneAt, std::string::npos) << said;
    EXPECT_NE(said.find(back, goneAt), std::string::npos) << said;
    EXPECT_EQ(said.find(gone, goneAt + 1), std::string::npos) << said;

    const auto points = view.Points();
    ExpectWholeFirstPresetPoints(points);
    EXPECT_EQ(points[pointsBefore].x, points[pointsBefore - 1].x + 1)
        << "no reply was counted while the port was gone";
    for (const auto& entry : Transcript())
        EXPECT_NE(entry.line.rfind("SOUR:APPLY", 0), 0u) << "a lost line reached the supply";
    // Each transaction that found no port logged it once; the one under way when the port went
    // failed after its open and logged nothing.
    const auto counts = record.Counts();
    const int64_t failed =
        (counts.polls - counts.answeredPolls) + (counts.sends - counts.answeredSends);
    const auto sendBad = static_cast<int64_t>(LogCount("COMM", "send bad.\r\n"));
    EXPECT_GE(sendBad, failed - 1);
    EXPECT_LE(sendBad, failed);
}

TEST_F(FaultMatrix, PortHeldByAnotherProgramFailsEachTransactionUntilReleased) {
    StartSim();
    StartWorker();
    ASSERT_TRUE(WaitForPoints(2));
    const std::string device =
        std::filesystem::read_symlink(dir.Path() + "ports/com" + std::to_string(kPort));
    testsupport::PortHolder holder(device);
    ASSERT_TRUE(holder.held());

    ASSERT_TRUE(testsupport::WaitUntil([&] { return LogCount("COMM", "send bad.") >= 1; }));
    const std::size_t pointsBefore = view.PointCount();
    const std::size_t receivedBefore = Transcript().size();
    const int64_t pollsBefore = record.Counts().polls;
    ASSERT_TRUE(WaitForPolls(pollsBefore + 5));
    EXPECT_EQ(view.PointCount(), pointsBefore);
    EXPECT_EQ(Transcript().size(), receivedBefore)
        << "nothing reaches a port another program holds";
    EXPECT_GE(LogCount("COMM", "send bad.\r\n"), 5u);

    holder.Release();
    ASSERT_TRUE(WaitForPoints(pointsBefore + 2));
    EXPECT_FALSE(record.Ended());
}

} // namespace
