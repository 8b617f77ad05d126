// CDialog: the dialog object owns a Qt dialog only between DoModal's start
// and end, as MFC dialog objects outlive their windows.
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "internal.h"

namespace mfc::detail {

void VxDialog::keyPressEvent(QKeyEvent* e)
{
    bool plain = !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        e->accept();
        // A focused push button is pressed; otherwise the default button's id
        // (IDOK when none) is sent, whether or not such a button exists.
        QWidget* f = focusWidget();
        int id = static_cast<int>(st_->defId);
        if (auto* b = qobject_cast<QPushButton*>(f); b && DataOf(b))
            id = DataOf(b)->id;
        QWidget* button = FindControl(st_, id);
        if (button && (!button->isEnabled() || button->isHidden())) {
            QApplication::beep();
            return;
        }
        Send(HandleOf(this), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
             reinterpret_cast<LPARAM>(button ? HandleOf(button) : nullptr));
        return;
    }
    if (plain && e->key() == Qt::Key_Escape) {
        e->accept();
        QWidget* cancel = FindControl(st_, IDCANCEL);
        if (cancel && !cancel->isEnabled())
            return;
        Send(HandleOf(this), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
             reinterpret_cast<LPARAM>(cancel ? HandleOf(cancel) : nullptr));
        return;
    }
    QWidget::keyPressEvent(e);
}
void VxDialog::closeEvent(QCloseEvent* e)
{
    // The close box sends WM_CLOSE; only EndDialog closes the window.
    e->ignore();
    if (st_->inLoop && !st_->ended)
        Send(HandleOf(this), WM_CLOSE, 0, 0);
}

class VxClient : public QWidget {
public:
    VxClient(QWidget* parent, DialogState* st) : QWidget(parent), st_(st) {}
    DialogState* st_;

protected:
    void resizeEvent(QResizeEvent* e) override
    {
        QWidget::resizeEvent(e);
        if (st_->initialised && st_->dlg) {
            UINT type = st_->dlg->isMinimized() ? SIZE_MINIMIZED
                : st_->dlg->isMaximized()       ? SIZE_MAXIMIZED
                                                : SIZE_RESTORED;
            Send(HandleOf(st_->dlg), WM_SIZE, type, MAKELPARAM(width(), height()));
        }
    }
    void contextMenuEvent(QContextMenuEvent* e) override
    {
        QWidget* hit = QApplication::widgetAt(e->globalPos());
        WindowData* d = NearestData(hit);
        if (!d || d->kind == Kind::Dialog)
            d = DataOf(st_->dlg.data());
        LPARAM pt = e->reason() == QContextMenuEvent::Keyboard
            ? MAKELPARAM(0xFFFF, 0xFFFF)
            : MAKELPARAM(static_cast<WORD>(e->globalPos().x()), static_cast<WORD>(e->globalPos().y()));
        if (e->reason() == QContextMenuEvent::Keyboard) {
            if (QWidget* f = st_->dlg ? st_->dlg->focusWidget() : nullptr) {
                if (WindowData* fd = NearestData(f))
                    d = fd;
            }
        }
        e->accept();
        Send(HandleOf(st_->dlg), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(d ? HandleOf(d->w) : nullptr), pt);
    }
};

QWidget* FindControl(DialogState* st, int id)
{
    if (!st)
        return nullptr;
    for (auto& c : st->controls) {
        if (!c)
            continue;
        WindowData* d = DataOf(c.data());
        if (d && d->id == id)
            return c.data();
    }
    return nullptr;
}

std::vector<QWidget*> RadioGroupOf(DialogState* st, QWidget* radio)
{
    std::vector<QWidget*> group;
    if (!st)
        return group;
    std::vector<QWidget*> all;
    for (auto& c : st->controls)
        if (c)
            all.push_back(c.data());
    auto it = std::find(all.begin(), all.end(), radio);
    if (it == all.end())
        return group;
    size_t i = static_cast<size_t>(it - all.begin());
    size_t start = i;
    while (start > 0 && !(DataOf(all[start])->style & WS_GROUP))
        --start;
    size_t end = i + 1;
    while (end < all.size() && !(DataOf(all[end])->style & WS_GROUP))
        ++end;
    for (size_t k = start; k < end; ++k) {
        WindowData* d = DataOf(all[k]);
        DWORD t = d->style & BS_TYPEMASK;
        if (d->kind == Kind::Button && (t == BS_AUTORADIOBUTTON || t == BS_RADIOBUTTON))
            group.push_back(all[k]);
    }
    return group;
}

