// The publisher against a real broker started here on 127.0.0.1, with a subscriber: what reaches
// a consumer, what a late consumer finds retained, and the faults.

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/uCheckAll.h"
#include "publish/MqttSettings.h"
#include "publish/MqttSink.h"
#include "record/SinkFactory.h"
#include "support/GlobalsGuard.h"
#include "support/MqttBroker.h"
#include "support/TestSupport.h"
#include "support/WorkerTestSupport.h"

namespace {

using nlohmann::json;
using testsupport::MosquittoBroker;
using testsupport::MqttSubscriber;
using testsupport::WaitUntil;

const SupplyIdentity kIdentity{"COM9", 115200, "PSU-3010", "SN0042", "V1.2", 30, 10};
const platform::LocalDateTime kTime{2026, 12, 11, 14, 3, 28, 512, 480};

MqttSettings SettingsFor(const MosquittoBroker& broker, const std::string& prefix) {
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.Port();
    settings.prefix = prefix;
    settings.clientId = prefix;
    return settings;
}

CycleRecord Reading(int sample, std::string event = "") {
    return {kTime, double(sample), Measurement{12.5, 0.5 * sample, 6.25 * sample},
            std::move(event)};
}

// The samples of the readings received on the topic, without repeats (QoS 1 may repeat).
std::set<int> Samples(const MqttSubscriber& subscriber, const std::string& topic) {
    std::set<int> samples;
    for (const std::string& payload : subscriber.Payloads(topic))
        samples.insert(json::parse(payload)["sample"].get<int>());
    return samples;
}

std::set<int> Range(int first, int last) {
    std::set<int> samples;
    for (int sample = first; sample <= last; ++sample)
        samples.insert(sample);
    return samples;
}

TEST(MqttBroker, TopicsPayloadsAndWhatALateSubscriberFindsRetained) {
    MosquittoBroker broker;
    MqttSubscriber live(broker.Port(), "psu/#");
    MqttSink sink(SettingsFor(broker, "psu/bench-07/COM9"));

    sink.Begin(kIdentity, kTime);
    ASSERT_TRUE(WaitUntil([&] { return sink.Connected(); })) << sink.Problem();
    sink.Record(Reading(1));
    sink.Record({kTime, 2, std::nullopt, "OUTP ON -> OK"}); // no reading: nothing to publish
    sink.Record(Reading(3, "SOUR:VOLT 12.50 -> OK"));
    sink.End();

    ASSERT_TRUE(live.WaitForCount("psu/bench-07/COM9/status", 2));
    EXPECT_EQ(live.Payloads("psu/bench-07/COM9/status"),
              (std::vector<std::string>{"online", "offline"}));
    const std::vector<std::string> identity = live.Payloads("psu/bench-07/COM9/identity");
    ASSERT_EQ(identity.size(), 1u);
    EXPECT_EQ(json::parse(identity[0]),
              json::parse(R"({"port":"COM9","baud":115200,"model":"PSU-3010","serial":"SN0042",)"
                          R"("version":"V1.2","rated_voltage_V":30,"rated_current_A":10})"));
    const std::vector<std::string> readings = live.Payloads("psu/bench-07/COM9/reading");
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0], R"({"time":"2026-12-11T14:03:28.512+08:00","sample":1,)"
                           R"("voltage_V":12.5,"current_A":0.5,"power_W":6.25})");
    EXPECT_EQ(json::parse(readings[1])["event"], "SOUR:VOLT 12.50 -> OK");
    EXPECT_EQ(json::parse(readings[1])["sample"], 3);
    EXPECT_EQ(sink.Problem(), "");

    MqttSubscriber late(broker.Port(), "psu/#");
    ASSERT_TRUE(late.WaitForCount("psu/bench-07/COM9/identity", 1));
    ASSERT_TRUE(late.WaitForCount("psu/bench-07/COM9/status", 1));
    for (const auto& message : late.Messages())
        EXPECT_TRUE(message.retained) << message.topic;
    EXPECT_EQ(late.Payloads("psu/bench-07/COM9/status"), std::vector<std::string>{"offline"});
    EXPECT_EQ(late.Payloads("psu/bench-07/COM9/reading").size(), 0u) << "readings are not retained";
}

TEST(MqttBroker, AWorkersSinksFromTheStartUpSettingsRecordAndPublishBoth) {
    MosquittoBroker broker;
    MqttSubscriber subscriber(broker.Port(), "line/#");
    testsupport::GlobalsGuard globals;
    testsupport::TempDir dir;
    AppDir = dir.Path();
    testsupport::WriteFile(dir.Path() + "config.ini",
                           "[mqtt]\r\nhost=127.0.0.1\r\nport=" + std::to_string(broker.Port()) +
                               "\r\nprefix=line/7\r\n");
    LoadRecordSettings();
    LoadPublishSettings();

    std::unique_ptr<IReadingSink> sinks = MakeReadingSink();
    ASSERT_NE(sinks, nullptr);
    sinks->Begin(kIdentity, kTime);
    // The publisher is connected once its status is out; End gives a slow connect no more time.
    ASSERT_TRUE(subscriber.WaitForCount("line/7/status", 1));
    sinks->Record(Reading(1));
    sinks->End();
    sinks.reset();

    ASSERT_TRUE(subscriber.WaitForCount("line/7/reading", 1));
    EXPECT_EQ(Samples(subscriber, "line/7/reading"), Range(1, 1));
    const std::string recording =
        testsupport::ReadFile(dir.Path() + "Data/2026/12/2026-12-11_140328_COM9.csv");
    EXPECT_NE(recording.find("\r\n2026-12-11T14:03:28.512+08:00,1,"), std::string::npos)
        << recording;
}

