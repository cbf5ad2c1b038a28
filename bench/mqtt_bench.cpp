// Publishing over MQTT: what Record costs the worker's thread (broker there, broker away), how
// long End keeps the worker, and a line of stations on this one machine: N simulated supplies,
// each with its own real worker and publisher, one broker, one subscriber, at 1 Hz, with the
// end-to-end latency (Record to the subscriber's callback) and the readings lost.

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/uCheckAll.h"
#include "publish/MqttSink.h"
#include "support/MqttBroker.h"
#include "support/TestSupport.h"
#include "support/WorkerTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

const platform::LocalDateTime kTime{2026, 12, 11, 14, 3, 28, 512, 480};
const SupplyIdentity kIdentity{"COM9", 115200, "PSU-3010", "SN0042", "V1.2", 30, 10};

MqttSettings SettingsFor(int port, const std::string& prefix) {
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.prefix = prefix;
    settings.clientId = prefix;
    return settings;
}

void Records(benchmark::State& state, MqttSink& sink) {
    CycleRecord record{kTime, 0, Measurement{12.5, 1.25, 15.625}, ""};
    for (auto _ : state) {
        record.sample += 1;
        sink.Record(record);
    }
    state.counters["dropped"] = static_cast<double>(sink.DroppedMessages());
}

void BM_RecordBrokerThere(benchmark::State& state) {
    testsupport::MosquittoBroker broker;
    MqttSink sink(SettingsFor(broker.Port(), "bench/there"));
    sink.Begin(kIdentity, kTime);
    if (!testsupport::WaitUntil([&] { return sink.Connected(); }))
        return state.SkipWithError(("no connection: " + sink.Problem()).c_str());
    Records(state, sink);
}

// The queue full and dropping its oldest: the most a Record costs.
void BM_RecordBrokerAway(benchmark::State& state) {
    MqttSink sink(SettingsFor(1, "bench/away")); // nothing listens on port 1
    sink.Begin(kIdentity, kTime);
    Records(state, sink);
}

// End with a connected sink: the queue drained, "offline" acknowledged, the disconnect.
void BM_EndBrokerThere(benchmark::State& state) {
    testsupport::MosquittoBroker broker;
    for (auto _ : state) {
        state.PauseTiming();
        MqttSink sink(SettingsFor(broker.Port(), "bench/end"));
        sink.Begin(kIdentity, kTime);
        testsupport::WaitUntil([&] { return sink.Connected(); });
        sink.Record({kTime, 1, Measurement{1, 2, 2}, ""});
        state.ResumeTiming();
        sink.End();
    }
}

void BM_EndBrokerAway(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        MqttSink sink(SettingsFor(1, "bench/end"));
        sink.Begin(kIdentity, kTime);
        sink.Record({kTime, 1, Measurement{1, 2, 2}, ""});
        state.ResumeTiming();
        sink.End();
    }
}

// ---- The line of stations ---------------------------------------------------------------------

