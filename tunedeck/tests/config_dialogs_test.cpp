// The transmitter, receiver, advanced and generic SNMP dialogs offscreen
// against devices served by snmpd: what they show, every validation text,
// and the writes each sends (read from the agent's log of accepted sets).
#include <afxcmn.h>
#include <afxwin.h>
#include <mfc/test_hooks.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "AdvancedDlg.h"
#include "GenericSnmpDlg.h"
#include "LaunchDevice.h"
#include "ManagementDlg.h"
#include "ReceiverDlg.h"
#include "TransmitterDlg.h"
#include "device_agent.h"
#include "gui_test.h"
#include "resource.h"

using tdtest::ComboText;
using tdtest::DeviceAgent;
using tdtest::DeviceProfile;
using tdtest::E;
using tdtest::Instance;
using tdtest::ItemText;
using tdtest::Shown;

namespace {

const char kTx[] = "127.0.0.51";       // mode rate 0x601; Tx 1: UnicastMode 7, channel 3 of no known format
const char kRx[] = "127.0.0.52";       // Rx 1 channels: 0x54001, 0, 0x40800, 0x64000
const char kAdvanced[] = "127.0.0.53"; // every variable, 2 transmitters
const char kLacking[] = "127.0.0.54";  // no persistence, processor group, HMI mode, mask or cycles; mode rate
                                       // 0x601 read-only on a 48 kHz platform
const char kRefusing[] = "127.0.0.55"; // Tx 2's bundle and SubMap 1 refused, Tx 1 lacks its first SubFormat;
                                       // the generic SNMP dialog's device

void Type(CWnd& d, int id, const std::string& text) { mfc::test::TypeText(d.GetDlgItem(id), text); }

class ConfigDialogs : public tdtest::AgentSuite<ConfigDialogs> {
public:
    static std::vector<DeviceProfile> Profiles()
    {
        const std::string rxFormat = E + ".6.2.1.3";
        return {
            {kTx,
             2,
             1,
             {{E + ".3.6.1.0", "integer", "1537", "rw"},
              {Instance(E + ".7.1.1.10", 1), "integer", "7", "rw"},
              {Instance(E + ".7.2.1.3", 1, 3), "integer", "12345", "rw"}},
             {}},
            {kRx,
             1,
             1,
             {{Instance(rxFormat, 1, 1), "integer", std::to_string(0x54001), "rw"},
              {Instance(rxFormat, 1, 2), "integer", "0", "rw"},
              {Instance(rxFormat, 1, 3), "integer", std::to_string(0x40800), "rw"},
              {Instance(rxFormat, 1, 4), "integer", std::to_string(0x64000), "rw"}},
             {}},
            {kAdvanced, 2, 1, {}, {}},
            {kLacking,
             1,
             1,
             {{E + ".1.9.0", "integer", "57932", "ro"}, {E + ".3.6.1.0", "integer", "1537", "ro"}},
             {E + ".2.7.0", "1.3.6.1.4.1.2680.1.4.1.1.0", "1.3.6.1.4.1.2680.1.4.1.0", E + ".9.1.4.0",
              "1.3.6.1.2.1.4.20.1.3.0", E + ".1.11.0"}},
            {kRefusing,
             2,
             1,
             {{Instance(E + ".7.1.1.2", 2), "integer", "1002", "wrong-value"},
              {Instance(E + ".7.2.1.2", 2, 1), "integer", "1", "wrong-value"}},
             {Instance(E + ".7.2.1.3", 1, 1)}},
        };
    }

protected:
    // Opens the device as the main dialog does; the block copy that the
    // main dialog hands to the dialogs it opens.
    const LaunchBlock& Open(const char* ip, int switches = 15)
    {
        EXPECT_EQ(PrepareManagementDlg(main, tdtest::TestBlock(ip, switches)), LAUNCH_OK);
        return main.Block();
    }
    template <class Dlg> INT_PTR Run(Dlg& dlg, std::function<void(Dlg&)> script)
    {
        mfc::test::ScriptModal<Dlg>(std::move(script));
        return dlg.DoModal();
    }
    std::vector<mfc::test::MessageBoxRecord>& Boxes() { return mfc::test::MessageBoxLog(); }

