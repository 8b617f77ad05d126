// The local-server transport over a socket pair in one process: the server
// loop runs on its own thread, the test thread is the client.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

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
  void SetUp() override {
    dir = make_test_home("transport");
    register_test_tables();
    _Module.Init(ObjectMap, com::server_kind::local);
    CoInitialize(nullptr);
    ASSERT_EQ(_Module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE), S_OK);
    loop = std::thread([] { com::run_server_loop(); });
  }
  void TearDown() override {
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
template <class F>
auto on_server(F fn) {
  std::packaged_task<decltype(fn())()> task(fn);
  auto result = task.get_future();
  com::post([&] { task(); });
  return result.get();
}

int live_on_server() {
  return on_server([] { return g_test_live.load(); });
}

// Waits (bounded) until the server's live object count reaches n.
bool wait_live(int n) {
  for (int i = 0; i < 200; ++i) {
    if (live_on_server() == n) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class Transport : public ::testing::Test {
 protected:
  void SetUp() override {
    live0 = live_on_server();
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    server_fd = sv[0];
    client_fd = sv[1];
    ASSERT_EQ(com::serve_connection(server_fd), S_OK);
    ASSERT_EQ(com::connect_object(client_fd, CLSID_TestObj, IID_ITestObj, reinterpret_cast<void**>(&obj)), S_OK);
    ASSERT_NE(obj, nullptr);
  }
  void TearDown() override {
    if (obj) obj->Release();
    EXPECT_TRUE(wait_live(live0)) << "server objects left behind";
  }
  int live0 = 0;
  int server_fd = -1, client_fd = -1;
  ITestObj* obj = nullptr;
};

}  // namespace

TEST_F(Transport, IntegersAndTextBothWays) {
  LONG n = -1;
  ASSERT_EQ(obj->put_number(123456), S_OK);
  ASSERT_EQ(obj->get_number(&n), S_OK);
  EXPECT_EQ(n, 123456);
  LONG sum = 0;
  ASSERT_EQ(obj->add(-5, 47, &sum), S_OK);
  EXPECT_EQ(sum, 42);
  long wide = 0x7777777777;
  ASSERT_EQ(obj->get_wide(&wide), S_OK);
  EXPECT_EQ(wide, -1234567);  // all of the C++ long written

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

TEST_F(Transport, IdentityIsKept) {
  IDispatch *self1 = nullptr, *self2 = nullptr;
  ASSERT_EQ(obj->get_self(&self1), S_OK);
  ASSERT_EQ(obj->get_self(&self2), S_OK);
  EXPECT_EQ(self1, self2);  // the same server object gives the same proxy
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
  for (IUnknown* p : std::initializer_list<IUnknown*>{self1, self2, u1, u2, again, c1, c2, child}) p->Release();
  EXPECT_TRUE(wait_live(live0 + 1));  // the children went with their last reference
}

TEST_F(Transport, ErrorInformationTravelsWithTheFailure) {
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

TEST_F(Transport, CallsFromSeveralClientThreadsAreSerialised) {
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        LONG sum = 0;
        IDispatch* c = nullptr;
        if (obj->add(t, i, &sum) == S_OK && sum == t + i && obj->make_child(&c) == S_OK) ++ok;
        if (c) c->Release();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(ok.load(), 200);
}

TEST_F(Transport, DeadPeerGivesAnRpcFailure) {
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
  child->Release();  // releasing over a dead connection is quiet
  EXPECT_TRUE(wait_live(live0)) << "the server released the dropped connection's objects";
}

TEST_F(Transport, DroppedClientReleasesEverything) {
  IDispatch *a = nullptr, *b = nullptr, *self = nullptr;
  ASSERT_EQ(obj->make_child(&a), S_OK);
  ASSERT_EQ(obj->make_child(&b), S_OK);
  ASSERT_EQ(obj->get_self(&self), S_OK);
  ASSERT_EQ(obj->get_self(&self), S_OK);  // two client references on one handle
  EXPECT_EQ(live_on_server(), live0 + 3);
  EXPECT_EQ(com::server_connection_count(), 1u);
  // The client dies without releasing anything.
  shutdown(client_fd, SHUT_RDWR);
  EXPECT_TRUE(wait_live(live0));
  for (int i = 0; i < 200 && com::server_connection_count() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(com::server_connection_count(), 0u);
  // Local proxies can still be released.
  a->Release();
  b->Release();
  self->Release();
  self->Release();
}

TEST_F(Transport, ReleaseCountsMatchHandsOut) {
  std::vector<IDispatch*> refs(5);
  for (auto& r : refs) ASSERT_EQ(obj->get_self(&r), S_OK);
  IDispatch* child = nullptr;
  ASSERT_EQ(obj->make_child(&child), S_OK);
  for (size_t i = 0; i < refs.size(); ++i) refs[i]->Release();
  LONG n = -1;
  ASSERT_EQ(obj->get_number(&n), S_OK);  // still alive through obj
  child->Release();
  EXPECT_TRUE(wait_live(live0 + 1));
  obj->Release();
  obj = nullptr;
  EXPECT_TRUE(wait_live(live0));
}

TEST(ServerLoop, TimersAndPostedWorkRunOnTheLoopThread) {
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
      while (!id) std::this_thread::yield();
      com::kill_timer(id);
      done.set_value();
    }
  });
  ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  EXPECT_EQ(ticks.load(), 3);
}
