// The list view in report mode over QTreeView with our own table model. The
// model keeps a UTF-8 copy of every cell so reads need no conversion.
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <cstring>
#include <numeric>
#include <set>

#include "internal.h"

namespace mfc::detail {

namespace {
std::set<HIMAGELIST>& ImageLists()
{
    static auto* s = new std::set<HIMAGELIST>; // kept to the end of the process
    return *s;
}
const std::string kEmpty;
} // namespace

bool IsImageList(HIMAGELIST h) { return h && ImageLists().count(h); }

int ListModel::rowCount(const QModelIndex& p) const { return p.isValid() ? 0 : static_cast<int>(rows.size()); }
int ListModel::columnCount(const QModelIndex& p) const { return p.isValid() ? 0 : static_cast<int>(cols.size()); }

static Qt::Alignment AlignOf(int fmt)
{
    switch (fmt & 3) {
    case LVCFMT_RIGHT:
        return Qt::AlignRight | Qt::AlignVCenter;
    case LVCFMT_CENTER:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

QVariant ListModel::data(const QModelIndex& idx, int role) const
{
    if (!idx.isValid() || idx.row() >= static_cast<int>(rows.size()))
        return {};
    const Row& r = rows[static_cast<size_t>(idx.row())];
    switch (role) {
    case Qt::DisplayRole:
        return Q(Cell(idx.row(), idx.column()));
    case Qt::DecorationRole:
        if (idx.column() == 0 && r.image >= 0 && IsImageList(small)) {
            auto* il = reinterpret_cast<ImageListData*>(small);
            if (r.image < static_cast<int>(il->icons.size()))
                return il->icons[static_cast<size_t>(r.image)];
        }
        return {};
    case Qt::TextAlignmentRole:
        // The first column is always left-aligned, as in Windows.
        return idx.column() == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                 : QVariant(AlignOf(cols[static_cast<size_t>(idx.column())].fmt));
    default:
        return {};
    }
}

QVariant ListModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o != Qt::Horizontal || section < 0 || section >= static_cast<int>(cols.size()))
        return {};
    if (role == Qt::DisplayRole)
        return Q(cols[static_cast<size_t>(section)].text);
    if (role == Qt::TextAlignmentRole)
        return QVariant(AlignOf(cols[static_cast<size_t>(section)].fmt));
    return {};
}

Qt::ItemFlags ListModel::flags(const QModelIndex& idx) const
{
    return idx.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

const std::string& ListModel::Cell(int r, int c) const
{
    if (r < 0 || c < 0 || r >= static_cast<int>(rows.size()))
        return kEmpty;
    const auto& t = rows[static_cast<size_t>(r)].text;
    return c < static_cast<int>(t.size()) ? t[static_cast<size_t>(c)] : kEmpty;
}

bool ListModel::SetCell(int r, int c, const std::string& s)
{
    auto& t = rows[static_cast<size_t>(r)].text;
    if (c < static_cast<int>(t.size()) && t[static_cast<size_t>(c)] == s)
        return false;
    if (c >= static_cast<int>(t.size())) {
        if (s.empty())
            return false;
        t.resize(static_cast<size_t>(c) + 1);
    }
    t[static_cast<size_t>(c)] = s;
    if (c < static_cast<int>(cols.size()))
        emit dataChanged(index(r, c), index(r, c), {Qt::DisplayRole});
    return true;
}

void ListModel::InsertCol(int at, Col col)
{
    beginInsertColumns(QModelIndex(), at, at);
    cols.insert(cols.begin() + at, std::move(col));
    for (auto& r : rows)
        if (static_cast<int>(r.text.size()) > at)
            r.text.insert(r.text.begin() + at, std::string());
    endInsertColumns();
}

void ListModel::RemoveCol(int at)
{
    beginRemoveColumns(QModelIndex(), at, at);
    cols.erase(cols.begin() + at);
    for (auto& r : rows)
        if (static_cast<int>(r.text.size()) > at)
            r.text.erase(r.text.begin() + at);
    endRemoveColumns();
}

void ListModel::InsertRow(int at, Row row)
{
    beginInsertRows(QModelIndex(), at, at);
    rows.insert(rows.begin() + at, std::move(row));
    endInsertRows();
}

void ListModel::RemoveRow(int at)
{
    beginRemoveRows(QModelIndex(), at, at);
    rows.erase(rows.begin() + at);
    endRemoveRows();
}

void ListModel::Clear()
{
    beginResetModel();
    rows.clear();
    endResetModel();
}

void ListModel::Permute(const std::vector<int>& order)
{
    emit layoutAboutToBeChanged();
    std::vector<int> newOf(order.size());
    for (size_t n = 0; n < order.size(); ++n)
        newOf[static_cast<size_t>(order[n])] = static_cast<int>(n);
    std::vector<Row> next;
    next.reserve(rows.size());
    for (int o : order)
        next.push_back(std::move(rows[static_cast<size_t>(o)]));
    rows = std::move(next);
    QModelIndexList from = persistentIndexList(), to;
    for (const QModelIndex& i : from)
        to.push_back(index(newOf[static_cast<size_t>(i.row())], i.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged();
}

void ListModel::ImagesChanged()
{
    if (!rows.empty() && !cols.empty())
        emit dataChanged(index(0, 0), index(static_cast<int>(rows.size()) - 1, 0));
}

// ---------------------------------------------------------------- widgets

VxHeader::VxHeader(VxListView* list) : QHeaderView(Qt::Horizontal, list)
{
    setStretchLastSection(false);
    setMinimumSectionSize(0);
    setDefaultSectionSize(60);
    setSectionResizeMode(QHeaderView::Interactive);
    setHighlightSections(false);
    connect(this, &QHeaderView::sectionResized, this, [this](int logical, int, int) {
        if (dragging_)
            if (std::find(pending_.begin(), pending_.end(), logical) == pending_.end())
                pending_.push_back(logical);
    });
    connect(this, &QHeaderView::sectionClicked, this, [this, list](int logical) {
        NMHEADERA nh{};
        HDITEMA item{};
        nh.iItem = logical;
        nh.iButton = 0;
        nh.pitem = &item;
        NotifyParent(this, &nh.hdr, HDN_ITEMCLICKA);
        NMLISTVIEW nl{};
        nl.iItem = -1;
        nl.iSubItem = logical;
        NotifyParent(list, &nl.hdr, LVN_COLUMNCLICK);
    });
}

void VxHeader::mousePressEvent(QMouseEvent* e)
{
    dragging_ = e->button() == Qt::LeftButton;
    QHeaderView::mousePressEvent(e);
}

void VxHeader::mouseReleaseEvent(QMouseEvent* e)
{
    QHeaderView::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton)
        dragging_ = false;
    std::vector<int> done;
    done.swap(pending_);
    for (int logical : done) {
        HDITEMA item{};
        item.mask = HDI_WIDTH;
        item.cxy = sectionSize(logical);
        NMHEADERA nh{};
        nh.iItem = logical;
        nh.pitem = &item;
        NotifyParent(this, &nh.hdr, HDN_ENDTRACKA);
    }
}

VxListView::VxListView(QWidget* parent, DWORD style) : QTreeView(parent)
{
    model_ = new ListModel;
    model_->setParent(this);
    header_ = new VxHeader(this);
    setHeader(header_);
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode((style & LVS_SINGLESEL) ? QAbstractItemView::SingleSelection
                                             : QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false); // the owner sorts; this also makes the header unclickable
    setTextElideMode(Qt::ElideRight);
    header_->setSectionsMovable(false);
    header_->setFirstSectionMovable(true); // with drag and drop any column may go anywhere, the first too
    // Header buttons are clickable (HDN_ITEMCLICK, LVN_COLUMNCLICK) unless the style says otherwise.
    header_->setSectionsClickable(!(style & LVS_NOSORTHEADER));
    if (style & LVS_NOCOLUMNHEADER)
        header_->hide();
    if (!(style & WS_BORDER))
        setFrameShape(QFrame::NoFrame);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& sel, const QItemSelection& desel) {
                WindowData* d = DataOf(this);
                if (!d || d->quiet)
                    return;
                std::set<int> on, off;
                for (const auto& r : sel)
                    for (int i = r.top(); i <= r.bottom(); ++i)
                        on.insert(i);
                for (const auto& r : desel)
                    for (int i = r.top(); i <= r.bottom(); ++i)
                        off.insert(i);
                auto send = [this](int row, UINT now, UINT before) {
                    if (row < 0 || row >= model_->rowCount())
                        return;
                    NMLISTVIEW nl{};
                    nl.iItem = row;
                    nl.uChanged = LVIF_STATE;
                    nl.uNewState = now;
                    nl.uOldState = before;
                    nl.lParam = model_->rows[static_cast<size_t>(row)].data;
                    NotifyParent(this, &nl.hdr, LVN_ITEMCHANGED);
                };
                for (int r : off)
                    if (!on.count(r))
                        send(r, 0, LVIS_SELECTED);
                for (int r : on)
                    if (!off.count(r))
                        send(r, LVIS_SELECTED, 0);
            });
}

int VxListView::RowAt(const QPoint& p) const
{
    QModelIndex i = indexAt(p);
    return i.isValid() ? i.row() : -1;
}

bool VxListView::IsSelected(int row) const
{
    return row >= 0 && row < model_->rowCount() && model_->columnCount() > 0 &&
        selectionModel()->isSelected(model_->index(row, 0));
}

namespace {
void SendActivate(VxListView* v, UINT code, const QPoint& pos, Qt::KeyboardModifiers mods)
{
    NMITEMACTIVATE na{};
    QModelIndex i = v->indexAt(pos);
    na.iItem = i.isValid() ? i.row() : -1;
    na.iSubItem = i.isValid() ? i.column() : 0;
    na.ptAction = POINT{pos.x(), pos.y() + (v->header()->isHidden() ? 0 : v->header()->height())};
    if (na.iItem >= 0)
        na.lParam = v->model_->rows[static_cast<size_t>(na.iItem)].data;
    if (mods & Qt::ControlModifier)
        na.uKeyFlags |= 0x0001; // LVKF_CONTROL
    if (mods & Qt::ShiftModifier)
        na.uKeyFlags |= 0x0002; // LVKF_SHIFT
    NotifyParent(v, &na.hdr, code);
}
} // namespace

void VxListView::mousePressEvent(QMouseEvent* e)
{
    QPointer<VxListView> self(this);
    QTreeView::mousePressEvent(e);
    if (self && e->button() == Qt::RightButton)
        SendActivate(this, NM_RCLICK, e->position().toPoint(), e->modifiers());
}

void VxListView::mouseReleaseEvent(QMouseEvent* e)
{
    QPointer<VxListView> self(this);
    QTreeView::mouseReleaseEvent(e);
    if (!self || e->button() != Qt::LeftButton)
        return;
    if (skipClick_) {
        skipClick_ = false;
        return;
    }
    SendActivate(this, NM_CLICK, e->position().toPoint(), e->modifiers());
}

void VxListView::mouseDoubleClickEvent(QMouseEvent* e)
{
    QPointer<VxListView> self(this);
    QTreeView::mouseDoubleClickEvent(e);
    if (!self || e->button() != Qt::LeftButton)
        return;
    skipClick_ = true;
    SendActivate(this, NM_DBLCLK, e->position().toPoint(), e->modifiers());
}

void VxListView::keyPressEvent(QKeyEvent* e)
{
    WindowData* d = DataOf(this);
    if (e->key() == Qt::Key_F2 && d && (d->style & LVS_EDITLABELS)) {
        QModelIndex c = currentIndex();
        if (c.isValid())
            BeginEdit(c.row());
        return;
    }
    QTreeView::keyPressEvent(e);
}

void VxListView::BeginEdit(int row)
{
    if (editor_)
        EndEdit(true);
    if (row < 0 || row >= model_->rowCount() || model_->columnCount() == 0)
        return;
    scrollTo(model_->index(row, 0));
    auto* ed = new QLineEdit(viewport());
    new WindowData(ed, Kind::Edit, 0, ES_AUTOHSCROLL, 0);
    ed->setText(Q(model_->Cell(row, 0)));
    ed->setGeometry(visualRect(model_->index(row, 0)));
    editor_ = ed;
    editRow_ = row;
    std::string text = model_->Cell(row, 0);
    NMLVDISPINFOA di{};
    di.item.mask = LVIF_TEXT | LVIF_PARAM;
    di.item.iItem = row;
    di.item.pszText = text.data();
    di.item.lParam = model_->rows[static_cast<size_t>(row)].data;
    if (NotifyParent(this, &di.hdr, LVN_BEGINLABELEDITA) != 0 || !editor_) {
        if (editor_)
            editor_->deleteLater();
        editor_ = nullptr;
        editRow_ = -1;
        return;
    }
    ed->installEventFilter(this);
    connect(ed, &QLineEdit::editingFinished, this, [this, ed] {
        if (editor_ == ed)
            EndEdit(true);
    });
    ed->show();
    ed->setFocus();
    ed->selectAll();
}

void VxListView::EndEdit(bool commit)
{
    if (!editor_ || ending_)
        return;
    ending_ = true;
    QPointer<QLineEdit> ed = editor_;
    int row = editRow_;
    std::string text = S(ed->text());
    NMLVDISPINFOA di{};
    di.item.mask = LVIF_TEXT | LVIF_PARAM;
    di.item.iItem = row;
    di.item.pszText = commit ? text.data() : nullptr;
    di.item.cchTextMax = static_cast<int>(text.size());
    if (row >= 0 && row < model_->rowCount())
        di.item.lParam = model_->rows[static_cast<size_t>(row)].data;
    editor_ = nullptr;
    editRow_ = -1;
    LRESULT accept = NotifyParent(this, &di.hdr, LVN_ENDLABELEDITA);
    if (commit && accept && row >= 0 && row < model_->rowCount())
        model_->SetCell(row, 0, text);
    if (ed) {
        ed->hide();
        ed->deleteLater();
    }
    ending_ = false;
    setFocus();
}

bool VxListView::eventFilter(QObject* o, QEvent* e)
{
    if (o == editor_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Escape) {
            EndEdit(false);
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            EndEdit(true);
            return true;
        }
    }
    return QTreeView::eventFilter(o, e);
}

} // namespace mfc::detail

