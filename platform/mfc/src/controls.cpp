// Standard controls: creation from templates, their messages and classes.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <cctype>

#include "internal.h"

namespace mfc {
namespace {
// Primary weight: punctuation and blanks, then digits, then letters, then
// everything beyond ASCII; within a class the lower-case byte decides.
int ClassOf(unsigned char c)
{
    if (c >= 0x80)
        return 4;
    if (std::isalpha(c))
        return 3;
    if (std::isdigit(c))
        return 2;
    return 1;
}
int ComparePass(const char* a, const char* b, bool skipWordMarks)
{
    auto skip = [&](const unsigned char*& p) {
        if (skipWordMarks)
            while (*p == '-' || *p == '\'')
                ++p;
    };
    auto* pa = reinterpret_cast<const unsigned char*>(a);
    auto* pb = reinterpret_cast<const unsigned char*>(b);
    for (;;) {
        skip(pa);
        skip(pb);
        if (!*pa || !*pb)
            return *pa ? 1 : *pb ? -1 : 0;
        int ca = ClassOf(*pa), cb = ClassOf(*pb);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        int la = std::tolower(*pa), lb = std::tolower(*pb);
        if (la != lb)
            return la < lb ? -1 : 1;
        ++pa;
        ++pb;
    }
}
} // namespace

int CompareStringNoCase(const char* a, const char* b)
{
    a = a ? a : "";
    b = b ? b : "";
    int r = ComparePass(a, b, true);
    if (r)
        return r;
    // Equal but for hyphens and apostrophes: fewer marks first, then by place.
    auto marks = [](const char* s) {
        int n = 0;
        for (; *s; ++s)
            n += (*s == '-' || *s == '\'');
        return n;
    };
    int ma = marks(a), mb = marks(b);
    if (ma != mb)
        return ma < mb ? -1 : 1;
    return ComparePass(a, b, false);
}
} // namespace mfc

namespace mfc::detail {

namespace {
std::string Lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
bool StartsNoCase(const std::string& s, const std::string& prefix)
{
    return Lower(s.substr(0, prefix.size())) == Lower(prefix) && s.size() >= prefix.size();
}
bool EqualNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

int SortedPosition(const std::vector<std::string>& items, const std::string& s)
{
    int i = 0;
    for (; i < static_cast<int>(items.size()); ++i)
        if (mfc::CompareStringNoCase(s.c_str(), items[static_cast<size_t>(i)].c_str()) < 0)
            break;
    return i;
}

// Prefix (or whole-string) search in Windows order: from after `start`,
// wrapping round to the start.
template <class GetText> int FindIn(int count, int start, const std::string& s, bool exact, GetText get)
{
    if (count <= 0)
        return -1;
    int first = (start < 0 || start >= count) ? 0 : start + 1;
    for (int k = 0; k < count; ++k) {
        int i = (first + k) % count;
        std::string t = get(i);
        if (exact ? EqualNoCase(t, s) : StartsNoCase(t, s))
            return i;
    }
    return -1;
}

Qt::Alignment EditAlign(DWORD style)
{
    if (style & ES_RIGHT)
        return Qt::AlignRight | Qt::AlignVCenter;
    if (style & ES_CENTER)
        return Qt::AlignHCenter | Qt::AlignVCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

std::string ToCrLf(const QString& q)
{
    std::string s = S(q), out;
    for (char c : s) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}
QString FromCrLf(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
            continue;
        out += s[i];
    }
    return Q(out);
}

// Edit input rules: ES_NUMBER allows digits only; the text limit applies to
// what the user types or pastes (a paste is cut to fit), never to text the
// program sets, as with EM_LIMITTEXT. The limit counts bytes of the "ANSI"
// (UTF-8) text, as an ANSI edit counts bytes, so what the user may enter
// always fits the program's byte buffer; cuts fall between characters.
class EditValidator : public QValidator {
public:
    EditValidator(QLineEdit* e, bool digits) : QValidator(e), before_(e->text().size()), digits_(digits)
    {
        // The text before an edit: by the time validate() runs the line edit
        // already holds the new text.
        connect(e, &QLineEdit::textChanged, this, [this, e](const QString& t) {
            before_ = t.size();
            selected_ = e->selectedText().size();
        });
        connect(e, &QLineEdit::selectionChanged, this, [this, e] { selected_ = e->selectedText().size(); });
    }
    int limit = 0;       // 0 = none
    bool bypass = false; // text set by the program
    State validate(QString& input, int& pos) const override
    {
        if (bypass)
            return Acceptable;
        if (digits_)
            for (QChar c : input)
                if (!c.isDigit())
                    return Invalid;
        if (limit > 0 && Bytes(input) > limit) {
            // What came in at the cursor (in UTF-16 units) beside what the edit
            // kept of the old text.
            int len = static_cast<int>(input.size());
            int added = len - static_cast<int>(before_ - selected_);
            if (added > 0) {
                int inserted = std::min(added, pos);
                if (inserted == 0)
                    return Invalid;
                int start = pos - inserted;
                QStringView in = QStringView(input).mid(start, inserted);
                int room =
                    std::max(0, limit - Bytes(QStringView(input).left(start)) - Bytes(QStringView(input).mid(pos)));
                // The longest start of the insertion that fits, in whole characters.
                int fit = 0;
                for (int used = 0; fit < inserted;) {
                    int n = in[fit].isHighSurrogate() && fit + 1 < inserted && in[fit + 1].isLowSurrogate() ? 2 : 1;
                    int b = Bytes(in.mid(fit, n));
                    if (used + b > room)
                        break;
                    used += b;
                    fit += n;
                }
                if (fit == 0)
                    return Invalid; // nothing fits: the key is refused and the text stays as it was
                input.remove(start + fit, inserted - fit);
                pos -= inserted - fit;
            }
        }
        return Acceptable;
    }

private:
    static int Bytes(QStringView s) { return static_cast<int>(s.toUtf8().size()); }

