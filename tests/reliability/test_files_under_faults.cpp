// The settings file and the log when the process is killed during a save or the disk is full.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <set>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "LiveWorker.h"
#include "RecordingFile.h"
#include "common/Errors.h"
#include "common/uCheckAll.h"
#include "record/CsvRecordingSink.h"
#include "support/SettingsFixture.h"

using namespace reliability;

namespace {

namespace fs = std::filesystem;

// ---- kill -9 during a save -------------------------------------------------------------------

struct PortSettings {
    std::string port;
    int32_t baud;
};

// The file as a save leaves it, with a section of someone else's that every save must keep.
std::string SettingsFileText(const PortSettings& s) {
    return "[keep]\r\nnote=not ours\r\n[com Info]\r\ncom=" + s.port +
           "\r\nbaut=" + std::to_string(s.baud) + "\r\n";
}

// Saves the two settings in turn, for ever; tells the parent once it has begun.
[[noreturn]] void SaveForEver(const PortSettings& a, const PortSettings& b, int started) {
    [[maybe_unused]] const ssize_t n = write(started, "1", 1);
    for (bool first = true;; first = !first) {
        ComPortName = first ? b.port : a.port;
        ComBaudRate = first ? b.baud : a.baud;
        try {
            SaveComSettings();
        } catch (const std::exception&) {
            _exit(3); // a refused save is a failure of the test set-up
        }
    }
}

class KilledSave : public testsupport::SettingsFixture {
protected:
    // Starts a saving child, kills it after the given time and reaps it.
    void KillASaverAfter(std::chrono::microseconds delay) {
        testsupport::KillAWorkingChildAfter([&](int started) { SaveForEver(a, b, started); },
                                            delay);
    }

    // The mean time of a save, measured in this process.
    std::chrono::microseconds TimeOfOneSave() {
        constexpr int kSaves = 10;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kSaves; ++i) {
            ComPortName = i % 2 ? a.port : b.port;
            SaveComSettings();
        }
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start) /
               kSaves;
    }

    const PortSettings a{"COM1", 9600}, b{"COM123", 115200};
};

TEST_F(KilledSave, LeavesTheOldFileOrTheNewNeverATornOne) {
    const std::string path = dir.Path() + "config.ini";
    // Kill moments spread over a few saves, however long a save takes on this disk.
    const auto saveTime = TimeOfOneSave();
    testsupport::WriteFile(path, SettingsFileText(a));
    // A save writes "com", then "baut", each replaced whole: a kill between the two leaves the
    // new port with the old speed, which is still a whole file.
    const std::set<std::string> whole = {SettingsFileText(a), SettingsFileText(b),
                                         SettingsFileText({b.port, a.baud}),
                                         SettingsFileText({a.port, b.baud})};
    std::mt19937 random(6);
    std::uniform_int_distribution<long long> delayUs(0, 8 * saveTime.count());
    std::set<std::string> seen;
    constexpr int kRounds = 100;
    for (int round = 0; round < kRounds; ++round) {
        KillASaverAfter(std::chrono::microseconds(delayUs(random)));
        if (HasFatalFailure())
            return;
        const std::string content = testsupport::ReadFile(path);
        ASSERT_EQ(whole.count(content), 1u) << "round " << round << " left:\n" << content;
        seen.insert(content);
        ASSERT_NO_THROW(LoadComSettings());
    }
    // Otherwise no kill came after a write: they all fell before the work they are meant to cut.
    EXPECT_GE(seen.size(), 2u) << "every kill left the first file";
    std::size_t leftovers = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        leftovers += entry.path().filename() != "config.ini" ? 1 : 0;
    RecordProperty("rounds", kRounds);
    RecordProperty("microseconds_per_save", static_cast<int>(saveTime.count()));
    RecordProperty("temporary_files_left", static_cast<int>(leftovers));
}

// ---- A full disk -----------------------------------------------------------------------------

// A disk that takes no more bytes, made in one of two ways; the program sees the same refusals.
class FullDisk : public LiveWorkerTest {
protected:
    void TearDown() override {
        MakeRoom();
        LiveWorkerTest::TearDown();
        if (!mountPoint_.empty())
            umount2(mountPoint_.c_str(), MNT_DETACH);
    }

    // AppDir on a 64 kB tmpfs of its own; false when this machine does not allow the mount.
    bool MountSmallDisk(std::string& whyNot) {
        const std::string point = dir.Path() + "disk";
        fs::create_directory(point);
        if (mount("tmpfs", point.c_str(), "tmpfs", 0, "size=64k") != 0) {
            whyNot = std::strerror(errno);
            return false;
        }
        mountPoint_ = point;
        AppDir = point + "/";
        return true;
    }

