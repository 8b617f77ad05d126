// ATL-shaped helpers for the servers: object roots with a COM map, the
// object wrappers, class factories (plain and singleton), the module with
// its lock count and class table, registration, and error reporting.
#pragma once

#include <atomic>
#include <climits>
#include <functional>
#include <new>
#include <string>

#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/ptr.h"
#include "com/registration.h"
#include "com/transport.h"

#define VX_ATL_LOCAL __attribute__((visibility("hidden")))

class CComModule;

// The module of the executable or shared object this header is compiled
// into: hidden, so every library has its own lock count and class table.
__attribute__((visibility("hidden"))) inline CComModule* vx_atl_module = nullptr;

// ---- error reporting ---------------------------------------------------------
// Sets an error object (source = the class's ProgID, else its CLSID text;
// description; guid = iid) and returns hr, or DISP_E_EXCEPTION when hr is 0.
HRESULT AtlReportError(REFCLSID clsid, const char* description, REFIID iid = GUID_NULL, HRESULT hr = 0);
HRESULT AtlReportError(REFCLSID clsid, const OLECHAR* description, REFIID iid = GUID_NULL, HRESULT hr = 0);

// ---- module ------------------------------------------------------------------
struct _ATL_OBJMAP_ENTRY {
    const CLSID* pclsid;
    HRESULT (*create_factory)(IUnknown** factory);
    const com::class_registration* (*get_registration)();
    IUnknown* factory; // made on first use, kept until Term
    DWORD cookie;      // CoRegisterClassObject
};

#define BEGIN_OBJECT_MAP(x) static _ATL_OBJMAP_ENTRY x[] = {
#define OBJECT_ENTRY(clsid, cls) {&clsid, &cls::_CreateClassFactory, &cls::_GetRegistration, nullptr, 0},
// A class that is registered but made only by the server itself: it has no class object.
#define OBJECT_ENTRY_NON_CREATEABLE(clsid, cls) {&clsid, nullptr, &cls::_GetRegistration, nullptr, 0},
#define END_OBJECT_MAP()                                                                                               \
    {                                                                                                                  \
        nullptr, nullptr, nullptr, nullptr, 0                                                                          \
    }                                                                                                                  \
    }                                                                                                                  \
    ;

namespace com {
// Registration of every class of an object map that has registration data.
HRESULT register_classes(_ATL_OBJMAP_ENTRY* map, server_kind kind, const std::string& path);
HRESULT unregister_classes(_ATL_OBJMAP_ENTRY* map);
} // namespace com

// Header-only and hidden: every executable or library has its own module.
class VX_ATL_LOCAL CComModule {
public:
    CComModule() { vx_atl_module = this; }
    virtual ~CComModule()
    {
        Term();
        if (vx_atl_module == this)
            vx_atl_module = nullptr;
    }
    CComModule(const CComModule&) = delete;
    CComModule& operator=(const CComModule&) = delete;

