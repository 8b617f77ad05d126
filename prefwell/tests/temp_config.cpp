#include "temp_config.h"

#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>
#include <windows.h>

TempConfig::TempConfig()
{
    char pattern[] = "/tmp/prefwell-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    m_dir = pattern;
    Use(m_dir);
}

TempConfig::~TempConfig()
{
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
    unsetenv("XDG_CONFIG_HOME");
    vx_registry_reset();
}

void TempConfig::Use(const std::string& config)
{
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    vx_registry_reset();
}

void TempConfig::BlockWrites()
{
    const std::string lock = m_dir + "/veltrix/user.reg.lock";
    std::filesystem::remove(lock);
    std::filesystem::create_directories(lock);
}

const char Reg::kKey[] = "SOFTWARE\\Quillon\\Tunedeck";

bool Reg::KeyExists()
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

void Reg::SetDword(const char* name, DWORD v)
{
    SetBytes(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&v), sizeof v));
}

void Reg::SetBytes(const char* name, DWORD type, const std::string& bytes)
{
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(
        RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())),
        ERROR_SUCCESS);
    RegCloseKey(k);
}

std::pair<DWORD, std::string> Reg::Get(const char* name)
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return {REG_NONE, "<nokey>"};
    BYTE buf[256];
    DWORD size = sizeof buf, type = 0;
    LONG r = RegQueryValueExA(k, name, nullptr, &type, buf, &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS)
        return {REG_NONE, "<missing>"};
    return {type, std::string(reinterpret_cast<char*>(buf), size)};
}

DWORD Reg::Dword(const char* name)
{
    auto v = Get(name);
    DWORD d = 0xDEADBEEF;
    if (v.first == REG_DWORD && v.second.size() == 4)
        memcpy(&d, v.second.data(), 4);
    return d;
}

DWORD Reg::ValueCount()
{
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(k);
    return values;
}
