// The recording's format, its files and its settings.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "common/TextUtil.h"
#include "common/uCheckAll.h"
#include "record/CompositeSink.h"
#include "record/CsvFormat.h"
#include "record/CsvRecordingSink.h"
#include "record/SinkFactory.h"
#include "support/NumericLocale.h"
#include "support/SettingsFixture.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const platform::LocalDateTime kStarted{2026, 12, 11, 14, 3, 27, 0, 480};

platform::LocalDateTime At(int second, int millisecond, int offsetMinutes = 480) {
    return {2026, 12, 11, 14, 3, second, millisecond, offsetMinutes};
}

// ---- Format ----------------------------------------------------------------------------------

TEST(RecordingFormat, NamesTheFileFromTheStartAndThePort) {
    EXPECT_EQ(RecordingStem(kStarted, "COM9"), "2026-12-11_140327_COM9");
    EXPECT_EQ(RecordingStem({2027, 3, 5, 9, 0, 7, 999, 0}, "COM123"), "2027-03-05_090007_COM123");
    // A port name typed by hand cannot reach another directory or make a bad name.
    EXPECT_EQ(RecordingStem(kStarted, "../c:m 1"), "2026-12-11_140327_.._c_m_1");
    // The month without its leading zero, as the log's directories.
    EXPECT_EQ(RecordingDirectory("/base/", {2027, 3, 5, 9, 0, 7, 0, 0}), "/base/2027/3/");
    EXPECT_EQ(RecordingDirectory("/base/", kStarted), "/base/2026/12/");
}

struct TimeCase {
    const char* name;
    platform::LocalDateTime time;
    const char* text;
};

class RecordingTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(RecordingTime, IsIsoWithMillisecondsAndOffset) {
    EXPECT_EQ(IsoLocalTime(GetParam().time), GetParam().text);
}

const TimeCase kTimes[] = {
    {"East", At(28, 512), "2026-12-11T14:03:28.512+08:00"},
    {"West", At(28, 5, -210), "2026-12-11T14:03:28.005-03:30"},
    {"Utc", {2027, 1, 2, 0, 0, 0, 0, 0}, "2027-01-02T00:00:00.000+00:00"},
};
INSTANTIATE_TEST_SUITE_P(Zones, RecordingTime, ::testing::ValuesIn(kTimes),
                         [](const auto& info) { return std::string(info.param.name); });

struct RowCase {
    const char* name;
    CycleRecord record;
    const char* row;
};

class RecordingRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(RecordingRows, HoldTheColumnsQuotedAsRfc4180) {
    EXPECT_EQ(RecordingRow(GetParam().record), GetParam().row);
}

const RowCase kRows[] = {
    {"Reading",
     {At(28, 512), 17, Measurement{12.5, 0.25, 3.125}, ""},
     "2026-12-11T14:03:28.512+08:00,17,12.5,0.25,3.125,\r\n"},
    {"ReadingWithEvent",
     {At(29, 1), 18, Measurement{12, 1.2, 14.4}, "SOUR:VOLT 12.50 -> OK"},
     "2026-12-11T14:03:29.001+08:00,18,12,1.2,14.4,SOUR:VOLT 12.50 -> OK\r\n"},
    {"DroppedReadingWithEvent",
     {At(30, 0), 19, std::nullopt, "SOUR:APPLY M2 -> "},
     "2026-12-11T14:03:30.000+08:00,19,,,,SOUR:APPLY M2 -> \r\n"},
    {"EventWithCommaAndQuotes",
     {At(31, 0), 20, std::nullopt, "SOUR:CURR 1.00 -> ERR,\"bad\""},
     "2026-12-11T14:03:31.000+08:00,20,,,,\"SOUR:CURR 1.00 -> ERR,\"\"bad\"\"\"\r\n"},
    // Bytes off the wire become characters one for one; control characters become U+FFFD.
    {"EventWithHighAndControlBytes",
     {At(32, 0), 21, std::nullopt, "x -> \xB0\x01"},
     "2026-12-11T14:03:32.000+08:00,21,,,,x -> \xC2\xB0\xEF\xBF\xBD\r\n"},
    {"LargeAndSmallNumbers",
     {At(33, 0), 1e6, Measurement{1e-5, 60, 1e22}, ""},
     "2026-12-11T14:03:33.000+08:00,1000000,1e-05,60,1e+22,\r\n"},
};
INSTANTIATE_TEST_SUITE_P(Cycles, RecordingRows, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordingFormat, DecimalsArePointsInAnyLocale) {
    const testsupport::NumericLocale comma(testsupport::kCommaLocaleNames, ',');
    if (!comma.active())
        GTEST_SKIP() << "no locale with a decimal comma on this machine";
    EXPECT_EQ(RecordingRow({At(28, 0), 1, Measurement{12.5, 0.5, 6.25}, ""}),
              "2026-12-11T14:03:28.000+08:00,1,12.5,0.5,6.25,\r\n");
}

