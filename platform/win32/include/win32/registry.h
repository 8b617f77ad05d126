// The registry: Reg* calls over a per-user hive file and a read-only
// machine view.
//
// HKEY_CURRENT_USER is the hive file $XDG_CONFIG_HOME/veltrix/user.reg
// (default $HOME/.config/veltrix/user.reg). It is read when first used and
// read again whenever its contents changed (other processes write it); every
// call that changes it saves it at once (through a transacted key: at the
// commit, win32/ktm.h): under an flock on user.reg.lock the new hive is
// written to a temporary file in the same folder, fsynced and renamed into
// place, so a save is all or nothing. A save that fails returns
// ERROR_ACCESS_DENIED (no permission, read-only file system),
// ERROR_PATH_NOT_FOUND (the folder cannot be made) or ERROR_CANTWRITE, leaves
// file and values as they were, and says why in vx_registry_last_save_failure.
// A hive file that cannot be read (not one missing) is read as empty and not
// written.
//
// Every line of the hive that can be read is read. An unreadable line costs
// only itself: it is kept, unread, with the key it stands under and written
// back after that key's values (lines before any key: first, after the
// header), so it is never dropped; the lines after an unreadable key line, up
// to the next good key line, are kept with it (their key is unknown); a key
// that is deleted leaves its kept lines to its parent. A first line that is
// not the header is reported, then read as any other line. Each unreadable
// line is reported once per process, on stderr and in vx_registry_notices, as
// "<file> line <n>: <problem>" (past 20 new ones in one reading, the rest are
// counted in one notice). Before a damaged file is first written anew,
// it is copied beside it, fsynced, as user.reg.bad-<16 hex digits>: the name
// comes from its kept lines, so the same damage is copied once and a copy is
// never overwritten; new damage gets a new copy.
//
// HKEY_CLASSES_ROOT is the user hive's Software\Classes. HKEY_LOCAL_MACHINE is
// a read-only view built once per process from the Linux network interfaces
// (non-loopback Ethernet) in the Windows NT network-card layout:
//   SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\<n>   (n = 1, 2, ...
//       in interface-name order): Title, Description, ServiceName (REG_SZ);
//       ServiceName and Title are the interface name (eth0), Description its
//       driver (or the name).
//   SYSTEM\CurrentControlSet\Services\<ifname>\Parameters\Tcpip:
//       EnableDHCP (REG_DWORD 0), IPAddress and SubnetMask (REG_MULTI_SZ, the
//       interface's first IPv4 address and mask, "0.0.0.0" when it has none).
// HKEY_USERS is an empty read-only tree.
//
// Key and value names compare case-insensitively (ASCII) and keep their
// spelling; the path separator is the backslash. Subkeys enumerate in
// case-insensitive name order, values in creation order. Value data are kept
// byte-exact (a REG_SZ written without its terminator is read back without
// it; when the reader's buffer has room, a terminator is added after the data
// without being counted).
//
// Hive file format (text, one item per line; lines starting with ';' are
// comments, dropped when the file is written):
//   ; veltrix registry hive 1            first line, required
//   [Software\Quillon\Tunedeck]          a key: full path; '%', '[', ']' and
//                                        control bytes written as %XX
//   "Retries"=dword:00000002             REG_DWORD of 4 bytes
//   "RD_Community"=sz:"tagrok"           REG_SZ; expand_sz:, multi_sz: alike;
//                                        \\ \" \0 \n \r \t \xNN escapes
//   @=sz:"manager Class\0"               the default (unnamed) value
//   "Blob"=hex:01,02,ff                  REG_BINARY
//   "Odd"=hex(b):01,02                   any other type (hex type number)
// Every key appears as a [line], parents before children; value names use the
// same escapes as strings.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "win32/types.h"

#define HKEY_CLASSES_ROOT                                                                                              \
    (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000000u)))))
#define HKEY_CURRENT_USER                                                                                              \
    (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000001u)))))
#define HKEY_LOCAL_MACHINE                                                                                             \
    (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000002u)))))
#define HKEY_USERS                                                                                                     \
    (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000003u)))))

// Registry access rights (the general rights DELETE, READ_CONTROL, ... are in types.h).
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE 0x20019
#define KEY_ALL_ACCESS 0xF003F

// Value types.
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

// RegCreateKeyExA options and dispositions.
#define REG_OPTION_RESERVED 0x00000000L
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

struct _SECURITY_ATTRIBUTES;
struct _FILETIME; // two DWORDs; filled with zeros (no write times are kept)

// Every function returns a Win32 error number (ERROR_SUCCESS = 0): missing
// keys and values give ERROR_FILE_NOT_FOUND, a handle that is not open
// ERROR_INVALID_HANDLE, any write under HKEY_LOCAL_MACHINE or HKEY_USERS
// ERROR_ACCESS_DENIED, a write through a handle opened without that right
// ERROR_ACCESS_DENIED, a key whose path starts with a backslash or has an
// empty part ERROR_BAD_PATHNAME, a handle whose key another writer deleted
// ERROR_KEY_DELETED.
LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result);
LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result); // NULL/"" sub key: result = key
LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options, REGSAM desired,
                     struct _SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition);
