// Start-up and lifetime of the local server.
#include "exe_module.h"

#include <qm/console.h>
#include <scoutline/ip_history.h>

#include <pthread.h>
#include <signal.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

namespace scoutline {

namespace {

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_manager, Cmanager)
OBJECT_ENTRY(CLSID_com_adapter, Ccom_adapter)
OBJECT_ENTRY(CLSID_com_device, Ccom_device)
OBJECT_ENTRY(CLSID_com_bstr_vector, Ccom_bstr_vector)
END_OBJECT_MAP()

const com::typelib_registration type_library{LIBID_SCOUTLINELib, "1.0", "Scoutline 1.0 Type Library"};
const com::app_registration application{APPID_Scoutline, "Scoutline", "Scoutline.EXE"};

} // namespace

std::string command_line(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

command_t parse_command_line(const std::string& line)
{
    for (size_t pos = line.find_first_of("-/"); pos != std::string::npos; pos = line.find_first_of("-/", pos + 1)) {
        const char* token = line.c_str() + pos + 1;
        if (strcasecmp(token, "UnregServer") == 0)
            return command_t::unregister_server;
        if (strcasecmp(token, "RegServer") == 0)
            return command_t::register_server;
    }
    return command_t::serve;
}

CExeModule::CExeModule() = default;

CExeModule::~CExeModule()
{
    stop_monitor();
    if (shutdown_event)
        CloseHandle(shutdown_event);
}

HRESULT CExeModule::Init()
{
    register_interface_tables();
    main_thread = GetCurrentThreadId();
    return CComModule::Init(ObjectMap, com::server_kind::local, &type_library);
}

LONG CExeModule::Unlock()
{
    const LONG count = CComModule::Unlock();
    if (count == 0) {
        activity = true;
        if (shutdown_event)
            SetEvent(shutdown_event);
    }
    return count;
}

HRESULT CExeModule::register_server()
{
    // Application, classes and type library in one transaction.
    com::registration_batch batch;
    HRESULT hr = com::register_app(application);
    if (SUCCEEDED(hr))
        hr = RegisterServer(TRUE);
    return batch.commit(hr);
}

HRESULT CExeModule::unregister_server()
{
    com::registration_batch batch;
    HRESULT hr = com::unregister_app(application);
    const HRESULT classes = UnregisterServer(TRUE);
    return batch.commit(FAILED(hr) ? hr : classes);
}

void CExeModule::start_monitor()
{
    if (!shutdown_event)
        shutdown_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    stopping = false;
    monitor_thread = std::thread([this] { monitor(); });
}

void CExeModule::stop_monitor()
{
    if (!monitor_thread.joinable())
        return;
    stopping = true;
    SetEvent(shutdown_event);
    monitor_thread.join();
}

void CExeModule::monitor()
{
    for (;;) {
        WaitForSingleObject(shutdown_event, INFINITE);
        if (stopping)
            return;
        DWORD wait;
        do {
            activity = false;
            wait = WaitForSingleObject(shutdown_event, shutdown_timeout_ms);
            if (stopping)
                return;
        } while (wait == WAIT_OBJECT_0);
        if (!activity && GetLockCount() <= 0) {
            // The event stays open until the module goes: objects released
            // while the loop winds down still signal it.
            com::post_quit();
            return;
        }
    }
}

int run_registration(CExeModule& module, command_t command)
{
    const bool registering = command == command_t::register_server;
    const HRESULT hr = registering ? module.register_server() : module.unregister_server();
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s failed: 0x%08X\n", registering ? "RegServer" : "UnregServer",
                     static_cast<unsigned>(hr));
        // What could not be saved, and why.
        const std::string why = vx_registry_last_save_failure();
        if (!why.empty())
            std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    return 0;
}

namespace {
sigset_t stop_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR2); // ends the signal thread
    return signals;
}
} // namespace

int serve(CExeModule& module)
{
    // SIGTERM and SIGINT end the server the orderly way: the call loop quits,
    // every client's references are dropped, and the engines save their
    // histories. No other thread runs yet, so all of them inherit the mask.
    const sigset_t signals = stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread signal_thread([signals = stop_signals()] {
        for (;;) {
            int number = 0;
            if (sigwait(&signals, &number) != 0)
                continue;
            if (number == SIGUSR2)
                return;
            com::post_quit();
        }
    });

    module.start_monitor();
    const HRESULT hr = module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE);
    int code = 0;
    if (SUCCEEDED(hr)) {
        CoRunServerLoop();
        module.RevokeClassObjects();
        Sleep(1000);
    } else {
        // Another server is running (or the socket folder is unusable).
        std::fprintf(stderr, "Cannot register the class objects: 0x%08X\n", static_cast<unsigned>(hr));
        code = 1;
    }
    module.stop_monitor();
    // A history that could not be saved when its engine stopped gets one
    // more try (the engines are gone: every client was let go).
    qm::vx::ip_history_t::save_pending();

    pthread_kill(signal_thread.native_handle(), SIGUSR2);
    signal_thread.join();
    return code;
}

} // namespace scoutline
