// Dialog life cycle: DoModal and EndDialog, Enter/Esc/close box, message-map
// routing, control lookup, dialog units, dialog data exchange.
#include <QDialog>
#include <QLineEdit>
#include <thread>

#include "mfc/qt_resources.h"
#include "qt_app.h"

using mfc::test::ScopedHooks;

namespace {
enum {
    IDD_T = 500,
    IDD_NOPE = 501,
    IDC_NAME = 1001,
    IDC_NOTES = 1002,
    IDC_APPLY = 1003,
    IDC_COUNT = 1004,
    IDC_R1 = 1010,
    IDC_R2 = 1011,
    IDC_R3 = 1012,
    IDC_FLAG = 1013,
    IDC_CMD_FIRST = 1600
};

void RegisterTemplate()
{
    mfc::DlgTemplate t;
    t.caption = "Test Dialog";
    t.cx = 200;
    t.cy = 120;
    t.items = {
        LText("&Name:", IDC_STATIC, 5, 5, 40, 8),
        EditText(IDC_NAME, 50, 5, 100, 12),
        EditText(IDC_NOTES, 50, 20, 100, 30, ES_MULTILINE | ES_AUTOVSCROLL),
        EditText(IDC_COUNT, 50, 55, 40, 12, ES_NUMBER),
        AutoRadioButton("One", IDC_R1, 5, 70, 40, 10, WS_GROUP | WS_TABSTOP),
        AutoRadioButton("Two", IDC_R2, 5, 80, 40, 10),
        AutoRadioButton("Three", IDC_R3, 5, 90, 40, 10),
        AutoCheckBox("Flag", IDC_FLAG, 60, 70, 40, 10, WS_GROUP),
        PushButton("Apply", IDC_APPLY, 150, 60, 45, 14),
        DefPushButton("OK", IDOK, 150, 80, 45, 14),
        PushButton("Cancel", IDCANCEL, 150, 100, 45, 14),
    };
    mfc::RegisterDialogTemplate(IDD_T, t);
}

class TestDlg : public CDialog {
public:
    explicit TestDlg(CWnd* parent = nullptr) : CDialog(IDD_T, parent) { RegisterTemplate(); }
    int okCount = 0, cancelCount = 0, applyCount = 0, closeCount = 0, destroyCount = 0, helpCount = 0;
    std::vector<UINT> range;
    bool endInInit = false;
    bool refuseClose = false;
    CString name = "start";
    int count = 7;
    int radio = 1;
    int flag = 1;

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (endInInit)
            EndDialog(42);
        return TRUE;
    }
    void OnOK() override
    {
        ++okCount;
        CDialog::OnOK();
    }
    void OnCancel() override
    {
        ++cancelCount;
        CDialog::OnCancel();
    }
    void WinHelp(DWORD_PTR, UINT cmd) override
    {
        if (cmd == HELP_CONTEXT)
            ++helpCount;
    }
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, IDC_NAME, name);
        DDV_MaxChars(pDX, name, 10);
        DDX_Text(pDX, IDC_COUNT, count);
        DDV_MinMaxInt(pDX, count, 1, 99);
        DDX_Radio(pDX, IDC_R1, radio);
        DDX_Check(pDX, IDC_FLAG, flag);
    }

protected:
    afx_msg void OnApply() { ++applyCount; }
    afx_msg void OnRange(UINT id) { range.push_back(id); }
    afx_msg void OnClose()
    {
        ++closeCount;
        if (!refuseClose)
            CDialog::OnClose();
    }
    afx_msg void OnDestroy() { ++destroyCount; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDlg, CDialog)
ON_BN_CLICKED(IDC_APPLY, &TestDlg::OnApply)
ON_COMMAND_RANGE(IDC_CMD_FIRST, IDC_CMD_FIRST + 100, &TestDlg::OnRange)
ON_WM_CLOSE()
ON_WM_DESTROY()
END_MESSAGE_MAP()

class HelpApp : public CWinApp {
public:
    HelpApp() : CWinApp("Help Test") {}
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(HelpApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()
} // namespace

TEST(Dialog, ScriptedModalReturnsEndDialogValueAndObjectOutlivesWindow)
{
    ScopedHooks hooks;
    TestDlg dlg;
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
    CWnd* seenEdit = nullptr;
    mfc::test::ScriptModal<TestDlg>([&](TestDlg& d) {
        seenEdit = d.GetDlgItem(IDC_NAME);
        ASSERT_NE(seenEdit, nullptr);
        EXPECT_NE(d.GetSafeHwnd(), nullptr);
        d.EndDialog(77);
    });
    EXPECT_EQ(dlg.DoModal(), 77);
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dlg.destroyCount, 1);
    ASSERT_EQ(mfc::test::ModalLog().size(), 1u);
    EXPECT_EQ(mfc::test::ModalLog()[0].templateId, static_cast<UINT>(IDD_T));
    EXPECT_EQ(mfc::test::ModalLog()[0].caption, "Test Dialog");

