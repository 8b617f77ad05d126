// The report-mode list view: columns and cells, selection walks, sorting by a
// comparator that reads the list, column order, and its notifications.
#include <QDialog>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QTreeView>
#include <atomic>
#include <thread>

#include "mfc/qt_resources.h"
#include "qt_app.h"

namespace {
enum { IDD_L = 800, IDC_LIST = 1000, IDC_HEADER = 1500 };

void Template()
{
    mfc::DlgTemplate t;
    t.caption = "List";
    t.style |= WS_THICKFRAME;
    t.cx = 300;
    t.cy = 200;
    t.items = {
        Control("", IDC_LIST, WC_LISTVIEW, LVS_REPORT | LVS_SHOWSELALWAYS | LVS_EDITLABELS | WS_BORDER | WS_TABSTOP, 0,
                0, 300, 180),
        DefPushButton("OK", IDOK, 240, 184, 50, 14),
    };
    mfc::RegisterDialogTemplate(IDD_L, t);
}

struct Note {
    UINT code;
    UINT_PTR id;
    int item;
    int sub;
    int width;
    UINT newState;
    int selectedAtTheTime;
};

class ListDlg : public CDialog {
public:
    ListDlg() : CDialog(IDD_L) { Template(); }
    CListCtrl m_list;
    std::vector<Note> notes;
    std::function<void(ListDlg&)> body;
    std::function<LRESULT(NMLVDISPINFO*)> onEndEdit;
    std::vector<std::pair<HWND, CPoint>> menus;
    int selectedAtClick = -1;

    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_LIST, m_list); }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_SUBITEMIMAGES);
        m_list.GetHeaderCtrl()->SetDlgCtrlID(IDC_HEADER);
        m_list.InsertColumn(0, "Status", LVCFMT_LEFT, 40);
        m_list.InsertColumn(1, "MAC Address", LVCFMT_LEFT, 110);
        m_list.InsertColumn(2, "IP Address", LVCFMT_CENTER, 90);
        return TRUE;
    }
    BOOL OnNotify(WPARAM w, LPARAM l, LRESULT* r) override
    {
        auto* h = reinterpret_cast<NMHDR*>(l);
        Note n{h->code, h->idFrom, -2, -2, -1, 0, m_list.GetSelectedCount()};
        if (h->code == NM_CLICK || h->code == NM_DBLCLK || h->code == NM_RCLICK) {
            auto* a = reinterpret_cast<NMITEMACTIVATE*>(l);
            n.item = a->iItem;
        } else if (h->code == LVN_COLUMNCLICK || h->code == LVN_ITEMCHANGED) {
            auto* v = reinterpret_cast<NMLISTVIEW*>(l);
            n.item = v->iItem;
            n.sub = v->iSubItem;
            n.newState = v->uNewState;
        } else if (h->code == HDN_ITEMCLICKA || h->code == HDN_ENDTRACKA) {
            auto* hh = reinterpret_cast<NMHEADER*>(l);
            n.item = hh->iItem;
            if (hh->pitem && (hh->pitem->mask & HDI_WIDTH))
                n.width = hh->pitem->cxy;
        } else if (h->code == LVN_ENDLABELEDITA && onEndEdit) {
            notes.push_back(n);
            *r = onEndEdit(reinterpret_cast<NMLVDISPINFO*>(l));
            return TRUE;
        } else if (h->code == LVN_BEGINLABELEDITA) {
            if (CEdit* e = m_list.GetEditControl())
                e->LimitText(5);
        }
        notes.push_back(n);
        return CDialog::OnNotify(w, l, r);
    }
    void Run(std::function<void(ListDlg&)> f)
    {
        body = std::move(f);
        mfc::test::ScriptModal<ListDlg>([](ListDlg& d) {
            d.body(d);
            d.EndDialog(IDOK);
        });
        DoModal();
    }
    std::vector<Note> Of(UINT code) const
    {
        std::vector<Note> out;
        for (const auto& n : notes)
            if (n.code == code)
                out.push_back(n);
        return out;
    }
    void Fill(std::initializer_list<std::pair<const char*, const char*>> rows)
    {
        int i = 0;
        for (auto& r : rows) {
            int k = m_list.InsertItem(i, "", i % 2);
            m_list.SetItemText(k, 1, r.first);
            m_list.SetItemText(k, 2, r.second);
            m_list.SetItemData(k, static_cast<DWORD_PTR>(k));
            ++i;
        }
    }

