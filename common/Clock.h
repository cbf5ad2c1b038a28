#pragma once
// The local wall-clock time, behind a hook that tests can set.

#include <functional>

#include "platform/Platform.h"

using LocalDateTime = platform::LocalDateTime;

using LocalClock = std::function<LocalDateTime()>;

// The time now, from the installed clock (the system's local time unless a test set another).
LocalDateTime LocalNow();

// Installs a clock; an empty function restores the system clock.
void SetLocalClock(LocalClock clock);