    mfc::test::ScopedHooks hooks;
    CManagementDlg main;
};

TEST_F(ConfigDialogs, TransmitterShowsItsBundleAndReplacesUnknownValues)
{
    CTransmitterDlg dlg(Open(kTx), 0);
    std::vector<std::string> seen;
    Run<CTransmitterDlg>(dlg, [&](CTransmitterDlg& d) {
        CString title;
        d.GetWindowText(title);
        seen = {static_cast<LPCTSTR>(title),           ItemText(d, IDC_BUNDLE_NUMBER),
                ItemText(d, IDC_SUBMAP_FIRST + 7),     ComboText(d, IDC_SUBFORMAT_FIRST),
                ComboText(d, IDC_SUBFORMAT_FIRST + 2), ComboText(d, IDC_SUBCOUNT),
                ComboText(d, IDC_UNICAST_MODE),        ComboText(d, IDC_MAX_UNICAST)};
        EXPECT_EQ(static_cast<CEdit*>(d.GetDlgItem(IDC_SUBMAP_FIRST))->GetLimitText(), 2u);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_ALL_SAME), static_cast<UINT>(BST_UNCHECKED));
        EXPECT_TRUE(d.GetDlgItem(IDC_SUBFORMAT_FIRST + 7)->IsWindowEnabled());
        EXPECT_EQ(d.ModeRate(), 0x601);
        d.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(seen,
              (std::vector<std::string>{"Transmitter 1 Configuration", "1001", "8", "24", "20", "8", "Never Multicast",
                                        "1"}));
    EXPECT_EQ(Shown(), (std::vector<std::string>{"Invalid Values have been changed to defaults | Warning!"}));
}

TEST_F(ConfigDialogs, TransmitterValidatesEverythingBeforeWritingTheChangedCells)
{
    DeviceAgent& agent = Agent(kTx);
    CTransmitterDlg dlg(Open(kTx), 1);
    const size_t before = agent.Sets().size();
    const INT_PTR result = Run<CTransmitterDlg>(dlg, [&](CTransmitterDlg& d) {
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_ALL_SAME), static_cast<UINT>(BST_CHECKED));
        EXPECT_FALSE(d.GetDlgItem(IDC_SUBFORMAT_FIRST + 1)->IsWindowEnabled());
        const struct {
            const char* bundle;
            const char* subMap2;
            const char* message;
        } invalid[] = {
            {"65536", "2", "Invalid Bundle Number | Value Error"},
            {"12a", "2", "Invalid Bundle Number | Value Error"},
            {"", "2", "Invalid Bundle Number | Value Error"},
            {"0x10", "33", "Invalid Value : SubMap,Channel 2 | Value Error"},
            {"16", "x", "Invalid Value : SubMap,Channel 2 | Value Error"},
        };
        for (const auto& c : invalid) {
            Type(d, IDC_BUNDLE_NUMBER, c.bundle);
            Type(d, IDC_SUBMAP_FIRST + 1, c.subMap2);
            mfc::test::Click(d, IDOK);
            EXPECT_EQ(Shown(), std::vector<std::string>{c.message}) << c.bundle << " " << c.subMap2;
        }
        EXPECT_EQ(agent.SetsSince(before), std::vector<std::string>{});

        // Channel 1's resolution goes to every channel while "All Same" holds.
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_SUBFORMAT_FIRST), 0);
        EXPECT_EQ(ComboText(d, IDC_SUBFORMAT_FIRST + 5), "16");
        mfc::test::Click(d, IDC_ALL_SAME);
        EXPECT_TRUE(d.GetDlgItem(IDC_SUBFORMAT_FIRST + 1)->IsWindowEnabled());
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_SUBFORMAT_FIRST + 7), 2);
        mfc::test::Click(d, IDC_CLEAR_ALL);
        EXPECT_EQ(ItemText(d, IDC_SUBMAP_FIRST + 4), "0");
        Type(d, IDC_SUBMAP_FIRST, "32");
        Type(d, IDC_BUNDLE_NUMBER, "X1f");
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_UNICAST_MODE), 2);
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(Boxes().empty());
    // Mode rate 0x601: 16 bit is 0x144000, 24 bit 0x164000.
    std::vector<std::string> expected = {Instance(E + ".7.1.1.2", 2) + " integer 31",
                                         Instance(E + ".7.1.1.10", 2) + " integer 2"};
    for (int y = 1; y <= 8; ++y) {
        const int subMap = y == 1 ? 32 : 0;
        if (subMap != y)
            expected.push_back(Instance(E + ".7.2.1.2", 2, y) + " integer " + std::to_string(subMap));
        expected.push_back(Instance(E + ".7.2.1.3", 2, y) + " integer " + std::to_string(y == 8 ? 0x164000 : 0x144000));
    }
    EXPECT_EQ(agent.SetsSince(before), expected);
}