protected:
    afx_msg void OnContextMenu(CWnd* w, CPoint p) { menus.push_back({w ? w->m_hWnd : nullptr, p}); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ListDlg, CDialog)
ON_WM_CONTEXTMENU()
END_MESSAGE_MAP()

ListDlg* g_sortDlg = nullptr;
// Reads the cells by the old row index kept as item data, as a sorting view does.
int CALLBACK ByIp(LPARAM a, LPARAM b, LPARAM dir)
{
    CString x = g_sortDlg->m_list.GetItemText(static_cast<int>(a), 2);
    CString y = g_sortDlg->m_list.GetItemText(static_cast<int>(b), 2);
    unsigned xa[4] = {}, ya[4] = {};
    std::sscanf(x, "%u.%u.%u.%u", &xa[0], &xa[1], &xa[2], &xa[3]);
    std::sscanf(y, "%u.%u.%u.%u", &ya[0], &ya[1], &ya[2], &ya[3]);
    for (int i = 0; i < 4; ++i)
        if (xa[i] != ya[i])
            return (xa[i] < ya[i] ? -1 : 1) * static_cast<int>(dir);
    return 0;
}
} // namespace

TEST(ListCtrl, ColumnsCellsAndSelectionWalks)
{
    mfc::test::ScopedHooks hooks;
    ListDlg dlg;
    dlg.Run([](ListDlg& d) {
        CListCtrl& l = d.m_list;
        EXPECT_EQ(d.GetDlgItem(IDC_LIST), &l); // the member is what GetDlgItem returns
        d.Fill({{"00:01", "10.0.0.1"}, {"00:02", "10.0.0.2"}, {"00:03", "9.0.0.1"}});
        EXPECT_EQ(l.GetItemCount(), 3);
        EXPECT_EQ(l.GetItemText(1, 1), "00:02");
        EXPECT_EQ(l.GetItemText(1, 7), "");
        EXPECT_FALSE(l.SetItemText(1, 7, "x"));
        EXPECT_EQ(l.InsertItem(99, "end"), 3); // past the end appends
        EXPECT_EQ(l.InsertItem(-1, "bad"), -1);
        EXPECT_TRUE(l.DeleteItem(3));

        // A column inserted in the middle shifts the cells after it.
        EXPECT_EQ(l.InsertColumn(1, "Name", LVCFMT_LEFT, 50), 1);
        EXPECT_EQ(l.GetItemText(0, 2), "00:01");
        EXPECT_EQ(l.GetItemText(0, 1), "");
        EXPECT_TRUE(l.DeleteColumn(1));
        EXPECT_EQ(l.GetItemText(0, 1), "00:01");
        EXPECT_EQ(l.GetColumnWidth(1), 110);
        LVCOLUMN col{};
        char text[32];
        col.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        col.pszText = text;
        col.cchTextMax = sizeof(text);
        ASSERT_TRUE(l.GetColumn(2, &col));
        EXPECT_STREQ(text, "IP Address");
        EXPECT_EQ(col.fmt, LVCFMT_CENTER);
        EXPECT_EQ(col.cx, 90);

        EXPECT_EQ(l.GetSelectedCount(), 0);
        EXPECT_EQ(l.GetNextItem(-1, LVNI_SELECTED), -1);
        EXPECT_EQ(l.GetFirstSelectedItemPosition(), nullptr);
        l.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED); // select all
        EXPECT_EQ(l.GetSelectedCount(), 3);
        l.SetItemState(1, 0, LVIS_SELECTED);
        std::vector<int> walk;
        for (POSITION p = l.GetFirstSelectedItemPosition(); p;)
            walk.push_back(l.GetNextSelectedItem(p));
        EXPECT_EQ(walk, (std::vector<int>{0, 2}));
        EXPECT_EQ(l.GetNextItem(0, LVNI_SELECTED), 2);
        EXPECT_EQ(l.GetNextItem(0, LVNI_ALL), 1);
        EXPECT_EQ(l.GetNextItem(2, LVNI_ALL), -1);
        EXPECT_EQ(l.GetItemState(2, LVIS_SELECTED), static_cast<UINT>(LVIS_SELECTED));
        // Programmatic state changes are announced, as Windows does.
        EXPECT_FALSE(d.Of(LVN_ITEMCHANGED).empty());

        LVFINDINFO fi{};
        fi.flags = LVFI_PARAM;
        fi.lParam = 2;
        EXPECT_EQ(l.FindItem(&fi), 2);
        fi.lParam = 9;
        EXPECT_EQ(l.FindItem(&fi), -1);

        // Reads from another thread are served by the GUI thread.
        CString fromWorker;
        std::atomic<int> countFromWorker{0};
        std::thread t([&] {
            fromWorker = l.GetItemText(2, 2);
            countFromWorker = l.GetSelectedCount();
        });
        while (countFromWorker == 0)
            mfc::test::Pump(5);
        t.join();
        EXPECT_EQ(fromWorker, "9.0.0.1");
        EXPECT_EQ(countFromWorker, 2);

        EXPECT_TRUE(l.DeleteAllItems());
        EXPECT_EQ(l.GetItemCount(), 0);
    });
}

