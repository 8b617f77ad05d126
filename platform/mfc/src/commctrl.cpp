// IP address control, progress bar and busy animation.
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <cstdio>

#include "internal.h"

namespace mfc::detail {

VxIpEdit::VxIpEdit(QWidget* parent) : QWidget(parent)
{
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setAutoFillBackground(true);
    frame->setBackgroundRole(QPalette::Base);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(2, 0, 2, 0);
    row->setSpacing(0);
    // Up to three digits; a value out of the field's range is refused with a
    // box once the field is complete or left.
    static const QRegularExpression octet("^[0-9]{0,3}$");
    for (int i = 0; i < 4; ++i) {
        if (i) {
            auto* dot = new QLabel(".", frame);
            dot->setAlignment(Qt::AlignCenter);
            row->addWidget(dot);
        }
        auto* f = new QLineEdit(frame);
        f->setFrame(false);
        f->setAlignment(Qt::AlignCenter);
        f->setMaxLength(3);
        f->setValidator(new QRegularExpressionValidator(octet, f));
        f->installEventFilter(this);
        field[i] = f;
        row->addWidget(f, 1);
        QObject::connect(f, &QLineEdit::textEdited, this, [this, i](const QString& t) {
            // User edits only: a programmatic SetAddress sends nothing.
            QPointer<VxIpEdit> self(this);
            NMIPADDRESS n{};
            n.iField = i;
            n.iValue = t.isEmpty() ? -1 : t.toInt();
            // A full field is complete: checked at once.
            const bool inRange = t.size() < 3 || CheckField(i);
            if (!self)
                return;
            notifying_ = true;
            NotifyParent(this, &n.hdr, IPN_FIELDCHANGED);
            if (!self)
                return;
            notifying_ = false;
            // A full field hands the typing on to the next one, its text selected.
            if (inRange && t.size() == 3 && i < 3)
                Enter(i + 1, true);
        });
    }
    setFocusProxy(field[0]);
}

void VxIpEdit::Enter(int i, bool advanced)
{
    field[i]->setFocus(Qt::OtherFocusReason);
    field[i]->selectAll();
    advanced_ = advanced ? i : -1;
}

bool VxIpEdit::CheckField(int i)
{
    const QString t = field[i]->text();
    const int v = t.toInt();
    if (t.isEmpty() || (v >= lo_[i] && v <= hi_[i]))
        return true;
    field[i]->setText(QString::number(v < lo_[i] ? lo_[i] : hi_[i]));
    char text[96];
    std::snprintf(text, sizeof text, "%d is out of range. Enter a number from %d to %d.", v, lo_[i], hi_[i]);
    QPointer<VxIpEdit> self(this);
    MessageBox(HandleOf(this), text, "Invalid Entry", MB_OK | MB_ICONEXCLAMATION);
    if (self)
        Enter(i, false);
    return false;
}

void VxIpEdit::CheckFields()
{
    if (notifying_)
        return;
    for (int i = 0; i < 4; ++i)
        CheckField(i);
}

void VxIpEdit::SetRange(int i, int lo, int hi)
{
    lo_[i] = lo;
    hi_[i] = hi;
}

bool VxIpEdit::eventFilter(QObject* o, QEvent* e)
{
    int i = 0;
    while (i < 4 && o != field[i])
        ++i;
    if (i == 4)
        return QWidget::eventFilter(o, e);
    if (e->type() == QEvent::FocusOut) {
        if (advanced_ == i)
            advanced_ = -1;
        // Left with the mouse: checked once the focus has moved (a box shown
        // in the middle of the move would fight it). A box of our own, or
        // another window, takes the focus for a while only.
        const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
        if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason)
            QTimer::singleShot(0, this, [this, i] {
                if (isVisible())
                    CheckField(i);
            });
    }
    if (e->type() != QEvent::KeyPress)
        return QWidget::eventFilter(o, e);
    auto* k = static_cast<QKeyEvent*>(e);
    const int key = k->key();
    if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta)
        return false;
    const bool justEntered = advanced_ == i;
    advanced_ = -1;
    if (key == Qt::Key_Period || key == Qt::Key_Space) {
        // The separator closes a field and opens the next one, unless the
        // field was just entered because the previous one filled up: the
        // dot the user types after three digits is then already done.
        if (!justEntered && CheckField(i) && i < 3 && !field[i]->text().isEmpty())
            Enter(i + 1, false);
        return true;
    }
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && !CheckField(i))
        return true; // the focus stays on the field
    if (key == Qt::Key_Backspace && i > 0 && field[i]->cursorPosition() == 0 && !field[i]->hasSelectedText()) {
        field[i - 1]->setFocus(Qt::OtherFocusReason);
        field[i - 1]->end(false);
        return true;
    }
    return false;
}

