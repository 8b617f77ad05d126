// Test support: Flashkit reached as the console reaches it, through its
// registration and interfaces. The user registry lives in a folder of the
// test, where the library registers itself.
#pragma once

#include "flashkit/flashkit_com.h"

#include <com/com.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace vx::test {

// A folder for the user registry, named after the test and this process.
inline std::filesystem::path flashkit_home(const std::string& name)
{
    return std::filesystem::temp_directory_path() / ("flashkit-" + name + "-" + std::to_string(::getpid()));
}

// Points the user registry at home and registers the server there.
inline void register_flashkit(const std::filesystem::path& home)
{
    std::filesystem::create_directories(home);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    void* lib = dlopen(FLASHKIT_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
}

// The updater as the console makes it: created by class identifier as
// IUnknown, run, then queried for Iupdater.
inline CComPtr<Iupdater> create_updater()
{
    CComPtr<IUnknown> unknown;
    EXPECT_EQ(CoCreateInstance(CLSID_updater, nullptr,
                               CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)),
              S_OK);
    CComPtr<Iupdater> updater;
    if (unknown) {
        EXPECT_EQ(OleRun(unknown), S_OK);
        EXPECT_EQ(unknown.QueryInterface(&updater), S_OK);
    }
    return updater;
}

// The object's own interface, or null.
template <class I> CComPtr<I> as(IUnknown* object)
{
    CComPtr<I> out;
    if (object)
        object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&out));
    return out;
}

// The deployer as a client makes it: by its version-independent ProgID, in
// process, queried for its own interface.
inline CComPtr<Ideployer> create_deployer()
{
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgIDA("Flashkit.deployer", &clsid), S_OK);
    CComPtr<IUnknown> unknown;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
              S_OK);
    return as<Ideployer>(unknown);
}

// Description of the thread's error object ("(none)" without one).
inline std::string error_text()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return "(none)";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::string out = com::bstr_to_utf8(text);
    SysFreeString(text);
    info->Release();
    return out;
}

// Moves a BSTR result into a string.
inline std::string take(BSTR text)
{
    std::string out = com::bstr_to_utf8(text);
    SysFreeString(text);
    return out;
}

// Polls the job as the console's progress dialog does until it ends; its
// final state (0 when it did not end within the time-out).
inline long wait_done(Ijob* job, std::chrono::seconds limit = std::chrono::seconds(120))
{
    long done = 0;
    for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
        if (job->get_done(&done) != S_OK || done != 0)
            return done;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done;
}

inline std::string status_of(Ijob* job)
{
    BSTR text = nullptr;
    job->get_status(&text);
    return take(text);
}

} // namespace vx::test