    // kind: how the module's classes are registered (InprocServer32 for a
    // library, LocalServer32 for a server program).
    HRESULT Init(_ATL_OBJMAP_ENTRY* map, com::server_kind kind = com::server_kind::inproc,
                 const com::typelib_registration* typelib = nullptr)
    {
        m_pObjMap = map;
        m_kind = kind;
        m_typelib = typelib;
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e) {
            const com::class_registration* reg = e->get_registration ? e->get_registration() : nullptr;
            if (reg && reg->progid)
                com::remember_class_progid(*e->pclsid, reg->progid);
        }
        return S_OK;
    }
    // Revokes and releases the class objects (singletons die here).
    void Term()
    {
        RevokeClassObjects();
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e)
            if (IUnknown* f = std::exchange(e->factory, nullptr))
                f->Release();
    }

    virtual LONG Lock() { return ++lock_count_; }
    // At zero the handler set with SetLastUnlockHandler runs (on the releasing thread).
    virtual LONG Unlock()
    {
        LONG n = --lock_count_;
        if (n == 0 && on_zero_)
            on_zero_();
        return n;
    }
    LONG GetLockCount() const { return lock_count_.load(); }
    void SetLastUnlockHandler(std::function<void()> handler) { on_zero_ = std::move(handler); }

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object)
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e) {
            if (*e->pclsid != clsid)
                continue;
            if (!e->create_factory)
                return CLASS_E_CLASSNOTAVAILABLE;
            if (!e->factory) {
                HRESULT hr = e->create_factory(&e->factory);
                if (FAILED(hr))
                    return hr;
            }
            return e->factory->QueryInterface(riid, object);
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    // Writes every class's registration data (and the type library's) with
    // this module's path; UnregisterServer removes them.
    HRESULT RegisterServer(BOOL register_typelib = FALSE)
    {
        const std::string path = ModulePath();
        if (path.empty())
            return SELFREG_E_CLASS;
        // All or nothing: one registry transaction, saved once.
        com::registration_batch batch;
        HRESULT hr = com::register_classes(m_pObjMap, m_kind, path);
        if (SUCCEEDED(hr) && register_typelib && m_typelib)
            hr = com::register_typelib(*m_typelib, path);
        return batch.commit(hr);
    }
    HRESULT UnregisterServer(BOOL unregister_typelib = FALSE)
    {
        com::registration_batch batch;
        HRESULT hr = com::unregister_classes(m_pObjMap);
        if (unregister_typelib && m_typelib) {
            HRESULT h2 = com::unregister_typelib(*m_typelib);
            if (SUCCEEDED(hr))
                hr = h2;
        }
        return batch.commit(hr);
    }
    HRESULT RegisterClassObjects(DWORD context, DWORD flags)
    {
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e) {
            if (!e->create_factory)
                continue;
            IUnknown* factory = nullptr;
            HRESULT hr = GetClassObject(*e->pclsid, IID_IUnknown, reinterpret_cast<void**>(&factory));
            if (SUCCEEDED(hr)) {
                hr = CoRegisterClassObject(*e->pclsid, factory, context, flags, &e->cookie);
                factory->Release();
            }
            if (FAILED(hr)) {
                e->cookie = 0;
                RevokeClassObjects();
                return hr;
            }
        }
        return S_OK;
    }
    HRESULT RevokeClassObjects()
    {
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e)
            if (DWORD c = std::exchange(e->cookie, 0))
                CoRevokeClassObject(c);
        return S_OK;
    }
    // DllCanUnloadNow's answer.
    HRESULT CanUnloadNow() const { return lock_count_.load() == 0 ? S_OK : S_FALSE; }

    std::string ModulePath() const
    {
        if (m_kind == com::server_kind::local)
            return com::program_path();
        return com::module_path_of(static_cast<const void*>(&vx_atl_module));
    }

    _ATL_OBJMAP_ENTRY* m_pObjMap = nullptr;
    com::server_kind m_kind = com::server_kind::inproc;
    const com::typelib_registration* m_typelib = nullptr;

private:
    std::atomic<LONG> lock_count_{0};
    std::function<void()> on_zero_;
};

inline LONG vx_atl_lock() { return vx_atl_module ? vx_atl_module->Lock() : 0; }
inline LONG vx_atl_unlock() { return vx_atl_module ? vx_atl_module->Unlock() : 0; }

// ---- object roots ------------------------------------------------------------
struct CComSingleThreadModel {};
struct CComMultiThreadModel {};
typedef CComMultiThreadModel CComGlobalsThreadModel;

struct _ATL_INTMAP_ENTRY {
    const IID* piid;
    IUnknown* (*cast)(void* object);
};

class CComObjectRootBase {
public:
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}
    ULONG InternalAddRef() { return static_cast<ULONG>(++m_dwRef); }
    ULONG InternalRelease() { return static_cast<ULONG>(--m_dwRef); }
    // The first map entry answers IID_IUnknown, so identity holds.
    static HRESULT InternalQueryInterface(void* object, const _ATL_INTMAP_ENTRY* entries, REFIID riid, void** out);
    std::atomic<LONG> m_dwRef{0};
};

template <class ThreadModel> class CComObjectRootEx : public CComObjectRootBase {};

