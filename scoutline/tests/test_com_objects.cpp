// The discovery automation objects in process, on adapters that exist only in
// the registry view (their engines cannot open them, but keep a device table),
// and the same objects through the local-server transport over a socket pair.
#include <scoutline/com/objects.h>
#include "com_helpers.h"

#include <win32/registry.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <thread>

namespace {

CComModule _Module;
BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_manager, Cmanager)
OBJECT_ENTRY(CLSID_com_adapter, Ccom_adapter)
OBJECT_ENTRY(CLSID_com_device, Ccom_device)
OBJECT_ENTRY(CLSID_com_bstr_vector, Ccom_bstr_vector)
END_OBJECT_MAP()

std::vector<vx_net_adapter> fake_adapters;

void use_adapters(std::vector<vx_net_adapter> list)
{
    fake_adapters = std::move(list);
    vx_registry_set_adapter_source([] { return fake_adapters; });
    scoutline::reset_adapter_list();
}

vx_net_adapter fake(const std::string& name, const std::string& ip = "", const std::string& mask = "")
{
    vx_net_adapter a;
    a.name = name;
    a.description = "fake";
    a.ip = ip;
    a.mask = mask;
    return a;
}

struct Env : ::testing::Environment {
    void SetUp() override
    {
        char tmpl[] = "/tmp/scoutline_com_XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
        std::filesystem::create_directories(dir + "/run");
        scoutline::register_interface_tables();
        _Module.Init(ObjectMap, com::server_kind::local);
        CoInitialize(nullptr);
        ASSERT_EQ(_Module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE), S_OK);
        loop = std::thread([] { com::run_server_loop(); });
    }
    void TearDown() override
    {
        com::post_quit();
        loop.join();
        _Module.RevokeClassObjects();
        _Module.Term();
        CoUninitialize();
        vx_registry_set_adapter_source(nullptr);
        std::filesystem::remove_all(dir);
    }
    std::string dir;
    std::thread loop;
};
::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new Env);

using scoutline_test::as;

// "<null>" keeps a missing text apart from an empty one.
std::string take(BSTR text) { return scoutline_test::take_text(text, "<null>"); }

CComPtr<Imanager> manager_in_process()
{
    CComPtr<IClassFactory> factory;
    EXPECT_EQ(_Module.GetClassObject(CLSID_manager, IID_IClassFactory, reinterpret_cast<void**>(&factory.p)), S_OK);
    CComPtr<Imanager> manager;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_Imanager, reinterpret_cast<void**>(&manager.p)), S_OK);
    return manager;
}

CComPtr<Icom_adapter> get_adapter(Imanager* manager, const char* name)
{
    CComPtr<IDispatch> object;
    EXPECT_EQ(manager->adapter_get(_bstr_t(name), &object), S_OK);
    return as<Icom_adapter>(object);
}

qm::vx::adapter_t* engine_of(Icom_adapter* adapter) { return static_cast<Ccom_adapter*>(adapter)->get_engine(); }

qm::mac_address_t mac(const char* text)
{
    qm::mac_address_t m;
    m.assign_text(text);
    return m;
}

struct device_view {
    LONG valid = -1;
    std::string ip, mac;
    LONG age = -1;
};

device_view read(IDispatch* object)
{
    device_view v;
    auto device = as<Icom_device>(object);
    if (!device)
        return v;
    EXPECT_EQ(device->get_valid(&v.valid), S_OK);
    BSTR ip = nullptr, m = nullptr;
    EXPECT_EQ(device->get_ip(&ip), S_OK);
    EXPECT_EQ(device->get_mac(&m), S_OK);
    EXPECT_EQ(device->get_age(&v.age), S_OK);
    v.ip = take(ip);
    v.mac = take(m);
    return v;
}

