#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <afxwin.h>
#include <gtest/gtest.h>
#include <mfc/test_hooks.h>

#include "PrefwellApp.h"
#include "PrefwellDlg.h"
#include "resource.h"
#include "temp_config.h"

namespace {

struct QtEnvironment : ::testing::Environment {
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "prefwell_test_dialog";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        RegisterPrefwellResources();
    }
    QApplication* app = nullptr;
};
const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string Text(CDialog& d, int id)
{
    CString s;
    d.GetDlgItemText(id, s);
    return std::string(static_cast<LPCTSTR>(s));
}
bool Visible(CDialog& d, int id) { return d.GetDlgItem(id)->IsWindowVisible(); }
bool Checked(CDialog& d, int id) { return d.IsDlgButtonChecked(id) == BST_CHECKED; }

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Stores a complete key as the console would find it.
void StoreAll(DWORD timeout, DWORD switches, DWORD mask)
{
    Reg::SetDword("Adapter", 1);
    Reg::SetDword("AutoAssign", 0);
    Reg::SetDword("Reservation", 0);
    Reg::SetDword("Retries", 3);
    Reg::SetDword("Timeout", timeout);
    Reg::SetDword("Delay", 20);
    Reg::SetBytes("RD_Community", REG_SZ, "readers");
    Reg::SetBytes("WR_Community", REG_SZ, "writers");
    Reg::SetDword("Switches", switches);
    Reg::SetDword("SwitchMask", mask);
}

class PrefwellDialogTest : public ::testing::Test {
protected:
    // Runs the dialog with `script` inside its modal loop.
    INT_PTR Run(mfc::test::ModalScript script)
    {
        mfc::test::ScriptModal(IDD_PREFWELL_DIALOG, std::move(script));
        CPrefwellDlg dlg;
        return dlg.DoModal();
    }
    std::vector<mfc::test::MessageBoxRecord>& Boxes() { return mfc::test::MessageBoxLog(); }

    TempConfig config;
    mfc::test::ScopedHooks hooks;
};

