// Port discovery: the names of the ports that the platform's port map finds.

#include "common/uCheckAll.h"

#include "platform/Platform.h"

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports;
    for (platform::SerialPortEntry& entry : platform::EnumerateSerialPorts(AppDir))
        ports.push_back({std::move(entry.name), std::move(entry.devicePath)});
    return ports;
}
