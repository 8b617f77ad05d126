// VARIANT with the automation types this system uses, and _variant_t.
#pragma once

#include "com/bstr.h"
#include "com/types.h"

struct IUnknown;
struct IDispatch;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_BYREF = 0x4000,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1, wReserved2, wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        VARIANT* pvarVal;
        LONG* plVal;
        BSTR* pbstrVal;
        void* byref;
    };
};
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;

#define V_VT(v) ((v)->vt)
#define V_I4(v) ((v)->lVal)
#define V_I2(v) ((v)->iVal)
#define V_R8(v) ((v)->dblVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_BSTR(v) ((v)->bstrVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_UNKNOWN(v) ((v)->punkVal)

void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, interface reference) and leaves VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// Clears dest, then deep-copies src (new BSTR, AddRef on interfaces).
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Conversions between the integer types, VT_BOOL, VT_BSTR and VT_R8.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD flags, VARTYPE vt);

// Owning VARIANT wrapper.
class _variant_t : public VARIANT {
public:
    _variant_t() noexcept { VariantInit(this); }
    _variant_t(const VARIANT& src);
    _variant_t(const _variant_t& src);
    _variant_t(_variant_t&& src) noexcept;
    _variant_t(VARIANT& src, bool copy); // copy false: takes the value, src becomes VT_EMPTY
    _variant_t(long value, VARTYPE type = VT_I4);
    _variant_t(int value) : _variant_t(static_cast<long>(value)) {}
    _variant_t(double value);
    _variant_t(bool value);
    _variant_t(const char* text);
    _variant_t(const OLECHAR* text);
    _variant_t(const _bstr_t& text);
    _variant_t(IDispatch* object, bool add_ref = true);
    _variant_t(IUnknown* object, bool add_ref = true);
    ~_variant_t() { VariantClear(this); }

    _variant_t& operator=(const _variant_t& src);
    _variant_t& operator=(_variant_t&& src) noexcept;

    operator long() const;       // VariantChangeType to VT_I4; throws _com_error on failure
    operator _bstr_t() const;    // to VT_BSTR
    operator IDispatch*() const; // AddRef'd, null when not an object
    operator bool() const;

    void Clear() { VariantClear(this); }
    VARIANT Detach();
    VARIANT& GetVARIANT() { return *this; }
    VARIANT* GetAddress()
    {
        VariantClear(this);
        return this;
    }
};
