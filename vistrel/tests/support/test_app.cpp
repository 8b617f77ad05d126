#include "test_app.h"

#include "VistrelApp.h"
#include "VistrelDlg.h"

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
    void SetUp() override { App(); }
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

std::string ScopedIni::Path()
{
    return GetProgramDirectory() + "vistrel.ini";
}

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

void RegisterServerLibrary(const char* path)
{
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr) << path;
    ASSERT_EQ(reg(), S_OK) << path;
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
