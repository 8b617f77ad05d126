// Automation interfaces of the Querant in-process server (QUERANTLib 1.0).
#pragma once

#include <com/com.h>
#include <com/unknown.h>

VX_DEFINE_GUID(LIBID_QUERANTLib, "{8BEC4E65-ABD9-48BE-A2E5-1CBEF43817F7}");
VX_DEFINE_GUID(CLSID_com_manager, "{381EF319-04C3-4191-AD9D-FED30FE4DF7B}");
VX_DEFINE_GUID(IID_Icom_manager, "{F6B25DD6-538D-4077-AC5F-ADC89BB6FCB0}");
VX_DEFINE_GUID(CLSID_com_variable, "{7F51AE75-0AE1-4551-A459-FF4C6879BAB4}");
VX_DEFINE_GUID(IID_Icom_variable, "{1D5701B0-0A63-499D-A0B9-BA8458EF149F}");
VX_DEFINE_GUID(CLSID_com_variable_vector, "{FA1CF5A5-69FD-4692-BAEB-216C6133AD9E}");
VX_DEFINE_GUID(IID_Icom_variable_vector, "{71A67566-B1E1-4953-A907-5F91DF5BF51C}");

struct Icom_manager : IDispatch {
    virtual HRESULT start() = 0;                                                   // 7
    virtual HRESULT stop() = 0;                                                    // 8
    virtual HRESULT get(BSTR ip, BSTR name, IDispatch** variable) = 0;             // 9
    virtual HRESULT set(BSTR ip, BSTR name, BSTR value, IDispatch** variable) = 0; // 10
    virtual HRESULT watch(BSTR ip, BSTR name) = 0;                                 // 11
    virtual HRESULT end_watch(BSTR ip, BSTR name) = 0;                             // 12
    virtual HRESULT get_all(IDispatch** all) = 0;                                  // 13
    virtual HRESULT get_changes(IDispatch** changes) = 0;                          // 14
    virtual HRESULT get_num_threads(long* pVal) = 0;                               // 15
    virtual HRESULT put_num_threads(long pVal) = 0;                                // 16
    virtual HRESULT get_poll_period(long* pVal) = 0;                               // 17
    virtual HRESULT put_poll_period(long pVal) = 0;                                // 18
    virtual HRESULT get_timeout(long* pVal) = 0;                                   // 19
    virtual HRESULT put_timeout(long pVal) = 0;                                    // 20
    virtual HRESULT get_retry_count(long* pVal) = 0;                               // 21
    virtual HRESULT put_retry_count(long pVal) = 0;                                // 22
    virtual HRESULT get_user(BSTR* pVal) = 0;                                      // 23
    virtual HRESULT put_user(BSTR pVal) = 0;                                       // 24
    virtual HRESULT get_password(BSTR* pVal) = 0;                                  // 25
    virtual HRESULT put_password(BSTR pVal) = 0;                                   // 26
    virtual HRESULT get_device_changes(BSTR ip, IDispatch** changes) = 0;          // 27
    virtual HRESULT clear_watch() = 0;                                             // 28
    virtual HRESULT end_device_watch(BSTR ip) = 0;                                 // 29
    virtual HRESULT get_watch_size(long* pVal) = 0;                                // 30
    virtual HRESULT get_next(BSTR ip, BSTR name, IDispatch** variable) = 0;        // 31
};
VX_DEFINE_UUIDOF(Icom_manager, IID_Icom_manager);

struct Icom_variable : IDispatch {
    virtual HRESULT get_ip(BSTR* pVal) = 0;    // 7
    virtual HRESULT put_ip(BSTR pVal) = 0;     // 8
    virtual HRESULT get_name(BSTR* pVal) = 0;  // 9
    virtual HRESULT put_name(BSTR pVal) = 0;   // 10
    virtual HRESULT get_value(BSTR* pVal) = 0; // 11
    virtual HRESULT put_value(BSTR pVal) = 0;  // 12
    virtual HRESULT get_valid(long* pVal) = 0; // 13
    virtual HRESULT get_type(long* pVal) = 0;  // 14
};
VX_DEFINE_UUIDOF(Icom_variable, IID_Icom_variable);

struct Icom_variable_vector : IDispatch {
    virtual HRESULT get_length(long* pVal) = 0;               // 7
    virtual HRESULT at(long index, IDispatch** variable) = 0; // 8
};
VX_DEFINE_UUIDOF(Icom_variable_vector, IID_Icom_variable_vector);
