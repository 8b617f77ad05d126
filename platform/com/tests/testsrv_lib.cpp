// In-process test server library: CTestObj with the usual exports.
#include "test_iface.h"

static CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_TestObj, CTestObj)
END_OBJECT_MAP()

static const com::typelib_registration typelib{LIBID_TestLib, "1.0", "VxTest 1.0 Type Library"};

namespace {
struct init {
    init()
    {
        register_test_tables();
        _Module.Init(ObjectMap, com::server_kind::inproc, &typelib);
    }
} init_once;
} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    return _Module.GetClassObject(clsid, riid, out);
}
extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return _Module.CanUnloadNow(); }
extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() { return _Module.RegisterServer(TRUE); }
extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer()
{
    return _Module.UnregisterServer(TRUE);
}
// Live objects of this library (for the tests' reference checks).
extern "C" __attribute__((visibility("default"))) int VxTestLiveObjects() { return g_test_live.load(); }
