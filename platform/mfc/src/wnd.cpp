// Window records, handle lookup, message dispatch and the CWnd operations.
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QDateTime>
#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "internal.h"

namespace mfc::detail {
namespace {
std::mutex g_mu;
std::unordered_map<const QWidget*, WindowData*>& Registry()
{
    static auto* r = new std::unordered_map<const QWidget*, WindowData*>;
    return *r;
}
} // namespace

WindowData::WindowData(QWidget* widget, Kind k, int i, DWORD s, DWORD ex)
    : QObject(widget), w(widget), kind(k), id(i), style(s), exStyle(ex)
{
    std::lock_guard<std::mutex> lock(g_mu);
    Registry()[widget] = this;
}

WindowData::~WindowData()
{
    {
        std::lock_guard<std::mutex> lock(g_mu);
        auto it = Registry().find(w);
        if (it != Registry().end() && it->second == this)
            Registry().erase(it);
    }
    for (CWnd* c : attached)
        c->m_hWnd = nullptr;
    attached.clear();
    if (wrapper)
        wrapper->m_hWnd = nullptr;
}

WindowData* DataOf(const QWidget* w)
{
    if (!w)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_mu);
    auto it = Registry().find(w);
    return it == Registry().end() ? nullptr : it->second;
}
WindowData* DataOf(HWND h) { return DataOf(reinterpret_cast<const QWidget*>(h)); }
QWidget* Live(HWND h)
{
    WindowData* d = DataOf(h);
    return d ? d->w : nullptr;
}

void Attach(CWnd* wnd, WindowData* d)
{
    if (!wnd || !d)
        return;
    Detach(wnd);
    wnd->m_hWnd = HandleOf(d->w);
    d->attached.push_back(wnd);
}

void Detach(CWnd* wnd)
{
    if (!wnd || !wnd->m_hWnd)
        return;
    if (WindowData* d = DataOf(wnd->m_hWnd)) {
        d->attached.erase(std::remove(d->attached.begin(), d->attached.end(), wnd), d->attached.end());
        if (d->permanent == wnd)
            d->permanent = nullptr;
    }
    wnd->m_hWnd = nullptr;
}

WindowData* NearestData(QWidget* w)
{
    for (; w; w = w->parentWidget())
        if (WindowData* d = DataOf(w))
            return d;
    return nullptr;
}

WindowData* DialogDataOf(QWidget* w)
{
    for (; w; w = w->parentWidget()) {
        WindowData* d = DataOf(w);
        if (d && d->kind == Kind::Dialog)
            return d;
    }
    return nullptr;
}

bool OnGuiThread() { return !qApp || QThread::currentThread() == qApp->thread(); }

