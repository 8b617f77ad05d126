// Test hooks and simulated user input.
#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
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
void PushPopupAnswer(UINT id) { St().popups.push_back(id); }
std::vector<PopupRecord>& PopupLog() { return St().popupLog; }

void Click(CWnd* button)
{
    auto* b = button ? qobject_cast<QAbstractButton*>(Live(button->m_hWnd)) : nullptr;
    if (b && b->isEnabled() && b->isVisible())
        b->click();
}
void Click(CWnd& parent, int id) { Click(parent.GetDlgItem(id)); }

void TypeText(CWnd* edit, const std::string& text)
{
    QWidget* w = edit ? Live(edit->m_hWnd) : nullptr;
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setFocus();
        e->selectAll();
        if (text.empty())
            e->del();
        else
            e->insert(Q(text)); // replaces the selection; limit and validator apply as for typing
    } else if (auto* t = qobject_cast<QPlainTextEdit*>(w)) {
        t->setPlainText(Q(text));
    } else if (auto* c = qobject_cast<QComboBox*>(w); c && c->lineEdit()) {
        c->lineEdit()->selectAll();
        c->lineEdit()->del();
        c->lineEdit()->insert(Q(text));
        emit c->lineEdit()->textEdited(c->lineEdit()->text());
    }
}

void ChooseComboItem(CWnd* combo, int index)
{
    auto* c = combo ? qobject_cast<QComboBox*>(Live(combo->m_hWnd)) : nullptr;
    if (!c || index < 0 || index >= c->count())
        return;
    c->setCurrentIndex(index);
    emit c->activated(index);
}

void ChooseListBoxItems(CWnd* listBox, const std::vector<int>& rows)
{
    auto* l = listBox ? qobject_cast<QListWidget*>(Live(listBox->m_hWnd)) : nullptr;
    if (!l)
        return;
    {
        // One user action: the selection changes as a whole, one notification.
        QSignalBlocker block(l);
        l->clearSelection();
        for (int r : rows)
            if (r >= 0 && r < l->count())
                l->item(r)->setSelected(true);
        if (!rows.empty() && rows.front() >= 0 && rows.front() < l->count())
            l->setCurrentRow(rows.front(), QItemSelectionModel::NoUpdate);
    }
    emit l->itemSelectionChanged();
}

void SetIpField(CWnd* ip, int field, const std::string& text)
{
    auto* w = ip ? dynamic_cast<VxIpEdit*>(Live(ip->m_hWnd)) : nullptr;
    if (!w || field < 0 || field > 3)
        return;
    QLineEdit* f = w->field[field];
    f->setFocus();
    f->selectAll();
    if (text.empty())
        f->del();
    else
        f->insert(Q(text)); // textEdited fires, as for typing
}

namespace {
void Mouse(QWidget* target, QEvent::Type type, const QPoint& pos, Qt::MouseButton button, Qt::KeyboardModifiers mods)
{
    QPointF local(pos), global(target->mapToGlobal(pos));
    Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, local, local, global, button, buttons, mods);
    QCoreApplication::sendEvent(target, &e);
}
QPoint RowPoint(VxListView* v, int row)
{
    if (row < 0 || row >= v->model_->rowCount() || v->model_->columnCount() == 0) {
        return QPoint(5, v->viewport()->height() - 2);
    }
    v->scrollTo(v->model_->index(row, 0));
    QRect r = v->visualRect(v->model_->index(row, 0));
    return QPoint(r.left() + std::min(5, std::max(1, r.width() / 2)), r.center().y());
}
VxListView* ListOf(CWnd* list) { return list ? dynamic_cast<VxListView*>(Live(list->m_hWnd)) : nullptr; }
} // namespace

void ClickListRow(CWnd* list, int row, bool ctrl, bool shift)
{
    VxListView* v = ListOf(list);
    if (!v)
        return;
    Qt::KeyboardModifiers mods;
    if (ctrl)
        mods |= Qt::ControlModifier;
    if (shift)
        mods |= Qt::ShiftModifier;
    QPoint p = RowPoint(v, row);
    Mouse(v->viewport(), QEvent::MouseButtonPress, p, Qt::LeftButton, mods);
    Mouse(v->viewport(), QEvent::MouseButtonRelease, p, Qt::LeftButton, mods);
}
void RightClickListRow(CWnd* list, int row)
{
    VxListView* v = ListOf(list);
    if (!v)
        return;
    QPoint p = RowPoint(v, row);
    Mouse(v->viewport(), QEvent::MouseButtonPress, p, Qt::RightButton, Qt::NoModifier);
    QContextMenuEvent ce(QContextMenuEvent::Mouse, p, v->viewport()->mapToGlobal(p));
    QCoreApplication::sendEvent(v->viewport(), &ce);
    Mouse(v->viewport(), QEvent::MouseButtonRelease, p, Qt::RightButton, Qt::NoModifier);
}
void DoubleClickListRow(CWnd* list, int row)
{
    VxListView* v = ListOf(list);
    if (!v)
        return;
    QPoint p = RowPoint(v, row);
    Mouse(v->viewport(), QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::NoModifier);
    Mouse(v->viewport(), QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoModifier);
    Mouse(v->viewport(), QEvent::MouseButtonDblClick, p, Qt::LeftButton, Qt::NoModifier);
    Mouse(v->viewport(), QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoModifier);
}
void ClickHeader(CWnd* list, int column)
{
    VxListView* v = ListOf(list);
    if (!v || column < 0 || column >= v->model_->columnCount())
        return;
    emit v->header_->sectionClicked(column);
}
void DragColumnWidth(CWnd* list, int column, int width)
{
    VxListView* v = ListOf(list);
    if (!v || column < 0 || column >= v->model_->columnCount())
        return;
    v->header_->pending_.push_back(column);
    v->header_->resizeSection(column, width);
    Mouse(v->header_->viewport(), QEvent::MouseButtonRelease, QPoint(1, 1), Qt::LeftButton, Qt::NoModifier);
}
void MoveColumn(CWnd* list, int fromVisual, int toVisual)
{
    VxListView* v = ListOf(list);
    if (v)
        v->header_->moveSection(fromVisual, toVisual);
}

void PressKey(CWnd* window, UINT vk, bool ctrl, bool shift, bool alt)
{
    QWidget* w = window ? Live(window->m_hWnd) : nullptr;
    if (!w)
        return;
    QWidget* target = w->isWindow() ? (w->focusWidget() ? w->focusWidget() : w) : w;
    Qt::KeyboardModifiers mods;
    if (ctrl)
        mods |= Qt::ControlModifier;
    if (shift)
        mods |= Qt::ShiftModifier;
    if (alt)
        mods |= Qt::AltModifier;
    int key = QtKeyOf(vk);
    QString text;
    if (!ctrl && !alt) {
        if (vk >= 'A' && vk <= 'Z')
            text = QString(QChar(shift ? vk : vk + 32));
        else if (vk >= '0' && vk <= '9')
            text = QString(QChar(vk));
        else if (vk == VK_RETURN)
            text = "\r";
        else if (vk == VK_ESCAPE)
            text = QString(QChar(27));
        else if (vk == VK_SPACE)
            text = " ";
    }
    QPointer<QWidget> alive(target);
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QCoreApplication::sendEvent(target, &press);
    if (alive) {
        QKeyEvent release(QEvent::KeyRelease, key, mods, text);
        QCoreApplication::sendEvent(alive.data(), &release);
    }
}

void CloseWindow(CWnd* window)
{
    if (QWidget* w = window ? Live(window->m_hWnd) : nullptr)
        w->window()->close();
}

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace mfc::test
