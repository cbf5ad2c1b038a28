// The [mqtt] section: defaults, values that do not parse, and the prefix and client id in force.

#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "publish/MqttSettings.h"
#include "support/TestSupport.h"

namespace {

struct SettingsRow {
    const char* name;
    const char* section; // the lines after "[mqtt]"; nullptr: no section at all
    std::optional<MqttSettings> expected;
    const char* errorMentions; // nullptr: no error
};

MqttSettings With(std::string host, int32_t port, int32_t qos = 1, std::string caFile = "") {
    MqttSettings settings;
    settings.host = std::move(host);
    settings.port = port;
    settings.qos = qos;
    settings.caFile = std::move(caFile);
    return settings;
}

MqttSettings Full() {
    MqttSettings settings = With("broker.line", 1884, 0, "/etc/ca.pem");
    settings.prefix = "line/7";
    settings.clientId = "station-7";
    settings.username = "psu";
    settings.password = "s3cret";
    return settings;
}

bool Same(const MqttSettings& a, const MqttSettings& b) {
    return a.host == b.host && a.port == b.port && a.prefix == b.prefix &&
           a.clientId == b.clientId && a.username == b.username && a.password == b.password &&
           a.caFile == b.caFile && a.qos == b.qos;
}

class MqttSettingsTable : public ::testing::TestWithParam<SettingsRow> {};

TEST_P(MqttSettingsTable, ReadsTheSection) {
    const SettingsRow& row = GetParam();
    testsupport::TempDir dir;
    const std::string ini = dir.Path() + "config.ini";
    std::string content = "[com Info]\r\ncom=COM3\r\n";
    if (row.section)
        content += std::string("[MQTT]\r\n") + row.section;
    testsupport::WriteFile(ini, content);

    const MqttSettingsRead read = ReadMqttSettings(ini);

    ASSERT_EQ(read.settings.has_value(), row.expected.has_value()) << read.error;
    if (row.expected) {
        EXPECT_TRUE(Same(*read.settings, *row.expected));
    }
    if (row.errorMentions) {
        EXPECT_NE(read.error.find(row.errorMentions), std::string::npos) << read.error;
        EXPECT_EQ(read.error.find("s3cret"), std::string::npos) << "the password leaked";
    } else {
        EXPECT_EQ(read.error, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MqttSettingsTable,
    ::testing::Values(
        SettingsRow{"NoSection", nullptr, std::nullopt, nullptr},
        SettingsRow{"NoHost", "port=1884\r\n", std::nullopt, nullptr},
        SettingsRow{"EmptyHost", "host= \r\nqos=7\r\n", std::nullopt, nullptr},
        SettingsRow{"HostOnly", "host=10.0.0.5\r\n", With("10.0.0.5", 1883), nullptr},
        SettingsRow{"CaFileMovesTheDefaultPort", "host=h\r\ncafile=/etc/ca.pem\r\n",
                    With("h", 8883, 1, "/etc/ca.pem"), nullptr},
        SettingsRow{"EveryKey",
                    "host = broker.line\r\nport=1884\r\nprefix=line/7\r\nclient_id=station-7\r\n"
                    "username=psu\r\npassword=s3cret\r\ncafile=/etc/ca.pem\r\nqos=0\r\n",
                    Full(), nullptr},
        SettingsRow{"PortNotANumber", "host=h\r\nport=mqtt\r\n", std::nullopt, "port=mqtt"},
        SettingsRow{"PortZero", "host=h\r\nport=0\r\n", std::nullopt, "port=0"},
        SettingsRow{"PortTooLarge", "host=h\r\nport=65536\r\n", std::nullopt, "port=65536"},
        SettingsRow{"PortHexadecimal", "host=h\r\nport=0x50\r\n", std::nullopt, "port=0x50"},
        SettingsRow{"PortSigned", "host=h\r\nport=+80\r\n", std::nullopt, "port=+80"},
        SettingsRow{"QosTwo", "host=h\r\nqos=2\r\n", std::nullopt, "qos=2"},
        SettingsRow{"PrefixWithWildcard", "host=h\r\nprefix=psu/#\r\n", std::nullopt, "prefix"},
        SettingsRow{"PasswordWithoutUser", "host=h\r\npassword=s3cret\r\n", std::nullopt,
                    "username"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MqttSettingsLoad, SaysOnceOnStandardErrorWhyTheSectionIsIgnored) {
    testsupport::TempDir dir;
    const std::string ini = dir.Path() + "config.ini";
    testsupport::WriteFile(ini, "[mqtt]\r\nhost=h\r\nusername=u\r\npassword=s3cret\r\nqos=x\r\n");

    ::testing::internal::CaptureStderr();
    const std::optional<MqttSettings> settings = LoadMqttSettings(ini);
    const std::string written = ::testing::internal::GetCapturedStderr();

    EXPECT_FALSE(settings.has_value());
    EXPECT_NE(written.find("qos=x"), std::string::npos) << written;
    EXPECT_EQ(written.find('\n'), written.size() - 1) << "one line: " << written;
    EXPECT_EQ(written.find("s3cret"), std::string::npos) << "the password leaked";
}

struct NameRow {
    const char* name;
    const char* prefix;
    const char* clientId;
    const char* hostName;
    const char* expectedPrefix;
    const char* expectedClientId;
};

class MqttNamesTable : public ::testing::TestWithParam<NameRow> {};

TEST_P(MqttNamesTable, PrefixAndClientIdInForce) {
    const NameRow& row = GetParam();
    MqttSettings settings = With("h", 1883);
    settings.prefix = row.prefix;
    settings.clientId = row.clientId;

    const std::string prefix = EffectivePrefix(settings, row.hostName, "COM9");

    EXPECT_EQ(prefix, row.expectedPrefix);
    EXPECT_EQ(EffectiveClientId(settings, prefix), row.expectedClientId);
}

INSTANTIATE_TEST_SUITE_P(Rows, MqttNamesTable,
                         ::testing::Values(NameRow{"Defaults", "", "", "bench-07",
                                                   "psu/bench-07/COM9", "psu-bench-07-COM9"},
                                           NameRow{"HostNameWithTopicCharacters", "", "", "a/b+c#",
                                                   "psu/a_b_c_/COM9", "psu-a_b_c_-COM9"},
                                           NameRow{"ConfiguredPrefix", "line/7", "", "bench-07",
                                                   "line/7", "line-7"},
                                           NameRow{"ConfiguredClientId", "", "station-7",
                                                   "bench-07", "psu/bench-07/COM9", "station-7"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
