// The local-server transport: a small object protocol over AF_UNIX
// SOCK_SEQPACKET sockets.
//
// Messages (little-endian; one message per packet):
//   CREATE  {1, seq, clsid, iid}                      -> REPLY with an object
//   CALL    {2, seq, handle, iid, slot, in args}      -> REPLY with the out args
//   QI      {3, seq, handle, iid}                     -> REPLY
//   RELEASE {4, handle, count}                        one-way
//   REPLY   {5, seq, hresult, error?, [guid, source, description], outs}
//   INVOKE  {6, seq, handle, iid, dispid, lcid, flags, wants, argc, namedc,
//            named dispids, args}                     -> REPLY with {result,
//            excep?, [wcode, source, description, scode], arg_err}
// INVOKE carries the late-bound calls the client's member table does not
// know to the object's own IDispatch::Invoke; its values are VARIANTs as
// u16 vt and the value: nothing (VT_EMPTY), i32 (VT_I4), text (VT_BSTR) or
// i16 (VT_BOOL). Arguments travel in rgvarg order (last first).
// Values: i32; text as u32 byte length (0xFFFFFFFF = null) and UTF-16 bytes;
// objects as u32 handles (0 = none). Every handle the server sends adds one
// reference that the client gives back with RELEASE; a connection's handle
// table holds one real reference per object, and the same object always has
// the same handle, so identity holds on both sides.
//
// Waiting: a call's round trip is a few microseconds of work, while waking a
// blocked thread costs tens of microseconds. So the client polls for its
// reply, and the server loop for the next message, for a short while before
// either blocks. The server never blocks on a peer: replies that a client
// does not take yet wait in its connection's queue, and that client's
// further requests wait until they are gone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <linux/close_range.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <array>
#include <algorithm>

#include "com/errorinfo.h"
#include "internal.h"

namespace com {

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

constexpr size_t max_message = 128 * 1024;
// How long a side polls for the next message before it blocks.
constexpr auto spin_time = std::chrono::microseconds(50);
constexpr auto start_timeout = 10s;
enum : uint8_t { msg_create = 1, msg_call = 2, msg_qi = 3, msg_release = 4, msg_reply = 5, msg_invoke = 6 };
// Arguments of one forwarded Invoke; more is refused, not sent.
constexpr unsigned max_invoke_args = 32;
// Bits of an INVOKE's `wants`: the caller passed a result / an EXCEPINFO.
enum : uint8_t { want_result = 1, want_excep = 2 };
const HRESULT hr_unavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

bool is_out(arg a) { return a >= arg::out_i4; }
bool is_object(arg a)
{
    return a == arg::in_dispatch || a == arg::in_unknown || a == arg::out_dispatch || a == arg::out_unknown;
}

// ---- encoding --------------------------------------------------------------------

struct writer {
    std::string b;
    void raw(const void* p, size_t n) { b.append(static_cast<const char*>(p), n); }
    void u8(uint8_t v) { raw(&v, 1); }
    void u16(uint16_t v) { raw(&v, 2); }
    void u32(uint32_t v) { raw(&v, 4); }
    void i32(int32_t v) { raw(&v, 4); }
    void r8(double v) { raw(&v, 8); }
    void guid(const GUID& g) { raw(&g, sizeof g); }
    void bstr(BSTR s)
    {
        if (!s)
            return u32(0xFFFFFFFFu);
        uint32_t n = SysStringByteLen(s);
        u32(n);
        raw(s, n);
    }
    void text(const std::u16string& s)
    {
        u32(static_cast<uint32_t>(s.size() * 2));
        raw(s.data(), s.size() * 2);
    }
};

struct reader {
    const char* p;
    size_t n;
    bool ok = true;
    bool take(void* out, size_t k)
    {
        if (!ok || n < k)
            return ok = false;
        std::memcpy(out, p, k);
        p += k;
        n -= k;
        return true;
    }
    uint8_t u8()
    {
        uint8_t v = 0;
        take(&v, 1);
        return v;
    }
    uint16_t u16()
    {
        uint16_t v = 0;
        take(&v, 2);
        return v;
    }
    uint32_t u32()
    {
        uint32_t v = 0;
        take(&v, 4);
        return v;
    }
    int32_t i32()
    {
        int32_t v = 0;
        take(&v, 4);
        return v;
    }
    double r8()
    {
        double v = 0;
        take(&v, 8);
        return v;
    }
    GUID guid()
    {
        GUID g = GUID_NULL;
        take(&g, sizeof g);
        return g;
    }
    // A new BSTR (null for a null text or malformed input).
    BSTR bstr()
    {
        uint32_t len = u32();
        if (!ok || len == 0xFFFFFFFFu)
            return nullptr;
        if (len > n) {
            ok = false;
            return nullptr;
        }
        BSTR s = SysAllocStringByteLen(p, len);
        if (!s)
            ok = false;
        p += len;
        n -= len;
        return s;
    }
};

bool send_msg(int fd, const std::string& m)
{
    if (m.size() > max_message)
        return false;
    for (;;) {
        ssize_t r = send(fd, m.data(), m.size(), MSG_NOSIGNAL);
        if (r == static_cast<ssize_t>(m.size()))
            return true;
        if (r < 0 && errno == EINTR)
            continue;
        return false;
    }
}

enum class received { message, none, closed };

// One message into out, sized to it: the bytes land in a buffer kept per
// thread, so no message clears a whole maximum-size buffer. `none` when a
// non-blocking receive found nothing; `closed` on end of connection, error
// or an oversized message.
received recv_once(int fd, std::string& out, int flags)
{
    thread_local const std::unique_ptr<char[]> buf(new char[max_message + 1]);
    for (;;) {
        ssize_t r = recv(fd, buf.get(), max_message + 1, flags);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return received::none;
        if (r <= 0 || static_cast<size_t>(r) > max_message)
            return received::closed;
        out.assign(buf.get(), static_cast<size_t>(r));
        return received::message;
    }
}

// The next message, polled for spin_time before the thread blocks.
bool recv_msg(int fd, std::string& out)
{
    const auto until = clock_type::now() + spin_time;
    do {
        received r = recv_once(fd, out, MSG_DONTWAIT);
        if (r != received::none)
            return r == received::message;
    } while (clock_type::now() < until);
    for (;;) {
        received r = recv_once(fd, out, 0);
        if (r != received::none)
            return r == received::message;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, -1); // a non-blocking descriptor
    }
}

// The VARIANT kinds that travel.
bool wire_kind(VARTYPE vt) { return vt == VT_EMPTY || vt == VT_I4 || vt == VT_BSTR || vt == VT_BOOL; }

