// BSTR, VARIANT, GUID, error objects, ATL-shaped objects, table-driven
// IDispatch and registration data.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <com/com.h>
#include <win32/registry.h>

#include "test_home.h"
#include "test_iface.h"

static CComModule _Module;
BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_TestObj, CTestObj)
OBJECT_ENTRY(CLSID_TestSingleton, CTestSingleton)
END_OBJECT_MAP()

namespace {

struct Env : ::testing::Environment {
    void SetUp() override
    {
        dir = make_test_home("basics");
        vx_registry_reset();
        register_test_tables();
        _Module.Init(ObjectMap, com::server_kind::inproc);
        CoInitialize(nullptr);
    }
    void TearDown() override
    {
        _Module.Term();
        CoUninitialize();
        std::filesystem::remove_all(dir);
    }
    std::string dir;
};
const auto* env = ::testing::AddGlobalTestEnvironment(new Env);

std::u16string view(BSTR b) { return std::u16string(com::bstr_view(b)); }

} // namespace

TEST(Bstr, LengthsAndEmbeddedNuls)
{
    const char16_t text[] = u"ab\0cd";
    BSTR b = SysAllocStringLen(text, 5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 5u);
    EXPECT_EQ(SysStringByteLen(b), 10u);
    EXPECT_EQ(b[5], 0); // terminated after the counted text
    EXPECT_EQ(view(b), std::u16string(text, 5));
    // SysAllocString stops at the first NUL.
    BSTR c = SysAllocString(text);
    EXPECT_EQ(SysStringLen(c), 2u);
    // Odd byte counts keep their exact length.
    BSTR d = SysAllocStringByteLen("xyz", 3);
    EXPECT_EQ(SysStringByteLen(d), 3u);
    EXPECT_EQ(SysStringLen(d), 1u);
    EXPECT_EQ(std::memcmp(d, "xyz", 3), 0);
    EXPECT_TRUE(SysReAllocString(&d, u"longer text"));
    EXPECT_EQ(view(d), u"longer text");
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
    SysFreeString(b);
    SysFreeString(c);
    SysFreeString(d);
}

