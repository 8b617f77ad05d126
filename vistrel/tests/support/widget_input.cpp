#include "widget_input.h"

#include <afxcmn.h>

#include <mfc/qt_resources.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace vistrel_test {

namespace {

QAction* ActionNamed(const QList<QAction*>& actions, const QString& text)
{
    for (QAction* action : actions)
        if (action->text().section('\t', 0, 0) == text)
            return action;
    return nullptr;
}

// Where keys go: the focus widget of the window, else the window.
QWidget* KeyTarget(CWnd& window)
{
    QWidget* w = WidgetOf(&window);
    if (!w)
        return nullptr;
    QWidget* top = w->window();
    return top->focusWidget() ? top->focusWidget() : top;
}

} // namespace

QWidget* WidgetOf(CWnd* window) { return window ? mfc::WidgetOf(window->GetSafeHwnd()) : nullptr; }

QWidget* ControlOf(CWnd& dialog, int id) { return WidgetOf(dialog.GetDlgItem(id)); }

void ClickOn(QWidget* widget, Qt::KeyboardModifiers modifiers)
{
    ASSERT_NE(widget, nullptr);
    // A check box or radio button takes clicks on its box and text only: its
    // box is at the left.
    const bool box = qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget);
    const QPoint at = box ? QPoint(std::min(8, widget->width() / 2), widget->height() / 2) : widget->rect().center();
    QTest::mouseClick(widget, Qt::LeftButton, modifiers, at);
}

void ClickControl(CWnd& dialog, int id) { ClickOn(ControlOf(dialog, id)); }

namespace {

void ClickItem(QAbstractItemView* view, int row, int column, Qt::KeyboardModifiers modifiers)
{
    ASSERT_NE(view, nullptr);
    const QModelIndex index = view->model()->index(row, column);
    ASSERT_TRUE(index.isValid()) << "row " << row;
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, view->visualRect(index).center());
}

} // namespace

void ClickRow(CListCtrl* list, int row, Qt::KeyboardModifiers modifiers)
{
    ClickItem(qobject_cast<QAbstractItemView*>(WidgetOf(list)), row, 1, modifiers);
}

void ClickListEntry(CWnd& dialog, int id, int row, Qt::KeyboardModifiers modifiers)
{
    ClickItem(qobject_cast<QAbstractItemView*>(ControlOf(dialog, id)), row, 0, modifiers);
}

void ChooseComboEntry(CWnd& dialog, int id, int row)
{
    auto* combo = qobject_cast<QComboBox*>(ControlOf(dialog, id));
    ASSERT_NE(combo, nullptr);
    ClickOn(combo);
    QAbstractItemView* list = combo->view();
    ASSERT_TRUE(QTest::qWaitFor([list] { return list->isVisible(); }, 10000)) << "the list did not open";
    // The open list takes no click for a moment after it opens: the entry is
    // reached with the arrow keys and taken with Enter.
    for (int at = list->currentIndex().row(); at != row; at += at < row ? 1 : -1)
        QTest::keyClick(list, at < row ? Qt::Key_Down : Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Return);
}

void TypeAddress(CWnd& dialog, int id, const QString& keys)
{
    QWidget* control = ControlOf(dialog, id);
    ASSERT_NE(control, nullptr);
    QList<QLineEdit*> fields = control->findChildren<QLineEdit*>();
    ASSERT_EQ(fields.size(), 4);
    std::sort(fields.begin(), fields.end(), [](QLineEdit* a, QLineEdit* b) { return a->x() < b->x(); });
    ClickOn(fields.front());
    QTest::keyClick(fields.front(), Qt::Key_A, Qt::ControlModifier);
    TypeKeys(dialog, keys);
}

void TypeKeys(CWnd& window, const QString& text)
{
    for (const QChar c : text) {
        QWidget* target = KeyTarget(window);
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, c.toLatin1());
    }
}

void PressKey(CWnd& window, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWidget* target = KeyTarget(window);
    ASSERT_NE(target, nullptr);
    QTest::keyClick(target, key, modifiers);
}

void ChooseMenu(CWnd& window, const QString& popup, const QString& item)
{
    QWidget* w = WidgetOf(&window);
    ASSERT_NE(w, nullptr);
    auto* bar = w->window()->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    QAction* top = ActionNamed(bar->actions(), popup);
    ASSERT_NE(top, nullptr) << popup.toStdString();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(top).center());
    QMenu* menu = top->menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 10000)) << popup.toStdString() << " did not open";
    QAction* chosen = ActionNamed(menu->actions(), item);
    ASSERT_NE(chosen, nullptr) << item.toStdString();
    ASSERT_TRUE(chosen->isEnabled()) << item.toStdString() << " is grey";
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(chosen).center());
}

} // namespace vistrel_test