using namespace mfc::detail;

namespace {
VxListView* LV(HWND h) { return dynamic_cast<VxListView*>(Live(h)); }
} // namespace

// ---------------------------------------------------------------- CImageList

CImageList::~CImageList() { DeleteImageList(); }

BOOL CImageList::Create(int cx, int cy, UINT, int, int)
{
    DeleteImageList();
    auto* d = new ImageListData;
    d->cx = cx;
    d->cy = cy;
    m_hImageList = reinterpret_cast<HIMAGELIST>(d);
    ImageLists().insert(m_hImageList);
    return TRUE;
}
BOOL CImageList::DeleteImageList()
{
    if (!m_hImageList)
        return FALSE;
    ImageLists().erase(m_hImageList);
    delete reinterpret_cast<ImageListData*>(m_hImageList);
    m_hImageList = nullptr;
    return TRUE;
}
int CImageList::Add(HICON hIcon)
{
    if (!IsImageList(m_hImageList))
        return -1;
    auto* d = reinterpret_cast<ImageListData*>(m_hImageList);
    d->icons.push_back(mfc::IconOf(hIcon));
    return static_cast<int>(d->icons.size()) - 1;
}
int CImageList::GetImageCount() const
{
    return IsImageList(m_hImageList) ? static_cast<int>(reinterpret_cast<ImageListData*>(m_hImageList)->icons.size())
                                     : 0;
}
CImageList* CImageList::FromHandle(HIMAGELIST h)
{
    // Temporary wrappers, one per handle, kept for the process.
    static std::map<HIMAGELIST, std::unique_ptr<CImageList>> temps;
    if (!h)
        return nullptr;
    auto& p = temps[h];
    if (!p) {
        p = std::make_unique<CImageList>();
    }
    p->m_hImageList = nullptr; // never owns
    p->m_hImageList = h;
    return p.get();
}

