// The local-server transport over a socket pair in one process: the server
// loop runs on its own thread, the test thread is the client.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include <com/com.h>

#include "test_home.h"
#include "test_iface.h"

static CComModule _Module;
BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_TestObj, CTestObj)
END_OBJECT_MAP()

namespace {

const HRESULT unavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

struct Env : ::testing::Environment {
    void SetUp() override
    {
        dir = make_test_home("transport");
        register_test_tables();
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
        std::filesystem::remove_all(dir);
    }
    std::string dir;
    std::thread loop;
};
::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new Env);

// Runs fn on the server's loop thread and waits for its result.
template <class F> auto on_server(F fn)
{
    std::packaged_task<decltype(fn())()> task(fn);
    auto result = task.get_future();
    com::post([&] { task(); });
    return result.get();
}

int live_on_server()
{
    return on_server([] { return g_test_live.load(); });
}

// Waits (bounded) until the server's live object count reaches n.
bool wait_live(int n)
{
    for (int i = 0; i < 3000; ++i) {
        if (live_on_server() == n)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class Transport : public ::testing::Test {
protected:
    void SetUp() override
    {
        live0 = live_on_server();
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
        server_fd = sv[0];
        client_fd = sv[1];
        ASSERT_EQ(com::serve_connection(server_fd), S_OK);
        ASSERT_EQ(com::connect_object(client_fd, CLSID_TestObj, IID_ITestObj, reinterpret_cast<void**>(&obj)), S_OK);
        ASSERT_NE(obj, nullptr);
    }
    void TearDown() override
    {
        if (obj)
            obj->Release();
        EXPECT_TRUE(wait_live(live0)) << "server objects left behind";
    }
    int live0 = 0;
    int server_fd = -1, client_fd = -1;
    ITestObj* obj = nullptr;
};

} // namespace

TEST_F(Transport, IntegersAndTextBothWays)
{
    LONG n = -1;
    ASSERT_EQ(obj->put_number(123456), S_OK);
    ASSERT_EQ(obj->get_number(&n), S_OK);
    EXPECT_EQ(n, 123456);
    LONG sum = 0;
    ASSERT_EQ(obj->add(-5, 47, &sum), S_OK);
    EXPECT_EQ(sum, 42);
    long wide = 0x7777777777;
    ASSERT_EQ(obj->get_wide(&wide), S_OK);
    EXPECT_EQ(wide, -1234567); // all of the C++ long written
    double quarter = 0;
    ASSERT_EQ(obj->get_quarter(&quarter), S_OK);
    EXPECT_EQ(quarter, 123456 / 4.0);

    const char16_t raw[] = u"a\0b\u00E9";
    BSTR in = SysAllocStringLen(raw, 4);
    BSTR out = nullptr;
    ASSERT_EQ(obj->echo(in, &out), S_OK);
    EXPECT_EQ(std::u16string(com::bstr_view(out)), std::u16string(u"a\0b\u00E9!", 5));
    SysFreeString(out);
    ASSERT_EQ(obj->put_name(in), S_OK);
    ASSERT_EQ(obj->get_name(&out), S_OK);
    EXPECT_EQ(SysStringLen(out), 4u);
    SysFreeString(out);
    SysFreeString(in);
    // A null text stays null.
    ASSERT_EQ(obj->put_name(nullptr), S_OK);
    out = SysAllocString(u"stale");
    BSTR keep = out;
    ASSERT_EQ(obj->get_name(&out), S_OK);
    EXPECT_EQ(out, nullptr);
    SysFreeString(keep);
    EXPECT_EQ(obj->get_number(nullptr), E_POINTER);
}

TEST_F(Transport, IdentityIsKept)
{
    IDispatch *self1 = nullptr, *self2 = nullptr;
    ASSERT_EQ(obj->get_self(&self1), S_OK);
    ASSERT_EQ(obj->get_self(&self2), S_OK);
    EXPECT_EQ(self1, self2); // the same server object gives the same proxy
    IUnknown *u1 = nullptr, *u2 = nullptr;
    ASSERT_EQ(obj->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u1)), S_OK);
    ASSERT_EQ(self1->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u2)), S_OK);
    EXPECT_EQ(u1, u2);
    ITestObj* again = nullptr;
    ASSERT_EQ(self1->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, obj);

    // Fresh objects are distinct, and passed back they resolve to the server's own.
    IDispatch *c1 = nullptr, *c2 = nullptr;
    ASSERT_EQ(obj->make_child(&c1), S_OK);
    ASSERT_EQ(obj->make_child(&c2), S_OK);
    EXPECT_NE(c1, c2);
    EXPECT_EQ(live_on_server(), live0 + 3);
    LONG mine = -1;
    ASSERT_EQ(obj->is_mine(c1, &mine), S_OK);
    EXPECT_EQ(mine, 1);
    ASSERT_EQ(obj->is_mine(self1, &mine), S_OK);
    EXPECT_EQ(mine, 2);
    ASSERT_EQ(obj->is_mine(nullptr, &mine), S_OK);
    EXPECT_EQ(mine, 0);
    // A local object of the client cannot travel: the server sees nothing.
    CComObject<CTestObj>* local = nullptr;
    ASSERT_EQ(CComObject<CTestObj>::CreateInstance(&local), S_OK);
    local->AddRef();
    ASSERT_EQ(obj->is_mine(static_cast<ITestObj*>(local), &mine), S_OK);
    EXPECT_EQ(mine, 0);
    local->Release();

    ITestObj* child = nullptr;
    ASSERT_EQ(c1->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&child)), S_OK);
    LONG n = 0;
    child->get_number(&n);
    EXPECT_EQ(n, 1);
    IUnknown* none = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(c1->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&none)), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    for (IUnknown* p : std::initializer_list<IUnknown*>{self1, self2, u1, u2, again, c1, c2, child})
        p->Release();
    EXPECT_TRUE(wait_live(live0 + 1)); // the children went with their last reference
}