// The MACs of a walk with device_first / device_next.
std::vector<std::string> walk(Icom_adapter* adapter)
{
    std::vector<std::string> macs;
    CComPtr<IDispatch> current;
    EXPECT_EQ(adapter->device_first(&current), S_OK);
    for (;;) {
        // The walk ends on an unbound object, never on null: the console
        // reads `valid` of whatever comes back.
        EXPECT_TRUE(current);
        if (!current)
            break;
        device_view v = read(current);
        if (v.valid != 1) {
            EXPECT_EQ(v.valid, 0);
            break;
        }
        macs.push_back(v.mac);
        CComPtr<IDispatch> next;
        EXPECT_EQ(adapter->device_next(current, &next), S_OK);
        current = next;
    }
    return macs;
}

class Objects : public ::testing::Test {
protected:
    void SetUp() override
    {
        use_adapters({fake("vxq0", "192.168.1.50", "255.255.255.0"), fake("vxq1")});
        manager = manager_in_process();
        ASSERT_TRUE(manager);
    }
    CComPtr<Imanager> manager;
};

TEST_F(Objects, AdaptersAreListedInNameOrderAndIndexedStrictly)
{
    CComPtr<IDispatch> object;
    ASSERT_EQ(manager->get_adapters(&object), S_OK);
    auto names = as<Icom_bstr_vector>(object);
    ASSERT_TRUE(names);
    LONG length = 0;
    ASSERT_EQ(names->get_length(&length), S_OK);
    ASSERT_EQ(length, 2);
    BSTR text = nullptr;
    ASSERT_EQ(names->at(0, &text), S_OK);
    EXPECT_EQ(take(text), "[0] vxq0");
    ASSERT_EQ(names->at(1, &text), S_OK);
    EXPECT_EQ(take(text), "[1] vxq1");

    for (LONG bad : {LONG(-1), LONG(2), LONG(0x7FFFFFFF)}) {
        text = nullptr;
        EXPECT_EQ(names->at(bad, &text), DISP_E_EXCEPTION);
        EXPECT_EQ(text, nullptr);
        CComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, &info.p), S_OK);
        BSTR description = nullptr, source = nullptr;
        info->GetDescription(&description);
        info->GetSource(&source);
        EXPECT_EQ(take(description), scoutline::illegal_index_text(bad, 2));
        EXPECT_EQ(take(source), "Scoutline.com_bstr_vector.1");
    }
    EXPECT_EQ(scoutline::illegal_index_text(-1, 2), "Illegal index -1 for vector with 2 element(s).");
    EXPECT_EQ(as<ISupportErrorInfo>(names)->InterfaceSupportsErrorInfo(IID_Icom_bstr_vector), S_OK);

    // A machine without adapters lists none.
    use_adapters({});
    CComPtr<IDispatch> empty;
    ASSERT_EQ(manager->get_adapters(&empty), S_OK);
    ASSERT_EQ(as<Icom_bstr_vector>(empty)->get_length(&length), S_OK);
    EXPECT_EQ(length, 0);
}

