// Automation interfaces of the Flashkit in-process server (FLASHKITLib 1.0).
// The client creates "Flashkit.updater"; every other object reaches it as the
// IDispatch result of a method and is queried for its own interface. Every
// method returns an HRESULT and hands its output back through its last
// parameter; a failure carries its text in the thread's error object.
#pragma once

#include <com/com.h>
#include <com/unknown.h>

VX_DEFINE_GUID(LIBID_FLASHKITLib, "{10C3D04E-5A72-47CF-BB97-088679DD1350}");
VX_DEFINE_GUID(CLSID_updater, "{877FCD5F-037D-4FFB-ADCF-CA396CF069A0}");
VX_DEFINE_GUID(IID_Iupdater, "{D8D768DF-30DA-4CF8-9757-66723BBCD852}");
VX_DEFINE_GUID(CLSID_unit, "{CA47882B-CE85-46B5-8773-13420F3F5FEA}");
VX_DEFINE_GUID(IID_Iunit, "{6AFF400F-4EEA-4A7C-8EC9-AECCB2CA082C}");
VX_DEFINE_GUID(CLSID_version, "{7653C7A6-4A8D-4DF0-8655-BA2C25A947CF}");
VX_DEFINE_GUID(IID_Iversion, "{2B7BA63A-B530-42BA-ADCA-C03A9DC1A2E9}");
VX_DEFINE_GUID(CLSID_com_vector, "{CF7AEC74-FE4E-4B0B-A01B-A4124827131E}");
VX_DEFINE_GUID(IID_Icom_vector, "{D4AB03BE-D1D6-4052-B6C4-5537D7750A4C}");
VX_DEFINE_GUID(CLSID_update_check, "{126B6157-8E61-42CF-83C4-A4F9B7807A49}");
VX_DEFINE_GUID(IID_Iupdate_check, "{D3923C40-D8E6-4324-A73E-1309B6DF5169}");
VX_DEFINE_GUID(CLSID_job, "{BCF7D0F3-54A3-4CE9-9DC9-3427C51598E9}");
VX_DEFINE_GUID(IID_Ijob, "{00CE1CAF-9EFB-46C4-9501-BE6CA73D6A06}");
VX_DEFINE_GUID(CLSID_deployer, "{64A87567-354F-41C9-B014-53EF0F68C761}");
VX_DEFINE_GUID(IID_Ideployer, "{46F2ECC5-9AEB-49B8-BE4B-2C8E8EA5BEF8}");

// The firmware folder, the searches over its versions, the TFTP settings of
// the process and the upload of a device. DISPIDs in the comments.
struct Iupdater : IDispatch {
    virtual HRESULT upload(BSTR ip, IDispatch** job) = 0;                          // 1
    virtual HRESULT find_all(IDispatch** versions) = 0;                            // 2
    virtual HRESULT find_prefered(IDispatch* ver, IDispatch** version) = 0;        // 3
    virtual HRESULT find_compatible(IDispatch* ver, IDispatch** versions) = 0;     // 4
    virtual HRESULT get_timeout(long* pVal) = 0;                                   // 5
    virtual HRESULT put_timeout(long newVal) = 0;                                  // 5
    virtual HRESULT get_retries(long* pVal) = 0;                                   // 6
    virtual HRESULT put_retries(long newVal) = 0;                                  // 6
    virtual HRESULT get_holdoff(long* pVal) = 0;                                   // 7
    virtual HRESULT put_holdoff(long newVal) = 0;                                  // 7
    virtual HRESULT put_debug(long newVal) = 0;                                    // 8
    virtual HRESULT init(BSTR path) = 0;                                           // 9
    virtual HRESULT get_write_timeout(long* pVal) = 0;                             // 10
    virtual HRESULT put_write_timeout(long newVal) = 0;                            // 10
    virtual HRESULT find_sametype(long type, int hwRev, IDispatch** versions) = 0; // 11
    virtual HRESULT find_sameHWtype(IDispatch* ver, IDispatch** versions) = 0;     // 12
};
VX_DEFINE_UUIDOF(Iupdater, IID_Iupdater);

