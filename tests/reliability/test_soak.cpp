// Many poll cycles in a row against a supply with faults mixed in. PSU_SOAK_CYCLES sets the number
// of cycles (3000 unless set); the long run is
//   PSU_SOAK_CYCLES=100000 build/test/bin/reliability_tests --gtest_filter=Soak.*

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "LiveWorker.h"
#include "support/PtyPeer.h"

using namespace reliability;

namespace {

int64_t SoakCycles() {
    const char* text = std::getenv("PSU_SOAK_CYCLES");
    return text ? std::atoll(text) : 3000;
}

// Resident memory of this process, from /proc/self/statm.
long long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long sizePages = 0, residentPages = 0;
    statm >> sizePages >> residentPages;
    return residentPages * sysconf(_SC_PAGESIZE);
}

// Under the sanitizers freed memory is held back on purpose and their own bookkeeping grows, so
// resident memory says nothing about leaks there (AddressSanitizer's leak check covers them).
#ifdef PSU_SANITIZED
constexpr bool kResidentMemoryIsMeaningful = false;
#else
constexpr bool kResidentMemoryIsMeaningful = true;
#endif

// Slack for what the allocator and the C library keep for themselves while the run goes on.
constexpr long long kResidentSlack = 2 * 1024 * 1024;

class Soak : public LiveWorkerTest {};

TEST_F(Soak, PollCyclesWithFaultsMixedIn) {
    const int64_t cycles = SoakCycles();
    ASSERT_GT(cycles, 0) << "PSU_SOAK_CYCLES must be a positive number";
    view.Reserve(static_cast<std::size_t>(cycles) + 16);
    StartSim({"--garble-every", "97", "--flood-every", "1009", "--crlf"});
    const int descriptorsBefore = serialtest::OpenDescriptorCount();
    const auto start = std::chrono::steady_clock::now();
    // Generous: the cycles themselves take about a millisecond each.
    const auto limit = std::chrono::milliseconds(60'000 + cycles * 50);

    StartWorker();
    ASSERT_TRUE(WaitForPolls(cycles / 10, limit));
    const long long residentAtTenth = ResidentBytes();
    const std::size_t pointsAtTenth = view.PointCount();
    ASSERT_TRUE(WaitForPolls(cycles, limit));
    const long long residentAtEnd = ResidentBytes();
    const std::size_t pointsAtEnd = view.PointCount();
    StopWorker();
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const auto counts = record.Counts();
    const int descriptorsAfter = serialtest::OpenDescriptorCount();
    EXPECT_EQ(descriptorsAfter, descriptorsBefore) << "descriptors leaked";
    // Every reply is either a whole point or dropped whole, and each was logged once.
    EXPECT_EQ(static_cast<int64_t>(view.PointCount()) + record.DroppedAtEnd(),
              counts.answeredPolls);
    EXPECT_EQ(record.SampleCountAtEnd(), counts.answeredPolls);
    EXPECT_EQ(static_cast<int64_t>(LogCount("comm", "] rece:")), counts.Replies());
    // Every 97th reply is garbled; only one that never arrived can be missing from the dropped.
    const int64_t unanswered = counts.polls - counts.answeredPolls;
    EXPECT_GE(record.DroppedAtEnd() + unanswered, counts.answeredPolls / 97);
    // Apart from the points the view keeps, as the charts would, memory stays where it was.
    const long long pointBytes =
        static_cast<long long>((pointsAtEnd - pointsAtTenth) * sizeof(workertest::Sample));
    const long long growth = residentAtEnd - residentAtTenth - pointBytes;
    if (kResidentMemoryIsMeaningful) {
        EXPECT_LT(growth, kResidentSlack) << "memory grew beyond the points kept";
    } else {
        std::printf("soak: resident memory not checked under a sanitizer\n");
    }

    std::printf("soak: %lld cycles in %.1f s, %lld replies, %lld dropped, %lld unanswered, "
                "descriptors %d -> %d, resident %.1f MiB at 10%% -> %.1f MiB at the end "
                "(points %.2f MiB of that)\n",
                static_cast<long long>(counts.polls), seconds,
                static_cast<long long>(counts.answeredPolls),
                static_cast<long long>(record.DroppedAtEnd()), static_cast<long long>(unanswered),
                descriptorsBefore, descriptorsAfter, residentAtTenth / 1048576.0,
                residentAtEnd / 1048576.0, pointBytes / 1048576.0);
}

} // namespace
