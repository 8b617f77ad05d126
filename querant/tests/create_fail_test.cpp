// This program sits in a folder whose manager library loads but whose
// utility library is missing (or, built with VX_STUB_SNMPAPI, lacks entry
// points): the engine cannot be built, com_manager creation fails with the
// engine's text, and neither library stays loaded.
#include "querant/querant_com.h"
#include "querant/snmp_manager.h"
#include "querant/snmp_nt.h"

#include <com/com.h>
#include <qm/log_file.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>

#include "com_server.h"

using namespace querant;

namespace {

// True while a library of this program's folder is loaded.
bool loaded(const char* file)
{
    void* handle = dlopen((GetProgramDirectory() + file).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

bool manager_library_loaded() { return loaded("libmgmtapi.so") || loaded("libsnmpapi.so"); }

class CreateFail : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(GetProgramDirectory() + "libmgmtapi.so"));
#ifdef VX_STUB_SNMPAPI
        ASSERT_TRUE(std::filesystem::exists(GetProgramDirectory() + "libsnmpapi.so"));
#else
        ASSERT_FALSE(std::filesystem::exists(GetProgramDirectory() + "libsnmpapi.so"));
        // Sanitizer runtimes load on behalf of the program, whose search path
        // holds the build's own library.
        if (HMODULE found = LoadLibraryA("snmpapi.dll")) {
            FreeLibrary(found);
            GTEST_SKIP() << "the loader's search path holds a libsnmpapi.so";
        }
#endif
    }
};

TEST_F(CreateFail, TheSecondLibraryMissingFailsTheEngineAndFreesTheFirst)
{
    try {
        snmp_nt_t backend(nullptr);
        FAIL() << "loaded without its utility library";
    } catch (const qm::wapi::exception_t& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_EQ(snmp_nt_t::live_count(), 0);
    EXPECT_FALSE(manager_library_loaded());

    try {
        snmp_manager_t engine;
        FAIL() << "an engine without its workers";
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "snmp_manager_t constructor error!");
    }
    EXPECT_FALSE(manager_library_loaded());
}

TEST_F(CreateFail, ComManagerCreationFailsWithTheEngineText)
{
    const auto home = test_home("createfail");
    ASSERT_NO_FATAL_FAILURE(register_server(home));
    CoInitialize(nullptr);

    IUnknown* unknown = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_com_manager, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(&unknown));
    EXPECT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(unknown, nullptr);
    ASSERT_NO_FATAL_FAILURE(expect_error_info("snmp_manager_t constructor error!", "Querant.com_manager.1"));

    // Result objects need no engine.
    IUnknown* variable = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_com_variable, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&variable)),
              S_OK);
    if (variable)
        variable->Release();
    EXPECT_FALSE(manager_library_loaded());
    std::filesystem::remove_all(home);
}

} // namespace
