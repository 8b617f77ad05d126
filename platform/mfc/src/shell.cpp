// Message boxes, file and folder dialogs, clipboard and global memory, icons
// and bitmaps.
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "internal.h"
#include "shlobj.h"

using namespace mfc::detail;

// ---------------------------------------------------------------- message boxes

namespace {
int DefaultAnswer(UINT type)
{
    UINT kind = type & MB_TYPEMASK;
    int def = static_cast<int>((type & MB_DEFMASK) >> 8);
    static const int buttons[][3] = {
        {IDOK, 0, 0},     {IDOK, IDCANCEL, 0},   {IDABORT, IDRETRY, IDIGNORE}, {IDYES, IDNO, IDCANCEL},
        {IDYES, IDNO, 0}, {IDRETRY, IDCANCEL, 0}};
    if (kind > 5)
        kind = 0;
    int a = buttons[kind][std::min(def, 2)];
    return a ? a : buttons[kind][0];
}

int ShowBox(QWidget* parent, const std::string& text, const std::string& caption, UINT type)
{
    QMessageBox box(parent);
    box.setWindowTitle(Q(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(Q(text));
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONASTERISK:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    struct B {
        int id;
        QMessageBox::StandardButton b;
    };
    std::vector<B> bs;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        bs = {{IDOK, QMessageBox::Ok}, {IDCANCEL, QMessageBox::Cancel}};
        break;
    case MB_ABORTRETRYIGNORE:
        bs = {{IDABORT, QMessageBox::Abort}, {IDRETRY, QMessageBox::Retry}, {IDIGNORE, QMessageBox::Ignore}};
        break;
    case MB_YESNOCANCEL:
        bs = {{IDYES, QMessageBox::Yes}, {IDNO, QMessageBox::No}, {IDCANCEL, QMessageBox::Cancel}};
        break;
    case MB_YESNO:
        bs = {{IDYES, QMessageBox::Yes}, {IDNO, QMessageBox::No}};
        break;
    case MB_RETRYCANCEL:
        bs = {{IDRETRY, QMessageBox::Retry}, {IDCANCEL, QMessageBox::Cancel}};
        break;
    default:
        bs = {{IDOK, QMessageBox::Ok}};
        break;
    }
    QMessageBox::StandardButtons all;
    for (auto& b : bs)
        all |= b.b;
    box.setStandardButtons(all);
    int def = DefaultAnswer(type);
    for (auto& b : bs) {
        if (b.id == def)
            box.setDefaultButton(b.b);
        if (b.id == IDCANCEL || (bs.size() == 1 && b.id == IDOK))
            box.setEscapeButton(b.b);
    }
    // As on Windows, the box is wide enough for its caption, however short the text.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(mfc::CaptionWidth(caption), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, std::max(1, grid->columnCount()));
    int waits = SuspendWaitCursors();
    box.exec();
    ResumeWaitCursors(waits);
    QAbstractButton* clicked = box.clickedButton();
    for (auto& b : bs)
        if (clicked == box.button(b.b))
            return b.id;
    // Closed without a button: Cancel where there is one, else the only button.
    for (auto& b : bs)
        if (b.id == IDCANCEL)
            return IDCANCEL;
    return bs.size() == 1 ? bs[0].id : IDCANCEL;
}
} // namespace

int MessageBox(HWND hWnd, LPCSTR text, LPCSTR caption, UINT type)
{
    return OnGui([&] {
        // Windows titles a box without caption "Error".
        std::string t = text ? text : "", c = caption ? caption : "Error";
        int answer = 0;
        if (AnswerMessageBox(t, c, type, &answer))
            return answer;
        if (!qApp)
            return 0;
        QWidget* parent = Live(hWnd);
        if (!parent)
            parent = QApplication::activeModalWidget();
        return ShowBox(parent ? parent->window() : nullptr, t, c, type);
    });
}

int AfxMessageBox(LPCTSTR text, UINT type, UINT)
{
    CWnd* main = AfxGetMainWnd();
    HWND owner = nullptr;
    if (QWidget* m = QApplication::activeModalWidget(); m && DataOf(m))
        owner = HandleOf(m);
    else if (main)
        owner = main->GetSafeHwnd();
    return MessageBox(owner, text, AfxGetAppName(), type);
}

namespace mfc::detail {
int DefaultMessageBoxAnswer(UINT type) { return DefaultAnswer(type); }
} // namespace mfc::detail

// ---------------------------------------------------------------- icons and bitmaps

namespace {
std::map<UINT, QIcon>& IconTable()
{
    static auto* t = new std::map<UINT, QIcon>; // kept to the end of the process
    return *t;
}
std::map<UINT, QPixmap>& BitmapTable()
{
    static auto* t = new std::map<UINT, QPixmap>; // kept to the end of the process
    return *t;
}
std::set<IconData*>& Icons()
{
    static auto* s = new std::set<IconData*>; // kept to the end of the process
    return *s;
}
std::set<BitmapData*>& Bitmaps()
{
    static auto* s = new std::set<BitmapData*>; // kept to the end of the process
    return *s;
}
std::map<UINT, HICON>& SharedIcons()
{
    static auto* s = new std::map<UINT, HICON>; // kept to the end of the process
    return *s;
}
QIcon Generated(UINT id)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor::fromHsv(static_cast<int>((id * 47) % 360), 160, 200));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(2, 2, 28, 28, 6, 6);
    return QIcon(pm);
}
} // namespace