// v must be of a wire kind.
void put_variant(writer& w, const VARIANT& v)
{
    w.u16(v.vt);
    switch (v.vt) {
    case VT_I4:
        w.i32(v.lVal);
        break;
    case VT_BSTR:
        w.bstr(v.bstrVal);
        break;
    case VT_BOOL:
        w.u16(static_cast<uint16_t>(v.boolVal));
        break;
    default:
        break;
    }
}

// Reads into v (initialised, left VT_EMPTY on malformed input or a kind
// that does not travel).
void get_variant(reader& r, VARIANT& v)
{
    VariantInit(&v);
    VARTYPE vt = r.u16();
    if (!r.ok)
        return;
    switch (vt) {
    case VT_EMPTY:
        break;
    case VT_I4:
        v.lVal = r.i32();
        break;
    case VT_BSTR:
        v.bstrVal = r.bstr();
        break;
    case VT_BOOL:
        v.boolVal = static_cast<VARIANT_BOOL>(r.u16());
        break;
    default:
        r.ok = false;
        break;
    }
    if (r.ok)
        v.vt = vt;
}

void put_error(writer& w, HRESULT hr)
{
    IErrorInfo* info = nullptr;
    bool have = GetErrorInfo(0, &info) == S_OK;
    if (FAILED(hr) && have) {
        GUID g = GUID_NULL;
        BSTR source = nullptr, description = nullptr;
        info->GetGUID(&g);
        info->GetSource(&source);
        info->GetDescription(&description);
        w.u8(1);
        w.guid(g);
        w.bstr(source);
        w.bstr(description);
        SysFreeString(source);
        SysFreeString(description);
    } else {
        w.u8(0);
    }
    if (info)
        info->Release();
}

// Sets (or clears) the calling thread's error object from a reply.
void take_error(reader& r)
{
    if (r.u8() != 1) {
        SetErrorInfo(0, nullptr);
        return;
    }
    GUID g = r.guid();
    BSTR source = r.bstr(), description = r.bstr();
    set_error_info(g, std::u16string(bstr_view(source)), std::u16string(bstr_view(description)));
    SysFreeString(source);
    SysFreeString(description);
}

// ---- client side: connections and generic proxies ------------------------------------

struct client_conn;
struct proxy_object;

struct proxy_view {
    void** vptr;
    proxy_object* owner;
    IID iid;
    const interface_table* table;
};

struct proxy_object {
    std::atomic<ULONG> refs{0};
    std::shared_ptr<client_conn> conn;
    uint32_t handle = 0;
    uint32_t remote_refs = 0;                       // under conn->m
    std::vector<std::unique_ptr<proxy_view>> views; // under conn->m
};

struct client_conn : std::enable_shared_from_this<client_conn> {
    explicit client_conn(int f) : fd(f) {}
    ~client_conn() { close(fd); }
    int fd;
    std::mutex m;
    bool dead = false;
    uint32_t seq = 0;
    std::unordered_map<uint32_t, proxy_object*> proxies;

    // Sends a request and waits for its reply; m must be held.
    bool roundtrip(writer& w, std::string& reply, uint32_t& out_seq)
    {
        if (dead)
            return false;
        out_seq = ++seq;
        std::memcpy(w.b.data() + 1, &out_seq, 4);
        if (!send_msg(fd, w.b)) {
            dead = true;
            return false;
        }
        while (recv_msg(fd, reply)) {
            reader r{reply.data(), reply.size()};
            if (r.u8() == msg_reply && r.u32() == out_seq)
                return true;
        }
        dead = true;
        return false;
    }
};

// Vtables of the proxies: slots 0-6 are the IUnknown/IDispatch ones, slots
// from 7 forward to the remote call with their slot number.

HRESULT proxy_call(proxy_view* self, unsigned slot, const intptr_t (&a)[max_args]);

template <unsigned Slot>
HRESULT slot_thunk(proxy_view* self, intptr_t a0, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4)
{
    const intptr_t a[max_args] = {a0, a1, a2, a3, a4};
    return proxy_call(self, Slot, a);
}

template <unsigned... I> constexpr std::array<void*, sizeof...(I)> make_thunks(std::integer_sequence<unsigned, I...>)
{
    return {reinterpret_cast<void*>(&slot_thunk<I>)...};
}
const auto thunks = make_thunks(std::make_integer_sequence<unsigned, max_slot>());

