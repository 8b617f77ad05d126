#include "test_iface.h"

#include <unistd.h>

#include <mutex>
#include <set>
#include <stdexcept>

std::atomic<int> g_test_live{0};

namespace {
std::mutex live_mutex;
std::set<ITestObj*> live;  // identity check for is_mine
}  // namespace

void register_test_tables() {
  using com::arg;
  using com::member_kind;
  com::register_interface_table(com::describe<ITestObj>(
      "ITestObj",
       {
           {7, 1, "number", member_kind::propget, {arg::out_i4}},
           {8, 1, "number", member_kind::propput, {arg::in_i4}},
           {9, 2, "name", member_kind::propget, {arg::out_bstr}},
           {10, 2, "name", member_kind::propput, {arg::in_bstr}},
           {11, 3, "echo", member_kind::method, {arg::in_bstr, arg::out_bstr}},
           {12, 4, "make_child", member_kind::method, {arg::out_dispatch}},
           {13, 5, "self", member_kind::propget, {arg::out_dispatch}},
           {14, 6, "is_mine", member_kind::method, {arg::in_dispatch, arg::out_i4}},
           {15, 7, "fail", member_kind::method, {arg::in_bstr}},
           {16, 8, "wide", member_kind::propget, {arg::out_long}},
           {17, 9, "add", member_kind::method, {arg::in_i4, arg::in_i4, arg::out_i4}},
           {18, 10, "throw_cpp", member_kind::method, {}},
           {19, 11, "pid", member_kind::propget, {arg::out_i4}},
       }));
}

template <class D>
HRESULT TestObjImpl<D>::FinalConstruct() {
  ++g_test_live;
  std::lock_guard<std::mutex> lock(live_mutex);
  live.insert(this);
  return S_OK;
}

template <class D>
void TestObjImpl<D>::FinalRelease() {
  --g_test_live;
  std::lock_guard<std::mutex> lock(live_mutex);
  live.erase(this);
}

template <class D>
HRESULT TestObjImpl<D>::get_number(LONG* out) {
  if (!out) return E_POINTER;
  *out = number_;
  return S_OK;
}
template <class D>
HRESULT TestObjImpl<D>::put_number(LONG value) {
  number_ = value;
  return S_OK;
}
template <class D>
HRESULT TestObjImpl<D>::get_name(BSTR* out) {
  return name_.CopyTo(out);
}
template <class D>
HRESULT TestObjImpl<D>::put_name(BSTR value) {
  name_.Attach(value ? SysAllocStringByteLen(reinterpret_cast<const char*>(value), SysStringByteLen(value)) : nullptr);
  return S_OK;
}
template <class D>
HRESULT TestObjImpl<D>::echo(BSTR in, BSTR* out) {
  if (!out) return E_POINTER;
  std::u16string s(com::bstr_view(in));
  s += u"!";
  *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return S_OK;
}
template <class D>
HRESULT TestObjImpl<D>::make_child(IDispatch** out) {
  CComObject<CTestObj>* child = nullptr;
  HRESULT hr = CComObject<CTestObj>::CreateInstance(&child);
  if (FAILED(hr)) return hr;
  child->put_number(number_ + 1);
  return child->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
}
template <class D>
HRESULT TestObjImpl<D>::get_self(IDispatch** out) {
  return static_cast<ITestObj*>(this)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
}
template <class D>
HRESULT TestObjImpl<D>::is_mine(IDispatch* other, LONG* out) {
  *out = 0;
  if (!other) return S_OK;
  ITestObj* t = nullptr;
  if (FAILED(other->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&t)))) return S_OK;
  {
    std::lock_guard<std::mutex> lock(live_mutex);
    if (live.count(t)) *out = t == static_cast<ITestObj*>(this) ? 2 : 1;
  }
  t->Release();
  return S_OK;
}
template <class D>
HRESULT TestObjImpl<D>::fail(BSTR text) {
  return D::Error(com::bstr_to_utf8(text).c_str());
}
template <class D>
HRESULT TestObjImpl<D>::get_wide(long* out) {
  *out = -1234567;
  return S_OK;
}
template <class D>
HRESULT TestObjImpl<D>::add(LONG a, LONG b, LONG* sum) {
  *sum = a + b;
  return S_OK;
}
template <class D>
HRESULT TestObjImpl<D>::throw_cpp() {
  throw std::runtime_error("thrown inside a call");
}
template <class D>
HRESULT TestObjImpl<D>::get_pid(LONG* out) {
  *out = static_cast<LONG>(getpid());
  return S_OK;
}

template class TestObjImpl<CTestObj>;
template class TestObjImpl<CTestSingleton>;
