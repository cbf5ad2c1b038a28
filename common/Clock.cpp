#include "common/Clock.h"

#include <mutex>
#include <utility>

#include "platform/Platform.h"

namespace {

std::mutex clockMutex;
LocalClock installedClock;

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
