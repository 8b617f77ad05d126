// Test hooks of the dialog layer: recorded message boxes with scripted
// answers, scripted modal dialogs, scripted file/folder pickers and popup
// menus, and user actions that go through the same paths as real input.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mfc/commctrl.h"
#include "mfc/controls.h"
#include "mfc/menu.h"
#include "mfc/wnd.h"

namespace mfc::test {

// Installs every hook below with empty queues and clears them again when it
// goes out of scope. While installed, no message box, file/folder dialog or
// popup menu is shown: they are logged and answered from the queues.
class ScopedHooks {
public:
    ScopedHooks();
    ~ScopedHooks();
    ScopedHooks(const ScopedHooks&) = delete;
    ScopedHooks& operator=(const ScopedHooks&) = delete;
};
void ResetHooks();

struct MessageBoxRecord {
    std::string text;
    std::string caption; // as shown: the application title when none was given
    UINT type = 0;
    int answer = 0;
};
// Answers are used in order; with none queued a box gets its default button
// (MB_DEFBUTTONn; IDOK for MB_OK).
void PushMessageBoxAnswer(int id);
std::vector<MessageBoxRecord>& MessageBoxLog();

// Runs `script` inside the modal loop of the next dialog that `match` accepts,
// right after OnInitDialog. The script may set controls and press buttons;
// the dialog ends when something calls EndDialog. One script per dialog.
using ModalScript = std::function<void(CDialog&)>;
void ScriptModal(std::function<bool(CDialog&)> match, ModalScript script);
void ScriptModal(UINT templateId, ModalScript script);
template <class T> void ScriptModal(std::function<void(T&)> script)
{
    ScriptModal([](CDialog& d) { return dynamic_cast<T*>(&d) != nullptr; },
                [script](CDialog& d) { script(*dynamic_cast<T*>(&d)); });
}
// Dialogs opened so far (template id, caption at the end of OnInitDialog).
struct ModalRecord {
    UINT templateId = 0;
    std::string templateName;
    std::string caption;
};
std::vector<ModalRecord>& ModalLog();

struct PickerRecord {
    bool folder = false;
    bool open = true;
    std::string title;
    std::string initial; // initial file or the selection the callback set
    std::string filter;
};
// nullopt = the user cancelled.
void PushFileAnswer(std::optional<std::string> path);
void PushFolderAnswer(std::optional<std::string> path);
std::vector<PickerRecord>& PickerLog();
// Shows the real file and folder dialogs (still logged), for tests that
// drive them with input; off again with the hooks.
void UseRealPickers(bool on);

struct PopupRecord {
    std::vector<std::string> items; // "text" per item, "-" for separators, "[x]"/"(grey)" marks
    int x = 0, y = 0;
};
// The command id chosen from the next popup menu; 0 = dismissed.
void PushPopupAnswer(UINT id);
std::vector<PopupRecord>& PopupLog();

// User actions: real mouse and key events (QTest) on the widgets, so the
// controls and the layer see exactly what a user's input gives them.
// An action that misses (no such control, a row, entry or column that is
// not there, a list or menu that does not open) tells `report` what it
// missed; without a report it is silent. The report outlives ResetHooks.
void OnMissedInput(std::function<void(const std::string&)> report);
void Click(CWnd* button); // a left click on the button (its box, for check boxes and radio buttons)
void Click(CWnd& parent, int id);
// Clicks into the edit, selects its text with the keyboard and types `text`
// (Delete when empty).
void TypeText(CWnd* edit, const std::string& text);
// Types `text` key by key to whatever has the keyboard focus in the window
// of `window`, as the focus moves.
void TypeKeys(CWnd* window, const std::string& text);
void ChooseComboItem(CWnd* combo, int index); // opens the list with the mouse and clicks the entry
// Clicks the first row, Ctrl+clicks the others (toggling clicks in a
// multiple-selection box); no rows: Ctrl+clicks the selected ones out.
void ChooseListBoxItems(CWnd* listBox, const std::vector<int>& rows);
// Clicks into the field, selects its text and types `text` (Delete when
// empty); keys beyond the field go on where the focus moves, to the next
// field after three digits or a ".".
void SetIpField(CWnd* ip, int field, const std::string& text);
// List view: click a row (-1 = empty area) with Ctrl/Shift modifiers.
void ClickListRow(CWnd* list, int row, bool ctrl = false, bool shift = false);
void RightClickListRow(CWnd* list, int row);
// A right click at a point in the window's client coordinates, on the
// innermost widget there.
void RightClick(CWnd* window, int x, int y);
void DoubleClickListRow(CWnd* list, int row);
void ClickHeader(CWnd* list, int column);                  // on the middle of the column's header button
void DragColumnWidth(CWnd* list, int column, int width);   // drags the divider right of the column
void MoveColumn(CWnd* list, int fromVisual, int toVisual); // drags a header button to another place
// A key pressed and released at the focus widget of the window (or at the
// widget given), so accelerators, Enter and Esc behave as for a user.
void PressKey(CWnd* window, UINT vk, bool ctrl = false, bool shift = false, bool alt = false);
void CloseWindow(CWnd* window); // the window's close box
// Opens a popup of the window's menu bar and clicks one of its items, both
// with the mouse and named by their texts as shown ("&Tools", "&Options...";
// an item's shortcut text is left out). False when the item is grey (the
// click does nothing, as for a user) or not there.
bool ChooseMenuItem(CWnd* window, const std::string& popup, const std::string& item);
// Runs the Qt event loop for about `ms` milliseconds (timers fire).
void Pump(int ms);

} // namespace mfc::test
