// Registration data of classes, applications and type libraries, applied
// to and removed from HKEY_CLASSES_ROOT (the .rgs scripts' shape).
#pragma once

#include <string>

#include "com/guid.h"

namespace com {

enum class server_kind { inproc, local };

struct class_registration {
    CLSID clsid;
    const char* description;               // "manager Class"
    const char* progid;                    // "Scoutline.manager.1", or null
    const char* vi_progid;                 // "Scoutline.manager", or null
    bool curver = true;                    // vi_progid\CurVer = progid
    bool programmable = true;              // CLSID\{...}\Programmable
    const char* threading_model = nullptr; // InprocServer32's ThreadingModel ("Apartment", "Both")
    GUID typelib = GUID_NULL;              // CLSID\{...}\TypeLib, unless GUID_NULL
    const char* version = nullptr;         // CLSID\{...}\Version ("1.0"), or null
    const GUID* appid = nullptr;           // CLSID\{...}\AppID value, or null
};

// HKCR\AppID\{appid} = name, and HKCR\AppID\<exe_name>\AppID = {appid}.
struct app_registration {
    GUID appid;
    const char* name;     // "Scoutline"
    const char* exe_name; // "Scoutline.EXE"
};

struct typelib_registration {
    GUID libid;
    const char* version; // "1.0"
    const char* help;    // "Scoutline 1.0 Type Library"
    LCID lcid = 0x409;   // the locale subkey, "409"
};

// Writes the class's keys; `server_path` becomes InprocServer32 or
// LocalServer32. SELFREG_E_CLASS when the store cannot be written.
HRESULT register_class(const class_registration& reg, server_kind kind, const std::string& server_path);
// Removes exactly the keys register_class writes (S_OK also when absent).
HRESULT unregister_class(const class_registration& reg);
HRESULT register_app(const app_registration& reg);
HRESULT unregister_app(const app_registration& reg);
// HKCR\TypeLib\{libid}\<version> = help, with <lcid>\linux64 = module path
// (409\linux64 for 0x409).
HRESULT register_typelib(const typelib_registration& reg, const std::string& module_path);
HRESULT unregister_typelib(const typelib_registration& reg);

// Groups this thread's registration writes into one registry transaction
// while it lives: commit() saves them all at once, and a batch destroyed
// without a commit changes nothing. A batch made while another one of the
// thread is open joins that one (its commit is the outer batch's).
class registration_batch {
public:
    registration_batch();
    ~registration_batch();
    registration_batch(const registration_batch&) = delete;
    registration_batch& operator=(const registration_batch&) = delete;
    // Commits when result succeeded; returns result, or SELFREG_E_CLASS when
    // the batch could not be opened or saved.
    HRESULT commit(HRESULT result);

private:
    HANDLE transaction = nullptr;
    HKEY root = nullptr;
    bool outer = false;
    bool failed = false;
};

// The ProgID registered for a class object created in this process
// (recorded by the module's class table); empty when unknown.
std::string progid_of_class(REFCLSID clsid);
void remember_class_progid(REFCLSID clsid, const char* progid);

// Path of the running program (/proc/self/exe) and of the shared object
// containing `address`.
std::string program_path();
std::string module_path_of(const void* address);

// Registry values through the Win32 layer (HKEY_CLASSES_ROOT subkeys).
bool read_classes_value(const std::string& key, const char* value_name, std::string& out);

} // namespace com
