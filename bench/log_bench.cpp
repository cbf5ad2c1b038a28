// One line of the daily log, retention check included, in a temporary AppDir.

#include <benchmark/benchmark.h>

#include "common/uCheckAll.h"
#include "support/TestSupport.h"

namespace {

void BM_WriteLogLine(benchmark::State& state) {
    testsupport::TempDir dir;
    AppDir = dir.Path();
    for (auto _ : state)
        WriteLog("rece:12.00,1.20,14.40", "comm");
}

} // namespace

BENCHMARK(BM_WriteLogLine)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