// ---- Files -----------------------------------------------------------------------------------

const SupplyIdentity kSupply{"COM9", 115200, "PSU3005", "SN0042", "V1.2", 30, 5};

class RecordingFiles : public ::testing::Test {
protected:
    // A worker's recording: Begin, the records, End.
    std::string Record(const std::vector<CycleRecord>& records) {
        CsvRecordingSink sink(dir.Path());
        sink.Begin(kSupply, kStarted);
        for (const CycleRecord& record : records)
            sink.Record(record);
        sink.End();
        EXPECT_EQ(sink.Problem(), "");
        return sink.Path();
    }

    testsupport::TempDir dir;
};

TEST_F(RecordingFiles, WritesTheHeaderAndEveryRowWithTheDeviceBeside) {
    const std::vector<CycleRecord> records = {
        {At(28, 512), 1, Measurement{12.5, 0.25, 3.125}, ""},
        {At(29, 513), 2, std::nullopt, "SOUR:VOLT 12.50 -> OK"},
    };
    const std::string path = Record(records);
    EXPECT_EQ(path, dir.Path() + "2026/12/2026-12-11_140327_COM9.csv");
    // Header first, no byte-order mark, CR LF throughout.
    EXPECT_EQ(testsupport::ReadFile(path),
              std::string(kRecordingHeader) + RecordingRow(records[0]) + RecordingRow(records[1]));

    const std::string device = dir.Path() + "2026/12/2026-12-11_140327_COM9.ini";
    const std::pair<const char*, const char*> keys[] = {
        {"port", "COM9"},        {"baud", "115200"},  {"model", "PSU3005"},
        {"serial", "SN0042"},    {"version", "V1.2"}, {"rated_voltage_V", "30"},
        {"rated_current_A", "5"}};
    for (const auto& [key, value] : keys)
        EXPECT_EQ(IniReadString(device, "device", key, "<missing>"), value) << key;
}

TEST_F(RecordingFiles, ASecondWorkerInTheSameSecondGetsAFileOfItsOwn) {
    const std::string first = Record({});
    const std::string second = Record({});
    EXPECT_EQ(second, dir.Path() + "2026/12/2026-12-11_140327_COM9_2.csv");
    EXPECT_NE(first, second);
    EXPECT_TRUE(fs::exists(dir.Path() + "2026/12/2026-12-11_140327_COM9_2.ini"));
}

TEST_F(RecordingFiles, PythonsCsvModuleReadsTheFieldsBack) {
    const std::string path = Record({
        {At(28, 512), 1, Measurement{12.5, 0.25, 3.125}, ""},
        {At(29, 0), 2, std::nullopt, "SOUR:CURR 1.00 -> ERR,\"bad\""},
        {At(30, 0), 3, Measurement{5, 0.5, 2.5}, "x -> \xB0"},
    });
    // Strict mode fails on any malformed quoting; the fields come back one per line.
    const std::string command =
        "python3 -c \"import csv,sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
        "    raw = f.read()\n"
        "    assert not raw.startswith('\\ufeff')\n"
        "    f.seek(0)\n"
        "    for row in csv.reader(f, strict=True): print('|'.join(row))\" " +
        path;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << output;
    EXPECT_EQ(output, "time|sample|voltage_V|current_A|power_W|event\n"
                      "2026-12-11T14:03:28.512+08:00|1|12.5|0.25|3.125|\n"
                      "2026-12-11T14:03:29.000+08:00|2||||SOUR:CURR 1.00 -> ERR,\"bad\"\n"
                      "2026-12-11T14:03:30.000+08:00|3|5|0.5|2.5|x -> \xC2\xB0\n");
}

TEST_F(RecordingFiles, ARefusedDirectoryIsAProblemAndRecordsNothing) {
    // A file where the year's directory should be.
    testsupport::WriteFile(dir.Path() + "2026", "in the way");
    CsvRecordingSink sink(dir.Path());
    sink.Begin(kSupply, kStarted);
    sink.Record({At(28, 0), 1, Measurement{1, 2, 3}, ""});
    sink.End();
    EXPECT_NE(sink.Problem().find(dir.Path() + "2026/12/"), std::string::npos) << sink.Problem();
    EXPECT_EQ(sink.Path(), "");
}

