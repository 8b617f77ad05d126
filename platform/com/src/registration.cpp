// Class, application and type library registration in HKEY_CLASSES_ROOT.
#include "com/registration.h"

#include <dlfcn.h>
#include <stdio.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <vector>

#include <win32/ktm.h>
#include <win32/sync.h>
#include <win32/registry.h>

namespace com {

namespace {

// HKEY_CLASSES_ROOT, or the transacted key of this thread's open batch.
thread_local HKEY t_classes = HKEY_CLASSES_ROOT;

bool set_value(const std::string& key, const char* name, const std::string& value)
{
    HKEY h = nullptr;
    if (RegCreateKeyExA(t_classes, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

bool create_key(const std::string& key)
{
    HKEY h = nullptr;
    if (RegCreateKeyExA(t_classes, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

// Deletes the keys in order (children first); absent keys are fine.
bool delete_keys(const std::vector<std::string>& keys)
{
    bool ok = true;
    for (const auto& k : keys) {
        LONG rc = RegDeleteKeyA(t_classes, k.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            ok = false;
    }
    return ok;
}

std::mutex progid_mutex;
std::map<GUID, std::string>& progids()
{
    // Never destroyed: used by static destructors (module terms) at exit.
    static auto* m = new std::map<GUID, std::string>;
    return *m;
}

} // namespace

registration_batch::registration_batch()
{
    if (t_classes != HKEY_CLASSES_ROOT) {
        outer = true;
        return;
    }
    transaction = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
    if (transaction == INVALID_HANDLE_VALUE)
        transaction = nullptr;
    if (!transaction ||
        RegOpenKeyTransactedA(HKEY_CLASSES_ROOT, "", 0, KEY_READ | KEY_WRITE, &root, transaction, nullptr) !=
            ERROR_SUCCESS) {
        // Writes go nowhere: the commit reports the failure.
        failed = true;
        return;
    }
    t_classes = root;
}

registration_batch::~registration_batch()
{
    if (outer)
        return;
    if (root) {
        t_classes = HKEY_CLASSES_ROOT;
        RegCloseKey(root);
    }
    if (transaction)
        CloseHandle(transaction); // rolls back what was not committed
}

HRESULT registration_batch::commit(HRESULT result)
{
    if (outer || FAILED(result))
        return result;
    if (failed || !CommitTransaction(transaction))
        return SELFREG_E_CLASS;
    return result;
}

bool read_classes_value(const std::string& key, const char* value_name, std::string& out)
{
    HKEY h = nullptr;
    if (RegOpenKeyExA(t_classes, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExA(h, value_name, nullptr, &type, nullptr, &size);
    std::string buf;
    if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        buf.resize(size + 1);
        DWORD got = size + 1;
        rc = RegQueryValueExA(h, value_name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got);
    } else if (rc == ERROR_SUCCESS) {
        rc = ERROR_INVALID_DATA;
    }
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS)
        return false;
    out.assign(buf.c_str());
    return true;
}

HRESULT register_class(const class_registration& reg, server_kind kind, const std::string& server_path)
{
    const std::string clsid = guid_to_string(reg.clsid);
    const std::string ck = "CLSID\\" + clsid;
    const std::string desc = reg.description ? reg.description : "";
    bool ok = true;
    if (reg.progid) {
        ok &= set_value(reg.progid, nullptr, desc);
        ok &= set_value(std::string(reg.progid) + "\\CLSID", nullptr, clsid);
    }
    if (reg.vi_progid) {
        ok &= set_value(reg.vi_progid, nullptr, desc);
        ok &= set_value(std::string(reg.vi_progid) + "\\CLSID", nullptr, clsid);
        if (reg.curver && reg.progid)
            ok &= set_value(std::string(reg.vi_progid) + "\\CurVer", nullptr, reg.progid);
    }
    ok &= set_value(ck, nullptr, desc);
    if (reg.progid)
        ok &= set_value(ck + "\\ProgID", nullptr, reg.progid);
    if (reg.vi_progid)
        ok &= set_value(ck + "\\VersionIndependentProgID", nullptr, reg.vi_progid);
    if (reg.programmable)
        ok &= create_key(ck + "\\Programmable");
    if (kind == server_kind::inproc) {
        ok &= set_value(ck + "\\InprocServer32", nullptr, server_path);
        if (reg.threading_model)
            ok &= set_value(ck + "\\InprocServer32", "ThreadingModel", reg.threading_model);
    } else {
        ok &= set_value(ck + "\\LocalServer32", nullptr, server_path);
    }
    if (reg.appid)
        ok &= set_value(ck, "AppID", guid_to_string(*reg.appid));
    if (reg.typelib != GUID_NULL)
        ok &= set_value(ck + "\\TypeLib", nullptr, guid_to_string(reg.typelib));
    if (reg.version)
        ok &= set_value(ck + "\\Version", nullptr, reg.version);
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregister_class(const class_registration& reg)
{
    const std::string ck = "CLSID\\" + guid_to_string(reg.clsid);
    std::vector<std::string> keys;
    for (const char* progid : {reg.progid, reg.vi_progid}) {
        if (!progid)
            continue;
        keys.push_back(std::string(progid) + "\\CLSID");
        keys.push_back(std::string(progid) + "\\CurVer");
        keys.push_back(progid);
    }
    for (const char* sub : {"ProgID", "VersionIndependentProgID", "Programmable", "InprocServer32", "LocalServer32",
                            "TypeLib", "Version"})
        keys.push_back(ck + "\\" + sub);
    keys.push_back(ck);
    return delete_keys(keys) ? S_OK : SELFREG_E_CLASS;
}

HRESULT register_app(const app_registration& reg)
{
    const std::string appid = guid_to_string(reg.appid);
    bool ok = set_value("AppID\\" + appid, nullptr, reg.name ? reg.name : "");
    if (reg.exe_name)
        ok &= set_value(std::string("AppID\\") + reg.exe_name, "AppID", appid);
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregister_app(const app_registration& reg)
{
    std::vector<std::string> keys{"AppID\\" + guid_to_string(reg.appid)};
    if (reg.exe_name)
        keys.push_back(std::string("AppID\\") + reg.exe_name);
    return delete_keys(keys) ? S_OK : SELFREG_E_CLASS;
}

// The locale subkey: the LCID in hexadecimal without leading zeros ("409").
static std::string locale_key(const typelib_registration& reg)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(reg.lcid));
    return buf;
}

HRESULT register_typelib(const typelib_registration& reg, const std::string& module_path)
{
    const std::string k = "TypeLib\\" + guid_to_string(reg.libid) + "\\" + (reg.version ? reg.version : "1.0");
    bool ok = set_value(k, nullptr, reg.help ? reg.help : "");
    ok &= set_value(k + "\\" + locale_key(reg) + "\\linux64", nullptr, module_path);
    return ok ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT unregister_typelib(const typelib_registration& reg)
{
    const std::string lib = "TypeLib\\" + guid_to_string(reg.libid);
    const std::string k = lib + "\\" + (reg.version ? reg.version : "1.0");
    const std::string loc = k + "\\" + locale_key(reg);
    // Earlier builds registered under the neutral locale "0": that goes too.
    bool ok = delete_keys({loc + "\\linux64", loc, k + "\\0\\linux64", k + "\\0", k});
    // The library key goes when no other version is left under it.
    LONG rc = RegDeleteKeyA(t_classes, lib.c_str());
    (void)rc;
    return ok ? S_OK : SELFREG_E_TYPELIB;
}

std::string progid_of_class(REFCLSID clsid)
{
    {
        std::lock_guard<std::mutex> lock(progid_mutex);
        auto it = progids().find(clsid);
        if (it != progids().end())
            return it->second;
    }
    std::string text;
    if (read_classes_value("CLSID\\" + guid_to_string(clsid) + "\\ProgID", nullptr, text))
        return text;
    return {};
}

void remember_class_progid(REFCLSID clsid, const char* progid)
{
    std::lock_guard<std::mutex> lock(progid_mutex);
    if (progid)
        progids()[clsid] = progid;
    else
        progids().erase(clsid);
}

std::string program_path()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string module_path_of(const void* address)
{
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname)
        return {};
    char buf[PATH_MAX];
    if (realpath(info.dli_fname, buf))
        return buf;
    return info.dli_fname;
}

} // namespace com