TEST(ListCtrl, SortItemsComputesTheWholeOrderFirstAndKeepsRowsWhole)
{
    mfc::test::ScopedHooks hooks;
    ListDlg dlg;
    g_sortDlg = &dlg;
    dlg.Run([](ListDlg& d) {
        CListCtrl& l = d.m_list;
        d.Fill({{"00:01", "10.0.0.1"}, {"00:02", "192.168.1.2"}, {"00:03", "9.0.0.1"}, {"00:04", "10.0.0.0"}});
        l.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED); // "00:02"
        d.notes.clear();
        ASSERT_TRUE(l.SortItems(&ByIp, 1));
        std::vector<std::string> macs;
        for (int i = 0; i < l.GetItemCount(); ++i)
            macs.push_back(l.GetItemText(i, 1).str());
        EXPECT_EQ(macs, (std::vector<std::string>{"00:03", "00:04", "00:01", "00:02"}));
        EXPECT_EQ(l.GetItemData(0), 2u); // data travels with its row
        LVITEM it{};
        it.mask = LVIF_IMAGE;
        it.iItem = 0;
        l.GetItem(&it);
        EXPECT_EQ(it.iImage, 0);                        // row "00:03" was inserted with image 2 % 2
        EXPECT_EQ(l.GetNextItem(-1, LVNI_SELECTED), 3); // the selection moved with its row
        EXPECT_TRUE(d.Of(LVN_ITEMCHANGED).empty());
        // Renumber the data to the new rows and sort descending.
        for (int i = 0; i < l.GetItemCount(); ++i)
            l.SetItemData(i, static_cast<DWORD_PTR>(i));
        l.SortItems(&ByIp, static_cast<DWORD_PTR>(-1));
        EXPECT_EQ(l.GetItemText(0, 2), "192.168.1.2");
        EXPECT_EQ(l.GetItemText(3, 2), "9.0.0.1");
    });
    g_sortDlg = nullptr;
}