TEST_F(Objects, VectorElementsAreReachableByLateBinding)
{
    CComPtr<IDispatch> names;
    ASSERT_EQ(manager->get_adapters(&names), S_OK);

    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO excep{};
    ASSERT_EQ(names->Invoke(257, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(com::bstr_to_utf8(result.bstrVal), "[1] vxq1");
    VariantClear(&result);
    EXPECT_EQ(names->Invoke(256, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &excep, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(names->Invoke(256, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, &result, &excep, nullptr),
              DISP_E_TYPEMISMATCH);

    ASSERT_EQ(names->Invoke(258, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.wCode, 1001);
    EXPECT_EQ(take(excep.bstrSource), "Scoutline BSTR vector");
    EXPECT_EQ(take(excep.bstrDescription), "Illegal index 2 for vector with 2 element(s).");
    EXPECT_EQ(result.vt, VT_EMPTY);

    // Below 256 the interface's own members answer.
    ASSERT_EQ(names->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 2);
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = 5;
    DISPPARAMS one{&index, nullptr, 1, 0};
    excep = EXCEPINFO{};
    ASSERT_EQ(names->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &one, &result, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(take(excep.bstrDescription), "Illegal index 5 for vector with 2 element(s).");
    SysFreeString(excep.bstrSource);
    LPOLESTR name = const_cast<LPOLESTR>(u"AT");
    DISPID id = 0;
    EXPECT_EQ(names->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 2);
}

TEST_F(Objects, OneAdapterObjectPerNameWhileClientsHoldIt)
{
    testing::internal::CaptureStdout();
    auto first = get_adapter(manager, "[0] vxq0");
    auto second = get_adapter(manager, "[0] vxq0");
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first.IsEqualObject(second));
    EXPECT_EQ(first.p, second.p);
    EXPECT_NE(engine_of(first), nullptr);
    size_t at = out.find("creating adapter [0] vxq0\n");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.find("creating adapter", at + 1), std::string::npos) << out;

    first.Release();
    testing::internal::CaptureStdout();
    second.Release();
    out = testing::internal::GetCapturedStdout();
    const size_t removing = out.find("removing adapter...\n");
    ASSERT_NE(removing, std::string::npos) << out;
    EXPECT_LT(removing, out.find("closing down adapter...")) << out;
    EXPECT_NE(out.find("Writing IP history"), std::string::npos) << out;
    EXPECT_EQ(static_cast<Cmanager*>(manager.p)->cached_adapters(), 0u);

    // The next request builds a new engine.
    testing::internal::CaptureStdout();
    auto again = get_adapter(manager, "[0] vxq0");
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("creating adapter [0] vxq0"), std::string::npos) << out;
    ASSERT_TRUE(again);
    EXPECT_NE(engine_of(again), nullptr);
}

TEST_F(Objects, AdapterPropertiesMapOntoTheEngine)
{
    auto adapter = get_adapter(manager, "[0] vxq0");
    ASSERT_TRUE(adapter);
    BSTR text = nullptr;
    ASSERT_EQ(adapter->get_ip(&text), S_OK);
    EXPECT_EQ(take(text), "192.168.1.50");
    ASSERT_EQ(adapter->get_ip_subnet(&text), S_OK);
    EXPECT_EQ(take(text), "255.255.255.0");
    // The default range is computed by an open, which fails here.
    auto* engine = engine_of(adapter);
    ASSERT_EQ(adapter->get_ip_start_default(&text), S_OK);
    EXPECT_EQ(take(text), engine->get_ip_start_default().to_string());
    ASSERT_EQ(adapter->get_ip_end_default(&text), S_OK);
    EXPECT_EQ(take(text), engine->get_ip_end_default().to_string());

    ASSERT_EQ(adapter->put_ip_start(_bstr_t("192.168.1.100")), S_OK);
    ASSERT_EQ(adapter->put_ip_end(_bstr_t("192.168.1.120")), S_OK);
    ASSERT_EQ(adapter->get_ip_start(&text), S_OK);
    EXPECT_EQ(take(text), "192.168.1.100");
    ASSERT_EQ(adapter->get_ip_end(&text), S_OK);
    EXPECT_EQ(take(text), "192.168.1.120");
    ASSERT_EQ(adapter->get_ip_start_default(&text), S_OK);
    EXPECT_EQ(take(text), engine->get_ip_start_default().to_string());

    LONG on = -1;
    ASSERT_EQ(adapter->get_autoassign(&on), S_OK);
    EXPECT_EQ(on, 0);
    ASSERT_EQ(adapter->put_autoassign(7), S_OK);
    ASSERT_EQ(adapter->get_autoassign(&on), S_OK);
    EXPECT_EQ(on, 1);
    EXPECT_TRUE(engine_of(adapter)->get_autoassign());
    ASSERT_EQ(adapter->put_autoassign(0), S_OK);
    EXPECT_FALSE(engine_of(adapter)->get_autoassign());

    ASSERT_EQ(adapter->put_send_reservation(1), S_OK);
    ASSERT_EQ(adapter->get_send_reservation(&on), S_OK);
    EXPECT_EQ(on, 1);
    ASSERT_EQ(adapter->put_send_reservation(0), S_OK);
    ASSERT_EQ(adapter->get_send_reservation(&on), S_OK);
    EXPECT_EQ(on, 0);
}

TEST_F(Objects, DevicesAreWalkedInMacOrderAndHandledByMac)
{
    auto adapter = get_adapter(manager, "[1] vxq1");
    ASSERT_TRUE(adapter);
    auto* engine = engine_of(adapter);
    ASSERT_NE(engine, nullptr);

    // An empty table gives an unbound object that answers without output.
    CComPtr<IDispatch> none;
    ASSERT_EQ(adapter->device_first(&none), S_OK);
    ASSERT_TRUE(none);
    auto unbound = as<Icom_device>(none);
    LONG valid = -1;
    ASSERT_EQ(unbound->get_valid(&valid), S_OK);
    EXPECT_EQ(valid, 0);
    BSTR text = nullptr;
    EXPECT_EQ(unbound->get_ip(&text), S_OK);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(unbound->put_ip(_bstr_t("10.0.0.1")), S_OK);

    for (const char* m : {"0050c2000003", "0050c2000001", "ff0000000000", "0050c2000002"})
        engine->touch(mac(m));
    EXPECT_EQ(walk(adapter),
              (std::vector<std::string>{"0050c2000001", "0050c2000002", "0050c2000003", "ff0000000000"}));

    CComPtr<IDispatch> found;
    ASSERT_EQ(adapter->device_get(_bstr_t("0050c2000002"), &found), S_OK);
    device_view v = read(found);
    EXPECT_EQ(v.valid, 1);
    EXPECT_EQ(v.mac, "0050c2000002");
    EXPECT_EQ(v.ip, "0.0.0.0");
    EXPECT_GE(v.age, 0);
    EXPECT_LT(v.age, 5000);
    CComPtr<IDispatch> absent;
    ASSERT_EQ(adapter->device_get(_bstr_t("0050c2000009"), &absent), S_OK);
    EXPECT_EQ(read(absent).valid, 0);

    // Each call makes a new object.
    CComPtr<IDispatch> again;
    ASSERT_EQ(adapter->device_get(_bstr_t("0050c2000002"), &again), S_OK);
    EXPECT_FALSE(found.IsEqualObject(again));

    // device_next of a null or foreign object answers without output.
    IDispatch* const untouched = reinterpret_cast<IDispatch*>(uintptr_t(0x10));
    IDispatch* out = untouched;
    EXPECT_EQ(adapter->device_next(nullptr, &out), S_OK);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(adapter->device_next(adapter, &out), S_OK);
    EXPECT_EQ(out, untouched);

    // A manual assignment is queued through the record.
    ASSERT_EQ(as<Icom_device>(found)->put_ip(_bstr_t("192.168.1.77")), S_OK);
    ASSERT_FALSE(engine->assignment_empty());
    EXPECT_EQ(engine->assignment_front().ip.to_string(), "192.168.1.77");
    EXPECT_EQ(engine->assignment_front().automatic, 0);

    LONG removed = -1;
    ASSERT_EQ(adapter->device_remove(_bstr_t("0050c2000002"), &removed), S_OK);
    EXPECT_EQ(removed, 1);
    ASSERT_EQ(adapter->device_remove(_bstr_t("0050c2000002"), &removed), S_OK);
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(walk(adapter), (std::vector<std::string>{"0050c2000001", "0050c2000003", "ff0000000000"}));
    // A removed device's object still reads its record, and the walk goes on from it.
    EXPECT_EQ(read(found).mac, "0050c2000002");
    CComPtr<IDispatch> after;
    ASSERT_EQ(adapter->device_next(found, &after), S_OK);
    EXPECT_EQ(read(after).mac, "0050c2000003");
}

TEST_F(Objects, AnAgeOfTwoToThe31MsOrMoreStaysPositive)
{
    auto adapter = get_adapter(manager, "[1] vxq1");
    ASSERT_TRUE(adapter);
    engine_of(adapter)->touch(mac("0050c2000001"));
    CComPtr<IDispatch> found;
    ASSERT_EQ(adapter->device_get(_bstr_t("0050c2000001"), &found), S_OK);
    for (ULONGLONG silent : {0x7FFFFFFFull + 5000, 0xFFFFF000ull}) {
        vx_set_tick_offset(silent);
        const LONG age = read(found).age;
        vx_set_tick_offset(0);
        EXPECT_EQ(age, 0x7FFFFFFF) << silent;
    }
}

TEST_F(Objects, DeviceObjectsOutlivingTheirAdapterBecomeUnbound)
{
    auto adapter = get_adapter(manager, "[1] vxq1");
    engine_of(adapter)->touch(mac("0050c2000011"));
    CComPtr<IDispatch> device;
    ASSERT_EQ(adapter->device_first(&device), S_OK);
    EXPECT_EQ(read(device).valid, 1);

    testing::internal::CaptureStdout();
    adapter.Release(); // the engine and its table go now
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("closing down adapter..."), std::string::npos);

    auto d = as<Icom_device>(device);
    LONG valid = -1;
    ASSERT_EQ(d->get_valid(&valid), S_OK);
    EXPECT_EQ(valid, 0);
    BSTR text = nullptr;
    EXPECT_EQ(d->get_mac(&text), S_OK);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(d->put_ip(_bstr_t("192.168.1.9")), S_OK);
    LONG age = -1;
    EXPECT_EQ(d->get_age(&age), S_OK);
    EXPECT_EQ(age, -1);

    // Handed to a new engine of the same name, it is no device of that table.
    auto fresh = get_adapter(manager, "[1] vxq1");
    engine_of(fresh)->touch(mac("0050c2000011"));
    CComPtr<IDispatch> next;
    ASSERT_EQ(fresh->device_next(device, &next), S_OK);
    EXPECT_EQ(read(next).valid, 0);
}

TEST_F(Objects, UnknownAdapterNameGivesAnObjectThatDoesNothing)
{
    testing::internal::CaptureStdout();
    auto adapter = get_adapter(manager, "[7] missing");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("creating adapter [7] missing"), std::string::npos);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(engine_of(adapter), nullptr);

    testing::internal::CaptureStdout();
    LONG number = -5;
    BSTR text = nullptr;
    CComPtr<IDispatch> object;
    EXPECT_EQ(adapter->get_autoassign(&number), S_OK);
    EXPECT_EQ(adapter->put_autoassign(1), S_OK);
    EXPECT_EQ(adapter->get_ip(&text), S_OK);
    EXPECT_EQ(adapter->put_ip_start(_bstr_t("1.2.3.4")), S_OK);
    EXPECT_EQ(adapter->get_ip_start(&text), S_OK);
    EXPECT_EQ(adapter->start(), S_OK);
    EXPECT_EQ(adapter->put_send_reservation(1), S_OK);
    EXPECT_EQ(adapter->device_first(&object), S_OK);
    EXPECT_EQ(adapter->device_get(_bstr_t("0050c2000001"), &object), S_OK);
    EXPECT_EQ(adapter->device_remove(_bstr_t("0050c2000001"), &number), S_OK);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(number, -5);
    EXPECT_EQ(text, nullptr);
    EXPECT_FALSE(object);
    EXPECT_EQ(out, "");
}

// ---- the same objects through the transport ------------------------------------------

template <class F> auto on_server(F fn)
{
    std::packaged_task<decltype(fn())()> task(fn);
    auto result = task.get_future();
    com::post([&] { task(); });
    return result.get();
}

class Remote : public Objects {
protected:
    void SetUp() override
    {
        Objects::SetUp();
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
        client_fd = sv[1];
        ASSERT_EQ(com::serve_connection(sv[0]), S_OK);
        ASSERT_EQ(com::connect_object(sv[1], CLSID_manager, IID_Imanager, reinterpret_cast<void**>(&remote.p)), S_OK);
        ASSERT_TRUE(remote);
    }
    CComPtr<Imanager> remote;
    int client_fd = -1;
};

TEST_F(Remote, WalkIdentityAndErrorsCrossTheTransport)
{
    // Calls from the client run on the server's loop thread: the table is
    // filled there too.
    auto adapter = get_adapter(remote, "[1] vxq1");
    ASSERT_TRUE(adapter);
    auto local = get_adapter(manager, "[1] vxq1");
    on_server([&] {
        for (const char* m : {"0050c2000022", "0050c2000021"})
            engine_of(local)->touch(mac(m));
        return 0;
    });
    EXPECT_EQ(walk(adapter), (std::vector<std::string>{"0050c2000021", "0050c2000022"}));
    auto twice = get_adapter(remote, "[1] vxq1");
    EXPECT_EQ(adapter.p, twice.p);

    CComPtr<IDispatch> names;
    ASSERT_EQ(remote->get_adapters(&names), S_OK);
    BSTR text = nullptr;
    EXPECT_EQ(as<Icom_bstr_vector>(names)->at(2, &text), DISP_E_EXCEPTION);
    CComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, &info.p), S_OK);
    BSTR description = nullptr;
    info->GetDescription(&description);
    EXPECT_EQ(take(description), "Illegal index 2 for vector with 2 element(s).");

    // A device object passed back resolves to the server's own object.
    CComPtr<IDispatch> first;
    ASSERT_EQ(adapter->device_first(&first), S_OK);
    ASSERT_EQ(as<Icom_device>(first)->put_ip(_bstr_t("192.168.1.88")), S_OK);
    EXPECT_EQ(on_server([&] { return engine_of(local)->assignment_front().ip.to_string(); }), "192.168.1.88");

    // Releasing every client reference ends the engine on the server thread.
    local.Release();
    adapter.Release();
    twice.Release();
    first.Release();
    auto cached = [&] { return on_server([&] { return static_cast<Cmanager*>(manager.p)->cached_adapters(); }); };
    for (int i = 0; i < 3000 && cached() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(cached(), 0u);
}