std::string StripMnemonic(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&') {
            if (i + 1 < s.size() && s[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += s[i];
    }
    return out;
}

int CopyOut(const std::string& s, char* buf, int max)
{
    if (!buf || max <= 0)
        return 0;
    size_t n = std::min(s.size(), static_cast<size_t>(max - 1));
    // Do not cut a UTF-8 sequence in half.
    while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(buf, s.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

LRESULT Send(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    WindowData* d = DataOf(h);
    if (!d)
        return 0;
    if (d->permanent)
        return d->permanent->WindowProc(msg, w, l);
    if (d->kind == Kind::Dialog)
        return 0;
    return ControlProc(d, msg, w, l);
}

void NotifyCommand(QWidget* control, UINT code)
{
    WindowData* cd = DataOf(control);
    WindowData* dd = DialogDataOf(control->parentWidget());
    if (!cd || !dd)
        return;
    Send(HandleOf(dd->w), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(cd->id), code),
         reinterpret_cast<LPARAM>(HandleOf(control)));
}

LRESULT NotifyParent(QWidget* control, NMHDR* hdr, UINT code)
{
    WindowData* cd = DataOf(control);
    WindowData* dd = DialogDataOf(control->parentWidget());
    if (!cd || !dd)
        return 0;
    hdr->hwndFrom = HandleOf(control);
    hdr->idFrom = static_cast<UINT_PTR>(static_cast<UINT>(cd->id));
    hdr->code = code;
    return Send(HandleOf(dd->w), WM_NOTIFY, hdr->idFrom, reinterpret_cast<LPARAM>(hdr));
}

namespace {
// The widget whose rectangle is the window's client area.
QWidget* ClientOf(WindowData* d)
{
    if (d->kind == Kind::Dialog && d->dialog && d->dialog->client)
        return d->dialog->client;
    return d->w;
}
QRect ClientRectOf(WindowData* d)
{
    QWidget* c = ClientOf(d);
    if (auto* f = qobject_cast<QFrame*>(c))
        return f->contentsRect();
    return c->rect();
}
QPoint ClientOrigin(WindowData* d)
{
    QWidget* c = ClientOf(d);
    return c->mapToGlobal(ClientRectOf(d).topLeft());
}
} // namespace

} // namespace mfc::detail

using namespace mfc::detail;

// ---------------------------------------------------------------- CCmdTarget

const mfc::MsgMap* CCmdTarget::GetThisMessageMap()
{
    static const mfc::MsgMapEntry entries[] = {{0, 0, 0, 0, nullptr}};
    static const mfc::MsgMap map = {nullptr, entries};
    return &map;
}
const mfc::MsgMap* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const mfc::MsgMapEntry* CCmdTarget::FindMessageEntry(UINT message, UINT code, UINT id) const
{
    for (const mfc::MsgMap* m = GetMessageMap(); m; m = m->base ? m->base() : nullptr) {
        for (const mfc::MsgMapEntry* e = m->entries; e && e->fn; ++e) {
            if (e->message != message)
                continue;
            if (message == WM_COMMAND || message == WM_NOTIFY) {
                if (e->code == code && id >= e->idFirst && id <= e->idLast)
                    return e;
            } else {
                return e;
            }
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void*, void*)
{
    const mfc::MsgMapEntry* e = FindMessageEntry(WM_COMMAND, static_cast<UINT>(nCode), nID);
    if (!e)
        return FALSE;
    e->fn(this, 0, 0, nID);
    return TRUE;
}

namespace mfc::detail {
void PushWait();
void PopWait();
} // namespace mfc::detail
void CCmdTarget::BeginWaitCursor() { PushWait(); }
void CCmdTarget::EndWaitCursor() { PopWait(); }
void CCmdTarget::RestoreWaitCursor() {}

// ---------------------------------------------------------------- CWnd

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::CWnd() = default;

CWnd::~CWnd() { mfc::detail::Detach(this); }

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    WindowData* d = DataOf(hWnd);
    return d ? d->permanent : nullptr;
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    WindowData* d = DataOf(hWnd);
    if (!d)
        return nullptr;
    if (d->permanent)
        return d->permanent;
    if (!d->wrapper) {
        d->wrapper = MakeWrapper(d->kind);
        d->wrapper->m_hWnd = hWnd;
    }
    return d->wrapper.get();
}

HWND CWnd::GetSafeHwnd() const { return DataOf(m_hWnd) ? m_hWnd : nullptr; }

BOOL CWnd::Attach(HWND hWnd)
{
    WindowData* d = DataOf(hWnd);
    if (!d)
        return FALSE;
    mfc::detail::Attach(this, d);
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND h = m_hWnd;
    mfc::detail::Detach(this);
    return h;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    CWnd* item = pParent ? pParent->GetDlgItem(static_cast<int>(nID)) : nullptr;
    if (!item)
        return FALSE;
    WindowData* d = DataOf(item->m_hWnd);
    mfc::detail::Attach(this, d);
    d->permanent = this;
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    QWidget* w = Live(m_hWnd);
    if (!w)
        return FALSE;
    WindowData* d = DataOf(w);
    if (d->kind == Kind::Dialog) {
        if (auto* dlg = dynamic_cast<CDialog*>(this)) {
            dlg->EndDialog(IDCANCEL);
            return TRUE;
        }
    }
    w->hide();
    w->deleteLater();
    mfc::detail::Detach(this);
    return TRUE;
}

BOOL CWnd::CreateControl(LPCTSTR lpszClass, LPCTSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParent, UINT nID,
                         DWORD dwExStyle)
{
    WindowData* pd = pParent ? DataOf(pParent->m_hWnd) : nullptr;
    if (!pd)
        return FALSE;
    DialogState* st = pd->kind == Kind::Dialog ? pd->dialog : nullptr;
    QWidget* parent = pd->kind == Kind::Dialog && st ? st->client : pd->w;
    QRect px(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    QWidget* w = CreateControlWidget(lpszClass ? lpszClass : "", lpszText ? lpszText : "", static_cast<int>(nID),
                                     dwStyle, dwExStyle, px, parent, st);
    if (!w)
        return FALSE;
    if (st)
        st->controls.push_back(w);
    WindowData* d = DataOf(w);
    mfc::detail::Attach(this, d);
    d->permanent = this;
    if (dwStyle & WS_VISIBLE)
        w->show();
    return TRUE;
}

void CWnd::SetWindowText(LPCTSTR s) { ::SetWindowText(m_hWnd, s); }
int CWnd::GetWindowText(LPTSTR buf, int max) const { return ::GetWindowText(m_hWnd, buf, max); }
void CWnd::GetWindowText(CString& r) const
{
    r = OnGui(
        [&] { return CString(reinterpret_cast<const char*>(Send(m_hWnd, WM_GETTEXT, static_cast<WPARAM>(-1), 0))); });
}
int CWnd::GetWindowTextLength() const
{
    return static_cast<int>(OnGui([&] { return Send(m_hWnd, WM_GETTEXTLENGTH, 0, 0); }));
}

BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }
BOOL CWnd::IsWindowEnabled() const
{
    QWidget* w = Live(m_hWnd);
    return w && w->isEnabled();
}
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::IsWindowVisible() const
{
    QWidget* w = Live(m_hWnd);
    if (!w)
        return FALSE;
    // WS_VISIBLE on this window and every parent up to the top-level window.
    for (QWidget* p = w; p; p = p->parentWidget()) {
        if (p->isHidden())
            return FALSE;
        if (p->isWindow())
            break;
    }
    return TRUE;
}
BOOL CWnd::IsIconic() const
{
    QWidget* w = Live(m_hWnd);
    return w && w->isMinimized();
}
BOOL CWnd::IsZoomed() const
{
    QWidget* w = Live(m_hWnd);
    return w && w->isMaximized();
}
CWnd* CWnd::SetFocus()
{
    CWnd* old = GetFocus();
    if (QWidget* w = Live(m_hWnd)) {
        WindowData* d = DataOf(w);
        if (d->kind == Kind::IpAddress)
            static_cast<VxIpEdit*>(w)->field[0]->setFocus(Qt::OtherFocusReason);
        else
            w->setFocus(Qt::OtherFocusReason);
    }
    return old;
}
CWnd* CWnd::GetFocus()
{
    QWidget* f = QApplication::focusWidget();
    if (!f) {
        if (QWidget* m = QApplication::activeModalWidget())
            f = m->focusWidget();
    }
    WindowData* d = NearestData(f);
    return d ? FromHandle(HandleOf(d->w)) : nullptr;
}

CWnd* CWnd::GetDlgItem(int nID) const
{
    WindowData* d = DataOf(m_hWnd);
    if (!d)
        return nullptr;
    if (d->kind == Kind::Dialog) {
        QWidget* c = FindControl(d->dialog, nID);
        return c ? FromHandle(HandleOf(c)) : nullptr;
    }
    for (QWidget* c : d->w->findChildren<QWidget*>()) {
        WindowData* cd = DataOf(c);
        if (cd && cd->id == nID)
            return FromHandle(HandleOf(c));
    }
    return nullptr;
}
int CWnd::GetDlgCtrlID() const
{
    WindowData* d = DataOf(m_hWnd);
    return d ? d->id : 0;
}
int CWnd::SetDlgCtrlID(int nID)
{
    WindowData* d = DataOf(m_hWnd);
    if (!d)
        return 0;
    int old = d->id;
    d->id = nID;
    return old;
}
CWnd* CWnd::GetParent() const
{
    QWidget* w = Live(m_hWnd);
    if (!w || w->isWindow()) {
        if (WindowData* d = DataOf(w); d && d->kind == Kind::Dialog && d->dialog && d->dialog->owner)
            return d->dialog->owner->m_pParentWnd;
        return nullptr;
    }
    WindowData* p = NearestData(w->parentWidget());
    return p ? FromHandle(HandleOf(p->w)) : nullptr;
}
DWORD CWnd::GetStyle() const
{
    WindowData* d = DataOf(m_hWnd);
    if (!d)
        return 0;
    DWORD s = d->style & ~(WS_VISIBLE | WS_DISABLED);
    if (!d->w->isHidden())
        s |= WS_VISIBLE;
    if (!d->w->isEnabled())
        s |= WS_DISABLED;
    return s;
}
DWORD CWnd::GetExStyle() const
{
    WindowData* d = DataOf(m_hWnd);
    return d ? d->exStyle : 0;
}

void CWnd::GetWindowRect(LPRECT r) const
{
    if (!r)
        return;
    *r = RECT{0, 0, 0, 0};
    WindowData* d = DataOf(m_hWnd);
    if (!d)
        return;
    QRect g = d->w->isWindow() ? d->w->frameGeometry() : QRect(d->w->mapToGlobal(QPoint(0, 0)), d->w->size());
    *r = RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}
void CWnd::GetClientRect(LPRECT r) const
{
    if (!r)
        return;
    *r = RECT{0, 0, 0, 0};
    WindowData* d = DataOf(m_hWnd);
    if (!d)
        return;
    QRect c = ClientRectOf(d);
    *r = RECT{0, 0, c.width(), c.height()};
}
void CWnd::ScreenToClient(LPPOINT p) const
{
    WindowData* d = DataOf(m_hWnd);
    if (!d || !p)
        return;
    QPoint o = ClientOrigin(d);
    p->x -= o.x();
    p->y -= o.y();
}
void CWnd::ScreenToClient(LPRECT r) const
{
    if (!r)
        return;
    POINT a{r->left, r->top}, b{r->right, r->bottom};
    ScreenToClient(&a);
    ScreenToClient(&b);
    *r = RECT{a.x, a.y, b.x, b.y};
}
void CWnd::ClientToScreen(LPPOINT p) const
{
    WindowData* d = DataOf(m_hWnd);
    if (!d || !p)
        return;
    QPoint o = ClientOrigin(d);
    p->x += o.x();
    p->y += o.y();
}
void CWnd::ClientToScreen(LPRECT r) const
{
    if (!r)
        return;
    POINT a{r->left, r->top}, b{r->right, r->bottom};
    ClientToScreen(&a);
    ClientToScreen(&b);
    *r = RECT{a.x, a.y, b.x, b.y};
}
void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL)
{
    SetWindowPos(nullptr, x, y, nWidth, nHeight, SWP_NOZORDER);
}
void CWnd::MoveWindow(LPCRECT r, BOOL b)
{
    if (r)
        MoveWindow(r->left, r->top, r->right - r->left, r->bottom - r->top, b);
}
BOOL CWnd::SetWindowPos(const CWnd*, int x, int y, int cx, int cy, UINT nFlags)
{
    WindowData* d = DataOf(m_hWnd);
    if (!d)
        return FALSE;
    QWidget* w = d->w;
    cx = std::max(cx, 0);
    cy = std::max(cy, 0);
    if (w->isWindow()) {
        // Window coordinates include the frame; apply the change to the client size.
        QRect fg = w->frameGeometry();
        if (!(nFlags & SWP_NOSIZE)) {
            QSize s(w->width() + cx - fg.width(), w->height() + cy - fg.height());
            s = s.expandedTo(QSize(0, 0));
            if (w->minimumSize() == w->maximumSize())
                w->setFixedSize(s);
            else
                w->resize(s);
        }
        if (!(nFlags & SWP_NOMOVE))
            w->move(x, y);
    } else {
        if (!(nFlags & SWP_NOMOVE))
            w->move(x, y);
        if (!(nFlags & SWP_NOSIZE))
            w->resize(cx, cy);
    }
    if (nFlags & SWP_SHOWWINDOW)
        w->show();
    if (nFlags & SWP_HIDEWINDOW)
        w->hide();
    return TRUE;
}
void CWnd::CenterWindow(CWnd* pAlternateOwner)
{
    QWidget* w = Live(m_hWnd);
    if (!w || !w->isWindow())
        return;
    QWidget* o = pAlternateOwner ? Live(pAlternateOwner->m_hWnd) : w->parentWidget();
    QRect area =
        o ? o->window()->frameGeometry() : (w->screen() ? w->screen()->availableGeometry() : QRect(0, 0, 1024, 768));
    QRect g = w->frameGeometry();
    w->move(area.center() - QPoint(g.width() / 2, g.height() / 2));
}
void CWnd::Invalidate(BOOL)
{
    if (QWidget* w = Live(m_hWnd))
        w->update();
}
void CWnd::UpdateWindow()
{
    if (QWidget* w = Live(m_hWnd))
        w->repaint();
}
void CWnd::SetRedraw(BOOL b)
{
    if (QWidget* w = Live(m_hWnd))
        w->setUpdatesEnabled(b != FALSE);
}

LRESULT CWnd::SendMessage(UINT m, WPARAM w, LPARAM l) { return ::SendMessage(m_hWnd, m, w, l); }
BOOL CWnd::PostMessage(UINT m, WPARAM w, LPARAM l) { return ::PostMessage(m_hWnd, m, w, l); }
LRESULT CWnd::SendDlgItemMessage(int id, UINT m, WPARAM w, LPARAM l)
{
    CWnd* c = GetDlgItem(id);
    return c ? c->SendMessage(m, w, l) : 0;
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT ms, TIMERPROC fn)
{
    return OnGui([&]() -> UINT_PTR {
        WindowData* d = DataOf(m_hWnd);
        if (!d)
            return 0;
        UINT period = std::clamp<UINT>(ms, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
        QTimer*& t = d->timers[id];
        if (!t)
            t = new QTimer(d->w);
        t->disconnect();
        HWND h = m_hWnd;
        QObject::connect(t, &QTimer::timeout, t, [h, id, fn] {
            if (fn)
                fn(h, WM_TIMER, id, static_cast<DWORD>(QDateTime::currentMSecsSinceEpoch()));
            else
                Send(h, WM_TIMER, id, 0);
        });
        t->start(static_cast<int>(period));
        return id ? id : 1;
    });
}
BOOL CWnd::KillTimer(UINT_PTR id)
{
    return OnGui([&]() -> BOOL {
        WindowData* d = DataOf(m_hWnd);
        if (!d)
            return FALSE;
        auto it = d->timers.find(id);
        if (it == d->timers.end())
            return FALSE;
        it->second->stop();
        it->second->deleteLater();
        d->timers.erase(it);
        return TRUE;
    });
}

int CWnd::MessageBox(LPCTSTR text, LPCTSTR caption, UINT type)
{
    if (!caption)
        caption = AfxGetAppName();
    return ::MessageBox(m_hWnd, text, caption, type);
}

void CWnd::SetDlgItemText(int id, LPCTSTR s)
{
    if (CWnd* c = GetDlgItem(id))
        c->SetWindowText(s);
}
int CWnd::GetDlgItemText(int id, LPTSTR buf, int max) const
{
    CWnd* c = GetDlgItem(id);
    if (!c) {
        if (buf && max > 0)
            buf[0] = '\0';
        return 0;
    }
    return c->GetWindowText(buf, max);
}
int CWnd::GetDlgItemText(int id, CString& r) const
{
    r.Empty();
    if (CWnd* c = GetDlgItem(id))
        c->GetWindowText(r);
    return r.GetLength();
}
UINT CWnd::GetDlgItemInt(int id, BOOL* trans, BOOL bSigned) const
{
    if (trans)
        *trans = FALSE;
    CString s;
    if (!GetDlgItem(id))
        return 0;
    GetDlgItemText(id, s);
    const char* p = s;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool neg = false;
    if (bSigned && *p == '-') {
        neg = true;
        ++p;
    }
    if (*p < '0' || *p > '9')
        return 0;
    unsigned long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > 0xFFFFFFFFull)
            return 0;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p)
        return 0;
    if (bSigned) {
        if (neg ? v > 0x80000000ull : v > 0x7FFFFFFFull)
            return 0;
        if (trans)
            *trans = TRUE;
        return neg ? static_cast<UINT>(-static_cast<long long>(v)) : static_cast<UINT>(v);
    }
    if (trans)
        *trans = TRUE;
    return static_cast<UINT>(v);
}
void CWnd::SetDlgItemInt(int id, UINT v, BOOL bSigned)
{
    CString s;
    if (bSigned)
        s.Format("%d", static_cast<int>(v));
    else
        s.Format("%u", v);
    SetDlgItemText(id, s);
}
void CWnd::CheckDlgButton(int id, UINT check)
{
    if (CWnd* c = GetDlgItem(id))
        c->SendMessage(BM_SETCHECK, check, 0);
}
UINT CWnd::IsDlgButtonChecked(int id) const
{
    CWnd* c = GetDlgItem(id);
    return c ? static_cast<UINT>(c->SendMessage(BM_GETCHECK, 0, 0)) : 0;
}
void CWnd::CheckRadioButton(int first, int last, int check)
{
    for (int id = first; id <= last; ++id)
        CheckDlgButton(id, id == check ? BST_CHECKED : BST_UNCHECKED);
}
int CWnd::GetCheckedRadioButton(int first, int last)
{
    for (int id = first; id <= last; ++id)
        if (IsDlgButtonChecked(id) == BST_CHECKED)
            return id;
    return 0;
}