HRESULT view_qi(proxy_view* self, const IID& riid, void** out);
ULONG view_addref(proxy_view* self) { return ++self->owner->refs; }
ULONG view_release(proxy_view* self);
HRESULT view_typeinfo_count(proxy_view*, UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT view_typeinfo(proxy_view*, UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}
// Late binding uses the view's own table; a plain IDispatch view borrows the
// table of an interface the object is already known to have.
proxy_view* dispatch_view(proxy_view* self);
HRESULT view_ids(proxy_view* self, const IID&, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return dispatch_ids_of_names(dispatch_view(self)->iid, names, count, ids);
}
HRESULT proxy_invoke(proxy_view* v, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excep, UINT* arg_err);
// Members of the table are served here through the proxy's slots; any other
// DISPID goes to the object's own Invoke, which may know more.
HRESULT view_invoke(proxy_view* self, DISPID id, const IID&, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                    EXCEPINFO* excep, UINT* arg_err)
{
    proxy_view* v = dispatch_view(self);
    if (v->table && std::any_of(v->table->members.begin(), v->table->members.end(), [&](const member_info& m) {
            return m.dispid == id;
        }))
        return dispatch_invoke(v, v->iid, id, flags, params, result, excep, arg_err);
    return proxy_invoke(v, id, lcid, flags, params, result, excep, arg_err);
}
// Error information always travels with a failed call.
HRESULT view_supports_error_info(proxy_view*, const IID&) { return S_OK; }

std::mutex vtables_mutex;
std::unordered_map<IID, std::unique_ptr<std::vector<void*>>>& vtables()
{
    // Never destroyed: used by static destructors (module terms) at exit.
    static auto* v = new std::unordered_map<IID, std::unique_ptr<std::vector<void*>>>;
    return *v;
}
std::unordered_set<void**>& vtable_set()
{
    // Never destroyed: used by static destructors (module terms) at exit.
    static auto* s = new std::unordered_set<void**>;
    return *s;
}

// Laid out as the compiler's own: offset to top and type information come
// before the slots the object points at.
void** vtable_for(const IID& iid)
{
    std::lock_guard<std::mutex> lock(vtables_mutex);
    auto& slot = vtables()[iid];
    if (!slot) {
        const interface_table* t = find_interface_table(iid);
        const std::type_info* type = t && t->type ? t->type
            : iid == IID_IUnknown                 ? &typeid(IUnknown)
            : iid == IID_ISupportErrorInfo        ? &typeid(ISupportErrorInfo)
                                                  : &typeid(IDispatch);
        auto v = std::make_unique<std::vector<void*>>();
        *v = {nullptr, const_cast<std::type_info*>(type), reinterpret_cast<void*>(&view_qi),
              reinterpret_cast<void*>(&view_addref), reinterpret_cast<void*>(&view_release)};
        if (iid == IID_ISupportErrorInfo) {
            v->push_back(reinterpret_cast<void*>(&view_supports_error_info));
        } else {
            v->insert(v->end(),
                      {reinterpret_cast<void*>(&view_typeinfo_count), reinterpret_cast<void*>(&view_typeinfo),
                       reinterpret_cast<void*>(&view_ids), reinterpret_cast<void*>(&view_invoke)});
            v->insert(v->end(), thunks.begin() + 7, thunks.end());
        }
        vtable_set().insert(v->data() + 2);
        slot = std::move(v);
    }
    return slot->data() + 2;
}

// The proxy view behind an interface pointer of ours, or null.
proxy_view* as_view(void* p)
{
    if (!p)
        return nullptr;
    void** vptr = *static_cast<void***>(p);
    std::lock_guard<std::mutex> lock(vtables_mutex);
    return vtable_set().count(vptr) ? static_cast<proxy_view*>(p) : nullptr;
}

// The view of an interface on a proxy (made on first use); conn->m held.
proxy_view* view_of(proxy_object* obj, const IID& iid)
{
    for (auto& v : obj->views)
        if (v->iid == iid)
            return v.get();
    auto v = std::make_unique<proxy_view>(proxy_view{vtable_for(iid), obj, iid, find_interface_table(iid)});
    obj->views.push_back(std::move(v));
    return obj->views.back().get();
}

// A handle received from the server becomes a referenced view; conn->m held.
proxy_view* receive_object(client_conn& conn, uint32_t handle, const IID& iid)
{
    proxy_object* obj = nullptr;
    auto it = conn.proxies.find(handle);
    if (it != conn.proxies.end()) {
        ULONG n = it->second->refs.load();
        // A proxy whose count already reached 0 is being destroyed: make a new one.
        while (n > 0 && !it->second->refs.compare_exchange_weak(n, n + 1)) {}
        if (n > 0)
            obj = it->second;
    }
    if (!obj) {
        obj = new proxy_object;
        obj->conn = conn.shared_from_this();
        obj->handle = handle;
        obj->refs = 1;
        conn.proxies[handle] = obj;
    }
    ++obj->remote_refs;
    return view_of(obj, iid);
}

proxy_view* dispatch_view(proxy_view* self)
{
    if (self->table)
        return self;
    std::lock_guard<std::mutex> lock(self->owner->conn->m);
    for (auto& v : self->owner->views)
        if (v->table)
            return v.get();
    return self;
}

ULONG view_release(proxy_view* self)
{
    proxy_object* obj = self->owner;
    ULONG n = --obj->refs;
    if (n != 0)
        return n;
    std::shared_ptr<client_conn> conn = std::move(obj->conn);
    {
        std::lock_guard<std::mutex> lock(conn->m);
        auto it = conn->proxies.find(obj->handle);
        if (it != conn->proxies.end() && it->second == obj)
            conn->proxies.erase(it);
        if (!conn->dead && obj->remote_refs) {
            writer w;
            w.u8(msg_release);
            w.u32(obj->handle);
            w.u32(obj->remote_refs);
            if (!send_msg(conn->fd, w.b))
                conn->dead = true;
        }
    }
    delete obj;
    return 0;
}

HRESULT view_qi(proxy_view* self, const IID& riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    proxy_object* obj = self->owner;
    client_conn& conn = *obj->conn;
    std::lock_guard<std::mutex> lock(conn.m);
    bool known = riid == IID_IUnknown || riid == IID_ISupportErrorInfo;
    for (auto& v : obj->views)
        known = known || v->iid == riid;
    if (!known) {
        if (riid != IID_IDispatch && !find_interface_table(riid))
            return E_NOINTERFACE;
        writer w;
        w.u8(msg_qi);
        w.u32(0);
        w.u32(obj->handle);
        w.guid(riid);
        std::string reply;
        uint32_t seq;
        if (!conn.roundtrip(w, reply, seq))
            return hr_unavailable;
        reader r{reply.data() + 5, reply.size() - 5};
        HRESULT hr = r.i32();
        take_error(r);
        if (!r.ok)
            return RPC_E_INVALID_DATA;
        if (FAILED(hr))
            return hr;
    }
    proxy_view* v = view_of(obj, riid);
    ++obj->refs;
    *out = v;
    return S_OK;
}

HRESULT proxy_call(proxy_view* self, unsigned slot, const intptr_t (&a)[max_args])
{
    const member_info* mem = self->table ? detail::find_member(*self->table, slot) : nullptr;
    if (!mem)
        return E_NOTIMPL;
    proxy_object* obj = self->owner;
    client_conn& conn = *obj->conn;
    const auto& kinds = mem->args;
    // Out parameters start empty, as they must be after a failure.
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (!is_out(kinds[i]))
            continue;
        if (!a[i])
            return E_POINTER;
        switch (kinds[i]) {
        case arg::out_i4:
            *reinterpret_cast<int32_t*>(a[i]) = 0;
            break;
        case arg::out_long:
            *reinterpret_cast<long*>(a[i]) = 0;
            break;
        case arg::out_r8:
            *reinterpret_cast<double*>(a[i]) = 0;
            break;
        default:
            *reinterpret_cast<void**>(a[i]) = nullptr;
            break;
        }
    }
    writer w;
    w.u8(msg_call);
    w.u32(0);
    w.u32(obj->handle);
    w.guid(self->iid);
    w.u16(static_cast<uint16_t>(slot));
    std::vector<proxy_view*> to_release;
    HRESULT hr;
    {
        std::lock_guard<std::mutex> lock(conn.m);
        for (size_t i = 0; i < kinds.size(); ++i) {
            switch (kinds[i]) {
            case arg::in_i4:
            case arg::in_long:
                w.i32(static_cast<int32_t>(a[i]));
                break;
            case arg::in_bstr:
                w.bstr(reinterpret_cast<BSTR>(a[i]));
                break;
            case arg::in_dispatch:
            case arg::in_unknown: {
                // Only this connection's own proxies can travel back; anything else arrives as null.
                proxy_view* v = as_view(reinterpret_cast<void*>(a[i]));
                w.u32(v && v->owner->conn.get() == &conn ? v->owner->handle : 0);
                break;
            }
            default:
                break;
            }
        }
        if (w.b.size() > max_message)
            return RPC_E_INVALID_DATA;
        std::string reply;
        uint32_t seq;
        if (!conn.roundtrip(w, reply, seq)) {
            SetErrorInfo(0, nullptr);
            return hr_unavailable;
        }
        reader r{reply.data() + 5, reply.size() - 5};
        hr = r.i32();
        take_error(r);
        if (SUCCEEDED(hr)) {
            for (size_t i = 0; i < kinds.size() && r.ok; ++i) {
                switch (kinds[i]) {
                case arg::out_i4:
                    *reinterpret_cast<int32_t*>(a[i]) = r.i32();
                    break;
                case arg::out_long:
                    *reinterpret_cast<long*>(a[i]) = r.i32();
                    break;
                case arg::out_r8:
                    *reinterpret_cast<double*>(a[i]) = r.r8();
                    break;
                case arg::out_bstr:
                    *reinterpret_cast<BSTR*>(a[i]) = r.bstr();
                    break;
                case arg::out_dispatch:
                case arg::out_unknown: {
                    uint32_t h = r.u32();
                    if (r.ok && h) {
                        proxy_view* v =
                            receive_object(conn, h, kinds[i] == arg::out_dispatch ? IID_IDispatch : IID_IUnknown);
                        *reinterpret_cast<void**>(a[i]) = v;
                    }
                    break;
                }
                default:
                    break;
                }
            }
            if (!r.ok) {
                hr = RPC_E_INVALID_DATA;
                for (size_t i = 0; i < kinds.size(); ++i) {
                    if (kinds[i] == arg::out_bstr) {
                        SysFreeString(*reinterpret_cast<BSTR*>(a[i]));
                        *reinterpret_cast<BSTR*>(a[i]) = nullptr;
                    } else if (kinds[i] == arg::out_dispatch || kinds[i] == arg::out_unknown) {
                        if (auto* v = static_cast<proxy_view*>(*reinterpret_cast<void**>(a[i])))
                            to_release.push_back(v);
                        *reinterpret_cast<void**>(a[i]) = nullptr;
                    }
                }
            }
        }
    }
    for (proxy_view* v : to_release)
        view_release(v);
    return hr;
}

