// The application object, the program entry and keyboard routing
// (PreTranslateMessage, ProcessMessageFilter, F1).
#include <QKeyEvent>
#include <QPointer>
#include <climits>
#include <fstream>
#include <unistd.h>

#include "internal.h"

namespace {
CWinApp* g_app = nullptr;
thread_local Qt::KeyboardModifiers g_mods;
bool g_haveMods = false;

std::string ExePath()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("program");
}
} // namespace

namespace mfc::detail {

Qt::KeyboardModifiers CurrentKeyModifiers() { return g_haveMods ? g_mods : QGuiApplication::keyboardModifiers(); }

UINT VirtualKeyOf(int k)
{
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        return static_cast<UINT>('A' + (k - Qt::Key_A));
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return static_cast<UINT>('0' + (k - Qt::Key_0));
    if (k >= Qt::Key_F1 && k <= Qt::Key_F12)
        return static_cast<UINT>(VK_F1 + (k - Qt::Key_F1));
    switch (k) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VK_TAB;
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_Insert:
        return VK_INSERT;
    case Qt::Key_Delete:
        return VK_DELETE;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Menu:
        return VK_APPS;
    case Qt::Key_Shift:
        return VK_SHIFT;
    case Qt::Key_Control:
        return VK_CONTROL;
    case Qt::Key_Alt:
        return VK_MENU;
    default:
        return 0;
    }
}

int QtKeyOf(UINT vk)
{
    if (vk >= 'A' && vk <= 'Z')
        return Qt::Key_A + static_cast<int>(vk - 'A');
    if (vk >= '0' && vk <= '9')
        return Qt::Key_0 + static_cast<int>(vk - '0');
    if (vk >= VK_F1 && vk <= VK_F12)
        return Qt::Key_F1 + static_cast<int>(vk - VK_F1);
    switch (vk) {
    case VK_RETURN:
        return Qt::Key_Return;
    case VK_ESCAPE:
        return Qt::Key_Escape;
    case VK_TAB:
        return Qt::Key_Tab;
    case VK_BACK:
        return Qt::Key_Backspace;
    case VK_SPACE:
        return Qt::Key_Space;
    case VK_INSERT:
        return Qt::Key_Insert;
    case VK_DELETE:
        return Qt::Key_Delete;
    case VK_HOME:
        return Qt::Key_Home;
    case VK_END:
        return Qt::Key_End;
    case VK_PRIOR:
        return Qt::Key_PageUp;
    case VK_NEXT:
        return Qt::Key_PageDown;
    case VK_LEFT:
        return Qt::Key_Left;
    case VK_RIGHT:
        return Qt::Key_Right;
    case VK_UP:
        return Qt::Key_Up;
    case VK_DOWN:
        return Qt::Key_Down;
    case VK_APPS:
        return Qt::Key_Menu;
    default:
        return 0;
    }
}

namespace {
// Sees every key press before the widget does: the dialog's
// PreTranslateMessage and the application's ProcessMessageFilter get it
// first (so accelerators win over the item views' own Ctrl+C/Ctrl+A), then
// F1 becomes the help command.
class KeyFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress || !o->isWidgetType())
            return false;
        auto* w = static_cast<QWidget*>(o);
        QWidget* win = w->window();
        WindowData* dd = DataOf(win);
        if (!dd || dd->kind != Kind::Dialog)
            return false;
        QWidget* first = win->focusWidget() ? win->focusWidget() : win;
        if (w != first)
            return false; // once per key, at its first receiver
        auto* k = static_cast<QKeyEvent*>(e);
        UINT vk = VirtualKeyOf(k->key());
        if (!vk)
            return false;
        WindowData* nd = NearestData(w);
        MSG msg{};
        msg.hwnd = HandleOf(nd ? nd->w : win);
        msg.message = (k->modifiers() & Qt::AltModifier) ? WM_SYSKEYDOWN : WM_KEYDOWN;
        msg.wParam = vk;
        Qt::KeyboardModifiers saved = g_mods;
        bool savedHave = g_haveMods;
        g_mods = k->modifiers();
        g_haveMods = true;
        bool eaten = false;
        if (dd->permanent && dd->permanent->PreTranslateMessage(&msg))
            eaten = true;
        if (!eaten && g_app && g_app->ProcessMessageFilter(MSGF_DIALOGBOX, &msg))
            eaten = true;
        if (!eaten && vk == VK_F1 && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier))) {
            Send(HandleOf(win), WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0);
            eaten = true;
        }
        g_mods = saved;
        g_haveMods = savedHave;
        return eaten;
    }
};
QPointer<QObject> g_filter;
} // namespace

void EnsureKeyFilter()
{
    if (!qApp || g_filter)
        return;
    g_filter = new KeyFilter(qApp);
    qApp->installEventFilter(g_filter);
}

CWnd* CommandWindow();

} // namespace mfc::detail

using namespace mfc::detail;

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCTSTR name)
{
    g_app = this;
    m_exeName = ExePath();
    size_t slash = m_exeName.rfind('/');
    if (slash != std::string::npos)
        m_exeName = m_exeName.substr(slash + 1);
    size_t dot = m_exeName.rfind('.');
    if (dot != std::string::npos && dot > 0)
        m_exeName = m_exeName.substr(0, dot);
    m_appName = name ? name : m_exeName;
    m_pszAppName = m_appName.c_str();
    m_pszExeName = m_exeName.c_str();
    m_lpCmdLine = m_cmdLine.data();
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }
int CWinApp::Run()
{
    int rc = qApp ? QApplication::exec() : 0;
    int ex = ExitInstance();
    return rc ? rc : ex;
}
BOOL CWinApp::ProcessMessageFilter(int, LPMSG) { return FALSE; }

HICON CWinApp::LoadIcon(UINT id) const { return ::LoadIcon(nullptr, MAKEINTRESOURCE(id)); }
HICON CWinApp::LoadIcon(LPCTSTR name) const { return ::LoadIcon(nullptr, name); }
HICON CWinApp::LoadStandardIcon(LPCTSTR name) const { return ::LoadIcon(nullptr, name); }

void CWinApp::OnHelp()
{
    // Help for the window that got the command (F1 in the main dialog reaches
    // the main dialog's WinHelp; a child dialog's F1 reaches its own).
    CWnd* w = CommandWindow();
    if (!w)
        w = m_pMainWnd;
    if (w)
        w->WinHelp(0, HELP_CONTEXT);
}

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }
HINSTANCE AfxGetInstanceHandle() { return g_app ? g_app->m_hInstance : nullptr; }
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }
LPCTSTR AfxGetAppName()
{
    static std::string fallback;
    if (g_app)
        return g_app->m_pszAppName;
    if (fallback.empty()) {
        fallback = ExePath();
        size_t slash = fallback.rfind('/');
        if (slash != std::string::npos)
            fallback = fallback.substr(slash + 1);
    }
    return fallback.c_str();
}

int AfxWinMain(int argc, char** argv)
{
    static int s_argc;
    s_argc = argc;
    std::unique_ptr<QApplication> own;
    if (!qApp)
        own = std::make_unique<QApplication>(s_argc, argv);
    if (!g_app)
        return -1;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            g_app->m_cmdLine += ' ';
        g_app->m_cmdLine += argv[i];
    }
    g_app->m_lpCmdLine = g_app->m_cmdLine.data();
    QApplication::setApplicationName(mfc::detail::Q(g_app->m_pszAppName));
    EnsureKeyFilter();
    int rc;
    if (!g_app->InitInstance())
        rc = g_app->ExitInstance();
    else
        rc = g_app->Run();
    return rc;
}
