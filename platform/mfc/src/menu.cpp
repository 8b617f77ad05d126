// Menus kept as our own item trees (so states read back exactly), shown as
// QMenu/QMenuBar; accelerator tables.
#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <set>

#include "internal.h"

namespace mfc {
const std::vector<MenuDef>* FindMenu(UINT id);
const std::vector<ACCEL>* FindAccelerators(UINT id);
} // namespace mfc

namespace mfc::detail {

struct MenuItemData {
    std::string text;
    UINT id = 0;
    UINT flags = 0;
    MenuData* popup = nullptr; // owned
};
struct MenuData {
    std::vector<MenuItemData> items;
    std::unique_ptr<CMenu> wrapper;
};

namespace {
std::set<MenuData*>& Menus()
{
    static auto* s = new std::set<MenuData*>; // kept to the end of the process
    return *s;
}
MenuData* M(HMENU h)
{
    auto* m = reinterpret_cast<MenuData*>(h);
    return m && Menus().count(m) ? m : nullptr;
}
MenuData* NewMenu()
{
    auto* m = new MenuData;
    Menus().insert(m);
    return m;
}
void FreeMenu(MenuData* m)
{
    if (!m || !Menus().count(m))
        return;
    for (auto& it : m->items)
        FreeMenu(it.popup);
    Menus().erase(m);
    if (m->wrapper)
        m->wrapper->m_hMenu = nullptr;
    delete m;
}
MenuData* Build(const std::vector<MenuDef>& defs)
{
    MenuData* m = NewMenu();
    for (const auto& d : defs) {
        MenuItemData it;
        it.text = d.text;
        it.id = d.id;
        it.flags = d.flags & ~MF_POPUP;
        if ((d.flags & MF_POPUP) || !d.items.empty()) {
            it.popup = Build(d.items);
            it.flags |= MF_POPUP;
        }
        m->items.push_back(std::move(it));
    }
    return m;
}
// Finds an item by position or by command (searching submenus, as Windows does).
MenuItemData* Find(MenuData* m, UINT key, UINT flags, MenuData** owner = nullptr, size_t* index = nullptr)
{
    if (!m)
        return nullptr;
    if (flags & MF_BYPOSITION) {
        if (key >= m->items.size())
            return nullptr;
        if (owner)
            *owner = m;
        if (index)
            *index = key;
        return &m->items[key];
    }
    for (size_t i = 0; i < m->items.size(); ++i) {
        auto& it = m->items[i];
        if (!(it.flags & MF_POPUP) && !(it.flags & MF_SEPARATOR) && it.id == key) {
            if (owner)
                *owner = m;
            if (index)
                *index = i;
            return &it;
        }
        if (it.popup)
            if (MenuItemData* r = Find(it.popup, key, flags, owner, index))
                return r;
    }
    return nullptr;
}
MenuItemData MakeItem(UINT flags, UINT_PTR id, LPCTSTR text)
{
    MenuItemData it;
    it.flags = flags & ~(MF_BYPOSITION | MF_APPEND | MF_CHANGE | MF_DELETE | MF_INSERT);
    if (flags & MF_POPUP) {
        it.popup = M(reinterpret_cast<HMENU>(id));
    } else {
        it.id = static_cast<UINT>(id);
    }
    if (!(flags & MF_SEPARATOR) && text)
        it.text = text;
    return it;
}

void Fill(QMenu* q, MenuData* m, const std::function<void(UINT)>& chosen)
{
    q->clear();
    for (const auto& it : m->items) {
        if (it.flags & MF_SEPARATOR) {
            q->addSeparator();
            continue;
        }
        if (it.popup) {
            QMenu* sub = q->addMenu(Q(it.text));
            sub->setEnabled(!(it.flags & (MF_GRAYED | MF_DISABLED)));
            Fill(sub, it.popup, chosen);
            continue;
        }
        QAction* a = q->addAction(Q(it.text));
        a->setEnabled(!(it.flags & (MF_GRAYED | MF_DISABLED)));
        if (it.flags & MF_CHECKED) {
            a->setCheckable(true);
            a->setChecked(true);
        }
        UINT id = it.id;
        QObject::connect(a, &QAction::triggered, q, [chosen, id] { chosen(id); });
    }
}

void Describe(MenuData* m, std::vector<std::string>& out, const std::string& indent)
{
    for (const auto& it : m->items) {
        if (it.flags & MF_SEPARATOR) {
            out.push_back(indent + "-");
            continue;
        }
        std::string s = indent + it.text;
        if (it.flags & MF_CHECKED)
            s += " [x]";
        if (it.flags & (MF_GRAYED | MF_DISABLED))
            s += " (grey)";
        out.push_back(s);
        if (it.popup)
            Describe(it.popup, out, indent + "  ");
    }
}
} // namespace

bool IsMenu(HMENU h) { return M(h) != nullptr; }

void RebuildMenuBar(DialogState* st)
{
    if (!st || !st->menuBar || !st->menu)
        return;
    MenuData* m = M(st->menu->m_hMenu);
    st->menuBar->clear();
    if (!m)
        return;
    QPointer<VxDialog> dlg = st->dlg;
    auto chosen = [dlg](UINT id) {
        // The command arrives after the menu has closed, as a posted WM_COMMAND.
        QTimer::singleShot(0, [dlg, id] {
            if (dlg)
                Send(HandleOf(dlg.data()), WM_COMMAND, MAKEWPARAM(id, 0), 0);
        });
    };
    for (auto& it : m->items) {
        if (!it.popup) {
            QAction* a = st->menuBar->addAction(Q(it.text));
            a->setEnabled(!(it.flags & (MF_GRAYED | MF_DISABLED)));
            UINT id = it.id;
            QObject::connect(a, &QAction::triggered, a, [chosen, id] { chosen(id); });
            continue;
        }
        QMenu* q = st->menuBar->addMenu(Q(it.text));
        q->setEnabled(!(it.flags & (MF_GRAYED | MF_DISABLED)));
        MenuData* popup = it.popup;
        HMENU handle = reinterpret_cast<HMENU>(popup);
        // Rebuilt on every opening, so enabling and checking show at once.
        QObject::connect(q, &QMenu::aboutToShow, q, [q, handle, chosen] {
            if (MenuData* pm = M(handle))
                Fill(q, pm, chosen);
        });
    }
}

struct AccelTable {
    std::vector<ACCEL> entries;
};
namespace {
std::set<AccelTable*>& Accels()
{
    static auto* s = new std::set<AccelTable*>; // kept to the end of the process
    return *s;
}
} // namespace

} // namespace mfc::detail

