// Activation through the registry: an in-process library registered with
// regsvr, run-time class objects, and a local server program started
// through LocalServer32.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <com/com.h>
#include <win32/registry.h>

#include "test_home.h"
#include "test_iface.h"

namespace {

const HRESULT unavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

struct Env : ::testing::Environment {
    void SetUp() override
    {
        dir = make_test_home("activation");
        vx_registry_reset();
        register_test_tables();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string dir;
};
::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new Env);

int run(const std::string& command)
{
    int st = std::system(command.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// A zombie (its parent, init, has not reaped it yet) counts as gone.
bool process_alive(pid_t pid)
{
    if (kill(pid, 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t paren = line.rfind(')');
    return paren == std::string::npos || paren + 2 >= line.size() || line[paren + 2] != 'Z';
}

bool wait_gone(pid_t pid, int ms)
{
    for (int i = 0; i < ms / 20; ++i) {
        if (!process_alive(pid))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !process_alive(pid);
}

LONG pid_of(ITestObj* t)
{
    LONG pid = 0;
    EXPECT_EQ(t->get_pid(&pid), S_OK);
    return pid;
}

} // namespace

TEST(Activation, NeedsInitialisationAndRegistration)
{
    IUnknown* p = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_TestObj, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&p)),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    GUID unknown = com::make_guid("{00000000-1111-2222-3333-444444444444}");
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, 7, IID_IUnknown, reinterpret_cast<void**>(&p)), REGDB_E_CLASSNOTREG);
    CoUninitialize();
    CoUninitialize();
}

TEST(Activation, RunTimeClassObjects)
{
    CoInitialize(nullptr);
    struct factory : IClassFactory {
        HRESULT QueryInterface(REFIID riid, void** out) override
        {
            *out = (riid == IID_IUnknown || riid == IID_IClassFactory) ? this : nullptr;
            if (*out)
                AddRef();
            return *out ? S_OK : E_NOINTERFACE;
        }
        ULONG AddRef() override { return ++refs; }
        ULONG Release() override { return --refs; }
        HRESULT CreateInstance(IUnknown*, REFIID, void** out) override
        {
            *out = nullptr;
            ++created;
            return E_ACCESSDENIED;
        }
        HRESULT LockServer(BOOL) override { return S_OK; }
        int refs = 1, created = 0;
    } f;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestObj, &f, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    DWORD second = 0;
    EXPECT_EQ(CoRegisterClassObject(CLSID_TestObj, &f, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &second),
              CO_E_OBJISREG);
    IUnknown* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestObj, nullptr, 7, IID_IUnknown, reinterpret_cast<void**>(&p)), E_ACCESSDENIED);
    EXPECT_EQ(f.created, 1);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(f.refs, 1);
    EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
    CoUninitialize();
}

