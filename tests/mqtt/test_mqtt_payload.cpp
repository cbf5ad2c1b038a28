// The payloads as a consumer reads them: field names, numbers, times, the event.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>

#include "publish/MqttPayload.h"
#include "support/NumericLocale.h"

namespace {

platform::LocalDateTime At(int offsetMinutes) {
    return {2026, 12, 11, 14, 3, 28, 512, offsetMinutes};
}

TEST(MqttPayload, ReadingWithAndWithoutEvent) {
    const CycleRecord plain{At(480), 42, Measurement{12.5, 1.25, 15.625}, ""};
    EXPECT_EQ(ReadingPayload(plain),
              R"({"time":"2026-12-11T14:03:28.512+08:00","sample":42,"voltage_V":12.5,)"
              R"("current_A":1.25,"power_W":15.625})");

    const CycleRecord withEvent{At(480), 43, Measurement{0, 0, 0}, "SOUR:VOLT 12.50 -> OK"};
    const auto parsed = nlohmann::json::parse(ReadingPayload(withEvent));
    EXPECT_EQ(parsed["event"], "SOUR:VOLT 12.50 -> OK");
    EXPECT_EQ(parsed["sample"], 43);
}

TEST(MqttPayload, DecimalMarkIsAPointWhateverTheLocale) {
    std::string payload;
    {
        const testsupport::NumericLocale locale(testsupport::kCommaLocaleNames, ',');
        if (!locale.active())
            GTEST_SKIP() << "no locale with a comma decimal mark is installed";
        payload = ReadingPayload({At(60), 1, Measurement{12.34, 0.5, 6.17}, ""});
    }
    EXPECT_NE(payload.find(R"("voltage_V":12.34,"current_A":0.5,"power_W":6.17)"),
              std::string::npos)
        << payload;
}

TEST(MqttPayload, IdentityBytesBeyondAsciiReadAsTheWindowShowsThem) {
    const SupplyIdentity identity{"COM9",
                                  115200,
                                  "PSU-3010",
                                  "SN\xff"
                                  "01",
                                  "V1.2",
                                  30,
                                  10};
    const auto parsed = nlohmann::json::parse(IdentityPayload(identity));
    EXPECT_EQ(parsed, nlohmann::json::parse(
                          R"({"port":"COM9","baud":115200,"model":"PSU-3010",)"
                          R"("serial":"SN\u00ff01","version":"V1.2","rated_voltage_V":30,)"
                          R"("rated_current_A":10})"));
}

} // namespace