TEST_F(Transport, ErrorInformationTravelsWithTheFailure)
{
    SetErrorInfo(0, nullptr);
    ASSERT_EQ(obj->fail(_bstr_t("Illegal index 7 for vector with 5 element(s).")), DISP_E_EXCEPTION);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR src = nullptr, desc = nullptr;
    info->GetSource(&src);
    info->GetDescription(&desc);
    EXPECT_EQ(com::bstr_to_utf8(src), "VxTest.TestObj.1");
    EXPECT_EQ(com::bstr_to_utf8(desc), "Illegal index 7 for vector with 5 element(s).");
    SysFreeString(src);
    SysFreeString(desc);
    info->Release();

    // The client wrapper finds it through ISupportErrorInfo on the proxy.
    obj->fail(_bstr_t("second"));
    try {
        com::check(DISP_E_EXCEPTION, obj, IID_ITestObj);
    } catch (const _com_error& e) {
        EXPECT_EQ(std::string(static_cast<const char*>(e.Description())), "second");
    }
    // A failure without error information leaves none behind from earlier.
    com::set_error_info(GUID_NULL, u"stale", u"stale");
    EXPECT_EQ(obj->throw_cpp(), RPC_E_SERVERFAULT);
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);

    // Late-bound calls through the proxy use the same table.
    CComPtr<IDispatch> d;
    ASSERT_EQ(obj->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = args[1].vt = VT_I4;
    args[0].lVal = 2;
    args[1].lVal = 3;
    DISPPARAMS p{args, nullptr, 2, 0};
    VARIANT r;
    VariantInit(&r);
    ASSERT_EQ(d->Invoke(9, IID_NULL, 0, DISPATCH_METHOD, &p, &r, nullptr, nullptr), S_OK);
    EXPECT_EQ(r.lVal, 5);
}

TEST_F(Transport, CallsFromSeveralClientThreadsAreSerialised)
{
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                LONG sum = 0;
                IDispatch* c = nullptr;
                if (obj->add(t, i, &sum) == S_OK && sum == t + i && obj->make_child(&c) == S_OK)
                    ++ok;
                if (c)
                    c->Release();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(ok.load(), 200);
}

TEST_F(Transport, DeadPeerGivesAnRpcFailure)
{
    IDispatch* child = nullptr;
    ASSERT_EQ(obj->make_child(&child), S_OK);
    // The server side goes away: the client is told, it does not hang.
    shutdown(server_fd, SHUT_RDWR);
    LONG n = 0;
    EXPECT_EQ(obj->get_number(&n), unavailable);
    BSTR out = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(obj->get_name(&out), unavailable);
    EXPECT_EQ(out, nullptr);
    ITestObj* t = nullptr;
    EXPECT_EQ(child->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&t)), unavailable);
    VARIANT r;
    VariantInit(&r);
    EXPECT_EQ(child->Invoke(late_describe, IID_NULL, 0, DISPATCH_METHOD, nullptr, &r, nullptr, nullptr), unavailable);
    EXPECT_EQ(r.vt, VT_EMPTY);
    child->Release(); // releasing over a dead connection is quiet
    EXPECT_TRUE(wait_live(live0)) << "the server released the dropped connection's objects";
}