TEST(MqttBroker, WithoutAPrefixTheTopicsNameThisMachineAndThePort) {
    char hostName[256] = {};
    ASSERT_EQ(gethostname(hostName, sizeof hostName - 1), 0);
    MosquittoBroker broker;
    MqttSubscriber subscriber(broker.Port(), "psu/+/COM9/status");
    MqttSettings settings = SettingsFor(broker, "");
    MqttSink sink(settings);
    sink.Begin(kIdentity, kTime);
    ASSERT_TRUE(subscriber.WaitForCount("psu/" + std::string(hostName) + "/COM9/status", 1))
        << sink.Problem();
}

TEST(MqttBroker, EveryReadingOfARealWorkerArrivesInOrder) {
    MosquittoBroker broker;
    MqttSubscriber subscriber(broker.Port(), "line/+/reading");
    workertest::Script script;
    script.AddPollReplies({"12.00,1.50,18.00", "12.10,1.40,16.94", "bad", "12.20,1.30,15.86"});
    workertest::RecordingView view;
    workertest::DirectSync sync;
    auto worker = std::make_unique<workertest::ScriptedWorker>(script, sync, view);
    worker->Interval = 5;
    worker->Identity = kIdentity;
    worker->Sink = std::make_unique<MqttSink>(SettingsFor(broker, "line/1"));
    StopRequested = false;
    LaunchWorker(std::move(worker));

    ASSERT_TRUE(subscriber.WaitForCount("line/1/reading", 3));
    RequestWorkerStop();
    ASSERT_TRUE(WaitUntil([&] { return script.DroppedAtEnd() >= 0; }));
    std::vector<double> volts, samples;
    for (const std::string& payload : subscriber.Payloads("line/1/reading")) {
        volts.push_back(json::parse(payload)["voltage_V"]);
        samples.push_back(json::parse(payload)["sample"]);
    }
    EXPECT_EQ(volts, (std::vector<double>{12.0, 12.1, 12.2}));
    EXPECT_EQ(samples, (std::vector<double>{1, 2, 4})) << "a dropped reply still counts a sample";
}

TEST(MqttBroker, TheLastWillSaysOfflineWhenThePublisherIsKilled) {
    MosquittoBroker broker;
    MqttSubscriber subscriber(broker.Port(), "peer/#");
    const pid_t peer = fork();
    ASSERT_GE(peer, 0);
    if (peer == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const std::string port = std::to_string(broker.Port());
        execl(PSU_MQTT_PEER_PATH, PSU_MQTT_PEER_PATH, port.c_str(), "peer/1",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    const bool published = subscriber.WaitForCount("peer/1/reading", 2);
    kill(peer, SIGKILL);
    int status = 0;
    waitpid(peer, &status, 0);
    ASSERT_TRUE(published) << broker.Log();

    ASSERT_TRUE(subscriber.WaitForCount("peer/1/status", 2)) << broker.Log();
    EXPECT_EQ(subscriber.Payloads("peer/1/status"),
              (std::vector<std::string>{"online", "offline"}));
    MqttSubscriber late(broker.Port(), "peer/1/status");
    ASSERT_TRUE(late.WaitForCount("peer/1/status", 1));
    EXPECT_EQ(late.Payloads("peer/1/status"), std::vector<std::string>{"offline"});
}

TEST(MqttBroker, ABrokerAwayForFiveSecondsKeepsTheNewestAndCountsTheDropped) {
    MosquittoBroker broker;
    // A session the broker keeps across its restart, so that nothing after it is missed.
    MqttSubscriber subscriber(broker.Port(), "psu/+/reading", {"", "restart-watcher"});
    const std::size_t capacity = 20;
    MqttSink sink(SettingsFor(broker, "psu/r"), capacity);
    sink.Begin(kIdentity, kTime);
    ASSERT_TRUE(WaitUntil([&] { return sink.Connected(); })) << sink.Problem();
    for (int sample = 1; sample <= 5; ++sample)
        sink.Record(Reading(sample));
    ASSERT_TRUE(WaitUntil([&] { return Samples(subscriber, "psu/r/reading") == Range(1, 5); }));

    broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !sink.Connected(); }));
    for (int sample = 6; sample <= 35; ++sample)
        sink.Record(Reading(sample));
    EXPECT_EQ(sink.DroppedMessages(), 10u);
    EXPECT_NE(sink.Problem().find("127.0.0.1:" + std::to_string(broker.Port())), std::string::npos)
        << sink.Problem();
    EXPECT_NE(sink.Problem().find("队列已满"), std::string::npos) << sink.Problem();
    std::this_thread::sleep_for(std::chrono::seconds(5)); // the outage itself
    broker.Start();

    ASSERT_TRUE(WaitUntil([&] { return sink.Connected(); }, std::chrono::seconds(40)))
        << sink.Problem();
    for (int sample = 36; sample <= 40; ++sample)
        sink.Record(Reading(sample));
    std::set<int> expected = Range(1, 5);
    expected.merge(Range(16, 40));
    EXPECT_TRUE(WaitUntil([&] { return Samples(subscriber, "psu/r/reading") == expected; }))
        << "received " << Samples(subscriber, "psu/r/reading").size();
    EXPECT_EQ(sink.Problem(), "");
    EXPECT_EQ(sink.DroppedMessages(), 10u);
}

