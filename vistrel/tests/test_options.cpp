// The Options dialog and the discovery client: saved adapter settings, the
// dialog's rules, the firmware folder, and what OK hands to the main dialog.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "OptionsDlg.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <qm/log_file.h>

#include <mfc/qt_resources.h>
#include <mfc/test_hooks.h>

#include <gtest/gtest.h>

using namespace vistrel_test;
using mfc::test::ScopedHooks;

namespace {

const char* const saved_ini = "[Adapter List]\n"
                              "Adapter 0=eth1-----10.1.0.10,10.1.0.20,1\n"
                              "Adapter 7=gone-----1.1.1.1,1.1.1.2,0\n"
                              "Adapter 1=eth0-----192.168.1.50,192.168.1.60,0\n"
                              "Adapter 2=broken value\n"
                              "Adapter 4=eth0-----only,one comma\n"
                              "Adapter 3=eth0-----192.168.1.51,192.168.1.61,0\n"
                              "[Configuration]\n"
                              "Adapter Index=nosuch\n"
                              "Firmware Location=/data/Firmware\n";

class Options : public ::testing::Test {
protected:
    Options()
    {
        World().adapterNames = {"eth1", "eth0"};
        World().adapters["eth1"];
    }
    ScopedIni ini{saved_ini};
    FakeServers servers;
    ScopedHooks hooks;
};

std::string Address(CWnd& d, int id)
{
    BYTE b[4] = {};
    static_cast<CIPAddressCtrl*>(d.GetDlgItem(id))->GetAddress(b[0], b[1], b[2], b[3]);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

} // namespace

TEST_F(Options, SavedSettingsOverlayTheServersAndAreWrittenBack)
{
    {
        COptionsDlg options;
        const AdapterMap& map = options.adapters();
        ASSERT_EQ(map.size(), 2u) << "an adapter the server no longer reports is dropped";
        EXPECT_EQ(map.at("eth1").ip_start, "10.1.0.10");
        EXPECT_TRUE(map.at("eth1").autoassign);
        EXPECT_EQ(map.at("eth0").ip_start, "192.168.1.51") << "the later entry wins; malformed ones are skipped";
        EXPECT_EQ(map.at("eth0").ip_end, "192.168.1.61");
        EXPECT_EQ(options.current_name(), "eth0") << "an unknown name selects the first adapter";
        EXPECT_EQ(options.firmware_folder(), "/data/Firmware");

        // The current adapter's settings are pushed before it is handed out.
        World().calls.clear();
        Icom_adapter* adapter = options.current_adapter();
        ASSERT_NE(adapter, nullptr);
        adapter->Release();
        EXPECT_EQ(World().Calls("adapter.put"),
                  (std::vector<std::string>{"adapter.put_ip_start 192.168.1.51", "adapter.put_ip_end 192.168.1.61",
                                            "adapter.put_autoassign 0"}));
    }
    const std::string text = ScopedIni::Read();
    EXPECT_NE(text.find("[Adapter List]\nAdapter 0=eth0-----192.168.1.51,192.168.1.61,0\n"
                        "Adapter 1=eth1-----10.1.0.10,10.1.0.20,1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Adapter Index=eth0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Firmware Location=/data/Firmware\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("gone"), std::string::npos);
}

TEST_F(Options, DialogRulesAndOkKeepsTheAdapterWhenTheSameIsChosenAgain)
{
    COptionsDlg options;
    mfc::test::ScriptModal<COptionsDlg>([](COptionsDlg& d) {
        auto* combo = static_cast<CComboBox*>(d.GetDlgItem(IDC_ADAPTER));
        ASSERT_EQ(combo->GetCount(), 2);
        EXPECT_EQ(combo->GetCurSel(), 0);
        EXPECT_EQ(Address(d, IDC_IP_START), "192.168.1.51");
        EXPECT_TRUE(Enabled(d, IDC_IP_START));

        mfc::test::ChooseComboItem(combo, 1); // eth1: automatic assignment on
        EXPECT_EQ(Address(d, IDC_IP_END), "10.1.0.20");
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_AUTO_ASSIGN), UINT(BST_CHECKED));
        for (int id : {IDC_IP_START, IDC_IP_END, IDC_RANGE_DEFAULT})
            EXPECT_FALSE(Enabled(d, id)) << id;
        mfc::test::Click(d, IDC_AUTO_ASSIGN);
        for (int id : {IDC_IP_START, IDC_IP_END, IDC_RANGE_DEFAULT})
            EXPECT_TRUE(Enabled(d, id)) << id;
        mfc::test::SetIpField(d.GetDlgItem(IDC_IP_START), 3, "15");

        mfc::test::ChooseComboItem(combo, 0); // back to eth0: the range default button
        mfc::test::Click(d, IDC_RANGE_DEFAULT);
        EXPECT_EQ(Address(d, IDC_IP_START), "192.168.1.2");
        EXPECT_EQ(Address(d, IDC_IP_END), "192.168.1.254");
        mfc::test::Click(d, IDOK);
    });
    ASSERT_EQ(options.DoModal(), IDOK);
    EXPECT_FALSE(options.adapter_changed());
    EXPECT_EQ(options.ip_start(), "192.168.1.2");
    EXPECT_EQ(options.adapters().at("eth1").ip_start, "10.1.0.15");
    EXPECT_FALSE(options.adapters().at("eth1").autoassign);

    // Cancel keeps everything; another adapter with OK sets the flag.
    mfc::test::ScriptModal<COptionsDlg>([](COptionsDlg& d) {
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_ADAPTER), 1);
        mfc::test::Click(d, IDCANCEL);
    });
    EXPECT_EQ(options.DoModal(), IDCANCEL);
    EXPECT_EQ(options.current_name(), "eth0");
    mfc::test::ScriptModal<COptionsDlg>([](COptionsDlg& d) {
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_ADAPTER), 1);
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(options.DoModal(), IDOK);
    EXPECT_TRUE(options.adapter_changed());
    EXPECT_EQ(options.current_name(), "eth1");
}

