// Feeds arbitrary messages to the server side of the transport: creates,
// calls, late-bound invokes, interface queries and releases against a live
// test object. Seeds for the shorthand below are in fuzz/seeds/transport.
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "../src/internal.h"
#include "../tests/test_iface.h"

static CComModule _Module;
BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_TestObj, CTestObj)
END_OBJECT_MAP()

namespace {

std::string runtime_folder;

// The sockets and lock files of the registered class objects go with the run.
void remove_runtime_folder()
{
    std::error_code ec;
    std::filesystem::remove_all(runtime_folder, ec);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char tmpl[] = "/tmp/vx_com_fuzz_XXXXXX";
    if (!mkdtemp(tmpl))
        abort();
    runtime_folder = tmpl;
    std::atexit(remove_runtime_folder);
    setenv("XDG_RUNTIME_DIR", runtime_folder.c_str(), 1);
    register_test_tables();
    _Module.Init(ObjectMap, com::server_kind::local);
    CoInitialize(nullptr);
    _Module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Keep one object around so calls have something to reach (handle 1 first).
    std::string create(1 + 4 + 16 + 16, '\0');
    create[0] = 1;
    std::memcpy(create.data() + 5, &CLSID_TestObj, 16);
    std::memcpy(create.data() + 21, &IID_ITestObj, 16);
    if (com::detail::serve_raw_message(create.data(), 0) == 0)
        com::detail::serve_raw_message(create.data(), create.size());
    // A first byte with the high bit set is shorthand for a request on handle
    // 1: {type & 0x7F, iid choice, body}, so calls and invokes are reached
    // without guessing a handle and an interface identifier.
    if (size >= 2 && (data[0] & 0x80)) {
        static const IID* const iids[] = {&IID_ITestObj, &IID_IDispatch, &IID_IUnknown, &IID_IClassFactory};
        std::string msg(1 + 4 + 4, '\0');
        msg[0] = static_cast<char>(data[0] & 0x7F);
        msg[5] = 1;
        msg.append(reinterpret_cast<const char*>(iids[data[1] % 4]), 16);
        msg.append(reinterpret_cast<const char*>(data + 2), size - 2);
        com::detail::serve_raw_message(msg.data(), msg.size());
        return 0;
    }
    com::detail::serve_raw_message(data, size);
    return 0;
}