    // The same object runs again with a fresh window.
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) { mfc::test::Click(d, IDCANCEL); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.cancelCount, 1);
}

TEST(Dialog, MissingTemplateGivesMinusOneAndEndInInitSkipsTheLoop)
{
    ScopedHooks hooks;
    CDialog none(IDD_NOPE);
    EXPECT_EQ(none.DoModal(), -1);
    TestDlg dlg;
    dlg.endInInit = true;
    EXPECT_EQ(dlg.DoModal(), 42); // no script needed: the loop never runs
}

TEST(Dialog, EnterGoesToDefaultButtonOrFocusedPushButtonEscCancels)
{
    ScopedHooks hooks;
    TestDlg dlg;
    // Enter in a single-line edit: IDOK through the default button.
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        d.GotoDlgCtrl(d.GetDlgItem(IDC_NAME));
        mfc::test::PressKey(&d, VK_RETURN);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.okCount, 1);

    // Enter in a multi-line edit without ES_WANTRETURN also goes to the default.
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        d.GotoDlgCtrl(d.GetDlgItem(IDC_NOTES));
        mfc::test::PressKey(&d, VK_RETURN);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.okCount, 2);

    // Enter on a focused push button presses that button only.
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        d.GotoDlgCtrl(d.GetDlgItem(IDC_APPLY));
        mfc::test::PressKey(&d, VK_RETURN);
        EXPECT_EQ(d.applyCount, 1);
        EXPECT_EQ(d.okCount, 2);
        mfc::test::PressKey(&d, VK_ESCAPE);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.cancelCount, 1);

    // A changed default id is what Enter sends.
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        d.SetDefID(IDC_APPLY);
        d.GotoDlgCtrl(d.GetDlgItem(IDC_NAME));
        mfc::test::PressKey(&d, VK_RETURN);
        EXPECT_EQ(d.applyCount, 2);
        // With Cancel disabled, Esc does nothing.
        d.GetDlgItem(IDCANCEL)->EnableWindow(FALSE);
        mfc::test::PressKey(&d, VK_ESCAPE);
        EXPECT_EQ(d.cancelCount, 1);
        d.EndDialog(5);
    });
    EXPECT_EQ(dlg.DoModal(), 5);
}

TEST(Dialog, CloseBoxSendsWmCloseWhichDefaultsToCancelAndCanBeRefused)
{
    ScopedHooks hooks;
    TestDlg dlg;
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) { mfc::test::CloseWindow(&d); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.closeCount, 1);
    EXPECT_EQ(dlg.cancelCount, 1);

    dlg.refuseClose = true;
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        mfc::test::CloseWindow(&d);
        QDialog* q = mfc::DialogWidgetOf(d);
        ASSERT_NE(q, nullptr);
        EXPECT_TRUE(q->isVisible()); // still open
        d.EndDialog(9);
    });
    EXPECT_EQ(dlg.DoModal(), 9);
    EXPECT_EQ(dlg.closeCount, 2);
    EXPECT_EQ(dlg.cancelCount, 1);
}

TEST(Dialog, CommandsRouteThroughTheMapChainAndHelpReachesWinHelp)
{
    ScopedHooks hooks;
    HelpApp app; // routes the help command (F1) to CWinApp::OnHelp
    TestDlg dlg;
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        d.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_CMD_FIRST + 5, 0), 0);
        d.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_CMD_FIRST + 100, 0), 0);
        d.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_CMD_FIRST + 101, 0), 0); // outside the range
        d.GotoDlgCtrl(d.GetDlgItem(IDC_NAME));
        mfc::test::PressKey(&d, VK_F1);
        d.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.range, (std::vector<UINT>{IDC_CMD_FIRST + 5, IDC_CMD_FIRST + 100}));
    EXPECT_EQ(dlg.helpCount, 1);
}

TEST(Dialog, ControlsSitAtTheirDialogUnitRectangles)
{
    ScopedHooks hooks;
    TestDlg dlg;
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        SIZE base = mfc::DialogBaseUnits();
        EXPECT_GT(base.cx, 3);
        EXPECT_GT(base.cy, 8);
        CRect r(50, 20, 150, 50);
        d.MapDialogRect(&r);
        EXPECT_EQ(r.left, (50 * base.cx + 2) / 4);
        EXPECT_EQ(r.top, (20 * base.cy + 4) / 8);
        CWnd* notes = d.GetDlgItem(IDC_NOTES);
        CRect wr;
        notes->GetWindowRect(&wr);
        d.ScreenToClient(&wr);
        EXPECT_EQ(wr, r);
        CRect client;
        d.GetClientRect(&client);
        CRect full(0, 0, 200, 120);
        d.MapDialogRect(&full);
        EXPECT_EQ(client.Width(), full.Width());
        EXPECT_EQ(client.Height(), full.Height());
        d.EndDialog(IDOK);
    });
    dlg.DoModal();
}