    // Fills the tmpfs to its last byte.
    void FillSmallDisk() {
        const int fd = open((AppDir + "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        const int error = errno;
        close(fd);
        ASSERT_EQ(error, ENOSPC);
        makeRoom_ = [] { fs::remove(AppDir + "filler"); };
    }

    // Every write to a file of this process fails from now on, as on a disk without room.
    void RefuseAllWrites() {
        previousXfsz_ = std::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previousLimit_), 0);
        const rlimit none{0, previousLimit_.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
        makeRoom_ = [this] {
            setrlimit(RLIMIT_FSIZE, &previousLimit_);
            std::signal(SIGXFSZ, previousXfsz_);
        };
    }

    void MakeRoom() {
        if (makeRoom_)
            makeRoom_();
        makeRoom_ = nullptr;
    }

    // The supply answers, the disk fills: acquisition goes on, only log lines are lost, the
    // settings file refuses a save and stays whole; with room again the log goes on.
    void ExpectOnlyLogLinesLost(const std::function<void()>& fill) {
        const std::string settings = "[com Info]\r\ncom=COM3\r\nbaut=115200\r\n";
        testsupport::WriteFile(AppDir + "config.ini", settings);
        StartSim();
        fill();
        if (HasFatalFailure())
            return;
        ExpectSaveRefused();
        EXPECT_EQ(testsupport::ReadFile(AppDir + "config.ini"), settings);

        StartWorker();
        ASSERT_TRUE(WaitForPoints(20)) << "acquisition stopped on the full disk";
        EXPECT_EQ(LogCount("comm", "rece:"), 0u) << "a line reached the full disk";
        const int64_t answeredWhileFull = record.Counts().answeredPolls;

        MakeRoom();
        ASSERT_TRUE(testsupport::WaitUntil([&] { return LogCount("comm", "rece:") >= 3; }))
            << "the log did not go on once there was room";
        StopWorker();
        const auto counts = record.Counts();
        EXPECT_EQ(counts.answeredPolls, counts.polls) << "a poll failed on the full disk";
        EXPECT_EQ(view.PointCount(), static_cast<std::size_t>(counts.answeredPolls));
        const std::size_t logged = LogCount("comm", "rece:");
        EXPECT_EQ(logged, LogCount("comm", "rece:5.00,0.50,2.50\r\n")) << "a torn log line";
        EXPECT_LE(static_cast<int64_t>(logged), counts.answeredPolls - answeredWhileFull)
            << "lines of the full time were kept back and written later";
    }

    // The disk fills while a worker records: acquisition goes on, the recording says so once and
    // loses only the rows of the full time, none torn; with room again the rows go on.
    void ExpectOnlyRowsOfTheFullTimeLost(const std::function<void()>& fill) {
        StartSim();
        auto sink = std::make_unique<CsvRecordingSink>(AppDir + "Data/");
        const CsvRecordingSink& recording = *sink; // only while the worker runs: it owns the sink
        StartWorker(view, 5, std::move(sink));
        std::string path;
        ASSERT_TRUE(testsupport::WaitUntil([&] { return !(path = recording.Path()).empty(); }));
        const auto rowCount = [&] { return ReadRecording(path).rows.size(); };
        ASSERT_TRUE(testsupport::WaitUntil([&] { return rowCount() >= 5; })) << "nothing recorded";
        fill();
        if (HasFatalFailure())
            return;
        // A file's last page may still take a few rows once the disk has no page left.
        ASSERT_TRUE(testsupport::WaitUntil([&] { return !view.SinkProblems().empty(); }))
            << "the full disk never refused a row";
        ASSERT_TRUE(WaitForPoints(view.PointCount() + 20))
            << "acquisition stopped on the full disk";
        const std::size_t rowsWhileFull = rowCount();
        MakeRoom();
        ASSERT_TRUE(testsupport::WaitUntil([&] { return rowCount() >= rowsWhileFull + 5; }))
            << "the recording did not go on once there was room";
        StopWorker();

        const auto counts = record.Counts();
        EXPECT_EQ(counts.answeredPolls, counts.polls) << "a poll failed on the full disk";
        EXPECT_EQ(view.PointCount(), static_cast<std::size_t>(counts.answeredPolls));
        const RecordingFile file = ReadRecording(path);
        EXPECT_TRUE(file.startsWithHeader);
        EXPECT_EQ(file.tail, "") << "a torn row";
        const std::vector<long> samples = file.Samples();
        EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end()));
        EXPECT_LT(samples.size(), static_cast<std::size_t>(counts.answeredPolls))
            << "no row was lost: the disk never refused one";
        const std::vector<std::string> problems = view.SinkProblems();
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find(path), std::string::npos) << problems[0];
    }

    // The save the connect makes, with the worker not yet running.
    void ExpectSaveRefused() {
        const std::string port = ComPortName;
        ComPortName = "COM4";
        try {
            SaveComSettings();
            ADD_FAILURE() << "the save was not refused";
        } catch (const EWriteError& error) {
            EXPECT_EQ(error.what(), "Unable to write to " + AppDir + "config.ini");
        }
        ComPortName = port;
    }

private:
    std::string mountPoint_;
    std::function<void()> makeRoom_;
    rlimit previousLimit_{};
    void (*previousXfsz_)(int) = SIG_DFL;
};

TEST_F(FullDisk, SmallTmpfsFilledUp) {
    std::string whyNot;
    if (!MountSmallDisk(whyNot))
        GTEST_SKIP() << "cannot mount a 64 kB tmpfs here (" << whyNot
                     << "); FullDisk.EveryFileWriteRefused covers the same refusals";
    ExpectOnlyLogLinesLost([this] { FillSmallDisk(); });
}

TEST_F(FullDisk, EveryFileWriteRefused) {
    ExpectOnlyLogLinesLost([this] { RefuseAllWrites(); });
}

TEST_F(FullDisk, SmallTmpfsFilledUpWhileRecording) {
    std::string whyNot;
    if (!MountSmallDisk(whyNot))
        GTEST_SKIP() << "cannot mount a 64 kB tmpfs here (" << whyNot
                     << "); FullDisk.EveryFileWriteRefusedWhileRecording covers the same refusals";
    ExpectOnlyRowsOfTheFullTimeLost([this] { FillSmallDisk(); });
}

TEST_F(FullDisk, EveryFileWriteRefusedWhileRecording) {
    ExpectOnlyRowsOfTheFullTimeLost([this] { RefuseAllWrites(); });
}

} // namespace
