// Registered resources: dialog templates, menus, accelerators; dialog units.
#include <QFontMetrics>
#include <QStyle>
#include <map>

#include "internal.h"

namespace mfc {
namespace {
struct Store {
    std::map<UINT, DlgTemplate> dialogsById;
    std::map<std::string, DlgTemplate> dialogsByName;
    std::map<UINT, std::vector<MenuDef>> menus;
    std::map<UINT, std::vector<ACCEL>> accels;
};
Store& TheStore()
{
    static Store s;
    return s;
}
DlgItem Item(const std::string& cls, const std::string& text, int id, DWORD style, short x, short y, short cx, short cy,
             DWORD ex = 0)
{
    DlgItem it;
    it.cls = cls;
    it.text = text;
    it.id = id;
    it.style = WS_CHILD | WS_VISIBLE | style;
    it.exStyle = ex;
    it.x = x;
    it.y = y;
    it.cx = cx;
    it.cy = cy;
    return it;
}
LONG MulDivRound(LONG v, LONG num, LONG den)
{
    long long p = static_cast<long long>(v) * num;
    return static_cast<LONG>(p >= 0 ? (p + den / 2) / den : -((-p + den / 2) / den));
}
} // namespace

void RegisterDialogTemplate(UINT id, DlgTemplate t) { TheStore().dialogsById[id] = std::move(t); }
void RegisterDialogTemplate(const std::string& name, DlgTemplate t) { TheStore().dialogsByName[name] = std::move(t); }

const DlgTemplate* FindDialogTemplate(LPCSTR idOrName)
{
    if (!idOrName)
        return nullptr;
    if (IS_INTRESOURCE(idOrName)) {
        auto it = TheStore().dialogsById.find(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(idOrName)));
        return it == TheStore().dialogsById.end() ? nullptr : &it->second;
    }
    auto it = TheStore().dialogsByName.find(idOrName);
    return it == TheStore().dialogsByName.end() ? nullptr : &it->second;
}

namespace rc {
DlgItem LText(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Static", t, id, SS_LEFT | WS_GROUP | s, x, y, cx, cy);
}
DlgItem RText(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Static", t, id, SS_RIGHT | WS_GROUP | s, x, y, cx, cy);
}
DlgItem CText(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Static", t, id, SS_CENTER | WS_GROUP | s, x, y, cx, cy);
}
DlgItem PushButton(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Button", t, id, BS_PUSHBUTTON | WS_TABSTOP | s, x, y, cx, cy);
}
DlgItem DefPushButton(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Button", t, id, BS_DEFPUSHBUTTON | WS_TABSTOP | s, x, y, cx, cy);
}
DlgItem CheckBox(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Button", t, id, BS_CHECKBOX | WS_TABSTOP | s, x, y, cx, cy);
}
DlgItem AutoCheckBox(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Button", t, id, BS_AUTOCHECKBOX | WS_TABSTOP | s, x, y, cx, cy);
}
DlgItem RadioButton(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Button", t, id, BS_RADIOBUTTON | s, x, y, cx, cy);
}
DlgItem AutoRadioButton(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Button", t, id, BS_AUTORADIOBUTTON | s, x, y, cx, cy);
}
DlgItem GroupBox(const std::string& t, int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Button", t, id, BS_GROUPBOX | s, x, y, cx, cy);
}
DlgItem EditText(int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("Edit", "", id, WS_BORDER | WS_TABSTOP | s, x, y, cx, cy);
}
DlgItem ComboBox(int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("ComboBox", "", id, WS_TABSTOP | s, x, y, cx, cy);
}
DlgItem ListBox(int id, short x, short y, short cx, short cy, DWORD s)
{
    return Item("ListBox", "", id, WS_BORDER | WS_TABSTOP | s, x, y, cx, cy);
}
DlgItem Control(const std::string& t, int id, const std::string& cls, DWORD s, short x, short y, short cx, short cy,
                DWORD ex)
{
    return Item(cls, t, id, s, x, y, cx, cy, ex);
}
} // namespace rc

MenuDef MenuItem(const std::string& text, UINT id, UINT flags) { return MenuDef{text, id, flags, {}}; }
MenuDef MenuSeparator() { return MenuDef{"", 0, MF_SEPARATOR, {}}; }
MenuDef MenuPopup(const std::string& text, std::vector<MenuDef> items, UINT flags)
{
    return MenuDef{text, 0, flags | MF_POPUP, std::move(items)};
}
void RegisterMenu(UINT id, std::vector<MenuDef> bar) { TheStore().menus[id] = std::move(bar); }
void RegisterAccelerators(UINT id, std::vector<ACCEL> table) { TheStore().accels[id] = std::move(table); }
const std::vector<MenuDef>* FindMenu(UINT id)
{
    auto it = TheStore().menus.find(id);
    return it == TheStore().menus.end() ? nullptr : &it->second;
}
const std::vector<ACCEL>* FindAccelerators(UINT id)
{
    auto it = TheStore().accels.find(id);
    return it == TheStore().accels.end() ? nullptr : &it->second;
}

SIZE DialogBaseUnits(const std::string& font, int pointSize)
{
    if (!qApp)
        return SIZE{6, 13};
    QFontMetrics fm(DialogFont(font, pointSize));
    // Average width of the 52 letters, rounded as Windows does.
    int w = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return SIZE{(w / 26 + 1) / 2, fm.height()};
}

int CaptionWidth(const std::string& caption)
{
    if (!qApp)
        return 0;
    // The title bar's bold text beside the window icon, three buttons and
    // the bar's margins, each about a bar's height.
    QFont f = QApplication::font("QMdiSubWindowTitleBar");
    f.setBold(true);
    const int bar = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return QFontMetrics(f).horizontalAdvance(detail::Q(caption)) + 5 * bar;
}

RECT DluToPixels(const RECT& dlu, const std::string& font, int pointSize)
{
    SIZE b = DialogBaseUnits(font, pointSize);
    return RECT{MulDivRound(dlu.left, b.cx, 4), MulDivRound(dlu.top, b.cy, 8), MulDivRound(dlu.right, b.cx, 4),
                MulDivRound(dlu.bottom, b.cy, 8)};
}

} // namespace mfc
