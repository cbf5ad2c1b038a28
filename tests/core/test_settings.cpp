#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "common/Errors.h"
#include "common/uCheckAll.h"
#include "support/SettingsFixture.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

class SettingsTest : public testsupport::SettingsFixture {
protected:
    void WriteConfig(const std::string& content) { testsupport::WriteFile(ConfigPath(), content); }

    // Everything in the directory, so a leftover temporary file shows.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    void ExpectSaveRefused() {
        try {
            SaveComSettings();
            ADD_FAILURE() << "the save was not refused";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.what(), "Unable to write to " + ConfigPath());
        }
    }
};

TEST_F(SettingsTest, MissingFileGivesTheDefaultsAndCreatesNothing) {
    ComPortName = "COM9";
    ComBaudRate = 1;
    EXPECT_TRUE(LoadComSettings());
    EXPECT_EQ(ComPortName, "com1");
    EXPECT_EQ(ComBaudRate, 115200);
    EXPECT_TRUE(Entries().empty());
}

TEST_F(SettingsTest, LoadsStoredValuesWhateverTheirCaseAndNotation) {
    const std::pair<const char*, int32_t> bauds[] = {
        {"9600", 9600}, {"$2580", 9600}, {"0x2580", 9600}, {" 9600 ", 9600},
        {"4800", 4800}, {"0", 0},        {"-5", -5}};
    for (const auto& [stored, expected] : bauds) {
        WriteConfig("[other]\r\nbaut=1\r\n[COM INFO]\r\nCOM=COM7\r\nBaut=" + std::string(stored) +
                    "\r\n");
        ASSERT_TRUE(LoadComSettings());
        EXPECT_EQ(ComPortName, "COM7");
        EXPECT_EQ(ComBaudRate, expected) << stored;
    }
}

TEST_F(SettingsTest, BaudThatDoesNotConvertThrowsWithTheStoredText) {
    const std::pair<const char*, const char*> cases[] = {
        {"baut=\r\n", "'' is not a valid integer value"},
        {"baut=9600bps\r\n", "'9600bps' is not a valid integer value"},
        {"baut=99999999999\r\n", "'99999999999' is not a valid integer value"}};
    for (const auto& [line, message] : cases) {
        WriteConfig(std::string("[com Info]\r\ncom=COM3\r\n") + line);
        try {
            LoadComSettings();
            ADD_FAILURE() << line;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.what(), std::string(message));
        }
    }
}

TEST_F(SettingsTest, UnreadableFileReadsAsDefault) {
    fs::create_directory(ConfigPath()); // a directory in the way
    EXPECT_EQ(IniReadString(ConfigPath(), "com Info", "com", "dflt"), "dflt");
    EXPECT_EQ(IniReadString(dir.Path() + "missing/config.ini", "s", "k", "dflt"), "dflt");
}

TEST_F(SettingsTest, SaveIntoNoFileWritesExactlyThreeLines) {
    ComPortName = "COM3";
    ComBaudRate = 9600;
    EXPECT_TRUE(SaveComSettings());
    EXPECT_EQ(testsupport::ReadFile(ConfigPath()), "[com Info]\r\ncom=COM3\r\nbaut=9600\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"config.ini"});
}

TEST_F(SettingsTest, SaveKeepsEverythingElseAndTheFileMode) {
    WriteConfig("[first]\nx=1\n[Com Info]\r\nbaut = 115200\r\nextra=yes\r\n\r\n[last]\r\ny=2");
    ASSERT_EQ(chmod(ConfigPath().c_str(), 0640), 0);
    ComPortName = "COM12";
    ComBaudRate = -19200;
    SaveComSettings();
    EXPECT_EQ(
        testsupport::ReadFile(ConfigPath()),
        "[first]\nx=1\n[Com Info]\r\nbaut=-19200\r\nextra=yes\r\ncom=COM12\r\n\r\n[last]\r\ny=2");
    struct stat info {};
    ASSERT_EQ(stat(ConfigPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(), std::vector<std::string>{"config.ini"});
}

TEST_F(SettingsTest, SaveWritesThroughASymbolicLink) {
    const std::string real = dir.Path() + "real.ini";
    testsupport::WriteFile(real, "[com Info]\r\ncom=COM1\r\n");
    fs::create_symlink(real, ConfigPath());
    ComPortName = "COM2";
    ComBaudRate = 9600;
    SaveComSettings();
    EXPECT_TRUE(fs::is_symlink(ConfigPath()));
    EXPECT_EQ(testsupport::ReadFile(real), "[com Info]\r\ncom=COM2\r\nbaut=9600\r\n");
}

TEST_F(SettingsTest, RefusedSaveThrowsAndLeavesTheFileAsItWas) {
    const std::string old = "[com Info]\r\ncom=COM1\r\nbaut=115200\r\n";
    WriteConfig(old);
    ASSERT_EQ(chmod(ConfigPath().c_str(), 0444), 0); // read-only, even for root
    ComPortName = "COM3";
    ComBaudRate = 9600;
    ExpectSaveRefused();
    EXPECT_EQ(testsupport::ReadFile(ConfigPath()), old);
    EXPECT_EQ(Entries(), std::vector<std::string>{"config.ini"});
    // The read still works on a read-only file.
    EXPECT_TRUE(LoadComSettings());
    EXPECT_EQ(ComPortName, "COM1");
}

TEST_F(SettingsTest, RefusedSaveWhenADirectoryIsInTheWayOrTheDirectoryIsMissing) {
    fs::create_directory(ConfigPath());
    ExpectSaveRefused();
    EXPECT_TRUE(fs::is_empty(ConfigPath()));

    AppDir = dir.Path() + "gone/";
    try {
        SaveComSettings();
        ADD_FAILURE() << "the save was not refused";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.what(), "Unable to write to " + dir.Path() + "gone/config.ini");
    }
    EXPECT_FALSE(fs::exists(dir.Path() + "gone"));
}

TEST_F(SettingsTest, IniWriteIntegerWritesPlainDecimal) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "0"}, {7, "7"}, {-42, "-42"}, {INT32_MIN, "-2147483648"}, {INT32_MAX, "2147483647"}};
    for (const auto& [value, text] : cases) {
        IniWriteInteger(ConfigPath(), "s", "k", value);
        EXPECT_EQ(IniReadString(ConfigPath(), "s", "k", "none"), text);
    }
    EXPECT_EQ(testsupport::ReadFile(ConfigPath()), "[s]\r\nk=2147483647\r\n");
}

TEST(DirectoryOfExecutable, CutsAfterTheLastSeparator) {
    const std::pair<const char*, const char*> cases[] = {{"/opt/psu/psu-host", "/opt/psu/"},
                                                         {"/psu-host", "/"},
                                                         {"psu-host", ""},
                                                         {"/opt/a:b/psu-host", "/opt/a:b/"},
                                                         {"/opt/psu/my:host", "/opt/psu/"},
                                                         {"/opt/psu/", "/opt/psu/"}};
    for (const auto& [path, directory] : cases)
        EXPECT_EQ(DirectoryOfExecutable(path), directory) << path;
}

TEST(InitAppDir, IsTheDirectoryHoldingTheRunningExecutable) {
    const testsupport::GlobalsGuard globals;
    const auto cwd = fs::current_path();
    fs::current_path("/"); // the current directory must not matter
    InitAppDir();
    const std::string found = AppDir;
    fs::current_path(cwd);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.back(), '/');
    EXPECT_TRUE(fs::equivalent(found + "core_tests", "/proc/self/exe"));
}

} // namespace
