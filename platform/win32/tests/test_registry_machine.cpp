// HKEY_LOCAL_MACHINE: the NT network-card view of the interfaces, and
// fixture hives for the other Windows layouts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

namespace {

class Machine : public ::testing::Test {
protected:
    void SetUp() override { vx_registry_reset(); }
    void TearDown() override { vx_registry_reset(); }
};

// Reads a value as text the way the adapter list does (first string of a
// multi-string).
std::string text(HKEY k, const char* name)
{
    char buf[260] = {};
    DWORD size = sizeof buf;
    if (RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buf), &size) != ERROR_SUCCESS)
        return "<missing>";
    return buf;
}

struct Listed {
    std::string name, description, service, ip, mask;
    bool dhcp;
};

// The NT reader: class key, subkeys by index, then each service's Tcpip
// parameters.
std::vector<Listed> read_nt_layout()
{
    std::vector<Listed> out;
    HKEY cards = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards", 0, KEY_READ,
                      &cards) != ERROR_SUCCESS)
        return out;
    char sub[260];
    for (DWORD i = 0; RegEnumKeyA(cards, i, sub, sizeof sub) == ERROR_SUCCESS; ++i) {
        HKEY card = nullptr;
        EXPECT_EQ(RegOpenKeyExA(cards, sub, 0, KEY_READ, &card), ERROR_SUCCESS);
        Listed l;
        l.name = "[" + std::to_string(i) + "] " + text(card, "Title");
        l.description = text(card, "Description");
        l.service = text(card, "ServiceName");
        RegCloseKey(card);
        HKEY tcpip = nullptr;
        std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + l.service + "\\Parameters\\Tcpip";
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &tcpip), ERROR_SUCCESS) << path;
        BYTE dhcp[260] = {};
        DWORD size = sizeof dhcp;
        EXPECT_EQ(RegQueryValueExA(tcpip, "EnableDHCP", nullptr, nullptr, dhcp, &size), ERROR_SUCCESS);
        l.dhcp = dhcp[0] != 0;
        l.ip = text(tcpip, l.dhcp ? "DhcpIPAddress" : "IPAddress");
        l.mask = text(tcpip, l.dhcp ? "DhcpSubnetMask" : "SubnetMask");
        RegCloseKey(tcpip);
        out.push_back(l);
    }
    RegCloseKey(cards);
    return out;
}

TEST_F(Machine, NtViewOfAnInjectedInterfaceList)
{
    std::vector<vx_net_adapter> fake;
    for (int i = 0; i < 12; ++i) {
        vx_net_adapter a;
        char name[16];
        std::snprintf(name, sizeof name, "veth%02d", i);
        a.name = name;
        a.description = i == 0 ? "e1000e" : "";
        if (i != 3) {
            a.ip = "192.168.77." + std::to_string(i + 1);
            a.mask = "255.255.255.0";
        }
        fake.push_back(a);
    }
    vx_registry_set_adapter_source([fake] { return fake; });
    std::vector<Listed> listed = read_nt_layout();
    ASSERT_EQ(listed.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(listed[i].name, "[" + std::to_string(i) + "] " + fake[i].name); // enumeration follows the list
        EXPECT_EQ(listed[i].service, fake[i].name);
        EXPECT_EQ(listed[i].description, i == 0 ? "e1000e" : fake[i].name);
        EXPECT_FALSE(listed[i].dhcp);
        EXPECT_EQ(listed[i].ip, i == 3 ? "0.0.0.0" : fake[i].ip);
        EXPECT_EQ(listed[i].mask, i == 3 ? "0.0.0.0" : "255.255.255.0");
    }
    // IPAddress is a proper multi-string.
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\services\\veth00\\parameters\\tcpip", 0,
                            KEY_READ, &k),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(k, "IPAddress", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(size, std::strlen("192.168.77.1") + 2);
    RegCloseKey(k);

    // No interfaces: the class key is there and empty.
    vx_registry_set_adapter_source([] { return std::vector<vx_net_adapter>{}; });
    EXPECT_TRUE(read_nt_layout().empty());
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards", 0,
                            KEY_READ, &k),
              ERROR_SUCCESS);
    RegCloseKey(k);
}

TEST_F(Machine, LiveInterfacesAreEthernetWithoutLoopback)
{
    for (const auto& a : vx_registry_live_adapters()) {
        EXPECT_NE(a.name, "lo");
        EXPECT_FALSE(a.description.empty());
    }
    // The live view reads like any other.
    for (const auto& l : read_nt_layout())
        EXPECT_FALSE(l.service.empty());
}

TEST_F(Machine, Windows95FixtureLayout)
{
    const char fixture[] = "; veltrix registry hive 1\n"
                           "[SYSTEM\\CurrentControlSet\\Services\\Class\\Net\\0000]\n"
                           "\"DriverDesc\"=sz:\"Fast Ethernet Adapter\\0\"\n"
                           "[SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans\\0001]\n"
                           "\"IPAddress\"=sz:\"0.0.0.0\\0\"\n"
                           "[SYSTEM\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00]\n"
                           "\"DhcpServer\"=hex:c0,a8,01,01\n"
                           "\"DhcpIPAddress\"=hex:c0,a8,01,17\n"
                           "[Enum\\PCI\\VEN_8086\\BUS_00]\n"
                           "\"Driver\"=sz:\"Net\\\\0000\\0\"\n"
                           "[Enum\\PCI\\VEN_8086\\BUS_00\\Bindings]\n"
                           "\"(Default)\"=sz:\"\\0\"\n"
                           "\"MSTCP\\\\0001\"=sz:\"\\0\"\n";
    ASSERT_EQ(vx_registry_load_machine_text(fixture, sizeof fixture - 1), ERROR_SUCCESS);
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_8086\\BUS_00", 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_EQ(text(k, "Driver"), "Net\\0000");
    RegCloseKey(k);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_8086\\BUS_00\\Bindings", 0, KEY_READ, &k),
              ERROR_SUCCESS);
    char name[260];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumValueA(k, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "MSTCP\\0001");
    RegCloseKey(k);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00", 0,
                            KEY_READ, &k),
              ERROR_SUCCESS);
    BYTE server[4];
    size = sizeof server;
    ASSERT_EQ(RegQueryValueExA(k, "DhcpServer", nullptr, nullptr, server, &size), ERROR_SUCCESS);
    EXPECT_EQ(server[0], 0xc0);
    EXPECT_EQ(server[3], 0x01);
    RegCloseKey(k);
    // The NT class key is absent in this layout.
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards", 0,
                            KEY_READ, &k),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(Machine, BadFixturesLeaveAnEmptyView)
{
    EXPECT_EQ(vx_registry_load_machine_fixture("/nonexistent/fixture.reg"), ERROR_FILE_NOT_FOUND);
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    const char bad[] = "; veltrix registry hive 1\n[SOFTWARE]\n\"x\"=sz:\"unterminated\n";
    EXPECT_EQ(vx_registry_load_machine_text(bad, sizeof bad - 1), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
}

} // namespace
