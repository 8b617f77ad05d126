// Scoutline, the discovery server: registers itself with "RegServer",
// removes its registration with "UnregServer", and otherwise serves its
// automation objects until the last client is gone.
#include "exe_module.h"

int main(int argc, char** argv)
{
    CoInitialize(nullptr);
    scoutline::CExeModule module;
    module.Init();
    const scoutline::command_t command = scoutline::parse_command_line(scoutline::command_line(argc, argv));
    const int code = command == scoutline::command_t::serve ? scoutline::serve(module)
                                                            : scoutline::run_registration(module, command);
    module.Term();
    CoUninitialize();
    return code;
}
