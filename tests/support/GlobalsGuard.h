#pragma once
// Saves the core's globals when made and puts them back when destroyed, so that a test may set
// any of them: AppDir and the settings read at start-up, the worker's shared state, and the two
// clocks.

#include <cstdint>
#include <optional>
#include <string>

#include "common/uCheckAll.h"
#include "publish/MqttSettings.h"

namespace testsupport {

class GlobalsGuard {
public:
    GlobalsGuard();
    ~GlobalsGuard();
    GlobalsGuard(const GlobalsGuard&) = delete;
    GlobalsGuard& operator=(const GlobalsGuard&) = delete;

private:
    std::string appDir_;
    std::string comPortName_;
    int32_t comBaudRate_;
    std::string pollCommand_;
    bool stopRequested_;
    RecordSettings recording_;
    std::optional<MqttSettings> publishing_;
};

} // namespace testsupport