void mfc::RegisterIcon(UINT id, const QIcon& icon) { IconTable()[id] = icon; }
void mfc::RegisterBitmap(UINT id, const QPixmap& pm) { BitmapTable()[id] = pm; }
QIcon mfc::IconOf(HICON h)
{
    auto* d = reinterpret_cast<IconData*>(h);
    return d && Icons().count(d) ? d->icon : QIcon();
}
QPixmap mfc::PixmapOf(HBITMAP h)
{
    auto* d = reinterpret_cast<BitmapData*>(h);
    return d && Bitmaps().count(d) ? d->pixmap : QPixmap();
}
HICON mfc::MakeIcon(const QIcon& icon)
{
    auto* d = new IconData{icon};
    Icons().insert(d);
    return reinterpret_cast<HICON>(d);
}
HBITMAP mfc::MakeBitmap(const QPixmap& pm)
{
    auto* d = new BitmapData{pm};
    Bitmaps().insert(d);
    return reinterpret_cast<HBITMAP>(d);
}
QWidget* mfc::WidgetOf(HWND h) { return Live(h); }

HICON LoadIcon(HINSTANCE, LPCSTR name)
{
    if (!qApp)
        return nullptr;
    UINT id = IS_INTRESOURCE(name) ? static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)) : 0;
    // Resource icons are shared, as Windows shares them; DestroyIcon leaves them.
    HICON& h = SharedIcons()[id];
    if (!h) {
        auto it = IconTable().find(id);
        h = mfc::MakeIcon(it != IconTable().end() ? it->second : Generated(id));
    }
    return h;
}
BOOL DestroyIcon(HICON h)
{
    auto* d = reinterpret_cast<IconData*>(h);
    if (!d || !Icons().count(d))
        return FALSE;
    for (auto& s : SharedIcons())
        if (s.second == h)
            return TRUE;
    Icons().erase(d);
    delete d;
    return TRUE;
}
HCURSOR LoadCursor(HINSTANCE, LPCSTR) { return nullptr; }
HCURSOR SetCursor(HCURSOR) { return nullptr; }

HBITMAP LoadBitmap(HINSTANCE, LPCSTR name)
{
    if (!IS_INTRESOURCE(name) || !qApp)
        return nullptr;
    auto it = BitmapTable().find(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)));
    if (it == BitmapTable().end())
        return nullptr;
    return mfc::MakeBitmap(it->second);
}
BOOL DeleteObject(HGDIOBJ h)
{
    auto* b = reinterpret_cast<BitmapData*>(h);
    if (!b || !Bitmaps().count(b))
        return FALSE;
    Bitmaps().erase(b);
    delete b;
    return TRUE;
}
CBitmap::~CBitmap() { DeleteObject(); }
BOOL CBitmap::LoadBitmap(UINT id)
{
    DeleteObject();
    m_hObject = ::LoadBitmap(nullptr, MAKEINTRESOURCE(id));
    return m_hObject != nullptr;
}
BOOL CBitmap::DeleteObject()
{
    if (!m_hObject)
        return FALSE;
    ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return TRUE;
}

