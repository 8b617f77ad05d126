// Standard and common controls: what each family stores, reads back and
// notifies (user actions notify; programmatic changes do not, except EN_CHANGE).
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <functional>

#include "mfc/qt_resources.h"
#include "qt_app.h"

namespace {
enum {
    IDD_C = 700,
    IDC_EDIT = 1000,
    IDC_RO,
    IDC_NUM,
    IDC_MULTI,
    IDC_LABEL,
    IDC_CHECK,
    IDC_MANUAL,
    IDC_A1,
    IDC_A2,
    IDC_B1,
    IDC_B2,
    IDC_COMBO,
    IDC_SORTCOMBO,
    IDC_LIST,
    IDC_MULTILIST,
    IDC_IP,
    IDC_PROGRESS,
    IDC_ANIM
};

void Template()
{
    mfc::DlgTemplate t;
    t.caption = "Controls";
    t.cx = 300;
    t.cy = 200;
    t.items = {
        EditText(IDC_EDIT, 5, 5, 80, 12),
        EditText(IDC_RO, 5, 20, 80, 12, ES_READONLY),
        EditText(IDC_NUM, 5, 35, 80, 12, ES_NUMBER),
        EditText(IDC_MULTI, 5, 50, 80, 30, ES_MULTILINE | ES_READONLY),
        LText("Save && &Exit", IDC_LABEL, 5, 85, 80, 8),
        AutoCheckBox("Check", IDC_CHECK, 100, 5, 60, 10),
        CheckBox("Manual", IDC_MANUAL, 100, 15, 60, 10),
        AutoRadioButton("A1", IDC_A1, 100, 30, 40, 10, WS_GROUP),
        AutoRadioButton("A2", IDC_A2, 100, 40, 40, 10),
        AutoRadioButton("B1", IDC_B1, 100, 55, 40, 10, WS_GROUP),
        AutoRadioButton("B2", IDC_B2, 100, 65, 40, 10),
        ComboBox(IDC_COMBO, 180, 5, 80, 60),
        ComboBox(IDC_SORTCOMBO, 180, 20, 80, 60, CBS_DROPDOWNLIST | CBS_SORT),
        ListBox(IDC_LIST, 180, 40, 80, 50, LBS_NOTIFY | LBS_SORT),
        ListBox(IDC_MULTILIST, 180, 95, 80, 50, LBS_NOTIFY | LBS_SORT | LBS_EXTENDEDSEL),
        Control("", IDC_IP, WC_IPADDRESS, WS_TABSTOP, 5, 100, 80, 12),
        Control("", IDC_PROGRESS, PROGRESS_CLASS, 0, 5, 120, 80, 10),
        DefPushButton("OK", IDOK, 240, 180, 50, 14),
    };
    mfc::RegisterDialogTemplate(IDD_C, t);
}

class CtlDlg : public CDialog {
public:
    CtlDlg() : CDialog(IDD_C) { Template(); }
    std::vector<std::pair<int, UINT>> events; // (id, code)
    std::vector<NMIPADDRESS> ip;
    std::function<void(CtlDlg&)> body;
    CAnimateCtrl* anim = nullptr;
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        anim = new CAnimateCtrl;
        anim->Create(WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY, CRect(10, 150, 82, 190), this, IDC_ANIM);
        return TRUE;
    }
    ~CtlDlg() override { delete anim; }
    BOOL OnCommand(WPARAM w, LPARAM l) override
    {
        if (l)
            events.push_back({LOWORD(w), HIWORD(w)});
        return CDialog::OnCommand(w, l);
    }
    BOOL OnNotify(WPARAM w, LPARAM l, LRESULT* r) override
    {
        auto* h = reinterpret_cast<NMHDR*>(l);
        if (h->code == IPN_FIELDCHANGED) {
            ip.push_back(*reinterpret_cast<NMIPADDRESS*>(l));
            DWORD shown = 0; // read as it changes, as a dialog that follows the address does
            static_cast<CIPAddressCtrl*>(GetDlgItem(IDC_IP))->GetAddress(shown);
        }
        return CDialog::OnNotify(w, l, r);
    }
    void Run(std::function<void(CtlDlg&)> f)
    {
        body = std::move(f);
        mfc::test::ScriptModal<CtlDlg>([](CtlDlg& d) {
            d.body(d);
            d.EndDialog(IDOK);
        });
        DoModal();
    }
    int Count(int id, UINT code) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), std::make_pair(id, code)));
    }
};