HRESULT proxy_invoke(proxy_view* v, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excep, UINT* arg_err)
{
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;
    if ((params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_POINTER;
    if (params->cArgs > max_invoke_args || params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    proxy_object* obj = v->owner;
    client_conn& conn = *obj->conn;
    writer w;
    w.u8(msg_invoke);
    w.u32(0);
    w.u32(obj->handle);
    // A view without a table reaches the object's IDispatch.
    w.guid(v->table ? v->iid : IID_IDispatch);
    w.i32(id);
    w.u32(lcid);
    w.u16(flags);
    w.u8(static_cast<uint8_t>((result ? want_result : 0) | (excep ? want_excep : 0)));
    w.u16(static_cast<uint16_t>(params->cArgs));
    w.u16(static_cast<uint16_t>(params->cNamedArgs));
    for (UINT i = 0; i < params->cNamedArgs; ++i)
        w.i32(params->rgdispidNamedArgs[i]);
    for (UINT i = 0; i < params->cArgs; ++i) {
        const VARIANT& a = params->rgvarg[i];
        if (!wire_kind(a.vt)) {
            if (arg_err)
                *arg_err = i;
            return DISP_E_TYPEMISMATCH;
        }
        put_variant(w, a);
    }
    if (w.b.size() > max_message)
        return E_OUTOFMEMORY;

    HRESULT hr;
    VARIANT res;
    VariantInit(&res);
    EXCEPINFO ex{};
    bool have_ex = false;
    uint32_t bad_arg = 0;
    {
        std::lock_guard<std::mutex> lock(conn.m);
        std::string reply;
        uint32_t seq;
        if (!conn.roundtrip(w, reply, seq)) {
            SetErrorInfo(0, nullptr);
            return hr_unavailable;
        }
        reader r{reply.data() + 5, reply.size() - 5};
        hr = r.i32();
        take_error(r);
        get_variant(r, res);
        have_ex = r.u8() == 1;
        if (have_ex) {
            ex.wCode = r.u16();
            ex.bstrSource = r.bstr();
            ex.bstrDescription = r.bstr();
            ex.scode = r.i32();
        }
        bad_arg = r.u32();
        if (!r.ok) {
            VariantClear(&res);
            SysFreeString(ex.bstrSource);
            SysFreeString(ex.bstrDescription);
            return RPC_E_INVALID_DATA;
        }
    }
    if (result) {
        VariantClear(result);
        *result = res;
    } else {
        VariantClear(&res);
    }
    if (have_ex && excep && hr == DISP_E_EXCEPTION) {
        *excep = ex;
    } else {
        SysFreeString(ex.bstrSource);
        SysFreeString(ex.bstrDescription);
    }
    if (arg_err && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND))
        *arg_err = bad_arg;
    return hr;
}

// CREATE over a connection; the result is a view for riid.
HRESULT create_object(const std::shared_ptr<client_conn>& conn, REFCLSID clsid, REFIID riid, void** out)
{
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && !find_interface_table(riid))
        return E_NOINTERFACE;
    writer w;
    w.u8(msg_create);
    w.u32(0);
    w.guid(clsid);
    w.guid(riid);
    std::lock_guard<std::mutex> lock(conn->m);
    std::string reply;
    uint32_t seq;
    if (!conn->roundtrip(w, reply, seq))
        return hr_unavailable;
    reader r{reply.data() + 5, reply.size() - 5};
    HRESULT hr = r.i32();
    take_error(r);
    uint32_t h = SUCCEEDED(hr) ? r.u32() : 0;
    if (!r.ok)
        return RPC_E_INVALID_DATA;
    if (FAILED(hr))
        return hr;
    if (!h)
        return E_UNEXPECTED;
    *out = receive_object(*conn, h, riid);
    return S_OK;
}

// ---- server side -------------------------------------------------------------------

struct srv_entry {
    IUnknown* unk = nullptr; // canonical identity, one reference
    uint64_t refs = 0;       // references the client holds
    std::unordered_map<IID, IUnknown*> ifaces;
};

struct srv_conn {
    int fd = -1;
    std::unordered_map<uint32_t, srv_entry> handles;
    std::unordered_map<IUnknown*, uint32_t> by_object;
    uint32_t next = 1;
    std::deque<std::string> replies; // not yet taken by the client
    bool broken = false;             // a send failed: dropped by the loop
};

// Sends what the socket takes now and keeps the rest in order.
void flush_replies(srv_conn& c)
{
    while (!c.replies.empty() && !c.broken) {
        const std::string& m = c.replies.front();
        ssize_t r = send(c.fd, m.data(), m.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r == static_cast<ssize_t>(m.size())) {
            c.replies.pop_front();
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            c.broken = true;
        }
    }
}

void queue_reply(srv_conn& c, std::string m)
{
    if (m.size() > max_message) {
        c.broken = true;
        return;
    }
    c.replies.push_back(std::move(m));
    flush_replies(c);
}

// Only the server's own user, or root, may call it.
bool peer_allowed(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return false;
    return cred.uid == getuid() || cred.uid == 0;
}

struct listener {
    CLSID clsid;
    int fd = -1; // -1 once closed at quit
    int lock_fd = -1;
    std::string path;
};

struct timer_entry {
    unsigned id;
    std::chrono::milliseconds period;
    clock_type::time_point due;
    std::function<void()> fn;
};

struct server_state {
    server_state() : wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    int wake;
    std::mutex m;
    std::vector<listener> listeners;
    std::vector<int> pending, to_close;
    std::vector<std::function<void()>> posted;
    std::vector<timer_entry> timers;
    unsigned next_timer = 1;
    bool quit = false;
    bool running = false;
    std::atomic<size_t> connections{0};
    std::list<srv_conn> conns; // loop thread only

    void poke()
    {
        uint64_t one = 1;
        ssize_t r = write(wake, &one, sizeof one);
        (void)r;
    }
};

server_state& srv()
{
    static server_state* s = new server_state; // lives to the end: loop threads may outlast statics
    return *s;
}

volatile sig_atomic_t quit_signal = 0;
int signal_wake_fd = -1;

void on_quit_signal(int)
{
    int saved = errno;
    quit_signal = 1;
    uint64_t one = 1;
    ssize_t r = write(signal_wake_fd, &one, sizeof one);
    (void)r;
    errno = saved;
}

IUnknown* entry_iface(srv_entry& e, const IID& iid)
{
    if (iid == IID_IUnknown)
        return e.unk;
    auto it = e.ifaces.find(iid);
    if (it != e.ifaces.end())
        return it->second;
    IUnknown* p = nullptr;
    if (FAILED(e.unk->QueryInterface(iid, reinterpret_cast<void**>(&p))) || !p)
        return nullptr;
    e.ifaces[iid] = p;
    return p;
}

// Takes over one reference of p; returns its handle (0 for null).
uint32_t register_object(srv_conn& c, IUnknown* p)
{
    if (!p)
        return 0;
    IUnknown* canon = nullptr;
    if (FAILED(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&canon))) || !canon) {
        p->Release();
        return 0;
    }
    p->Release();
    auto it = c.by_object.find(canon);
    if (it != c.by_object.end()) {
        ++c.handles[it->second].refs;
        canon->Release();
        return it->second;
    }
    uint32_t h = c.next++;
    if (c.next == 0)
        c.next = 1;
    srv_entry& e = c.handles[h];
    e.unk = canon;
    e.refs = 1;
    c.by_object[canon] = h;
    return h;
}

