// The adapter list on machine registries of the three layouts: fixture hives
// for Windows 95 and 2000, the NT view built from an injected interface list.
#include <scoutline/adapter_list.h>

#include <windows.h>

#include <gtest/gtest.h>

#include "console_capture.h"

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace qm::vx;
using qm::vx::test::stdout_capture;

namespace {

// Hive text from keys and their value lines; every parent key is added.
std::string hive(const std::vector<std::pair<std::string, std::vector<std::string>>>& keys)
{
    std::string text = "; veltrix registry hive 1\n";
    std::set<std::string> written;
    for (const auto& [path, values] : keys) {
        for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
            const std::string parent = path.substr(0, pos);
            if (written.insert(parent).second)
                text += "[" + parent + "]\n";
        }
        if (written.insert(path).second)
            text += "[" + path + "]\n";
        else
            ADD_FAILURE() << "key listed twice: " << path;
        for (const auto& v : values)
            text += v + "\n";
    }
    return text;
}

struct record_t {
    std::string title;
    std::string service;
};

adapter_list_t::registry_source_t source(std::map<std::string, record_t> records, std::string fail_at = {})
{
    return [records, fail_at](W32N_ADAPTER_INFO& record, const char* subkey) -> DWORD {
        if (subkey == fail_at)
            return 1;
        auto it = records.find(subkey);
        if (it == records.end())
            return 2;
        std::snprintf(record.Description, sizeof record.Description, "desc %s", subkey);
        std::snprintf(record.Title, sizeof record.Title, "%s", it->second.title.c_str());
        std::snprintf(record.ServiceName, sizeof record.ServiceName, "%s", it->second.service.c_str());
        return 0;
    };
}

std::string summary(const adapter_list_t& list)
{
    std::string s;
    for (const auto& [name, info] : list.get_adapters())
        s += name + "|" + info.open_name + "|" + info.ip.to_string() + "|" + info.mask.to_string() + "\n";
    return s;
}

class AdapterList : public ::testing::Test {
protected:
    void TearDown() override { vx_registry_reset(); }
    void load(const std::string& text)
    {
        ASSERT_EQ(vx_registry_load_machine_text(text.data(), text.size()), ERROR_SUCCESS) << text;
    }
};

const char* const net95 = "SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
const char* const class2000 = "System\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

} // namespace

