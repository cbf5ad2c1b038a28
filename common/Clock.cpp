#include "common/Clock.h"

#include <mutex>
#include <utility>

#include "platform/Platform.h"

namespace {

std::mutex clockMutex;
LocalClock installedClock;
TickClock installedTickClock;

} // namespace

LocalDateTime LocalNow() {
    LocalClock clock;
    {
        std::lock_guard lock(clockMutex);
        clock = installedClock;
    }
    return clock ? clock() : platform::SystemLocalNow();
}

void SetLocalClock(LocalClock clock) {
    std::lock_guard lock(clockMutex);
    installedClock = std::move(clock);
}

std::chrono::steady_clock::time_point TickNow() {
    TickClock clock;
    {
        std::lock_guard lock(clockMutex);
        clock = installedTickClock;
    }
    return clock ? clock() : std::chrono::steady_clock::now();
}

void SetTickClock(TickClock clock) {
    std::lock_guard lock(clockMutex);
    installedTickClock = std::move(clock);
}
