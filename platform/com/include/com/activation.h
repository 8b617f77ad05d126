// Apartments, task memory and object activation.
#pragma once

#include "com/unknown.h"

// The apartment is recorded per thread, not enforced: calls on in-process
// objects run on the calling thread. The first call on a thread returns
// S_OK, further ones S_FALSE, a different model RPC_E_CHANGED_MODE.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD model);
void CoUninitialize();

void* CoTaskMemAlloc(SIZE_T bytes);
void* CoTaskMemRealloc(void* block, SIZE_T bytes);
void CoTaskMemFree(void* block);

// Finds the class object: first the ones registered at run time with
// CoRegisterClassObject, then HKEY_CLASSES_ROOT\CLSID\{...}: InprocServer32
// (the library is loaded and its DllGetClassObject asked) when the context
// allows in-process servers, then LocalServer32 (the server program is
// reached over its socket, started when it does not listen yet).
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* server_info, REFIID riid, void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);

// Runs the object when it offers IRunnableObject; S_OK for any other object.
HRESULT OleRun(IUnknown* object);

// Makes a class object reachable. CLSCTX_LOCAL_SERVER also makes it
// reachable to other processes through this process's server socket (see
// com/transport.h); the first such registration takes the single-instance
// lock and fails with CO_E_SERVER_EXEC_FAILURE when another live server
// holds it.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags, DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);

// Exported by in-process server libraries.
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, void**);
typedef HRESULT (*LPFNCANUNLOADNOW)();
typedef HRESULT (*LPFNREGISTERSERVER)();
