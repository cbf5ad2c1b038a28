#include "support/GlobalsGuard.h"

#include "common/Clock.h"
#include "common/uCheckAll.h"
#include "worker/ubaseThread.h"

namespace testsupport {

GlobalsGuard::GlobalsGuard()
    : appDir_(AppDir), comPortName_(ComPortName), comBaudRate_(ComBaudRate),
      pollCommand_(PollCommand), stopRequested_(StopRequested), recording_(Recording),
      publishing_(Publishing) {}

GlobalsGuard::~GlobalsGuard() {
    AppDir = appDir_;
    ComPortName = comPortName_;
    ComBaudRate = comBaudRate_;
    PollCommand = pollCommand_;
    StopRequested = stopRequested_;
    Recording = recording_;
    Publishing = publishing_;
    // Lines a test queued were meant for its own worker only.
    CommandQueue.Clear();
    SetLocalClock({});
    SetTickClock({});
}

} // namespace testsupport
