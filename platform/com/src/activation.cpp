// Apartments, task memory, the run-time class table and activation through
// the registry (InprocServer32 libraries, LocalServer32 programs).
#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>
#include <algorithm>

#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/registration.h"
#include "internal.h"

namespace {

struct apartment_state {
    int count = 0;
    DWORD model = 0;
};
thread_local apartment_state apartment;

struct class_entry {
    DWORD cookie;
    CLSID clsid;
    IUnknown* object;
    DWORD context;
};

std::mutex classes_mutex;
std::vector<class_entry>& classes()
{
    // Never destroyed: used by static destructors (module terms) at exit.
    static auto* v = new std::vector<class_entry>;
    return *v;
}
DWORD next_cookie = 1;

// Loaded in-process server libraries stay loaded for the life of the process.
std::mutex libraries_mutex;
std::map<std::string, void*>& libraries()
{
    // Never destroyed: used by static destructors (module terms) at exit.
    static auto* m = new std::map<std::string, void*>;
    return *m;
}

HRESULT inproc_class_object(const std::string& path, REFCLSID clsid, REFIID riid, void** object)
{
    void* lib = nullptr;
    {
        std::lock_guard<std::mutex> lock(libraries_mutex);
        auto it = libraries().find(path);
        if (it != libraries().end()) {
            lib = it->second;
        } else {
            lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!lib)
                return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
            libraries()[path] = lib;
        }
    }
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(lib, "DllGetClassObject"));
    if (!get)
        return CO_E_ERRORINDLL;
    return get(clsid, riid, object);
}

// The class object of a class served by another process: creation goes over
// the transport to the registered server program.
class remote_factory final : public IClassFactory {
public:
    remote_factory(REFCLSID clsid, std::string path) : clsid_(clsid), path_(std::move(path)) {}
    HRESULT QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return com::detail::transport_activate(clsid_, path_, riid, out);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    std::atomic<ULONG> refs_{1};
    CLSID clsid_;
    std::string path_;
};

} // namespace

HRESULT CoInitializeEx(void*, DWORD model)
{
    if (apartment.count > 0) {
        if (apartment.model != model)
            return RPC_E_CHANGED_MODE;
        ++apartment.count;
        return S_FALSE;
    }
    apartment.model = model;
    apartment.count = 1;
    return S_OK;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize()
{
    if (apartment.count > 0 && --apartment.count == 0)
        SetErrorInfo(0, nullptr);
}

void* CoTaskMemAlloc(SIZE_T bytes) { return std::malloc(bytes ? bytes : 1); }
void* CoTaskMemRealloc(void* block, SIZE_T bytes) { return std::realloc(block, bytes ? bytes : 1); }
void CoTaskMemFree(void* block) { std::free(block); }

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (apartment.count == 0)
        return CO_E_NOTINITIALIZED;
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)))
        return E_INVALIDARG;
    {
        std::unique_lock<std::mutex> lock(classes_mutex);
        for (const auto& e : classes()) {
            if (e.clsid == clsid) {
                IUnknown* obj = e.object;
                obj->AddRef();
                lock.unlock();
                HRESULT hr = obj->QueryInterface(riid, object);
                obj->Release();
                return hr;
            }
        }
    }
    const std::string key = "CLSID\\" + com::guid_to_string(clsid);
    std::string path;
    if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) &&
        com::read_classes_value(key + "\\InprocServer32", nullptr, path) && !path.empty())
        return inproc_class_object(path, clsid, riid, object);
    if ((context & CLSCTX_LOCAL_SERVER) && com::read_classes_value(key + "\\LocalServer32", nullptr, path) &&
        !path.empty()) {
        auto* f = new (std::nothrow) remote_factory(clsid, path);
        if (!f)
            return E_OUTOFMEMORY;
        HRESULT hr = f->QueryInterface(riid, object);
        f->Release();
        return hr;
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    return hr;
}

HRESULT OleRun(IUnknown* object)
{
    if (!object)
        return E_INVALIDARG;
    IRunnableObject* runnable = nullptr;
    if (FAILED(object->QueryInterface(IID_IRunnableObject, reinterpret_cast<void**>(&runnable))) || !runnable)
        return S_OK;
    HRESULT hr = runnable->Run(nullptr);
    runnable->Release();
    return hr;
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD, DWORD* cookie)
{
    if (!factory || !cookie)
        return E_INVALIDARG;
    *cookie = 0;
    if (apartment.count == 0)
        return CO_E_NOTINITIALIZED;
    {
        std::lock_guard<std::mutex> lock(classes_mutex);
        for (const auto& e : classes())
            if (e.clsid == clsid)
                return CO_E_OBJISREG;
    }
    if (context & CLSCTX_LOCAL_SERVER) {
        HRESULT hr = com::detail::transport_listen(clsid);
        if (FAILED(hr))
            return hr;
    }
    factory->AddRef();
    std::lock_guard<std::mutex> lock(classes_mutex);
    *cookie = next_cookie++;
    classes().push_back({*cookie, clsid, factory, context});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie)
{
    class_entry entry{};
    {
        std::lock_guard<std::mutex> lock(classes_mutex);
        auto& v = classes();
        auto it = std::find_if(v.begin(), v.end(), [&](const class_entry& e) { return e.cookie == cookie; });
        if (it == v.end())
            return CO_E_OBJNOTREG;
        entry = *it;
        v.erase(it);
    }
    if (entry.context & CLSCTX_LOCAL_SERVER)
        com::detail::transport_unlisten(entry.clsid);
    entry.object->Release();
    return S_OK;
}

namespace com::detail {

HRESULT find_local_class_object(REFCLSID clsid, IClassFactory** factory)
{
    *factory = nullptr;
    IUnknown* obj = nullptr;
    {
        std::lock_guard<std::mutex> lock(classes_mutex);
        for (const auto& e : classes()) {
            if (e.clsid == clsid && (e.context & CLSCTX_LOCAL_SERVER)) {
                obj = e.object;
                obj->AddRef();
                break;
            }
        }
    }
    if (!obj)
        return CO_E_APPNOTFOUND;
    HRESULT hr = obj->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(factory));
    obj->Release();
    return hr;
}

} // namespace com::detail