TEST(Bstr, Utf8Conversions)
{
    // U+00E9, U+20AC and U+1F600 (a surrogate pair).
    const std::string utf8 = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::u16string w = com::utf8_to_utf16(utf8);
    EXPECT_EQ(w, (std::u16string{0xE9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(com::utf16_to_utf8(w), utf8);
    // Malformed input: stray continuation, truncated sequence, overlong form, lone surrogates.
    EXPECT_EQ(com::utf8_to_utf16("a\x80"
                                 "b"),
              u"a\uFFFDb");
    EXPECT_EQ(com::utf8_to_utf16("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(com::utf8_to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(com::utf16_to_utf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
    // Embedded NULs survive the conversions.
    BSTR b = com::bstr_from_utf8(std::string("a\0b", 3));
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(com::bstr_to_utf8(b), std::string("a\0b", 3));
    SysFreeString(b);
}

TEST(Bstr, WrapperSharesAndConverts)
{
    _bstr_t a("gr\xC3\xBC\xC3\x9F");
    EXPECT_EQ(a.length(), 4u);
    EXPECT_STREQ(static_cast<const char*>(a), "gr\xC3\xBC\xC3\x9F");
    _bstr_t b = a; // shared
    EXPECT_EQ(static_cast<const _bstr_t&>(b).GetBSTR(), static_cast<const _bstr_t&>(a).GetBSTR());
    b += _bstr_t(" x");
    EXPECT_EQ(a.length(), 4u); // the copy changed, not the original
    EXPECT_STREQ(static_cast<const char*>(b), "gr\xC3\xBC\xC3\x9F x");
    _bstr_t w(L"wide\u20AC");
    EXPECT_EQ(view(w.GetBSTR()), u"wide\u20AC");
    _bstr_t empty;
    EXPECT_TRUE(!empty);
    EXPECT_EQ(static_cast<const char*>(empty), nullptr);
    BSTR owned = a.copy();
    _bstr_t attached(owned, false);
    EXPECT_TRUE(attached == a);
    BSTR detached = attached.Detach();
    EXPECT_EQ(detached, owned);
    SysFreeString(detached);

    CComBSTR c("ab");
    c.Append(u"cd");
    c.Append("\xC3\xA9");
    EXPECT_EQ(view(c), u"abcd\u00E9");
    CComBSTR d = c;
    EXPECT_NE(d.m_str, c.m_str);
    EXPECT_EQ(view(d), view(c));
}

TEST(Variant, ClearCopyAndChangeType)
{
    CComObject<CTestObj>* obj = nullptr;
    ASSERT_EQ(CComObject<CTestObj>::CreateInstance(&obj), S_OK);
    obj->AddRef();
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    obj->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal));
    EXPECT_EQ(obj->m_dwRef.load(), 2);
    VARIANT copy;
    VariantInit(&copy);
    EXPECT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_EQ(obj->m_dwRef.load(), 3);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj->m_dwRef.load(), 1);
    obj->Release();

    VARIANT s;
    VariantInit(&s);
    s.vt = VT_BSTR;
    s.bstrVal = SysAllocString(u"text");
    VARIANT t;
    VariantInit(&t);
    VariantCopy(&t, &s);
    EXPECT_NE(t.bstrVal, s.bstrVal);
    EXPECT_EQ(view(t.bstrVal), u"text");
    VariantClear(&s);
    VariantClear(&t);

    _variant_t n(42);
    EXPECT_EQ(static_cast<long>(n), 42);
    EXPECT_STREQ(static_cast<const char*>(static_cast<_bstr_t>(n)), "42");
    _variant_t str("17");
    EXPECT_EQ(static_cast<long>(str), 17);
    _variant_t bad("x1");
    EXPECT_THROW((void)static_cast<long>(bad), _com_error);
}

TEST(Guid, TextForms)
{
    constexpr GUID g = com::make_guid("{DA118759-2053-4496-AB8C-53C74FBB979C}");
    static_assert(g.Data1 == 0xDA118759 && g.Data2 == 0x2053 && g.Data4[0] == 0xAB && g.Data4[7] == 0x9C);
    EXPECT_EQ(com::guid_to_string(g), "{DA118759-2053-4496-AB8C-53C74FBB979C}");
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 39), 39);
    EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);
    CLSID back{};
    EXPECT_EQ(CLSIDFromString(buf, &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(back, g));
    GUID lower{};
    EXPECT_TRUE(com::guid_from_string("da118759-2053-4496-ab8c-53c74fbb979c", lower));
    EXPECT_EQ(lower, g);
    EXPECT_EQ(CLSIDFromString(u"{DA118759-2053-4496-AB8C-53C74FBB979}", &back), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"No.Such.ProgID", &back), CO_E_CLASSSTRING);
    EXPECT_FALSE(IsEqualGUID(g, GUID_NULL));
}

TEST(ErrorInfo, RoundTripIsPerThreadAndConsumed)
{
    ASSERT_EQ(com::set_error_info(IID_ITestObj, u"Src", u"Something failed"), S_OK);
    std::thread([] {
        IErrorInfo* other = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &other), S_FALSE);
        EXPECT_EQ(other, nullptr);
    }).join();
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR src = nullptr, desc = nullptr;
    GUID g{};
    info->GetSource(&src);
    info->GetDescription(&desc);
    info->GetGUID(&g);
    EXPECT_EQ(view(src), u"Src");
    EXPECT_EQ(view(desc), u"Something failed");
    EXPECT_EQ(g, IID_ITestObj);
    SysFreeString(src);
    SysFreeString(desc);
    IErrorInfo* again = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE); // taken by the first read

    // _com_error carries it and names the HRESULT.
    SetErrorInfo(0, info);
    info->Release();
    try {
        _com_issue_error(E_POINTER);
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
        EXPECT_STREQ(e.ErrorMessage(), "Invalid pointer");
    }
    EXPECT_STREQ(_com_error(SELFREG_E_CLASS).ErrorMessage(), "IDispatch error #1");
    EXPECT_STREQ(_com_error(static_cast<HRESULT>(0x80123456u)).ErrorMessage(), "Unknown error 0x80123456");
    EXPECT_STREQ(_com_error(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)).ErrorMessage(),
                 "The RPC server is unavailable.");
    SetErrorInfo(0, nullptr);
}

