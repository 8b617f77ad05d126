// The server program's module: the class table of the four automation
// classes, the lock count with its shutdown monitor, the command line and
// the registration.
#pragma once

#include <scoutline/com/objects.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace scoutline {

enum class command_t { serve, register_server, unregister_server };

// The program's arguments after its name, joined by blanks.
std::string command_line(int argc, char** argv);
// Every "-" or "/" on the line starts a switch that runs to the end of the
// line; "RegServer" and "UnregServer" match case-insensitively.
command_t parse_command_line(const std::string& line);

class VX_ATL_LOCAL CExeModule : public CComModule {
public:
    static constexpr DWORD shutdown_timeout_ms = 5000;

    CExeModule();
    ~CExeModule() override;

    HRESULT Init();
    // At 0 the module notes the activity and signals the monitor.
    LONG Unlock() override;

    // Registration: the application, then the classes and the type library;
    // unregistration in the reverse order of kinds.
    HRESULT register_server();
    HRESULT unregister_server();

    // The shutdown monitor: once the lock count has dropped to 0 and stayed
    // there for shutdown_timeout_ms without any release in between, it asks
    // the call loop to quit.
    void start_monitor();
    void stop_monitor();

private:
    void monitor();

    HANDLE shutdown_event = nullptr;
    std::atomic<bool> activity{false};
    std::atomic<bool> stopping{false};
    DWORD main_thread = 0;
    std::thread monitor_thread;
};

// Serves until the last client is gone (or SIGTERM / SIGINT); the exit code.
// The apartment is initialised and the module set up by the caller, which
// terminates them afterwards.
int serve(CExeModule& module);
// Registration switches: 0 on success, 1 on failure (the HRESULT is printed).
int run_registration(CExeModule& module, command_t command);

} // namespace scoutline