void PressKeyAtEnd(CWnd* edit, UINT vk)
{
    auto* e = qobject_cast<QLineEdit*>(mfc::WidgetOf(edit->m_hWnd));
    e->setFocus();
    e->end(false);
    mfc::test::PressKey(edit, vk);
}

template <class T> T* Item(CWnd& d, int id) { return static_cast<T*>(d.GetDlgItem(id)); }
} // namespace

TEST(Controls, EditsLimitReadOnlyNumbersAndChangeNotifications)
{
    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([](CtlDlg& d) {
        auto* e = Item<CEdit>(d, IDC_EDIT);
        e->SetWindowText("programmatic"); // EN_CHANGE as in Windows
        EXPECT_EQ(d.Count(IDC_EDIT, EN_CHANGE), 1);
        e->LimitText(5);
        mfc::test::TypeText(e, "abcdefgh");
        CString s;
        e->GetWindowText(s);
        EXPECT_EQ(s, "abcde");
        EXPECT_EQ(d.Count(IDC_EDIT, EN_CHANGE), 6) << "one per key taken; refused keys change nothing";
        // The limit binds the user only: the program may set longer text, which
        // reads back whole (a value is never cut behind the user's back).
        e->SetWindowText("1000000");
        e->GetWindowText(s);
        EXPECT_EQ(s, "1000000");
        PressKeyAtEnd(e, '9');
        e->GetWindowText(s);
        EXPECT_EQ(s, "1000000");
        d.SendDlgItemMessage(IDC_EDIT, EM_LIMITTEXT, 63);
        EXPECT_EQ(e->GetLimitText(), 63u);
        PressKeyAtEnd(e, '9');
        e->GetWindowText(s);
        EXPECT_EQ(s, "10000009");
        // The limit counts bytes of the UTF-8 text, as an ANSI edit does: 63
        // characters of two bytes are cut to 31 at whole characters, one more is
        // refused, a one-byte character still fits.
        std::string accents;
        for (int i = 0; i < 63; ++i)
            accents += "\xc3\xa9";
        mfc::test::TypeText(e, accents);
        e->GetWindowText(s);
        EXPECT_EQ(std::string(s.GetString()), accents.substr(0, 62));
        auto* line = qobject_cast<QLineEdit*>(mfc::WidgetOf(e->m_hWnd));
        line->end(false);
        line->insert(QString::fromUtf8("\xc3\xa9"));
        PressKeyAtEnd(e, '1');
        PressKeyAtEnd(e, '2');
        e->GetWindowText(s);
        EXPECT_EQ(std::string(s.GetString()), accents.substr(0, 62) + "1");
        e->LimitText(5); // a four-byte character is never split: refused, the next key still fits
        mfc::test::TypeText(e,
                            "ab\xf0\x9f\x98\x80"
                            "c");
        e->GetWindowText(s);
        EXPECT_EQ(s, "abc");

        auto* ro = Item<CEdit>(d, IDC_RO);
        EXPECT_TRUE(qobject_cast<QLineEdit*>(mfc::WidgetOf(ro->m_hWnd))->isReadOnly());
        ro->SetReadOnly(FALSE);
        EXPECT_FALSE(qobject_cast<QLineEdit*>(mfc::WidgetOf(ro->m_hWnd))->isReadOnly());

        mfc::test::TypeText(d.GetDlgItem(IDC_NUM), "12a");
        d.GetDlgItemText(IDC_NUM, s);
        EXPECT_EQ(s, "12"); // the letter is refused
        mfc::test::TypeText(d.GetDlgItem(IDC_NUM), "123");
        EXPECT_EQ(d.GetDlgItemInt(IDC_NUM), 123u);

        d.SetDlgItemText(IDC_MULTI, "line 1\r\nline 2\r\n");
        d.GetDlgItemText(IDC_MULTI, s);
        EXPECT_EQ(s, "line 1\r\nline 2\r\n");
        EXPECT_EQ(Item<CEdit>(d, IDC_MULTI)->GetLineCount(), 3);

        // Statics keep their text with '&' but show it as Windows does.
        d.GetDlgItemText(IDC_LABEL, s);
        EXPECT_EQ(s, "Save && &Exit");
        EXPECT_EQ(qobject_cast<QLabel*>(mfc::WidgetOf(d.GetDlgItem(IDC_LABEL)->m_hWnd))->text(), "Save & Exit");
    });
}