// ---------------------------------------------------------------- file dialog

namespace {
std::string Slashes(std::string s)
{
    for (auto& c : s)
        if (c == '\\')
            c = '/';
    return s;
}
// "desc|pattern|desc2|pattern2||" -> "desc (pattern);;desc2 (pattern2)"
QString QtFilter(const std::string& f)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : f) {
        if (c == '|') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    QStringList out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() && parts[i + 1].empty())
            break;
        std::string pat = parts[i + 1];
        for (auto& c : pat)
            if (c == ';')
                c = ' ';
        out << Q(parts[i] + " (" + pat + ")");
    }
    return out.join(";;");
}
} // namespace

CFileDialog::CFileDialog(BOOL bOpen, LPCTSTR defExt, LPCTSTR fileName, DWORD flags, LPCTSTR filter, CWnd* parent)
    : m_bOpen(bOpen), m_defExt(defExt ? defExt : ""), m_fileName(fileName ? fileName : ""),
      m_filter(filter ? filter : ""), m_pParent(parent)
{
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.Flags = flags;
    m_ofn.lpstrDefExt = m_defExt.c_str();
    m_ofn.lpstrFilter = m_filter.c_str();
    CopyOut(m_fileName, m_fileBuf, sizeof(m_fileBuf));
    m_ofn.lpstrFile = m_fileBuf;
    m_ofn.nMaxFile = sizeof(m_fileBuf);
}

