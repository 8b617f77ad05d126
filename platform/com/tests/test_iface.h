// A small automation interface and class used by the layer's tests: its
// member table, an implementation with int / text / object members, and a
// count of live objects.
#pragma once

#include <atomic>

#include <atl/atlcom.h>

VX_DEFINE_GUID(IID_ITestObj, "{6C1B0E52-4A43-4C58-9E5B-2D7F1A9C0001}");
VX_DEFINE_GUID(CLSID_TestObj, "{6C1B0E52-4A43-4C58-9E5B-2D7F1A9C0002}");
VX_DEFINE_GUID(CLSID_TestSingleton, "{6C1B0E52-4A43-4C58-9E5B-2D7F1A9C0003}");
VX_DEFINE_GUID(LIBID_TestLib, "{6C1B0E52-4A43-4C58-9E5B-2D7F1A9C0004}");

struct ITestObj : IDispatch {
    virtual HRESULT get_number(LONG* out) = 0;                // 7
    virtual HRESULT put_number(LONG value) = 0;               // 8
    virtual HRESULT get_name(BSTR* out) = 0;                  // 9
    virtual HRESULT put_name(BSTR value) = 0;                 // 10
    virtual HRESULT echo(BSTR in, BSTR* out) = 0;             // 11
    virtual HRESULT make_child(IDispatch** out) = 0;          // 12: a new object each time
    virtual HRESULT get_self(IDispatch** out) = 0;            // 13: this object
    virtual HRESULT is_mine(IDispatch* other, LONG* out) = 0; // 14: 2 self, 1 another test object, 0 else
    virtual HRESULT fail(BSTR text) = 0;                      // 15: error info against the class
    virtual HRESULT get_wide(long* out) = 0;                  // 16: a C++ long
    virtual HRESULT add(LONG a, LONG b, LONG* sum) = 0;       // 17
    virtual HRESULT throw_cpp() = 0;                          // 18
    virtual HRESULT get_pid(LONG* out) = 0;                   // 19
    virtual HRESULT get_quarter(double* out) = 0;             // 20: number / 4
};
VX_DEFINE_UUIDOF(ITestObj, IID_ITestObj);

// Registers ITestObj's member table (idempotent).
void register_test_tables();
// Objects of the test classes alive in this module.
extern std::atomic<int> g_test_live;
// Calls that reached a test object's own Invoke.
extern std::atomic<int> g_test_invokes;

// DISPIDs beyond ITestObj's table that its Invoke answers itself.
enum : DISPID {
    late_describe = 256,  // VT_BSTR describing the call (flags, arguments, named DISPIDs)
    late_echo = 257,      // its one argument back
    late_bad_arg = 258,   // DISP_E_TYPEMISMATCH naming the first argument (cArgs - 1)
    late_raise = 259,     // DISP_E_EXCEPTION, code 1001, description = its BSTR argument
    late_deferred = 260,  // DISP_E_EXCEPTION filled in through pfnDeferredFillIn
    late_object = 261,    // VT_DISPATCH of itself
    late_long_text = 262, // VT_BSTR of as many 'x' as its I4 argument
};

template <class Derived>
class TestObjImpl : public IDispatchImpl<ITestObj, &IID_ITestObj>, public ISupportErrorInfoImpl<&IID_ITestObj> {
public:
    HRESULT FinalConstruct();
    void FinalRelease();
    HRESULT get_number(LONG* out) override;
    HRESULT put_number(LONG value) override;
    HRESULT get_name(BSTR* out) override;
    HRESULT put_name(BSTR value) override;
    HRESULT echo(BSTR in, BSTR* out) override;
    HRESULT make_child(IDispatch** out) override;
    HRESULT get_self(IDispatch** out) override;
    HRESULT is_mine(IDispatch* other, LONG* out) override;
    HRESULT fail(BSTR text) override;
    HRESULT get_wide(long* out) override;
    HRESULT add(LONG a, LONG b, LONG* sum) override;
    HRESULT throw_cpp() override;
    HRESULT get_pid(LONG* out) override;
    HRESULT get_quarter(double* out) override;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* arg_err) override;

private:
    LONG number_ = 0;
    CComBSTR name_;
};

class CTestObj : public CComObjectRootEx<CComSingleThreadModel>,
                 public CComCoClass<CTestObj, &CLSID_TestObj>,
                 public TestObjImpl<CTestObj> {
public:
    using TestObjImpl<CTestObj>::FinalConstruct;
    using TestObjImpl<CTestObj>::FinalRelease;
    DECLARE_REGISTRY_DATA("TestObj Class", "VxTest.TestObj.1", "VxTest.TestObj", true, true, "Apartment", LIBID_TestLib,
                          "1.0")
    BEGIN_COM_MAP(CTestObj)
    COM_INTERFACE_ENTRY(ITestObj)
    COM_INTERFACE_ENTRY2(IDispatch, ITestObj)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()
};

class CTestSingleton : public CComObjectRootEx<CComSingleThreadModel>,
                       public CComCoClass<CTestSingleton, &CLSID_TestSingleton>,
                       public TestObjImpl<CTestSingleton> {
public:
    using TestObjImpl<CTestSingleton>::FinalConstruct;
    using TestObjImpl<CTestSingleton>::FinalRelease;
    DECLARE_CLASSFACTORY_SINGLETON(CTestSingleton)
    DECLARE_REGISTRY_DATA("TestSingleton Class", "VxTest.TestSingleton.1", "VxTest.TestSingleton")
    BEGIN_COM_MAP(CTestSingleton)
    COM_INTERFACE_ENTRY(ITestObj)
    COM_INTERFACE_ENTRY2(IDispatch, ITestObj)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()
};