    qsizetype before_;
    qsizetype selected_ = 0;
    bool digits_;
};

EditValidator* ValidatorOf(QLineEdit* e)
{
    return dynamic_cast<EditValidator*>(const_cast<QValidator*>(e->validator()));
}

std::string TextOf(WindowData* d)
{
    QWidget* w = d->w;
    switch (d->kind) {
    case Kind::Button:
        if (auto* g = qobject_cast<QGroupBox*>(w))
            return S(g->title());
        return S(static_cast<QAbstractButton*>(w)->text());
    case Kind::Edit:
        if (auto* e = qobject_cast<QLineEdit*>(w))
            return S(e->text());
        return ToCrLf(static_cast<QPlainTextEdit*>(w)->toPlainText());
    case Kind::Combo: {
        auto* c = static_cast<QComboBox*>(w);
        return c->isEditable() ? S(c->currentText()) : (c->currentIndex() >= 0 ? S(c->currentText()) : std::string());
    }
    case Kind::IpAddress: {
        auto* ip = static_cast<VxIpEdit*>(w);
        std::string s;
        for (int i = 0; i < 4; ++i) {
            if (i)
                s += '.';
            QString f = ip->field[i]->text();
            s += f.isEmpty() ? "0" : S(f);
        }
        return s;
    }
    case Kind::Dialog:
        return S(w->windowTitle());
    default:
        return d->text;
    }
}

void SetTextOf(WindowData* d, const std::string& s)
{
    QWidget* w = d->w;
    d->text = s;
    switch (d->kind) {
    case Kind::Static:
        if (auto* l = qobject_cast<QLabel*>(w)) {
            DWORD t = d->style & SS_TYPEMASK;
            if (t != SS_ICON && t != SS_BITMAP)
                l->setText(Q((d->style & SS_NOPREFIX) ? s : StripMnemonic(s)));
        }
        break;
    case Kind::Button:
        if (auto* g = qobject_cast<QGroupBox*>(w))
            g->setTitle(Q(s));
        else
            static_cast<QAbstractButton*>(w)->setText(Q(s));
        break;
    case Kind::Edit:
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            EditValidator* v = ValidatorOf(e);
            if (v)
                v->bypass = true;
            e->setText(Q(s));
            if (v)
                v->bypass = false;
            e->setCursorPosition(0);
        } else {
            static_cast<QPlainTextEdit*>(w)->setPlainText(FromCrLf(s));
        }
        break;
    case Kind::Combo: {
        auto* c = static_cast<QComboBox*>(w);
        if (c->isEditable())
            c->setEditText(Q(s));
        break;
    }
    case Kind::IpAddress: {
        unsigned b[4] = {0, 0, 0, 0};
        if (std::sscanf(s.c_str(), "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]) == 4)
            static_cast<VxIpEdit*>(w)->SetValue(MAKEIPADDRESS(b[0] & 255, b[1] & 255, b[2] & 255, b[3] & 255));
        break;
    }
    case Kind::Dialog:
        w->setWindowTitle(Q(s));
        break;
    default:
        break;
    }
}

void ConnectButton(QAbstractButton* b)
{
    QObject::connect(b, &QAbstractButton::clicked, b, [b] {
        WindowData* d = DataOf(b);
        if (!d)
            return;
        DWORD type = d->style & BS_TYPEMASK;
        if (type == BS_CHECKBOX || type == BS_RADIOBUTTON || type == BS_3STATE) {
            // Non-automatic buttons keep their state; the program sets it.
            Quiet q(d);
            b->setChecked(!b->isChecked());
        } else if (type == BS_AUTORADIOBUTTON) {
            b->setChecked(true);
            WindowData* dd = DialogDataOf(b);
            if (dd && dd->dialog)
                for (QWidget* o : RadioGroupOf(dd->dialog, b))
                    if (o != b && (DataOf(o)->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
                        static_cast<QAbstractButton*>(o)->setChecked(false);
        }
        NotifyCommand(b, BN_CLICKED);
    });
}

} // namespace

void VxTextEdit::keyPressEvent(QKeyEvent* e)
{
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !(style_ & ES_WANTRETURN) &&
        !(e->modifiers() & Qt::ControlModifier)) {
        e->ignore();
        return;
    }
    if (e->key() == Qt::Key_Escape) {
        e->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

std::unique_ptr<CWnd> MakeWrapper(Kind kind)
{
    switch (kind) {
    case Kind::Static:
        return std::make_unique<CStatic>();
    case Kind::Button:
        return std::make_unique<CButton>();
    case Kind::Edit:
        return std::make_unique<CEdit>();
    case Kind::Combo:
        return std::make_unique<CComboBox>();
    case Kind::ListBox:
        return std::make_unique<CListBox>();
    case Kind::ListView:
        return std::make_unique<CListCtrl>();
    case Kind::Header:
        return std::make_unique<CHeaderCtrl>();
    case Kind::IpAddress:
        return std::make_unique<CIPAddressCtrl>();
    case Kind::Progress:
        return std::make_unique<CProgressCtrl>();
    case Kind::Animate:
        return std::make_unique<CAnimateCtrl>();
    case Kind::Dialog:
        return std::make_unique<CDialog>();
    default:
        return std::make_unique<CWnd>();
    }
}

QWidget* CreateControlWidget(const std::string& clsIn, const std::string& text, int id, DWORD style, DWORD exStyle,
                             const QRect& px, QWidget* parent, DialogState* st)
{
    std::string cls = Lower(clsIn);
    QWidget* w = nullptr;
    Kind kind = Kind::Window;
    bool focusable = true;
    if (cls == "button") {
        kind = Kind::Button;
        DWORD type = style & BS_TYPEMASK;
        QAbstractButton* b = nullptr;
        switch (type) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE: {
            auto* c = new QCheckBox(parent);
            c->setTristate(type == BS_3STATE || type == BS_AUTO3STATE);
            b = c;
            break;
        }
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: {
            auto* r = new QRadioButton(parent);
            r->setAutoExclusive(false); // groups follow WS_GROUP, handled on click
            b = r;
            break;
        }
        case BS_GROUPBOX: {
            auto* g = new QGroupBox(Q(text), parent);
            w = g;
            focusable = false;
            break;
        }
        default: {
            auto* p = new QPushButton(parent);
            p->setAutoDefault(false);
            if (type == BS_DEFPUSHBUTTON) {
                p->setDefault(true);
                if (st)
                    st->defId = static_cast<UINT>(id);
            }
            b = p;
            break;
        }
        }
        if (b) {
            b->setText(Q(text));
            w = b;
        }
    } else if (cls == "edit") {
        kind = Kind::Edit;
        if (style & ES_MULTILINE) {
            auto* e = new VxTextEdit(parent, style);
            e->setReadOnly(style & ES_READONLY);
            e->setLineWrapMode((style & WS_HSCROLL) ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
            // As a Windows edit: scroll bars only when the style asks for them
            // (then always shown), and the lines from the frame's edge, so a
            // template's size holds the lines it holds on Windows.
            e->setVerticalScrollBarPolicy((style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            e->setHorizontalScrollBarPolicy((style & WS_HSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            e->document()->setDocumentMargin(0);
            e->setPlainText(FromCrLf(text));
            if (!(style & WS_BORDER) && !(exStyle & WS_EX_CLIENTEDGE))
                e->setFrameShape(QFrame::NoFrame);
            w = e;
        } else {
            auto* e = new QLineEdit(parent);
            e->setReadOnly(style & ES_READONLY);
            e->setAlignment(EditAlign(style));
            if (style & ES_PASSWORD)
                e->setEchoMode(QLineEdit::Password);
            e->setMaxLength(32767);
            e->setValidator(new EditValidator(e, style & ES_NUMBER));
            e->setFrame((style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE));
            e->setText(Q(text));
            w = e;
        }
    } else if (cls == "static") {
        kind = Kind::Static;
        focusable = false;
        DWORD type = style & SS_TYPEMASK;
        if (type == SS_BLACKFRAME || type == SS_ETCHEDFRAME || type == SS_GRAYRECT || type == SS_BLACKRECT ||
            type == SS_WHITERECT) {
            auto* f = new QLabel(parent);
            f->setFrameShape(QFrame::Box);
            if (type == SS_ETCHEDFRAME)
                f->setFrameShadow(QFrame::Sunken);
            w = f;
        } else {
            auto* l = new QLabel(parent);
            if (type == SS_CENTER)
                l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            else if (type == SS_RIGHT)
                l->setAlignment(Qt::AlignRight | Qt::AlignTop);
            else
                l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            if (style & SS_CENTERIMAGE)
                l->setAlignment((l->alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
            l->setWordWrap(type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT);
            l->setTextFormat(Qt::PlainText);
            if (type != SS_ICON && type != SS_BITMAP)
                l->setText(Q((style & SS_NOPREFIX) ? text : StripMnemonic(text)));
            if (type == SS_ICON || type == SS_BITMAP)
                l->setAlignment(Qt::AlignCenter);
            w = l;
        }
        if ((style & SS_SUNKEN) || (exStyle & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE))) {
            auto* f = static_cast<QFrame*>(w);
            f->setFrameShape(QFrame::Panel);
            f->setFrameShadow(QFrame::Sunken);
        }
    } else if (cls == "combobox") {
        kind = Kind::Combo;
        auto* c = new QComboBox(parent);
        DWORD type = style & 3;
        c->setEditable(type == CBS_DROPDOWN || type == CBS_SIMPLE);
        c->setInsertPolicy(QComboBox::NoInsert);
        c->setMaxVisibleItems(std::max(3, px.height() / std::max(1, c->fontMetrics().height())));
        w = c;
    } else if (cls == "listbox") {
        kind = Kind::ListBox;
        auto* l = new QListWidget(parent);
        if (style & LBS_EXTENDEDSEL)
            l->setSelectionMode(QAbstractItemView::ExtendedSelection);
        else if (style & LBS_MULTIPLESEL)
            l->setSelectionMode(QAbstractItemView::MultiSelection);
        else
            l->setSelectionMode(QAbstractItemView::SingleSelection);
        l->setUniformItemSizes(true);
        w = l;
    } else if (cls == "syslistview32") {
        kind = Kind::ListView;
        w = new VxListView(parent, style);
    } else if (cls == "sysipaddress32") {
        kind = Kind::IpAddress;
        w = new VxIpEdit(parent);
    } else if (cls == "msctls_progress32") {
        kind = Kind::Progress;
        focusable = false;
        auto* p = new QProgressBar(parent);
        p->setTextVisible(false);
        p->setRange(0, 100);
        p->setValue(0);
        w = p;
    } else if (cls == "sysanimate32") {
        kind = Kind::Animate;
        focusable = false;
        w = new VxAnimate(parent);
    } else {
        w = new QWidget(parent);
        focusable = false;
    }

    auto* d = new WindowData(w, kind, id, style, exStyle);
    d->text = text;
    if (kind == Kind::ListView) {
        auto* lv = static_cast<VxListView*>(w);
        new WindowData(lv->header(), Kind::Header, 0, 0, 0);
    }
    if (kind == Kind::Combo) {
        auto* c = static_cast<QComboBox*>(w);
        int h = c->sizeHint().height();
        w->setGeometry(px.x(), px.y(), px.width(), h);
    } else {
        w->setGeometry(px);
    }
    if (!focusable) {
        w->setFocusPolicy(Qt::NoFocus);
    } else if (!(style & WS_TABSTOP)) {
        w->setFocusPolicy(Qt::ClickFocus);
    }
    if (kind == Kind::Button && (style & BS_TYPEMASK) == BS_GROUPBOX)
        w->lower();
    if (style & WS_DISABLED)
        w->setEnabled(false);
    if (!(style & WS_VISIBLE))
        w->hide();

    // Notifications (connected after the initial state is set).
    switch (kind) {
    case Kind::Button:
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            ConnectButton(b);
        break;
    case Kind::Edit:
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            QObject::connect(e, &QLineEdit::textChanged, e, [e] {
                WindowData* dd = DataOf(e);
                if (dd && !dd->quiet)
                    NotifyCommand(e, EN_CHANGE);
            });
        } else if (auto* t = qobject_cast<QPlainTextEdit*>(w)) {
            QObject::connect(t, &QPlainTextEdit::textChanged, t, [t] {
                WindowData* dd = DataOf(t);
                if (dd && !dd->quiet)
                    NotifyCommand(t, EN_CHANGE);
            });
        }
        break;
    case Kind::Combo: {
        auto* c = static_cast<QComboBox*>(w);
        QObject::connect(c, &QComboBox::activated, c, [c](int) { NotifyCommand(c, CBN_SELCHANGE); });
        if (c->isEditable())
            QObject::connect(c->lineEdit(), &QLineEdit::textEdited, c, [c] { NotifyCommand(c, CBN_EDITCHANGE); });
        break;
    }
    case Kind::ListBox: {
        auto* l = static_cast<QListWidget*>(w);
        QObject::connect(l, &QListWidget::itemSelectionChanged, l, [l] {
            WindowData* dd = DataOf(l);
            if (dd && !dd->quiet && (dd->style & LBS_NOTIFY))
                NotifyCommand(l, LBN_SELCHANGE);
        });
        QObject::connect(l, &QListWidget::itemDoubleClicked, l, [l] {
            WindowData* dd = DataOf(l);
            if (dd && (dd->style & LBS_NOTIFY))
                NotifyCommand(l, LBN_DBLCLK);
        });
        break;
    }
    default:
        break;
    }
    return w;
}

// The messages a control answers itself.
LRESULT BrowserProc(QWidget* w, UINT msg, WPARAM wp, LPARAM lp);

LRESULT ControlProc(WindowData* d, UINT msg, WPARAM wp, LPARAM lp)
{
    if (d->kind == Kind::Window)
        return BrowserProc(d->w, msg, wp, lp);
    CWnd* any = CWnd::FromHandle(HandleOf(d->w));
    switch (msg) {
    case WM_SETTEXT:
        SetTextOf(d, lp ? reinterpret_cast<const char*>(lp) : "");
        return TRUE;
    case WM_GETTEXT: {
        static thread_local std::string t;
        t = TextOf(d);
        if (wp == static_cast<WPARAM>(-1))
            return reinterpret_cast<LRESULT>(t.c_str());
        return CopyOut(t, reinterpret_cast<char*>(lp), static_cast<int>(wp));
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(TextOf(d).size());
    case WM_SETICON:
    case STM_SETICON:
        if (d->kind == Kind::Static)
            return reinterpret_cast<LRESULT>(static_cast<CStatic*>(any)->SetIcon(
                reinterpret_cast<HICON>(msg == STM_SETICON ? wp : static_cast<WPARAM>(lp))));
        return 0;
    case STM_SETIMAGE:
        if (d->kind != Kind::Static)
            return 0;
        if (wp == IMAGE_BITMAP)
            return reinterpret_cast<LRESULT>(static_cast<CStatic*>(any)->SetBitmap(reinterpret_cast<HBITMAP>(lp)));
        return reinterpret_cast<LRESULT>(static_cast<CStatic*>(any)->SetIcon(reinterpret_cast<HICON>(lp)));
    default:
        break;
    }
    switch (d->kind) {
    case Kind::Button: {
        auto* b = static_cast<CButton*>(any);
        switch (msg) {
        case BM_GETCHECK:
            return b->GetCheck();
        case BM_SETCHECK:
            b->SetCheck(static_cast<int>(wp));
            return 0;
        case BM_GETSTATE:
            return b->GetState();
        case BM_SETSTATE:
            b->SetState(static_cast<BOOL>(wp));
            return 0;
        case BM_SETSTYLE:
            b->SetButtonStyle(static_cast<UINT>(wp));
            return 0;
        case BM_CLICK:
            b->Click();
            return 0;
        }
        break;
    }
    case Kind::Edit: {
        auto* e = static_cast<CEdit*>(any);
        switch (msg) {
        case EM_LIMITTEXT:
            e->LimitText(static_cast<int>(wp));
            return 0;
        case EM_GETLIMITTEXT:
            return e->GetLimitText();
        case EM_SETREADONLY:
            return e->SetReadOnly(static_cast<BOOL>(wp));
        case EM_SETSEL:
            e->SetSel(static_cast<int>(wp), static_cast<int>(lp));
            return 0;
        case EM_REPLACESEL:
            e->ReplaceSel(reinterpret_cast<LPCTSTR>(lp));
            return 0;
        }
        break;
    }
    case Kind::Combo: {
        auto* c = static_cast<CComboBox*>(any);
        switch (msg) {
        case CB_ADDSTRING:
            return c->AddString(reinterpret_cast<LPCTSTR>(lp));
        case CB_INSERTSTRING:
            return c->InsertString(static_cast<int>(wp), reinterpret_cast<LPCTSTR>(lp));
        case CB_DELETESTRING:
            return c->DeleteString(static_cast<UINT>(wp));
        case CB_RESETCONTENT:
            c->ResetContent();
            return CB_OKAY;
        case CB_GETCOUNT:
            return c->GetCount();
        case CB_GETCURSEL:
            return c->GetCurSel();
        case CB_SETCURSEL:
            return c->SetCurSel(static_cast<int>(wp));
        case CB_GETLBTEXT:
            return c->GetLBText(static_cast<int>(wp), reinterpret_cast<LPTSTR>(lp));
        case CB_GETLBTEXTLEN:
            return c->GetLBTextLen(static_cast<int>(wp));
        case CB_FINDSTRING:
            return c->FindString(static_cast<int>(wp), reinterpret_cast<LPCTSTR>(lp));
        case CB_FINDSTRINGEXACT:
            return c->FindStringExact(static_cast<int>(wp), reinterpret_cast<LPCTSTR>(lp));
        case CB_SELECTSTRING:
            return c->SelectString(static_cast<int>(wp), reinterpret_cast<LPCTSTR>(lp));
        case CB_GETITEMDATA:
            return static_cast<LRESULT>(c->GetItemData(static_cast<int>(wp)));
        case CB_SETITEMDATA:
            return c->SetItemData(static_cast<int>(wp), static_cast<DWORD_PTR>(lp));
        }
        break;
    }
    case Kind::ListBox: {
        auto* l = static_cast<CListBox*>(any);
        switch (msg) {
        case LB_ADDSTRING:
            return l->AddString(reinterpret_cast<LPCTSTR>(lp));
        case LB_INSERTSTRING:
            return l->InsertString(static_cast<int>(wp), reinterpret_cast<LPCTSTR>(lp));
        case LB_DELETESTRING:
            return l->DeleteString(static_cast<UINT>(wp));
        case LB_RESETCONTENT:
            l->ResetContent();
            return 0;
        case LB_GETCOUNT:
            return l->GetCount();
        case LB_GETTEXT:
            return l->GetText(static_cast<int>(wp), reinterpret_cast<LPTSTR>(lp));
        case LB_GETTEXTLEN:
            return l->GetTextLen(static_cast<int>(wp));
        case LB_GETCURSEL:
            return l->GetCurSel();
        case LB_SETCURSEL:
            return l->SetCurSel(static_cast<int>(wp));
        case LB_GETSEL:
            return l->GetSel(static_cast<int>(wp));
        case LB_SETSEL:
            return l->SetSel(static_cast<int>(lp), static_cast<BOOL>(wp));
        case LB_GETSELCOUNT:
            return l->GetSelCount();
        case LB_GETSELITEMS:
            return l->GetSelItems(static_cast<int>(wp), reinterpret_cast<LPINT>(lp));
        case LB_FINDSTRING:
            return l->FindString(static_cast<int>(wp), reinterpret_cast<LPCTSTR>(lp));
        case LB_FINDSTRINGEXACT:
            return l->FindStringExact(static_cast<int>(wp), reinterpret_cast<LPCTSTR>(lp));
        case LB_SELECTSTRING:
            return l->SelectString(static_cast<int>(wp), reinterpret_cast<LPCTSTR>(lp));
        case LB_GETITEMDATA:
            return static_cast<LRESULT>(l->GetItemData(static_cast<int>(wp)));
        case LB_SETITEMDATA:
            return l->SetItemData(static_cast<int>(wp), static_cast<DWORD_PTR>(lp));
        }
        break;
    }
    case Kind::IpAddress: {
        auto* ip = static_cast<CIPAddressCtrl*>(any);
        switch (msg) {
        case IPM_CLEARADDRESS:
            ip->ClearAddress();
            return 0;
        case IPM_SETADDRESS:
            ip->SetAddress(static_cast<DWORD>(lp));
            return 0;
        case IPM_GETADDRESS: {
            DWORD v = 0;
            int n = ip->GetAddress(v);
            if (lp)
                *reinterpret_cast<DWORD*>(lp) = v;
            return n;
        }
        case IPM_ISBLANK:
            return ip->IsBlank();
        case IPM_SETFOCUS:
            ip->SetFieldFocus(static_cast<WORD>(wp));
            return 0;
        }
        break;
    }
    case Kind::Progress: {
        auto* p = static_cast<CProgressCtrl*>(any);
        switch (msg) {
        case PBM_SETRANGE: {
            int lo = 0, hi = 0;
            p->GetRange(lo, hi);
            p->SetRange(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
            return MAKELRESULT(lo, hi);
        }
        case PBM_SETRANGE32:
            p->SetRange32(static_cast<int>(wp), static_cast<int>(lp));
            return 0;
        case PBM_SETPOS:
            return p->SetPos(static_cast<int>(wp));
        case PBM_DELTAPOS:
            return p->OffsetPos(static_cast<int>(wp));
        case PBM_SETSTEP:
            return p->SetStep(static_cast<int>(wp));
        case PBM_STEPIT:
            return p->StepIt();
        case PBM_GETPOS:
            return p->GetPos();
        }
        break;
    }
    case Kind::ListView: {
        auto* l = static_cast<CListCtrl*>(any);
        switch (msg) {
        case LVM_SETIMAGELIST:
            return reinterpret_cast<LRESULT>(l->SetImageList(reinterpret_cast<HIMAGELIST>(lp), static_cast<int>(wp)));
        case LVM_GETITEMCOUNT:
            return l->GetItemCount();
        case LVM_DELETEALLITEMS:
            return l->DeleteAllItems();
        case LVM_GETNEXTITEM:
            return l->GetNextItem(static_cast<int>(wp), static_cast<int>(LOWORD(lp)));
        case LVM_GETSELECTEDCOUNT:
            return l->GetSelectedCount();
        case LVM_GETHEADER:
            return reinterpret_cast<LRESULT>(l->GetHeaderCtrl()->m_hWnd);
        case LVM_SETEXTENDEDLISTVIEWSTYLE: {
            DWORD old = l->GetExtendedStyle();
            DWORD mask = wp ? static_cast<DWORD>(wp) : 0xFFFFFFFFu;
            l->SetExtendedStyle((old & ~mask) | (static_cast<DWORD>(lp) & mask));
            return old;
        }
        case LVM_GETEXTENDEDLISTVIEWSTYLE:
            return l->GetExtendedStyle();
        }
        break;
    }
    case Kind::Header: {
        auto* h = static_cast<CHeaderCtrl*>(any);
        switch (msg) {
        case HDM_GETITEMCOUNT:
            return h->GetItemCount();
        case HDM_GETITEMA:
            return h->GetItem(static_cast<int>(wp), reinterpret_cast<HDITEM*>(lp));
        case HDM_GETORDERARRAY:
            return h->GetOrderArray(reinterpret_cast<LPINT>(lp), static_cast<int>(wp));
        case HDM_SETORDERARRAY:
            return h->SetOrderArray(static_cast<int>(wp), reinterpret_cast<LPINT>(lp));
        }
        break;
    }
    default:
        break;
    }
    return 0;
}

} // namespace mfc::detail

using namespace mfc::detail;

namespace {
template <class T> T* As(HWND h) { return qobject_cast<T*>(Live(h)); }
RECT R(const RECT& r) { return r; }
} // namespace

// ---------------------------------------------------------------- CStatic

BOOL CStatic::Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl("Static", text, style, R(rect), parent, id);
}
HICON CStatic::SetIcon(HICON hIcon)
{
    return OnGui([&]() -> HICON {
        WindowData* d = DataOf(m_hWnd);
        auto* l = As<QLabel>(m_hWnd);
        if (!d || !l)
            return nullptr;
        HICON old = d->icons[0];
        d->icons[0] = hIcon;
        QIcon icon = mfc::IconOf(hIcon);
        l->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(l->size().boundedTo(QSize(32, 32))));
        return old;
    });
}
HICON CStatic::GetIcon() const
{
    WindowData* d = DataOf(m_hWnd);
    return d ? d->icons[0] : nullptr;
}
HBITMAP CStatic::SetBitmap(HBITMAP hBitmap)
{
    return OnGui([&]() -> HBITMAP {
        WindowData* d = DataOf(m_hWnd);
        auto* l = As<QLabel>(m_hWnd);
        if (!d || !l)
            return nullptr;
        HBITMAP old = d->bitmap;
        d->bitmap = hBitmap;
        l->setPixmap(mfc::PixmapOf(hBitmap));
        return old;
    });
}
HBITMAP CStatic::GetBitmap() const
{
    WindowData* d = DataOf(m_hWnd);
    return d ? d->bitmap : nullptr;
}

// ---------------------------------------------------------------- CButton

BOOL CButton::Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl("Button", text, style, R(rect), parent, id);
}
int CButton::GetCheck() const
{
    return OnGui([&] {
        auto* b = As<QAbstractButton>(m_hWnd);
        if (!b || !b->isCheckable())
            return BST_UNCHECKED;
        if (auto* c = qobject_cast<QCheckBox*>(b); c && c->checkState() == Qt::PartiallyChecked)
            return BST_INDETERMINATE;
        return b->isChecked() ? BST_CHECKED : BST_UNCHECKED;
    });
}
void CButton::SetCheck(int n)
{
    OnGui([&] {
        auto* b = As<QAbstractButton>(m_hWnd);
        if (!b || !b->isCheckable())
            return;
        Quiet q(DataOf(m_hWnd));
        if (auto* c = qobject_cast<QCheckBox*>(b))
            c->setCheckState(n == BST_CHECKED                                ? Qt::Checked
                                 : n == BST_INDETERMINATE && c->isTristate() ? Qt::PartiallyChecked
                                                                             : Qt::Unchecked);
        else
            b->setChecked(n == BST_CHECKED);
    });
}
UINT CButton::GetState() const
{
    auto* b = As<QAbstractButton>(m_hWnd);
    if (!b)
        return 0;
    UINT s = static_cast<UINT>(GetCheck());
    if (b->isDown())
        s |= 0x0004;
    if (b->hasFocus())
        s |= 0x0008;
    return s;
}
void CButton::SetState(BOOL h)
{
    if (auto* b = As<QAbstractButton>(m_hWnd))
        b->setDown(h != FALSE);
}
UINT CButton::GetButtonStyle() const
{
    WindowData* d = DataOf(m_hWnd);
    return d ? (d->style & 0xFF) : 0;
}
void CButton::SetButtonStyle(UINT nStyle, BOOL)
{
    WindowData* d = DataOf(m_hWnd);
    if (!d)
        return;
    d->style = (d->style & ~0xFFu) | (nStyle & 0xFF);
    if (auto* p = As<QPushButton>(m_hWnd))
        p->setDefault((nStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
}
void CButton::Click()
{
    OnGui([&] {
        auto* b = As<QAbstractButton>(m_hWnd);
        if (b && b->isEnabled())
            b->click();
    });
}

// ---------------------------------------------------------------- CEdit

BOOL CEdit::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl("Edit", "", style, R(rect), parent, id);
}
void CEdit::LimitText(int n)
{
    OnGui([&] {
        auto* e = As<QLineEdit>(m_hWnd);
        if (!e)
            return;
        EditValidator* v = ValidatorOf(e);
        if (!v) {
            v = new EditValidator(e, false);
            e->setValidator(v);
        }
        v->limit = n > 0 ? n : 0;
    });
}
UINT CEdit::GetLimitText() const
{
    auto* e = As<QLineEdit>(m_hWnd);
    EditValidator* v = e ? ValidatorOf(e) : nullptr;
    return v && v->limit > 0 ? static_cast<UINT>(v->limit) : 30000u;
}
BOOL CEdit::SetReadOnly(BOOL ro)
{
    return OnGui([&]() -> BOOL {
        if (auto* e = As<QLineEdit>(m_hWnd))
            e->setReadOnly(ro != FALSE);
        else if (auto* t = As<QPlainTextEdit>(m_hWnd))
            t->setReadOnly(ro != FALSE);
        else
            return FALSE;
        if (WindowData* d = DataOf(m_hWnd))
            d->style = ro ? (d->style | ES_READONLY) : (d->style & ~ES_READONLY);
        return TRUE;
    });
}
void CEdit::SetSel(int a, int b, BOOL)
{
    if (auto* e = As<QLineEdit>(m_hWnd)) {
        int len = static_cast<int>(e->text().size());
        if (a == 0 && b == -1)
            e->selectAll();
        else if (a < 0)
            e->deselect();
        else
            e->setSelection(std::min(a, len), std::min(b < 0 ? len : b, len) - std::min(a, len));
    }
}
void CEdit::GetSel(int& a, int& b) const
{
    a = b = 0;
    if (auto* e = As<QLineEdit>(m_hWnd)) {
        a = e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
        b = e->hasSelectedText() ? e->selectionEnd() : a;
    }
}
void CEdit::ReplaceSel(LPCTSTR s, BOOL)
{
    if (auto* e = As<QLineEdit>(m_hWnd))
        e->insert(Q(s));
    else if (auto* t = As<QPlainTextEdit>(m_hWnd))
        t->insertPlainText(FromCrLf(s ? s : ""));
}
int CEdit::GetLineCount() const
{
    if (auto* t = As<QPlainTextEdit>(m_hWnd))
        return t->blockCount();
    return Live(m_hWnd) ? 1 : 0;
}

// ---------------------------------------------------------------- CComboBox

BOOL CComboBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl("ComboBox", "", style, R(rect), parent, id);
}
int CComboBox::AddString(LPCTSTR s)
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c)
            return CB_ERR;
        WindowData* d = DataOf(m_hWnd);
        Quiet q(d);
        int at = c->count();
        if (d->style & CBS_SORT) {
            std::vector<std::string> items;
            for (int i = 0; i < c->count(); ++i)
                items.push_back(S(c->itemText(i)));
            at = SortedPosition(items, s ? s : "");
        }
        int cur = c->currentIndex();
        c->insertItem(at, Q(s));
        if (cur < 0)
            c->setCurrentIndex(-1);
        return at;
    });
}
int CComboBox::InsertString(int n, LPCTSTR s)
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c || n > c->count())
            return CB_ERR;
        Quiet q(DataOf(m_hWnd));
        int at = n < 0 ? c->count() : n;
        int cur = c->currentIndex();
        c->insertItem(at, Q(s));
        if (cur < 0)
            c->setCurrentIndex(-1);
        return at;
    });
}
int CComboBox::DeleteString(UINT n)
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c || static_cast<int>(n) >= c->count())
            return CB_ERR;
        Quiet q(DataOf(m_hWnd));
        c->removeItem(static_cast<int>(n));
        return c->count();
    });
}
void CComboBox::ResetContent()
{
    OnGui([&] {
        if (auto* c = As<QComboBox>(m_hWnd)) {
            Quiet q(DataOf(m_hWnd));
            c->clear();
        }
    });
}
int CComboBox::GetCount() const
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        return c ? c->count() : CB_ERR;
    });
}
int CComboBox::GetCurSel() const
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        return c ? c->currentIndex() : CB_ERR;
    });
}
int CComboBox::SetCurSel(int n)
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c)
            return CB_ERR;
        Quiet q(DataOf(m_hWnd));
        if (n < 0 || n >= c->count()) {
            c->setCurrentIndex(-1);
            return CB_ERR;
        }
        c->setCurrentIndex(n);
        return n;
    });
}
int CComboBox::GetLBText(int n, LPTSTR buf) const
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c || n < 0 || n >= c->count())
            return CB_ERR;
        std::string t = S(c->itemText(n));
        if (buf)
            std::memcpy(buf, t.c_str(), t.size() + 1);
        return static_cast<int>(t.size());
    });
}
void CComboBox::GetLBText(int n, CString& r) const
{
    r = OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        return (!c || n < 0 || n >= c->count()) ? CString() : CString(S(c->itemText(n)));
    });
}
int CComboBox::GetLBTextLen(int n) const
{
    CString s;
    if (n < 0 || n >= GetCount())
        return CB_ERR;
    GetLBText(n, s);
    return s.GetLength();
}
int CComboBox::FindString(int start, LPCTSTR s) const
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c)
            return CB_ERR;
        return FindIn(c->count(), start, s ? s : "", false, [c](int i) { return S(c->itemText(i)); });
    });
}
int CComboBox::FindStringExact(int start, LPCTSTR s) const
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c)
            return CB_ERR;
        return FindIn(c->count(), start, s ? s : "", true, [c](int i) { return S(c->itemText(i)); });
    });
}
int CComboBox::SelectString(int start, LPCTSTR s)
{
    int i = FindString(start, s);
    if (i >= 0)
        SetCurSel(i);
    return i;
}
int CComboBox::SetItemData(int n, DWORD_PTR v)
{
    return OnGui([&] {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c || n < 0 || n >= c->count())
            return CB_ERR;
        c->setItemData(n, QVariant::fromValue<qulonglong>(v));
        return 0;
    });
}
DWORD_PTR CComboBox::GetItemData(int n) const
{
    return OnGui([&]() -> DWORD_PTR {
        auto* c = As<QComboBox>(m_hWnd);
        if (!c || n < 0 || n >= c->count())
            return static_cast<DWORD_PTR>(CB_ERR);
        return static_cast<DWORD_PTR>(c->itemData(n).toULongLong());
    });
}
void CComboBox::LimitText(int n)
{
    if (auto* c = As<QComboBox>(m_hWnd); c && c->lineEdit())
        c->lineEdit()->setMaxLength(n <= 0 ? 32767 : n);
}