TEST_F(Transport, DroppedClientReleasesEverything)
{
    IDispatch *a = nullptr, *b = nullptr, *self = nullptr;
    ASSERT_EQ(obj->make_child(&a), S_OK);
    ASSERT_EQ(obj->make_child(&b), S_OK);
    ASSERT_EQ(obj->get_self(&self), S_OK);
    ASSERT_EQ(obj->get_self(&self), S_OK); // two client references on one handle
    EXPECT_EQ(live_on_server(), live0 + 3);
    EXPECT_EQ(com::server_connection_count(), 1u);
    // The client dies without releasing anything.
    shutdown(client_fd, SHUT_RDWR);
    EXPECT_TRUE(wait_live(live0));
    for (int i = 0; i < 3000 && com::server_connection_count() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(com::server_connection_count(), 0u);
    // Local proxies can still be released.
    a->Release();
    b->Release();
    self->Release();
    self->Release();
}

TEST_F(Transport, ReleaseCountsMatchHandsOut)
{
    std::vector<IDispatch*> refs(5);
    for (auto& r : refs)
        ASSERT_EQ(obj->get_self(&r), S_OK);
    IDispatch* child = nullptr;
    ASSERT_EQ(obj->make_child(&child), S_OK);
    for (size_t i = 0; i < refs.size(); ++i)
        refs[i]->Release();
    LONG n = -1;
    ASSERT_EQ(obj->get_number(&n), S_OK); // still alive through obj
    child->Release();
    EXPECT_TRUE(wait_live(live0 + 1));
    obj->Release();
    obj = nullptr;
    EXPECT_TRUE(wait_live(live0));
}

// ---- late-bound calls beyond the member table ----------------------------------------

namespace {

VARIANT v_i4(LONG n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}
VARIANT v_bool(bool b)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
// Owns its text: free with VariantClear.
VARIANT v_text(const char* text)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text ? com::bstr_from_utf8(text) : nullptr;
    return v;
}

std::string text_of(VARIANT& v)
{
    std::string t = v.vt == VT_BSTR ? com::bstr_to_utf8(v.bstrVal) : "<vt " + std::to_string(v.vt) + ">";
    VariantClear(&v);
    return t;
}

std::string take(BSTR& s)
{
    std::string t = com::bstr_to_utf8(s);
    SysFreeString(s);
    s = nullptr;
    return t;
}

int invokes_on_server()
{
    return on_server([] { return g_test_invokes.load(); });
}

} // namespace