void free_entry(srv_entry& e)
{
    for (auto& [iid, p] : e.ifaces)
        p->Release();
    e.ifaces.clear();
    if (e.unk)
        e.unk->Release();
    e.unk = nullptr;
}

void release_handle(srv_conn& c, uint32_t h, uint32_t n)
{
    auto it = c.handles.find(h);
    if (it == c.handles.end())
        return;
    if (it->second.refs > n) {
        it->second.refs -= n;
        return;
    }
    srv_entry e = std::move(it->second);
    c.handles.erase(it);
    c.by_object.erase(e.unk);
    free_entry(e);
}

HRESULT serve_call(srv_conn& c, reader& r, writer& w)
{
    uint32_t h = r.u32();
    IID iid = r.guid();
    unsigned slot = r.u16();
    if (!r.ok)
        return RPC_E_INVALID_DATA;
    auto it = c.handles.find(h);
    if (it == c.handles.end())
        return RPC_E_DISCONNECTED;
    const interface_table* t = find_interface_table(iid);
    const member_info* mem = t ? detail::find_member(*t, slot) : nullptr;
    if (!mem)
        return E_NOTIMPL;
    IUnknown* iface = entry_iface(it->second, iid);
    if (!iface)
        return E_NOINTERFACE;

    intptr_t a[max_args] = {};
    int64_t nums[max_args] = {};
    double reals[max_args] = {};
    BSTR texts[max_args] = {};
    IUnknown* objs[max_args] = {};
    const auto& kinds = mem->args;
    for (size_t i = 0; i < kinds.size() && r.ok; ++i) {
        switch (kinds[i]) {
        case arg::in_i4:
        case arg::in_long:
            a[i] = r.i32();
            break;
        case arg::in_bstr:
            a[i] = reinterpret_cast<intptr_t>(texts[i] = r.bstr());
            break;
        case arg::in_dispatch:
        case arg::in_unknown: {
            // The client's own handles resolve to our objects; unknown ones are null.
            auto e = c.handles.find(r.u32());
            IUnknown* p = nullptr;
            if (e != c.handles.end())
                p = entry_iface(e->second, kinds[i] == arg::in_dispatch ? IID_IDispatch : IID_IUnknown);
            a[i] = reinterpret_cast<intptr_t>(p);
            break;
        }
        case arg::out_bstr:
            a[i] = reinterpret_cast<intptr_t>(&texts[i]);
            break;
        case arg::out_dispatch:
        case arg::out_unknown:
            a[i] = reinterpret_cast<intptr_t>(&objs[i]);
            break;
        case arg::out_r8:
            a[i] = reinterpret_cast<intptr_t>(&reals[i]);
            break;
        default:
            a[i] = reinterpret_cast<intptr_t>(&nums[i]);
            break;
        }
    }
    HRESULT hr = RPC_E_INVALID_DATA;
    if (r.ok) {
        SetErrorInfo(0, nullptr);
        try {
            hr = detail::call_slot(iface, mem->slot, a);
        } catch (...) {
            hr = RPC_E_SERVERFAULT;
        }
    }
    size_t out_bytes = 0;
    for (size_t i = 0; i < kinds.size(); ++i)
        if (kinds[i] == arg::out_bstr)
            out_bytes += SysStringByteLen(texts[i]) + 4;
    if (SUCCEEDED(hr) && out_bytes + 4096 > max_message)
        hr = E_OUTOFMEMORY;
    writer outs;
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (SUCCEEDED(hr) && is_out(kinds[i])) {
            if (kinds[i] == arg::out_bstr)
                outs.bstr(texts[i]);
            else if (is_object(kinds[i]))
                outs.u32(register_object(c, std::exchange(objs[i], nullptr)));
            else if (kinds[i] == arg::out_r8)
                outs.r8(reals[i]);
            else if (kinds[i] == arg::out_long)
                outs.i32(static_cast<int32_t>(nums[i]));
            else
                outs.i32(static_cast<int32_t>(nums[i])); // low half on little-endian
        }
        SysFreeString(texts[i]);
        if (objs[i])
            objs[i]->Release();
    }
    w.i32(hr);
    put_error(w, hr);
    w.raw(outs.b.data(), outs.b.size());
    return hr;
}