HICON CWnd::SetIcon(HICON hIcon, BOOL big)
{
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}
HICON CWnd::GetIcon(BOOL big) const
{
    WindowData* d = DataOf(m_hWnd);
    return d ? d->icons[big ? 1 : 0] : nullptr;
}
CMenu* CWnd::GetMenu() const
{
    WindowData* d = DataOf(m_hWnd);
    return d && d->dialog && d->dialog->menu ? d->dialog->menu.get() : nullptr;
}
void CWnd::DrawMenuBar()
{
    WindowData* d = DataOf(m_hWnd);
    if (d && d->dialog)
        RebuildMenuBar(d->dialog);
}

void CWnd::DoDataExchange(CDataExchange*) {}
void CWnd::WinHelp(DWORD_PTR, UINT) {}
BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT r = 0;
    if (!OnWndMsg(message, wParam, lParam, &r))
        r = DefWindowProc(message, wParam, lParam);
    return r;
}

namespace {
thread_local CWnd* g_commandWindow = nullptr;
}
namespace mfc::detail {
CWnd* CommandWindow() { return g_commandWindow; }
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    LRESULT r = 0;
    BOOL handled = FALSE;
    if (message == WM_COMMAND) {
        handled = OnCommand(wParam, lParam);
    } else if (message == WM_NOTIFY) {
        handled = OnNotify(wParam, lParam, &r);
    } else if (const mfc::MsgMapEntry* e = FindMessageEntry(message, 0, 0)) {
        r = e->fn(this, wParam, lParam, 0);
        handled = TRUE;
    }
    if (pResult)
        *pResult = r;
    return handled;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam)
{
    UINT id = LOWORD(wParam);
    int code = lParam == 0 ? 0 : HIWORD(wParam); // menus and accelerators are plain commands
    CWnd* saved = g_commandWindow;
    g_commandWindow = this;
    BOOL handled = OnCmdMsg(id, code, nullptr, nullptr);
    if (!handled && code == 0) {
        WindowData* d = DataOf(m_hWnd);
        if (d && d->kind == Kind::Dialog && AfxGetApp())
            handled = AfxGetApp()->OnCmdMsg(id, 0, nullptr, nullptr);
    }
    g_commandWindow = saved;
    return handled;
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* pResult)
{
    auto* h = reinterpret_cast<NMHDR*>(lParam);
    if (!h)
        return FALSE;
    const mfc::MsgMapEntry* e = FindMessageEntry(WM_NOTIFY, h->code, static_cast<UINT>(h->idFrom));
    if (!e)
        return FALSE;
    LRESULT r = e->fn(this, 0, lParam, static_cast<UINT>(h->idFrom));
    if (pResult)
        *pResult = r;
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowData* d = DataOf(m_hWnd);
    if (!d)
        return 0;
    if (d->kind != Kind::Dialog)
        return ControlProc(d, message, wParam, lParam);
    DialogState* st = d->dialog;
    switch (message) {
    case WM_CLOSE: {
        // As a dialog's default: the Cancel command, unless its button is disabled.
        QWidget* cancel = FindControl(st, IDCANCEL);
        if (cancel && !cancel->isEnabled()) {
            QApplication::beep();
            return 0;
        }
        return Send(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(HandleOf(cancel)));
    }
    case WM_SETTEXT:
        d->w->setWindowTitle(Q(reinterpret_cast<const char*>(lParam)));
        return TRUE;
    case WM_GETTEXT: {
        static thread_local std::string t;
        t = S(d->w->windowTitle());
        if (wParam == static_cast<WPARAM>(-1))
            return reinterpret_cast<LRESULT>(t.c_str());
        return CopyOut(t, reinterpret_cast<char*>(lParam), static_cast<int>(wParam));
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(S(d->w->windowTitle()).size());
    case WM_SETICON: {
        int which = wParam == ICON_BIG ? 1 : 0;
        HICON old = d->icons[which];
        d->icons[which] = reinterpret_cast<HICON>(lParam);
        if (which == 1 || !d->icons[1])
            d->w->setWindowIcon(mfc::IconOf(reinterpret_cast<HICON>(lParam)));
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETICON:
        return reinterpret_cast<LRESULT>(d->icons[wParam == ICON_BIG ? 1 : 0]);
    case DM_SETDEFID:
        if (st)
            st->owner->SetDefID(static_cast<UINT>(wParam));
        return TRUE;
    case DM_GETDEFID:
        return st ? MAKELRESULT(st->defId, DC_HASDEFID) : 0;
    case WM_TIMER:
    case WM_DESTROY:
    case WM_CONTEXTMENU:
    case WM_SIZE:
    default:
        return 0;
    }
}

void CWnd::OnTimer(UINT_PTR) {}
void CWnd::OnClose() { DefWindowProc(WM_CLOSE, 0, 0); }
void CWnd::OnDestroy() {}
void CWnd::OnPaint() {}
HCURSOR CWnd::OnQueryDragIcon() { return GetIcon(FALSE); }
void CWnd::OnSysCommand(UINT, LPARAM) {}
void CWnd::OnSize(UINT, int, int) {}
void CWnd::OnContextMenu(CWnd*, CPoint) {}

// ---------------------------------------------------------------- free functions

HWND GetDlgItem(HWND hDlg, int id)
{
    CWnd* w = CWnd::FromHandle(hDlg);
    CWnd* c = w ? w->GetDlgItem(id) : nullptr;
    return c ? c->m_hWnd : nullptr;
}
LRESULT SendMessage(HWND h, UINT m, WPARAM w, LPARAM l)
{
    return OnGui([&] { return Send(h, m, w, l); });
}
BOOL PostMessage(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (!DataOf(h) || !qApp)
        return FALSE;
    QMetaObject::invokeMethod(
        qApp, [h, m, w, l] { Send(h, m, w, l); }, Qt::QueuedConnection);
    return TRUE;
}
BOOL SetWindowText(HWND h, LPCSTR s)
{
    return OnGui([&] { return static_cast<BOOL>(Send(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s ? s : ""))); });
}
int GetWindowText(HWND h, LPSTR buf, int max)
{
    if (buf && max > 0)
        buf[0] = '\0';
    return static_cast<int>(
        OnGui([&] { return Send(h, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(buf)); }));
}
BOOL EnableWindow(HWND h, BOOL enable)
{
    return OnGui([&]() -> BOOL {
        QWidget* w = Live(h);
        if (!w)
            return FALSE;
        BOOL wasDisabled = !w->isEnabled();
        w->setEnabled(enable != FALSE);
        return wasDisabled;
    });
}
BOOL ShowWindow(HWND h, int cmd)
{
    return OnGui([&]() -> BOOL {
        QWidget* w = Live(h);
        if (!w)
            return FALSE;
        BOOL wasVisible = !w->isHidden();
        switch (cmd) {
        case SW_HIDE:
            w->hide();
            break;
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED:
        case SW_SHOWMINNOACTIVE:
            w->isWindow() ? w->showMinimized() : w->show();
            break;
        case SW_SHOWMAXIMIZED:
            w->isWindow() ? w->showMaximized() : w->show();
            break;
        case SW_RESTORE:
            w->isWindow() ? w->showNormal() : w->show();
            break;
        default:
            w->show();
            break;
        }
        return wasVisible;
    });
}
BOOL IsWindow(HWND h) { return DataOf(h) != nullptr; }
BOOL MessageBeep(UINT)
{
    if (qApp)
        QApplication::beep();
    return TRUE;
}

BOOL GetWindowRect(HWND h, LPRECT r)
{
    CWnd* w = CWnd::FromHandle(h);
    if (!w || !r)
        return FALSE;
    w->GetWindowRect(r);
    return TRUE;
}
BOOL GetClientRect(HWND h, LPRECT r)
{
    CWnd* w = CWnd::FromHandle(h);
    if (!w || !r)
        return FALSE;
    w->GetClientRect(r);
    return TRUE;
}
BOOL ScreenToClient(HWND h, LPPOINT p)
{
    CWnd* w = CWnd::FromHandle(h);
    if (!w || !p)
        return FALSE;
    w->ScreenToClient(p);
    return TRUE;
}
BOOL ClientToScreen(HWND h, LPPOINT p)
{
    CWnd* w = CWnd::FromHandle(h);
    if (!w || !p)
        return FALSE;
    w->ClientToScreen(p);
    return TRUE;
}
BOOL MoveWindow(HWND h, int x, int y, int cx, int cy, BOOL repaint)
{
    CWnd* w = CWnd::FromHandle(h);
    if (!w)
        return FALSE;
    w->MoveWindow(x, y, cx, cy, repaint);
    return TRUE;
}
BOOL SetWindowPos(HWND h, HWND, int x, int y, int cx, int cy, UINT flags)
{
    CWnd* w = CWnd::FromHandle(h);
    return w ? w->SetWindowPos(nullptr, x, y, cx, cy, flags) : FALSE;
}

namespace {
struct DeferredMove {
    HWND h;
    int x, y, cx, cy;
    UINT flags;
};
} // namespace
struct HDWP__ {
    std::vector<DeferredMove> moves;
};

HDWP BeginDeferWindowPos(int n)
{
    auto* d = new HDWP__;
    d->moves.reserve(static_cast<size_t>(std::max(n, 0)));
    return d;
}
HDWP DeferWindowPos(HDWP d, HWND h, HWND, int x, int y, int cx, int cy, UINT flags)
{
    if (!d)
        return nullptr;
    d->moves.push_back({h, x, y, cx, cy, flags});
    return d;
}
BOOL EndDeferWindowPos(HDWP d)
{
    if (!d)
        return FALSE;
    OnGui([&] {
        for (const auto& m : d->moves)
            ::SetWindowPos(m.h, nullptr, m.x, m.y, m.cx, m.cy, m.flags);
    });
    delete d;
    return TRUE;
}
