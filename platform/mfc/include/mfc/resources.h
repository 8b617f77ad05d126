// Program resources as tables: dialog templates (positions in dialog units),
// menus and accelerator tables, registered by id or name at start-up.
#pragma once

#include <string>
#include <vector>

#include "mfc/winui.h"

namespace mfc {

struct DlgItem {
    std::string cls; // "Button", "Edit", "Static", "ComboBox", "ListBox", "SysListView32",
                     // "SysIPAddress32", "msctls_progress32", "SysAnimate32"
    std::string text;
    int id = IDC_STATIC;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;

    DlgItem& With(DWORD s)
    {
        style |= s;
        return *this;
    }
    DlgItem& Without(DWORD s)
    {
        style &= ~s;
        return *this;
    }
    DlgItem& Ex(DWORD s)
    {
        exStyle |= s;
        return *this;
    }
    DlgItem& Hidden() { return Without(WS_VISIBLE); }
    DlgItem& Disabled() { return With(WS_DISABLED); }
};

struct DlgTemplate {
    std::string caption;
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    DWORD exStyle = 0;
    short cx = 0, cy = 0;              // dialog units
    std::string font = "MS Shell Dlg"; // any face maps to the system sans font
    int pointSize = 8;
    UINT menu = 0;              // menu resource id, 0 = none
    std::vector<DlgItem> items; // in tab (and z) order
};

void RegisterDialogTemplate(UINT id, DlgTemplate tmpl);
void RegisterDialogTemplate(const std::string& name, DlgTemplate tmpl);
// Resource-style lookup: MAKEINTRESOURCE(id) or a name. Null when unknown.
const DlgTemplate* FindDialogTemplate(LPCSTR idOrName);

// Resource-script style builders (WS_CHILD | WS_VISIBLE are implied).
namespace rc {
DlgItem LText(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem RText(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem CText(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem PushButton(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem DefPushButton(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem CheckBox(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem AutoCheckBox(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem RadioButton(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem AutoRadioButton(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem GroupBox(const std::string& text, int id, short x, short y, short cx, short cy, DWORD style = 0);
DlgItem EditText(int id, short x, short y, short cx, short cy, DWORD style = ES_LEFT | ES_AUTOHSCROLL);
DlgItem ComboBox(int id, short x, short y, short cx, short cy, DWORD style = CBS_DROPDOWNLIST | WS_VSCROLL);
DlgItem ListBox(int id, short x, short y, short cx, short cy, DWORD style = LBS_NOTIFY | WS_VSCROLL);
DlgItem Control(const std::string& text, int id, const std::string& cls, DWORD style, short x, short y, short cx,
                short cy, DWORD exStyle = 0);
} // namespace rc

struct MenuDef {
    std::string text;
    UINT id = 0;
    UINT flags = 0;             // MF_GRAYED, MF_CHECKED, MF_SEPARATOR, MF_HELP, ...
    std::vector<MenuDef> items; // a popup when not empty
};
MenuDef MenuItem(const std::string& text, UINT id, UINT flags = 0);
MenuDef MenuSeparator();
MenuDef MenuPopup(const std::string& text, std::vector<MenuDef> items, UINT flags = 0);
void RegisterMenu(UINT id, std::vector<MenuDef> bar);
void RegisterAccelerators(UINT id, std::vector<ACCEL> table);

// Dialog units to pixels for a dialog font (face, point size).
RECT DluToPixels(const RECT& dlu, const std::string& font = "MS Shell Dlg", int pointSize = 8);
SIZE DialogBaseUnits(const std::string& font = "MS Shell Dlg", int pointSize = 8);

} // namespace mfc