TEST_F(Remote, EveryAdapterMemberCrossesTheTransport)
{
    // The member tables are kept apart from the declarations: an argument
    // kind out of step shows only in a remote call.
    EXPECT_EQ(remote->show_console(), S_OK);
    auto adapter = get_adapter(remote, "[0] vxq0");
    ASSERT_TRUE(adapter);
    auto local = get_adapter(manager, "[0] vxq0");
    auto engine = [&] { return engine_of(local); };

    auto text = [](HRESULT (Icom_adapter::*get)(BSTR*), Icom_adapter* a) {
        BSTR t = nullptr;
        EXPECT_EQ((a->*get)(&t), S_OK);
        return take(t);
    };
    EXPECT_EQ(text(&Icom_adapter::get_ip, adapter), "192.168.1.50");
    EXPECT_EQ(text(&Icom_adapter::get_ip_subnet, adapter), "255.255.255.0");
    ASSERT_EQ(adapter->put_ip_start(_bstr_t("192.168.1.100")), S_OK);
    ASSERT_EQ(adapter->put_ip_end(_bstr_t("192.168.1.120")), S_OK);
    EXPECT_EQ(text(&Icom_adapter::get_ip_start, adapter), "192.168.1.100");
    EXPECT_EQ(text(&Icom_adapter::get_ip_end, adapter), "192.168.1.120");
    EXPECT_EQ(on_server([&] { return engine()->get_ip_start().to_string(); }), "192.168.1.100");
    EXPECT_EQ(on_server([&] { return engine()->get_ip_end().to_string(); }), "192.168.1.120");
    EXPECT_EQ(text(&Icom_adapter::get_ip_start_default, adapter),
              on_server([&] { return engine()->get_ip_start_default().to_string(); }));
    EXPECT_EQ(text(&Icom_adapter::get_ip_end_default, adapter),
              on_server([&] { return engine()->get_ip_end_default().to_string(); }));

    LONG on = -1;
    ASSERT_EQ(adapter->put_autoassign(1), S_OK);
    EXPECT_TRUE(on_server([&] { return engine()->get_autoassign(); }));
    EXPECT_FALSE(on_server([&] { return engine()->get_send_reservation(); }));
    ASSERT_EQ(adapter->get_autoassign(&on), S_OK);
    EXPECT_EQ(on, 1);
    ASSERT_EQ(adapter->get_send_reservation(&on), S_OK);
    EXPECT_EQ(on, 0);
    ASSERT_EQ(adapter->put_send_reservation(1), S_OK);
    EXPECT_TRUE(on_server([&] { return engine()->get_send_reservation(); }));
    ASSERT_EQ(adapter->get_send_reservation(&on), S_OK);
    EXPECT_EQ(on, 1);
    ASSERT_EQ(adapter->put_send_reservation(0), S_OK);
    ASSERT_EQ(adapter->put_autoassign(0), S_OK);
    ASSERT_EQ(adapter->get_autoassign(&on), S_OK);
    EXPECT_EQ(on, 0);

    on_server([&] {
        engine()->touch(mac("0050c2000031"));
        return 0;
    });
    CComPtr<IDispatch> found;
    ASSERT_EQ(adapter->device_get(_bstr_t("0050c2000031"), &found), S_OK);
    EXPECT_EQ(read(found).mac, "0050c2000031");
    LONG removed = -1;
    ASSERT_EQ(adapter->device_remove(_bstr_t("0050c2000031"), &removed), S_OK);
    EXPECT_EQ(removed, 1);
    EXPECT_EQ(on_server([&] { return engine()->device_count(); }), 0u);

    found.Release();
    local.Release();
}

