// Test hooks and simulated user input.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <algorithm>
#include <deque>

#include "internal.h"
#include "mfc/test_hooks.h"

namespace mfc::detail {
int DefaultMessageBoxAnswer(UINT type);
}

namespace {
using namespace mfc::detail;
struct Script {
    std::function<bool(CDialog&)> match;
    mfc::test::ModalScript run;
};
struct State {
    bool installed = false;
    std::deque<int> boxAnswers;
    std::vector<mfc::test::MessageBoxRecord> boxes;
    std::deque<Script> scripts;
    std::vector<mfc::test::ModalRecord> modals;
    std::deque<std::optional<std::string>> files, folders;
    std::vector<mfc::test::PickerRecord> pickers;
    std::deque<UINT> popups;
    std::vector<mfc::test::PopupRecord> popupLog;
    bool realPickers = false;
};
State& St()
{
    static State s;
    return s;
}
} // namespace

namespace mfc::detail {

bool RunModalScript(CDialog& dlg)
{
    auto& q = St().scripts;
    for (auto it = q.begin(); it != q.end(); ++it) {
        if (!it->match || it->match(dlg)) {
            mfc::test::ModalScript run = std::move(it->run);
            q.erase(it);
            CDialog* p = &dlg;
            QPointer<QDialog> w = mfc::DialogWidgetOf(dlg);
            // Runs inside the modal loop, once the dialog is up.
            QTimer::singleShot(0, w, [p, w, run] {
                if (w)
                    run(*p);
            });
            return true;
        }
    }
    return false;
}

void RecordModal(CDialog& dlg)
{
    CString caption;
    dlg.GetWindowText(caption);
    St().modals.push_back({dlg.GetTemplateID(), dlg.GetTemplateName(), caption.str()});
}

bool AnswerMessageBox(const std::string& text, const std::string& caption, UINT type, int* answer)
{
    State& s = St();
    if (!s.installed)
        return false;
    int a = DefaultMessageBoxAnswer(type);
    if (!s.boxAnswers.empty()) {
        a = s.boxAnswers.front();
        s.boxAnswers.pop_front();
    }
    s.boxes.push_back({text, caption, type, a});
    *answer = a;
    return true;
}

bool AnswerFile(bool folder, bool open, const std::string& title, const std::string& initial, const std::string& filter,
                std::string* path, bool* ok)
{
    State& s = St();
    if (!s.installed)
        return false;
    s.pickers.push_back({folder, open, title, initial, filter});
    if (s.realPickers)
        return false;
    auto& q = folder ? s.folders : s.files;
    std::optional<std::string> a;
    if (!q.empty()) {
        a = q.front();
        q.pop_front();
    }
    *ok = a.has_value();
    if (a)
        *path = *a;
    return true;
}

bool AnswerPopup(const std::vector<std::string>& items, int x, int y, UINT* id)
{
    State& s = St();
    if (!s.installed)
        return false;
    s.popupLog.push_back({items, x, y});
    *id = 0;
    if (!s.popups.empty()) {
        *id = s.popups.front();
        s.popups.pop_front();
    }
    return true;
}

} // namespace mfc::detail

