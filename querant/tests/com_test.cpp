// The automation objects without a network: registration, the vector's
// element access by number, error objects and the result objects.
#include "querant/querant_com.h"
#include "querant/snmp_manager.h"

#include <com/com.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "com_server.h"

namespace {

class ComObjects : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        home = test_home("comunit");
        ASSERT_NO_FATAL_FAILURE(register_server(home));
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

// Late-bound calls: every member by name, through Invoke, reaches its own
// vtable slot with its own DISPID.
TEST_F(ComObjects, EveryMemberByNameThroughInvoke)
{
    auto id_of = [](IDispatch* object, const char* name) {
        std::u16string wide = com::utf8_to_utf16(name);
        LPOLESTR names[] = {wide.data()};
        DISPID id = -1;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
        return id;
    };
    // Arguments in call order; the result, or the failure's description.
    auto call = [&](IDispatch* object, const char* name, WORD flags, std::vector<_variant_t> args,
                    VARIANT* result = nullptr) {
        std::vector<VARIANT> reversed;
        for (auto it = args.rbegin(); it != args.rend(); ++it)
            reversed.push_back(*it);
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                          static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        EXCEPINFO excep{};
        const HRESULT hr = object->Invoke(id_of(object, name), IID_NULL, 0, flags, &params, result, &excep, nullptr);
        std::string description = hr == S_OK ? "" : com::bstr_to_utf8(excep.bstrDescription);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        return hr == S_OK ? std::string("ok") : description;
    };
    const std::vector<std::pair<const char*, DISPID>> manager_ids = {
        {"start", 1},
        {"stop", 2},
        {"get", 3},
        {"set", 4},
        {"watch", 5},
        {"end_watch", 6},
        {"get_all", 7},
        {"get_changes", 8},
        {"num_threads", 9},
        {"poll_period", 10},
        {"timeout", 11},
        {"retry_count", 12},
        {"user", 13},
        {"password", 14},
        {"get_device_changes", 15},
        {"clear_watch", 16},
        {"end_device_watch", 17},
        {"watch_size", 18},
        {"get_next", 19},
    };
    for (auto& [name, id] : manager_ids)
        EXPECT_EQ(id_of(manager, name), id) << name;

    const WORD get = DISPATCH_PROPERTYGET, put = DISPATCH_PROPERTYPUT, method = DISPATCH_METHOD;
    EXPECT_EQ(call(manager, "poll_period", put, {_variant_t(2000L)}), "ok");
    EXPECT_EQ(call(manager, "timeout", put, {_variant_t(700L)}), "ok");
    EXPECT_EQ(call(manager, "retry_count", put, {_variant_t(1L)}), "ok");
    EXPECT_EQ(call(manager, "num_threads", put, {_variant_t(2L)}), "ok");
    EXPECT_EQ(call(manager, "user", put, {_variant_t("tagrok")}), "ok");
    EXPECT_EQ(call(manager, "password", put, {_variant_t("secret")}), "ok");
    long n = 0;
    manager->get_poll_period(&n);
    EXPECT_EQ(n, 2000);
    manager->get_timeout(&n);
    EXPECT_EQ(n, 700);
    manager->get_retry_count(&n);
    EXPECT_EQ(n, 1);
    manager->get_num_threads(&n);
    EXPECT_EQ(n, 2);
    BSTR text = nullptr;
    manager->get_password(&text);
    EXPECT_EQ(com::bstr_to_utf8(text), "secret");
    SysFreeString(text);
    _variant_t result;
    EXPECT_EQ(call(manager, "user", get, {}, &result), "ok");
    EXPECT_EQ(com::bstr_to_utf8(result.bstrVal), "tagrok");
    EXPECT_EQ(call(manager, "poll_period", put, {_variant_t(99L)}), "Out of range of the poll_period");

    EXPECT_EQ(call(manager, "watch", method, {_variant_t("127.0.0.2"), _variant_t("1.3.6.1")}), "ok");
    EXPECT_EQ(call(manager, "watch", method, {_variant_t("127.0.0.3"), _variant_t("1.3.6.2")}), "ok");
    EXPECT_EQ(call(manager, "watch", method, {_variant_t("127.0.0.3"), _variant_t("1.3.6.3")}), "ok");
    EXPECT_EQ(call(manager, "watch_size", get, {}, &result), "ok");
    EXPECT_EQ(result.lVal, 3);
    EXPECT_EQ(call(manager, "end_watch", method, {_variant_t("127.0.0.3"), _variant_t("1.3.6.3")}), "ok");
    for (const char* name : {"get_all", "get_changes"}) {
        EXPECT_EQ(call(manager, name, method, {}, &result), "ok") << name;
        EXPECT_EQ(result.vt, VT_DISPATCH) << name;
    }
    EXPECT_EQ(call(manager, "get_all", method, {}, &result), "ok");
    IDispatch* vector = result.pdispVal;
    _variant_t element;
    EXPECT_EQ(call(vector, "length", get, {}, &element), "ok");
    EXPECT_EQ(element.lVal, 2);
    EXPECT_EQ(call(vector, "at", method, {_variant_t(1L)}, &element), "ok");
    IDispatch* variable = element.pdispVal;
    _variant_t field;
    EXPECT_EQ(call(variable, "ip", get, {}, &field), "ok");
    EXPECT_EQ(com::bstr_to_utf8(field.bstrVal), "127.0.0.3");
    EXPECT_EQ(call(variable, "name", get, {}, &field), "ok");
    EXPECT_EQ(com::bstr_to_utf8(field.bstrVal), "1.3.6.2");
    EXPECT_EQ(call(variable, "value", put, {_variant_t("7")}), "ok");
    EXPECT_EQ(call(variable, "value", get, {}, &field), "ok");
    EXPECT_EQ(com::bstr_to_utf8(field.bstrVal), "7");
    EXPECT_EQ(call(variable, "valid", get, {}, &field), "ok");
    EXPECT_EQ(field.lVal, 0);
    EXPECT_EQ(call(variable, "type", get, {}, &field), "ok");
    EXPECT_EQ(field.lVal, 0);
    EXPECT_EQ(call(vector, "at", method, {_variant_t(2L)}, &element), "Illegal index 2 for vector with 2 element(s).");

    EXPECT_EQ(call(manager, "get_device_changes", method, {_variant_t("127.0.0.3")}, &result), "ok");
    EXPECT_EQ(call(manager, "end_device_watch", method, {_variant_t("127.0.0.3")}), "ok");
    EXPECT_EQ(call(manager, "clear_watch", method, {}), "ok");
    EXPECT_EQ(call(manager, "watch_size", get, {}, &result), "ok");
    EXPECT_EQ(result.lVal, 0);
    // No worker runs yet: each request member reaches the engine and fails there.
    EXPECT_EQ(call(manager, "get", method, {_variant_t("127.0.0.2"), _variant_t("1.3.6.1")}, &result),
              querant::text::no_worker);
    EXPECT_EQ(call(manager, "get_next", method, {_variant_t("127.0.0.2"), _variant_t("1.3.6.1")}, &result),
              querant::text::no_worker);
    EXPECT_EQ(call(manager, "set", method, {_variant_t("127.0.0.2"), _variant_t("1.3.6.1"), _variant_t("1")}, &result),
              querant::text::no_worker);
    EXPECT_EQ(call(manager, "set", method, {_variant_t("1.2.3"), _variant_t("1.3.6.1"), _variant_t("1")}, &result),
              "Invalid IP address");
    EXPECT_EQ(call(manager, "num_threads", put, {_variant_t(0L)}), "Out of the range of the thread number");
}

} // namespace