TEST_F(PrefwellDialogTest, MissingKeyShowsDefaultsCreatesTheKeyAndOkWritesAllValues)
{
    bool keyDuringDialog = false;
    INT_PTR result = Run([&](CDialog& d) {
        keyDuringDialog = Reg::KeyExists();
        EXPECT_EQ(Reg::ValueCount(), 0u);
        EXPECT_EQ(Text(d, IDC_READ_COMMUNITY), "tagrok");
        EXPECT_EQ(Text(d, IDC_WRITE_COMMUNITY), "quenmil");
        EXPECT_EQ(Text(d, IDC_TIMEOUT), "150");
        EXPECT_EQ(Text(d, IDC_RETRIES), "2");
        EXPECT_EQ(Text(d, IDC_HOLDOFF), "10");
        for (int id : {IDC_ENABLE_CONFIG, IDC_ENABLE_SNMP, IDC_ENABLE_REPORT, IDC_ENABLE_ADVANCED}) {
            EXPECT_TRUE(Visible(d, id)) << id;
            EXPECT_TRUE(Checked(d, id)) << id;
        }
        EXPECT_FALSE(Visible(d, IDC_ENABLE_23MS));
        EXPECT_FALSE(Checked(d, IDC_ENABLE_23MS));
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(keyDuringDialog);
    EXPECT_TRUE(Boxes().empty());
    ASSERT_EQ(mfc::test::ModalLog().size(), 1u);
    EXPECT_EQ(mfc::test::ModalLog()[0].templateId, static_cast<UINT>(IDD_PREFWELL_DIALOG));
    EXPECT_EQ(mfc::test::ModalLog()[0].caption, "Vistrel Configuration Function Options");
    EXPECT_EQ(Reg::ValueCount(), 10u);
    EXPECT_EQ(Reg::Dword("Retries"), 2u);
    EXPECT_EQ(Reg::Dword("Timeout"), 150u);
    EXPECT_EQ(Reg::Dword("Delay"), 10u);
    EXPECT_EQ(Reg::Dword("Switches"), 15u);
    EXPECT_EQ(Reg::Dword("SwitchMask"), 15u);
    EXPECT_EQ(Reg::Get("RD_Community").second, "tagrok");
    EXPECT_EQ(Reg::Get("WR_Community").second, "quenmil");
}

TEST_F(PrefwellDialogTest, SwitchMaskChoosesTheBoxesAndOtherBitsSurvive)
{
    // Mask: Config, Report, 2/3 mS. Switches: Config, Advanced (hidden), 2/3 mS, and 0x20 (no box).
    StoreAll(200, 0x35, 0x13);
    Run([&](CDialog& d) {
        EXPECT_TRUE(Visible(d, IDC_ENABLE_CONFIG));
        EXPECT_TRUE(Visible(d, IDC_ENABLE_REPORT));
        EXPECT_TRUE(Visible(d, IDC_ENABLE_23MS));
        EXPECT_FALSE(Visible(d, IDC_ENABLE_SNMP));
        EXPECT_FALSE(Visible(d, IDC_ENABLE_ADVANCED));
        EXPECT_TRUE(Checked(d, IDC_ENABLE_CONFIG));
        EXPECT_FALSE(Checked(d, IDC_ENABLE_REPORT));
        EXPECT_TRUE(Checked(d, IDC_ENABLE_23MS));
        EXPECT_EQ(Text(d, IDC_READ_COMMUNITY), "readers");
        EXPECT_EQ(Text(d, IDC_TIMEOUT), "200");
        mfc::test::Click(d, IDC_ENABLE_CONFIG); // off
        mfc::test::Click(d, IDC_ENABLE_REPORT); // on
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(Reg::Dword("Switches"), 0x36u);
    EXPECT_EQ(Reg::Dword("SwitchMask"), 0x13u);
    EXPECT_EQ(Reg::Dword("Adapter"), 1u); // carried through
}

TEST_F(PrefwellDialogTest, TimeoutIsRoundedAndLimitedWithAWarningWhenInvalid)
{
    const struct {
        const char* typed;
        DWORD stored;
        bool warned;
    } cases[] = {{"149", 150, false}, {"144", 150, true}, {"155", 160, false}, {"1000", 1000, false},
                 {"-5", 1000, true},  {"", 150, true},    {"abc", 150, true},  {"99994", 99990, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        Boxes().clear();
        std::string shownAfter;
        Run([&](CDialog& d) {
            mfc::test::TypeText(d.GetDlgItem(IDC_TIMEOUT), c.typed);
            static_cast<CPrefwellDlg&>(d).OnOK();
            shownAfter = Text(d, IDC_TIMEOUT);
        });
        EXPECT_EQ(Reg::Dword("Timeout"), c.stored);
        EXPECT_EQ(shownAfter, std::to_string(c.stored));
        if (c.warned) {
            ASSERT_EQ(Boxes().size(), 1u);
            EXPECT_EQ(Boxes()[0].caption, "Warning");
            EXPECT_EQ(Boxes()[0].type, static_cast<UINT>(MB_OK)); // plain box, no icon
            EXPECT_EQ(Boxes()[0].text, "Timeout value is invalid\nChanged to " + std::to_string(c.stored));
        } else {
            EXPECT_TRUE(Boxes().empty());
        }
    }
}

TEST_F(PrefwellDialogTest, CheckTimeoutRules)
{
    const struct {
        int in, out;
        BOOL invalid;
    } cases[] = {{154, 150, FALSE}, {155, 160, FALSE}, {145, 150, FALSE},   {144, 150, TRUE},
                 {0, 150, TRUE},    {-1, 1000, TRUE},  {1000, 1000, FALSE}, {2147483647, 2147483640, FALSE}};
    for (const auto& c : cases) {
        int v = c.in;
        EXPECT_EQ(CPrefwellDlg::CheckTimeout(v), c.invalid) << c.in;
        EXPECT_EQ(v, c.out) << c.in;
    }
}

TEST_F(PrefwellDialogTest, StoredTimeoutIsCorrectedSilentlyAndCancelWritesNothing)
{
    StoreAll(144, 15, 15);
    const std::string before = ReadFile(config.hive());
    INT_PTR result = Run([&](CDialog& d) {
        EXPECT_EQ(Text(d, IDC_TIMEOUT), "150");
        mfc::test::TypeText(d.GetDlgItem(IDC_READ_COMMUNITY), "changed");
        mfc::test::TypeText(d.GetDlgItem(IDC_RETRIES), "9");
        mfc::test::Click(d, IDC_ENABLE_SNMP);
        mfc::test::Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(ReadFile(config.hive()), before);
}

TEST_F(PrefwellDialogTest, CommunitiesAreLimitedTo63CharactersAndKeptWhole)
{
    const std::string c63(63, 'k');
    Run([&](CDialog& d) {
        mfc::test::TypeText(d.GetDlgItem(IDC_READ_COMMUNITY), c63);
        mfc::test::TypeText(d.GetDlgItem(IDC_WRITE_COMMUNITY), std::string(70, 'w'));
        EXPECT_EQ(Text(d, IDC_WRITE_COMMUNITY), std::string(63, 'w'));
        mfc::test::TypeText(d.GetDlgItem(IDC_HOLDOFF), "1234567");
        EXPECT_EQ(Text(d, IDC_HOLDOFF), "12345");
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(Reg::Get("RD_Community").second, c63);
    EXPECT_EQ(Reg::Get("WR_Community").second, std::string(63, 'w'));
    EXPECT_EQ(Reg::Dword("Delay"), 12345u);
}

TEST_F(PrefwellDialogTest, UnwritableStoreReportsAndCloses)
{
    // Through a regular file: the key can be neither created nor written.
    std::string file = config.dir() + "/plain";
    std::ofstream(file) << "x";
    config.Use(file + "/config");
    INT_PTR result = Run([&](CDialog& d) {
        EXPECT_EQ(Text(d, IDC_TIMEOUT), "150");
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Registry Write Unsuccessful");
    EXPECT_EQ(Boxes()[0].caption, "Error");
    EXPECT_EQ(Boxes()[0].type, static_cast<UINT>(MB_OK));

    // An existing key whose writes fail keeps every old value.
    Boxes().clear();
    config.Use(config.dir());
    StoreAll(300, 15, 15);
    config.BlockWrites();
    Run([&](CDialog& d) {
        mfc::test::TypeText(d.GetDlgItem(IDC_RETRIES), "7");
        mfc::test::TypeText(d.GetDlgItem(IDC_WRITE_COMMUNITY), "new");
        mfc::test::Click(d, IDOK);
    });
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Registry Write Unsuccessful");
    EXPECT_EQ(Reg::Dword("Retries"), 3u);
    EXPECT_EQ(Reg::Get("WR_Community").second, "writers");
}

TEST_F(PrefwellDialogTest, UnreadableLinesOfTheSettingsFileAreToldOnceAndKept)
{
    StoreAll(300, 15, 15);
    std::ofstream(config.hive(), std::ios::app) << "Retries=7\n";
    const std::string notice = config.hive() + " line ";
    for (int run = 0; run < 2; ++run) {
        Run([&](CDialog& d) {
            EXPECT_EQ(Text(d, IDC_RETRIES), "3"); // every readable value still read
            mfc::test::Click(d, IDOK);
        });
    }
    ASSERT_EQ(Boxes().size(), 1u) << "told once, not at every start";
    EXPECT_EQ(Boxes()[0].caption, "Warning");
    EXPECT_NE(Boxes()[0].text.find(notice), std::string::npos) << Boxes()[0].text;
    EXPECT_NE(ReadFile(config.hive()).find("\nRetries=7\n"), std::string::npos) << "the line is kept";
}

TEST_F(PrefwellDialogTest, SavedSettingsAreReadByAnotherProcess)
{
    Run([&](CDialog& d) {
        mfc::test::TypeText(d.GetDlgItem(IDC_READ_COMMUNITY), "community one");
        mfc::test::TypeText(d.GetDlgItem(IDC_WRITE_COMMUNITY), "two");
        mfc::test::TypeText(d.GetDlgItem(IDC_TIMEOUT), "275");
        mfc::test::TypeText(d.GetDlgItem(IDC_RETRIES), "5");
        mfc::test::TypeText(d.GetDlgItem(IDC_HOLDOFF), "30");
        mfc::test::Click(d, IDC_ENABLE_ADVANCED);
        mfc::test::Click(d, IDOK);
    });
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execl(PREFWELL_REGDUMP, PREFWELL_REGDUMP, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(out, "load=0000 retries=5 timeout=280 delay=30 switches=0xb mask=0xf rd=community one wr=two\n");
}

TEST_F(PrefwellDialogTest, ApplicationRunsTheDialogAndEnds)
{
    CPrefwellApp app;
    mfc::test::ScriptModal(IDD_PREFWELL_DIALOG, [](CDialog& d) { mfc::test::Click(d, IDCANCEL); });
    EXPECT_FALSE(app.InitInstance());
    ASSERT_EQ(mfc::test::ModalLog().size(), 1u);
    EXPECT_EQ(mfc::test::ModalLog()[0].caption, "Vistrel Configuration Function Options");
    EXPECT_EQ(Reg::ValueCount(), 0u); // the key was created, nothing written
    EXPECT_TRUE(Reg::KeyExists());
}

} // namespace