int VxIpEdit::Count() const
{
    int n = 0;
    for (auto* f : field)
        if (!f->text().isEmpty())
            ++n;
    return n;
}
DWORD VxIpEdit::Value() const
{
    DWORD v = 0;
    for (auto* f : field)
        v = (v << 8) | static_cast<DWORD>(std::clamp(f->text().toInt(), 0, 255));
    return v;
}
void VxIpEdit::SetValue(DWORD v)
{
    for (int i = 0; i < 4; ++i)
        field[i]->setText(QString::number((v >> (24 - 8 * i)) & 0xFF));
}
void VxIpEdit::Clear()
{
    for (auto* f : field)
        f->clear();
}

VxAnimate::VxAnimate(QWidget* parent) : QWidget(parent)
{
    timer.setInterval(80);
    QObject::connect(&timer, &QTimer::timeout, this, [this] {
        frame = (frame + 1) % 12;
        update();
    });
}

void VxAnimate::paintEvent(QPaintEvent*)
{
    if (!open)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    int side = std::min(width(), height()) - 4;
    if (side <= 4)
        return;
    QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    QPointF c = box.center();
    qreal r = side / 2.0, dot = std::max<qreal>(2.0, side / 10.0);
    for (int i = 0; i < 12; ++i) {
        int age = (frame - i + 12) % 12;
        QColor col = palette().color(QPalette::Highlight);
        col.setAlphaF(1.0 - age / 13.0);
        p.setBrush(col);
        p.setPen(Qt::NoPen);
        qreal a = i * 30.0 * 3.14159265358979 / 180.0;
        p.drawEllipse(QPointF(c.x() + (r - dot) * std::sin(a), c.y() - (r - dot) * std::cos(a)), dot, dot);
    }
}

} // namespace mfc::detail

using namespace mfc::detail;

namespace {
VxIpEdit* Ip(HWND h) { return dynamic_cast<VxIpEdit*>(Live(h)); }
QProgressBar* Bar(HWND h) { return qobject_cast<QProgressBar*>(Live(h)); }
VxAnimate* Anim(HWND h) { return dynamic_cast<VxAnimate*>(Live(h)); }
std::map<QProgressBar*, int>& Steps()
{
    static auto* s = new std::map<QProgressBar*, int>; // kept to the end of the process
    return *s;
}
} // namespace

// ---------------------------------------------------------------- CIPAddressCtrl

BOOL CIPAddressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl(WC_IPADDRESS, "", style, rect, parent, id);
}
BOOL CIPAddressCtrl::IsBlank() const
{
    return OnGui([&]() -> BOOL {
        auto* ip = Ip(m_hWnd);
        return ip && ip->Count() == 0;
    });
}
void CIPAddressCtrl::ClearAddress()
{
    OnGui([&] {
        if (auto* ip = Ip(m_hWnd))
            ip->Clear();
    });
}
int CIPAddressCtrl::GetAddress(BYTE& b0, BYTE& b1, BYTE& b2, BYTE& b3) const
{
    DWORD v = 0;
    int n = GetAddress(v);
    b0 = static_cast<BYTE>(FIRST_IPADDRESS(v));
    b1 = static_cast<BYTE>(SECOND_IPADDRESS(v));
    b2 = static_cast<BYTE>(THIRD_IPADDRESS(v));
    b3 = static_cast<BYTE>(FOURTH_IPADDRESS(v));
    return n;
}
int CIPAddressCtrl::GetAddress(DWORD& v) const
{
    return OnGui([&] {
        auto* ip = Ip(m_hWnd);
        if (ip)
            ip->CheckFields();
        ip = Ip(m_hWnd); // still there after a box
        v = ip ? ip->Value() : 0;
        return ip ? ip->Count() : 0;
    });
}
void CIPAddressCtrl::SetAddress(DWORD v)
{
    OnGui([&] {
        if (auto* ip = Ip(m_hWnd))
            ip->SetValue(v);
    });
}
void CIPAddressCtrl::SetAddress(BYTE b0, BYTE b1, BYTE b2, BYTE b3) { SetAddress(MAKEIPADDRESS(b0, b1, b2, b3)); }
void CIPAddressCtrl::SetFieldFocus(WORD n)
{
    if (auto* ip = Ip(m_hWnd))
        ip->field[std::min<WORD>(n, 3)]->setFocus();
}
void CIPAddressCtrl::SetFieldRange(int n, BYTE lo, BYTE hi)
{
    auto* ip = Ip(m_hWnd);
    if (ip && n >= 0 && n <= 3)
        ip->SetRange(n, std::min(lo, hi), std::max(lo, hi));
}

