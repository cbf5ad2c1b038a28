#pragma once
// What each new worker records and publishes besides the window, as the settings read at start-up
// ask.

#include <memory>

#include "worker/ReadingSink.h"

// Every enabled sink behind one (a CompositeSink when there are several), or nullptr when none
// is enabled. A new kind of sink is added here, beside the recording; the worker stays as it is.
std::unique_ptr<IReadingSink> MakeReadingSink();