#define BEGIN_COM_MAP(x)                                                                                               \
public:                                                                                                                \
    typedef x _ComMapClass;                                                                                            \
    static const _ATL_INTMAP_ENTRY* _GetEntries()                                                                      \
    {                                                                                                                  \
        static const _ATL_INTMAP_ENTRY entries[] = {
#define COM_INTERFACE_ENTRY_IID(iid, I)                                                                                \
    {&iid, [](void* p) -> IUnknown* { return static_cast<I*>(static_cast<_ComMapClass*>(p)); }},
#define COM_INTERFACE_ENTRY(I) COM_INTERFACE_ENTRY_IID(__uuidof(I), I)
#define COM_INTERFACE_ENTRY2(I, via)                                                                                   \
    {&__uuidof(I),                                                                                                     \
     [](void* p) -> IUnknown* { return static_cast<I*>(static_cast<via*>(static_cast<_ComMapClass*>(p))); }},
#define END_COM_MAP()                                                                                                  \
    {                                                                                                                  \
        nullptr, nullptr                                                                                               \
    }                                                                                                                  \
    }                                                                                                                  \
    ;                                                                                                                  \
    return entries;                                                                                                    \
    }                                                                                                                  \
    HRESULT _InternalQueryInterface(REFIID riid, void** out)                                                           \
    {                                                                                                                  \
        return InternalQueryInterface(static_cast<void*>(this), _GetEntries(), riid, out);                             \
    }                                                                                                                  \
    IUnknown* GetUnknown() { return _GetEntries()[0].cast(static_cast<void*>(this)); }

// ---- object wrappers -----------------------------------------------------------
// A heap object: counts in the module lock while it lives.
template <class Base> class VX_ATL_LOCAL CComObject final : public Base {
public:
    CComObject() { vx_atl_lock(); }
    ~CComObject()
    {
        this->m_dwRef = INT32_MAX / 2; // a FinalRelease that AddRefs/Releases must not delete again
        this->FinalRelease();
        vx_atl_unlock();
    }
    ULONG AddRef() override { return this->InternalAddRef(); }
    ULONG Release() override
    {
        ULONG n = this->InternalRelease();
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT QueryInterface(REFIID riid, void** out) override { return this->_InternalQueryInterface(riid, out); }
    template <class Q> HRESULT QueryInterface(Q** out)
    {
        return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(out));
    }
    // Creates the object with a count of 0 after FinalConstruct succeeded.
    static HRESULT CreateInstance(CComObject<Base>** out)
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto* p = new (std::nothrow) CComObject<Base>();
        if (!p)
            return E_OUTOFMEMORY;
        p->InternalAddRef();
        HRESULT hr = p->FinalConstruct();
        p->InternalRelease();
        if (FAILED(hr)) {
            delete p;
            return hr;
        }
        *out = p;
        return S_OK;
    }
};

// Like CComObject but outside the module lock (class objects).
template <class Base> class VX_ATL_LOCAL CComObjectNoLock final : public Base {
public:
    ~CComObjectNoLock()
    {
        this->m_dwRef = INT32_MAX / 2;
        this->FinalRelease();
    }
    ULONG AddRef() override { return this->InternalAddRef(); }
    ULONG Release() override
    {
        ULONG n = this->InternalRelease();
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT QueryInterface(REFIID riid, void** out) override { return this->_InternalQueryInterface(riid, out); }
};

// An object living as long as the module: every reference is a module lock.
template <class Base> class VX_ATL_LOCAL CComObjectGlobal final : public Base {
public:
    CComObjectGlobal() { m_hResFinalConstruct = this->FinalConstruct(); }
    ~CComObjectGlobal() { this->FinalRelease(); }
    ULONG AddRef() override { return static_cast<ULONG>(vx_atl_lock()); }
    ULONG Release() override { return static_cast<ULONG>(vx_atl_unlock()); }
    HRESULT QueryInterface(REFIID riid, void** out) override { return this->_InternalQueryInterface(riid, out); }
    HRESULT m_hResFinalConstruct;
};

template <class T> struct CComCreator {
    static HRESULT CreateInstance(void* outer, REFIID riid, void** out)
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        T* p = nullptr;
        HRESULT hr = T::CreateInstance(&p);
        if (FAILED(hr))
            return hr;
        p->AddRef();
        hr = p->QueryInterface(riid, out);
        p->Release();
        return hr;
    }
};