// ---------------------------------------------------------------- CProgressCtrl

BOOL CProgressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl(PROGRESS_CLASS, "", style, rect, parent, id);
}
void CProgressCtrl::SetRange(short lo, short hi) { SetRange32(lo, hi); }
void CProgressCtrl::SetRange32(int lo, int hi)
{
    OnGui([&] {
        auto* b = Bar(m_hWnd);
        if (!b)
            return;
        int pos = b->value();
        b->setRange(lo, std::max(lo, hi));
        b->setValue(std::clamp(pos, b->minimum(), b->maximum()));
    });
}
void CProgressCtrl::GetRange(int& lo, int& hi) const
{
    auto* b = Bar(m_hWnd);
    lo = b ? b->minimum() : 0;
    hi = b ? b->maximum() : 0;
}
int CProgressCtrl::GetPos() const
{
    return OnGui([&] {
        auto* b = Bar(m_hWnd);
        return b ? b->value() : 0;
    });
}
int CProgressCtrl::SetPos(int pos)
{
    return OnGui([&] {
        auto* b = Bar(m_hWnd);
        if (!b)
            return 0;
        int old = b->value();
        b->setValue(std::clamp(pos, b->minimum(), b->maximum()));
        return old;
    });
}
int CProgressCtrl::OffsetPos(int d)
{
    return OnGui([&] {
        auto* b = Bar(m_hWnd);
        if (!b)
            return 0;
        int old = b->value();
        b->setValue(std::clamp(old + d, b->minimum(), b->maximum()));
        return old;
    });
}
int CProgressCtrl::SetStep(int step)
{
    return OnGui([&] {
        auto* b = Bar(m_hWnd);
        if (!b)
            return 10;
        auto it = Steps().find(b);
        int old = it == Steps().end() ? 10 : it->second;
        Steps()[b] = step;
        QObject::connect(b, &QObject::destroyed, [b] { Steps().erase(b); });
        return old;
    });
}
int CProgressCtrl::StepIt()
{
    return OnGui([&] {
        auto* b = Bar(m_hWnd);
        if (!b)
            return 0;
        auto it = Steps().find(b);
        int step = it == Steps().end() ? 10 : it->second;
        int old = b->value();
        int next = old + step;
        // Past the end the bar starts over from the beginning.
        if (next > b->maximum())
            next = b->minimum() + (next - b->maximum());
        if (next < b->minimum())
            next = b->maximum() - (b->minimum() - next);
        b->setValue(std::clamp(next, b->minimum(), b->maximum()));
        return old;
    });
}

// ---------------------------------------------------------------- CAnimateCtrl

BOOL CAnimateCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl(ANIMATE_CLASS, "", style, rect, parent, id);
}
BOOL CAnimateCtrl::Open(UINT)
{
    return OnGui([&]() -> BOOL {
        auto* a = Anim(m_hWnd);
        if (!a)
            return FALSE;
        a->open = true;
        a->update();
        if (DataOf(m_hWnd)->style & ACS_AUTOPLAY)
            a->timer.start();
        return TRUE;
    });
}
BOOL CAnimateCtrl::Open(LPCTSTR) { return Open(0u); }
BOOL CAnimateCtrl::Play(UINT, UINT, UINT)
{
    auto* a = Anim(m_hWnd);
    if (!a || !a->open)
        return FALSE;
    a->timer.start();
    return TRUE;
}
BOOL CAnimateCtrl::Stop()
{
    auto* a = Anim(m_hWnd);
    if (!a)
        return FALSE;
    a->timer.stop();
    return TRUE;
}
BOOL CAnimateCtrl::Close()
{
    auto* a = Anim(m_hWnd);
    if (!a)
        return FALSE;
    a->timer.stop();
    a->open = false;
    a->update();
    return TRUE;
}
BOOL CAnimateCtrl::IsPlaying() const
{
    auto* a = Anim(m_hWnd);
    return a && a->timer.isActive();
}
