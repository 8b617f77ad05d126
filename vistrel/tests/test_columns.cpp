// Poll columns: the OID and name checks, column definitions, loading and
// saving "vistrel.ini", the Column Chooser and the column editor.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "ColumnEditDlg.h"
#include "ColumnSet.h"
#include "IniFile.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <mfc/test_hooks.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace vistrel_test;
using mfc::test::ScopedHooks;

namespace {

// The set with its three operations recorded; showing and hiding move the
// column between the groups as the poll view does.
class RecordingColumns : public ColumnSet {
public:
    std::vector<std::string> log;

    void JoinValues(const Column&, const std::string&, const std::string&, std::string&) override {}
    bool AddColumn(const std::string& name) override
    {
        log.push_back("add " + name);
        auto it = availableByName.find(name);
        if (it == availableByName.end())
            return false;
        MoveToShown(it->second);
        return true;
    }
    bool RemoveColumn(const std::string& name) override
    {
        log.push_back("remove " + name);
        auto it = shownByName.find(name);
        if (it == shownByName.end())
            return false;
        MoveToAvailable(it->second);
        return true;
    }
    std::vector<std::string> Names(const std::map<std::string, Column*>& group) const
    {
        std::vector<std::string> names;
        for (const auto& [name, column] : group)
            names.push_back(name);
        return names;
    }
};

const char* const standard_ini = "[Default Columns]\n"
                                 "Description=S,1.3.6.1.2.1.1.1.0\n"
                                 "Broken=D,abc\n"
                                 "Uptime=D,1.3.6.1.2.1.1.3.0\n"
                                 "Octets=D,1.3.6.1.2.1.2.2.1.10.1, 1.3.6.1.2.1.2.2.1.16.1\n"
                                 "[Customer Columns]\n"
                                 "Mine=S,1.3.6.1.4.1.2680.1.2.0\n"
                                 "Pair=D,1.3.6.1.4.1.2680.1.3.0,1.3.6.1.4.1.2680.1.4.0\n"
                                 "[Start Up Columns]\n"
                                 "Uptime=80\n"
                                 "Mine=120\n"
                                 "Nothing=50\n"
                                 "Uptime=90\n";

int IndexOf(CWnd& dialog, int id, const std::string& prefix)
{
    return static_cast<CListBox*>(dialog.GetDlgItem(id))->FindString(-1, prefix.c_str());
}

void Select(CWnd& dialog, int id, const std::vector<std::string>& names)
{
    std::vector<int> rows;
    for (const auto& n : names)
        rows.push_back(IndexOf(dialog, id, n + " -- [ "));
    mfc::test::ChooseListBoxItems(dialog.GetDlgItem(id), rows);
}

} // namespace

