#include "test_app.h"

#include "ServerCalls.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"

#include <mfc/resources.h>
#include <mfc/test_hooks.h>
#include <qm/log_file.h>

#include <QApplication>
#include <QElapsedTimer>

#include <com/com.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vistrel_test {

namespace {

struct Environment : ::testing::Environment {
    void SetUp() override
    {
        App();
        // A click or key that misses its control fails the test there.
        mfc::test::OnMissedInput([](const std::string& what) { FAIL() << what; });
    }
};
::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

} // namespace

CVistrelApp& App()
{
    static CVistrelApp* app = nullptr;
    if (!app) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        // The registry and the servers' sockets of this run stay private.
        // Death-test children inherit the parent's folder through the environment.
        const char* inherited = std::getenv("VISTREL_TEST_HOME");
        const bool own = !inherited;
        const std::string home = own ? "/tmp/vistrel_test_" + std::to_string(getpid()) : inherited;
        setenv("VISTREL_TEST_HOME", home.c_str(), 1);
        std::filesystem::create_directories(home + "/config");
        std::filesystem::create_directories(home + "/run");
        std::filesystem::permissions(home + "/run", std::filesystem::perms::owner_all);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home + "/run").c_str(), 1);
        static const std::string folder = home;
        if (own)
            std::atexit([] { std::filesystem::remove_all(folder); });
        static int argc = 1;
        static char name[] = "vistrel_test";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
        app = new CVistrelApp;
        app->LoadResources();
    }
    return *app;
}

std::string ScopedIni::Path() { return GetProgramDirectory() + "vistrel.ini"; }

std::string ScopedIni::Read()
{
    std::ifstream in(Path());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ScopedIni::ScopedIni(const std::string& text)
{
    std::filesystem::remove(Path());
    if (!text.empty())
        std::ofstream(Path()) << text;
}

ScopedIni::~ScopedIni()
{
    std::filesystem::remove(Path());
    std::filesystem::remove(GetProgramDirectory() + "vistrel.log");
}

void RunMainDialog(const std::function<void(CVistrelDlg&)>& script)
{
    CVistrelDlg dialog;
    App().m_pMainWnd = &dialog;
    mfc::test::ScriptModal<CVistrelDlg>([&](CVistrelDlg& d) {
        script(d);
        d.EndDialog(IDCANCEL);
    });
    dialog.DoModal();
    App().m_pMainWnd = nullptr;
}

void Tick(CVistrelDlg& dialog) { dialog.SendMessage(WM_TIMER, 1); }

void Tick(PollView& view)
{
    view.Refresh();
    view.NotifyAll();
    view.UpdateView();
}

CComPtr<Icom_adapter> AdapterObject(const std::string& name)
{
    CComPtr<Imanager> manager;
    EXPECT_EQ(CreateServerObject(CLSID_manager, manager), S_OK);
    CComPtr<IDispatch> object;
    if (manager)
        manager->adapter_get(_bstr_t(name.c_str()), &object.p);
    return QueryAs<Icom_adapter>(object);
}

void RegisterServerLibrary(const char* path)
{
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr) << path;
    ASSERT_EQ(reg(), S_OK) << path;
}

std::string ItemText(CWnd& dialog, int id)
{
    CString text;
    dialog.GetDlgItemText(id, text);
    return text.str();
}

bool Enabled(CWnd& dialog, int id) { return dialog.GetDlgItem(id)->IsWindowEnabled() != FALSE; }

std::vector<std::string> ListBoxEntries(CWnd& dialog, int id)
{
    auto* box = static_cast<CListBox*>(dialog.GetDlgItem(id));
    std::vector<std::string> entries;
    for (int i = 0; i < box->GetCount(); ++i) {
        CString text;
        box->GetText(i, text);
        entries.push_back(text.str());
    }
    return entries;
}

std::vector<std::string> TakeBoxes()
{
    std::vector<std::string> boxes;
    for (const auto& box : mfc::test::MessageBoxLog())
        boxes.push_back(box.caption + ": " + box.text);
    mfc::test::MessageBoxLog().clear();
    return boxes;
}

int RowOf(CListCtrl* list, int column, const std::string& text)
{
    for (int r = 0; r < list->GetItemCount(); ++r)
        if (list->GetItemText(r, column).str() == text)
            return r;
    return -1;
}

std::string CellOf(CListCtrl* list, int keyColumn, const std::string& key, int column)
{
    const int row = RowOf(list, keyColumn, key);
    return row < 0 ? std::string() : list->GetItemText(row, column).str();
}

std::vector<std::string> ColumnTexts(CListCtrl* list, int column)
{
    std::vector<std::string> texts;
    for (int r = 0; r < list->GetItemCount(); ++r)
        texts.push_back(list->GetItemText(r, column).str());
    return texts;
}

void WithListControl(const std::function<void(CListCtrl*)>& body)
{
    const UINT templateId = 7001;
    mfc::DlgTemplate t;
    t.caption = "host";
    t.cx = 400;
    t.cy = 200;
    t.items = {mfc::rc::Control("", 1000, WC_LISTVIEW, LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 400, 200)};
    mfc::RegisterDialogTemplate(templateId, t);
    CDialog host(templateId);
    mfc::test::ScriptModal(templateId, [&](CDialog& d) {
        body(static_cast<CListCtrl*>(d.GetDlgItem(1000)));
        d.EndDialog(IDOK);
    });
    host.DoModal();
}

bool PumpUntil(const std::function<bool()>& pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        mfc::test::Pump(10);
    }
    return true;
}

} // namespace vistrel_test
