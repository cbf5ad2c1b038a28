#include "support/GlobalsGuard.h"

#include "common/Clock.h"
#include "common/uCheckAll.h"
#include "worker/ubaseThread.h"

namespace testsupport {

GlobalsGuard::GlobalsGuard()
    : appDir_(AppDir), comPortName_(ComPortName), comBaudRate_(ComBaudRate),
      pollCommand_(PollCommand), stopRequested_(StopRequested) {}

GlobalsGuard::~GlobalsGuard() {
    AppDir = appDir_;
    ComPortName = comPortName_;
    ComBaudRate = comBaudRate_;
    PollCommand = pollCommand_;
    StopRequested = stopRequested_;
    // Lines a test queued were meant for its own worker only.
    CommandQueue.Clear();
    SetLocalClock({});
    SetTickClock({});
}

} // namespace testsupport