// ---------------------------------------------------------------- CHeaderCtrl

int CHeaderCtrl::GetItemCount() const
{
    return OnGui([&] {
        auto* h = qobject_cast<QHeaderView*>(Live(m_hWnd));
        return h ? h->count() : -1;
    });
}
BOOL CHeaderCtrl::GetItem(int pos, HDITEM* it) const
{
    return OnGui([&]() -> BOOL {
        auto* h = qobject_cast<QHeaderView*>(Live(m_hWnd));
        auto* lv = h ? dynamic_cast<VxListView*>(h->parentWidget()) : nullptr;
        if (!lv || !it || pos < 0 || pos >= h->count())
            return FALSE;
        const auto& col = lv->model_->cols[static_cast<size_t>(pos)];
        if (it->mask & HDI_WIDTH)
            it->cxy = h->sectionSize(pos);
        if (it->mask & HDI_TEXT)
            CopyOut(col.text, it->pszText, it->cchTextMax);
        if (it->mask & HDI_FORMAT)
            it->fmt = col.fmt;
        if (it->mask & HDI_ORDER)
            it->iOrder = h->visualIndex(pos);
        return TRUE;
    });
}
BOOL CHeaderCtrl::GetOrderArray(LPINT arr, int count) const
{
    return OnGui([&]() -> BOOL {
        auto* h = qobject_cast<QHeaderView*>(Live(m_hWnd));
        if (!h || !arr || count < 0 || count > h->count())
            return FALSE;
        for (int v = 0; v < count; ++v)
            arr[v] = h->logicalIndex(v);
        return TRUE;
    });
}
BOOL CHeaderCtrl::SetOrderArray(int count, LPINT arr)
{
    return OnGui([&]() -> BOOL {
        auto* h = qobject_cast<QHeaderView*>(Live(m_hWnd));
        if (!h || !arr || count != h->count())
            return FALSE;
        std::vector<int> check(arr, arr + count);
        std::sort(check.begin(), check.end());
        for (int i = 0; i < count; ++i)
            if (check[static_cast<size_t>(i)] != i)
                return FALSE;
        for (int v = 0; v < count; ++v)
            h->moveSection(h->visualIndex(arr[v]), v);
        return TRUE;
    });
}

