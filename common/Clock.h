#pragma once
// The local wall-clock time, behind a hook that tests can set.

#include <functional>

struct LocalDateTime {
    int year = 0;
    int month = 0; // 1..12
    int day = 0;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

using LocalClock = std::function<LocalDateTime()>;

// The time now, from the installed clock (the system's local time unless a test set another).
LocalDateTime LocalNow();

// Installs a clock; an empty function restores the system clock.
void SetLocalClock(LocalClock clock);
