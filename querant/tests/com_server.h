// Helpers of the tests that load the automation server from its library.
#pragma once

#include <com/com.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// A folder for the user registry, named after the test and this process.
inline std::filesystem::path test_home(const std::string& name)
{
    return std::filesystem::temp_directory_path() / ("querant-" + name + "-" + std::to_string(getpid()));
}

// Points the user registry at home and registers the server there.
inline void register_server(const std::filesystem::path& home)
{
    std::filesystem::create_directories(home);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    void* lib = dlopen(QUERANT_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
}

// The thread's error object carries this description and source.
inline void expect_error_info(const std::string& description, const std::string& source)
{
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR d = nullptr, s = nullptr;
    info->GetDescription(&d);
    info->GetSource(&s);
    EXPECT_EQ(com::bstr_to_utf8(d), description);
    EXPECT_EQ(com::bstr_to_utf8(s), source);
    SysFreeString(d);
    SysFreeString(s);
    info->Release();
}