TEST_F(ConfigDialogs, ReceiverShowsWhatEachChannelReceives)
{
    const struct {
        int switches;
        std::vector<std::string> texts;
        std::vector<int> pictures;
    } cases[] = {
        {15,
         {"48 kHz, 20, 5 1/3 mS", "Not Receiving", "Not Receiving", "48 kHz, 24, 5 1/3 mS"},
         {CReceiverDlg::PICTURE_MATCH_PLUS_ONE, CReceiverDlg::PICTURE_NOT_RECEIVING,
          CReceiverDlg::PICTURE_NOT_RECEIVING, CReceiverDlg::PICTURE_MATCH}},
        {31,
         {"48 kHz, 20, 5 1/3 mS", "Not Receiving", "48 kHz, 16, 2/3 mS", "48 kHz, 24, 5 1/3 mS"},
         {CReceiverDlg::PICTURE_MATCH_PLUS_ONE, CReceiverDlg::PICTURE_NOT_RECEIVING, CReceiverDlg::PICTURE_MATCH,
          CReceiverDlg::PICTURE_MATCH}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.switches);
        CReceiverDlg dlg(Open(kRx, c.switches), 0);
        std::vector<std::string> texts;
        std::vector<int> pictures;
        std::string title;
        Run<CReceiverDlg>(dlg, [&](CReceiverDlg& d) {
            for (int y = 0; y < 4; ++y) {
                texts.push_back(ItemText(d, IDC_SUBFORMAT_FIRST + y));
                pictures.push_back(d.PictureOf(y));
            }
            CString t;
            d.GetWindowText(t);
            title = static_cast<LPCTSTR>(t);
            d.EndDialog(IDCANCEL);
        });
        EXPECT_EQ(title, "Receiver 1 Configuration");
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(pictures, c.pictures);
    }
}

