// The core interfaces. Interfaces are abstract classes without a virtual
// destructor, so their virtual functions sit in the Windows slot order:
// QueryInterface, AddRef, Release, then IDispatch's four, then the own ones.
#pragma once

#include "com/guid.h"
#include "com/variant.h"

struct ITypeInfo;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

    template <class Q> HRESULT QueryInterface(Q** object)
    {
        return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(object));
    }
};
typedef IUnknown* LPUNKNOWN;

struct DISPPARAMS {
    VARIANTARG* rgvarg; // arguments in reverse order
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8
#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* excep, UINT* arg_err) = 0;
};
typedef IDispatch* LPDISPATCH;

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* file) = 0;
    virtual HRESULT GetHelpContext(DWORD* context) = 0;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID guid) = 0;
    virtual HRESULT SetSource(LPOLESTR source) = 0;
    virtual HRESULT SetDescription(LPOLESTR description) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR file) = 0;
    virtual HRESULT SetHelpContext(DWORD context) = 0;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

struct IRunnableObject : IUnknown {
    virtual HRESULT GetRunningClass(LPCLSID clsid) = 0;
    virtual HRESULT Run(void* bind_ctx) = 0;
    virtual BOOL IsRunning() = 0;
    virtual HRESULT LockRunning(BOOL lock, BOOL last_unlock_closes) = 0;
    virtual HRESULT SetContainedObject(BOOL contained) = 0;
};

VX_DEFINE_GUID(IID_IUnknown, "{00000000-0000-0000-C000-000000000046}");
VX_DEFINE_GUID(IID_IDispatch, "{00020400-0000-0000-C000-000000000046}");
VX_DEFINE_GUID(IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}");
VX_DEFINE_GUID(IID_IErrorInfo, "{1CF2B120-547D-101B-8E65-08002B2BD119}");
VX_DEFINE_GUID(IID_ICreateErrorInfo, "{22F03340-547D-101B-8E65-08002B2BD119}");
VX_DEFINE_GUID(IID_ISupportErrorInfo, "{DF0B3D60-548F-101B-8E65-08002B2BD119}");
VX_DEFINE_GUID(IID_IRunnableObject, "{00000126-0000-0000-C000-000000000046}");

VX_DEFINE_UUIDOF(IUnknown, IID_IUnknown);
VX_DEFINE_UUIDOF(IDispatch, IID_IDispatch);
VX_DEFINE_UUIDOF(IClassFactory, IID_IClassFactory);
VX_DEFINE_UUIDOF(IErrorInfo, IID_IErrorInfo);
VX_DEFINE_UUIDOF(ICreateErrorInfo, IID_ICreateErrorInfo);
VX_DEFINE_UUIDOF(ISupportErrorInfo, IID_ISupportErrorInfo);
VX_DEFINE_UUIDOF(IRunnableObject, IID_IRunnableObject);