// ---------------------------------------------------------------- CListCtrl

BOOL CListCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl("SysListView32", "", style, rect, parent, id);
}

DWORD CListCtrl::GetExtendedStyle() const
{
    auto* v = LV(m_hWnd);
    return v ? v->exStyle_ : 0;
}
DWORD CListCtrl::SetExtendedStyle(DWORD s)
{
    return OnGui([&]() -> DWORD {
        auto* v = LV(m_hWnd);
        if (!v)
            return 0;
        DWORD old = v->exStyle_;
        v->exStyle_ = s;
        v->header_->setSectionsMovable(s & LVS_EX_HEADERDRAGDROP);
        v->setAllColumnsShowFocus(true);
        v->setStyleSheet(
            (s & LVS_EX_GRIDLINES)
                ? "QTreeView::item { border-right: 1px solid palette(mid); border-bottom: 1px solid palette(mid); }"
                : "");
        return old;
    });
}
CImageList* CListCtrl::SetImageList(CImageList* il, int type)
{
    HIMAGELIST old = SetImageList(il ? il->m_hImageList : nullptr, type);
    return CImageList::FromHandle(old);
}
HIMAGELIST CListCtrl::SetImageList(HIMAGELIST h, int type)
{
    return OnGui([&]() -> HIMAGELIST {
        auto* v = LV(m_hWnd);
        if (!v || type != LVSIL_SMALL)
            return nullptr;
        HIMAGELIST old = v->model_->small;
        v->model_->small = h;
        if (IsImageList(h)) {
            auto* d = reinterpret_cast<ImageListData*>(h);
            v->setIconSize(QSize(d->cx, d->cy));
        }
        v->model_->ImagesChanged();
        return old;
    });
}
CImageList* CListCtrl::GetImageList(int type) const
{
    auto* v = LV(m_hWnd);
    return v && type == LVSIL_SMALL ? CImageList::FromHandle(v->model_->small) : nullptr;
}
CHeaderCtrl* CListCtrl::GetHeaderCtrl() const
{
    auto* v = LV(m_hWnd);
    return v ? static_cast<CHeaderCtrl*>(CWnd::FromHandle(HandleOf(v->header()))) : nullptr;
}