TEST(Controls, ButtonsCheckBoxesAndRadioGroups)
{
    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([](CtlDlg& d) {
        auto* check = Item<CButton>(d, IDC_CHECK);
        check->SetCheck(BST_CHECKED);
        EXPECT_EQ(d.Count(IDC_CHECK, BN_CLICKED), 0); // programmatic: no notification
        mfc::test::Click(check);
        EXPECT_EQ(check->GetCheck(), BST_UNCHECKED);
        EXPECT_EQ(d.Count(IDC_CHECK, BN_CLICKED), 1);
        // A non-automatic check box notifies but keeps its state.
        mfc::test::Click(d, IDC_MANUAL);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_MANUAL), 0u);
        EXPECT_EQ(d.Count(IDC_MANUAL, BN_CLICKED), 1);

        // Two radio groups split by WS_GROUP.
        EXPECT_EQ(d.GetCheckedRadioButton(IDC_A1, IDC_A2), 0);
        mfc::test::Click(d, IDC_A1);
        mfc::test::Click(d, IDC_B2);
        mfc::test::Click(d, IDC_A2);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_A1), 0u);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_A2), 1u);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_B2), 1u);
        d.CheckRadioButton(IDC_B1, IDC_B2, IDC_B1);
        EXPECT_EQ(d.GetCheckedRadioButton(IDC_B1, IDC_B2), IDC_B1);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_B2), 0u);
        EXPECT_EQ(d.Count(IDC_B1, BN_CLICKED), 0);

        // Disabled and hidden buttons ignore clicks.
        d.GetDlgItem(IDC_CHECK)->EnableWindow(FALSE);
        mfc::test::Click(check);
        EXPECT_EQ(d.Count(IDC_CHECK, BN_CLICKED), 1);
        d.GetDlgItem(IDC_MANUAL)->ShowWindow(SW_HIDE);
        EXPECT_FALSE(d.GetDlgItem(IDC_MANUAL)->IsWindowVisible());
        EXPECT_TRUE(d.GetDlgItem(IDC_MANUAL)->ShowWindow(SW_SHOW) == FALSE);
        EXPECT_TRUE(d.GetDlgItem(IDC_MANUAL)->IsWindowVisible());
    });
}

TEST(Controls, ComboBoxListAndSelection)
{
    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([](CtlDlg& d) {
        auto* c = Item<CComboBox>(d, IDC_COMBO);
        EXPECT_EQ(c->AddString("eth1"), 0);
        EXPECT_EQ(c->AddString("Eth0"), 1); // not sorted: appended
        EXPECT_EQ(c->InsertString(0, "lo"), 0);
        EXPECT_EQ(c->GetCurSel(), CB_ERR);
        EXPECT_EQ(c->SetCurSel(2), 2);
        CString s;
        c->GetLBText(2, s);
        EXPECT_EQ(s, "Eth0");
        c->GetWindowText(s);
        EXPECT_EQ(s, "Eth0");
        EXPECT_EQ(c->FindStringExact(-1, "ETH0"), 2);
        EXPECT_EQ(c->FindStringExact(-1, "eth"), CB_ERR);
        EXPECT_EQ(c->FindString(-1, "eth"), 1);
        EXPECT_EQ(c->SetItemData(1, 0xABCDEF), 0);
        EXPECT_EQ(c->GetItemData(1), 0xABCDEFu);
        EXPECT_EQ(c->SetCurSel(-1), CB_ERR);
        EXPECT_EQ(c->GetCurSel(), -1);
        EXPECT_EQ(d.Count(IDC_COMBO, CBN_SELCHANGE), 0);
        mfc::test::ChooseComboItem(c, 0);
        EXPECT_EQ(d.Count(IDC_COMBO, CBN_SELCHANGE), 1);
        EXPECT_EQ(c->GetCurSel(), 0);
        c->ResetContent();
        EXPECT_EQ(c->GetCount(), 0);

        auto* sc = Item<CComboBox>(d, IDC_SORTCOMBO);
        for (const char* t : {"Never Multicast", "always", "Beta", "16", "20"})
            sc->AddString(t);
        std::vector<std::string> order;
        for (int i = 0; i < sc->GetCount(); ++i) {
            sc->GetLBText(i, s);
            order.push_back(s.str());
        }
        EXPECT_EQ(order, (std::vector<std::string>{"16", "20", "always", "Beta", "Never Multicast"}));
    });
}