TEST(Columns, OidAndNameChecks)
{
    const struct {
        bool (*check)(const std::string&);
        const char* text;
        bool valid;
    } cases[] = {
        {IsValidOid, "1.3", true},
        {IsValidOid, " 1 . 3 ", true},
        {IsValidOid, "1.3\t.6", true},
        {IsValidOid, "1", false},
        {IsValidOid, ".1", false},
        {IsValidOid, "1.", false},
        {IsValidOid, "1..2", false},
        {IsValidOid, "a.1", false},
        {IsValidOid, "", false},
        {IsValidOid, "1.3,1.4", false},
        {IsValidOid, "1.-3", false},
        // Names that would corrupt the settings file or the chooser's entries.
        {IsValidColumnName, "rx bytes", true},
        {IsValidColumnName, "a[b]", true},
        {IsValidColumnName, "a -- b", true},
        {IsValidColumnName, "", false},
        {IsValidColumnName, "   ", false},
        {IsValidColumnName, " a", false},
        {IsValidColumnName, "a ", false},
        {IsValidColumnName, "a=b", false},
        {IsValidColumnName, "[x", false},
        {IsValidColumnName, ";x", false},
        {IsValidColumnName, "x\ny", false},
        {IsValidColumnName, "x\ry", false},
        {IsValidColumnName, "a -- [ b", false},
        {IsValidColumnName, "a -- [", false}, // its entry "a -- [ -- [ 1.3 ]" gives back "a"
        {IsValidColumnName, "a -- [b", true},
        // What the poller can ask for: up to 128 numbers, each below 2^32.
        {IsValidOid, "1.4294967295", true},
        {IsValidOid, "1.4294967296", false},
        {IsValidOid, "1.00000000000000000001", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.check(c.text), c.valid) << "\"" << c.text << "\"";
    std::string oid = "1";
    for (int i = 1; i < 128; ++i)
        oid += ".2";
    EXPECT_TRUE(IsValidOid(oid));
    EXPECT_FALSE(IsValidOid(oid + ".3"));
}

TEST(Columns, DefinitionParsing)
{
    const struct {
        const char* value;
        bool dynamic;
        std::vector<std::string> oids;
    } cases[] = {
        {"D,1.3.6.1.2.1.1.3.0", true, {"1.3.6.1.2.1.1.3.0"}},
        {"d,1.3.1, 1.3.2", true, {"1.3.1", "1.3.2"}},
        {"S,1.3.1,1.3.2a,1.3.3", false, {"1.3.1"}},
        {"X,1.3.1", false, {"1.3.1"}},
        {"D,,1.3.1", true, {}},
        {"1.3.6.1", false, {"1.3.6.1"}},
        {"D1.3", false, {}},
        {"D", false, {}},
        {"D,1. 3", true, {"1. 3"}},
    };
    for (const auto& c : cases) {
        Column column;
        EXPECT_EQ(ParseColumnDefinition(c.value, column), !c.oids.empty()) << c.value;
        EXPECT_EQ(column.oids, c.oids) << c.value;
        if (!c.oids.empty()) {
            EXPECT_EQ(column.dynamic, c.dynamic) << c.value;
        }
    }
}

TEST(Columns, LoadsBuiltInUserAndStartUpColumns)
{
    {
        ScopedIni none;
        RecordingColumns set;
        EXPECT_EQ(set.BuiltInCount(), 0);
        EXPECT_TRUE(set.ShownByName().empty() && set.AvailableByName().empty());
    }
    ScopedIni ini(standard_ini);
    RecordingColumns set;
    // A malformed definition uses up no id.
    ASSERT_EQ(set.BuiltInCount(), 3);
    EXPECT_EQ(set.BuiltIns().at(1600)->name, "Description");
    EXPECT_EQ(set.BuiltIns().at(1601)->name, "Uptime");
    EXPECT_EQ(set.BuiltIns().at(1602)->name, "Octets");
    EXPECT_EQ(set.FindByName("Description")->format, 0);
    EXPECT_EQ(set.FindByName("Uptime")->format, 2);
    EXPECT_EQ(set.FindByName("Mine")->id, 0);
    EXPECT_FALSE(set.FindByName("Mine")->dynamic);
    EXPECT_EQ(set.FindByName("Broken"), nullptr);

    // Start-up: file order, undefined and repeated names skipped.
    EXPECT_EQ(set.StartUpOrder(), (std::vector<std::string>{"Uptime", "Mine"}));
    EXPECT_EQ(set.FindByName("Uptime")->width, 80);
    EXPECT_EQ(set.FindByName("Mine")->width, 120);
    EXPECT_EQ(set.Names(set.ShownByName()), (std::vector<std::string>{"Mine", "Uptime"}));
    EXPECT_EQ(set.Names(set.AvailableByName()), (std::vector<std::string>{"Description", "Octets", "Pair"}));

    // The header menu reaches built-in columns by id only.
    EXPECT_TRUE(set.SetVisible(1602, true));
    EXPECT_FALSE(set.SetVisible(1650, true));
    EXPECT_EQ(set.log, (std::vector<std::string>{"add Octets"}));
}

TEST(Columns, SaveWritesUserColumnsAndShownWidthsInDisplayOrder)
{
    ScopedIni ini(standard_ini);
    RecordingColumns set;
    set.AddColumn("Octets");
    WithListControl([&](CListCtrl* list) {
        list->SetExtendedStyle(LVS_EX_HEADERDRAGDROP);
        int i = 0;
        for (auto [name, width] : {std::pair{"S", 20},
                                   {"MAC Address", 100},
                                   {"IP Address", 100},
                                   {"Uptime", 81},
                                   {"Mine", 122},
                                   {"Octets", 63}})
            list->InsertColumn(i++, name, LVCFMT_CENTER, width);
        mfc::test::MoveColumn(list, 5, 1); // Octets dragged to the second place
        set.Save(list->GetHeaderCtrl());
    });
    const std::string text = ScopedIni::Read();
    EXPECT_NE(text.find("[Customer Columns]\nMine=S,1.3.6.1.4.1.2680.1.2.0\n"
                        "Pair=D,1.3.6.1.4.1.2680.1.3.0,1.3.6.1.4.1.2680.1.4.0\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[Start Up Columns]\nOctets=63\nUptime=81\nMine=122\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Description="), text.find("Description=S")) << "built-ins are never written";
    EXPECT_EQ(set.FindByName("Mine")->width, 122);

    // The next start shows them in that order with those widths.
    RecordingColumns again;
    EXPECT_EQ(again.StartUpOrder(), (std::vector<std::string>{"Octets", "Uptime", "Mine"}));
    EXPECT_EQ(again.FindByName("Octets")->width, 63);
}

TEST(Columns, SaveTakesOnlyTheFirst256HeaderPositions)
{
    std::string text = "[Customer Columns]\n";
    for (int i = 0; i < 300; ++i)
        text += "c" + std::to_string(i) + "=D,1.3." + std::to_string(i) + "\n";
    text += "[Start Up Columns]\nc270=40\nc5=45\n";
    ScopedIni ini(text);
    RecordingColumns set;
    WithListControl([&](CListCtrl* list) {
        for (int i = 0; i < 300; ++i)
            list->InsertColumn(i, ("c" + std::to_string(i)).c_str(), LVCFMT_CENTER, 30);
        set.Save(list->GetHeaderCtrl());
    });
    const std::string saved = ScopedIni::Read();
    EXPECT_NE(saved.find("[Start Up Columns]\nc5=30\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("c270=30"), std::string::npos);
}

TEST(ColumnChooser, ListsButtonRuleMovesAndDefault)
{
    ScopedIni ini(standard_ini);
    ScopedHooks hooks;
    RecordingColumns set;
    mfc::test::ScriptModal<RecordingColumns>([](RecordingColumns& d) {
        EXPECT_EQ(ListBoxEntries(d, IDC_WATCH_LIST),
                  (std::vector<std::string>{"Mine -- [ 1.3.6.1.4.1.2680.1.2.0 ]", "Uptime -- [ 1.3.6.1.2.1.1.3.0 ]"}));
        EXPECT_EQ(ListBoxEntries(d, IDC_AVAILABLE_LIST),
                  (std::vector<std::string>{"Description -- [ 1.3.6.1.2.1.1.1.0 ]",
                                            "Octets -- [ 1.3.6.1.2.1.2.2.1.10.1, 1.3.6.1.2.1.2.2.1.16.1 ]",
                                            "Pair -- [ 1.3.6.1.4.1.2680.1.3.0, 1.3.6.1.4.1.2680.1.4.0 ]"}));
        for (int id : {IDC_MOVE_TO_WATCH, IDC_MOVE_TO_AVAILABLE, IDC_EDIT_COLUMN, IDC_DELETE_COLUMN})
            EXPECT_FALSE(Enabled(d, id)) << id;
        EXPECT_TRUE(Enabled(d, IDC_ADD_COLUMN));

        Select(d, IDC_AVAILABLE_LIST, {"Description", "Pair"});
        EXPECT_TRUE(Enabled(d, IDC_MOVE_TO_WATCH));
        EXPECT_TRUE(Enabled(d, IDC_DELETE_COLUMN));
        EXPECT_FALSE(Enabled(d, IDC_EDIT_COLUMN)) << "edit takes exactly one entry";
        mfc::test::Click(d, IDC_MOVE_TO_WATCH);
        EXPECT_EQ(ListBoxEntries(d, IDC_WATCH_LIST).size(), 4u);
        EXPECT_FALSE(Enabled(d, IDC_MOVE_TO_WATCH));

        // Default: only the built-in columns end up watched.
        mfc::test::Click(d, IDC_DEFAULT_COLUMNS);
        EXPECT_EQ(ListBoxEntries(d, IDC_WATCH_LIST),
                  (std::vector<std::string>{"Description -- [ 1.3.6.1.2.1.1.1.0 ]",
                                            "Octets -- [ 1.3.6.1.2.1.2.2.1.10.1, 1.3.6.1.2.1.2.2.1.16.1 ]",
                                            "Uptime -- [ 1.3.6.1.2.1.1.3.0 ]"}));
        mfc::test::Click(d, IDOK);
    });
    ASSERT_EQ(set.DoModal(), IDOK);
    // Mine hidden; Description and Octets shown in box order; Uptime stays.
    EXPECT_EQ(set.log, (std::vector<std::string>{"remove Mine", "add Description", "add Octets"}));
    EXPECT_EQ(set.Names(set.ShownByName()), (std::vector<std::string>{"Description", "Octets", "Uptime"}));
}

TEST(ColumnChooser, AddRefusesDuplicatesAndDeleteTakesOnlyUserColumns)
{
    ScopedIni ini(standard_ini);
    ScopedHooks hooks;
    RecordingColumns set;
    auto add = [](const std::string& oid, const std::string& name) {
        mfc::test::ScriptModal<CColumnEditDlg>([oid, name](CColumnEditDlg& e) {
            mfc::test::TypeText(e.GetDlgItem(IDC_COLUMN_OID), oid);
            mfc::test::TypeText(e.GetDlgItem(IDC_COLUMN_NAME), name);
            mfc::test::Click(e, IDOK);
        });
    };
    mfc::test::ScriptModal<RecordingColumns>([&](RecordingColumns& d) {
        add("1.3.6.1.2.1.1.3.0", "Again"); // a built-in column's OID
        mfc::test::Click(d, IDC_ADD_COLUMN);
        add("1.3.6.1.4.1.2680.1.2.0", "Again"); // a user column's OID
        mfc::test::Click(d, IDC_ADD_COLUMN);
        add("1.3.9.9", "uptime"); // a built-in name in other letter case
        mfc::test::Click(d, IDC_ADD_COLUMN);
        add("1.3.9.9", "MINE");
        mfc::test::Click(d, IDC_ADD_COLUMN);
        add("1.3.9.9", "Temperature");
        mfc::test::Click(d, IDC_ADD_COLUMN);
        EXPECT_GE(IndexOf(d, IDC_AVAILABLE_LIST, "Temperature -- [ 1.3.9.9 ]"), 0);

        // Delete: the user column goes, the built-in one only loses its selection.
        Select(d, IDC_AVAILABLE_LIST, {"Description", "Pair"});
        mfc::test::Click(d, IDC_DELETE_COLUMN);
        EXPECT_LT(IndexOf(d, IDC_AVAILABLE_LIST, "Pair -- [ "), 0);
        EXPECT_GE(IndexOf(d, IDC_AVAILABLE_LIST, "Description -- [ "), 0);
        // Pair's OID is free again inside this dialog.
        add("1.3.6.1.4.1.2680.1.3.0", "Reused");
        mfc::test::Click(d, IDC_ADD_COLUMN);
        mfc::test::Click(d, IDOK);
    });
    ASSERT_EQ(set.DoModal(), IDOK);
    EXPECT_EQ(TakeBoxes(),
              (std::vector<std::string>{"Vistrel: This oid is already in the list.",
                                        "Vistrel: This oid is already in the list.",
                                        "Vistrel: Sorry, the column name is already used",
                                        "Vistrel: Sorry, the column name is already used"}));
    EXPECT_EQ(set.FindByName("Pair"), nullptr);
    ASSERT_NE(set.FindByName("Temperature"), nullptr);
    EXPECT_TRUE(set.FindByName("Temperature")->dynamic);
    EXPECT_EQ(set.FindByName("Temperature")->id, 0);
    EXPECT_NE(set.FindByName("Reused"), nullptr);
    EXPECT_EQ(set.ShownByName().count("Temperature"), 0u) << "new columns start available";
}

TEST(ColumnChooser, RenamingAHiddenUserColumnReplacesIt)
{
    ScopedIni ini(standard_ini);
    ScopedHooks hooks;
    RecordingColumns set;
    mfc::test::ScriptModal<RecordingColumns>([](RecordingColumns& d) {
        Select(d, IDC_WATCH_LIST, {"Mine"});
        mfc::test::Click(d, IDC_MOVE_TO_AVAILABLE);
        Select(d, IDC_AVAILABLE_LIST, {"Mine"});
        EXPECT_TRUE(Enabled(d, IDC_EDIT_COLUMN));
        mfc::test::ScriptModal<CColumnEditDlg>([](CColumnEditDlg& e) {
            CString caption;
            e.GetWindowText(caption);
            EXPECT_EQ(caption.str(), "Edit oid in the poll list");
            CString oid;
            e.GetDlgItemText(IDC_COLUMN_OID, oid);
            EXPECT_EQ(oid.str(), "1.3.6.1.4.1.2680.1.2.0");
            mfc::test::TypeText(e.GetDlgItem(IDC_COLUMN_NAME), "Yours");
            mfc::test::Click(e, IDOK);
        });
        mfc::test::Click(d, IDC_EDIT_COLUMN);
        EXPECT_GE(IndexOf(d, IDC_AVAILABLE_LIST, "Yours -- [ 1.3.6.1.4.1.2680.1.2.0 ]"), 0);
        mfc::test::Click(d, IDOK);
    });
    ASSERT_EQ(set.DoModal(), IDOK);
    EXPECT_EQ(set.log, (std::vector<std::string>{"remove Mine"}));
    EXPECT_EQ(set.FindByName("Mine"), nullptr);
    ASSERT_NE(set.FindByName("Yours"), nullptr);
    EXPECT_EQ(set.AvailableByName().count("Yours"), 1u);
    // An unedited multi-OID user column keeps all of its OIDs.
    EXPECT_EQ(set.FindByName("Pair")->oids.size(), 2u);
}

TEST(ColumnChooser, BuiltInColumnsOpenReadOnlyAndCancelChangesNothing)
{
    ScopedIni ini(standard_ini);
    ScopedHooks hooks;
    RecordingColumns set;
    mfc::test::ScriptModal<RecordingColumns>([](RecordingColumns& d) {
        Select(d, IDC_AVAILABLE_LIST, {"Octets"});
        mfc::test::ScriptModal<CColumnEditDlg>([](CColumnEditDlg& e) {
            CString oid, group;
            e.GetDlgItemText(IDC_COLUMN_OID, oid);
            e.GetDlgItemText(IDC_COLUMN_GROUP, group);
            EXPECT_EQ(oid.str(), "1.3.6.1.2.1.2.2.1.10.1, 1.3.6.1.2.1.2.2.1.16.1");
            EXPECT_EQ(group.str(), "Edit a column");
            EXPECT_TRUE(e.GetDlgItem(IDC_COLUMN_OID)->GetStyle() & ES_READONLY);
            EXPECT_TRUE(e.GetDlgItem(IDC_COLUMN_NAME)->GetStyle() & ES_READONLY);
            mfc::test::Click(e, IDOK); // closes at once although the OID text is no OID
        });
        mfc::test::Click(d, IDC_EDIT_COLUMN);
        Select(d, IDC_WATCH_LIST, {"Mine", "Uptime"});
        mfc::test::Click(d, IDC_MOVE_TO_AVAILABLE);
        mfc::test::Click(d, IDCANCEL);
    });
    EXPECT_EQ(set.DoModal(), IDCANCEL);
    EXPECT_TRUE(set.log.empty());
    EXPECT_EQ(set.ShownByName().size(), 2u);
    EXPECT_TRUE(mfc::test::MessageBoxLog().empty());
}

TEST(ColumnEditor, ChecksTheOidFirstThenTheName)
{
    ScopedHooks hooks;
    CColumnEditDlg editor;
    mfc::test::ScriptModal<CColumnEditDlg>([](CColumnEditDlg& e) {
        CString caption, group;
        e.GetWindowText(caption);
        e.GetDlgItemText(IDC_COLUMN_GROUP, group);
        EXPECT_EQ(caption.str(), "Add oid to the polling list");
        EXPECT_EQ(group.str(), "Add a column");
        mfc::test::TypeText(e.GetDlgItem(IDC_COLUMN_OID), "1");
        mfc::test::Click(e, IDOK);
        mfc::test::TypeText(e.GetDlgItem(IDC_COLUMN_OID), " 1 . 3 ");
        mfc::test::Click(e, IDOK);
        mfc::test::TypeText(e.GetDlgItem(IDC_COLUMN_NAME), "a=b");
        mfc::test::Click(e, IDOK);
        mfc::test::TypeText(e.GetDlgItem(IDC_COLUMN_NAME), "Fan speed");
        mfc::test::Click(e, IDOK);
    });
    ASSERT_EQ(editor.DoModal(), IDOK);
    EXPECT_EQ(TakeBoxes(),
              (std::vector<std::string>{"Vistrel: Wrong Object ID format.", "Vistrel: Wrong column name.",
                                        "Vistrel: Wrong column name."}));
    EXPECT_EQ(editor.Oid(), " 1 . 3 ") << "kept as typed";
    EXPECT_EQ(editor.Name(), "Fan speed");
}

// Typed as a user types: a name the chooser would give back cut short, and
// an OID longer than the poller can ask for, are refused.
TEST(ColumnEditor, RefusesANameThatComesBackCutAndAnOidOfMoreThan128Numbers)
{
    ScopedHooks hooks;
    std::string oid = "1.3.6.1.4.1";
    while (std::count(oid.begin(), oid.end(), '.') < 127)
        oid += ".9";
    CColumnEditDlg editor;
    mfc::test::ScriptModal<CColumnEditDlg>([&](CColumnEditDlg& e) {
        CWnd* oidEdit = e.GetDlgItem(IDC_COLUMN_OID);
        CWnd* nameEdit = e.GetDlgItem(IDC_COLUMN_NAME);
        mfc::test::TypeText(oidEdit, oid + ".9");
        mfc::test::TypeText(nameEdit, "Fan -- [");
        mfc::test::Click(e, IDOK);
        mfc::test::TypeText(oidEdit, oid);
        mfc::test::Click(e, IDOK);
        mfc::test::TypeText(nameEdit, "Fan speed");
        mfc::test::Click(e, IDOK);
    });
    ASSERT_EQ(editor.DoModal(), IDOK);
    EXPECT_EQ(TakeBoxes(),
              (std::vector<std::string>{"Vistrel: Wrong Object ID format.", "Vistrel: Wrong column name."}));
    EXPECT_EQ(editor.Oid(), oid);
    EXPECT_EQ(editor.Name(), "Fan speed");
}

TEST(SettingsFile, SectionsAreReadWholeAndValuesCutAt255)
{
    std::string big = "[Customer Columns]\n";
    for (int i = 0; i < 1200; ++i)
        big += "column" + std::to_string(i) + "=D,1.3.6." + std::to_string(i) + "\n";
    big += "[Configuration]\nFirmware Location=" + std::string(300, 'x') + "\n[Odd]\nno equals\nk=v=w\n";
    ScopedIni ini(big);
    IniFile file(ScopedIni::Path());
    const auto columns = file.read_section("Customer Columns");
    ASSERT_EQ(columns.size(), 1200u) << "far beyond 16,384 bytes";
    EXPECT_EQ(columns.front(), (std::pair<std::string, std::string>{"column0", "D,1.3.6.0"}));
    EXPECT_EQ(columns.back(), (std::pair<std::string, std::string>{"column1199", "D,1.3.6.1199"}));
    EXPECT_EQ(file.read_section("Odd"), (std::vector<std::pair<std::string, std::string>>{{"k", "v=w"}}));
    file.set_section("Configuration");
    EXPECT_EQ(file.get_string("Firmware Location", "").size(), 255u);
    EXPECT_EQ(file.get_string("Missing", "fallback"), "fallback");
    EXPECT_EQ(ReadIniInt("Configuration", "Missing", 42), 42);
}

// A start and a close of the console keep every user column and every shown
// column, however many there are and however long their names.
TEST(SettingsFile, ThousandUserColumnsAndAHugeNameSurviveAStartAndAClose)
{
    const std::string huge(1 << 20, 'h');
    std::string text = "[Configuration]\nSCR Refresh Period=100000\n[Customer Columns]\n";
    std::vector<std::pair<std::string, std::string>> users;
    for (int i = 0; i < 1000; ++i)
        users.emplace_back("user column " + std::to_string(1000 + i), "D,1.3.6.1.4.1.2680.9." + std::to_string(i));
    users.emplace_back(huge, "S,1.3.6.1.4.1.2680.8.1");
    for (const auto& [name, value] : users)
        text += name + "=" + value + "\n";
    text += "[Start Up Columns]\n" + huge + "=70\nuser column 1007=80\nuser column 1900=90\n";
    ScopedIni ini(text);
    {
        FakeServers servers;
        World().adapters["eth0"].devices["00602b000001"] = {"192.168.1.20", 0};
        RunMainDialog([](CVistrelDlg& d) {
            ASSERT_EQ(d.List()->GetHeaderCtrl()->GetItemCount(), 6);
            Tick(d);
            World().changes["192.168.1.20"] = {{"1.3.6.1.4.1.2680.8.1", "shown", 4}};
            Tick(d);
            EXPECT_EQ(CellOf(d.List(), 1, "00602b000001", 3), "shown") << "the column with the huge name";
            ASSERT_TRUE(mfc::test::ChooseMenuItem(&d, "&Veltrix", "&Close")) << "grey";
            ASSERT_TRUE(PumpUntil([] { return ScopedIni::Read().find("Status Col Width=") != std::string::npos; }))
                << "not closed";
        });
    }
    IniFile file(ScopedIni::Path());
    auto saved = file.read_section("Customer Columns"); // shown ones first
    std::sort(saved.begin(), saved.end());
    std::sort(users.begin(), users.end());
    EXPECT_TRUE(saved == users) << saved.size() << " of " << users.size() << " user columns left";
    const auto startUp = file.read_section("Start Up Columns");
    std::string shown;
    for (const auto& [name, width] : startUp)
        shown += (name.size() > 40 ? std::to_string(name.size()) + " characters" : name) + "=" + width + " ";
    EXPECT_TRUE(startUp ==
                (std::vector<std::pair<std::string, std::string>>{
                    {huge, "70"}, {"user column 1007", "80"}, {"user column 1900", "90"}}))
        << shown;
}