// When each station recorded each sample, kept beside the real publisher it wraps.
class RecordTimes {
public:
    void Note(int station, double sample) {
        std::lock_guard lock(mutex_);
        times_[{station, static_cast<int>(sample)}] = Clock::now();
    }
    std::map<std::pair<int, int>, Clock::time_point> Times() const {
        std::lock_guard lock(mutex_);
        return times_;
    }
    void Ended() {
        std::lock_guard lock(mutex_);
        ++ended_;
    }
    int EndedCount() const {
        std::lock_guard lock(mutex_);
        return ended_;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::pair<int, int>, Clock::time_point> times_;
    int ended_ = 0;
};

class TimedSink : public IReadingSink {
public:
    TimedSink(std::unique_ptr<IReadingSink> inner, int station, RecordTimes& times)
        : inner_(std::move(inner)), station_(station), times_(times) {}
    void Begin(const SupplyIdentity& identity, const platform::LocalDateTime& started) override {
        inner_->Begin(identity, started);
    }
    void Record(const CycleRecord& record) override {
        if (record.reading)
            times_.Note(station_, record.sample);
        inner_->Record(record);
    }
    void End() override {
        inner_->End();
        times_.Ended();
    }
    std::string Problem() const override { return inner_->Problem(); }

private:
    std::unique_ptr<IReadingSink> inner_;
    int station_;
    RecordTimes& times_;
};

// A worker that talks to its own port, not to the one in the settings.
class StationWorker : public TbaseThread {
public:
    StationWorker(int port, ISyncCaller& sync, IReadingsView& view)
        : TbaseThread(sync, view), port_(std::to_string(port)) {}

protected:
    std::string Transact(const std::string& command) override {
        std::string reply;
        ComTransact(port_, "115200", command, true, reply);
        return reply;
    }

private:
    std::string port_;
};

class QuietView : public IReadingsView {
public:
    void AppendSample(double, double, double, double) override {}
    void ShowReadingTexts(const std::string&, const std::string&, const std::string&) override {}
    void ShowReadingMissing() override {}
    void ShowWorkerEnded() override {}
    void ShowSinkProblem(const std::string&) override {}
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

void BM_StationLine(benchmark::State& state) {
    const int stations = static_cast<int>(state.range(0));
    const auto duration = std::chrono::seconds(state.range(1));
    testsupport::TempDir dir;
    AppDir = dir.Path();
    testsupport::MosquittoBroker broker;
    testsupport::MqttSubscriber subscriber(broker.Port(), "line/+/reading");
    std::vector<std::unique_ptr<testsupport::SimProcess>> supplies;
    for (int station = 1; station <= stations; ++station)
        supplies.push_back(std::make_unique<testsupport::SimProcess>(dir.Path(), station));

    RecordTimes times;
    workertest::DirectSync sync;
    QuietView view;
    for (auto _ : state) {
        StopRequested = false;
        for (int station = 1; station <= stations; ++station) {
            auto* worker = new StationWorker(station, sync, view);
            SupplyIdentity identity = kIdentity;
            identity.portName = "COM" + std::to_string(station);
            worker->Identity = identity;
            worker->Sink =
                std::make_unique<TimedSink>(std::make_unique<MqttSink>(SettingsFor(
                                                broker.Port(), "line/" + std::to_string(station))),
                                            station, times);
            worker->Start(); // it owns itself from here
        }
        std::this_thread::sleep_for(duration); // the run itself
        StopRequested = true;
        testsupport::WaitUntil([&] { return times.EndedCount() == stations; },
                               std::chrono::seconds(30));
    }
    StopRequested = false;
    const auto recorded = times.Times();
    subscriber.WaitFor([&](const auto& messages) { return messages.size() >= recorded.size(); });

    std::map<std::pair<int, int>, Clock::time_point> received;
    for (const testsupport::ReceivedMessage& message : subscriber.Messages()) {
        const int station = std::stoi(message.topic.substr(5, message.topic.find('/', 5) - 5));
        const int sample = nlohmann::json::parse(message.payload)["sample"].get<int>();
        received.emplace(std::make_pair(station, sample), message.at);
    }
    std::vector<double> latencies;
    for (const auto& [key, at] : recorded)
        if (const auto found = received.find(key); found != received.end())
            latencies.push_back(
                std::chrono::duration<double, std::milli>(found->second - at).count());
    state.counters["recorded"] = static_cast<double>(recorded.size());
    state.counters["lost"] = static_cast<double>(recorded.size() - latencies.size());
    state.counters["latency_median_ms"] = Percentile(latencies, 0.5);
    state.counters["latency_p99_ms"] = Percentile(latencies, 0.99);
    state.counters["latency_max_ms"] = Percentile(latencies, 1.0);
}

} // namespace

BENCHMARK(BM_RecordBrokerThere)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordBrokerAway)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EndBrokerThere)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EndBrokerAway)->Iterations(20)->Unit(benchmark::kMillisecond);
// Stations, seconds.
BENCHMARK(BM_StationLine)
    ->ArgNames({"stations", "seconds"})
    ->Args({50, 120})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
