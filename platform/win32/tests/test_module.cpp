// Module paths, dynamic loading by Windows name, platform version, version information.
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "win32/error.h"
#include "win32/module.h"

namespace {

std::string self_path()
{
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return std::string(buffer, n > 0 ? n : 0);
}

TEST(ModulePaths, ProgramFileAndSplitting)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::string(path, n), self_path());

    char tiny[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), static_cast<DWORD>(sizeof tiny));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::strlen(tiny), sizeof tiny - 1);

    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath("/opt/veltrix/bin/vistrel.ini", drive, dir, fname, ext);
    EXPECT_STREQ(drive, "");
    EXPECT_STREQ(dir, "/opt/veltrix/bin/");
    EXPECT_STREQ(fname, "vistrel");
    EXPECT_STREQ(ext, ".ini");
    _splitpath("plain", nullptr, dir, fname, ext);
    EXPECT_STREQ(dir, "");
    EXPECT_STREQ(fname, "plain");
    EXPECT_STREQ(ext, "");
    _splitpath("/a.b/c", nullptr, dir, fname, ext);
    EXPECT_STREQ(dir, "/a.b/");
    EXPECT_STREQ(fname, "c");
    EXPECT_STREQ(ext, "");

    char made[_MAX_PATH];
    _makepath(made, "", "/opt/veltrix/bin/", "scoutline", ".log");
    EXPECT_STREQ(made, "/opt/veltrix/bin/scoutline.log");
    _makepath(made, nullptr, "/opt", "x", "ini");
    EXPECT_STREQ(made, "/opt/x.ini");
}

TEST(DynamicLoading, WindowsNamesMapToLibrariesBesideTheProgram)
{
    HMODULE exact = LoadLibraryA("VxTestMod.dll");
    ASSERT_NE(exact, nullptr) << "libVxTestMod.so beside the test";
    auto answer = vx_proc_cast<int (*)()>(GetProcAddress(exact, "vx_testmod_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    auto name = vx_proc_cast<const char* (*)()>(GetProcAddress(exact, "vx_testmod_name"));
    EXPECT_STREQ(name(), "VxTestMod");

    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(exact, path, sizeof path);
    std::string self = self_path();
    EXPECT_EQ(std::string(path, n), self.substr(0, self.rfind('/') + 1) + "libVxTestMod.so");

    // Without the extension, and falling back to the lower-case file name.
    HMODULE again = LoadLibraryA("VxTestMod");
    EXPECT_EQ(again, exact);
    HMODULE lower = LoadLibraryA("VxLower.DLL");
    ASSERT_NE(lower, nullptr);
    name = vx_proc_cast<const char* (*)()>(GetProcAddress(lower, "vx_testmod_name"));
    EXPECT_STREQ(name(), "vxlower");

    // A path is used as given.
    std::string full = self.substr(0, self.rfind('/') + 1) + "libvxlower.so";
    HMODULE by_path = LoadLibraryA(full.c_str());
    EXPECT_EQ(by_path, lower);

    EXPECT_EQ(GetProcAddress(exact, "no_such_entry"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(by_path));
    EXPECT_TRUE(FreeLibrary(lower));
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_TRUE(FreeLibrary(exact));

    EXPECT_EQ(LoadLibraryA("NoSuchModuleAnywhere.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA("/nonexistent/libx.so"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(PlatformVersion, ReportsTheNtFamily)
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_GE(info.dwMajorVersion, 5u);
    OSVERSIONINFOA unsized{};
    EXPECT_FALSE(GetVersionExA(&unsized));
}

TEST(VersionInfo, OnlyTheRegisteredProgramHasIt)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    DWORD handle = 1;
    EXPECT_EQ(GetFileVersionInfoSizeA(self, &handle), 0u); // nothing registered yet

    VX_VERSION_STRING strings[] = {
        {"InternalName", "vistrel"}, {"ProductVersion", "4, 2, 0, 7"}, {"SpecialBuild", ""}, {"Comments", "c"}};
    vx_set_version_info(4, 2, 0, 7, strings, 4);
    DWORD size = GetFileVersionInfoSizeA(self, &handle);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(handle, 0u);
    std::string block(size, '\0');
    EXPECT_FALSE(GetFileVersionInfoA(self, 0, size - 1, block.data()));
    ASSERT_TRUE(GetFileVersionInfoA(self, 0, size, block.data()));

    LPVOID value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00040002u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00000007u);

    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\ProductVersion", &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), "4, 2, 0, 7");
    EXPECT_EQ(length, std::strlen("4, 2, 0, 7") + 1);
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\internalname", &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), "vistrel");
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\SpecialBuild", &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), "");
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\LegalCopyright", &value, &length));
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040704b0\\ProductVersion", &value, &length));

    // Another file has none.
    EXPECT_EQ(GetFileVersionInfoSizeA("/bin/sh", &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

} // namespace
