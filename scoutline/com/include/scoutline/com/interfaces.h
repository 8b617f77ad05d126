// The discovery server's automation interfaces (type library SCOUTLINELib
// 1.0): identifiers, the four dual interfaces in their slot order, and the
// member tables that drive late binding and the local-server transport.
#pragma once

#include <com/com.h>

VX_DEFINE_GUID(LIBID_SCOUTLINELib, "{06FF62B9-A4ED-44BF-BF6B-F83D741F6415}");
VX_DEFINE_GUID(APPID_Scoutline, "{40F143F6-D84A-4B29-803B-6C6C42261313}");

VX_DEFINE_GUID(CLSID_manager, "{DA118759-2053-4496-AB8C-53C74FBB979C}");
VX_DEFINE_GUID(CLSID_com_adapter, "{34E54BA5-6681-4F92-9886-397DA7741431}");
VX_DEFINE_GUID(CLSID_com_device, "{CD758996-48AD-44E3-9453-804127EB5054}");
VX_DEFINE_GUID(CLSID_com_bstr_vector, "{20035375-B811-4ECE-A3EE-D2085F103193}");

VX_DEFINE_GUID(IID_Imanager, "{C9643CFD-8864-463F-90AD-C2D091011990}");
VX_DEFINE_GUID(IID_Icom_adapter, "{FE27B1A6-1C07-4370-AD02-099BA03DFA9E}");
VX_DEFINE_GUID(IID_Icom_device, "{BC687EB7-3CDA-4C94-8780-09D5B5EF37E3}");
VX_DEFINE_GUID(IID_Icom_bstr_vector, "{57F536C9-D1F3-4C15-A611-5871C032F2E7}");

struct Imanager : IDispatch {
    virtual HRESULT show_console() = 0;                              // 1
    virtual HRESULT get_adapters(IDispatch** vector) = 0;            // 2
    virtual HRESULT adapter_get(BSTR name, IDispatch** adapter) = 0; // 3
};

struct Icom_adapter : IDispatch {
    virtual HRESULT get_autoassign(LONG* on) = 0;                            // 1
    virtual HRESULT put_autoassign(LONG on) = 0;                             // 1
    virtual HRESULT get_ip(BSTR* ip) = 0;                                    // 2
    virtual HRESULT get_ip_subnet(BSTR* mask) = 0;                           // 3
    virtual HRESULT get_ip_start(BSTR* ip) = 0;                              // 4
    virtual HRESULT put_ip_start(BSTR ip) = 0;                               // 4
    virtual HRESULT get_ip_end(BSTR* ip) = 0;                                // 5
    virtual HRESULT put_ip_end(BSTR ip) = 0;                                 // 5
    virtual HRESULT get_ip_start_default(BSTR* ip) = 0;                      // 6
    virtual HRESULT get_ip_end_default(BSTR* ip) = 0;                        // 7
    virtual HRESULT device_first(IDispatch** device) = 0;                    // 8
    virtual HRESULT device_next(IDispatch* current, IDispatch** device) = 0; // 9
    virtual HRESULT get_send_reservation(LONG* on) = 0;                      // 10
    virtual HRESULT put_send_reservation(LONG on) = 0;                       // 10
    virtual HRESULT start() = 0;                                             // 11
    virtual HRESULT device_get(BSTR mac, IDispatch** device) = 0;            // 12
    virtual HRESULT device_remove(BSTR mac, LONG* removed) = 0;              // 13
};

struct Icom_device : IDispatch {
    virtual HRESULT get_ip(BSTR* ip) = 0;       // 1
    virtual HRESULT put_ip(BSTR ip) = 0;        // 1
    virtual HRESULT get_mac(BSTR* mac) = 0;     // 2
    virtual HRESULT get_age(LONG* ms) = 0;      // 3
    virtual HRESULT get_valid(LONG* valid) = 0; // 4
};

struct Icom_bstr_vector : IDispatch {
    virtual HRESULT get_length(LONG* length) = 0;   // 1
    virtual HRESULT at(LONG index, BSTR* text) = 0; // 2
};

VX_DEFINE_UUIDOF(Imanager, IID_Imanager);
VX_DEFINE_UUIDOF(Icom_adapter, IID_Icom_adapter);
VX_DEFINE_UUIDOF(Icom_device, IID_Icom_device);
VX_DEFINE_UUIDOF(Icom_bstr_vector, IID_Icom_bstr_vector);

_COM_SMARTPTR_TYPEDEF(Imanager, IID_Imanager);
_COM_SMARTPTR_TYPEDEF(Icom_adapter, IID_Icom_adapter);
_COM_SMARTPTR_TYPEDEF(Icom_device, IID_Icom_device);
_COM_SMARTPTR_TYPEDEF(Icom_bstr_vector, IID_Icom_bstr_vector);

namespace scoutline {

// Registers the four interfaces' member tables (idempotent). Clients and the
// server call it before the first object is made or reached.
void register_interface_tables();

} // namespace scoutline