TEST(Dialog, DataExchangeLoadsSavesAndValidates)
{
    ScopedHooks hooks;
    TestDlg dlg;
    dlg.name = "alpha";
    dlg.count = 12;
    dlg.radio = 2;
    dlg.flag = 0;
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        CString s;
        d.GetDlgItemText(IDC_NAME, s);
        EXPECT_EQ(s, "alpha");
        EXPECT_EQ(d.GetDlgItemInt(IDC_COUNT), 12u);
        EXPECT_EQ(d.GetCheckedRadioButton(IDC_R1, IDC_R3), IDC_R3);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_FLAG), 0u);
        // Out of range: OK refused with a message, focus back on the field.
        d.SetDlgItemText(IDC_COUNT, "150");
        mfc::test::Click(d, IDOK);
        ASSERT_EQ(mfc::test::MessageBoxLog().size(), 1u);
        EXPECT_EQ(mfc::test::MessageBoxLog()[0].text, "Enter a value from 1 to 99.");
        d.SetDlgItemText(IDC_COUNT, "5");
        mfc::test::Click(d.GetDlgItem(IDC_R1));
        mfc::test::Click(d.GetDlgItem(IDC_FLAG));
        mfc::test::TypeText(d.GetDlgItem(IDC_NAME), "beta");
        mfc::test::Click(d, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.okCount, 2);
    EXPECT_EQ(dlg.name, "beta");
    EXPECT_EQ(dlg.count, 5);
    EXPECT_EQ(dlg.radio, 0);
    EXPECT_EQ(dlg.flag, 1);
}

TEST(Dialog, GetDlgItemIntAndTextFollowWindowsRules)
{
    ScopedHooks hooks;
    TestDlg dlg;
    mfc::test::ScriptModal<TestDlg>([](TestDlg& d) {
        BOOL ok = TRUE;
        struct Case {
            const char* text;
            BOOL sign;
            UINT value;
            BOOL ok;
        } cases[] = {{"  42", TRUE, 42, TRUE},       {"-17", TRUE, static_cast<UINT>(-17), TRUE},
                     {"-17", FALSE, 0, FALSE},       {"12ab", TRUE, 0, FALSE},
                     {"", TRUE, 0, FALSE},           {"4294967295", FALSE, 4294967295u, TRUE},
                     {"2147483648", TRUE, 0, FALSE}, {"7 ", TRUE, 7, TRUE}};
        for (const auto& c : cases) {
            d.SetDlgItemText(IDC_NAME, c.text);
            EXPECT_EQ(d.GetDlgItemInt(IDC_NAME, &ok, c.sign), c.value) << c.text;
            EXPECT_EQ(ok, c.ok) << c.text;
        }
        d.SetDlgItemInt(IDC_NAME, static_cast<UINT>(-5), TRUE);
        char buf[3];
        EXPECT_EQ(d.GetDlgItemText(IDC_NAME, buf, 3), 2);
        EXPECT_STREQ(buf, "-5");
        d.SetDlgItemText(IDC_NAME, "abcdef");
        EXPECT_EQ(d.GetDlgItemText(IDC_NAME, buf, 3), 2); // max-1 characters and the terminator
        EXPECT_STREQ(buf, "ab");
        // Multi-line text reads back with CR LF line ends.
        d.SetDlgItemText(IDC_NOTES, "one\r\ntwo");
        CString notes;
        d.GetDlgItemText(IDC_NOTES, notes);
        EXPECT_EQ(notes, "one\r\ntwo");
        d.EndDialog(IDOK);
    });
    dlg.DoModal();
}

TEST(Dialog, NestedDialogIsParentedToTheOpenOneAndBothEndInOrder)
{
    ScopedHooks hooks;
    TestDlg outer, inner;
    std::vector<int> order;
    mfc::test::ScriptModal([&](CDialog& d) { return &d == &outer; },
                           [&](CDialog& d) {
                               INT_PTR r = inner.DoModal();
                               order.push_back(static_cast<int>(r));
                               d.EndDialog(1);
                           });
    mfc::test::ScriptModal([&](CDialog& d) { return &d == &inner; },
                           [&](CDialog& d) {
                               EXPECT_EQ(mfc::DialogWidgetOf(d)->parentWidget(), mfc::DialogWidgetOf(outer));
                               d.EndDialog(2);
                           });
    EXPECT_EQ(outer.DoModal(), 1);
    EXPECT_EQ(order, std::vector<int>{2});
}

