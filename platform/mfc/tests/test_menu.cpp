// Menus (bar, popups, states) and accelerators routed through the
// application's message filter.
#include <QMenuBar>

#include "mfc/qt_resources.h"
#include "qt_app.h"

namespace {
enum {
    IDR_MENU = 145,
    IDR_ACCEL = 154,
    IDD_MAIN = 900,
    IDD_CHILD = 901,
    IDC_LIST = 1000,
    IDC_EDIT = 1001,
    ID_FW = 1003,
    ID_NEWIP = 1002,
    ID_CLOSE = 32785,
    ID_COPY = 1001,
    ID_SELALL = 32786,
    ID_REFRESH = 32781,
    ID_CONFIGURE = 32787
};

void Resources()
{
    using mfc::MenuItem;
    using mfc::MenuPopup;
    using mfc::MenuSeparator;
    mfc::RegisterMenu(
        IDR_MENU,
        {
            MenuPopup("&Veltrix",
                      {MenuItem("&Update Firmware...", ID_FW, MF_GRAYED),
                       MenuItem("&New IP Address...", ID_NEWIP, MF_GRAYED), MenuItem("&Close", ID_CLOSE)}),
            MenuPopup(
                "&Edit",
                {MenuItem("&Copy\tCtrl+C", ID_COPY), MenuSeparator(), MenuItem("Select &All\tCtrl+A", ID_SELALL)}),
            MenuPopup("&Tools", {MenuItem("&Configure...", ID_CONFIGURE, MF_GRAYED)}),
        });
    mfc::RegisterAccelerators(
        IDR_ACCEL,
        {{FVIRTKEY | FCONTROL, 'A', ID_SELALL}, {FVIRTKEY | FCONTROL, 'C', ID_COPY}, {FVIRTKEY, VK_F5, ID_REFRESH}});
    mfc::DlgTemplate t;
    t.caption = "Main";
    t.style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    t.menu = IDR_MENU;
    t.cx = 200;
    t.cy = 100;
    t.items = {Control("", IDC_LIST, WC_LISTVIEW, LVS_REPORT | WS_TABSTOP | WS_BORDER, 0, 0, 200, 80)};
    mfc::RegisterDialogTemplate(IDD_MAIN, t);
    mfc::DlgTemplate c;
    c.caption = "Child";
    c.cx = 100;
    c.cy = 50;
    c.items = {EditText(IDC_EDIT, 5, 5, 80, 12), DefPushButton("OK", IDOK, 5, 30, 40, 14)};
    mfc::RegisterDialogTemplate(IDD_CHILD, c);
}

class App : public CWinApp {
public:
    HACCEL accel = nullptr;
    BOOL ProcessMessageFilter(int code, LPMSG msg) override
    {
        if (code >= 0 && m_pMainWnd && accel && ::TranslateAccelerator(m_pMainWnd->m_hWnd, accel, msg))
            return TRUE;
        return CWinApp::ProcessMessageFilter(code, msg);
    }
};

class MainDlg : public CDialog {
public:
    MainDlg() : CDialog(IDD_MAIN) {}
    std::vector<UINT> commands;
    std::function<void(MainDlg&)> body;
    void OnOK() override {}
    void OnCancel() override {}

protected:
    afx_msg void OnCommandRange(UINT id) { commands.push_back(id); }
    afx_msg void OnClose() { EndDialog(IDOK); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(MainDlg, CDialog)
ON_COMMAND_RANGE(1000, 40000, &MainDlg::OnCommandRange)
ON_COMMAND(ID_CLOSE, &MainDlg::OnClose)
ON_WM_CLOSE()
END_MESSAGE_MAP()
} // namespace

TEST(Menu, StatesTextsAndStructure)
{
    TestApp();
    Resources();
    CMenu bar;
    ASSERT_TRUE(bar.LoadMenu(IDR_MENU));
    EXPECT_EQ(bar.GetMenuItemCount(), 3);
    EXPECT_EQ(bar.GetMenuItemID(0), static_cast<UINT>(-1)); // a popup
    CMenu* edit = bar.GetSubMenu(1);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(bar.GetSubMenu(1), edit); // one wrapper per menu
    EXPECT_EQ(edit->GetMenuItemCount(), 3);
    EXPECT_EQ(edit->GetMenuItemID(1), 0u); // separator
    CString s;
    edit->GetMenuString(0, s, MF_BYPOSITION);
    EXPECT_EQ(s, "&Copy\tCtrl+C");
    char small[4];
    EXPECT_EQ(bar.GetMenuString(ID_FW, small, sizeof(small), MF_BYCOMMAND), 3); // found in a submenu
    EXPECT_STREQ(small, "&Up");

    EXPECT_EQ(bar.GetMenuState(ID_FW, MF_BYCOMMAND), static_cast<UINT>(MF_GRAYED));
    EXPECT_EQ(bar.EnableMenuItem(ID_FW, MF_ENABLED), static_cast<UINT>(MF_GRAYED));
    EXPECT_EQ(bar.GetMenuState(ID_FW, MF_BYCOMMAND), 0u);
    EXPECT_EQ(bar.CheckMenuItem(ID_SELALL, MF_CHECKED), static_cast<UINT>(MF_UNCHECKED));
    EXPECT_EQ(bar.GetMenuState(ID_SELALL, MF_BYCOMMAND), static_cast<UINT>(MF_CHECKED)); // exactly
    EXPECT_EQ(bar.EnableMenuItem(4242, MF_GRAYED), static_cast<UINT>(-1));
    EXPECT_EQ(bar.GetMenuState(1, MF_BYPOSITION), static_cast<UINT>(MF_POPUP | (3 << 8)));

    // A list menu built from the bar: items with text, a separator after each
    // popup, the last separator removed.
    CMenu list;
    list.CreatePopupMenu();
    for (int p = 0; p < bar.GetMenuItemCount(); ++p) {
        CMenu* sub = bar.GetSubMenu(p);
        for (int i = 0; i < sub->GetMenuItemCount(); ++i) {
            CString t;
            sub->GetMenuString(static_cast<UINT>(i), t, MF_BYPOSITION);
            if (!t.IsEmpty())
                list.AppendMenu(MF_STRING | sub->GetMenuState(static_cast<UINT>(i), MF_BYPOSITION),
                                sub->GetMenuItemID(i), t);
        }
        list.AppendMenu(MF_SEPARATOR);
    }
    ASSERT_TRUE(list.RemoveMenu(static_cast<UINT>(list.GetMenuItemCount() - 1), MF_BYPOSITION));
    EXPECT_EQ(list.GetMenuItemCount(), 8);
    EXPECT_EQ(list.GetMenuItemID(7), static_cast<UINT>(ID_CONFIGURE));
    EXPECT_EQ(list.GetMenuState(ID_CONFIGURE, MF_BYCOMMAND), static_cast<UINT>(MF_GRAYED));
}

TEST(Menu, PopupChoiceArrivesAsCommandAfterTheMenuCloses)
{
    mfc::test::ScopedHooks hooks;
    Resources();
    MainDlg dlg;
    mfc::test::ScriptModal<MainDlg>([](MainDlg& d) {
        CMenu popup;
        popup.CreatePopupMenu();
        popup.AppendMenu(MF_STRING, 1600, "Status");
        popup.AppendMenu(MF_STRING | MF_CHECKED, 1601, "Uptime");
        popup.AppendMenu(MF_SEPARATOR);
        popup.AppendMenu(MF_STRING | MF_GRAYED, 1602, "More...");
        mfc::test::PushPopupAnswer(1601);
        EXPECT_TRUE(popup.TrackPopupMenu(TPM_RIGHTBUTTON, 10, 20, &d));
        EXPECT_TRUE(d.commands.empty()); // posted, not yet delivered
        mfc::test::Pump(20);
        EXPECT_EQ(d.commands, std::vector<UINT>{1601});
        ASSERT_EQ(mfc::test::PopupLog().size(), 1u);
        EXPECT_EQ(mfc::test::PopupLog()[0].items,
                  (std::vector<std::string>{"Status", "Uptime [x]", "-", "More... (grey)"}));
        EXPECT_EQ(mfc::test::PopupLog()[0].x, 10);
        mfc::test::PushPopupAnswer(1600);
        EXPECT_EQ(popup.TrackPopupMenu(TPM_RETURNCMD, 0, 0, &d), 1600);
        mfc::test::Pump(20);
        EXPECT_EQ(d.commands.size(), 1u); // TPM_RETURNCMD sends nothing

        // The menu bar reflects the loaded menu.
        ASSERT_NE(d.GetMenu(), nullptr);
        EXPECT_EQ(d.GetMenu()->GetMenuState(ID_NEWIP, MF_BYCOMMAND), static_cast<UINT>(MF_GRAYED));
        auto* bar = mfc::DialogWidgetOf(d)->findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->actions().size(), 3);
        mfc::test::CloseWindow(&d);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(Menu, AcceleratorsWinInTheListButStayOutOfChildDialogs)
{
    mfc::test::ScopedHooks hooks;
    Resources();
    App app;
    app.accel = LoadAccelerators(nullptr, MAKEINTRESOURCE(IDR_ACCEL));
    ASSERT_NE(app.accel, nullptr);
    MainDlg dlg;
    app.m_pMainWnd = &dlg;
    CDialog child(IDD_CHILD, &dlg);
    mfc::test::ScriptModal<MainDlg>([&](MainDlg& d) {
        CWnd* list = d.GetDlgItem(IDC_LIST);
        list->SetFocus();
        static_cast<CListCtrl*>(list)->InsertColumn(0, "c", LVCFMT_LEFT, 50);
        static_cast<CListCtrl*>(list)->InsertItem(0, "row");
        mfc::test::PressKey(list, 'C', /*ctrl=*/true);
        mfc::test::PressKey(list, 'A', /*ctrl=*/true);
        mfc::test::PressKey(list, VK_F5);
        mfc::test::PressKey(list, 'B', /*ctrl=*/true); // not in the table
        EXPECT_EQ(d.commands, (std::vector<UINT>{ID_COPY, ID_SELALL, ID_REFRESH}));
        // Enter and Esc leave this dialog open (its OnOK/OnCancel do nothing).
        mfc::test::PressKey(&d, VK_RETURN);
        mfc::test::PressKey(&d, VK_ESCAPE);
        EXPECT_TRUE(mfc::DialogWidgetOf(d)->isVisible());

        mfc::test::ScriptModal(IDD_CHILD, [&](CDialog& c) {
            mfc::test::PressKey(c.GetDlgItem(IDC_EDIT), 'C', true);
            mfc::test::PressKey(c.GetDlgItem(IDC_EDIT), VK_F5);
            c.EndDialog(IDOK);
        });
        child.DoModal();
        EXPECT_EQ(d.commands.size(), 3u);
        d.EndDialog(IDOK);
    });
    dlg.DoModal();
    DestroyAcceleratorTable(app.accel);
}
