// A private configuration folder per test: XDG_CONFIG_HOME points at a fresh
// temporary directory and the registry layer forgets what it had loaded.
#pragma once

#include <string>
#include <utility>

#include <windows.h>

class TempConfig {
public:
    TempConfig();
    ~TempConfig();
    TempConfig(const TempConfig&) = delete;
    TempConfig& operator=(const TempConfig&) = delete;

    const std::string& dir() const { return m_dir; }
    std::string hive() const { return m_dir + "/veltrix/user.reg"; }
    // Points XDG_CONFIG_HOME at `config` (which may be anything, even a path
    // through a regular file) and reloads the registry from there.
    void Use(const std::string& config);
    // Makes every later registry write fail while reads still work: the
    // hive's lock file becomes a directory, which nobody (root included) can
    // open for writing.
    void BlockWrites();

private:
    std::string m_dir;
};

// Direct access to the settings key for setting up and checking tests.
struct Reg {
    static const char kKey[];
    static bool KeyExists();
    static void SetDword(const char* name, DWORD v);
    static void SetBytes(const char* name, DWORD type, const std::string& bytes);
    // Type and bytes of a value; REG_NONE and "<missing>" (or "<nokey>") when absent.
    static std::pair<DWORD, std::string> Get(const char* name);
    static DWORD Dword(const char* name); // 0xDEADBEEF unless a 4-byte REG_DWORD
    static DWORD ValueCount();
};