TEST(ListCtrl, ColumnOrderWidthsAndHeaderNotifications)
{
    mfc::test::ScopedHooks hooks;
    ListDlg dlg;
    dlg.Run([](ListDlg& d) {
        CListCtrl& l = d.m_list;
        CHeaderCtrl* h = l.GetHeaderCtrl();
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->GetDlgCtrlID(), IDC_HEADER);
        EXPECT_EQ(h->GetItemCount(), 3);
        int order[3];
        ASSERT_TRUE(l.GetColumnOrderArray(order));
        EXPECT_EQ(std::vector<int>(order, order + 3), (std::vector<int>{0, 1, 2}));
        mfc::test::MoveColumn(&l, 2, 0); // the user drags "IP Address" to the front
        ASSERT_TRUE(h->GetOrderArray(order, 3));
        EXPECT_EQ(std::vector<int>(order, order + 3), (std::vector<int>{2, 0, 1}));
        int two[2];
        EXPECT_TRUE(h->GetOrderArray(two, 2)); // the first positions only
        EXPECT_EQ(two[0], 2);
        EXPECT_FALSE(h->GetOrderArray(order, 4));
        int back[3] = {0, 1, 2};
        ASSERT_TRUE(l.SetColumnOrderArray(3, back));
        ASSERT_TRUE(l.GetColumnOrderArray(order));
        EXPECT_EQ(order[0], 0);

        HDITEM hi{};
        char text[8];
        hi.mask = HDI_TEXT | HDI_WIDTH;
        hi.pszText = text;
        hi.cchTextMax = sizeof(text);
        ASSERT_TRUE(h->GetItem(1, &hi));
        EXPECT_STREQ(text, "MAC Add"); // cut to the buffer
        EXPECT_EQ(hi.cxy, 110);

        l.SetColumnWidth(2, 77); // programmatic: no end-of-track notice
        EXPECT_TRUE(d.Of(HDN_ENDTRACKA).empty());
        mfc::test::DragColumnWidth(&l, 2, 130);
        auto tracks = d.Of(HDN_ENDTRACKA);
        ASSERT_EQ(tracks.size(), 1u);
        EXPECT_EQ(tracks[0].id, static_cast<UINT_PTR>(IDC_HEADER));
        EXPECT_EQ(tracks[0].item, 2);
        EXPECT_EQ(tracks[0].width, 130);
        EXPECT_EQ(l.GetColumnWidth(2), 130);

        mfc::test::ClickHeader(&l, 1);
        auto clicks = d.Of(HDN_ITEMCLICKA);
        ASSERT_EQ(clicks.size(), 1u);
        EXPECT_EQ(clicks[0].id, static_cast<UINT_PTR>(IDC_HEADER));
        EXPECT_EQ(clicks[0].item, 1);
        auto cols = d.Of(LVN_COLUMNCLICK);
        ASSERT_EQ(cols.size(), 1u);
        EXPECT_EQ(cols[0].id, static_cast<UINT_PTR>(IDC_LIST));
        EXPECT_EQ(cols[0].sub, 1);
    });
}

TEST(ListCtrl, ClicksArriveAfterTheSelectionChangedAndContextMenuPoints)
{
    mfc::test::ScopedHooks hooks;
    ListDlg dlg;
    dlg.Run([](ListDlg& d) {
        CListCtrl& l = d.m_list;
        d.Fill({{"00:01", "10.0.0.1"}, {"00:02", "10.0.0.2"}, {"00:03", "10.0.0.3"}});
        mfc::test::ClickListRow(&l, 1);
        auto clicks = d.Of(NM_CLICK);
        ASSERT_EQ(clicks.size(), 1u);
        EXPECT_EQ(clicks[0].item, 1);
        EXPECT_EQ(clicks[0].selectedAtTheTime, 1);
        mfc::test::ClickListRow(&l, 2, /*ctrl=*/true);
        EXPECT_EQ(l.GetSelectedCount(), 2);
        EXPECT_EQ(d.Of(NM_CLICK).back().selectedAtTheTime, 2);
        mfc::test::ClickListRow(&l, -1);
        EXPECT_EQ(d.Of(NM_CLICK).back().item, -1);

        d.notes.clear();
        mfc::test::DoubleClickListRow(&l, 0);
        EXPECT_EQ(d.Of(NM_DBLCLK).size(), 1u);
        EXPECT_EQ(d.Of(NM_CLICK).size(), 1u); // the second release is not another click
        EXPECT_EQ(d.Of(NM_DBLCLK)[0].item, 0);

        d.menus.clear();
        mfc::test::RightClickListRow(&l, 2);
        auto r = d.Of(NM_RCLICK);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].item, 2);
        ASSERT_EQ(d.menus.size(), 1u);
        // The point is in screen coordinates; in list client coordinates it lies
        // below the header.
        CPoint p = d.menus[0].second;
        l.ScreenToClient(&p);
        CRect hr;
        l.GetHeaderCtrl()->GetClientRect(&hr);
        EXPECT_GT(p.y, hr.bottom);
        CRect lr;
        l.GetClientRect(&lr);
        EXPECT_TRUE(lr.PtInRect(p));
        EXPECT_EQ(l.HitTest(p), 2);

        // A right click on the header: the point lies strictly inside the
        // header's client rectangle once converted to list coordinates.
        d.menus.clear();
        auto* view = qobject_cast<QTreeView*>(mfc::WidgetOf(l.m_hWnd));
        QHeaderView* header = view->header();
        QPoint local(20, header->height() / 2);
        QContextMenuEvent ce(QContextMenuEvent::Mouse, local, header->viewport()->mapToGlobal(local));
        QCoreApplication::sendEvent(header->viewport(), &ce);
        ASSERT_EQ(d.menus.size(), 1u);
        EXPECT_EQ(d.menus[0].first, l.GetHeaderCtrl()->m_hWnd);
        p = d.menus[0].second;
        l.ScreenToClient(&p);
        EXPECT_GT(p.x, 0);
        EXPECT_GT(p.y, 0);
        EXPECT_LT(p.x, hr.right);
        EXPECT_LT(p.y, hr.bottom);
    });
}