TEST_F(Options, FirmwareFolderDefaultAndBrowserKeepTheCase)
{
    COptionsDlg options;
    const std::string folderDefault = GetProgramDirectory() + "firmware";
    mfc::test::ScriptModal<COptionsDlg>([&](COptionsDlg& d) {
        EXPECT_EQ(ItemText(d, IDC_FIRMWARE_FOLDER), "/data/Firmware");
        EXPECT_TRUE(Enabled(d, IDC_FOLDER_DEFAULT));
        std::string upper = folderDefault;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        mfc::test::TypeText(d.GetDlgItem(IDC_FIRMWARE_FOLDER), upper);
        EXPECT_FALSE(Enabled(d, IDC_FOLDER_DEFAULT)) << "the default in any letter case";
        mfc::test::TypeText(d.GetDlgItem(IDC_FIRMWARE_FOLDER), "/somewhere");
        mfc::test::Click(d, IDC_FOLDER_DEFAULT);
        EXPECT_EQ(ItemText(d, IDC_FIRMWARE_FOLDER), folderDefault);

        mfc::test::PushFileAnswer(std::string("/Data/Images/DataBase.ini"));
        mfc::test::Click(d, IDC_FOLDER_BROWSE);
        EXPECT_EQ(ItemText(d, IDC_FIRMWARE_FOLDER), "/Data/Images");
        mfc::test::PushFileAnswer(std::string("/Data/other.ini"));
        mfc::test::Click(d, IDC_FOLDER_BROWSE);
        mfc::test::PushFileAnswer(std::nullopt);
        mfc::test::Click(d, IDC_FOLDER_BROWSE);
        EXPECT_EQ(ItemText(d, IDC_FIRMWARE_FOLDER), "/Data/Images");
        mfc::test::Click(d, IDOK);
    });
    ASSERT_EQ(options.DoModal(), IDOK);
    EXPECT_EQ(options.firmware_folder(), "/Data/Images");
    ASSERT_EQ(mfc::test::PickerLog().size(), 3u);
    EXPECT_EQ(mfc::test::PickerLog()[0].initial, folderDefault + "/database.ini");
    EXPECT_EQ(mfc::test::PickerLog()[0].filter, "firmware database files (database.ini)|database.ini||");
    EXPECT_TRUE(mfc::test::PickerLog()[0].open);
}