TEST_F(ConfigDialogs, ReceiverSubMapsAreZeroOrAboveThirtyTwo)
{
    DeviceAgent& agent = Agent(kRx);
    CReceiverDlg dlg(Open(kRx), 0);
    const size_t before = agent.Sets().size();
    Run<CReceiverDlg>(dlg, [&](CReceiverDlg& d) {
        for (const char* bad : {"20", "1", "65", "a"}) {
            Type(d, IDC_SUBMAP_FIRST, bad);
            mfc::test::Click(d, IDC_APPLY);
            EXPECT_EQ(Shown(), std::vector<std::string>{"Invalid Value : SubMap,Channel 1 | Value Error"}) << bad;
        }
        Type(d, IDC_SUBMAP_FIRST, "0");
        Type(d, IDC_SUBMAP_FIRST + 1, "64");
        mfc::test::Click(d, IDC_APPLY);
        EXPECT_TRUE(Boxes().empty());
        d.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(agent.SetsSince(before),
              (std::vector<std::string>{Instance(E + ".6.2.1.2", 1, 1) + " integer 0",
                                        Instance(E + ".6.2.1.2", 1, 2) + " integer 64"}));
}

TEST_F(ConfigDialogs, BundleDialogsOfferRetriesOfFailedReadsAndWrites)
{
    // Tx 1 lacks a SubFormat: reading fails, the retry is refused, the dialog closes.
    CTransmitterDlg first(Open(kRefusing), 0);
    mfc::test::PushMessageBoxAnswer(IDYES);
    mfc::test::PushMessageBoxAnswer(IDNO);
    EXPECT_EQ(first.DoModal(), IDCANCEL);
    EXPECT_EQ(Shown(), (std::vector<std::string>(2, "Could Not Read All Values\n    Retry? | Error")));

    // Tx 2's bundle is refused: OK keeps the dialog open until a write succeeds.
    CTransmitterDlg second(main.Block(), 1);
    const INT_PTR result = Run<CTransmitterDlg>(second, [&](CTransmitterDlg& d) {
        Type(d, IDC_BUNDLE_NUMBER, "7");
        mfc::test::PushMessageBoxAnswer(IDYES);
        mfc::test::PushMessageBoxAnswer(IDNO);
        mfc::test::Click(d, IDOK);
        EXPECT_EQ(
            Shown(),
            (std::vector<std::string>(2, "Could Not Write All Variables\n\n                    Retry ? | Error")));
        mfc::test::Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(ConfigDialogs, AdvancedShowsTheDeviceSettings)
{
    const struct {
        const char* ip;
        int switches;
        std::vector<std::string> fields;
        int rates;
        bool rateEnabled, persistence;
        std::vector<std::string> boxes;
    } cases[] = {
        {kAdvanced,
         15,
         {"device-53", "rack 53", "service desk", "5", "0x3", "38400", "10", "01:60:2B:FD:00:00", "01:60:2B:FD:00:01",
          "48 kHz, 5 1/3 mS", "1", "0", "Intel", "255.255.255.0", "25.3%"},
         6,
         true,
         true,
         {}},
        {kAdvanced, 31, {}, 7, true, true, {}},
        // A 96 kHz rate on a 48 kHz platform is shown as the first rate.
        {kLacking,
         15,
         {"device-54", "rack 54", "service desk", "5", "0x3", "38400", "10", "01:60:2B:FD:00:00", "01:60:2B:FD:00:01",
          "48 kHz, 5 1/3 mS", "N.A.", "N.A.", "N.A.", "N.A.", "N.A."},
         6,
         false,
         false,
         {"Invalid Values have been changed to defaults | Warning!"}},
    };
    const int ids[] = {IDC_NAME,        IDC_LOCATION,       IDC_CONTACT,      IDC_COND_PRIORITY, IDC_SERIAL_FORMAT,
                       IDC_SERIAL_BAUD, IDC_SERIAL_PPERIOD, IDC_SERIAL_RXMAC, IDC_SERIAL_TXMAC,  IDC_MODE_RATE,
                       IDC_PROC_MODE,   IDC_TAG_ENABLE,     IDC_HMI_MODE,     IDC_NETMASK,       IDC_FREE_CYCLES};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ip) + " " + std::to_string(c.switches));
        CAdvancedDlg dlg(Open(c.ip, c.switches));
        std::vector<std::string> fields;
        int rates = 0;
        bool rateEnabled = false, persistence = false, readOnly = false;
        Run<CAdvancedDlg>(dlg, [&](CAdvancedDlg& d) {
            for (int id : ids)
                fields.push_back(id == IDC_MODE_RATE ? ComboText(d, id) : ItemText(d, id));
            rates = static_cast<CComboBox*>(d.GetDlgItem(IDC_MODE_RATE))->GetCount();
            rateEnabled = d.GetDlgItem(IDC_MODE_RATE)->IsWindowEnabled();
            persistence = d.GetDlgItem(IDC_PERSISTENCE)->IsWindowEnabled() &&
                d.IsDlgButtonChecked(IDC_PERSISTENCE) == BST_CHECKED;
            readOnly = (d.GetDlgItem(IDC_PROC_MODE)->GetStyle() & ES_READONLY) != 0;
            d.EndDialog(IDCANCEL);
        });
        if (!c.fields.empty()) {
            EXPECT_EQ(fields, c.fields);
        }
        EXPECT_EQ(rates, c.rates);
        EXPECT_EQ(rateEnabled, c.rateEnabled);
        EXPECT_EQ(persistence, c.persistence);
        EXPECT_EQ(readOnly, !c.persistence);
        EXPECT_EQ(Shown(), c.boxes);
    }
}

TEST_F(ConfigDialogs, AdvancedChecksEveryFieldBeforeWritingAnything)
{
    DeviceAgent& agent = Agent(kAdvanced);
    CAdvancedDlg dlg(Open(kAdvanced));
    size_t before = 0;
    Run<CAdvancedDlg>(dlg, [&](CAdvancedDlg& d) {
        // The start's check that the mode rate is writable wrote it back unchanged.
        EXPECT_EQ(agent.Sets().back(), E + ".3.6.1.0 integer 1536");
        before = agent.Sets().size();
        const struct {
            int id;
            const char* text;
            const char* message;
        } invalid[] = {
            {IDC_COND_PRIORITY, "256", "Invalid Conductor Priority Value"},
            {IDC_SERIAL_FORMAT, "0xg", "Invalid Serial Format Value"},
            {IDC_SERIAL_BAUD, "115201", "Invalid Baud Value"},
            {IDC_SERIAL_PPERIOD, "1.5", "Invalid Serial PPeriod Value"},
            {IDC_SERIAL_RXMAC, "01:60:2B", "Invalid Rx MAC format\nExample: 01:60:2B:FD:00:00"},
            {IDC_SERIAL_TXMAC, "01:60:2B:FD:00:0G", "Invalid Tx MAC format\nExample: 01:60:2B:FD:00:00"},
            {IDC_PROC_MODE, "3", "Invalid Processor Mode"},
            {IDC_TAG_ENABLE, "2", "Invalid Tag Mode"},
        };
        // A new mode rate is chosen first: none of it may reach the device
        // while a later field is invalid.
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_MODE_RATE), 1);
        for (const auto& c : invalid) {
            const std::string good = ItemText(d, c.id);
            Type(d, c.id, c.text);
            mfc::test::Click(d, IDC_APPLY);
            EXPECT_EQ(Shown(), std::vector<std::string>{std::string(c.message) + " | Error"});
            EXPECT_EQ(CWnd::GetFocus(), d.GetDlgItem(c.id)) << c.message;
            Type(d, c.id, good);
        }
        EXPECT_EQ(agent.SetsSince(before), std::vector<std::string>{});

        // Accepted: a serial format of 0x20 (not stored), baud 115200, MACs with blanks.
        Type(d, IDC_SERIAL_FORMAT, "0x20");
        Type(d, IDC_SERIAL_BAUD, "115200");
        Type(d, IDC_SERIAL_RXMAC, "02 60 2b fd 00 09");
        Type(d, IDC_PROC_MODE, "2");
        Type(d, IDC_NAME, "renamed");
        mfc::test::Click(d, IDOK);
    });
    EXPECT_TRUE(Boxes().empty());
    // The transmitters' channels follow the new rate before it is set:
    // 0x64000 at 0x600 becomes 0x62000 at 0x500.
    std::vector<std::string> expected;
    for (int x = 1; x <= 2; ++x)
        for (int y = 1; y <= 8; ++y)
            expected.push_back(Instance(E + ".7.2.1.3", x, y) + " integer " + std::to_string(0x62000));
    const std::vector<std::string> rest = {
        "1.3.6.1.2.1.1.5.0 string renamed",      E + ".10.1.2.0 integer 115200",
        E + ".10.1.4.0 octet 02 60 2b fd 00 09", E + ".3.6.1.0 integer 1280",
        "1.3.6.1.4.1.2680.1.4.1.1.0 integer 2",
    };
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(agent.SetsSince(before), expected);
}

