#pragma once
// The local wall-clock time and the monotonic tick, each behind a hook that tests can set.

#include <chrono>
#include <functional>

#include "platform/Platform.h"

using LocalDateTime = platform::LocalDateTime;

using LocalClock = std::function<LocalDateTime()>;

// The time now, from the installed clock (the system's local time unless a test set another).
LocalDateTime LocalNow();

// Installs a clock; an empty function restores the system clock.
void SetLocalClock(LocalClock clock);

using TickClock = std::function<std::chrono::steady_clock::time_point()>;

// The monotonic time now, from the installed tick clock (the system's unless a test set another).
std::chrono::steady_clock::time_point TickNow();

// Installs a tick clock; an empty function restores the system's.
void SetTickClock(TickClock clock);