// Connections the broker turned away for their credentials.
std::size_t RefusalsLogged(const MosquittoBroker& broker) {
    const std::string log = broker.Log();
    std::size_t count = 0;
    for (std::size_t at = log.find("not authorised"); at != std::string::npos;
         at = log.find("not authorised", at + 1))
        ++count;
    return count;
}

struct CredentialsRow {
    const char* name;
    const char* username;
    const char* password;
    bool accepted;
};

class MqttCredentials : public ::testing::TestWithParam<CredentialsRow> {};

TEST_P(MqttCredentials, RefusedOnesAreSaidWithoutThePassword) {
    const CredentialsRow& row = GetParam();
    MosquittoBroker broker(testsupport::BrokerOptions{{{"station", "right-pass"}}, nullptr});
    MqttSettings settings = SettingsFor(broker, "psu/auth");
    settings.username = row.username;
    settings.password = row.password;
    MqttSink sink(settings);

    sink.Begin(kIdentity, kTime);

    if (row.accepted) {
        EXPECT_TRUE(WaitUntil([&] { return sink.Connected(); })) << sink.Problem();
        EXPECT_EQ(sink.Problem(), "");
        return;
    }
    ASSERT_TRUE(WaitUntil([&] { return !sink.Problem().empty(); }));
    EXPECT_NE(sink.Problem().find("拒绝"), std::string::npos) << sink.Problem();
    EXPECT_EQ(sink.Problem().find(row.password), std::string::npos) << "the password leaked";
    EXPECT_FALSE(sink.Connected());
    EXPECT_TRUE(WaitUntil([&] { return RefusalsLogged(broker) >= 2; })) << "never retried";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MqttCredentials,
    ::testing::Values(CredentialsRow{"Right", "station", "right-pass", true},
                      CredentialsRow{"WrongPassword", "station", "wrong-pass", false},
                      CredentialsRow{"UnknownUser", "intruder", "right-pass", false}),
    [](const auto& info) { return std::string(info.param.name); });

class MqttTls : public ::testing::Test {
protected:
    testsupport::TempDir certDir, otherDir;
    testsupport::TestCertificates certificates{certDir.Path()};
    MosquittoBroker broker{testsupport::BrokerOptions{{}, &certificates}};
};

TEST_F(MqttTls, ReadingsGoOutOverTlsWithTheRightCa) {
    MqttSubscriber subscriber(broker.Port(), "psu/#", {certificates.caFile, ""});
    MqttSettings settings = SettingsFor(broker, "psu/tls");
    settings.caFile = certificates.caFile;
    MqttSink sink(settings);
    sink.Begin(kIdentity, kTime);
    sink.Record(Reading(1));
    EXPECT_TRUE(subscriber.WaitForCount("psu/tls/reading", 1)) << sink.Problem();
    EXPECT_EQ(sink.Problem(), "");
}

TEST_F(MqttTls, ACertificateFromAnotherCaIsSaid) {
    const testsupport::TestCertificates other(otherDir.Path());
    MqttSettings settings = SettingsFor(broker, "psu/tls");
    settings.caFile = other.caFile;
    MqttSink sink(settings);
    sink.Begin(kIdentity, kTime);
    ASSERT_TRUE(WaitUntil([&] { return !sink.Problem().empty(); }));
    EXPECT_NE(sink.Problem().find("certificate verify failed"), std::string::npos)
        << sink.Problem();
    EXPECT_FALSE(sink.Connected());
}

TEST_F(MqttTls, AnUnreadableCaFileIsSaid) {
    MqttSettings settings = SettingsFor(broker, "psu/tls");
    settings.caFile = otherDir.Path() + "missing.pem";
    MqttSink sink(settings);
    sink.Begin(kIdentity, kTime);
    EXPECT_NE(sink.Problem().find("missing.pem"), std::string::npos) << sink.Problem();
    sink.End(); // ends at once: nothing was started
}

} // namespace
