#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/Clock.h"
#include "common/uCheckAll.h"
#include "support/GlobalsGuard.h"
#include "support/TestSupport.h"
#include "support/Unprivileged.h"

namespace {

namespace fs = std::filesystem;

// AppDir in a fresh directory and a clock the test sets; both put back afterwards.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppDir = dir.Path();
        SetLocalClock([this] { return now; });
    }

    std::string LogPath(const std::string& relative) const {
        return dir.Path() + "Log/" + relative;
    }
    std::string Read(const std::string& relative) const {
        return testsupport::ReadFile(LogPath(relative));
    }

    testsupport::GlobalsGuard globals;
    testsupport::TempDir dir;
    LocalDateTime now{2024, 3, 7, 14, 5, 9, 42};
};

TEST_F(LogTest, FirstLineCreatesTheTreeAndTheMonthDirectoryHasNoLeadingZero) {
    WriteLog("rece:OK", "comm");
    now.millisecond = 43;
    WriteLog("rece:again", "comm");
    EXPECT_EQ(Read("2024/3/2024-03-07__comm.log"),
              "[2024-03-07 14:05:09:042] rece:OK\r\n[2024-03-07 14:05:09:043] rece:again\r\n");
}

// The day's file is found without regard to letter case, as on a file system that ignores it.
TEST_F(LogTest, ChannelsThatDifferOnlyInCaseShareOneFileNamedByTheFirstLine) {
    auto filesOf = [this](const std::string& month) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(LogPath(month)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    WriteLog("send bad.", "COMM");
    WriteLog("rece:OK", "comm");
    WriteLog("send bad.", "Comm");
    EXPECT_EQ(filesOf("2024/3"), std::vector<std::string>{"2024-03-07__COMM.log"});
    EXPECT_EQ(Read("2024/3/2024-03-07__COMM.log"), "[2024-03-07 14:05:09:042] send bad.\r\n"
                                                   "[2024-03-07 14:05:09:042] rece:OK\r\n"
                                                   "[2024-03-07 14:05:09:042] send bad.\r\n");
    now.day = 8;
    WriteLog("rece:OK", "comm");
    WriteLog("send bad.", "COMM");
    EXPECT_EQ(Read("2024/3/2024-03-08__comm.log"),
              "[2024-03-08 14:05:09:042] rece:OK\r\n[2024-03-08 14:05:09:042] send bad.\r\n");
    EXPECT_EQ(filesOf("2024/3").size(), 2u);
}

TEST_F(LogTest, AFileOfExactlyTheChannelsNameWinsOverOneThatDiffersInCase) {
    // Left by a version that kept the two channels apart.
    fs::create_directories(LogPath("2024/3"));
    testsupport::WriteFile(LogPath("2024/3/2024-03-07__COMM.log"), "");
    testsupport::WriteFile(LogPath("2024/3/2024-03-07__comm.log"), "");
    WriteLog("send bad.", "COMM");
    WriteLog("rece:OK", "comm");
    EXPECT_EQ(Read("2024/3/2024-03-07__COMM.log"), "[2024-03-07 14:05:09:042] send bad.\r\n");
    EXPECT_EQ(Read("2024/3/2024-03-07__comm.log"), "[2024-03-07 14:05:09:042] rece:OK\r\n");
}

TEST_F(LogTest, PadsEveryFieldOfTheStamp) {
    now = {987, 10, 1, 0, 0, 0, 5};
    WriteLog("x", "c");
    EXPECT_EQ(Read("987/10/0987-10-01__c.log"), "[0987-10-01 00:00:00:005] x\r\n");
}

TEST_F(LogTest, DayChangeLandsInTwoFiles) {
    now = {2024, 12, 31, 23, 59, 59, 999};
    WriteLog("before", "comm");
    now = {2025, 1, 1, 0, 0, 0, 0};
    WriteLog("after", "comm");
    EXPECT_EQ(Read("2024/12/2024-12-31__comm.log"), "[2024-12-31 23:59:59:999] before\r\n");
    EXPECT_EQ(Read("2025/1/2025-01-01__comm.log"), "[2025-01-01 00:00:00:000] after\r\n");
}

TEST_F(LogTest, TextIsWrittenByteForByte) {
    const std::string binary("rece:\0\xff\x80 \r", 10);
    WriteLog("", "c");
    WriteLog("rece:x\r", "c");
    WriteLog(binary, "c");
    EXPECT_EQ(Read("2024/3/2024-03-07__c.log"), "[2024-03-07 14:05:09:042] \r\n"
                                                "[2024-03-07 14:05:09:042] rece:x\r\r\n"
                                                "[2024-03-07 14:05:09:042] " +
                                                    binary + "\r\n");
}

TEST_F(LogTest, RetentionDeletesOnlyTheYearBeforeLastWithHiddenFiles) {
    for (const char* year : {"2021", "2022", "2023"}) {
        fs::create_directories(LogPath(year) + "/5/.hidden-dir");
        testsupport::WriteFile(LogPath(year) + "/5/.hidden", "h");
        testsupport::WriteFile(LogPath(year) + "/5/.hidden-dir/f.log", "f");
    }
    ASSERT_EQ(chmod((LogPath("2022") + "/5/.hidden").c_str(), 0444), 0);
    WriteLog("line", "comm");
    EXPECT_FALSE(fs::exists(LogPath("2022")));
    EXPECT_TRUE(fs::exists(LogPath("2021/5/.hidden-dir/f.log")));
    EXPECT_TRUE(fs::exists(LogPath("2023/5/.hidden-dir/f.log")));
    EXPECT_EQ(Read("2024/3/2024-03-07__comm.log"), "[2024-03-07 14:05:09:042] line\r\n");
}

TEST_F(LogTest, RetentionDeletesLinksButNotWhatTheyPointTo) {
    const std::string outside = dir.Path() + "outside/";
    fs::create_directories(outside);
    testsupport::WriteFile(outside + "precious", "p");
    fs::create_directories(LogPath("2022"));
    fs::create_directory_symlink(outside, LogPath("2022/dirlink"));
    fs::create_symlink(outside + "precious", LogPath("2022/filelink"));
    fs::create_directory_symlink(outside, LogPath("2020"));

    WriteLog("line", "comm");
    EXPECT_FALSE(fs::exists(LogPath("2022")));
    EXPECT_EQ(testsupport::ReadFile(outside + "precious"), "p");
    // A link in the place of the whole year is left as it is, and so is its target.
    now.year = 2022;
    WriteLog("line", "comm");
    EXPECT_TRUE(fs::is_symlink(LogPath("2020")));
    EXPECT_EQ(testsupport::ReadFile(outside + "precious"), "p");
}

TEST_F(LogTest, WhatIsInTheWayDropsOnlyThatLine) {
    fs::create_directories(LogPath("2024"));
    testsupport::WriteFile(LogPath("2024/3"), "a file, not a month");
    EXPECT_NO_THROW(WriteLog("lost", "comm"));
    EXPECT_EQ(Read("2024/3"), "a file, not a month");

    now.month = 4;
    fs::create_directories(LogPath("2024/4/2024-04-07__comm.log")); // a directory named as the file
    EXPECT_NO_THROW(WriteLog("lost too", "comm"));
    WriteLog("kept", "other");
    EXPECT_EQ(Read("2024/4/2024-04-07__other.log"), "[2024-04-07 14:05:09:042] kept\r\n");

    AppDir = "/proc/no-such-directory/";
    EXPECT_NO_THROW(WriteLog("nowhere", "comm"));
}

TEST_F(LogTest, TwoThreadsWriteWholeLines) {
    constexpr int kLines = 1000;
    auto writer = [](char tag) {
        for (int i = 0; i < kLines; ++i)
            WriteLog(std::string(1, tag) + std::to_string(i) + std::string(40, tag), "comm");
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();

    const std::string content = Read("2024/3/2024-03-07__comm.log");
    const std::string stamp = "[2024-03-07 14:05:09:042] ";
    int next[2] = {0, 0};
    size_t lines = 0;
    for (size_t at = 0; at < content.size();) {
        const size_t end = content.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a line without its end";
        const std::string line = content.substr(at, end - at);
        ASSERT_EQ(line.compare(0, stamp.size(), stamp), 0) << line;
        const char tag = line[stamp.size()];
        ASSERT_TRUE(tag == 'a' || tag == 'b') << line;
        int& expected = next[tag - 'a'];
        EXPECT_EQ(line, stamp + tag + std::to_string(expected) + std::string(40, tag));
        ++expected;
        ++lines;
        at = end + 2;
    }
    EXPECT_EQ(lines, 2u * kLines);
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

TEST(AddTrailingSeparator, TrimsControlCharactersThenAddsOneSeparator) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/b", "/a/b/"}, {"/a/b/", "/a/b/"}, {" \t/a/b \r\n", "/a/b/"}, {"", ""}, {" \x01 ", ""},
        {"/", "/"},        {"rel", "rel/"}};
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(AddTrailingSeparator(path), expected) << path;
}

TEST(DeleteTree, WhatIsNotADirectoryCountsAsGoneAndStays) {
    testsupport::TempDir dir;
    EXPECT_TRUE(DeleteTree(dir.Path() + "missing"));
    testsupport::WriteFile(dir.Path() + "file", "x");
    EXPECT_TRUE(DeleteTree(dir.Path() + "file"));
    EXPECT_TRUE(fs::exists(dir.Path() + "file"));
}

TEST(DeleteTree, DeletesNestedDirectoriesAndHiddenOrReadOnlyFiles) {
    testsupport::TempDir dir;
    const std::string tree = dir.Path() + "tree";
    fs::create_directories(tree + "/a/b/.c");
    testsupport::WriteFile(tree + "/a/b/.c/.x", "x");
    testsupport::WriteFile(tree + "/top", "t");
    ASSERT_EQ(chmod((tree + "/top").c_str(), 0444), 0);
    fs::create_directories(tree + "/empty");
    EXPECT_TRUE(DeleteTree(tree + "/"));
    EXPECT_FALSE(fs::exists(tree));
}

void GiveToNobody(const std::string& path) {
    if (geteuid() != 0)
        return;
    ASSERT_EQ(lchown(path.c_str(), 65534, 65534), 0);
    if (!fs::is_directory(fs::symlink_status(path)))
        return;
    for (const auto& entry : fs::recursive_directory_iterator(path)) {
        ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
    }
}

// An entry that cannot be deleted ends the walk at once: entries listed before it are gone, the
// rest stays; the log line is still written.
class StuckRetentionTest : public LogTest {
protected:
    void SetUp() override {
        LogTest::SetUp();
        const std::string year = LogPath("2022");
        fs::create_directories(year + "/sub");
        testsupport::WriteFile(year + "/sub/deep", "d");
        for (const char* name : {"a", ".hidden", "b", "c"})
            testsupport::WriteFile(year + "/" + name, name);
        fs::create_directories(sealed());
        testsupport::WriteFile(sealed() + "/kept", "k");
        GiveToNobody(dir.Path() + "Log");
        ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(sealed().c_str(), 0555), 0); // nothing in it can be deleted
        for (const auto& entry : fs::directory_iterator(year))
            listed.push_back(entry.path().filename().string());
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(sealed(), fs::perms::owner_all, ec);
        LogTest::TearDown();
    }
    std::string sealed() const { return LogPath("2022/sealed"); }

    std::vector<std::string> listed; // in the order the file system lists them
};

TEST_F(StuckRetentionTest, WalkStopsAtTheEntryThatCannotBeDeleted) {
    const auto result = testsupport::RunUnprivileged([this] {
        WriteLog("still written", "comm");
        return DeleteTree(LogPath("2022"));
    });
    ASSERT_TRUE(result.has_value()) << "could not run as an unprivileged user";
    EXPECT_FALSE(*result);
    EXPECT_EQ(Read("2024/3/2024-03-07__comm.log"), "[2024-03-07 14:05:09:042] still written\r\n");
    EXPECT_EQ(testsupport::ReadFile(sealed() + "/kept"), "k");
    bool beforeTheStuckEntry = true;
    for (const std::string& name : listed) {
        if (name == "sealed") {
            beforeTheStuckEntry = false;
            continue;
        }
        EXPECT_EQ(fs::exists(LogPath("2022/" + name)), !beforeTheStuckEntry) << name;
    }
}

} // namespace