TEST(Objects, ReferenceCountsIdentityAndLifetime)
{
    int live0 = g_test_live.load();
    LONG locks0 = _Module.GetLockCount();
    CComObject<CTestObj>* obj = nullptr;
    ASSERT_EQ(CComObject<CTestObj>::CreateInstance(&obj), S_OK);
    EXPECT_EQ(g_test_live.load(), live0 + 1); // FinalConstruct ran
    EXPECT_EQ(_Module.GetLockCount(), locks0 + 1);
    EXPECT_EQ(obj->AddRef(), 1u);
    ITestObj* t = nullptr;
    IDispatch* d = nullptr;
    IUnknown *u1 = nullptr, *u2 = nullptr;
    ISupportErrorInfo* sei = nullptr;
    ASSERT_EQ(obj->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&t)), S_OK);
    ASSERT_EQ(t->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    ASSERT_EQ(t->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u1)), S_OK);
    ASSERT_EQ(t->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&sei)), S_OK);
    ASSERT_EQ(sei->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u2)), S_OK);
    EXPECT_EQ(u1, u2); // one identity from every interface
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_ITestObj), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(t->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(t->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(obj->m_dwRef.load(), 6);
    for (IUnknown* p : {static_cast<IUnknown*>(t), static_cast<IUnknown*>(d), u1, u2, static_cast<IUnknown*>(sei)})
        p->Release();
    EXPECT_EQ(g_test_live.load(), live0 + 1);
    EXPECT_EQ(obj->Release(), 0u);
    EXPECT_EQ(g_test_live.load(), live0); // FinalRelease ran
    EXPECT_EQ(_Module.GetLockCount(), locks0);
}

TEST(Objects, FactoriesSingletonAndModuleLock)
{
    int zero_calls = 0;
    _Module.SetLastUnlockHandler([&] { ++zero_calls; });
    IClassFactory* f = nullptr;
    ASSERT_EQ(_Module.GetClassObject(CLSID_TestObj, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    ITestObj *a = nullptr, *b = nullptr;
    EXPECT_EQ(f->CreateInstance(reinterpret_cast<IUnknown*>(f), IID_ITestObj, reinterpret_cast<void**>(&a)),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(f->CreateInstance(nullptr, IID_ITestObj, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(f->CreateInstance(nullptr, IID_ITestObj, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_NE(a, b);
    IUnknown* wrong = nullptr;
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void**>(&wrong)), E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);
    f->Release();
    EXPECT_EQ(_Module.GetLockCount(), 2);
    a->Release();
    EXPECT_EQ(zero_calls, 0);
    b->Release();
    EXPECT_EQ(zero_calls, 1); // the last unlock reports

    ASSERT_EQ(_Module.GetClassObject(CLSID_TestSingleton, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    ITestObj *s1 = nullptr, *s2 = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_ITestObj, reinterpret_cast<void**>(&s1)), S_OK);
    ASSERT_EQ(f->CreateInstance(nullptr, IID_ITestObj, reinterpret_cast<void**>(&s2)), S_OK);
    EXPECT_EQ(s1, s2);
    EXPECT_EQ(_Module.GetLockCount(), 2); // each reference of the singleton is a lock
    f->LockServer(TRUE);
    EXPECT_EQ(_Module.GetLockCount(), 3);
    f->LockServer(FALSE);
    s1->put_number(5);
    s1->Release();
    s2->Release();
    EXPECT_EQ(_Module.GetLockCount(), 0);
    ASSERT_EQ(f->CreateInstance(nullptr, IID_ITestObj, reinterpret_cast<void**>(&s1)), S_OK);
    LONG n = 0;
    s1->get_number(&n);
    EXPECT_EQ(n, 5); // still the same object
    s1->Release();
    f->Release();
    _Module.SetLastUnlockHandler(nullptr);
}

TEST(Objects, ErrorReportedAgainstTheClass)
{
    CComPtr<ITestObj> t;
    CComObject<CTestObj>* obj = nullptr;
    ASSERT_EQ(CComObject<CTestObj>::CreateInstance(&obj), S_OK);
    t = obj;
    _bstr_t text("Illegal index 3 for vector with 2 element(s).");
    EXPECT_EQ(t->fail(text), DISP_E_EXCEPTION);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR src = nullptr, desc = nullptr;
    GUID g = IID_ITestObj;
    info->GetSource(&src);
    info->GetDescription(&desc);
    info->GetGUID(&g);
    EXPECT_EQ(com::bstr_to_utf8(src), "VxTest.TestObj.1");
    EXPECT_EQ(com::bstr_to_utf8(desc), "Illegal index 3 for vector with 2 element(s).");
    EXPECT_EQ(g, GUID_NULL);
    SysFreeString(src);
    SysFreeString(desc);
    info->Release();
    EXPECT_EQ(AtlReportError(CLSID_TestObj, "x", GUID_NULL, E_FAIL), E_FAIL);
    SetErrorInfo(0, nullptr);

    // The client wrapper picks the error object up through ISupportErrorInfo.
    t->fail(_bstr_t("boom"));
    try {
        com::check(DISP_E_EXCEPTION, t, IID_ITestObj);
        FAIL();
    } catch (const _com_error& e) {
        EXPECT_EQ(std::string(static_cast<const char*>(e.Description())), "boom");
        EXPECT_EQ(std::string(static_cast<const char*>(e.Source())), "VxTest.TestObj.1");
    }
}

TEST(Dispatch, TableDrivenNamesAndInvoke)
{
    CComPtr<IDispatch> d;
    CComObject<CTestObj>* obj = nullptr;
    ASSERT_EQ(CComObject<CTestObj>::CreateInstance(&obj), S_OK);
    d = static_cast<ITestObj*>(obj);
    OLECHAR name[] = u"ADD";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 9);
    OLECHAR bad[] = u"nothing";
    names[0] = bad;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);

    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[1].vt = VT_I4; // first argument (arguments are reversed)
    args[1].lVal = 40;
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocString(u"2"); // coerced to a number
    DISPPARAMS params{args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(d->Invoke(9, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);
    params.cArgs = 1;
    EXPECT_EQ(d->Invoke(9, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
    VariantClear(&args[0]);

    // Property put then get.
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 7;
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS put{&v, &put_id, 1, 1};
    ASSERT_EQ(d->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(d->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.lVal, 7);
    EXPECT_EQ(d->Invoke(77, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);

    // A failing member fills the exception information.
    VARIANT msg;
    VariantInit(&msg);
    msg.vt = VT_BSTR;
    msg.bstrVal = SysAllocString(u"late-bound failure");
    DISPPARAMS one{&msg, nullptr, 1, 0};
    EXCEPINFO ex{};
    EXPECT_EQ(d->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, &ex, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(view(ex.bstrDescription), u"late-bound failure");
    EXPECT_EQ(view(ex.bstrSource), u"VxTest.TestObj.1");
    EXPECT_EQ(ex.scode, DISP_E_EXCEPTION);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrSource);
    VariantClear(&msg);
}

TEST(Registration, WrittenAndRemoved)
{
    GUID appid = com::make_guid("{40F143F6-D84A-4B29-803B-6C6C42261313}");
    com::class_registration reg{CLSID_TestObj, "TestObj Class", "VxTest.TestObj.1", "VxTest.TestObj", true,
                                true,          nullptr,         LIBID_TestLib,      nullptr,          &appid};
    ASSERT_EQ(com::register_class(reg, com::server_kind::local, "/opt/vx/testserver"), S_OK);
    ASSERT_EQ(com::register_app({appid, "Scoutline", "Scoutline.EXE"}), S_OK);
    const std::string ck = "CLSID\\{6C1B0E52-4A43-4C58-9E5B-2D7F1A9C0002}";
    std::string v;
    EXPECT_TRUE(com::read_classes_value(ck, nullptr, v) && v == "TestObj Class");
    EXPECT_TRUE(com::read_classes_value(ck + "\\LocalServer32", nullptr, v) && v == "/opt/vx/testserver");
    EXPECT_TRUE(com::read_classes_value(ck + "\\ProgID", nullptr, v) && v == "VxTest.TestObj.1");
    EXPECT_TRUE(com::read_classes_value(ck + "\\VersionIndependentProgID", nullptr, v) && v == "VxTest.TestObj");
    EXPECT_TRUE(com::read_classes_value(ck + "\\TypeLib", nullptr, v) && v == "{6C1B0E52-4A43-4C58-9E5B-2D7F1A9C0004}");
    EXPECT_TRUE(com::read_classes_value(ck, "AppID", v) && v == "{40F143F6-D84A-4B29-803B-6C6C42261313}");
    EXPECT_TRUE(com::read_classes_value("VxTest.TestObj\\CurVer", nullptr, v) && v == "VxTest.TestObj.1");
    EXPECT_TRUE(com::read_classes_value("AppID\\Scoutline.EXE", "AppID", v) &&
                v == "{40F143F6-D84A-4B29-803B-6C6C42261313}");
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, (ck + "\\Programmable").c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
    RegCloseKey(k);
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(u"VxTest.TestObj", &found), S_OK);
    EXPECT_EQ(found, CLSID_TestObj);
    LPOLESTR progid = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_TestObj, &progid), S_OK);
    EXPECT_EQ(std::u16string(progid), u"VxTest.TestObj.1");
    CoTaskMemFree(progid);

    ASSERT_EQ(com::unregister_class(reg), S_OK);
    ASSERT_EQ(com::unregister_app({appid, "Scoutline", "Scoutline.EXE"}), S_OK);
    for (const char* key : {"VxTest.TestObj", "VxTest.TestObj.1", "AppID\\Scoutline.EXE",
                            "AppID\\{40F143F6-D84A-4B29-803B-6C6C42261313}"}) {
        EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &k), ERROR_SUCCESS) << key;
    }
    EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, ck.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_EQ(com::unregister_class(reg), S_OK); // absent keys are fine
    EXPECT_EQ(CLSIDFromProgID(u"VxTest.TestObj", &found), CO_E_CLASSSTRING);
}

TEST(Registration, AllOrNothingInOneBatch)
{
    GUID appid = com::make_guid("{40F143F6-D84A-4B29-803B-6C6C42261313}");
    com::class_registration good{CLSID_TestObj, "TestObj Class", "VxTest.TestObj.1", "VxTest.TestObj", true,
                                 true,          nullptr,         LIBID_TestLib,      nullptr,          &appid};
    // An empty part in a key path cannot be written: the whole batch fails.
    com::class_registration bad = good;
    bad.progid = "VxTest\\\\Bad.1";
    {
        com::registration_batch batch;
        HRESULT hr = com::register_app({appid, "Scoutline", "Scoutline.EXE"});
        if (SUCCEEDED(hr))
            hr = com::register_class(good, com::server_kind::local, "/opt/vx/testserver");
        // Reads inside the batch see its writes.
        std::string v;
        EXPECT_TRUE(com::read_classes_value("VxTest.TestObj\\CurVer", nullptr, v) && v == "VxTest.TestObj.1");
        if (SUCCEEDED(hr))
            hr = com::register_class(bad, com::server_kind::local, "/opt/vx/testserver");
        EXPECT_EQ(batch.commit(hr), SELFREG_E_CLASS);
    }
    HKEY k = nullptr;
    for (const char* key : {"VxTest.TestObj", "AppID\\Scoutline.EXE", "CLSID\\{6C1B0E52-4A43-4C58-9E5B-2D7F1A9C0002}"})
        EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &k), ERROR_SUCCESS) << key;

    {
        com::registration_batch batch;
        {
            com::registration_batch inner; // joins the outer batch
            EXPECT_EQ(inner.commit(com::register_class(good, com::server_kind::local, "/opt/vx/testserver")), S_OK);
        }
        std::string v;
        EXPECT_TRUE(com::read_classes_value("VxTest.TestObj\\CurVer", nullptr, v));
        EXPECT_EQ(batch.commit(S_OK), S_OK);
    }
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "VxTest.TestObj", 0, KEY_READ, &k), ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(com::unregister_class(good), S_OK);
}

TEST(SmartPointers, QueryOnConversionAndThrowOnNull)
{
    CComObject<CTestObj>* obj = nullptr;
    ASSERT_EQ(CComObject<CTestObj>::CreateInstance(&obj), S_OK);
    CComPtr<IDispatch> d(static_cast<ITestObj*>(obj));
    _com_ptr_t<ITestObj> t(d.p); // converted through QueryInterface
    ASSERT_TRUE(t);
    t->put_number(3);
    CComQIPtr<ITestObj> q(d.p);
    EXPECT_EQ(q.p, t.GetInterfacePtr());
    EXPECT_TRUE(d.IsEqualObject(t));
    _com_ptr_t<IErrorInfo> none(d.p); // not offered: stays empty
    EXPECT_FALSE(none);
    EXPECT_THROW(none->GetHelpContext(nullptr), _com_error);
    EXPECT_EQ(obj->m_dwRef.load(), 3);
    t = nullptr;
    q.Release();
    EXPECT_EQ(obj->m_dwRef.load(), 1);
}