namespace {
enum { IDD_SIZE = 510, IDC_BODY = 1100, WM_PROGRESS = WM_USER + 7 };

class SizeDlg : public CDialog {
public:
    SizeDlg() : CDialog(IDD_SIZE)
    {
        mfc::DlgTemplate t;
        t.caption = "Resizable";
        t.style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
        t.cx = 100;
        t.cy = 60;
        t.items = {Control("", IDC_BODY, WC_LISTVIEW, LVS_REPORT, 0, 0, 100, 50)};
        mfc::RegisterDialogTemplate(IDD_SIZE, t);
    }
    std::vector<CSize> sizes;
    std::vector<std::string> progress;
    CRect initClient;
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        GetClientRect(&initClient);
        return TRUE;
    }

protected:
    afx_msg void OnSize(UINT, int cx, int cy) { sizes.emplace_back(cx, cy); }
    afx_msg LRESULT OnProgress(WPARAM step, LPARAM text)
    {
        std::unique_ptr<std::string> owned(reinterpret_cast<std::string*>(text));
        progress.push_back(std::to_string(step) + ":" + *owned);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(SizeDlg, CDialog)
ON_WM_SIZE()
ON_MESSAGE(WM_PROGRESS, &SizeDlg::OnProgress)
END_MESSAGE_MAP()

class RunApp : public CWinApp {
public:
    RunApp() : CWinApp("Runner") {}
    INT_PTR result = 0;
    BOOL InitInstance() override
    {
        SizeDlg dlg;
        m_pMainWnd = &dlg;
        mfc::test::ScriptModal<SizeDlg>([](SizeDlg& d) { d.EndDialog(IDOK); });
        result = dlg.DoModal();
        m_pMainWnd = nullptr;
        return FALSE;
    }
    int ExitInstance() override { return 17; }
};
} // namespace

TEST(Dialog, ResizeSendsWmSizeWithTheClientSize)
{
    mfc::test::ScopedHooks hooks;
    SizeDlg dlg;
    mfc::test::ScriptModal<SizeDlg>([](SizeDlg& d) {
        // OnInitDialog already sees the client area at its template size.
        const RECT tmpl = mfc::DluToPixels(RECT{0, 0, 100, 60});
        EXPECT_EQ(d.initClient, CRect(tmpl));
        CRect now;
        d.GetClientRect(&now);
        EXPECT_EQ(now, d.initClient);
        d.sizes.clear();
        CRect wr;
        d.GetWindowRect(&wr);
        d.MoveWindow(wr.left, wr.top, wr.Width() + 40, wr.Height() + 30);
        mfc::test::Pump(10);
        ASSERT_FALSE(d.sizes.empty());
        CRect cr;
        d.GetClientRect(&cr);
        EXPECT_EQ(d.sizes.back().cx, cr.Width());
        EXPECT_EQ(d.sizes.back().cy, cr.Height());
        // A batch of moves lands together.
        HWND body = d.GetDlgItem(IDC_BODY)->m_hWnd;
        HDWP batch = BeginDeferWindowPos(1);
        batch = DeferWindowPos(batch, body, nullptr, 3, 4, cr.Width() - 6, cr.Height() - 8, SWP_NOZORDER);
        ASSERT_TRUE(EndDeferWindowPos(batch));
        CRect br;
        ::GetWindowRect(body, &br);
        d.ScreenToClient(&br);
        EXPECT_EQ(br, CRect(3, 4, cr.Width() - 3, cr.Height() - 4));
        d.EndDialog(IDOK);
    });
    dlg.DoModal();
}

TEST(Dialog, MessagesPostedFromAWorkerArriveOnTheGuiThreadInOrder)
{
    mfc::test::ScopedHooks hooks;
    SizeDlg dlg;
    mfc::test::ScriptModal<SizeDlg>([](SizeDlg& d) {
        HWND h = d.GetSafeHwnd();
        std::thread worker([h] {
            for (int i = 1; i <= 3; ++i)
                ::PostMessage(h, WM_PROGRESS, static_cast<WPARAM>(i),
                              reinterpret_cast<LPARAM>(new std::string("Writing: dev" + std::to_string(i))));
        });
        worker.join();
        mfc::test::Pump(20);
        d.EndDialog(IDOK);
    });
    dlg.DoModal();
    EXPECT_EQ(dlg.progress, (std::vector<std::string>{"1:Writing: dev1", "2:Writing: dev2", "3:Writing: dev3"}));
}

TEST(Dialog, RunEntryCallsInitInstanceAndEndsWithExitInstance)
{
    mfc::test::ScopedHooks hooks;
    RunApp app;
    char name[] = "runner";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(AfxWinMain(1, argv), 17);
    EXPECT_EQ(app.result, IDOK);
    EXPECT_STREQ(AfxGetAppName(), "Runner");
}
