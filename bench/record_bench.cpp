// One recorded row on the worker's thread: formatting and one write, with the file's sync on the
// recording's own thread as the program runs it, and the cost a sync of every row would add.
// The rows go to a temporary directory on the disk that /tmp is on.

#include <benchmark/benchmark.h>
#include <chrono>
#include <stdexcept>

#include "record/CsvFormat.h"
#include "record/CsvRecordingSink.h"
#include "support/TestSupport.h"

namespace {

const SupplyIdentity kSupply{"COM3", 115200, "PSU3005", "SN0042", "V1.2", 30, 5};

CycleRecord Row(long n) {
    return {{2026, 12, 11, 14, 3, 28, 512, 480}, double(n), Measurement{12.5, 1.25, 15.625}, ""};
}

// syncEvery_ms: how often the recording's own thread syncs the file (the program: 2000 ms);
// 0: never during the run, the cost of the row alone.
void BM_RecordRow(benchmark::State& state) {
    testsupport::TempDir dir;
    const auto syncEvery = state.range(0) == 0 ? std::chrono::milliseconds(std::chrono::hours(1))
                                               : std::chrono::milliseconds(state.range(0));
    CsvRecordingSink sink(dir.Path(), syncEvery);
    sink.Begin(kSupply, {2026, 12, 11, 14, 3, 27, 0, 480});
    long n = 0;
    for (auto _ : state)
        sink.Record(Row(++n));
    sink.End();
    if (!sink.Problem().empty())
        state.SkipWithError(sink.Problem().c_str());
}

// The same row followed by its fdatasync on the calling thread: what the worker would pay per
// row if it synced each one itself.
void BM_RecordRowSyncedEach(benchmark::State& state) {
    testsupport::TempDir dir;
    platform::CreatedRecordFile created = platform::CreateRecordFile(dir.Path() + "rows.csv");
    if (!created.file)
        return state.SkipWithError(created.error.message().c_str());
    long n = 0;
    for (auto _ : state) {
        if (created.file->Append(RecordingRow(Row(++n))) || created.file->Sync())
            return state.SkipWithError("the write or the sync failed");
    }
}

} // namespace

BENCHMARK(BM_RecordRow)->Arg(0)->Arg(2000)->ArgName("sync_every_ms")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordRowSyncedEach)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