int CListCtrl::InsertColumn(int nCol, LPCTSTR text, int fmt, int width, int)
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        if (!v || nCol < 0)
            return -1;
        int at = std::min(nCol, v->model_->columnCount());
        Quiet q(DataOf(m_hWnd));
        v->model_->InsertCol(at, ListModel::Col{text ? text : "", fmt});
        v->header_->resizeSection(at, width >= 0 ? width : 0);
        return at;
    });
}
int CListCtrl::InsertColumn(int nCol, const LVCOLUMN* c)
{
    if (!c)
        return -1;
    return InsertColumn(nCol, (c->mask & LVCF_TEXT) ? c->pszText : "", (c->mask & LVCF_FMT) ? c->fmt : LVCFMT_LEFT,
                        (c->mask & LVCF_WIDTH) ? c->cx : 0);
}
BOOL CListCtrl::DeleteColumn(int nCol)
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || nCol < 0 || nCol >= v->model_->columnCount())
            return FALSE;
        Quiet q(DataOf(m_hWnd));
        v->model_->RemoveCol(nCol);
        return TRUE;
    });
}
BOOL CListCtrl::GetColumn(int nCol, LVCOLUMN* c) const
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || !c || nCol < 0 || nCol >= v->model_->columnCount())
            return FALSE;
        const auto& col = v->model_->cols[static_cast<size_t>(nCol)];
        if (c->mask & LVCF_TEXT)
            CopyOut(col.text, c->pszText, c->cchTextMax);
        if (c->mask & LVCF_FMT)
            c->fmt = col.fmt;
        if (c->mask & LVCF_WIDTH)
            c->cx = v->header_->sectionSize(nCol);
        if (c->mask & LVCF_SUBITEM)
            c->iSubItem = nCol;
        if (c->mask & LVCF_ORDER)
            c->iOrder = v->header_->visualIndex(nCol);
        return TRUE;
    });
}
int CListCtrl::GetColumnWidth(int nCol) const
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        return v && nCol >= 0 && nCol < v->model_->columnCount() ? v->header_->sectionSize(nCol) : 0;
    });
}
BOOL CListCtrl::SetColumnWidth(int nCol, int cx)
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || nCol < 0 || nCol >= v->model_->columnCount())
            return FALSE;
        if (cx == LVSCW_AUTOSIZE || cx == LVSCW_AUTOSIZE_USEHEADER) {
            int w = v->ColumnHint(nCol);
            if (cx == LVSCW_AUTOSIZE_USEHEADER)
                w = std::max(w, v->header_->sectionSizeHint(nCol));
            v->header_->resizeSection(nCol, w);
        } else {
            v->header_->resizeSection(nCol, std::max(cx, 0));
        }
        return TRUE;
    });
}
BOOL CListCtrl::GetColumnOrderArray(LPINT arr, int count) const
{
    CHeaderCtrl* h = GetHeaderCtrl();
    if (!h)
        return FALSE;
    if (count < 0)
        count = h->GetItemCount();
    return h->GetOrderArray(arr, count);
}
BOOL CListCtrl::SetColumnOrderArray(int count, LPINT arr)
{
    CHeaderCtrl* h = GetHeaderCtrl();
    return h ? h->SetOrderArray(count, arr) : FALSE;
}