TEST(Controls, SortedListBoxFollowsWindowsOrder)
{
    EXPECT_LT(mfc::CompareStringNoCase("abc", "ABD"), 0);
    EXPECT_EQ(mfc::CompareStringNoCase("MAC", "mac"), 0);
    EXPECT_LT(mfc::CompareStringNoCase("_x", "1"), 0); // punctuation before digits
    EXPECT_LT(mfc::CompareStringNoCase("9", "a"), 0);  // digits before letters
    EXPECT_LT(mfc::CompareStringNoCase("~", "0"), 0);  // even past 'z' in ASCII
    EXPECT_LT(mfc::CompareStringNoCase("co-op", "coop2"), 0);
    EXPECT_LT(mfc::CompareStringNoCase("coop", "co-op"), 0); // equal but for the hyphen
    EXPECT_LT(mfc::CompareStringNoCase("ab", "abc"), 0);

    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([](CtlDlg& d) {
        auto* l = Item<CListBox>(d, IDC_LIST);
        for (const char* t : {"sysName -- [ 1.3.6.1.2.1.1.5.0 ]", "IfIn -- [ 1.3.6.1.2.1.2.2.1.10.1 ]",
                              "ifOut -- [ 1.3.6.1.2.1.2.2.1.16.1 ]", "Uptime -- [ 1.3.6.1.2.1.1.3.0 ]",
                              "_raw -- [ 1.3 ]", "2nd -- [ 1.4 ]"})
            l->AddString(t);
        std::vector<std::string> order;
        CString s;
        for (int i = 0; i < l->GetCount(); ++i) {
            l->GetText(i, s);
            order.push_back(s.Left(s.Find(" -- [ ")).str());
        }
        EXPECT_EQ(order, (std::vector<std::string>{"_raw", "2nd", "IfIn", "ifOut", "sysName", "Uptime"}));
        EXPECT_EQ(l->FindString(-1, "IFO"), 3);
        EXPECT_EQ(l->FindStringExact(-1, "uptime -- [ 1.3.6.1.2.1.1.3.0 ]"), 5);
        EXPECT_EQ(l->SelectString(-1, "sys"), 4);
        EXPECT_EQ(l->GetCurSel(), 4);
        EXPECT_EQ(l->GetSelCount(), LB_ERR); // single selection
        EXPECT_EQ(d.Count(IDC_LIST, LBN_SELCHANGE), 0);
        EXPECT_EQ(l->DeleteString(0), 5);
    });
}

TEST(Controls, MultiSelectListBox)
{
    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([](CtlDlg& d) {
        auto* l = Item<CListBox>(d, IDC_MULTILIST);
        for (const char* t : {"d", "b", "c", "a"})
            l->AddString(t);
        EXPECT_EQ(l->GetSelCount(), 0);
        l->SetSel(1);
        l->SetSel(3);
        EXPECT_EQ(d.Count(IDC_MULTILIST, LBN_SELCHANGE), 0);
        int sel[8] = {};
        ASSERT_EQ(l->GetSelItems(8, sel), 2);
        EXPECT_EQ(sel[0], 1);
        EXPECT_EQ(sel[1], 3);
        EXPECT_EQ(l->GetSel(3), 1);
        mfc::test::ChooseListBoxItems(l, {0, 2});
        EXPECT_EQ(d.Count(IDC_MULTILIST, LBN_SELCHANGE), 2) << "one per click";
        EXPECT_EQ(l->GetSelCount(), 2);
        ASSERT_EQ(l->GetSelItems(1, sel), 1); // at most the room given
        EXPECT_EQ(sel[0], 0);
        l->SetSel(-1, FALSE);
        EXPECT_EQ(l->GetSelCount(), 0);
        l->SetSel(-1, TRUE);
        EXPECT_EQ(l->GetSelCount(), 4);
        // Moving the first selected entry out, as a "move right" button does.
        CString s;
        l->GetSelItems(1, sel);
        l->GetText(sel[0], s);
        l->DeleteString(static_cast<UINT>(sel[0]));
        EXPECT_EQ(s, "a");
        EXPECT_EQ(l->GetSelCount(), 3);
    });
}

