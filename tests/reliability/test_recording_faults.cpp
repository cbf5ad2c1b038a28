// The recording when its directory is refused and when the process is killed while it writes.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "LiveWorker.h"
#include "RecordingFile.h"
#include "common/uCheckAll.h"
#include "record/CsvRecordingSink.h"

using namespace reliability;

namespace {

namespace fs = std::filesystem;

// The only file under the directory with the extension, or empty.
std::string OnlyFile(const std::string& directory, const std::string& extension) {
    std::vector<std::string> found;
    if (fs::exists(directory))
        for (const auto& entry : fs::recursive_directory_iterator(directory))
            if (entry.path().extension() == extension)
                found.push_back(entry.path().string());
    return found.size() == 1 ? found.front() : std::string();
}

class RecordingFaults : public LiveWorkerTest {};

TEST_F(RecordingFaults, ARefusedDirectoryNeitherStopsAcquisitionNorHidesAndIsTriedAgain) {
    const std::string base = dir.Path() + "Data/";
    testsupport::WriteFile(dir.Path() + "Data", "a file where the directory should be");
    StartSim();
    testing::internal::CaptureStderr();
    StartWorker(view, 1, std::make_unique<CsvRecordingSink>(base));
    ASSERT_TRUE(WaitForPoints(20)) << "acquisition stopped";
    StopWorker();
    const std::string console = testing::internal::GetCapturedStderr();
    const auto counts = record.Counts();
    EXPECT_EQ(counts.answeredPolls, counts.polls);
    EXPECT_EQ(view.PointCount(), static_cast<std::size_t>(counts.answeredPolls));

    const std::vector<std::string> problems = view.SinkProblems();
    ASSERT_EQ(problems.size(), 1u) << "the problem reached the view more than once";
    EXPECT_NE(problems[0].find(base), std::string::npos) << problems[0];
    std::size_t said = 0;
    for (std::size_t at = 0; (at = console.find(problems[0], at)) != std::string::npos; ++at)
        ++said;
    EXPECT_EQ(said, 1u) << console;

    // The next worker tries again and records.
    fs::remove(dir.Path() + "Data");
    StartWorker(view, 1, std::make_unique<CsvRecordingSink>(base));
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        const std::string path = OnlyFile(base, ".csv");
        return !path.empty() && ReadRecording(path).rows.size() >= 5;
    })) << "the next worker did not record";
    StopWorker();
    EXPECT_FALSE(OnlyFile(base, ".ini").empty());
}

// ---- kill -9 while recording -----------------------------------------------------------------

CycleRecord NthRecord(long n) {
    // An event every tenth row, so that quoted and unquoted rows alike are cut.
    return {{2026, 12, 11, 14, 3, 28, 512, 480},
            double(n),
            Measurement{12.5, 0.25, 3.125},
            n % 10 == 0 ? "SOUR:CURR 1.00 -> ERR,\"x\"" : ""};
}

// Records rows for ever, as fast as it can; tells the parent once its file has its header.
[[noreturn]] void RecordForEver(const std::string& base, int started) {
    CsvRecordingSink sink(base);
    sink.Begin({"COM3", 115200, "PSU3005", "SN1", "V1", 30, 5}, {2026, 12, 11, 14, 3, 27, 0, 480});
    if (!sink.Problem().empty())
        _exit(3);
    [[maybe_unused]] const ssize_t n = write(started, "1", 1);
    for (long i = 1;; ++i)
        sink.Record(NthRecord(i));
}

// Starts a recording child, kills it after the delay and reaps it.
void KillARecorderAfter(const std::string& base, std::chrono::microseconds delay) {
    testsupport::KillAWorkingChildAfter([&](int started) { RecordForEver(base, started); }, delay);
}

TEST(KilledRecording, LeavesEveryRowButPossiblyTheLastWhole) {
    testsupport::TempDir dir;
    std::mt19937 random(12);
    std::uniform_int_distribution<long long> delayUs(0, 20000);
    constexpr int kRounds = 100;
    std::size_t rows = 0, cutRows = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string base = dir.Path() + std::to_string(round) + "/";
        KillARecorderAfter(base, std::chrono::microseconds(delayUs(random)));
        if (::testing::Test::HasFatalFailure())
            return;
        const RecordingFile file = ReadRecording(OnlyFile(base, ".csv"));
        ASSERT_TRUE(file.startsWithHeader) << "round " << round;
        for (std::size_t i = 0; i < file.rows.size(); ++i) {
            const std::string expected = RecordingRow(NthRecord(long(i) + 1));
            ASSERT_EQ(file.rows[i] + "\r\n", expected) << "round " << round << ", row " << i + 1;
        }
        const std::string next = RecordingRow(NthRecord(long(file.rows.size()) + 1));
        ASSERT_EQ(next.compare(0, file.tail.size(), file.tail), 0)
            << "round " << round << " ends in something else than the next row: " << file.tail;
        rows += file.rows.size();
        cutRows += file.tail.empty() ? 0 : 1;
    }
    EXPECT_GT(rows, std::size_t(kRounds)) << "the kills fell before the rows they should cut";
    RecordProperty("rounds", kRounds);
    RecordProperty("whole_rows", static_cast<int>(rows));
    RecordProperty("rounds_ending_in_a_cut_row", static_cast<int>(cutRows));
}

} // namespace