// A late-bound call on the object's own Invoke.
HRESULT serve_invoke(srv_conn& c, reader& r, writer& w)
{
    uint32_t h = r.u32();
    IID iid = r.guid();
    DISPID id = r.i32();
    LCID lcid = r.u32();
    WORD flags = r.u16();
    uint8_t wants = r.u8();
    unsigned argc = r.u16(), namedc = r.u16();
    if (!r.ok || argc > max_invoke_args || namedc > argc)
        return RPC_E_INVALID_DATA;
    auto it = c.handles.find(h);
    if (it == c.handles.end())
        return RPC_E_DISCONNECTED;
    // Only IDispatch and the described (dual) interfaces have an Invoke.
    if (iid != IID_IDispatch && !find_interface_table(iid))
        return E_NOINTERFACE;
    std::vector<DISPID> named(namedc);
    for (auto& n : named)
        n = r.i32();
    std::vector<VARIANT> args(argc);
    for (auto& a : args)
        get_variant(r, a);
    auto clear_args = [&] {
        for (auto& a : args)
            VariantClear(&a);
    };
    if (!r.ok) {
        clear_args();
        return RPC_E_INVALID_DATA;
    }
    IUnknown* iface = entry_iface(it->second, iid);
    if (!iface) {
        clear_args();
        return E_NOINTERFACE;
    }
    DISPPARAMS params{argc ? args.data() : nullptr, namedc ? named.data() : nullptr, argc, namedc};
    VARIANT res;
    VariantInit(&res);
    EXCEPINFO ex{};
    UINT bad_arg = 0;
    HRESULT hr;
    SetErrorInfo(0, nullptr);
    try {
        hr = static_cast<IDispatch*>(iface)->Invoke(id, IID_NULL, lcid, flags, &params,
                                                    (wants & want_result) ? &res : nullptr,
                                                    (wants & want_excep) ? &ex : nullptr, &bad_arg);
        if (hr == DISP_E_EXCEPTION && ex.pfnDeferredFillIn)
            ex.pfnDeferredFillIn(&ex);
    } catch (...) {
        hr = RPC_E_SERVERFAULT;
    }
    clear_args();
    // Objects and the other kinds do not travel back.
    if (!wire_kind(res.vt)) {
        VariantClear(&res);
        if (SUCCEEDED(hr))
            hr = DISP_E_BADVARTYPE;
    }
    const bool send_ex = hr == DISP_E_EXCEPTION && (wants & want_excep);
    size_t text_bytes = (res.vt == VT_BSTR ? SysStringByteLen(res.bstrVal) : 0) +
        (send_ex ? SysStringByteLen(ex.bstrSource) + SysStringByteLen(ex.bstrDescription) : 0);
    if (text_bytes + 4096 > max_message) {
        VariantClear(&res);
        SysFreeString(std::exchange(ex.bstrSource, nullptr));
        SysFreeString(std::exchange(ex.bstrDescription, nullptr));
        if (SUCCEEDED(hr))
            hr = E_OUTOFMEMORY;
    }
    w.i32(hr);
    put_error(w, hr);
    put_variant(w, res);
    if (send_ex) {
        w.u8(1);
        w.u16(ex.wCode);
        w.bstr(ex.bstrSource);
        w.bstr(ex.bstrDescription);
        w.i32(ex.scode);
    } else {
        w.u8(0);
    }
    w.u32(bad_arg);
    VariantClear(&res);
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);
    return hr;
}

// False when the connection must be dropped.
bool serve_message(srv_conn& c, const std::string& msg)
{
    reader r{msg.data(), msg.size()};
    uint8_t type = r.u8();
    if (type == msg_release) {
        uint32_t h = r.u32(), n = r.u32();
        if (r.ok)
            release_handle(c, h, n);
        return r.ok;
    }
    uint32_t seq = r.u32();
    if (!r.ok)
        return false;
    writer w;
    w.u8(msg_reply);
    w.u32(seq);
    if (type == msg_call || type == msg_invoke) {
        // A request refused before the call still gets its reason.
        HRESULT hr = type == msg_call ? serve_call(c, r, w) : serve_invoke(c, r, w);
        if (w.b.size() == 5) {
            w.i32(hr);
            w.u8(0);
            if (type == msg_invoke) {
                put_variant(w, VARIANT{});
                w.u8(0);
                w.u32(0);
            }
        }
    } else if (type == msg_create) {
        CLSID clsid = r.guid();
        IID iid = r.guid();
        if (!r.ok)
            return false;
        IClassFactory* f = nullptr;
        IUnknown* obj = nullptr;
        SetErrorInfo(0, nullptr);
        HRESULT hr = detail::find_local_class_object(clsid, &f);
        if (SUCCEEDED(hr)) {
            try {
                hr = f->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&obj));
            } catch (...) {
                hr = RPC_E_SERVERFAULT;
            }
            f->Release();
        }
        if (SUCCEEDED(hr) && !obj)
            hr = E_UNEXPECTED;
        w.i32(hr);
        put_error(w, hr);
        if (SUCCEEDED(hr))
            w.u32(register_object(c, obj));
    } else if (type == msg_qi) {
        uint32_t h = r.u32();
        IID iid = r.guid();
        if (!r.ok)
            return false;
        auto it = c.handles.find(h);
        HRESULT hr = it == c.handles.end() ? RPC_E_DISCONNECTED : entry_iface(it->second, iid) ? S_OK : E_NOINTERFACE;
        w.i32(hr);
        w.u8(0);
    } else {
        return false;
    }
    queue_reply(c, std::move(w.b));
    return !c.broken;
}

