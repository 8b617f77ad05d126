// Interface description tables (our type library), the table-driven
// IDispatch helpers, and the local-server transport: the server's call loop
// and the seams tests use to run both ends over a socket pair.
#pragma once

#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "com/unknown.h"

namespace com {

enum class member_kind : uint8_t { method, propget, propput };

// Argument kinds, in declaration order. i4 is a 32-bit integer (LONG, int),
// long_ the C++ `long` (64-bit here; 32-bit values on the wire). Object
// arguments are IDispatch* / IUnknown* ([in]) or IDispatch** / IUnknown**
// ([out]).
enum class arg : uint8_t {
    in_i4,
    in_long,
    in_bstr,
    in_dispatch,
    in_unknown,
    out_i4,
    out_long,
    out_bstr,
    out_dispatch,
    out_unknown,
    out_r8, // double*
};

struct member_info {
    unsigned slot; // vtable slot; 7 is the first one after IDispatch's
    DISPID dispid; // shared by a property's get and put
    std::string name;
    member_kind kind;
    std::vector<arg> args; // at most max_args
};

struct interface_table {
    IID iid;
    std::string name;
    std::vector<member_info> members;
    // The C++ interface type: proxies present it as their dynamic type, so
    // sanitizer builds accept calls through them. describe<I>() fills it in.
    const std::type_info* type = nullptr;
};

// The table of interface I: describe<Imanager>("Imanager", {...members...}).
template <class I> interface_table describe(std::string name, std::vector<member_info> members)
{
    return interface_table{__uuidof(I), std::move(name), std::move(members), &typeid(I)};
}

inline constexpr size_t max_args = 5;
// Proxies serve vtable slots below this.
inline constexpr unsigned max_slot = 64;

// Registers (or replaces) the table of an interface. Every member must
// return HRESULT; E_INVALIDARG for a member with too many arguments or a
// slot outside 7 .. max_slot - 1. Remote calls and the table-driven IDispatch need the table.
HRESULT register_interface_table(const interface_table& table);
// The registered table, or null.
const interface_table* find_interface_table(REFIID iid);

// Table-driven IDispatch for objects: names (case-insensitive) to DISPIDs,
// and Invoke by DISPID and flags onto the interface's own slots. A method
// failing with DISP_E_EXCEPTION fills `excep` from the thread's error object.
HRESULT dispatch_ids_of_names(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT dispatch_invoke(void* iface, REFIID iid, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* arg_err);

// ---- server side ---------------------------------------------------------
// Serves remote calls one at a time on the calling thread (the server's main
// thread) until post_quit. When quit is posted the listening sockets are
// closed and unlinked before the loop returns, so a late client starts a new
// server instead of reaching one that is going away.
HRESULT run_server_loop();
// Thread-safe; the loop returns after the call in progress.
void post_quit();
// Runs fn on the loop thread; thread-safe.
void post(std::function<void()> fn);
// Periodic timer on the loop thread (like SetTimer); returns its id.
unsigned set_timer(unsigned period_ms, std::function<void()> fn);
void kill_timer(unsigned id);
// SIGTERM and SIGINT end the loop the same way as post_quit, so a server
// stopped from outside still releases its clients' objects in order.
void quit_on_signals();
// Number of client connections currently served.
size_t server_connection_count();

// Where server sockets and lock files live: $XDG_RUNTIME_DIR/veltrix/, else
// /tmp/veltrix-<uid>/ (created 0700).
std::string runtime_dir();
std::string server_socket_path(REFCLSID clsid);

// ---- test seams ------------------------------------------------------------
// Adopts one end of a connected SOCK_SEQPACKET pair as a client connection of
// this process's server loop.
HRESULT serve_connection(int fd);
// Client side over the other end: creates an object of a class registered
// with CLSCTX_LOCAL_SERVER at the peer and returns a proxy.
HRESULT connect_object(int fd, REFCLSID clsid, REFIID riid, void** object);

} // namespace com

// Windows-shaped names for the server program's loop.
inline HRESULT CoRunServerLoop() { return com::run_server_loop(); }
inline void CoPostQuitServerLoop() { com::post_quit(); }
