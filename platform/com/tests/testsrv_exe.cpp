// Local test server program: serves CTestSingleton and CTestObj, registers
// them with -RegServer / -UnregServer, and exits one second after the last
// reference is gone (or when nobody connects within that time).
#include <strings.h>

#include <cstring>

#include "test_iface.h"

namespace {

class server_module : public CComModule {};
server_module _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_TestSingleton, CTestSingleton)
OBJECT_ENTRY(CLSID_TestObj, CTestObj)
END_OBJECT_MAP()

unsigned shutdown_timer = 0;

void arm_shutdown()
{
    if (shutdown_timer)
        com::kill_timer(shutdown_timer);
    shutdown_timer = com::set_timer(1000, [] {
        com::kill_timer(shutdown_timer);
        shutdown_timer = 0;
        if (_Module.GetLockCount() == 0)
            com::post_quit();
    });
}

} // namespace

int main(int argc, char** argv)
{
    register_test_tables();
    _Module.Init(ObjectMap, com::server_kind::local);
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (*a == '-' || *a == '/')
            ++a;
        if (strcasecmp(a, "RegServer") == 0)
            return SUCCEEDED(_Module.RegisterServer(FALSE)) ? 0 : 1;
        if (strcasecmp(a, "UnregServer") == 0)
            return SUCCEEDED(_Module.UnregisterServer(FALSE)) ? 0 : 1;
    }
    CoInitialize(nullptr);
    _Module.SetLastUnlockHandler([] { com::post(arm_shutdown); });
    if (FAILED(_Module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE)))
        return 2;
    arm_shutdown();
    com::quit_on_signals();
    CoRunServerLoop();
    _Module.RevokeClassObjects();
    _Module.Term();
    CoUninitialize();
    return 0;
}