TEST(Controls, IpAddressFieldsCountsAndNotifications)
{
    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([](CtlDlg& d) {
        auto* ip = Item<CIPAddressCtrl>(d, IDC_IP);
        EXPECT_TRUE(ip->IsBlank());
        BYTE b0, b1, b2, b3;
        EXPECT_EQ(ip->GetAddress(b0, b1, b2, b3), 0);
        ip->SetAddress(MAKEIPADDRESS(192, 168, 1, 77));
        EXPECT_TRUE(d.ip.empty()); // programmatic: no IPN_FIELDCHANGED
        DWORD v = 0;
        EXPECT_EQ(ip->GetAddress(v), 4);
        EXPECT_EQ(v, MAKEIPADDRESS(192, 168, 1, 77));
        CString s;
        ip->GetWindowText(s);
        EXPECT_EQ(s, "192.168.1.77");
        mfc::test::SetIpField(ip, 2, "");
        EXPECT_EQ(ip->GetAddress(b0, b1, b2, b3), 3); // a blank field reads 0
        EXPECT_EQ(b2, 0);
        ASSERT_EQ(d.ip.size(), 1u);
        EXPECT_EQ(d.ip[0].iField, 2);
        EXPECT_EQ(d.ip[0].hdr.idFrom, static_cast<UINT_PTR>(IDC_IP));
        mfc::test::SetIpField(ip, 3, "300"); // told as typed, then brought back to 255
        EXPECT_EQ(d.ip.back().iValue, 300);
        EXPECT_EQ(ip->GetAddress(v), 3);
        EXPECT_EQ(FOURTH_IPADDRESS(v), 255u);
        mfc::test::SetIpField(ip, 2, "9");
        EXPECT_EQ(ip->GetAddress(v), 4);
        EXPECT_EQ(v, MAKEIPADDRESS(192, 168, 9, 255));
        d.SendDlgItemMessage(IDC_IP, IPM_SETADDRESS, 0, static_cast<LPARAM>(MAKEIPADDRESS(10, 0, 0, 1)));
        d.SendDlgItemMessage(IDC_IP, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&v));
        EXPECT_EQ(v, MAKEIPADDRESS(10, 0, 0, 1));
        ip->ClearAddress();
        EXPECT_TRUE(ip->IsBlank());
        EXPECT_EQ(ip->GetAddress(v), 0);
        EXPECT_EQ(v, 0u);
    });
}

// Typing into the address control with the keyboard: each case clicks into
// the first field, selects its text and types; "<" stands for Backspace.
TEST(Controls, IpAddressTakesATypedAddressAsTyped)
{
    const struct {
        DWORD before;
        const char* keys;
        const char* shown;
    } cases[] = {
        {MAKEIPADDRESS(172, 78, 1, 2), "172.16.100.25", "172.16.100.25"}, // no field skipped after three digits
        {MAKEIPADDRESS(192, 78, 1, 2), "192.168.5.5", "192.168.5.5"},
        {0, "10.1.2.3", "10.1.2.3"},
        {0, "1.2..3", "1.2.3.0"},                    // a dot in an empty field stays there
        {0, "300.1.2.3", "255.1.2.3"},               // above 255 becomes 255 (told in a box)
        {0, "10.20<<<<1.7.8.9", "11.7.8.9"},         // Backspace at a field's start goes back into the previous one
        {MAKEIPADDRESS(1, 2, 3, 4), "9", "9.2.3.4"}, // typed over the selected text
    };
    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([&](CtlDlg& d) {
        auto* ip = Item<CIPAddressCtrl>(d, IDC_IP);
        const QList<QLineEdit*> fields = mfc::WidgetOf(ip->m_hWnd)->findChildren<QLineEdit*>();
        ASSERT_EQ(fields.size(), 4);
        for (const auto& c : cases) {
            if (c.before)
                ip->SetAddress(c.before);
            else
                ip->ClearAddress();
            QTest::mouseClick(fields[0], Qt::LeftButton);
            QTest::keyClick(fields[0], Qt::Key_End);
            QTest::keyClick(fields[0], Qt::Key_Home, Qt::ShiftModifier);
            for (const char* k = c.keys; *k; ++k) {
                if (*k == '<')
                    mfc::test::PressKey(&d, VK_BACK);
                else
                    mfc::test::TypeKeys(&d, std::string(1, *k));
            }
            CString shown;
            ip->GetWindowText(shown);
            EXPECT_EQ(shown, c.shown) << c.keys;
        }
        EXPECT_EQ(mfc::test::MessageBoxLog().size(), 1u); // for the field above 255 only
    });
}