namespace mfc::test {

ScopedHooks::ScopedHooks()
{
    ResetHooks();
    St().installed = true;
}
ScopedHooks::~ScopedHooks() { ResetHooks(); }
void ResetHooks() { St() = State(); }

void PushMessageBoxAnswer(int id) { St().boxAnswers.push_back(id); }
std::vector<MessageBoxRecord>& MessageBoxLog() { return St().boxes; }
void ScriptModal(std::function<bool(CDialog&)> match, ModalScript script)
{
    St().scripts.push_back({std::move(match), std::move(script)});
}
void ScriptModal(UINT templateId, ModalScript script)
{
    ScriptModal([templateId](CDialog& d) { return d.GetTemplateID() == templateId; }, std::move(script));
}
std::vector<ModalRecord>& ModalLog() { return St().modals; }
void PushFileAnswer(std::optional<std::string> path) { St().files.push_back(std::move(path)); }
void PushFolderAnswer(std::optional<std::string> path) { St().folders.push_back(std::move(path)); }
std::vector<PickerRecord>& PickerLog() { return St().pickers; }
void UseRealPickers(bool on) { St().realPickers = on; }
void PushPopupAnswer(UINT id) { St().popups.push_back(id); }
std::vector<PopupRecord>& PopupLog() { return St().popupLog; }

namespace {
std::function<void(const std::string&)>& MissedInputReport()
{
    static std::function<void(const std::string&)> report;
    return report;
}
void Missed(const std::string& what)
{
    if (const auto& report = MissedInputReport())
        report(what);
}
QWidget* WidgetOfWnd(CWnd* w) { return w ? Live(w->m_hWnd) : nullptr; }
Qt::KeyboardModifiers Mods(bool ctrl, bool shift, bool alt = false)
{
    Qt::KeyboardModifiers m;
    if (ctrl)
        m |= Qt::ControlModifier;
    if (shift)
        m |= Qt::ShiftModifier;
    if (alt)
        m |= Qt::AltModifier;
    return m;
}
// The window the user works in is the active one (a click activates it; the
// window system hands activation back when a popup closes), so focus moves
// and reads as on a desktop; the offscreen platform leaves that undone.
void Activate(QWidget* w)
{
    QWidget* win = w->window();
    if (!QApplication::activePopupWidget() && QApplication::activeWindow() != win && win->isVisible()) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(win);
        QT_WARNING_POP
    }
}
// Where the keyboard's input goes in the window of `w`.
QWidget* KeyTarget(QWidget* w)
{
    Activate(w);
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->focusWidget() ? popup->focusWidget() : popup;
    QWidget* win = w->window();
    return win->focusWidget() ? win->focusWidget() : win;
}
void Key(QWidget* target, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QTest::keyClick(target, key, mods);
}
// One character as the keyboard types it, to whatever has the focus now.
void TypeChar(QWidget* w, QChar c)
{
    const char a = c.toLatin1();
    const Qt::Key key = c.unicode() < 128 && a ? QTest::asciiToKey(a) : Qt::Key_unknown;
    QTest::sendKeyEvent(QTest::Click, KeyTarget(w), key, QString(c), Qt::NoModifier);
}
void TypeChars(QWidget* w, const QString& text)
{
    for (QChar c : text)
        TypeChar(w, c);
}
// The point of a button that takes a click: the box and label of a check
// box or radio button, the middle of anything else.
QPoint ClickPoint(QAbstractButton* b)
{
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    if (qobject_cast<QCheckBox*>(b))
        return b->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, b).center();
    if (qobject_cast<QRadioButton*>(b))
        return b->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, b).center();
    return b->rect().center();
}
// Clicks into a line edit and selects its text with the keyboard.
void SelectAllIn(QLineEdit* e)
{
    Activate(e);
    QTest::mouseClick(e, Qt::LeftButton, Qt::NoModifier, QPoint(e->width() - 2, e->height() / 2));
    Key(e, Qt::Key_End);
    Key(e, Qt::Key_Home, Qt::ShiftModifier);
}
void ReplaceTyping(QLineEdit* e, const QString& text)
{
    SelectAllIn(e);
    if (text.isEmpty())
        Key(e, Qt::Key_Delete);
    else
        TypeChars(e, text);
}
} // namespace

void OnMissedInput(std::function<void(const std::string&)> report) { MissedInputReport() = std::move(report); }

void Click(CWnd* button)
{
    auto* b = qobject_cast<QAbstractButton*>(WidgetOfWnd(button));
    if (!b || !b->isVisible())
        return Missed(b ? "Click: the button is hidden" : "Click: no such button");
    Activate(b);
    QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, ClickPoint(b));
}
void Click(CWnd& parent, int id) { Click(parent.GetDlgItem(id)); }