// ---- class factories -------------------------------------------------------------
class VX_ATL_LOCAL CComClassFactory : public IClassFactory, public CComObjectRootEx<CComGlobalsThreadModel> {
public:
    BEGIN_COM_MAP(CComClassFactory)
    COM_INTERFACE_ENTRY(IClassFactory)
    END_COM_MAP()
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        return m_pfnCreateInstance ? m_pfnCreateInstance(outer, riid, out) : E_UNEXPECTED;
    }
    HRESULT LockServer(BOOL lock) override
    {
        if (lock)
            vx_atl_lock();
        else
            vx_atl_unlock();
        return S_OK;
    }
    HRESULT (*m_pfnCreateInstance)(void*, REFIID, void**) = nullptr;
};

// Every creation returns the one object, which lives as long as the module.
template <class T> class VX_ATL_LOCAL CComClassFactorySingleton : public CComClassFactory {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (FAILED(m_Obj.m_hResFinalConstruct))
            return m_Obj.m_hResFinalConstruct;
        return m_Obj.QueryInterface(riid, out);
    }
    CComObjectGlobal<T> m_Obj;
};

// ---- coclass -----------------------------------------------------------------------
template <class T, const CLSID* pclsid> class CComCoClass {
public:
    typedef CComClassFactory _ClassFactoryType;
    typedef CComCreator<CComObject<T>> _CreatorClass;

    static const CLSID& GetObjectCLSID() { return *pclsid; }
    static const com::class_registration* _GetRegistration() { return nullptr; }

    static HRESULT _CreateClassFactory(IUnknown** out)
    {
        typedef typename T::_ClassFactoryType factory_t;
        auto* f = new (std::nothrow) CComObjectNoLock<factory_t>();
        if (!f)
            return E_OUTOFMEMORY;
        f->m_pfnCreateInstance = &T::_CreatorClass::CreateInstance;
        f->AddRef();
        *out = static_cast<IClassFactory*>(f);
        return S_OK;
    }

    static HRESULT Error(const char* description, REFIID iid = GUID_NULL, HRESULT hr = 0)
    {
        return AtlReportError(*pclsid, description, iid, hr);
    }
    static HRESULT Error(const std::string& description, REFIID iid = GUID_NULL, HRESULT hr = 0)
    {
        return AtlReportError(*pclsid, description.c_str(), iid, hr);
    }
    static HRESULT Error(const OLECHAR* description, REFIID iid = GUID_NULL, HRESULT hr = 0)
    {
        return AtlReportError(*pclsid, description, iid, hr);
    }
};

#define DECLARE_CLASSFACTORY_SINGLETON(cls) typedef CComClassFactorySingleton<cls> _ClassFactoryType;
#define DECLARE_NOT_AGGREGATABLE(cls)
#define DECLARE_PROTECT_FINAL_CONSTRUCT()
// Registration data of the class: the fields of com::class_registration
// after the CLSID, e.g. DECLARE_REGISTRY_DATA("manager Class", "Scoutline.manager.1", "Scoutline.manager").
#define DECLARE_REGISTRY_DATA(...)                                                                                     \
    static const com::class_registration* _GetRegistration()                                                           \
    {                                                                                                                  \
        static const com::class_registration reg{GUID_NULL, __VA_ARGS__};                                              \
        return &reg;                                                                                                   \
    }

// ---- interface implementations ----------------------------------------------------------
// IDispatch answered from the interface's registered member table.
template <class T, const IID* piid, const GUID* plibid = nullptr, WORD major = 1, WORD minor = 0>
class IDispatchImpl : public T {
public:
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return com::dispatch_ids_of_names(*piid, names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* arg_err) override
    {
        return com::dispatch_invoke(static_cast<T*>(this), *piid, id, flags, params, result, excep, arg_err);
    }
};

template <const IID* piid> class ISupportErrorInfoImpl : public ISupportErrorInfo {
public:
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override { return riid == *piid ? S_OK : S_FALSE; }
};