// Closes the connection and releases every reference its client held.
void drop_connection(std::list<srv_conn>::iterator it)
{
    server_state& s = srv();
    std::unordered_map<uint32_t, srv_entry> handles = std::move(it->handles);
    close(it->fd);
    s.conns.erase(it);
    --s.connections;
    for (auto& [h, e] : handles)
        free_entry(e);
}

void add_connection(int fd)
{
    server_state& s = srv();
    // Never blocks the loop: replies a client does not take wait in its queue.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    srv_conn c;
    c.fd = fd;
    s.conns.push_back(std::move(c));
    ++s.connections;
}

bool connect_path(int fd, const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    for (;;) {
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

int try_connect(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect_path(fd, path))
        return fd;
    close(fd);
    return -1;
}

// Starts the server program detached (own session, output on /dev/null).
// False when it could not be executed.
bool spawn_server(const std::string& program)
{
    int status_pipe[2];
    if (pipe2(status_pipe, O_CLOEXEC) != 0)
        return false;
    const char* argv[] = {program.c_str(), "-Embedding", nullptr};
    pid_t pid = fork();
    if (pid < 0) {
        close(status_pipe[0]);
        close(status_pipe[1]);
        return false;
    }
    if (pid == 0) {
        setsid();
        pid_t grandchild = fork();
        if (grandchild != 0)
            _exit(grandchild < 0 ? 1 : 0);
        // The server starts clean: no signals blocked or ignored from the client,
        // and none of the client's descriptors.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGCHLD})
            sigaction(sig, &dfl, nullptr);
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        int null_fd = open("/dev/null", O_RDWR);
        if (null_fd >= 0) {
            dup2(null_fd, 0);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
        }
        execv(program.c_str(), const_cast<char* const*>(argv));
        int e = errno;
        ssize_t wr = write(status_pipe[1], &e, sizeof e);
        (void)wr;
        _exit(127);
    }
    close(status_pipe[1]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
    int e = 0;
    ssize_t n;
    while ((n = read(status_pipe[0], &e, sizeof e)) < 0 && errno == EINTR) {}
    close(status_pipe[0]);
    return n == 0 && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

std::mutex client_cache_mutex;
std::unordered_map<std::string, std::weak_ptr<client_conn>>& client_cache()
{
    // Never destroyed: used by static destructors (module terms) at exit.
    static auto* m = new std::unordered_map<std::string, std::weak_ptr<client_conn>>;
    return *m;
}

} // namespace

// ---- public and internal entry points ---------------------------------------------------

std::string runtime_dir()
{
    const char* xdg = getenv("XDG_RUNTIME_DIR");
    std::string dir;
    if (xdg && *xdg) {
        dir = std::string(xdg) + "/veltrix";
    } else {
        dir = "/tmp/veltrix-" + std::to_string(getuid());
    }
    mkdir(dir.c_str(), 0700);
    // The folder must be ours and private, or another user could stand in for a server.
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077))
        return {};
    return dir;
}

std::string server_socket_path(REFCLSID clsid)
{
    std::string dir = runtime_dir();
    return dir.empty() ? dir : dir + "/" + guid_to_string(clsid) + ".sock";
}

HRESULT serve_connection(int fd)
{
    if (fd < 0)
        return E_INVALIDARG;
    server_state& s = srv();
    std::lock_guard<std::mutex> lock(s.m);
    s.pending.push_back(fd);
    s.poke();
    return S_OK;
}

HRESULT connect_object(int fd, REFCLSID clsid, REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (fd < 0)
        return E_INVALIDARG;
    return create_object(std::make_shared<client_conn>(fd), clsid, riid, object);
}

void post_quit()
{
    server_state& s = srv();
    std::lock_guard<std::mutex> lock(s.m);
    s.quit = true;
    s.poke();
}

void post(std::function<void()> fn)
{
    server_state& s = srv();
    std::lock_guard<std::mutex> lock(s.m);
    s.posted.push_back(std::move(fn));
    s.poke();
}

unsigned set_timer(unsigned period_ms, std::function<void()> fn)
{
    server_state& s = srv();
    std::lock_guard<std::mutex> lock(s.m);
    unsigned id = s.next_timer++;
    auto period = std::chrono::milliseconds(period_ms);
    s.timers.push_back({id, period, clock_type::now() + period, std::move(fn)});
    s.poke();
    return id;
}

void kill_timer(unsigned id)
{
    server_state& s = srv();
    std::lock_guard<std::mutex> lock(s.m);
    std::erase_if(s.timers, [&](const timer_entry& t) { return t.id == id; });
}

size_t server_connection_count() { return srv().connections.load(); }

