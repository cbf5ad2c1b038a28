// Port enumeration over real devices: links in ports/ to pseudo-terminals.

#include <filesystem>
#include <gtest/gtest.h>

#include "common/uCheckAll.h"
#include "platform/Platform.h"
#include "support/GlobalsGuard.h"
#include "support/PtyPeer.h"
#include "support/TestSupport.h"

namespace {

int PortNumberOf(const std::string& name) {
    return std::stoi(name.substr(3));
}

TEST(PortEnumeration, ListsLinkedPortsAscendingAndSkipsDanglingLinks) {
    testsupport::TempDir dir;
    serialtest::PtyPeer peer;
    peer.LinkAs(dir.Path(), 5);
    peer.LinkAs(dir.Path(), 2);
    std::filesystem::create_symlink(dir.Path() + "gone", dir.Path() + "ports/com150");

    const auto ports = platform::EnumerateSerialPorts(dir.Path());

    std::vector<std::string> linked;
    for (const auto& port : ports) {
        if (port.devicePath.rfind(dir.Path(), 0) == 0)
            linked.push_back(port.name + "=" + port.devicePath);
    }
    EXPECT_EQ(linked, (std::vector<std::string>{"COM2=" + dir.Path() + "ports/com2",
                                                "COM5=" + dir.Path() + "ports/com5"}));
    for (std::size_t i = 1; i < ports.size(); ++i)
        EXPECT_LT(PortNumberOf(ports[i - 1].name), PortNumberOf(ports[i].name));
}

TEST(PortEnumeration, ListSerialPortsNamesThePortsOfAppDirWithTheirDevices) {
    testsupport::TempDir dir;
    serialtest::PtyPeer peer;
    peer.LinkAs(dir.Path(), 40);
    peer.LinkAs(dir.Path(), 9);
    testsupport::GlobalsGuard globals;
    AppDir = dir.Path();
    const std::vector<SerialPortInfo> ports = ListSerialPorts();

    const auto named = [&](const char* name) {
        return std::find_if(ports.begin(), ports.end(),
                            [&](const auto& p) { return p.name == name; });
    };
    const auto nine = named("COM9");
    const auto forty = named("COM40");
    ASSERT_NE(nine, ports.end());
    ASSERT_NE(forty, ports.end());
    EXPECT_LT(nine, forty);
    EXPECT_EQ(nine->devicePath, dir.Path() + "ports/com9");
}

} // namespace