INT_PTR CFileDialog::DoModal()
{
    return OnGui([&]() -> INT_PTR {
        std::string initial = Slashes(m_ofn.lpstrFile ? m_ofn.lpstrFile : m_fileName);
        if (m_ofn.lpstrInitialDir && *m_ofn.lpstrInitialDir && initial.find('/') == std::string::npos)
            initial = Slashes(m_ofn.lpstrInitialDir) + "/" + initial;
        std::string title = m_ofn.lpstrTitle ? m_ofn.lpstrTitle : (m_bOpen ? "Open" : "Save As");
        std::string path;
        bool ok = false;
        if (!AnswerFile(false, m_bOpen, title, initial, m_filter, &path, &ok)) {
            if (!qApp)
                return -1;
            QWidget* parent = m_pParent ? Live(m_pParent->m_hWnd) : QApplication::activeModalWidget();
            QFileDialog dlg(parent, Q(title), Q(initial), QtFilter(m_filter));
            dlg.setOption(QFileDialog::DontUseNativeDialog, true);
            dlg.setAcceptMode(m_bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
            // As in Windows, an open dialog takes a name that does not exist yet
            // unless the caller asks for an existing file.
            dlg.setFileMode(m_bOpen && (m_ofn.Flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                                         : QFileDialog::AnyFile);
            if (!m_bOpen && (m_ofn.Flags & OFN_OVERWRITEPROMPT) == 0)
                dlg.setOption(QFileDialog::DontConfirmOverwrite);
            std::string ext = m_defExt;
            while (!ext.empty() && (ext[0] == '*' || ext[0] == '.'))
                ext.erase(0, 1);
            if (!ext.empty())
                dlg.setDefaultSuffix(Q(ext));
            QFileInfo fi(Q(initial));
            if (!initial.empty()) {
                dlg.setDirectory(fi.absolutePath());
                dlg.selectFile(fi.fileName());
            }
            int waits = SuspendWaitCursors();
            ok = dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty();
            ResumeWaitCursors(waits);
            if (ok)
                path = S(dlg.selectedFiles().first());
        }
        if (!ok)
            return IDCANCEL;
        m_result = path;
        CopyOut(path, m_fileBuf, sizeof(m_fileBuf));
        return IDOK;
    });
}
CString CFileDialog::GetPathName() const { return CString(m_result); }
CString CFileDialog::GetFileName() const
{
    size_t s = m_result.rfind('/');
    return CString(s == std::string::npos ? m_result : m_result.substr(s + 1));
}
CString CFileDialog::GetFileExt() const
{
    std::string n = GetFileName().str();
    size_t d = n.rfind('.');
    return CString(d == std::string::npos ? std::string() : n.substr(d + 1));
}
CString CFileDialog::GetFileTitle() const
{
    std::string n = GetFileName().str();
    size_t d = n.rfind('.');
    return CString(d == std::string::npos ? n : n.substr(0, d));
}
CString CFileDialog::GetFolderPath() const
{
    size_t s = m_result.rfind('/');
    return CString(s == std::string::npos ? std::string() : m_result.substr(0, s));
}

// ---------------------------------------------------------------- folder browser

namespace {
// The browser window the callback talks to: a QFileDialog, or a stand-in
// record when the test hook answers.
struct BrowseState {
    std::string selection;
    std::string status;
    std::string title;
    bool okEnabled = true;
};
std::map<QWidget*, BrowseState*>& Browsers()
{
    static auto* m = new std::map<QWidget*, BrowseState*>; // kept to the end of the process
    return *m;
}
} // namespace

namespace mfc::detail {
// Messages a browser window answers (see ControlProc for controls).
LRESULT BrowserProc(QWidget* w, UINT msg, WPARAM wp, LPARAM lp)
{
    auto it = Browsers().find(w);
    if (it == Browsers().end())
        return 0;
    BrowseState* s = it->second;
    switch (msg) {
    case BFFM_SETSELECTIONA:
        if (lp) {
            s->selection = wp ? Slashes(reinterpret_cast<const char*>(lp)) : std::string();
            if (auto* fd = qobject_cast<QFileDialog*>(w))
                fd->setDirectory(Q(s->selection));
        }
        return TRUE;
    case BFFM_SETSTATUSTEXTA:
        s->status = lp ? reinterpret_cast<const char*>(lp) : "";
        return TRUE;
    case BFFM_ENABLEOK:
        s->okEnabled = lp != 0;
        return TRUE;
    case WM_SETTEXT:
        s->title = lp ? reinterpret_cast<const char*>(lp) : "";
        w->setWindowTitle(Q(s->title));
        return TRUE;
    default:
        return 0;
    }
}
} // namespace mfc::detail

PIDLIST_ABSOLUTE SHBrowseForFolderA(LPBROWSEINFOA bi)
{
    if (!bi || !qApp)
        return nullptr;
    return OnGui([&]() -> PIDLIST_ABSOLUTE {
        QWidget* parent = Live(bi->hwndOwner);
        QFileDialog dlg(parent ? parent->window() : QApplication::activeModalWidget());
        dlg.setOption(QFileDialog::DontUseNativeDialog, true);
        dlg.setOption(QFileDialog::ShowDirsOnly, true);
        dlg.setFileMode(QFileDialog::Directory);
        dlg.setWindowTitle(Q(bi->lpszTitle ? bi->lpszTitle : "Browse For Folder"));
        if (bi->pidlRoot)
            dlg.setDirectory(Q(bi->pidlRoot->path));
        BrowseState state;
        state.title = bi->lpszTitle ? bi->lpszTitle : "";
        auto* wd = new WindowData(&dlg, Kind::Window, 0, 0, 0);
        (void)wd;
        Browsers()[&dlg] = &state;
        HWND h = HandleOf(&dlg);
        if (bi->lpfn)
            bi->lpfn(h, BFFM_INITIALIZED, 0, bi->lParam);
        std::string path;
        bool ok = false;
        if (AnswerFile(true, true, state.title, state.selection, "", &path, &ok)) {
            if (ok && bi->lpfn) {
                std::string copy = path;
                bi->lpfn(h, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(copy.c_str()), bi->lParam);
            }
        } else {
            QObject::connect(&dlg, &QFileDialog::currentChanged, &dlg, [&](const QString& p) {
                if (!bi->lpfn)
                    return;
                std::string sp = S(p);
                bi->lpfn(h, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(sp.c_str()), bi->lParam);
            });
            int waits = SuspendWaitCursors();
            ok = dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty();
            ResumeWaitCursors(waits);
            if (ok)
                path = S(dlg.selectedFiles().first());
        }
        Browsers().erase(&dlg);
        if (!ok)
            return nullptr;
        if (bi->pszDisplayName) {
            size_t s = path.rfind('/');
            CopyOut(s == std::string::npos ? path : path.substr(s + 1), bi->pszDisplayName, MAX_PATH);
        }
        auto* pidl = static_cast<ITEMIDLIST*>(std::malloc(path.size() + 1));
        std::memcpy(pidl->path, path.c_str(), path.size() + 1);
        return pidl;
    });
}
BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE pidl, LPSTR out)
{
    if (!pidl || !out)
        return FALSE;
    std::string p = pidl->path;
    if (p.size() >= MAX_PATH)
        return FALSE;
    std::memcpy(out, p.c_str(), p.size() + 1);
    return TRUE;
}
void ILFree(PIDLIST_ABSOLUTE pidl) { std::free(pidl); }

// ---------------------------------------------------------------- clipboard and global memory

namespace {
struct GlobalBlock {
    SIZE_T size;
    int locks;
    alignas(std::max_align_t) unsigned char data[1];
};
std::set<GlobalBlock*>& Blocks()
{
    static auto* s = new std::set<GlobalBlock*>; // kept to the end of the process
    return *s;
}
GlobalBlock* G(HGLOBAL h)
{
    auto* b = static_cast<GlobalBlock*>(h);
    return b && Blocks().count(b) ? b : nullptr;
}
HWND g_clipOwner = nullptr;
bool g_clipOpen = false;
HGLOBAL g_clipData = nullptr;
} // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes)
{
    size_t total = offsetof(GlobalBlock, data) + (bytes ? bytes : 1);
    auto* b = static_cast<GlobalBlock*>((flags & GMEM_ZEROINIT) ? std::calloc(1, total) : std::malloc(total));
    if (!b)
        return nullptr;
    b->size = bytes;
    b->locks = 0;
    Blocks().insert(b);
    return b;
}
LPVOID GlobalLock(HGLOBAL h)
{
    GlobalBlock* b = G(h);
    if (!b)
        return nullptr;
    ++b->locks;
    return b->data;
}
BOOL GlobalUnlock(HGLOBAL h)
{
    GlobalBlock* b = G(h);
    if (!b || b->locks <= 0)
        return FALSE;
    return --b->locks > 0;
}
HGLOBAL GlobalFree(HGLOBAL h)
{
    GlobalBlock* b = G(h);
    if (!b)
        return h;
    Blocks().erase(b);
    std::free(b);
    return nullptr;
}
SIZE_T GlobalSize(HGLOBAL h)
{
    GlobalBlock* b = G(h);
    return b ? b->size : 0;
}

BOOL OpenClipboard(HWND owner)
{
    if (g_clipOpen)
        return FALSE;
    g_clipOpen = true;
    g_clipOwner = owner;
    return TRUE;
}
BOOL CloseClipboard()
{
    if (!g_clipOpen)
        return FALSE;
    g_clipOpen = false;
    g_clipOwner = nullptr;
    return TRUE;
}
BOOL EmptyClipboard()
{
    if (!g_clipOpen)
        return FALSE;
    if (g_clipData)
        GlobalFree(g_clipData);
    g_clipData = nullptr;
    if (qApp)
        QGuiApplication::clipboard()->clear();
    return TRUE;
}
HANDLE SetClipboardData(UINT format, HANDLE h)
{
    GlobalBlock* b = G(h);
    if (!g_clipOpen || format != CF_TEXT || !b || !qApp)
        return nullptr;
    // The clipboard takes the block over; its text runs to the first zero.
    size_t n = strnlen(reinterpret_cast<const char*>(b->data), b->size);
    QGuiApplication::clipboard()->setText(
        QString::fromUtf8(reinterpret_cast<const char*>(b->data), static_cast<qsizetype>(n)));
    if (g_clipData && g_clipData != h)
        GlobalFree(g_clipData);
    g_clipData = h;
    return h;
}
HANDLE GetClipboardData(UINT format)
{
    if (!g_clipOpen || format != CF_TEXT || !qApp)
        return nullptr;
    std::string t = S(QGuiApplication::clipboard()->text());
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, t.size() + 1);
    std::memcpy(G(h)->data, t.c_str(), t.size() + 1);
    if (g_clipData)
        GlobalFree(g_clipData);
    g_clipData = h;
    return h;
}
BOOL IsClipboardFormatAvailable(UINT format)
{
    return format == CF_TEXT && qApp && !QGuiApplication::clipboard()->text().isEmpty();
}