void TypeText(CWnd* edit, const std::string& text)
{
    QWidget* w = WidgetOfWnd(edit);
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        ReplaceTyping(e, Q(text));
    } else if (auto* t = qobject_cast<QPlainTextEdit*>(w)) {
        Activate(t);
        QTest::mouseClick(t->viewport(), Qt::LeftButton);
        Key(t, Qt::Key_Home, Qt::ControlModifier);
        Key(t, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
        if (text.empty())
            Key(t, Qt::Key_Delete);
        for (QChar c : Q(text)) {
            if (c == '\r')
                continue;
            if (c == '\n')
                Key(t, Qt::Key_Return);
            else
                TypeChar(t, c);
        }
    } else if (auto* c = qobject_cast<QComboBox*>(w); c && c->lineEdit()) {
        ReplaceTyping(c->lineEdit(), Q(text));
    } else {
        Missed("TypeText: no such edit");
    }
}

void TypeKeys(CWnd* window, const std::string& text)
{
    if (QWidget* w = WidgetOfWnd(window))
        TypeChars(w, Q(text));
    else
        Missed("TypeKeys: no such window");
}

void ChooseComboItem(CWnd* combo, int index)
{
    auto* c = qobject_cast<QComboBox*>(WidgetOfWnd(combo));
    if (!c || !c->isEnabled() || index < 0 || index >= c->count())
        return Missed(!c                    ? "ChooseComboItem: no such combo box"
                          : !c->isEnabled() ? "ChooseComboItem: the combo box is grey"
                                            : "ChooseComboItem: no entry " + std::to_string(index));
    // A click on the arrow opens the list; the keyboard walks to the entry
    // and Enter takes it (clicks into the open list depend on timing).
    QStyleOptionComboBox opt;
    opt.initFrom(c);
    opt.editable = c->isEditable();
    const QRect arrow = c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxArrow, c);
    Activate(c);
    QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, arrow.isValid() ? arrow.center() : QPoint());
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup || !c->view()->isVisible())
        return Missed("ChooseComboItem: the list did not open");
    Key(KeyTarget(c), Qt::Key_Home);
    for (int i = 0; i < index; ++i)
        Key(KeyTarget(c), Qt::Key_Down);
    Key(KeyTarget(c), Qt::Key_Return);
    Activate(c);
}

void ChooseListBoxItems(CWnd* listBox, const std::vector<int>& rows)
{
    auto* l = qobject_cast<QListWidget*>(WidgetOfWnd(listBox));
    if (!l)
        return Missed("ChooseListBoxItems: no such list box");
    Activate(l);
    auto clickRow = [l](int r, Qt::KeyboardModifiers mods) {
        l->scrollToItem(l->item(r));
        QTest::mouseClick(l->viewport(), Qt::LeftButton, mods, l->visualItemRect(l->item(r)).center());
    };
    std::vector<int> want;
    for (int r : rows) {
        if (r >= 0 && r < l->count())
            want.push_back(r);
        else
            Missed("ChooseListBoxItems: no entry " + std::to_string(r));
    }
    if (l->selectionMode() == QAbstractItemView::MultiSelection) {
        // Each click toggles one entry.
        for (int r = 0; r < l->count(); ++r)
            if (l->item(r)->isSelected() != (std::find(want.begin(), want.end(), r) != want.end()))
                clickRow(r, Qt::NoModifier);
        return;
    }
    if (want.empty()) {
        // Ctrl+click takes each selected entry out.
        for (int r = 0; r < l->count(); ++r)
            if (l->item(r)->isSelected())
                clickRow(r, Qt::ControlModifier);
        return;
    }
    clickRow(want.front(), Qt::NoModifier);
    for (size_t n = 1; n < want.size(); ++n)
        clickRow(want[n], Qt::ControlModifier);
}