using namespace mfc::detail;

CMenu::~CMenu() { DestroyMenu(); }

CMenu* CMenu::FromHandle(HMENU h)
{
    MenuData* m = M(h);
    if (!m)
        return nullptr;
    if (!m->wrapper) {
        m->wrapper = std::make_unique<CMenu>();
        m->wrapper->m_hMenu = h;
    }
    // A CMenu that Attach()ed this handle is the permanent one in MFC; the
    // wrapper here is equivalent since all state is in the menu.
    return m->wrapper.get();
}
BOOL CMenu::Attach(HMENU h)
{
    if (!M(h))
        return FALSE;
    m_hMenu = h;
    return TRUE;
}
HMENU CMenu::Detach()
{
    HMENU h = m_hMenu;
    m_hMenu = nullptr;
    return h;
}
BOOL CMenu::LoadMenu(UINT id)
{
    const auto* defs = mfc::FindMenu(id);
    if (!defs)
        return FALSE;
    DestroyMenu();
    m_hMenu = reinterpret_cast<HMENU>(mfc::detail::Build(*defs));
    return TRUE;
}
BOOL CMenu::LoadMenu(LPCTSTR name)
{
    return IS_INTRESOURCE(name) ? LoadMenu(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name))) : FALSE;
}
BOOL CMenu::CreateMenu()
{
    DestroyMenu();
    m_hMenu = reinterpret_cast<HMENU>(NewMenu());
    return TRUE;
}
BOOL CMenu::CreatePopupMenu() { return CreateMenu(); }
BOOL CMenu::DestroyMenu()
{
    MenuData* m = M(m_hMenu);
    HMENU h = m_hMenu;
    m_hMenu = nullptr;
    if (!m)
        return FALSE;
    // The handle's own wrapper is not the one being destroyed here.
    if (m->wrapper.get() == this) {
        (void)m->wrapper.release();
    }
    (void)h;
    FreeMenu(m);
    return TRUE;
}
BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, LPCTSTR text)
{
    MenuData* m = M(m_hMenu);
    if (!m)
        return FALSE;
    m->items.push_back(MakeItem(flags, id, text));
    return TRUE;
}
BOOL CMenu::InsertMenu(UINT pos, UINT flags, UINT_PTR id, LPCTSTR text)
{
    MenuData* m = M(m_hMenu);
    if (!m)
        return FALSE;
    if (flags & MF_BYPOSITION) {
        size_t at = pos == static_cast<UINT>(-1) || pos > m->items.size() ? m->items.size() : pos;
        m->items.insert(m->items.begin() + static_cast<long>(at), MakeItem(flags, id, text));
        return TRUE;
    }
    MenuData* owner = nullptr;
    size_t index = 0;
    if (!Find(m, pos, MF_BYCOMMAND, &owner, &index))
        return FALSE;
    owner->items.insert(owner->items.begin() + static_cast<long>(index), MakeItem(flags, id, text));
    return TRUE;
}
BOOL CMenu::ModifyMenu(UINT pos, UINT flags, UINT_PTR id, LPCTSTR text)
{
    MenuItemData* it = Find(M(m_hMenu), pos, flags);
    if (!it)
        return FALSE;
    MenuData* oldPopup = it->popup;
    *it = MakeItem(flags, id, text);
    if (oldPopup && oldPopup != it->popup)
        FreeMenu(oldPopup);
    return TRUE;
}
BOOL CMenu::RemoveMenu(UINT pos, UINT flags)
{
    MenuData* owner = nullptr;
    size_t index = 0;
    if (!Find(M(m_hMenu), pos, flags, &owner, &index))
        return FALSE;
    owner->items.erase(owner->items.begin() + static_cast<long>(index)); // a popup is kept alive
    return TRUE;
}
BOOL CMenu::DeleteMenu(UINT pos, UINT flags)
{
    MenuData* owner = nullptr;
    size_t index = 0;
    if (!Find(M(m_hMenu), pos, flags, &owner, &index))
        return FALSE;
    MenuData* popup = owner->items[index].popup;
    owner->items.erase(owner->items.begin() + static_cast<long>(index));
    FreeMenu(popup);
    return TRUE;
}
int CMenu::GetMenuItemCount() const
{
    MenuData* m = M(m_hMenu);
    return m ? static_cast<int>(m->items.size()) : -1;
}
UINT CMenu::GetMenuItemID(int pos) const
{
    MenuData* m = M(m_hMenu);
    if (!m || pos < 0 || static_cast<size_t>(pos) >= m->items.size())
        return static_cast<UINT>(-1);
    const auto& it = m->items[static_cast<size_t>(pos)];
    if (it.popup)
        return static_cast<UINT>(-1);
    return (it.flags & MF_SEPARATOR) ? 0 : it.id;
}
int CMenu::GetMenuString(UINT id, LPTSTR buf, int max, UINT flags) const
{
    MenuItemData* it = Find(M(m_hMenu), id, flags);
    if (!it) {
        if (buf && max > 0)
            buf[0] = '\0';
        return 0;
    }
    if (!buf)
        return static_cast<int>(it->text.size());
    return CopyOut(it->text, buf, max);
}
int CMenu::GetMenuString(UINT id, CString& r, UINT flags) const
{
    MenuItemData* it = Find(M(m_hMenu), id, flags);
    r = it ? CString(it->text) : CString();
    return r.GetLength();
}
CMenu* CMenu::GetSubMenu(int pos) const
{
    MenuData* m = M(m_hMenu);
    if (!m || pos < 0 || static_cast<size_t>(pos) >= m->items.size())
        return nullptr;
    MenuData* p = m->items[static_cast<size_t>(pos)].popup;
    return p ? FromHandle(reinterpret_cast<HMENU>(p)) : nullptr;
}
UINT CMenu::EnableMenuItem(UINT id, UINT enable)
{
    MenuItemData* it = Find(M(m_hMenu), id, enable & MF_BYPOSITION);
    if (!it)
        return static_cast<UINT>(-1);
    UINT old = it->flags & (MF_GRAYED | MF_DISABLED);
    it->flags = (it->flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
    return old;
}
UINT CMenu::CheckMenuItem(UINT id, UINT check)
{
    MenuItemData* it = Find(M(m_hMenu), id, check & MF_BYPOSITION);
    if (!it)
        return static_cast<UINT>(-1);
    UINT old = it->flags & MF_CHECKED;
    it->flags = (it->flags & ~MF_CHECKED) | (check & MF_CHECKED);
    return old;
}
UINT CMenu::GetMenuState(UINT id, UINT flags) const
{
    MenuItemData* it = Find(M(m_hMenu), id, flags);
    if (!it)
        return static_cast<UINT>(-1);
    UINT s =
        it->flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR | MF_HELP | MF_MENUBREAK | MF_MENUBARBREAK);
    if (it->popup)
        s = (s & 0xFF) | MF_POPUP | (static_cast<UINT>(it->popup->items.size()) << 8);
    return s;
}
BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* pWnd, LPCRECT)
{
    MenuData* m = M(m_hMenu);
    if (!m || !qApp)
        return FALSE;
    UINT chosen = 0;
    std::vector<std::string> items;
    Describe(m, items, "");
    if (!AnswerPopup(items, x, y, &chosen)) {
        QMenu q(pWnd ? Live(pWnd->m_hWnd) : nullptr);
        Fill(&q, m, [&chosen](UINT id) { chosen = id; });
        q.exec(QPoint(x, y));
    }
    if (flags & TPM_RETURNCMD)
        return static_cast<BOOL>(chosen);
    if (chosen && pWnd && !(flags & TPM_NONOTIFY))
        pWnd->PostMessage(WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    return TRUE;
}

// ---------------------------------------------------------------- accelerators

HACCEL LoadAccelerators(HINSTANCE, LPCSTR name)
{
    if (!IS_INTRESOURCE(name))
        return nullptr;
    const auto* t = mfc::FindAccelerators(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)));
    return t ? CreateAcceleratorTable(t->data(), static_cast<int>(t->size())) : nullptr;
}
HACCEL CreateAcceleratorTable(const ACCEL* p, int n)
{
    if (!p || n <= 0)
        return nullptr;
    auto* t = new AccelTable;
    t->entries.assign(p, p + n);
    Accels().insert(t);
    return reinterpret_cast<HACCEL>(t);
}
BOOL DestroyAcceleratorTable(HACCEL h)
{
    auto* t = reinterpret_cast<AccelTable*>(h);
    if (!Accels().erase(t))
        return FALSE;
    delete t;
    return TRUE;
}

