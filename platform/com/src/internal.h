// Shared between the layer's sources; not installed.
#pragma once

#include <string>

#include "com/transport.h"

namespace com::detail {

// Calls the interface's vtable slot with up to max_args pointer-sized
// arguments (integers and pointers travel alike in registers here).
HRESULT call_slot(void* iface, unsigned slot, const intptr_t (&args)[max_args]);
const member_info* find_member(const interface_table& table, unsigned slot);

// Class objects registered with CLSCTX_LOCAL_SERVER (for the transport's
// create requests); AddRef'd.
HRESULT find_local_class_object(REFCLSID clsid, IClassFactory** factory);

// Transport entry points used by activation.
HRESULT transport_listen(REFCLSID clsid);
void transport_unlisten(REFCLSID clsid);
HRESULT transport_activate(REFCLSID clsid, const std::string& server_path, REFIID riid, void** object);

// Fuzzing seam: serves one raw message on a scratch server connection
// (replies are discarded). Returns the number of objects that connection holds.
size_t serve_raw_message(const void* data, size_t size);

} // namespace com::detail
