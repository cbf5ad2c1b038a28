// Port discovery: the names of the ports that the platform's port map finds.

#include "common/uCheckAll.h"

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> names;
    for (platform::SerialPortEntry& entry : platform::EnumerateSerialPorts(AppDir))
        names.push_back(std::move(entry.name));
    return names;
}