TEST_F(ConfigDialogs, GenericSnmpReadsAndWritesByOid)
{
    DeviceAgent& agent = Agent(kRefusing);
    CGenericSnmpDlg dlg(Open(kRefusing));
    const size_t before = agent.Sets().size();
    Run<CGenericSnmpDlg>(dlg, [&](CGenericSnmpDlg& d) {
        auto* group = d.GetDlgItem(IDC_GROUP);
        EXPECT_EQ(ComboText(d, IDC_GROUP), "System");
        EXPECT_EQ(ComboText(d, IDC_VARIABLE_FIRST), "sysDescr");
        EXPECT_EQ(ComboText(d, IDC_TYPE), "String");
        EXPECT_FALSE(d.GetDlgItem(IDC_PUT)->IsWindowEnabled());
        EXPECT_TRUE(d.GetDlgItem(IDC_VARIABLE_FIRST)->IsWindowVisible());
        mfc::test::Click(d, IDC_GET);
        EXPECT_EQ(ItemText(d, IDC_VALUE), "Veltrix test device");

        auto choose = [&](int g, int row) {
            mfc::test::ChooseComboItem(group, g);
            mfc::test::ChooseComboItem(d.GetDlgItem(IDC_VARIABLE_FIRST + g), row);
        };
        // System: sysUpTime read as a text shows the time ticks.
        choose(0, 2);
        mfc::test::ChooseComboItem(d.GetDlgItem(IDC_TYPE), 1);
        mfc::test::Click(d, IDC_GET);
        EXPECT_EQ(ItemText(d, IDC_VALUE), "0:20:34.56");
        choose(0, 4);
        EXPECT_EQ(ComboText(d, IDC_VARIABLE_FIRST), "sysName");

        // Receivers: rxSubMap with X and Y.
        choose(7, 8);
        EXPECT_FALSE(d.GetDlgItem(IDC_VARIABLE_FIRST)->IsWindowVisible());
        EXPECT_EQ(ItemText(d, IDC_OID), E + ".6.2.1.2.X.Y");
        Type(d, IDC_X, "2");
        Type(d, IDC_Y, "a");
        mfc::test::Click(d, IDC_FORM_OID);
        EXPECT_EQ(ItemText(d, IDC_OID), E + ".6.2.1.2.X.Y");
        Type(d, IDC_Y, "0x3");
        mfc::test::Click(d, IDC_FORM_OID);
        EXPECT_EQ(ItemText(d, IDC_OID), E + ".6.2.1.2.2.3");
        EXPECT_EQ(ItemText(d, IDC_Y), "3");
        mfc::test::Click(d, IDC_RESET_OID);
        EXPECT_EQ(ItemText(d, IDC_OID), E + ".6.2.1.2.X.Y");
        Type(d, IDC_X, "1");
        Type(d, IDC_Y, "1");
        mfc::test::Click(d, IDC_GET);
        EXPECT_EQ(ItemText(d, IDC_VALUE), "33  : 0x21");

        // Flash: flashPersistEnable written from a hexadecimal text.
        choose(2, 6);
        EXPECT_TRUE(d.GetDlgItem(IDC_PUT)->IsWindowEnabled());
        Type(d, IDC_VALUE, "0x10");
        mfc::test::Click(d, IDC_PUT);
        mfc::test::Click(d, IDC_GET);
        EXPECT_EQ(ItemText(d, IDC_VALUE), "16  : 0x10");
        Type(d, IDC_VALUE, "ten");
        mfc::test::Click(d, IDC_PUT);

        // Bridge: serialRxMAC as octets.
        choose(11, 3);
        EXPECT_EQ(ComboText(d, IDC_TYPE), "Octets");
        mfc::test::Click(d, IDC_GET);
        EXPECT_EQ(ItemText(d, IDC_VALUE), " 01 60 2B FD 00 00");
        Type(d, IDC_VALUE, "0a:0b:0c:0d:0e:0f");
        mfc::test::Click(d, IDC_PUT);
        Type(d, IDC_VALUE, "0a:0b:0");
        mfc::test::Click(d, IDC_PUT);

        // A read-only row can be written only once "RO" is cleared.
        choose(1, 8);
        EXPECT_FALSE(d.GetDlgItem(IDC_PUT)->IsWindowEnabled());
        mfc::test::Click(d, IDC_RO);
        EXPECT_TRUE(d.GetDlgItem(IDC_PUT)->IsWindowEnabled());
        Type(d, IDC_VALUE, "1");
        mfc::test::Click(d, IDC_PUT); // the device refuses it
        // An address that is none; a variable the device lacks.
        choose(10, 4);
        Type(d, IDC_VALUE, "not.an.address");
        mfc::test::Click(d, IDC_PUT);
        choose(6, 7);
        mfc::test::Click(d, IDC_GET);
        // An OID that grows past what a request takes is refused, not cut.
        std::string oid = "1.3";
        for (int i = 0; i < 60; ++i)
            oid += ".X";
        Type(d, IDC_OID, oid);
        Type(d, IDC_X, "999999");
        mfc::test::Click(d, IDC_GET);
        EXPECT_EQ(ItemText(d, IDC_OID).size(), 3u + 60 * 7);
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(Shown(),
              (std::vector<std::string>{"Invalid Data Format | Error", "Invalid Data Format | Error",
                                        "Invalid Data Format | Error", "SNMP Write Error | Error", "Bad Value | Error",
                                        "SNMP Read Error | Error", "SNMP Read Error | Error"}));
    EXPECT_EQ(agent.SetsSince(before),
              (std::vector<std::string>{E + ".2.7.0 integer 16", E + ".10.1.4.0 octet 0a 0b 0c 0d 0e 0f"}));
}

} // namespace