namespace {
int g_waitDepth = 0;
}
int SuspendWaitCursors()
{
    int n = g_waitDepth;
    for (int i = 0; i < n; ++i)
        QGuiApplication::restoreOverrideCursor();
    return n;
}
void ResumeWaitCursors(int n)
{
    for (int i = 0; i < n; ++i)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}
void PushWait()
{
    ++g_waitDepth;
    if (qApp)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}
void PopWait()
{
    if (g_waitDepth <= 0)
        return;
    --g_waitDepth;
    if (qApp)
        QGuiApplication::restoreOverrideCursor();
}

QFont DialogFontImpl(const std::string& face, int pointSize)
{
    QFont f = QApplication::font();
    (void)face; // Windows dialog faces map to the system sans font
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(pointSize > 0 ? pointSize : 8);
    return f;
}

} // namespace mfc::detail

using namespace mfc::detail;

QFont mfc::DialogFont(const std::string& face, int pointSize) { return DialogFontImpl(face, pointSize); }

QDialog* mfc::DialogWidgetOf(const CDialog& dlg)
{
    WindowData* d = DataOf(dlg.m_hWnd);
    return d && d->kind == Kind::Dialog ? static_cast<QDialog*>(d->w) : nullptr;
}

// ---------------------------------------------------------------- CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_BN_CLICKED(IDOK, &CDialog::OnOK)
ON_BN_CLICKED(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog() = default;
CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_pParentWnd(pParentWnd), m_nIDTemplate(nIDTemplate) {}
CDialog::CDialog(LPCTSTR name, CWnd* pParentWnd) : m_pParentWnd(pParentWnd)
{
    if (name && IS_INTRESOURCE(name))
        m_nIDTemplate = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name));
    else if (name)
        m_templateName = name;
}

CDialog::~CDialog()
{
    // Destroying the object while its own modal loop runs is not supported
    // (as in MFC); the window is only taken down here.
    if (m_state && m_state->dlg) {
        VxDialog* d = m_state->dlg;
        if (WindowData* wd = DataOf(d)) {
            for (auto& t : wd->timers)
                t.second->stop();
            wd->permanent = nullptr;
        }
        mfc::detail::Detach(this);
        d->hide();
        d->deleteLater();
    }
}

const char* CDialog::GetTemplateName() const { return m_templateName.c_str(); }