TEST_F(Options, OkInTheMainDialogRestartsDiscoveryOrSetsTheRange)
{
    RunMainDialog([](CVistrelDlg& d) {
        World().calls.clear();
        mfc::test::ScriptModal<COptionsDlg>([](COptionsDlg& o) {
            mfc::test::SetIpField(o.GetDlgItem(IDC_IP_END), 3, "70");
            mfc::test::Click(o, IDOK);
        });
        d.SendMessage(WM_COMMAND, ID_TOOLS_OPTIONS);
        EXPECT_EQ(World().Calls("adapter.put_ip_end"), (std::vector<std::string>{"adapter.put_ip_end 192.168.1.70"}));
        EXPECT_TRUE(World().Calls("adapter.start").empty());

        World().adapters["eth0"].devices["aa"] = {"0.0.0.0", 0};
        Tick(d);
        mfc::test::ScriptModal<COptionsDlg>([](COptionsDlg& o) {
            mfc::test::ChooseComboItem(o.GetDlgItem(IDC_ADAPTER), 1);
            mfc::test::Click(o, IDOK);
        });
        d.SendMessage(WM_COMMAND, ID_TOOLS_OPTIONS);
        EXPECT_EQ(World().Calls("manager.adapter_get eth1").size(), 1u);
        EXPECT_TRUE(World().adapters["eth1"].started);
        EXPECT_EQ(World().Calls("adapter.device_remove"), (std::vector<std::string>{"adapter.device_remove aa"}));
        EXPECT_EQ(d.List()->GetItemCount(), 0);
    });
}

// A range whose start lies above its end would leave new devices without an
// address: OK refuses it with a message until it is put right.
TEST_F(Options, AReversedRangeIsRefusedUntilItIsPutRight)
{
    RunMainDialog([](CVistrelDlg& d) {
        World().calls.clear();
        bool closed = false;
        mfc::test::ScriptModal<COptionsDlg>([&](COptionsDlg& o) {
            // Each address typed across the fields, without dots.
            mfc::test::SetIpField(o.GetDlgItem(IDC_IP_START), 0, "192168100250");
            mfc::test::SetIpField(o.GetDlgItem(IDC_IP_END), 0, "192168100200");
            mfc::test::Click(o, IDOK);
            EXPECT_EQ(TakeBoxes(),
                      (std::vector<std::string>{"Vistrel: The start of the IP address range is above its end."}));
            EXPECT_NE(mfc::DialogWidgetOf(o), nullptr) << "the dialog stays open";
            EXPECT_TRUE(World().Calls("adapter.put_ip").empty());
            mfc::test::SetIpField(o.GetDlgItem(IDC_IP_END), 0, "192168100254");
            mfc::test::Click(o, IDOK);
            closed = true;
        });
        ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&Tools", "&Options...")) << "grey";
        ASSERT_TRUE(PumpUntil([&] { return closed; }));
        EXPECT_EQ(
            World().Calls("adapter.put_ip"),
            (std::vector<std::string>{"adapter.put_ip_start 192.168.100.250", "adapter.put_ip_end 192.168.100.254"}));
    });
}

TEST(OptionsWithoutAdapters, NoAdapterMeansNoCurrentAdapter)
{
    ScopedIni ini("[Configuration]\nAdapter Index=eth0\nSCR Refresh Period=100000\n");
    FakeServers servers;
    ScopedHooks hooks;
    World().adapterNames.clear();
    RunMainDialog([](CVistrelDlg& d) {
        Tick(d);
        EXPECT_EQ(ItemText(d, IDC_DEVICE_COUNT), "Devices: 0");
        mfc::test::ScriptModal<COptionsDlg>([](COptionsDlg& o) {
            EXPECT_EQ(static_cast<CComboBox*>(o.GetDlgItem(IDC_ADAPTER))->GetCount(), 0);
            mfc::test::Click(o, IDOK);
        });
        d.SendMessage(WM_COMMAND, ID_TOOLS_OPTIONS);
        d.SendMessage(WM_COMMAND, ID_VIEW_REFRESH);
        Tick(d);
        d.CloseAndSave();
    });
    EXPECT_TRUE(World().Calls("adapter.").empty());
    const std::string text = ScopedIni::Read();
    EXPECT_NE(text.find("Adapter Index=eth0"), std::string::npos) << "kept as read: " << text;
    EXPECT_EQ(text.find("Adapter 0="), std::string::npos);
}