// ---------------------------------------------------------------- CListBox

BOOL CListBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl("ListBox", "", style, R(rect), parent, id);
}
int CListBox::AddString(LPCTSTR s)
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l)
            return LB_ERR;
        WindowData* d = DataOf(m_hWnd);
        Quiet q(d);
        int at = l->count();
        if (d->style & LBS_SORT) {
            std::vector<std::string> items;
            for (int i = 0; i < l->count(); ++i)
                items.push_back(S(l->item(i)->text()));
            at = SortedPosition(items, s ? s : "");
        }
        l->insertItem(at, Q(s));
        return at;
    });
}
int CListBox::InsertString(int n, LPCTSTR s)
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || n > l->count())
            return LB_ERR;
        Quiet q(DataOf(m_hWnd));
        int at = n < 0 ? l->count() : n;
        l->insertItem(at, Q(s));
        return at;
    });
}
int CListBox::DeleteString(UINT n)
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || static_cast<int>(n) >= l->count())
            return LB_ERR;
        Quiet q(DataOf(m_hWnd));
        delete l->takeItem(static_cast<int>(n));
        return l->count();
    });
}
void CListBox::ResetContent()
{
    OnGui([&] {
        if (auto* l = As<QListWidget>(m_hWnd)) {
            Quiet q(DataOf(m_hWnd));
            l->clear();
        }
    });
}
int CListBox::GetCount() const
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        return l ? l->count() : LB_ERR;
    });
}
int CListBox::GetText(int n, LPTSTR buf) const
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || n < 0 || n >= l->count())
            return LB_ERR;
        std::string t = S(l->item(n)->text());
        if (buf)
            std::memcpy(buf, t.c_str(), t.size() + 1);
        return static_cast<int>(t.size());
    });
}
void CListBox::GetText(int n, CString& r) const
{
    r = OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        return (!l || n < 0 || n >= l->count()) ? CString() : CString(S(l->item(n)->text()));
    });
}
int CListBox::GetTextLen(int n) const
{
    if (n < 0 || n >= GetCount())
        return LB_ERR;
    CString s;
    GetText(n, s);
    return s.GetLength();
}
int CListBox::GetCurSel() const
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l)
            return LB_ERR;
        if (l->selectionMode() != QAbstractItemView::SingleSelection)
            return l->currentRow();
        auto sel = l->selectedItems();
        return sel.isEmpty() ? LB_ERR : l->row(sel.first());
    });
}
int CListBox::SetCurSel(int n)
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l)
            return LB_ERR;
        Quiet q(DataOf(m_hWnd));
        if (n < 0 || n >= l->count()) {
            l->clearSelection();
            return n == -1 ? 0 : LB_ERR;
        }
        l->setCurrentRow(n, QItemSelectionModel::ClearAndSelect);
        return 0;
    });
}
int CListBox::GetSel(int n) const
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || n < 0 || n >= l->count())
            return LB_ERR;
        return l->item(n)->isSelected() ? 1 : 0;
    });
}
int CListBox::SetSel(int n, BOOL sel)
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || n >= l->count() || l->selectionMode() == QAbstractItemView::SingleSelection)
            return LB_ERR;
        Quiet q(DataOf(m_hWnd));
        if (n < 0) {
            if (sel)
                l->selectAll();
            else
                l->clearSelection();
        } else {
            l->item(n)->setSelected(sel != FALSE);
        }
        return 0;
    });
}
int CListBox::GetSelCount() const
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || l->selectionMode() == QAbstractItemView::SingleSelection)
            return LB_ERR;
        return static_cast<int>(l->selectedItems().size());
    });
}
int CListBox::GetSelItems(int max, LPINT out) const
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || l->selectionMode() == QAbstractItemView::SingleSelection)
            return LB_ERR;
        int n = 0;
        for (int i = 0; i < l->count() && n < max; ++i)
            if (l->item(i)->isSelected())
                out[n++] = i;
        return n;
    });
}
int CListBox::FindString(int start, LPCTSTR s) const
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l)
            return LB_ERR;
        return FindIn(l->count(), start, s ? s : "", false, [l](int i) { return S(l->item(i)->text()); });
    });
}
int CListBox::FindStringExact(int start, LPCTSTR s) const
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l)
            return LB_ERR;
        return FindIn(l->count(), start, s ? s : "", true, [l](int i) { return S(l->item(i)->text()); });
    });
}
int CListBox::SelectString(int start, LPCTSTR s)
{
    int i = FindString(start, s);
    if (i < 0)
        return LB_ERR;
    OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        Quiet q(DataOf(m_hWnd));
        if (l->selectionMode() == QAbstractItemView::SingleSelection)
            l->setCurrentRow(i, QItemSelectionModel::ClearAndSelect);
        else
            l->setCurrentRow(i, QItemSelectionModel::NoUpdate);
    });
    return i;
}
int CListBox::SetItemData(int n, DWORD_PTR v)
{
    return OnGui([&] {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || n < 0 || n >= l->count())
            return LB_ERR;
        l->item(n)->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(v));
        return 0;
    });
}
DWORD_PTR CListBox::GetItemData(int n) const
{
    return OnGui([&]() -> DWORD_PTR {
        auto* l = As<QListWidget>(m_hWnd);
        if (!l || n < 0 || n >= l->count())
            return static_cast<DWORD_PTR>(LB_ERR);
        return static_cast<DWORD_PTR>(l->item(n)->data(Qt::UserRole).toULongLong());
    });
}
int CListBox::GetTopIndex() const
{
    auto* l = As<QListWidget>(m_hWnd);
    if (!l)
        return LB_ERR;
    QListWidgetItem* it = l->itemAt(0, 0);
    return it ? l->row(it) : 0;
}