TEST(Activation, InProcessLibraryThroughTheRegistry)
{
    const std::string regsvr = VX_REGSVR_EXE;
    const std::string lib = VX_TESTSRV_LIB;
    EXPECT_EQ(run(regsvr + " /nonexistent/libnothing.so >/dev/null 2>&1"), 1);
    ASSERT_EQ(run(regsvr + " " + lib + " >/dev/null"), 0);
    std::string path, model;
    const std::string ck = "CLSID\\" + com::guid_to_string(CLSID_TestObj);
    ASSERT_TRUE(com::read_classes_value(ck + "\\InprocServer32", nullptr, path));
    EXPECT_EQ(std::filesystem::path(path), std::filesystem::canonical(lib));
    EXPECT_TRUE(com::read_classes_value(ck + "\\InprocServer32", "ThreadingModel", model) && model == "Apartment");
    std::string help;
    const std::string lib_key = "TypeLib\\" + com::guid_to_string(LIBID_TestLib) + "\\1.0";
    EXPECT_TRUE(com::read_classes_value(lib_key, nullptr, help) && help == "VxTest 1.0 Type Library");
    // The library sits under its locale, 0x409.
    std::string tlb;
    EXPECT_TRUE(com::read_classes_value(lib_key + "\\409\\linux64", nullptr, tlb) &&
                std::filesystem::path(tlb) == std::filesystem::canonical(lib));
    EXPECT_FALSE(com::read_classes_value(lib_key + "\\0\\linux64", nullptr, tlb));

    CoInitialize(nullptr);
    IUnknown* unk = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestObj, nullptr, 7, IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
    EXPECT_EQ(OleRun(unk), S_OK); // nothing to run
    ITestObj* t = nullptr;
    ASSERT_EQ(unk->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&t)), S_OK);
    unk->Release();
    EXPECT_EQ(pid_of(t), getpid()); // in this process
    // Error information set inside the library reaches this thread.
    EXPECT_EQ(t->fail(_bstr_t("from the library")), DISP_E_EXCEPTION);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR src = nullptr;
    info->GetSource(&src);
    EXPECT_EQ(com::bstr_to_utf8(src), "VxTest.TestObj.1");
    SysFreeString(src);
    info->Release();

    void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    auto can_unload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
    auto live = reinterpret_cast<int (*)()>(dlsym(handle, "VxTestLiveObjects"));
    EXPECT_EQ(can_unload(), S_FALSE);
    EXPECT_EQ(live(), 1);
    t->Release();
    EXPECT_EQ(can_unload(), S_OK);
    EXPECT_EQ(live(), 0);
    dlclose(handle);

    CLSID by_name{};
    EXPECT_EQ(CLSIDFromProgID(u"VxTest.TestObj", &by_name), S_OK);
    EXPECT_EQ(by_name, CLSID_TestObj);

    ASSERT_EQ(run(regsvr + " -u " + lib + " >/dev/null"), 0);
    EXPECT_FALSE(com::read_classes_value(ck + "\\InprocServer32", nullptr, path));
    EXPECT_FALSE(com::read_classes_value(lib_key + "\\409\\linux64", nullptr, tlb));
    EXPECT_FALSE(com::read_classes_value(lib_key, nullptr, help));
    EXPECT_EQ(CoCreateInstance(CLSID_TestObj, nullptr, 7, IID_IUnknown, reinterpret_cast<void**>(&unk)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
}

TEST(Activation, LocalServerStartedSharedAndRestarted)
{
    const std::string exe = VX_TESTSERVER_EXE;
    ASSERT_EQ(run(exe + " /regserver"), 0);
    std::string path;
    ASSERT_TRUE(com::read_classes_value("CLSID\\" + com::guid_to_string(CLSID_TestSingleton) + "\\LocalServer32",
                                        nullptr, path));
    EXPECT_EQ(std::filesystem::path(path), std::filesystem::canonical(exe));

    CoInitialize(nullptr);
    IUnknown* unk = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestSingleton, nullptr, 7, IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
    EXPECT_EQ(OleRun(unk), S_OK);
    ITestObj* a = nullptr;
    ASSERT_EQ(unk->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&a)), S_OK);
    unk->Release();
    LONG pid = pid_of(a);
    EXPECT_NE(pid, getpid());
    a->put_number(77);

    // A second creation reaches the same server and the same singleton.
    ITestObj* b = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestSingleton, nullptr, 7, IID_ITestObj, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(b, a);
    EXPECT_EQ(pid_of(b), pid);
    b->Release();

    // Single instance: a second server started by hand gives up.
    EXPECT_NE(run(exe + " -Embedding"), 0);
    EXPECT_TRUE(process_alive(pid));

    // The server dies: calls fail with the RPC code; a new creation starts a new server.
    kill(pid, SIGKILL);
    ASSERT_TRUE(wait_gone(pid, 60000));
    LONG n = 0;
    EXPECT_EQ(a->get_number(&n), unavailable);
    ITestObj* c = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestSingleton, nullptr, 7, IID_ITestObj, reinterpret_cast<void**>(&c)), S_OK);
    LONG pid2 = pid_of(c);
    EXPECT_NE(pid2, pid);
    c->get_number(&n);
    EXPECT_EQ(n, 0); // a fresh singleton
    a->Release();

    // Released and created again within the shutdown delay (one second from
    // the release): the same process. Only a creation that came back within
    // the delay is known to have come in time.
    const auto released = std::chrono::steady_clock::now();
    c->Release();
    ASSERT_EQ(CoCreateInstance(CLSID_TestSingleton, nullptr, 7, IID_ITestObj, reinterpret_cast<void**>(&c)), S_OK);
    if (std::chrono::steady_clock::now() - released < std::chrono::milliseconds(1000)) {
        EXPECT_EQ(pid_of(c), pid2);
    }
    c->Release();
    // After the last release the server ends by itself.
    EXPECT_TRUE(wait_gone(pid2, 60000));
    if (process_alive(pid2))
        kill(pid2, SIGKILL);
    // ...and the next creation starts another one.
    ASSERT_EQ(CoCreateInstance(CLSID_TestSingleton, nullptr, 7, IID_ITestObj, reinterpret_cast<void**>(&c)), S_OK);
    LONG pid3 = pid_of(c);
    EXPECT_NE(pid3, pid2);
    c->Release();
    EXPECT_TRUE(wait_gone(pid3, 60000));
    if (process_alive(pid3))
        kill(pid3, SIGKILL);

    // Stopped from outside while a client holds it: an orderly exit that
    // closes the socket, and the client sees the RPC failure.
    ASSERT_EQ(CoCreateInstance(CLSID_TestSingleton, nullptr, 7, IID_ITestObj, reinterpret_cast<void**>(&c)), S_OK);
    LONG pid4 = pid_of(c);
    kill(pid4, SIGTERM);
    EXPECT_TRUE(wait_gone(pid4, 60000));
    EXPECT_FALSE(std::filesystem::exists(com::server_socket_path(CLSID_TestSingleton)));
    EXPECT_EQ(c->get_number(&n), unavailable);
    c->Release();

    ASSERT_EQ(run(exe + " -UNREGSERVER"), 0);
    EXPECT_EQ(CoCreateInstance(CLSID_TestSingleton, nullptr, 7, IID_ITestObj, reinterpret_cast<void**>(&c)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
}