namespace mfc::detail {
Qt::KeyboardModifiers CurrentKeyModifiers();
}

int TranslateAccelerator(HWND hWnd, HACCEL h, LPMSG msg)
{
    auto* t = reinterpret_cast<AccelTable*>(h);
    if (!t || !Accels().count(t) || !msg)
        return 0;
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)
        return 0;
    // Only keys typed in hWnd or one of its child windows: a modal dialog on
    // top keeps its keys.
    QWidget* target = Live(hWnd);
    QWidget* from = Live(msg->hwnd);
    if (!target || !from || (from != target && !target->isAncestorOf(from)))
        return 0;
    Qt::KeyboardModifiers mods = CurrentKeyModifiers();
    for (const ACCEL& a : t->entries) {
        if (!(a.fVirt & FVIRTKEY))
            continue;
        if (a.key != msg->wParam)
            continue;
        if (((a.fVirt & FCONTROL) != 0) != ((mods & Qt::ControlModifier) != 0))
            continue;
        if (((a.fVirt & FSHIFT) != 0) != ((mods & Qt::ShiftModifier) != 0))
            continue;
        if (((a.fVirt & FALT) != 0) != ((mods & Qt::AltModifier) != 0))
            continue;
        Send(hWnd, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
        return 1;
    }
    return 0;
}