TEST_F(AdapterList, Windows95Layout)
{
    load(hive({
        {"Enum\\Root\\Net\\0000", {R"("Driver"=sz:"Net\\0002")"}},
        {"Enum\\Root\\Net\\0000\\Bindings", {R"("MSTCP\\0002"=sz:"")"}},
        {"Enum\\PCI\\VEN_10EC\\BUS_00", {R"("Driver"=sz:"Net\\0000")"}},
        {"Enum\\PCI\\VEN_10EC\\BUS_00\\Bindings", {R"("MSTCP\\0000"=sz:"")"}},
        {"Enum\\PCI\\VEN_8086\\BUS_01", {R"("Driver"=sz:"Net\\0001")"}},
        {"Enum\\PCI\\VEN_8086\\BUS_01\\Bindings", {R"("MSTCP\\0001"=sz:"")"}},
        {"Enum\\PCI\\VEN_1234\\BUS_02", {R"("Driver"=sz:"Display\\0000")"}},
        {"Enum\\PCI\\VEN_1234\\BUS_03", {}},
        {"Enum\\ISAPNP\\CARD\\0", {R"("Driver"=sz:"Net\\0004")"}},
        {"Enum\\ISAPNP\\CARD\\0\\Bindings", {R"("MSTCP\\0004"=sz:"")"}},
        {"Enum\\ISAPNP\\CARD\\1", {R"("Driver"=sz:"Net\\0006")"}},
        {"Enum\\ISAPNP\\CARD\\1\\Bindings", {R"("MSTCP\\0006"=sz:"")"}},
        {"Enum\\Network\\MSTCP\\0000", {R"("Driver"=sz:"NetTrans\\0000")"}},
        {"Enum\\Network\\MSTCP\\0001", {R"("Driver"=sz:"NetTrans\\0001")"}},
        {"Enum\\Network\\MSTCP\\0004", {R"("Driver"=sz:"NetTrans\\0004")"}},
        {"Enum\\Network\\MSTCP\\0006", {R"("Driver"=sz:"NetTrans\\0006")"}},
        {"SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans\\0000",
         {R"("IPAddress"=sz:"192.168.5.20")", R"("IPMask"=sz:"255.255.255.0")"}},
        {"SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans\\0001",
         {R"("IPAddress"=sz:"0.0.0.0")", R"("IPMask"=sz:"0.0.0.0")"}},
        {"SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans\\0004", {}},
        {"SYSTEM\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo01",
         {R"("DhcpServer"=hex:c0,a8,05,01)", R"("DhcpIPAddress"=hex:c0,a8,05,77)",
          R"("DhcpSubnetMask"=hex:ff,ff,ff,00)"}},
        {"SYSTEM\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo04",
         {R"("DhcpServer"=hex:ff,ff,ff,ff)", R"("IPAutoconfigurationAddress"=sz:"169.254.3.4")",
          R"("DhcpIPAddress"=hex:01,02,03,04)", R"("DhcpSubnetMask"=hex:ff,ff,00,00)"}},
        {std::string(net95) + "\\0000", {}},
        {std::string(net95) + "\\0001", {}},
        {std::string(net95) + "\\0002", {}},
        {std::string(net95) + "\\0003", {}},
        {std::string(net95) + "\\0004", {}},
        {std::string(net95) + "\\0005", {}},
        {std::string(net95) + "\\0006", {}},
    }));
    auto console = std::make_unique<stdout_capture>();
    adapter_list_t list(windows_family_t::windows95,
                        source({{"0000", {"Realtek", "r"}},
                                {"0001", {"Intel", "i"}},
                                {"0002", {"Dial-Up", "d"}},
                                {"0003", {"Spare", "s"}},
                                {"0004", {"Autoconf", "a"}},
                                {"0005", {"Spare", "s"}},
                                {"0006", {"No class key", "n"}}}));
    const std::string text = console->text();
    console.reset();
    const std::map<std::string, std::string> expected_bindings = {{"Net\\0000", "MSTCP\\0000"},
                                                                  {"Net\\0001", "MSTCP\\0001"},
                                                                  {"Net\\0002", "MSTCP\\0002"},
                                                                  {"Net\\0004", "MSTCP\\0004"},
                                                                  {"Net\\0006", "MSTCP\\0006"}};
    EXPECT_EQ(list.get_bindings(), expected_bindings);
    // Dial-up's network entry is missing: left out. Two "Spare" cards without
    // bindings collapse into the later one. A card whose class key is missing
    // stays, without an address.
    EXPECT_EQ(summary(list),
              "Autoconf|0004|169.254.3.4|255.255.0.0\n"
              "Intel|0001|192.168.5.119|255.255.255.0\n"
              "No class key|0006|0.0.0.0|0.0.0.0\n"
              "Realtek|0000|192.168.5.20|255.255.255.0\n"
              "Spare|0005|0.0.0.0|0.0.0.0\n");
    for (const char* line :
         {"Net\\0000 = MSTCP\\0000\n", "\nFound adapter 0001 dwIndex=1\n", "Description: desc 0001\n", "Title: Intel\n",
          "Service name: i\n", "IP Address: 192.168.5.119\n", "Subnet Mask: 255.255.255.0\n", "Adapter Not found\n",
          "Failed to open registry key: Enum\\Network\\MSTCP\\0002\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    std::vector<std::string> names;
    list.names(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Autoconf", "Intel", "No class key", "Realtek", "Spare"}));
    EXPECT_EQ(list.get_adapters().at("Intel").description, "desc 0001");
}

TEST_F(AdapterList, Windows2000Layout)
{
    const std::string interfaces = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";
    load(hive({
        {std::string(class2000) + "\\0000", {}},
        {std::string(class2000) + "\\0001", {}},
        {std::string(class2000) + "\\0002", {}},
        {std::string(class2000) + "\\0003", {}},
        {std::string(class2000) + "\\0004", {}},
        {interfaces + "{AAAA}",
         {R"("EnableDHCP"=dword:00000000)", R"("IPAddress"=multi_sz:"10.1.2.3\0\0")",
          R"("SubnetMask"=multi_sz:"255.0.0.0\0\0")"}},
        {interfaces + "{BBBB}",
         {R"("EnableDHCP"=dword:00000001)", R"("IPAddress"=multi_sz:"0.0.0.0\0\0")", R"("DhcpIPAddress"=sz:"10.9.9.9")",
          R"("DhcpSubnetMask"=sz:"255.255.0.0")"}},
        {interfaces + "{DDDD}", {R"("EnableDHCP"=dword:00000001)"}},
        {interfaces + "{EEEE}", {}},
    }));
    adapter_list_t list(windows_family_t::windows2000,
                        source({{"0000", {"NIC A", "{AAAA}"}},
                                {"0001", {"NIC B", "{BBBB}"}},
                                {"0002", {"NIC C", "{CCCC}"}},
                                {"0003", {"NIC D", "{DDDD}"}},
                                {"0004", {"NIC E", "{EEEE}"}}}));
    // C has no interface key, E no EnableDHCP: both left out. D has DHCP on
    // and no lease yet.
    EXPECT_EQ(summary(list),
              "[0] NIC A|\\Device\\{AAAA}|10.1.2.3|255.0.0.0\n"
              "[1] NIC B|\\Device\\{BBBB}|10.9.9.9|255.255.0.0\n"
              "[3] NIC D|\\Device\\{DDDD}|0.0.0.0|0.0.0.0\n");

    // A record that cannot be read ends the scan.
    adapter_list_t cut(windows_family_t::windows2000,
                       source({{"0000", {"NIC A", "{AAAA}"}}, {"0001", {"NIC B", "{BBBB}"}}}, "0001"));
    EXPECT_EQ(summary(cut), "[0] NIC A|\\Device\\{AAAA}|10.1.2.3|255.0.0.0\n");
}

TEST_F(AdapterList, WindowsNtViewOfTheInterfaces)
{
    vx_registry_set_adapter_source([] {
        std::vector<vx_net_adapter> list(3);
        list[0].name = "vxt0";
        list[0].description = "veth";
        list[0].ip = "192.168.77.1";
        list[0].mask = "255.255.255.0";
        list[1].name = "vxt1";
        list[1].description = "veth";
        list[2].name = "vxt2";
        list[2].description = "e1000";
        list[2].ip = "10.0.0.1";
        list[2].mask = "255.0.0.0";
        return list;
    });
    adapter_list_t list(windows_family_t::windows_nt, adapter_list_t::library_source());
    EXPECT_EQ(summary(list),
              "[0] vxt0|\\Device\\vxt0|192.168.77.1|255.255.255.0\n"
              "[1] vxt1|\\Device\\vxt1|0.0.0.0|0.0.0.0\n"
              "[2] vxt2|\\Device\\vxt2|10.0.0.1|255.0.0.0\n");
    EXPECT_EQ(ip_history_t::section_name("[1] vxt1"), "(1) vxt1");

    EXPECT_EQ(list.create_adapter("[9] nothing"), nullptr);
    // The engine is built even when its adapter cannot be opened here.
    auto engine = list.create_adapter("[1] vxt1");
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->get_info().open_name, "\\Device\\vxt1");
    EXPECT_TRUE(engine->get_ip_start().is_null());
}

TEST_F(AdapterList, OtherFamiliesListNothing)
{
    adapter_list_t list(windows_family_t::other, source({}));
    EXPECT_TRUE(list.get_adapters().empty());
    // A missing class key lists nothing either.
    load(hive({{"SOFTWARE\\Other", {}}}));
    adapter_list_t empty(windows_family_t::windows_nt, adapter_list_t::library_source());
    EXPECT_TRUE(empty.get_adapters().empty());
}