INT_PTR CDialog::DoModal()
{
    if (!qApp || !OnGuiThread())
        return -1;
    const mfc::DlgTemplate* t = m_templateName.empty() ? mfc::FindDialogTemplate(MAKEINTRESOURCE(m_nIDTemplate))
                                                       : mfc::FindDialogTemplate(m_templateName.c_str());
    if (!t || (m_state && m_state->dlg))
        return -1;
    EnsureKeyFilter();

    m_state = std::make_unique<DialogState>();
    DialogState* st = m_state.get();
    st->owner = this;
    st->font = DialogFontImpl(t->font, t->pointSize);
    st->base = mfc::DialogBaseUnits(t->font, t->pointSize);

    QWidget* parent = m_pParentWnd ? Live(m_pParentWnd->m_hWnd) : nullptr;
    if (!parent)
        parent = QApplication::activeModalWidget();
    if (!parent && AfxGetApp() && AfxGetApp()->m_pMainWnd && AfxGetApp()->m_pMainWnd != this)
        parent = Live(AfxGetApp()->m_pMainWnd->m_hWnd);
    if (parent)
        parent = parent->window();

    auto* dlg = new VxDialog(parent, st);
    st->dlg = dlg;
    dlg->setFont(st->font);
    dlg->setWindowTitle(mfc::detail::Q(t->caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
    if (t->style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (t->style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (t->style & WS_MAXIMIZEBOX)
        flags |= Qt::WindowMaximizeButtonHint;
    dlg->setWindowFlags(flags);
    auto* wd = new WindowData(dlg, Kind::Dialog, 0, t->style, t->exStyle);
    wd->dialog = st;
    wd->permanent = this;
    mfc::detail::Attach(this, wd);

    auto* layout = new QVBoxLayout(dlg);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (t->menu) {
        st->menu = std::make_unique<CMenu>();
        if (st->menu->LoadMenu(t->menu)) {
            st->menuBar = new QMenuBar(dlg);
            layout->setMenuBar(st->menuBar);
            RebuildMenuBar(st);
        } else {
            st->menu.reset();
        }
    }
    auto* client = new VxClient(dlg, st);
    st->client = client;
    layout->addWidget(client);

    RECT size = mfc::DluToPixels(RECT{0, 0, t->cx, t->cy}, t->font, t->pointSize);
    client->setMinimumSize(0, 0);
    for (const mfc::DlgItem& it : t->items) {
        RECT r = mfc::DluToPixels(RECT{it.x, it.y, it.x + it.cx, it.y + it.cy}, t->font, t->pointSize);
        QRect px(r.left, r.top, r.right - r.left, r.bottom - r.top);
        QWidget* w = CreateControlWidget(it.cls, it.text, it.id, it.style, it.exStyle, px, client, st);
        if (w)
            st->controls.push_back(w);
    }
    int menuH = st->menuBar ? st->menuBar->sizeHint().height() : 0;
    if (t->style & WS_THICKFRAME) {
        dlg->resize(size.right, size.bottom + menuH);
    } else {
        dlg->setFixedSize(size.right, size.bottom + menuH);
    }
    if (t->style & DS_CENTER)
        CenterWindow();
    // The client area has its template size when OnInitDialog runs, as on
    // Windows (the layout would otherwise place it only when the dialog shows).
    layout->activate();

    int waits = SuspendWaitCursors();
    BOOL focusFirst = OnInitDialog();
    st = m_state.get();
    RecordModal(*this);
    st->initialised = true;
    if (!st->ended) {
        if (focusFirst) {
            for (auto& c : st->controls) {
                WindowData* d = c ? DataOf(c.data()) : nullptr;
                if (d && (d->style & WS_TABSTOP) && c->isEnabled() && !c->isHidden()) {
                    if (d->kind == Kind::IpAddress)
                        static_cast<VxIpEdit*>(c.data())->field[0]->setFocus();
                    else
                        c->setFocus();
                    break;
                }
            }
        }
        RunModalScript(*this);
        st->inLoop = true;
        dlg->exec();
        st->inLoop = false;
    }
    INT_PTR result = st->result;
    Send(HandleOf(dlg), WM_DESTROY, 0, 0);
    if (WindowData* d = DataOf(dlg)) {
        for (auto& tm : d->timers)
            tm.second->stop();
    }
    mfc::detail::Detach(this);
    st->dlg = nullptr;
    delete dlg; // also detaches every wrapper of its controls
    st->menu.reset();
    m_state.reset();
    ResumeWaitCursors(waits);
    return result;
}

void CDialog::EndDialog(int nResult)
{
    OnGui([&] {
        if (!m_state)
            return;
        m_state->result = nResult;
        m_state->ended = true;
        if (m_state->inLoop && m_state->dlg)
            m_state->dlg->done(nResult);
    });
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}
void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::GotoDlgCtrl(CWnd* pWndCtrl)
{
    QWidget* w = pWndCtrl ? Live(pWndCtrl->m_hWnd) : nullptr;
    if (!w)
        return;
    pWndCtrl->SetFocus();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->selectAll();
}
void CDialog::NextDlgCtrl() const
{
    if (m_state && m_state->dlg) {
        if (QWidget* f = m_state->dlg->focusWidget())
            f->nextInFocusChain()->setFocus(Qt::TabFocusReason);
    }
}
void CDialog::PrevDlgCtrl() const
{
    if (m_state && m_state->dlg) {
        if (QWidget* f = m_state->dlg->focusWidget())
            f->previousInFocusChain()->setFocus(Qt::BacktabFocusReason);
    }
}
void CDialog::SetDefID(UINT nID)
{
    if (!m_state)
        return;
    if (auto* old = qobject_cast<QPushButton*>(FindControl(m_state.get(), static_cast<int>(m_state->defId))))
        old->setDefault(false);
    m_state->defId = nID;
    if (auto* b = qobject_cast<QPushButton*>(FindControl(m_state.get(), static_cast<int>(nID))))
        b->setDefault(true);
}
DWORD CDialog::GetDefID() const { return m_state ? MAKELONG(m_state->defId, DC_HASDEFID) : 0; }
void CDialog::MapDialogRect(LPRECT r) const
{
    if (!r)
        return;
    SIZE b = m_state ? m_state->base : mfc::DialogBaseUnits();
    auto mx = [&](LONG v) { return static_cast<LONG>((static_cast<long long>(v) * b.cx + (v >= 0 ? 2 : -2)) / 4); };
    auto my = [&](LONG v) { return static_cast<LONG>((static_cast<long long>(v) * b.cy + (v >= 0 ? 4 : -4)) / 8); };
    *r = RECT{mx(r->left), my(r->top), mx(r->right), my(r->bottom)};
}

// ---------------------------------------------------------------- data exchange

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (CUserException&) {
        return FALSE;
    }
    return TRUE;
}

HWND CDataExchange::PrepareCtrl(int nIDC)
{
    m_idLastControl = nIDC;
    m_bEditLastControl = FALSE;
    CWnd* c = m_pDlgWnd ? m_pDlgWnd->GetDlgItem(nIDC) : nullptr;
    return c ? c->m_hWnd : nullptr;
}
HWND CDataExchange::PrepareEditCtrl(int nIDC)
{
    HWND h = PrepareCtrl(nIDC);
    m_bEditLastControl = TRUE;
    return h;
}
void CDataExchange::Fail()
{
    if (m_bSaveAndValidate && m_pDlgWnd) {
        if (CWnd* c = m_pDlgWnd->GetDlgItem(m_idLastControl)) {
            if (auto* dlg = dynamic_cast<CDialog*>(m_pDlgWnd))
                dlg->GotoDlgCtrl(c);
            else
                c->SetFocus();
        }
    }
    throw CUserException();
}

namespace {
template <class T> bool ParseNumber(const CString& s, T& out)
{
    std::string t = s.str();
    size_t a = t.find_first_not_of(" \t"), b = t.find_last_not_of(" \t");
    if (a == std::string::npos)
        return false;
    t = t.substr(a, b - a + 1);
    char* end = nullptr;
    errno = 0;
    if constexpr (std::is_same_v<T, double>) {
        double v = std::strtod(t.c_str(), &end);
        if (*end || errno)
            return false;
        out = v;
    } else if constexpr (std::is_signed_v<T>) {
        long long v = std::strtoll(t.c_str(), &end, 10);
        if (*end || errno || v < static_cast<long long>(std::numeric_limits<T>::min()) ||
            v > static_cast<long long>(std::numeric_limits<T>::max()))
            return false;
        out = static_cast<T>(v);
    } else {
        if (t[0] == '-')
            return false;
        unsigned long long v = std::strtoull(t.c_str(), &end, 10);
        if (*end || errno || v > static_cast<unsigned long long>(std::numeric_limits<T>::max()))
            return false;
        out = static_cast<T>(v);
    }
    return true;
}

template <class T> void TextNumber(CDataExchange* pDX, int nIDC, T& value, const char* fmt, const char* failText)
{
    pDX->PrepareEditCtrl(nIDC);
    CWnd* c = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!c)
        return;
    if (pDX->m_bSaveAndValidate) {
        CString s;
        c->GetWindowText(s);
        if (!ParseNumber(s, value)) {
            AfxMessageBox(failText, MB_OK | MB_ICONEXCLAMATION);
            pDX->Fail();
        }
    } else {
        CString s;
        s.Format(fmt, value);
        c->SetWindowText(s);
    }
}

template <class T> void Range(CDataExchange* pDX, T value, T lo, T hi, const char* fmt)
{
    if (!pDX->m_bSaveAndValidate || (value >= lo && value <= hi))
        return;
    CString a, b, m;
    a.Format(fmt, lo);
    b.Format(fmt, hi);
    m.Format("Enter a value from %s to %s.", a.GetString(), b.GetString());
    AfxMessageBox(m, MB_OK | MB_ICONEXCLAMATION);
    pDX->Fail();
}
} // namespace

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    pDX->PrepareEditCtrl(nIDC);
    CWnd* c = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!c)
        return;
    if (pDX->m_bSaveAndValidate)
        c->GetWindowText(value);
    else
        c->SetWindowText(value);
}
void DDX_Text(CDataExchange* pDX, int nIDC, int& v) { TextNumber(pDX, nIDC, v, "%d", "Enter a whole number."); }
void DDX_Text(CDataExchange* pDX, int nIDC, UINT& v)
{
    TextNumber(pDX, nIDC, v, "%u", "Enter a positive whole number.");
}
void DDX_Text(CDataExchange* pDX, int nIDC, long& v) { TextNumber(pDX, nIDC, v, "%ld", "Enter a whole number."); }
void DDX_Text(CDataExchange* pDX, int nIDC, double& v) { TextNumber(pDX, nIDC, v, "%.15g", "Enter a number."); }
void DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    pDX->PrepareCtrl(nIDC);
    CWnd* c = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!c)
        return;
    if (pDX->m_bSaveAndValidate)
        value = static_cast<int>(c->SendMessage(BM_GETCHECK));
    else
        c->SendMessage(BM_SETCHECK, static_cast<WPARAM>(value));
}
void DDX_Radio(CDataExchange* pDX, int nIDC, int& value)
{
    pDX->PrepareCtrl(nIDC);
    CWnd* first = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    WindowData* dd = DataOf(pDX->m_pDlgWnd->m_hWnd);
    if (!first || !dd || !dd->dialog)
        return;
    std::vector<QWidget*> group = RadioGroupOf(dd->dialog, Live(first->m_hWnd));
    if (pDX->m_bSaveAndValidate)
        value = -1;
    for (size_t i = 0; i < group.size(); ++i) {
        CWnd* b = CWnd::FromHandle(HandleOf(group[i]));
        if (pDX->m_bSaveAndValidate) {
            if (b->SendMessage(BM_GETCHECK) == BST_CHECKED && value < 0)
                value = static_cast<int>(i);
        } else {
            b->SendMessage(BM_SETCHECK, static_cast<int>(i) == value ? BST_CHECKED : BST_UNCHECKED);
        }
    }
}
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.GetSafeHwnd())
        return;
    rControl.SubclassDlgItem(static_cast<UINT>(nIDC), pDX->m_pDlgWnd);
}
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index)
{
    pDX->PrepareCtrl(nIDC);
    auto* c = static_cast<CComboBox*>(pDX->m_pDlgWnd->GetDlgItem(nIDC));
    if (!c)
        return;
    if (pDX->m_bSaveAndValidate)
        index = c->GetCurSel();
    else
        c->SetCurSel(index);
}
void DDX_CBString(CDataExchange* pDX, int nIDC, CString& value)
{
    pDX->PrepareCtrl(nIDC);
    auto* c = static_cast<CComboBox*>(pDX->m_pDlgWnd->GetDlgItem(nIDC));
    if (!c)
        return;
    if (pDX->m_bSaveAndValidate)
        c->GetWindowText(value);
    else if (c->SelectString(-1, value) == CB_ERR)
        c->SetWindowText(value);
}
void DDX_LBIndex(CDataExchange* pDX, int nIDC, int& index)
{
    pDX->PrepareCtrl(nIDC);
    auto* c = static_cast<CListBox*>(pDX->m_pDlgWnd->GetDlgItem(nIDC));
    if (!c)
        return;
    if (pDX->m_bSaveAndValidate)
        index = c->GetCurSel();
    else
        c->SetCurSel(index);
}
void DDX_LBString(CDataExchange* pDX, int nIDC, CString& value)
{
    pDX->PrepareCtrl(nIDC);
    auto* c = static_cast<CListBox*>(pDX->m_pDlgWnd->GetDlgItem(nIDC));
    if (!c)
        return;
    if (pDX->m_bSaveAndValidate) {
        int i = c->GetCurSel();
        if (i >= 0)
            c->GetText(i, value);
        else
            value.Empty();
    } else {
        c->SelectString(-1, value);
    }
}
void DDV_MaxChars(CDataExchange* pDX, const CString& value, int nChars)
{
    if (pDX->m_bSaveAndValidate && value.GetLength() > nChars) {
        CString m;
        m.Format("Enter no more than %d characters.", nChars);
        AfxMessageBox(m, MB_OK | MB_ICONEXCLAMATION);
        pDX->Fail();
    } else if (!pDX->m_bSaveAndValidate && pDX->m_bEditLastControl) {
        if (CWnd* c = pDX->m_pDlgWnd->GetDlgItem(pDX->m_idLastControl))
            c->SendMessage(EM_LIMITTEXT, nChars);
    }
}
void DDV_MinMaxInt(CDataExchange* pDX, int v, int lo, int hi) { Range(pDX, v, lo, hi, "%d"); }
void DDV_MinMaxUInt(CDataExchange* pDX, UINT v, UINT lo, UINT hi) { Range(pDX, v, lo, hi, "%u"); }
void DDV_MinMaxLong(CDataExchange* pDX, long v, long lo, long hi) { Range(pDX, v, lo, hi, "%ld"); }
void DDV_MinMaxDWord(CDataExchange* pDX, DWORD v, DWORD lo, DWORD hi) { Range(pDX, v, lo, hi, "%u"); }
void DDV_MinMaxDouble(CDataExchange* pDX, const double& v, double lo, double hi) { Range(pDX, v, lo, hi, "%g"); }

// ---------------------------------------------------------------- wait cursor

namespace mfc::detail {
void PushWait();
void PopWait();
} // namespace mfc::detail

CWaitCursor::CWaitCursor() { PushWait(); }
CWaitCursor::~CWaitCursor()
{
    if (active_)
        PopWait();
}
// DoModal already takes the wait cursor down for the dialog and puts it back.
void CWaitCursor::Restore() {}
