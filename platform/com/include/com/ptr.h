// Interface smart pointers: CComPtr / CComQIPtr (ATL shape) and _com_ptr_t
// (throwing client-wrapper shape).
#pragma once

#include <utility>

#include "com/activation.h"
#include "com/comerror.h"

template <class T> class CComPtr {
public:
    T* p = nullptr;
    CComPtr() noexcept = default;
    CComPtr(std::nullptr_t) noexcept {}
    CComPtr(T* raw) noexcept : p(raw)
    {
        if (p)
            p->AddRef();
    }
    CComPtr(const CComPtr& other) noexcept : CComPtr(other.p) {}
    CComPtr(CComPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
    ~CComPtr()
    {
        if (p)
            p->Release();
    }
    CComPtr& operator=(T* raw) noexcept
    {
        if (raw)
            raw->AddRef();
        if (p)
            p->Release();
        p = raw;
        return *this;
    }
    CComPtr& operator=(const CComPtr& other) noexcept { return *this = other.p; }
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        std::swap(p, other.p);
        return *this;
    }
    operator T*() const noexcept { return p; }
    T* operator->() const noexcept { return p; }
    T& operator*() const noexcept { return *p; }
    T** operator&() noexcept { return &p; }
    bool operator!() const noexcept { return !p; }
    void Release() noexcept
    {
        T* t = p;
        p = nullptr;
        if (t)
            t->Release();
    }
    void Attach(T* raw) noexcept
    {
        if (p)
            p->Release();
        p = raw;
    }
    T* Detach() noexcept { return std::exchange(p, nullptr); }
    HRESULT CopyTo(T** out) const noexcept
    {
        if (!out)
            return E_POINTER;
        *out = p;
        if (p)
            p->AddRef();
        return S_OK;
    }
    template <class Q> HRESULT QueryInterface(Q** out) const noexcept
    {
        return p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(out));
    }
    HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL) noexcept
    {
        return ::CoCreateInstance(clsid, outer, context, __uuidof(T), reinterpret_cast<void**>(&p));
    }
    bool IsEqualObject(IUnknown* other) const noexcept;
};

template <class T> bool CComPtr<T>::IsEqualObject(IUnknown* other) const noexcept
{
    if (!p && !other)
        return true;
    if (!p || !other)
        return false;
    CComPtr<IUnknown> a, b;
    p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a.p));
    other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b.p));
    return a.p == b.p;
}

template <class T> class CComQIPtr : public CComPtr<T> {
public:
    CComQIPtr() noexcept = default;
    CComQIPtr(T* raw) noexcept : CComPtr<T>(raw) {}
    CComQIPtr(IUnknown* other) noexcept
    {
        if (other)
            other->QueryInterface(__uuidof(T), reinterpret_cast<void**>(&this->p));
    }
    CComQIPtr& operator=(IUnknown* other) noexcept
    {
        CComQIPtr tmp(other);
        std::swap(this->p, tmp.p);
        return *this;
    }
};

// Throwing smart pointer; conversions between interfaces go through
// QueryInterface (a failed query leaves it null, as the client wrappers do).
template <class I> class _com_ptr_t {
public:
    _com_ptr_t() noexcept = default;
    _com_ptr_t(std::nullptr_t) noexcept {}
    _com_ptr_t(I* raw, bool add_ref = true) noexcept : p_(raw)
    {
        if (p_ && add_ref)
            p_->AddRef();
    }
    _com_ptr_t(const _com_ptr_t& other) noexcept : _com_ptr_t(other.p_) {}
    _com_ptr_t(_com_ptr_t&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class Q> _com_ptr_t(Q* other) noexcept
    {
        if (other)
            other->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&p_));
    }
    template <class Q> _com_ptr_t(const _com_ptr_t<Q>& other) noexcept : _com_ptr_t(other.GetInterfacePtr()) {}
    explicit _com_ptr_t(REFCLSID clsid, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL)
    {
        HRESULT hr = CreateInstance(clsid, outer, context);
        if (FAILED(hr) && hr != E_NOINTERFACE)
            _com_issue_error(hr);
    }
    ~_com_ptr_t() { _Release(); }

    _com_ptr_t& operator=(const _com_ptr_t& other) noexcept
    {
        _com_ptr_t tmp(other);
        std::swap(p_, tmp.p_);
        return *this;
    }
    _com_ptr_t& operator=(_com_ptr_t&& other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }
    _com_ptr_t& operator=(I* raw) noexcept
    {
        _com_ptr_t tmp(raw);
        std::swap(p_, tmp.p_);
        return *this;
    }
    template <class Q> _com_ptr_t& operator=(Q* other) noexcept
    {
        _com_ptr_t tmp(other);
        std::swap(p_, tmp.p_);
        return *this;
    }
    _com_ptr_t& operator=(std::nullptr_t) noexcept
    {
        _Release();
        return *this;
    }

    HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL) noexcept
    {
        _Release();
        return ::CoCreateInstance(clsid, outer, context, __uuidof(I), reinterpret_cast<void**>(&p_));
    }
    template <class Q> HRESULT QueryInterface(REFIID riid, Q** out) const noexcept
    {
        return p_ ? p_->QueryInterface(riid, reinterpret_cast<void**>(out)) : E_POINTER;
    }
    void Attach(I* raw) noexcept
    {
        _Release();
        p_ = raw;
    }
    I* Detach() noexcept { return std::exchange(p_, nullptr); }
    void Release()
    {
        if (!p_)
            _com_issue_error(E_POINTER);
        _Release();
    }
    I* GetInterfacePtr() const noexcept { return p_; }
    operator I*() const noexcept { return p_; }
    I* operator->() const
    {
        if (!p_)
            _com_issue_error(E_POINTER);
        return p_;
    }
    I** operator&() noexcept
    {
        _Release();
        return &p_;
    }
    operator bool() const noexcept { return p_ != nullptr; }
    bool operator!() const noexcept { return !p_; }

private:
    void _Release() noexcept
    {
        if (I* t = std::exchange(p_, nullptr))
            t->Release();
    }
    I* p_ = nullptr;
};

#define _COM_SMARTPTR_TYPEDEF(Interface, iid) typedef _com_ptr_t<Interface> Interface##Ptr

_COM_SMARTPTR_TYPEDEF(IUnknown, IID_IUnknown);
_COM_SMARTPTR_TYPEDEF(IDispatch, IID_IDispatch);
_COM_SMARTPTR_TYPEDEF(IErrorInfo, IID_IErrorInfo);
