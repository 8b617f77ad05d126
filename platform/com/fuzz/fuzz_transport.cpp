// Feeds arbitrary messages to the server side of the transport: creates,
// calls, interface queries and releases against a live test object.
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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/vx_com_fuzz_XXXXXX";
  std::string dir = mkdtemp(tmpl);
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  register_test_tables();
  _Module.Init(ObjectMap, com::server_kind::local);
  CoInitialize(nullptr);
  _Module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Keep one object around so calls have something to reach (handle 1 first).
  std::string create(1 + 4 + 16 + 16, '\0');
  create[0] = 1;
  std::memcpy(create.data() + 5, &CLSID_TestObj, 16);
  std::memcpy(create.data() + 21, &IID_ITestObj, 16);
  if (com::detail::serve_raw_message(create.data(), 0) == 0) com::detail::serve_raw_message(create.data(), create.size());
  com::detail::serve_raw_message(data, size);
  return 0;
}