LONG RegCreateKeyA(HKEY key, LPCSTR sub_key, PHKEY result);
// The same, in a transaction (win32/ktm.h): writes through the key, and
// through keys opened below it, wait for the commit; reads see them at once.
// A transaction that is no longer active gives ERROR_TRANSACTION_NOT_ACTIVE,
// a handle that is not a transaction ERROR_INVALID_HANDLE. extended must be
// NULL.
LONG RegOpenKeyTransactedA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result, HANDLE transaction,
                           PVOID extended);
LONG RegCreateKeyTransactedA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options, REGSAM desired,
                             struct _SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition,
                             HANDLE transaction, PVOID extended);
LONG RegCloseKey(HKEY key);
LONG RegFlushKey(HKEY key); // every write is saved already

// NULL or "" name: the default value. data NULL: only type and size. A
// buffer smaller than the data gives ERROR_MORE_DATA, the needed size in
// *data_size and leaves the buffer alone.
LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_size);
LONG RegSetValueExA(HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data, DWORD data_size);
LONG RegDeleteValueA(HKEY key, LPCSTR value_name);
// Deletes sub_key (must not be NULL; "" deletes the key itself). A key that
// has subkeys is not deleted: ERROR_ACCESS_DENIED, as on Windows NT.
LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key);

// The default value of sub_key as text (ATL style); RegSetValueA creates
// sub_key as needed and takes only REG_SZ. A key without a default value
// reads as "".
LONG RegSetValueA(HKEY key, LPCSTR sub_key, DWORD type, LPCSTR data, DWORD data_size);
LONG RegQueryValueA(HKEY key, LPCSTR sub_key, LPSTR data, LONG* data_size);

// Enumeration: ERROR_NO_MORE_ITEMS past the end; a name buffer too small
// gives ERROR_MORE_DATA. Sizes are in characters; on return *name_size holds
// the length without the terminator.
LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD name_size);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved, LPSTR class_name,
                   LPDWORD class_size, struct _FILETIME* last_write);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_size, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD data_size);
// Counts and longest lengths (names without terminator, data in bytes).
LONG RegQueryInfoKeyA(HKEY key, LPSTR class_name, LPDWORD class_size, LPDWORD reserved, LPDWORD sub_keys,
                      LPDWORD max_sub_key_len, LPDWORD max_class_len, LPDWORD values, LPDWORD max_value_name_len,
                      LPDWORD max_value_len, LPDWORD security_descriptor_size, struct _FILETIME* last_write);

// ---------------------------------------------------------------------------
// Machine view sources and test hooks (not part of the Windows interface).

// One network interface as the machine view lists it.
struct vx_net_adapter {
    std::string name;        // Linux interface name: service name, title and the raw-packet open name
    std::string description; // driver name, or the interface name
    std::string ip;          // first IPv4 address, dotted; "" when none
    std::string mask;        // its mask, dotted; "" when none
    unsigned char mac[6] = {0, 0, 0, 0, 0, 0};
};

// The live interfaces: non-loopback ARPHRD_ETHER interfaces in name order.
std::vector<vx_net_adapter> vx_registry_live_adapters();

// The machine view as hive text, built from an adapter list.
std::string vx_registry_machine_text(const std::vector<vx_net_adapter>& adapters);

// TEST HOOK: the source of the machine view's adapters (an empty function
// restores the live list). Drops the machine view, which is rebuilt from the
// source on its next use.
void vx_registry_set_adapter_source(std::function<std::vector<vx_net_adapter>()> source);

// TEST HOOK: HKEY_LOCAL_MACHINE becomes the hive in this file (or text), in
// the user hive's format, for other Windows layouts. Returns ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND or ERROR_REGISTRY_CORRUPT (the view is then empty).
LONG vx_registry_load_machine_fixture(const char* path);
LONG vx_registry_load_machine_text(const char* text, size_t length);

// TEST HOOK: the user hive is this file instead of the default location
// (NULL restores the default). Drops what was loaded.
void vx_registry_set_user_hive(const char* path);

// The user hive file in use.
std::string vx_registry_user_hive_path();

// The notices about the user hive so far in this process, in order: each
// unreadable line once ("<file> line <n>: <problem>"), a file that cannot be
// read ("Registry file <file> could not be read: <reason>").
std::vector<std::string> vx_registry_notices();

// Why the last save of the user hive in this process failed, in words:
// "Registry file <file> could not be written: <reason>" (the system's reason,
// such as "No space left on device"); "" when it succeeded or none was tried.
std::string vx_registry_last_save_failure();

// TEST HOOK: forgets everything loaded, the machine view, the adapter source,
// the user hive override, the notices and the save failure (open handles
// become invalid). The hive location is taken from the environment again.
void vx_registry_reset();
