// Member tables of the four automation interfaces: slot, DISPID, name, kind
// and arguments, in the interfaces' declaration order.
#include <scoutline/com/interfaces.h>

namespace scoutline {

void register_interface_tables()
{
    using com::arg;
    using com::member_kind;
    const member_kind get = member_kind::propget, put = member_kind::propput, method = member_kind::method;

    com::register_interface_table({IID_Imanager,
                                   "Imanager",
                                   {
                                       {7, 1, "show_console", method, {}},
                                       {8, 2, "adapters", get, {arg::out_dispatch}},
                                       {9, 3, "adapter_get", method, {arg::in_bstr, arg::out_dispatch}},
                                   }});
    com::register_interface_table({IID_Icom_adapter,
                                   "Icom_adapter",
                                   {
                                       {7, 1, "autoassign", get, {arg::out_i4}},
                                       {8, 1, "autoassign", put, {arg::in_i4}},
                                       {9, 2, "ip", get, {arg::out_bstr}},
                                       {10, 3, "ip_subnet", get, {arg::out_bstr}},
                                       {11, 4, "ip_start", get, {arg::out_bstr}},
                                       {12, 4, "ip_start", put, {arg::in_bstr}},
                                       {13, 5, "ip_end", get, {arg::out_bstr}},
                                       {14, 5, "ip_end", put, {arg::in_bstr}},
                                       {15, 6, "ip_start_default", get, {arg::out_bstr}},
                                       {16, 7, "ip_end_default", get, {arg::out_bstr}},
                                       {17, 8, "device_first", method, {arg::out_dispatch}},
                                       {18, 9, "device_next", method, {arg::in_dispatch, arg::out_dispatch}},
                                       {19, 10, "send_reservation", get, {arg::out_i4}},
                                       {20, 10, "send_reservation", put, {arg::in_i4}},
                                       {21, 11, "start", method, {}},
                                       {22, 12, "device_get", method, {arg::in_bstr, arg::out_dispatch}},
                                       {23, 13, "device_remove", method, {arg::in_bstr, arg::out_i4}},
                                   }});
    com::register_interface_table({IID_Icom_device,
                                   "Icom_device",
                                   {
                                       {7, 1, "ip", get, {arg::out_bstr}},
                                       {8, 1, "ip", put, {arg::in_bstr}},
                                       {9, 2, "mac", get, {arg::out_bstr}},
                                       {10, 3, "age", get, {arg::out_i4}},
                                       {11, 4, "valid", get, {arg::out_i4}},
                                   }});
    com::register_interface_table({IID_Icom_bstr_vector,
                                   "Icom_bstr_vector",
                                   {
                                       {7, 1, "length", get, {arg::out_i4}},
                                       {8, 2, "at", method, {arg::in_i4, arg::out_bstr}},
                                   }});
}

} // namespace scoutline