TEST(ListCtrl, LabelEditingAsksTheParentForTheResult)
{
    mfc::test::ScopedHooks hooks;
    ListDlg dlg;
    dlg.Run([](ListDlg& d) {
        CListCtrl& l = d.m_list;
        d.Fill({{"00:01", "10.0.0.1"}});
        l.SetItemText(0, 0, "17");
        std::string seen;
        d.onEndEdit = [&](NMLVDISPINFO* di) -> LRESULT {
            seen = di->item.pszText ? di->item.pszText : "(cancelled)";
            l.SetItemText(di->item.iItem, 0, "42"); // the handler decides the text
            return FALSE;                           // and refuses the list's own result
        };
        CEdit* e = l.EditLabel(0);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->GetLimitText(), 5u); // limited in the begin handler
        mfc::test::TypeText(e, "1234567");
        mfc::test::PressKey(e, VK_RETURN); // ends the edit, not the dialog
        EXPECT_EQ(seen, "12345");
        EXPECT_EQ(l.GetItemText(0, 0), "42");
        EXPECT_EQ(l.GetEditControl(), nullptr);

        e = l.EditLabel(0);
        ASSERT_NE(e, nullptr);
        mfc::test::PressKey(e, VK_ESCAPE); // cancels the edit only
        EXPECT_EQ(seen, "(cancelled)");
        EXPECT_NE(mfc::DialogWidgetOf(d), nullptr);
        EXPECT_TRUE(mfc::DialogWidgetOf(d)->isVisible());
    });
}

TEST(ListCtrl, ImageListAttachAndDetach)
{
    mfc::test::ScopedHooks hooks;
    ListDlg dlg;
    CImageList images;
    ASSERT_TRUE(images.Create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 3));
    EXPECT_EQ(images.Add(::LoadIcon(nullptr, MAKEINTRESOURCE(136))), 0);
    EXPECT_EQ(images.Add(::LoadIcon(nullptr, MAKEINTRESOURCE(138))), 1);
    dlg.Run([&](ListDlg& d) {
        CListCtrl& l = d.m_list;
        EXPECT_EQ(l.SetImageList(&images, LVSIL_SMALL), nullptr);
        d.Fill({{"00:01", "10.0.0.1"}, {"00:02", "10.0.0.2"}});
        auto* view = qobject_cast<QTreeView*>(mfc::WidgetOf(l.m_hWnd));
        ASSERT_NE(view, nullptr);
        EXPECT_FALSE(view->model()->index(1, 0).data(Qt::DecorationRole).isNull());
        LVITEM it{};
        it.mask = LVIF_IMAGE;
        it.iItem = 1;
        it.iImage = 0;
        EXPECT_TRUE(l.SetItem(&it));
        it.iImage = -5;
        l.GetItem(&it);
        EXPECT_EQ(it.iImage, 0);
        // Detaching through the message, as a closing dialog does.
        LRESULT old = l.SendMessage(LVM_SETIMAGELIST, LVSIL_SMALL, 0);
        EXPECT_EQ(reinterpret_cast<HIMAGELIST>(old), images.GetSafeHandle());
        EXPECT_TRUE(view->model()->index(1, 0).data(Qt::DecorationRole).isNull());
    });
}