// One device found by an upload: its family unit, the version it runs and
// the configuration values to write.
struct Iunit : IDispatch {
    virtual HRESULT get_ver(IDispatch** pVal) = 0;                                                        // 1
    virtual HRESULT check_update(IDispatch* new_ver, IDispatch** check) = 0;                              // 2
    virtual HRESULT get_mac(BSTR* pVal) = 0;                                                              // 3
    virtual HRESULT put_mac(BSTR newVal) = 0;                                                             // 3
    virtual HRESULT download(IDispatch* ver, IDispatch** job) = 0;                                        // 4
    virtual HRESULT get_type(long* pVal) = 0;                                                             // 5
    virtual HRESULT download2(IDispatch* ver, long boot, long runtime, IDispatch** job) = 0;              // 6
    virtual HRESULT get_VCXO_center(long* pVal) = 0;                                                      // 7
    virtual HRESULT put_VCXO_center(long newVal) = 0;                                                     // 7
    virtual HRESULT get_allowed_channels(long* pVal) = 0;                                                 // 8
    virtual HRESULT put_allowed_channels(long newVal) = 0;                                                // 8
    virtual HRESULT get_ssi_format(long* pVal) = 0;                                                       // 9
    virtual HRESULT put_ssi_format(long newVal) = 0;                                                      // 9
    virtual HRESULT download3(IDispatch* ver, long boot, long runtime, long config, IDispatch** job) = 0; // 10
    virtual HRESULT get_custom(BSTR* pVal) = 0;                                                           // 11
    virtual HRESULT get_custom_ver(IDispatch** pVal) = 0;                                                 // 12
};
VX_DEFINE_UUIDOF(Iunit, IID_Iunit);

// One firmware image of the folder (or none).
struct Iversion : IDispatch {
    virtual HRESULT get_name(BSTR* pVal) = 0;                          // 1
    virtual HRESULT get_path(BSTR* pVal) = 0;                          // 2
    virtual HRESULT get_code_cs(long* pVal) = 0;                       // 3
    virtual HRESULT get_fpga_cs(long* pVal) = 0;                       // 4
    virtual HRESULT get_fpga2_cs(long* pVal) = 0;                      // 5
    virtual HRESULT get_boot_cs(long* pVal) = 0;                       // 6
    virtual HRESULT get_valid(long* pVal) = 0;                         // 7
    virtual HRESULT get_exists(long* pVal) = 0;                        // 8
    virtual HRESULT get_is_compatible(IDispatch* ver, long* pVal) = 0; // 9
    virtual HRESULT get_config_cs(long* pVal) = 0;                     // 10
    virtual HRESULT get_type(long* pVal) = 0;                          // 11
    virtual HRESULT get_code2_cs(long* pVal) = 0;                      // 12
};
VX_DEFINE_UUIDOF(Iversion, IID_Iversion);

// A list of versions; late-bound, a name "%u" reads item n as DISPID 256 + n.
struct Icom_vector : IDispatch {
    virtual HRESULT get_length(long* pVal) = 0;           // 1
    virtual HRESULT at(long index, IDispatch** item) = 0; // 2
};
VX_DEFINE_UUIDOF(Icom_vector, IID_Icom_vector);

// What writing a version would change on a unit's device.
struct Iupdate_check : IDispatch {
    virtual HRESULT get_boot_update(long* pVal) = 0;   // 1
    virtual HRESULT get_code_update(long* pVal) = 0;   // 2
    virtual HRESULT get_fpga_update(long* pVal) = 0;   // 3
    virtual HRESULT get_config_update(long* pVal) = 0; // 4
    virtual HRESULT get_boot_differs(long* pVal) = 0;  // 5
    virtual HRESULT get_code2_update(long* pVal) = 0;  // 6
};
VX_DEFINE_UUIDOF(Iupdate_check, IID_Iupdate_check);

// A running or finished operation, polled by the client. done: 0 running,
// 1 success, 2 failed (status holds the reason), 3 cancelled. Releasing the
// last reference to a running job waits for its operation to end.
struct Ijob : IDispatch {
    virtual HRESULT get_percent(double* pVal) = 0; // 1
    virtual HRESULT get_status(BSTR* pVal) = 0;    // 2
    virtual HRESULT get_done(long* pVal) = 0;      // 3
    virtual HRESULT cancel() = 0;                  // 4
    virtual HRESULT result(IDispatch** unit) = 0;  // 5
};
VX_DEFINE_UUIDOF(Ijob, IID_Ijob);

// The DSP program operations on one device, each run as a job: deploy a DSP
// image file as it is, download a new DSP program into the device's other
// bank, save the program's current arguments into its image.
struct Ideployer : IDispatch {
    virtual HRESULT deploy(BSTR ip, BSTR filename, IDispatch** pVal) = 0;   // 1
    virtual HRESULT download(BSTR ip, BSTR filename, IDispatch** pVal) = 0; // 2
    virtual HRESULT save_dsp_args(BSTR ip, IDispatch** pVal) = 0;           // 3
};
VX_DEFINE_UUIDOF(Ideployer, IID_Ideployer);
