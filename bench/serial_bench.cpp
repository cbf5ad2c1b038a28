// One serial transaction against the simulated supply: its wall and processor time when the
// supply answers at once, and the processor time spent waiting for a supply that answers after
// 300 ms, beside a reference that polls the port without waiting.

#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "common/uCheckAll.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace {

constexpr int kPromptPort = 11;
constexpr int kSlowPort = 12;
constexpr int kSlowReplyMs = 300;
const std::string kBaud = "115200";
const std::string kPoll = "READ:ALL?";

// Two simulated supplies in one temporary AppDir, for the whole run.
struct Supplies {
    Supplies() {
        AppDir = dir.Path();
        prompt = std::make_unique<testsupport::SimProcess>(
            dir.Path(), kPromptPort, std::vector<std::string>{"--noise", "0"});
        slow = std::make_unique<testsupport::SimProcess>(
            dir.Path(), kSlowPort,
            std::vector<std::string>{"--noise", "0", "--delay-ms", std::to_string(kSlowReplyMs)});
    }
    testsupport::TempDir dir;
    std::unique_ptr<testsupport::SimProcess> prompt, slow;
};

Supplies& TheSupplies() {
    static Supplies supplies;
    return supplies;
}

// idleMs: how long the thread sleeps before each transaction.
void Transactions(benchmark::State& state, int port, int idleMs = 0) {
    TheSupplies();
    const std::string portText = std::to_string(port);
    std::string reply;
    for (auto _ : state) {
        if (idleMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(idleMs));
        ComTransact(portText, kBaud, kPoll, true, reply);
        if (reply.empty()) {
            state.SkipWithError("no reply from psu-sim");
            return;
        }
    }
}

// The same exchange on the same device interface, but asking for waiting bytes again at once
// until the whole line is there: what the wait costs when nothing blocks.
std::string SpinningTransaction(int port) {
    const PortHandle device = OpenComPort(port, std::stoi(kBaud));
    if (!device)
        return {};
    const std::string line = kPoll + "\n";
    if (device->Write(line.data(), line.size()) != long(line.size()))
        return {};
    std::string received;
    char buffer[1024];
    while (received.empty() || received.back() != '\n') {
        const long waiting = device->BytesWaiting();
        if (waiting < 0)
            return {};
        if (waiting == 0)
            continue;
        const long got = device->Read(buffer, std::min<long>(waiting, sizeof buffer));
        if (got < 0)
            return {};
        received.append(buffer, std::size_t(got));
    }
    return received;
}

void BM_Transaction(benchmark::State& state) {
    Transactions(state, kPromptPort);
}

void BM_SlowSupplyTransaction(benchmark::State& state) {
    Transactions(state, kSlowPort);
}

// The prompt supply, each transaction after as long a sleep as the slow supply's: the same work
// around the wait with the caches gone cold, which tells that work from the cost of the wait.
void BM_TransactionAfterIdle(benchmark::State& state) {
    Transactions(state, kPromptPort, kSlowReplyMs);
}

void BM_SlowSupplySpinningReference(benchmark::State& state) {
    TheSupplies();
    for (auto _ : state) {
        if (SpinningTransaction(kSlowPort).empty()) {
            state.SkipWithError("no reply from psu-sim");
            return;
        }
    }
}

} // namespace

BENCHMARK(BM_Transaction)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SlowSupplyTransaction)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransactionAfterIdle)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlowSupplySpinningReference)
    ->UseRealTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