void SetIpField(CWnd* ip, int field, const std::string& text)
{
    auto* w = dynamic_cast<VxIpEdit*>(WidgetOfWnd(ip));
    if (!w || field < 0 || field > 3)
        return Missed(w ? "SetIpField: no field " + std::to_string(field) : "SetIpField: no such address control");
    ReplaceTyping(w->field[field], Q(text));
}

namespace {
QPoint RowPoint(VxListView* v, int row)
{
    if (row < 0 || row >= v->model_->rowCount() || v->model_->columnCount() == 0) {
        return QPoint(5, v->viewport()->height() - 2);
    }
    v->scrollTo(v->model_->index(row, 0));
    QRect r = v->visualRect(v->model_->index(row, 0));
    return QPoint(r.left() + std::min(5, std::max(1, r.width() / 2)), r.center().y());
}
// The list view of `list`, its window made the active one. A `row` that is
// not there (but for -1, the empty area) is reported; the empty area takes
// its click.
VxListView* ListOf(CWnd* list, std::optional<int> row = std::nullopt)
{
    auto* v = list ? dynamic_cast<VxListView*>(Live(list->m_hWnd)) : nullptr;
    if (!v) {
        Missed("no such list view");
        return nullptr;
    }
    if (row && (*row < -1 || *row >= v->model_->rowCount()))
        Missed("no row " + std::to_string(*row) + " in the list view");
    Activate(v);
    return v;
}
// The header of `list` when it has the column.
QHeaderView* HeaderOf(CWnd* list, int column)
{
    VxListView* v = ListOf(list);
    if (v && (column < 0 || column >= v->model_->columnCount())) {
        Missed("no column " + std::to_string(column) + " in the list view");
        return nullptr;
    }
    return v ? v->header_ : nullptr;
}
} // namespace

void ClickListRow(CWnd* list, int row, bool ctrl, bool shift)
{
    if (VxListView* v = ListOf(list, row))
        QTest::mouseClick(v->viewport(), Qt::LeftButton, Mods(ctrl, shift), RowPoint(v, row));
}
namespace {
// A right click, followed by the context menu request the window system sends with it.
void RightClickWidget(QWidget* w, const QPoint& p)
{
    Activate(w);
    QPointer<QWidget> target = w;
    QTest::mousePress(w, Qt::RightButton, Qt::NoModifier, p);
    if (target) {
        QContextMenuEvent ce(QContextMenuEvent::Mouse, p, target->mapToGlobal(p));
        QSpontaneKeyEvent::setSpontaneous(&ce);
        QCoreApplication::sendEvent(target, &ce);
    }
    if (target)
        QTest::mouseRelease(target, Qt::RightButton, Qt::NoModifier, p);
}
} // namespace