TEST_F(Transport, LateBoundCallsBeyondTheTableReachTheObject)
{
    CComPtr<IDispatch> d;
    ASSERT_EQ(obj->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    const int invokes0 = invokes_on_server();

    // Arguments of every kind, in rgvarg order, with a named DISPID.
    VARIANT args[4] = {v_bool(true), v_text("two words"), v_i4(-7), {}};
    VariantInit(&args[3]);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS p{args, &named, 4, 1};
    VARIANT r;
    VariantInit(&r);
    EXCEPINFO ex{};
    ASSERT_EQ(d->Invoke(late_describe, IID_NULL, 0x409, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &p, &r, &ex, nullptr),
              S_OK);
    EXPECT_EQ(text_of(r), "flags=3 lcid=1033 result=1 excep=1 args=BOOL:-1,BSTR:two words,I4:-7,EMPTY named=-3");
    // Without a result or exception record the object is told so.
    EXPECT_EQ(d->Invoke(late_describe, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&args[1]);

    // Results of every kind come back; what the result held before is replaced.
    VARIANT values[] = {v_i4(42), v_bool(false), v_text(nullptr), v_text("Zürich"), {}};
    VariantInit(&values[4]);
    for (VARIANT& value : values) {
        DISPPARAMS one{&value, nullptr, 1, 0};
        r = v_text("stale");
        ASSERT_EQ(d->Invoke(late_echo, IID_NULL, 0, DISPATCH_PROPERTYGET, &one, &r, nullptr, nullptr), S_OK);
        ASSERT_EQ(r.vt, value.vt);
        if (value.vt == VT_BSTR)
            EXPECT_EQ(std::u16string(com::bstr_view(r.bstrVal)), std::u16string(com::bstr_view(value.bstrVal)));
        else
            EXPECT_EQ(r.llVal, value.llVal);
        VariantClear(&r);
        VariantClear(&value);
    }
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(d->Invoke(late_echo, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(d->Invoke(300, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    UINT bad = 99;
    VARIANT three[3] = {v_i4(1), v_i4(2), v_i4(3)};
    DISPPARAMS p3{three, nullptr, 3, 0};
    EXPECT_EQ(d->Invoke(late_bad_arg, IID_NULL, 0, DISPATCH_METHOD, &p3, &r, nullptr, &bad), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(bad, 2u);
    EXPECT_EQ(invokes_on_server(), invokes0 + 10);

    // Members of the table are still served through the proxy's slots.
    ASSERT_EQ(obj->put_number(17), S_OK);
    ASSERT_EQ(d->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 17);
    EXPECT_EQ(invokes_on_server(), invokes0 + 10); // no more
}

TEST_F(Transport, LateBoundFailuresComeBackWhole)
{
    CComPtr<IDispatch> d;
    ASSERT_EQ(obj->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    VARIANT r;
    VariantInit(&r);
    VARIANT message = v_text("Illegal index 7 for vector with 5 element(s).");
    DISPPARAMS one{&message, nullptr, 1, 0};
    EXCEPINFO ex{};
    ex.bstrHelpFile = reinterpret_cast<BSTR>(1); // overwritten, not freed
    ASSERT_EQ(d->Invoke(late_raise, IID_NULL, 0, DISPATCH_METHOD, &one, &r, &ex, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(ex.wCode, 1001);
    EXPECT_EQ(take(ex.bstrSource), "VxTest late");
    EXPECT_EQ(take(ex.bstrDescription), "Illegal index 7 for vector with 5 element(s).");
    EXPECT_EQ(ex.scode, 0);
    EXPECT_EQ(ex.bstrHelpFile, nullptr);
    EXPECT_EQ(r.vt, VT_EMPTY);
    EXPECT_EQ(d->Invoke(late_raise, IID_NULL, 0, DISPATCH_METHOD, &one, &r, nullptr, nullptr), DISP_E_EXCEPTION);
    VariantClear(&message);

    // A deferred record is filled in at the server.
    ex = EXCEPINFO{};
    ASSERT_EQ(d->Invoke(late_deferred, IID_NULL, 0, DISPATCH_METHOD, nullptr, &r, &ex, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(ex.wCode, 1002);
    EXPECT_EQ(take(ex.bstrSource), "VxTest late");
    EXPECT_EQ(take(ex.bstrDescription), "filled in later");
    EXPECT_EQ(ex.scode, E_FAIL);
    EXPECT_EQ(ex.pfnDeferredFillIn, nullptr);

    // Kinds that do not travel are refused before anything is sent.
    const int invokes0 = invokes_on_server();
    IDispatch* self = nullptr;
    ASSERT_EQ(obj->get_self(&self), S_OK);
    VARIANT inner = v_i4(5);
    VARIANT odd[3];
    for (VARIANT& v : odd)
        VariantInit(&v);
    odd[1].vt = VT_R8;
    odd[1].dblVal = 1.5;
    VARIANT by_ref;
    VariantInit(&by_ref);
    by_ref.vt = VT_VARIANT | VT_BYREF;
    by_ref.pvarVal = &inner;
    VARIANT object;
    VariantInit(&object);
    object.vt = VT_DISPATCH;
    object.pdispVal = self;
    for (const VARIANT& v : {odd[1], by_ref, object}) {
        odd[1] = v;
        DISPPARAMS p{odd, nullptr, 3, 0};
        UINT bad = 99;
        EXPECT_EQ(d->Invoke(late_describe, IID_NULL, 0, DISPATCH_METHOD, &p, &r, nullptr, &bad), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(bad, 1u);
    }
    self->Release();
    VARIANT many[33];
    for (VARIANT& v : many)
        v = v_i4(0);
    DISPPARAMS too_many{many, nullptr, 33, 0};
    EXPECT_EQ(d->Invoke(late_describe, IID_NULL, 0, DISPATCH_METHOD, &too_many, &r, nullptr, nullptr), E_INVALIDARG);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS named_only{nullptr, &named, 0, 1};
    EXPECT_EQ(d->Invoke(late_describe, IID_NULL, 0, DISPATCH_METHOD, &named_only, &r, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(invokes_on_server(), invokes0);

    // Results that cannot travel fail the call and leak nothing on the server.
    EXPECT_EQ(d->Invoke(late_object, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &r, nullptr, nullptr),
              DISP_E_BADVARTYPE);
    EXPECT_EQ(r.vt, VT_EMPTY);
    VARIANT length = v_i4(70000); // 140000 bytes: more than one message holds
    DISPPARAMS p1{&length, nullptr, 1, 0};
    EXPECT_EQ(d->Invoke(late_long_text, IID_NULL, 0, DISPATCH_PROPERTYGET, &p1, &r, nullptr, nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(r.vt, VT_EMPTY);
    length.lVal = 60000;
    ASSERT_EQ(d->Invoke(late_long_text, IID_NULL, 0, DISPATCH_PROPERTYGET, &p1, &r, nullptr, nullptr), S_OK);
    EXPECT_EQ(SysStringLen(r.bstrVal), 60000u);
    VariantClear(&r);
}

TEST_F(Transport, PlainDispatchProxyIsServedByTheObject)
{
    // A child known only as IDispatch has no table on the client: every
    // DISPID goes to the object, table members included.
    IDispatch* child = nullptr;
    ASSERT_EQ(obj->make_child(&child), S_OK);
    const int invokes0 = invokes_on_server();
    VARIANT r;
    VariantInit(&r);
    ASSERT_EQ(child->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &r, nullptr, nullptr), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 1);
    VARIANT name = v_text("kid");
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS p{&name, &put, 1, 1};
    ASSERT_EQ(child->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&name);
    EXPECT_EQ(invokes_on_server(), invokes0 + 2);
    ITestObj* t = nullptr;
    ASSERT_EQ(child->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&t)), S_OK);
    BSTR text = nullptr;
    ASSERT_EQ(t->get_name(&text), S_OK);
    EXPECT_EQ(take(text), "kid");
    t->Release();
    child->Release();
}

// ---- malformed messages at either end ------------------------------------------------

namespace {

struct wire {
    std::string b;
    wire& u8(uint8_t v) { return raw(&v, 1); }
    wire& u16(uint16_t v) { return raw(&v, 2); }
    wire& u32(uint32_t v) { return raw(&v, 4); }
    wire& guid(const GUID& g) { return raw(&g, 16); }
    wire& raw(const void* p, size_t n)
    {
        b.append(static_cast<const char*>(p), n);
        return *this;
    }
};

HRESULT hr_of(const std::string& reply)
{
    int32_t hr = 0;
    if (reply.size() < 9 || reply[0] != 5)
        return E_UNEXPECTED;
    std::memcpy(&hr, reply.data() + 5, 4);
    return hr;
}

std::string ask(int fd, const std::string& msg)
{
    EXPECT_EQ(send(fd, msg.data(), msg.size(), 0), static_cast<ssize_t>(msg.size()));
    std::string reply(4096, '\0');
    ssize_t n = recv(fd, reply.data(), reply.size(), 0);
    reply.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return reply;
}

} // namespace

TEST(TransportWire, MalformedInvokeRequestsAreAnsweredNotServed)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    ASSERT_EQ(com::serve_connection(sv[0]), S_OK);
    const int fd = sv[1];
    std::string reply = ask(fd, wire().u8(1).u32(1).guid(CLSID_TestObj).guid(IID_ITestObj).b);
    ASSERT_EQ(hr_of(reply), S_OK);
    uint32_t handle = 0;
    ASSERT_EQ(reply.size(), 14u);
    std::memcpy(&handle, reply.data() + 10, 4);
    const int invokes0 = invokes_on_server();

    auto invoke = [&](uint32_t h, const IID& iid) {
        return wire().u8(6).u32(2).u32(h).guid(iid).u32(late_describe).u32(0).u16(DISPATCH_METHOD).u8(1);
    };
    EXPECT_EQ(hr_of(ask(fd, invoke(handle, IID_ITestObj).b)), RPC_E_INVALID_DATA); // cut short
    EXPECT_EQ(hr_of(ask(fd, invoke(handle, IID_ITestObj).u16(33).u16(0).b)), RPC_E_INVALID_DATA);
    EXPECT_EQ(hr_of(ask(fd, invoke(handle, IID_ITestObj).u16(1).u16(2).u32(0).u32(0).u16(0).b)), RPC_E_INVALID_DATA);
    EXPECT_EQ(hr_of(ask(fd, invoke(handle, IID_ITestObj).u16(1).u16(0).u16(VT_R8).u32(0).u32(0).b)),
              RPC_E_INVALID_DATA);
    EXPECT_EQ(hr_of(ask(fd, invoke(handle, IID_ITestObj).u16(1).u16(0).u16(VT_BSTR).u32(1000).u32(0).b)),
              RPC_E_INVALID_DATA);
    EXPECT_EQ(hr_of(ask(fd, invoke(handle, IID_ITestObj).u16(2).u16(0).u16(VT_BSTR).u32(0).b)),
              RPC_E_INVALID_DATA); // second argument missing
    EXPECT_EQ(hr_of(ask(fd, invoke(handle + 100, IID_ITestObj).u16(0).u16(0).b)), RPC_E_DISCONNECTED);
    EXPECT_EQ(hr_of(ask(fd, invoke(handle, IID_IClassFactory).u16(0).u16(0).b)), E_NOINTERFACE);
    // A call on an unknown handle says so too.
    EXPECT_EQ(hr_of(ask(fd, wire().u8(2).u32(3).u32(handle + 100).guid(IID_ITestObj).u16(7).b)), RPC_E_DISCONNECTED);
    EXPECT_EQ(invokes_on_server(), invokes0);

    // The connection still serves a well-formed request.
    reply = ask(fd, invoke(handle, IID_IDispatch).u16(1).u16(0).u16(VT_I4).u32(5).b);
    ASSERT_EQ(hr_of(reply), S_OK);
    const std::string text = "flags=1 lcid=0 result=1 excep=0 args=I4:5 named=";
    // hr, no error object, VT_BSTR and its UTF-16 bytes, no exception, arg_err.
    ASSERT_EQ(reply.size(), 5 + 4 + 1 + 2 + 4 + text.size() * 2 + 1 + 4);
    uint16_t vt = 0;
    std::memcpy(&vt, reply.data() + 10, 2);
    EXPECT_EQ(vt, VT_BSTR);
    std::u16string got(text.size(), u'\0');
    std::memcpy(got.data(), reply.data() + 16, text.size() * 2);
    EXPECT_EQ(got, std::u16string(text.begin(), text.end()));
    EXPECT_EQ(invokes_on_server(), invokes0 + 1);
    close(fd);
}

TEST(TransportWire, MalformedInvokeRepliesAreRefused)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    // A fake server: answers the create, then each invoke with the next reply body.
    std::vector<std::string> bodies = {
        wire().u32(S_OK).u8(0).u16(VT_BSTR).u32(100).raw("abc", 3).b,                            // text cut short
        wire().u32(S_OK).u8(0).u16(VT_DISPATCH).u32(1).u8(0).u32(0).b,                           // an object
        wire().u32(DISP_E_EXCEPTION).u8(0).u16(VT_EMPTY).u8(1).u16(1001).u32(2).raw("a\0", 2).b, // record cut short
        wire().u32(S_OK).u8(0).u16(VT_I4).u32(9).u8(0).b,                                        // arg_err missing
        wire()
            .u32(DISP_E_EXCEPTION)
            .u8(0)
            .u16(VT_EMPTY)
            .u8(1)
            .u16(1001)
            .u32(2)
            .raw("a\0", 2)
            .u32(0xFFFFFFFF)
            .u32(E_FAIL)
            .u32(0)
            .b, // whole: a record with a null description
    };
    std::thread fake([&] {
        std::string msg(4096, '\0');
        auto next = [&] {
            ssize_t n = recv(sv[0], msg.data(), msg.size(), 0);
            return n > 0 ? std::string(msg.data(), static_cast<size_t>(n)) : std::string();
        };
        auto answer = [&](const std::string& request, const std::string& body) {
            std::string reply = wire().u8(5).b + request.substr(1, 4) + body;
            send(sv[0], reply.data(), reply.size(), 0);
        };
        answer(next(), wire().u32(S_OK).u8(0).u32(7).b);
        for (const auto& body : bodies) {
            std::string request = next();
            if (request.empty() || request[0] != 6)
                break;
            answer(request, body);
        }
        next(); // the release
        close(sv[0]);
    });
    ITestObj* p = nullptr;
    ASSERT_EQ(com::connect_object(sv[1], CLSID_TestObj, IID_ITestObj, reinterpret_cast<void**>(&p)), S_OK);
    for (size_t i = 0; i + 1 < bodies.size(); ++i) {
        VARIANT r;
        VariantInit(&r);
        EXCEPINFO ex{};
        EXPECT_EQ(p->Invoke(late_describe, IID_NULL, 0, DISPATCH_METHOD, nullptr, &r, &ex, nullptr), RPC_E_INVALID_DATA)
            << i;
        EXPECT_EQ(r.vt, VT_EMPTY);
        EXPECT_EQ(ex.bstrSource, nullptr);
    }
    VARIANT r;
    VariantInit(&r);
    EXCEPINFO ex{};
    EXPECT_EQ(p->Invoke(late_describe, IID_NULL, 0, DISPATCH_METHOD, nullptr, &r, &ex, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(take(ex.bstrSource), "a");
    EXPECT_EQ(ex.bstrDescription, nullptr);
    EXPECT_EQ(ex.scode, E_FAIL);
    p->Release();
    fake.join();
}

TEST(ServerLoop, TimersAndPostedWorkRunOnTheLoopThread)
{
    std::promise<std::thread::id> where;
    com::post([&] { where.set_value(std::this_thread::get_id()); });
    std::thread::id loop_id = where.get_future().get();
    EXPECT_NE(loop_id, std::this_thread::get_id());
    std::atomic<int> ticks{0};
    std::promise<void> done;
    std::atomic<unsigned> id{0};
    id = com::set_timer(20, [&] {
        EXPECT_EQ(std::this_thread::get_id(), loop_id);
        if (++ticks == 3) {
            while (!id)
                std::this_thread::yield();
            com::kill_timer(id);
            done.set_value();
        }
    });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_EQ(ticks.load(), 3);
}

// A client that stops taking its replies holds up nobody else, loses no
// reply and stays connected.
TEST_F(Transport, AClientNotReadingItsRepliesHoldsUpNobody)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    ASSERT_EQ(com::serve_connection(sv[0]), S_OK);
    const int stalled = sv[1];
    // Questions on an unknown handle, sent until the server stops taking them.
    const std::string qi = wire().u8(3).u32(1).u32(12345).guid(IID_ITestObj).b;
    size_t sent = 0;
    for (int blocked = 0; sent < 200000 && blocked < 50;) {
        if (send(stalled, qi.data(), qi.size(), MSG_DONTWAIT) == static_cast<ssize_t>(qi.size())) {
            ++sent;
            blocked = 0;
        } else {
            ++blocked;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_LT(sent, 200000u) << "the server never stopped reading";

    LONG sum = 0;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(obj->add(i, 1, &sum), S_OK);
    EXPECT_EQ(sum, 100);
    EXPECT_EQ(com::server_connection_count(), 2u);

    size_t answered = 0;
    char buf[256];
    timeval tv{20, 0};
    setsockopt(stalled, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    while (answered < sent) {
        ssize_t n = recv(stalled, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        std::string reply(buf, static_cast<size_t>(n));
        if (hr_of(reply) != RPC_E_DISCONNECTED)
            break;
        ++answered;
    }
    EXPECT_EQ(answered, sent);
    close(stalled);
}

// Only the server's own user (or root) is served; anyone else is turned
// away at the door.
TEST(ServerLoop, OnlyTheSameUserOrRootIsServed)
{
    const std::string path = com::server_socket_path(CLSID_TestObj);
    ASSERT_FALSE(path.empty());
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    auto dial = [&] {
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            fd = -1;
        }
        return fd;
    };
    if (geteuid() == 0) {
        const pid_t child = fork();
        if (child == 0) {
            // Another user's credentials on the connection; the path is still
            // reached with root's file-system rights.
            if (seteuid(65534) != 0)
                _exit(2);
            setfsuid(0);
            const int fd = dial();
            if (fd < 0)
                _exit(3);
            timeval tv{20, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            char buf[256];
            _exit(recv(fd, buf, sizeof buf, 0) == 0 ? 0 : 1); // closed by the server
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const int fd = dial();
    ASSERT_GE(fd, 0);
    ITestObj* mine = nullptr;
    ASSERT_EQ(com::connect_object(fd, CLSID_TestObj, IID_ITestObj, reinterpret_cast<void**>(&mine)), S_OK);
    mine->Release();
}