// A field out of its range is told in a box once it is complete or left, or
// the address is read: it takes the nearest bound and the focus back, its
// text selected. Field 1 takes 10 to 20 here; the dialog's reads at every
// change tell nothing.
TEST(Controls, IpAddressFieldOutOfRangeIsToldAndBroughtBack)
{
    auto click = [](CtlDlg& d) {
        mfc::test::Click(d, IDC_CHECK); // the mouse takes the focus elsewhere
        EXPECT_TRUE(QTest::qWaitFor([] { return !mfc::test::MessageBoxLog().empty(); }, 10000));
    };
    auto read = [](CtlDlg& d) { // as OK reads the address
        DWORD v = 0;
        Item<CIPAddressCtrl>(d, IDC_IP)->GetAddress(v);
        EXPECT_EQ(v, MAKEIPADDRESS(1, 10, 3, 4));
    };
    const struct {
        int field;
        const char* keys;
        std::function<void(CtlDlg&)> leave;
        const char* box;
    } cases[] = {
        {3, "300", nullptr, "300 is out of range. Enter a number from 0 to 255."},
        {1, "5.", nullptr, "5 is out of range. Enter a number from 10 to 20."},
        {1, "25", [](CtlDlg& d) { mfc::test::PressKey(&d, VK_TAB); },
         "25 is out of range. Enter a number from 10 to 20."},
        {1, "5", click, "5 is out of range. Enter a number from 10 to 20."},
        {1, "5", read, "5 is out of range. Enter a number from 10 to 20."},
    };
    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([&](CtlDlg& d) {
        auto* ip = Item<CIPAddressCtrl>(d, IDC_IP);
        ip->SetFieldRange(1, 10, 20);
        const QList<QLineEdit*> fields = mfc::WidgetOf(ip->m_hWnd)->findChildren<QLineEdit*>();
        for (const auto& c : cases) {
            ip->SetAddress(MAKEIPADDRESS(1, 12, 3, 4));
            QTest::mouseDClick(fields[c.field], Qt::LeftButton); // selects the number
            mfc::test::MessageBoxLog().clear();
            mfc::test::TypeKeys(&d, c.keys);
            if (c.leave)
                c.leave(d);
            ASSERT_EQ(mfc::test::MessageBoxLog().size(), 1u) << c.keys;
            EXPECT_EQ(mfc::test::MessageBoxLog()[0].text, c.box);
            EXPECT_EQ(mfc::test::MessageBoxLog()[0].caption, "Invalid Entry");
            EXPECT_EQ(QApplication::focusWidget(), fields[c.field]) << c.keys;
            EXPECT_EQ(fields[c.field]->selectedText(), c.field == 3 ? "255" : c.keys[0] == '2' ? "20" : "10");
        }
    });
}

TEST(Controls, ProgressAndAnimation)
{
    mfc::test::ScopedHooks hooks;
    CtlDlg dlg;
    dlg.Run([](CtlDlg& d) {
        auto* p = Item<CProgressCtrl>(d, IDC_PROGRESS);
        int lo, hi;
        p->GetRange(lo, hi);
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 100);
        p->SetRange(0, 18);
        EXPECT_EQ(p->SetPos(99), 0);
        EXPECT_EQ(p->GetPos(), 18); // clamped to the range
        p->SetPos(0);
        p->SetStep(1);
        for (int i = 0; i < 6; ++i)
            p->StepIt();
        EXPECT_EQ(p->GetPos(), 6);
        EXPECT_EQ(p->OffsetPos(-10), 6);
        EXPECT_EQ(p->GetPos(), 0);
        p->SetStep(10);
        p->SetPos(15);
        p->StepIt(); // past the end it starts over
        EXPECT_EQ(p->GetPos(), 7);

        ASSERT_NE(d.anim, nullptr);
        EXPECT_EQ(d.GetDlgItem(IDC_ANIM), d.anim);
        EXPECT_TRUE(d.anim->Open(151u));
        EXPECT_TRUE(d.anim->IsPlaying()); // ACS_AUTOPLAY
        d.anim->Stop();
        EXPECT_FALSE(d.anim->IsPlaying());
        CRect r;
        d.anim->GetWindowRect(&r);
        d.ScreenToClient(&r);
        EXPECT_EQ(r, CRect(10, 150, 82, 190)); // pixel rectangle, not dialog units
    });
    // The member wrapper is detached once the window is gone.
    EXPECT_EQ(dlg.anim->GetSafeHwnd(), nullptr);
}
