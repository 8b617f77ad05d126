// Keyboard and mouse input on the console's real widgets, sent with QTest as
// a user's would arrive: clicks at a widget's place, keys to the widget that
// has the focus, menus opened and chosen with the mouse.
#pragma once

#include <QString>
#include <Qt>

class CListCtrl;
class CWnd;
class QWidget;

namespace vistrel_test {

// The Qt widget of a window, or of a dialog's control.
QWidget* WidgetOf(CWnd* window);
QWidget* ControlOf(CWnd& dialog, int id);

// A left click in the middle of the widget.
void ClickOn(QWidget* widget, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void ClickControl(CWnd& dialog, int id);
// A left click on a row of the device list (on its MAC cell).
void ClickRow(CListCtrl* list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// A left click on an entry of a dialog's list box.
void ClickListEntry(CWnd& dialog, int id, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Opens a drop-down list with the mouse and chooses one of its entries with
// the arrow keys and Enter.
void ChooseComboEntry(CWnd& dialog, int id, int row);
// Clicks the first field of an IP address control, selects its text and
// types: the focus moves on by itself after three digits, and with "."
// after fewer.
void TypeAddress(CWnd& dialog, int id, const QString& keys);

// Keys typed to whichever widget of the window has the focus at each key,
// so the focus may move on while typing.
void TypeKeys(CWnd& window, const QString& text);
void PressKey(CWnd& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Opens a popup of the window's menu bar and chooses an item, both with the
// mouse, by their texts as shown ("&Veltrix", "&Update Firmware...").
void ChooseMenu(CWnd& window, const QString& popup, const QString& item);

} // namespace vistrel_test