// ---- Several sinks ---------------------------------------------------------------------------

class NotingSink : public IReadingSink {
public:
    NotingSink(std::string& notes, std::string problem)
        : notes_(notes), problem_(std::move(problem)) {}
    void Begin(const SupplyIdentity& identity, const platform::LocalDateTime&) override {
        notes_ += "B" + identity.portName;
    }
    void Record(const CycleRecord& record) override {
        notes_ += "R" + std::to_string(int(record.sample));
    }
    void End() override { notes_ += "E"; }
    std::string Problem() const override { return problem_; }

private:
    std::string& notes_;
    std::string problem_;
};

TEST(CompositeSink, ForwardsEachCallToEverySinkAndJoinsTheirProblems) {
    std::string first, second, third;
    std::vector<std::unique_ptr<IReadingSink>> sinks;
    sinks.push_back(std::make_unique<NotingSink>(first, "disk full"));
    sinks.push_back(std::make_unique<NotingSink>(second, ""));
    sinks.push_back(std::make_unique<NotingSink>(third, "broker refused"));
    CompositeSink composite(std::move(sinks));
    composite.Begin(kSupply, kStarted);
    composite.Record({At(28, 0), 7, std::nullopt, "x -> y"});
    composite.End();
    for (const std::string* notes : {&first, &second, &third})
        EXPECT_EQ(*notes, "BCOM9R7E");
    EXPECT_EQ(composite.Problem(), "disk full\nbroker refused");
}

// ---- Settings --------------------------------------------------------------------------------

class RecordSettingsTest : public testsupport::SettingsFixture {
protected:
    void LoadFrom(const std::string& config) {
        testsupport::WriteFile(ConfigPath(), config);
        LoadRecordSettings();
    }
};

struct RecordKeysCase {
    const char* name;
    const char* config;
    bool enabled;
    const char* base; // "@" stands for AppDir
};

class RecordKeys : public RecordSettingsTest,
                   public ::testing::WithParamInterface<RecordKeysCase> {};

TEST_P(RecordKeys, SayWhetherAndWhereToRecord) {
    testing::internal::CaptureStderr();
    LoadFrom(GetParam().config);
    const std::string console = testing::internal::GetCapturedStderr();
    std::string base = GetParam().base;
    if (base.front() == '@')
        base = dir.Path() + base.substr(1);
    EXPECT_EQ(Recording.enabled, GetParam().enabled);
    EXPECT_EQ(RecordingBase(), base);
    EXPECT_EQ(MakeReadingSink() != nullptr, GetParam().enabled);
    // Only a value that does not convert is worth a line on the console.
    EXPECT_EQ(console.find("enabled=") != std::string::npos,
              std::string(GetParam().name) == "JunkEnabledStaysOn")
        << console;
}

const RecordKeysCase kRecordKeys[] = {
    {"NoSection", "[com Info]\r\ncom=COM3\r\n", true, "@Data/"},
    {"Off", "[record]\r\nenabled=0\r\n", false, "@Data/"},
    {"OnAnyCase", "[RECORD]\r\nEnabled=1\r\n", true, "@Data/"},
    {"OtherNumberIsOn", "[record]\r\nenabled=2\r\n", true, "@Data/"},
    {"JunkEnabledStaysOn", "[record]\r\nenabled=yes\r\n", true, "@Data/"},
    {"AbsoluteDir", "[record]\r\ndir=/srv/rec\r\n", true, "/srv/rec/"},
    {"RelativeDirFromAppDir", "[record]\r\ndir=runs\r\n", true, "@runs/"},
    {"EmptyDirIsTheDefault", "[record]\r\ndir=\r\n", true, "@Data/"},
};
INSTANTIATE_TEST_SUITE_P(Config, RecordKeys, ::testing::ValuesIn(kRecordKeys),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordSettingsTest, ASaveOfThePortSettingsKeepsTheSection) {
    const std::string record = "[record]\r\nenabled=0\r\ndir=/srv/rec\r\n";
    LoadFrom("[com Info]\r\ncom=COM3\r\nbaut=9600\r\n" + record);
    ComPortName = "COM4";
    ComBaudRate = 115200;
    SaveComSettings();
    EXPECT_EQ(testsupport::ReadFile(ConfigPath()),
              "[com Info]\r\ncom=COM4\r\nbaut=115200\r\n" + record);
    LoadRecordSettings();
    EXPECT_FALSE(Recording.enabled);
}

} // namespace
