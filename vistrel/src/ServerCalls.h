// Small helpers for calling the servers through their automation interfaces.
#pragma once

#include <comdef.h>

#include <string>

// Creates a server's top object the way every server is reached: the class
// by identifier in any context (in-process server, handler or local server)
// as IUnknown, run, then asked for I. Returns the first failing HRESULT
// (E_NOINTERFACE when the object lacks I).
template <class I> HRESULT CreateServerObject(REFCLSID clsid, CComPtr<I>& out)
{
    out.Release();
    CComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                  IID_IUnknown, reinterpret_cast<void**>(&unknown.p));
    if (SUCCEEDED(hr))
        hr = OleRun(unknown);
    if (SUCCEEDED(hr))
        hr = unknown->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&out.p));
    if (SUCCEEDED(hr) && !out)
        hr = E_NOINTERFACE;
    return hr;
}

// Throws _com_error for a failed call, with the object's error information
// when it offers it for iid.
inline void CheckCall(HRESULT hr, IUnknown* object, REFIID iid) { com::check(hr, object, iid); }

template <class I> inline void CheckCall(HRESULT hr, I* object) { com::check(hr, object, __uuidof(I)); }

// Throws _com_error(E_POINTER) for a missing object.
template <class P> inline void CheckObject(const P& object)
{
    if (!object)
        _com_issue_error(E_POINTER);
}

// The object's interface I, or null.
template <class I> CComPtr<I> QueryAs(IUnknown* object)
{
    CComPtr<I> p;
    if (object)
        object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&p.p));
    return p;
}

// The UTF-8 text of an out string, which is freed.
inline std::string TakeText(BSTR text)
{
    std::string s = com::bstr_to_utf8(text);
    SysFreeString(text);
    return s;
}

// A _com_error for a failed HRESULT with the thread's current error
// information, if any (creation failures leave theirs there).
inline _com_error ErrorWithInfo(HRESULT hr)
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK)
        info = nullptr;
    return _com_error(hr, info);
}