HRESULT run_server_loop()
{
    server_state& s = srv();
    if (s.wake < 0)
        return E_FAIL;
    {
        std::lock_guard<std::mutex> lock(s.m);
        if (s.running)
            return E_UNEXPECTED;
        s.running = true;
    }
    std::vector<pollfd> fds;
    std::vector<int> listen_fds;
    std::string msg;
    // Polling without blocking until then: the next call of a busy client
    // usually follows within microseconds.
    clock_type::time_point spin_until{};
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard<std::mutex> lock(s.m);
            if (s.quit || quit_signal)
                break;
            for (int fd : s.pending)
                add_connection(fd);
            s.pending.clear();
            for (int fd : s.to_close)
                close(fd);
            s.to_close.clear();
            listen_fds.clear();
            for (const auto& l : s.listeners)
                if (l.fd >= 0)
                    listen_fds.push_back(l.fd);
            auto now = clock_type::now();
            for (const auto& t : s.timers) {
                auto ms = std::chrono::ceil<std::chrono::milliseconds>(t.due - now).count();
                int wait = ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 1 << 30));
                if (timeout < 0 || wait < timeout)
                    timeout = wait;
            }
            if (!s.posted.empty() || now < spin_until)
                timeout = 0;
        }
        fds.clear();
        fds.push_back({s.wake, POLLIN, 0});
        for (int fd : listen_fds)
            fds.push_back({fd, POLLIN, 0});
        // A client with replies waiting is not read until it has taken them.
        for (const auto& c : s.conns)
            fds.push_back({c.fd, static_cast<short>(c.replies.empty() ? POLLIN : POLLOUT), 0});
        int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            break;
        if (n > 0 && fds[0].revents) {
            uint64_t v;
            ssize_t r = read(s.wake, &v, sizeof v);
            (void)r;
        }
        // Posted work and due timers run between calls, on this thread.
        std::vector<std::function<void()>> work;
        {
            std::lock_guard<std::mutex> lock(s.m);
            work.swap(s.posted);
            auto now = clock_type::now();
            for (auto& t : s.timers) {
                if (t.due <= now) {
                    t.due = now + t.period;
                    work.push_back(t.fn);
                }
            }
        }
        for (auto& fn : work)
            fn();
        size_t k = 1;
        for (; k < 1 + listen_fds.size(); ++k) {
            if (n <= 0 || !(fds[k].revents & POLLIN))
                continue;
            int fd = accept4(fds[k].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            if (peer_allowed(fd))
                add_connection(fd);
            else
                close(fd);
        }
        bool served = false;
        auto it = s.conns.begin();
        for (; k < fds.size() && it != s.conns.end(); ++k) {
            auto cur = it++;
            if (n <= 0 || !fds[k].revents)
                continue;
            if (!cur->replies.empty())
                flush_replies(*cur);
            bool keep = !cur->broken;
            // Every message that is there, while the client takes its replies.
            while (keep && cur->replies.empty()) {
                received r = recv_once(cur->fd, msg, MSG_DONTWAIT);
                if (r == received::none)
                    break;
                keep = r == received::message && serve_message(*cur, msg);
                served = true;
            }
            if (!keep)
                drop_connection(cur);
        }
        if (served)
            spin_until = clock_type::now() + spin_time;
    }
    // Close the door first: a client arriving from now on starts a new server.
    std::vector<int> closing;
    {
        std::lock_guard<std::mutex> lock(s.m);
        for (auto& l : s.listeners) {
            if (l.fd >= 0) {
                unlink(l.path.c_str());
                closing.push_back(std::exchange(l.fd, -1));
            }
        }
        for (int fd : s.to_close)
            closing.push_back(fd);
        s.to_close.clear();
    }
    for (int fd : closing)
        close(fd);
    while (!s.conns.empty())
        drop_connection(s.conns.begin());
    std::lock_guard<std::mutex> lock(s.m);
    s.quit = false;
    quit_signal = 0;
    s.running = false;
    return S_OK;
}

void quit_on_signals()
{
    signal_wake_fd = srv().wake;
    struct sigaction sa {};
    sa.sa_handler = on_quit_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

namespace detail {

size_t serve_raw_message(const void* data, size_t size)
{
    static int peer = -1;
    static srv_conn* conn = [] { // kept to the end with the objects it holds
        int sv[2] = {-1, -1};
        socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv);
        peer = sv[1];
        auto* c = new srv_conn;
        c->fd = sv[0];
        return c;
    }();
    serve_message(*conn, std::string(static_cast<const char*>(data), size));
    char buf[512];
    while (recv(peer, buf, sizeof buf, MSG_DONTWAIT) > 0) {}
    return conn->handles.size();
}

HRESULT transport_listen(REFCLSID clsid)
{
    std::string dir = runtime_dir();
    if (dir.empty())
        return CO_E_SERVER_EXEC_FAILURE;
    std::string base = dir + "/" + guid_to_string(clsid);
    std::string sock_path = base + ".sock";
    int lock_fd = open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_fd < 0)
        return CO_E_SERVER_EXEC_FAILURE;
    // One server per class: a live one answers on the socket; one that is
    // shutting down still holds the lock for a moment, so wait for it.
    auto deadline = clock_type::now() + start_timeout;
    while (flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
        int probe = try_connect(sock_path);
        if (probe >= 0 || clock_type::now() > deadline) {
            if (probe >= 0)
                close(probe);
            close(lock_fd);
            return CO_E_SERVER_EXEC_FAILURE;
        }
        std::this_thread::sleep_for(50ms);
    }
    unlink(sock_path.c_str());
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    bool ok = fd >= 0 && sock_path.size() < sizeof addr.sun_path;
    if (ok) {
        std::memcpy(addr.sun_path, sock_path.c_str(), sock_path.size() + 1);
        ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 64) == 0;
    }
    if (!ok) {
        if (fd >= 0)
            close(fd);
        close(lock_fd);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    server_state& s = srv();
    std::lock_guard<std::mutex> lock(s.m);
    s.listeners.push_back({clsid, fd, lock_fd, sock_path});
    s.poke();
    return S_OK;
}

void transport_unlisten(REFCLSID clsid)
{
    server_state& s = srv();
    std::lock_guard<std::mutex> lock(s.m);
    for (auto it = s.listeners.begin(); it != s.listeners.end(); ++it) {
        if (it->clsid != clsid)
            continue;
        if (it->fd >= 0) {
            unlink(it->path.c_str());
            // The loop may be polling it: it closes the descriptor itself.
            if (s.running)
                s.to_close.push_back(it->fd);
            else
                close(it->fd);
        }
        close(it->lock_fd);
        s.listeners.erase(it);
        s.poke();
        return;
    }
}

HRESULT transport_activate(REFCLSID clsid, const std::string& server_path, REFIID riid, void** object)
{
    std::string path = server_socket_path(clsid);
    if (path.empty())
        return CO_E_SERVER_EXEC_FAILURE;
    HRESULT hr = hr_unavailable;
    // A second attempt covers a server that was shutting down as we reached it.
    for (int attempt = 0; attempt < 2 && hr == hr_unavailable; ++attempt) {
        std::shared_ptr<client_conn> conn;
        {
            std::lock_guard<std::mutex> lock(client_cache_mutex);
            auto it = client_cache().find(path);
            if (it != client_cache().end()) {
                conn = it->second.lock();
                if (conn) {
                    std::lock_guard<std::mutex> cl(conn->m);
                    if (conn->dead)
                        conn.reset();
                }
                if (!conn)
                    client_cache().erase(it);
            }
        }
        if (!conn) {
            int fd = try_connect(path);
            if (fd < 0) {
                if (!spawn_server(server_path))
                    return CO_E_SERVER_EXEC_FAILURE;
                auto deadline = clock_type::now() + start_timeout;
                while ((fd = try_connect(path)) < 0 && clock_type::now() < deadline)
                    std::this_thread::sleep_for(20ms);
                if (fd < 0)
                    return CO_E_SERVER_EXEC_FAILURE;
            }
            conn = std::make_shared<client_conn>(fd);
            std::lock_guard<std::mutex> lock(client_cache_mutex);
            client_cache()[path] = conn;
        }
        hr = create_object(conn, clsid, riid, object);
        if (hr == hr_unavailable) {
            std::lock_guard<std::mutex> lock(client_cache_mutex);
            client_cache().erase(path);
        }
    }
    return hr;
}

} // namespace detail
} // namespace com