void RightClick(CWnd* window, int x, int y)
{
    QWidget* w = WidgetOfWnd(window);
    if (!w)
        return Missed("RightClick: no such window");
    QPoint p(x, y);
    // The innermost widget under the point takes the click.
    if (QWidget* child = w->childAt(p)) {
        p = child->mapFrom(w, p);
        w = child;
    }
    RightClickWidget(w, p);
}
void RightClickListRow(CWnd* list, int row)
{
    if (VxListView* v = ListOf(list, row))
        RightClickWidget(v->viewport(), RowPoint(v, row));
}
void DoubleClickListRow(CWnd* list, int row)
{
    VxListView* v = ListOf(list, row);
    if (!v)
        return;
    QPointer<QWidget> port = v->viewport();
    const QPoint p = RowPoint(v, row);
    // As the window system delivers a double click: press, release, double click, release.
    QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, p);
    if (port)
        QTest::mouseDClick(port, Qt::LeftButton, Qt::NoModifier, p);
    if (port)
        QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, p);
}
void ClickHeader(CWnd* list, int column)
{
    QHeaderView* h = HeaderOf(list, column);
    if (!h)
        return;
    const QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::NoModifier, p);
}
void DragColumnWidth(CWnd* list, int column, int width)
{
    QHeaderView* h = HeaderOf(list, column);
    if (!h)
        return;
    // Grab the divider at the section's right edge and drag it.
    const int y = h->height() / 2;
    const int edge = h->sectionViewportPosition(column) + h->sectionSize(column) - 1;
    const int to = edge + width - h->sectionSize(column);
    QTest::mousePress(h->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(edge, y));
    QTest::mouseMove(h->viewport(), QPoint((edge + to) / 2, y));
    QTest::mouseMove(h->viewport(), QPoint(to, y));
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(to, y));
}
void MoveColumn(CWnd* list, int fromVisual, int toVisual)
{
    VxListView* v = ListOf(list);
    if (!v || fromVisual == toVisual)
        return;
    QHeaderView* h = v->header_;
    const int n = h->count();
    if (fromVisual < 0 || toVisual < 0 || fromVisual >= n || toVisual >= n)
        return Missed("MoveColumn: no column at " +
                      std::to_string(fromVisual < 0 || fromVisual >= n ? fromVisual : toVisual));
    const int from = h->logicalIndex(fromVisual), to = h->logicalIndex(toVisual);
    const int y = h->height() / 2;
    const QPoint grab(h->sectionViewportPosition(from) + h->sectionSize(from) / 2, y);
    // Dropped over the near half of the target section it takes that place.
    const int x = toVisual < fromVisual ? h->sectionViewportPosition(to) + 1
                                        : h->sectionViewportPosition(to) + h->sectionSize(to) - 2;
    QTest::mousePress(h->viewport(), Qt::LeftButton, Qt::NoModifier, grab);
    QTest::mouseMove(h->viewport(), QPoint((grab.x() + x) / 2, y));
    QTest::mouseMove(h->viewport(), QPoint(x, y));
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}

void PressKey(CWnd* window, UINT vk, bool ctrl, bool shift, bool alt)
{
    QWidget* w = WidgetOfWnd(window);
    if (!w)
        return Missed("PressKey: no such window");
    Activate(w);
    QWidget* target = w->isWindow() ? KeyTarget(w) : w;
    QTest::keyClick(target, static_cast<Qt::Key>(QtKeyOf(vk)), Mods(ctrl, shift, alt));
}

void CloseWindow(CWnd* window)
{
    if (QWidget* w = WidgetOfWnd(window))
        w->window()->close();
    else
        Missed("CloseWindow: no such window");
}

namespace {
// The action of `actions` whose shown text, without its shortcut, is `text`.
QAction* ActionNamed(const QList<QAction*>& actions, const QString& text)
{
    for (QAction* a : actions)
        if (a->text().section('\t', 0, 0) == text)
            return a;
    return nullptr;
}
} // namespace

bool ChooseMenuItem(CWnd* window, const std::string& popup, const std::string& item)
{
    QWidget* w = WidgetOfWnd(window);
    auto* bar = w ? w->window()->findChild<QMenuBar*>() : nullptr;
    if (!bar) {
        Missed("ChooseMenuItem: no menu bar");
        return false;
    }
    QAction* title = ActionNamed(bar->actions(), Q(popup));
    QMenu* menu = title ? title->menu() : nullptr;
    if (!menu) {
        Missed("ChooseMenuItem: no popup " + popup);
        return false;
    }
    Activate(bar);
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(title).center());
    if (!QTest::qWaitFor([menu] { return menu->isVisible(); }, 10000)) {
        Missed("ChooseMenuItem: " + popup + " did not open");
        return false;
    }
    QAction* chosen = ActionNamed(menu->actions(), Q(item));
    if (!chosen) {
        Missed("ChooseMenuItem: no item " + item + " in " + popup);
        return false;
    }
    const bool enabled = chosen->isEnabled();
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(chosen).center());
    return enabled;
}

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    // What is posted already is delivered, however late this thread runs.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace mfc::test