int CListCtrl::InsertItem(int nItem, LPCTSTR text) { return InsertItem(nItem, text, -1); }
int CListCtrl::InsertItem(int nItem, LPCTSTR text, int image)
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        if (!v || nItem < 0)
            return -1;
        int at = std::min(nItem, v->model_->rowCount());
        ListModel::Row row;
        row.text.push_back(text ? text : "");
        row.image = image;
        Quiet q(DataOf(m_hWnd));
        v->model_->InsertRow(at, std::move(row));
        return at;
    });
}
int CListCtrl::InsertItem(const LVITEM* it)
{
    if (!it)
        return -1;
    int i = InsertItem(it->iItem, (it->mask & LVIF_TEXT) ? it->pszText : "", (it->mask & LVIF_IMAGE) ? it->iImage : -1);
    if (i >= 0 && (it->mask & LVIF_PARAM))
        SetItemData(i, static_cast<DWORD_PTR>(it->lParam));
    if (i >= 0 && (it->mask & LVIF_STATE))
        SetItemState(i, it->state, it->stateMask);
    return i;
}
BOOL CListCtrl::DeleteItem(int nItem)
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || nItem < 0 || nItem >= v->model_->rowCount())
            return FALSE;
        if (v->editRow_ == nItem)
            v->EndEdit(false);
        Quiet q(DataOf(m_hWnd));
        v->model_->RemoveRow(nItem);
        return TRUE;
    });
}
BOOL CListCtrl::DeleteAllItems()
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v)
            return FALSE;
        if (v->editRow_ >= 0)
            v->EndEdit(false);
        Quiet q(DataOf(m_hWnd));
        v->model_->Clear();
        return TRUE;
    });
}
int CListCtrl::GetItemCount() const
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        return v ? v->model_->rowCount() : 0;
    });
}
BOOL CListCtrl::SetItemCount(int n)
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v)
            return FALSE;
        v->model_->rows.reserve(static_cast<size_t>(std::max(n, 0)));
        return TRUE;
    });
}
BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCTSTR text)
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || nItem < 0 || nItem >= v->model_->rowCount() || nSubItem < 0)
            return FALSE;
        if (nSubItem > 0 && nSubItem >= v->model_->columnCount())
            return FALSE;
        v->model_->SetCell(nItem, nSubItem, text ? text : "");
        return TRUE;
    });
}
CString CListCtrl::GetItemText(int nItem, int nSubItem) const
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        return v ? CString(v->model_->Cell(nItem, nSubItem)) : CString();
    });
}
int CListCtrl::GetItemText(int nItem, int nSubItem, LPTSTR buf, int len) const
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        if (!v)
            return 0;
        return CopyOut(v->model_->Cell(nItem, nSubItem), buf, len);
    });
}
BOOL CListCtrl::GetItem(LVITEM* it) const
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || !it || it->iItem < 0 || it->iItem >= v->model_->rowCount())
            return FALSE;
        const auto& r = v->model_->rows[static_cast<size_t>(it->iItem)];
        if (it->mask & LVIF_TEXT)
            CopyOut(v->model_->Cell(it->iItem, it->iSubItem), it->pszText, it->cchTextMax);
        if (it->mask & LVIF_IMAGE)
            it->iImage = r.image;
        if (it->mask & LVIF_PARAM)
            it->lParam = r.data;
        if (it->mask & LVIF_STATE) {
            UINT s = 0;
            if (v->IsSelected(it->iItem))
                s |= LVIS_SELECTED;
            if (v->currentIndex().isValid() && v->currentIndex().row() == it->iItem)
                s |= LVIS_FOCUSED;
            it->state = s & it->stateMask;
        }
        return TRUE;
    });
}
BOOL CListCtrl::SetItem(const LVITEM* it)
{
    if (!it)
        return FALSE;
    BOOL ok = OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || it->iItem < 0 || it->iItem >= v->model_->rowCount())
            return FALSE;
        auto& r = v->model_->rows[static_cast<size_t>(it->iItem)];
        if (it->mask & LVIF_TEXT)
            v->model_->SetCell(it->iItem, it->iSubItem, it->pszText ? it->pszText : "");
        if ((it->mask & LVIF_IMAGE) && it->iSubItem == 0 && r.image != it->iImage) {
            r.image = it->iImage;
            if (v->model_->columnCount() > 0)
                emit v->model_->dataChanged(v->model_->index(it->iItem, 0), v->model_->index(it->iItem, 0));
        }
        if (it->mask & LVIF_PARAM)
            r.data = it->lParam;
        return TRUE;
    });
    if (ok && (it->mask & LVIF_STATE))
        SetItemState(it->iItem, it->state, it->stateMask);
    return ok;
}
BOOL CListCtrl::SetItemData(int nItem, DWORD_PTR d)
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || nItem < 0 || nItem >= v->model_->rowCount())
            return FALSE;
        v->model_->rows[static_cast<size_t>(nItem)].data = static_cast<LPARAM>(d);
        return TRUE;
    });
}
DWORD_PTR CListCtrl::GetItemData(int nItem) const
{
    return OnGui([&]() -> DWORD_PTR {
        auto* v = LV(m_hWnd);
        if (!v || nItem < 0 || nItem >= v->model_->rowCount())
            return 0;
        return static_cast<DWORD_PTR>(v->model_->rows[static_cast<size_t>(nItem)].data);
    });
}
BOOL CListCtrl::SetItemState(int nItem, UINT state, UINT mask)
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || nItem >= v->model_->rowCount() || v->model_->columnCount() == 0)
            return FALSE;
        auto* sm = v->selectionModel();
        auto rowSel = [&](int r) {
            return QItemSelection(v->model_->index(r, 0), v->model_->index(r, v->model_->columnCount() - 1));
        };
        if (mask & LVIS_SELECTED) {
            auto flag = (state & LVIS_SELECTED) ? QItemSelectionModel::Select : QItemSelectionModel::Deselect;
            if (nItem < 0) {
                if (v->model_->rowCount() > 0) {
                    QItemSelection all(v->model_->index(0, 0),
                                       v->model_->index(v->model_->rowCount() - 1, v->model_->columnCount() - 1));
                    sm->select(all, flag);
                }
            } else {
                sm->select(rowSel(nItem), flag);
            }
        }
        if ((mask & LVIS_FOCUSED) && nItem >= 0) {
            if (state & LVIS_FOCUSED)
                sm->setCurrentIndex(v->model_->index(nItem, 0), QItemSelectionModel::NoUpdate);
            else if (sm->currentIndex().row() == nItem)
                sm->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        }
        return TRUE;
    });
}
UINT CListCtrl::GetItemState(int nItem, UINT mask) const
{
    LVITEM it{};
    it.mask = LVIF_STATE;
    it.iItem = nItem;
    it.stateMask = mask;
    return GetItem(&it) ? it.state : 0;
}
int CListCtrl::GetSelectedCount() const
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        if (!v || v->model_->columnCount() == 0)
            return 0;
        return static_cast<int>(v->selectionModel()->selectedRows(0).size());
    });
}
int CListCtrl::GetNextItem(int nItem, int flags) const
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        if (!v)
            return -1;
        int n = v->model_->rowCount();
        if (flags & LVNI_FOCUSED) {
            QModelIndex c = v->currentIndex();
            int r = c.isValid() ? c.row() : -1;
            if (r <= nItem || ((flags & LVNI_SELECTED) && !v->IsSelected(r)))
                return -1;
            return r;
        }
        for (int i = std::max(nItem + 1, 0); i < n; ++i)
            if (!(flags & LVNI_SELECTED) || v->IsSelected(i))
                return i;
        return -1;
    });
}
POSITION CListCtrl::GetFirstSelectedItemPosition() const
{
    int i = GetNextItem(-1, LVNI_SELECTED);
    return i < 0 ? nullptr : reinterpret_cast<POSITION>(static_cast<intptr_t>(i) + 1);
}
int CListCtrl::GetNextSelectedItem(POSITION& pos) const
{
    int i = static_cast<int>(reinterpret_cast<intptr_t>(pos)) - 1;
    int next = GetNextItem(i, LVNI_SELECTED);
    pos = next < 0 ? nullptr : reinterpret_cast<POSITION>(static_cast<intptr_t>(next) + 1);
    return i;
}
int CListCtrl::GetSelectionMark() const
{
    auto* v = LV(m_hWnd);
    return v && v->currentIndex().isValid() ? v->currentIndex().row() : -1;
}
BOOL CListCtrl::EnsureVisible(int nItem, BOOL)
{
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v || nItem < 0 || nItem >= v->model_->rowCount() || v->model_->columnCount() == 0)
            return FALSE;
        v->scrollTo(v->model_->index(nItem, 0));
        return TRUE;
    });
}
int CListCtrl::FindItem(LVFINDINFO* fi, int start) const
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        if (!v || !fi)
            return -1;
        int n = v->model_->rowCount();
        auto match = [&](int i) {
            if (fi->flags & LVFI_PARAM)
                return v->model_->rows[static_cast<size_t>(i)].data == fi->lParam;
            std::string want = fi->psz ? fi->psz : "", have = v->model_->Cell(i, 0);
            if (fi->flags & LVFI_PARTIAL)
                have = have.substr(0, want.size());
            return mfc::CompareStringNoCase(have.c_str(), want.c_str()) == 0 && have.size() == want.size();
        };
        for (int i = std::max(start + 1, 0); i < n; ++i)
            if (match(i))
                return i;
        if (fi->flags & LVFI_WRAP)
            for (int i = 0; i <= std::min(start, n - 1); ++i)
                if (match(i))
                    return i;
        return -1;
    });
}
int CListCtrl::HitTest(LVHITTESTINFO* hi) const
{
    if (!hi)
        return -1;
    UINT flags = 0;
    hi->iItem = HitTest(CPoint(hi->pt.x, hi->pt.y), &flags);
    hi->flags = flags;
    hi->iSubItem = 0;
    return hi->iItem;
}
int CListCtrl::HitTest(CPoint pt, UINT* pFlags) const
{
    return OnGui([&] {
        auto* v = LV(m_hWnd);
        if (pFlags)
            *pFlags = LVHT_NOWHERE;
        if (!v)
            return -1;
        // List client coordinates include the header.
        QPoint vp = v->viewport()->mapFrom(v, QPoint(pt.x, pt.y) + v->contentsRect().topLeft());
        int r = v->RowAt(vp);
        if (r >= 0 && pFlags)
            *pFlags = LVHT_ONITEMLABEL;
        return r;
    });
}
BOOL CListCtrl::SortItems(PFNLVCOMPARE cmp, DWORD_PTR data)
{
    if (!cmp)
        return FALSE;
    return OnGui([&]() -> BOOL {
        auto* v = LV(m_hWnd);
        if (!v)
            return FALSE;
        if (v->editRow_ >= 0)
            v->EndEdit(false);
        const auto& rows = v->model_->rows;
        std::vector<LPARAM> keys;
        keys.reserve(rows.size());
        for (const auto& r : rows)
            keys.push_back(r.data);
        std::vector<int> order(rows.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return cmp(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)], static_cast<LPARAM>(data)) < 0;
        });
        Quiet q(DataOf(m_hWnd));
        v->model_->Permute(order);
        return TRUE;
    });
}
CEdit* CListCtrl::EditLabel(int nItem)
{
    return OnGui([&]() -> CEdit* {
        auto* v = LV(m_hWnd);
        if (!v)
            return nullptr;
        v->setFocus();
        v->BeginEdit(nItem);
        return v->editor_ ? static_cast<CEdit*>(CWnd::FromHandle(HandleOf(v->editor_))) : nullptr;
    });
}
CEdit* CListCtrl::GetEditControl() const
{
    auto* v = LV(m_hWnd);
    return v && v->editor_ ? static_cast<CEdit*>(CWnd::FromHandle(HandleOf(v->editor_))) : nullptr;
}