TEST_F(Remote, VectorElementsAreReachableByLateBindingAcrossTheTransport)
{
    // Element DISPIDs are not in the client's member table: the proxy hands
    // them to the server object's own Invoke.
    CComPtr<IDispatch> names;
    ASSERT_EQ(remote->get_adapters(&names), S_OK);
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO excep{};
    ASSERT_EQ(names->Invoke(257, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(com::bstr_to_utf8(result.bstrVal), "[1] vxq1");
    VariantClear(&result);
    EXPECT_EQ(names->Invoke(256, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &excep, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(result.vt, VT_EMPTY);

    ASSERT_EQ(names->Invoke(258, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.wCode, 1001);
    EXPECT_EQ(take(excep.bstrSource), "Scoutline BSTR vector");
    EXPECT_EQ(take(excep.bstrDescription), "Illegal index 2 for vector with 2 element(s).");
    EXPECT_EQ(result.vt, VT_EMPTY);

    // The same through a view that has the interface's table; its own
    // members are served through the proxy as before.
    auto vector = as<Icom_bstr_vector>(names);
    ASSERT_TRUE(vector);
    ASSERT_EQ(vector->Invoke(256, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), S_OK);
    EXPECT_EQ(take(std::exchange(result.bstrVal, nullptr)), "[0] vxq0");
    result.vt = VT_EMPTY;
    ASSERT_EQ(vector->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 2);
    excep = EXCEPINFO{};
    EXPECT_EQ(vector->Invoke(300, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(take(excep.bstrDescription), "Illegal index 44 for vector with 2 element(s).");
    SysFreeString(excep.bstrSource);
}

TEST_F(Remote, DisconnectReleasesTheClientsAdapter)
{
    auto adapter = get_adapter(remote, "[0] vxq0");
    ASSERT_TRUE(adapter);
    auto cached = [&] { return on_server([&] { return static_cast<Cmanager*>(manager.p)->cached_adapters(); }); };
    EXPECT_EQ(cached(), 1u);
    // The client goes away without releasing: its connection closes, and the
    // server drops the connection's references, engine included.
    shutdown(client_fd, SHUT_RDWR);
    for (int i = 0; i < 3000 && cached() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(cached(), 0u);
    LONG on = 0;
    EXPECT_TRUE(FAILED(adapter->get_autoassign(&on)));
}

} // namespace
