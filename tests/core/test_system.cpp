#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

size_t CountEntries(const std::string& directory) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(directory), {}));
}

TEST(ReplaceFileAtomically, ReplacesTheWholeContent) {
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "f.ini";
    testsupport::WriteFile(path, std::string(10000, 'o'));
    const std::string content("new\0content\r\n", 13);
    EXPECT_TRUE(platform::ReplaceFileAtomically(path, content));
    EXPECT_EQ(testsupport::ReadFile(path), content);
    EXPECT_TRUE(platform::ReplaceFileAtomically(path, ""));
    EXPECT_EQ(testsupport::ReadFile(path), "");
    EXPECT_EQ(CountEntries(dir.Path()), 1u);
}

// A write that runs out of room (here: the file size limit of a child process) must leave the old
// file whole and no temporary file behind.
TEST(ReplaceFileAtomically, FailedWriteLeavesTheOldFileAndNoTemporary) {
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "f.ini";
    const std::string old = "[com Info]\r\ncom=COM1\r\n";
    testsupport::WriteFile(path, old);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(2);
        _exit(platform::ReplaceFileAtomically(path, std::string(100000, 'n')) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write must be reported as refused";
    EXPECT_EQ(testsupport::ReadFile(path), old);
    EXPECT_EQ(CountEntries(dir.Path()), 1u);
}

TEST(ReplaceFileAtomically, RefusesReadOnlyFilesDirectoriesAndMissingDirectories) {
    testsupport::TempDir dir;
    const std::string readOnly = dir.Path() + "ro.ini";
    testsupport::WriteFile(readOnly, "old");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(dir.Path() + "adir");

    EXPECT_FALSE(platform::ReplaceFileAtomically(readOnly, "new"));
    EXPECT_EQ(testsupport::ReadFile(readOnly), "old");
    EXPECT_FALSE(platform::ReplaceFileAtomically(dir.Path() + "adir", "new"));
    EXPECT_TRUE(fs::is_directory(dir.Path() + "adir"));
    EXPECT_FALSE(platform::ReplaceFileAtomically(dir.Path() + "missing/f.ini", "new"));
    EXPECT_EQ(CountEntries(dir.Path()), 2u);
}

} // namespace
