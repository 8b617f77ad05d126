// The automation objects without a network: registration, the vector's
// element access by number, error objects and the result objects.
#include "querant/querant_com.h"
#include "querant/snmp_manager.h"

#include <com/com.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {

class ComObjects : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        home = std::filesystem::temp_directory_path() / ("querant-comunit-" + std::to_string(getpid()));
        std::filesystem::create_directories(home);
        setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        void* lib = dlopen(QUERANT_LIB, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
        CoInitialize(nullptr);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(home); }

    void SetUp() override
    {
        IUnknown* unknown = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_com_manager, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&unknown)),
                  S_OK);
        ASSERT_EQ(unknown->QueryInterface(IID_Icom_manager, reinterpret_cast<void**>(&manager)), S_OK);
        unknown->Release();
    }
    void TearDown() override
    {
        if (manager)
            manager->Release();
    }

    static std::string error_text()
    {
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) != S_OK)
            return "(none)";
        BSTR d = nullptr;
        info->GetDescription(&d);
        std::string text = com::bstr_to_utf8(d);
        SysFreeString(d);
        info->Release();
        return text;
    }

    // A vector of five result records (never read: no worker runs).
    Icom_variable_vector* five()
    {
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(manager->watch(_bstr_t("127.0.0.2"), _bstr_t(("1.3.6." + std::to_string(i)).c_str())), S_OK);
        IDispatch* all = nullptr;
        EXPECT_EQ(manager->get_all(&all), S_OK);
        Icom_variable_vector* v = nullptr;
        EXPECT_EQ(all->QueryInterface(IID_Icom_variable_vector, reinterpret_cast<void**>(&v)), S_OK);
        all->Release();
        return v;
    }

    static inline std::filesystem::path home;
    Icom_manager* manager = nullptr;
};

TEST_F(ComObjects, RegistrationEntries)
{
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgIDA("Querant.com_manager", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_com_manager);
    EXPECT_EQ(CLSIDFromProgIDA("Querant.com_variable_vector.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_com_variable_vector);
    std::string model;
    ASSERT_TRUE(com::read_classes_value("CLSID\\" + com::guid_to_string(CLSID_com_variable) + "\\InprocServer32",
                                        "ThreadingModel", model));
    EXPECT_EQ(model, "Both");
    std::string curver;
    EXPECT_FALSE(com::read_classes_value("Querant.com_variable\\CurVer", nullptr, curver));
    EXPECT_TRUE(com::read_classes_value("Querant.com_manager\\CurVer", nullptr, curver));
    EXPECT_EQ(curver, "Querant.com_manager.1");
}

TEST_F(ComObjects, VectorElementsByNumber)
{
    Icom_variable_vector* v = five();
    long length = 0;
    v->get_length(&length);
    ASSERT_EQ(length, 5);

    auto id_of = [&](const char* name) {
        std::u16string wide = com::utf8_to_utf16(name);
        LPOLESTR names[] = {wide.data()};
        DISPID id = 0;
        EXPECT_EQ(v->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        return id;
    };
    EXPECT_EQ(id_of("3"), 259);
    EXPECT_EQ(id_of("12abc"), 268);
    EXPECT_EQ(id_of("length"), 1);

    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(v->Invoke(259, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_DISPATCH);
    IDispatch* fourth = nullptr;
    v->at(3, &fourth);
    EXPECT_EQ(result.pdispVal, fourth);
    fourth->Release();
    VariantClear(&result);
    EXPECT_EQ(v->Invoke(259, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), DISP_E_TYPEMISMATCH);

    EXCEPINFO excep{};
    EXPECT_EQ(v->Invoke(263, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.wCode, 1001);
    EXPECT_EQ(com::bstr_to_utf8(excep.bstrSource), "QMScoutline vector");
    EXPECT_EQ(com::bstr_to_utf8(excep.bstrDescription), "Illegal index 7 for vector with 5 element(s).");
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);

    IDispatch* none_out = nullptr;
    EXPECT_EQ(v->at(-1, &none_out), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "Illegal index -1 for vector with 5 element(s).");
    v->Release();
}

TEST_F(ComObjects, ResultObjectsAndErrors)
{
    Icom_variable_vector* v = five();
    IDispatch* first = nullptr;
    ASSERT_EQ(v->at(0, &first), S_OK);
    v->Release();
    Icom_variable* variable = nullptr;
    ASSERT_EQ(first->QueryInterface(IID_Icom_variable, reinterpret_cast<void**>(&variable)), S_OK);
    first->Release();
    BSTR text = nullptr;
    variable->get_value(&text);
    EXPECT_EQ(com::bstr_to_utf8(text), ""); // never read
    SysFreeString(text);
    variable->put_value(_bstr_t("mine"));
    variable->get_value(&text);
    EXPECT_EQ(com::bstr_to_utf8(text), "mine");
    SysFreeString(text);
    ISupportErrorInfo* support = nullptr;
    ASSERT_EQ(variable->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Icom_variable), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Icom_manager), S_FALSE);
    support->Release();
    variable->Release();

    // The put changed only that object.
    IDispatch* all = nullptr;
    manager->get_all(&all);
    Icom_variable_vector* again = nullptr;
    all->QueryInterface(IID_Icom_variable_vector, reinterpret_cast<void**>(&again));
    all->Release();
    again->at(0, &first);
    first->QueryInterface(IID_Icom_variable, reinterpret_cast<void**>(&variable));
    variable->get_value(&text);
    EXPECT_EQ(com::bstr_to_utf8(text), ""); // never read
    SysFreeString(text);
    variable->Release();
    first->Release();
    again->Release();

    for (int i = 0; i < 2; ++i) {
        IDispatch* changes = nullptr;
        ASSERT_EQ(manager->get_changes(&changes), S_OK);
        Icom_variable_vector* c = nullptr;
        changes->QueryInterface(IID_Icom_variable_vector, reinterpret_cast<void**>(&c));
        long length = -1;
        c->get_length(&length);
        EXPECT_EQ(length, 0);
        c->Release();
        changes->Release();
    }

    IDispatch* result = nullptr;
    EXPECT_EQ(manager->get(_bstr_t("127.0.0.2"), _bstr_t("1.3.6.1"), &result), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), querant::text::no_worker);
    EXPECT_EQ(manager->watch(_bstr_t("not.an.ip"), _bstr_t("1.3")), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "Invalid IP address");
    EXPECT_EQ(manager->put_num_threads(31), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "Out of the range of the thread number");
    EXPECT_EQ(manager->put_retry_count(-1), DISP_E_EXCEPTION);
    EXPECT_EQ(manager->put_timeout(-1), S_OK);
    EXPECT_EQ(manager->put_user(_bstr_t("tagrok")), S_OK);
    manager->get_user(&text);
    EXPECT_EQ(com::bstr_to_utf8(text), "tagrok");
    SysFreeString(text);
    long n = 0;
    manager->get_watch_size(&n);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(manager->end_device_watch(_bstr_t("127.0.0.2")), S_OK);
    manager->get_watch_size(&n);
    EXPECT_EQ(n, 0);
}

} // namespace
