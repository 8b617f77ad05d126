// The module of libflashkit.so: the interface tables (the type library), the
// class table with the registration of every class, and the exports.
//
// Adding a class: its header below, an OBJECT_ENTRY line (a class the client
// creates) or an OBJECT_ENTRY_NON_CREATEABLE line (a class only the server
// makes) in the object map, and its interface table in register_tables().
#include "com_vector.h"
#include "deployer.h"
#include "job.h"
#include "unit.h"
#include "update_check.h"
#include "updater.h"
#include "version.h"

#include "flashkit/families/families.h"

namespace {

using com::arg;
constexpr auto m = com::member_kind::method;
constexpr auto g = com::member_kind::propget;
constexpr auto p = com::member_kind::propput;

void register_tables()
{
    com::register_interface_table(
        com::describe<Iupdater>("Iupdater",
                                {
                                    {7, 1, "upload", m, {arg::in_bstr, arg::out_dispatch}},
                                    {8, 2, "find_all", m, {arg::out_dispatch}},
                                    {9, 3, "find_prefered", m, {arg::in_dispatch, arg::out_dispatch}},
                                    {10, 4, "find_compatible", m, {arg::in_dispatch, arg::out_dispatch}},
                                    {11, 5, "timeout", g, {arg::out_long}},
                                    {12, 5, "timeout", p, {arg::in_long}},
                                    {13, 6, "retries", g, {arg::out_long}},
                                    {14, 6, "retries", p, {arg::in_long}},
                                    {15, 7, "holdoff", g, {arg::out_long}},
                                    {16, 7, "holdoff", p, {arg::in_long}},
                                    {17, 8, "debug", p, {arg::in_long}},
                                    {18, 9, "init", m, {arg::in_bstr}},
                                    {19, 10, "write_timeout", g, {arg::out_long}},
                                    {20, 10, "write_timeout", p, {arg::in_long}},
                                    {21, 11, "find_sametype", m, {arg::in_long, arg::in_i4, arg::out_dispatch}},
                                    {22, 12, "find_sameHWtype", m, {arg::in_dispatch, arg::out_dispatch}},
                                }));
    com::register_interface_table(com::describe<Iunit>(
        "Iunit",
        {
            {7, 1, "ver", g, {arg::out_dispatch}},
            {8, 2, "check_update", m, {arg::in_dispatch, arg::out_dispatch}},
            {9, 3, "mac", g, {arg::out_bstr}},
            {10, 3, "mac", p, {arg::in_bstr}},
            {11, 4, "download", m, {arg::in_dispatch, arg::out_dispatch}},
            {12, 5, "type", g, {arg::out_long}},
            {13, 6, "download2", m, {arg::in_dispatch, arg::in_long, arg::in_long, arg::out_dispatch}},
            {14, 7, "VCXO_center", g, {arg::out_long}},
            {15, 7, "VCXO_center", p, {arg::in_long}},
            {16, 8, "allowed_channels", g, {arg::out_long}},
            {17, 8, "allowed_channels", p, {arg::in_long}},
            {18, 9, "ssi_format", g, {arg::out_long}},
            {19, 9, "ssi_format", p, {arg::in_long}},
            {20, 10, "download3", m, {arg::in_dispatch, arg::in_long, arg::in_long, arg::in_long, arg::out_dispatch}},
            {21, 11, "custom", g, {arg::out_bstr}},
            {22, 12, "custom_ver", g, {arg::out_dispatch}},
        }));
    com::register_interface_table(
        com::describe<Iversion>("Iversion",
                                {
                                    {7, 1, "name", g, {arg::out_bstr}},
                                    {8, 2, "path", g, {arg::out_bstr}},
                                    {9, 3, "code_cs", g, {arg::out_long}},
                                    {10, 4, "fpga_cs", g, {arg::out_long}},
                                    {11, 5, "fpga2_cs", g, {arg::out_long}},
                                    {12, 6, "boot_cs", g, {arg::out_long}},
                                    {13, 7, "valid", g, {arg::out_long}},
                                    {14, 8, "exists", g, {arg::out_long}},
                                    {15, 9, "is_compatible", g, {arg::in_dispatch, arg::out_long}},
                                    {16, 10, "config_cs", g, {arg::out_long}},
                                    {17, 11, "type", g, {arg::out_long}},
                                    {18, 12, "code2_cs", g, {arg::out_long}},
                                }));
    com::register_interface_table(com::describe<Icom_vector>("Icom_vector",
                                                             {
                                                                 {7, 1, "length", g, {arg::out_long}},
                                                                 {8, 2, "at", m, {arg::in_long, arg::out_dispatch}},
                                                             }));
    com::register_interface_table(com::describe<Iupdate_check>("Iupdate_check",
                                                               {
                                                                   {7, 1, "boot_update", g, {arg::out_long}},
                                                                   {8, 2, "code_update", g, {arg::out_long}},
                                                                   {9, 3, "fpga_update", g, {arg::out_long}},
                                                                   {10, 4, "config_update", g, {arg::out_long}},
                                                                   {11, 5, "boot_differs", g, {arg::out_long}},
                                                                   {12, 6, "code2_update", g, {arg::out_long}},
                                                               }));
    com::register_interface_table(com::describe<Ijob>("Ijob",
                                                      {
                                                          {7, 1, "percent", g, {arg::out_r8}},
                                                          {8, 2, "status", g, {arg::out_bstr}},
                                                          {9, 3, "done", g, {arg::out_long}},
                                                          {10, 4, "cancel", m, {}},
                                                          {11, 5, "result", m, {arg::out_dispatch}},
                                                      }));
    com::register_interface_table(
        com::describe<Ideployer>("Ideployer",
                                 {
                                     {7, 1, "deploy", m, {arg::in_bstr, arg::in_bstr, arg::out_dispatch}},
                                     {8, 2, "download", m, {arg::in_bstr, arg::in_bstr, arg::out_dispatch}},
                                     {9, 3, "save_dsp_args", m, {arg::in_bstr, arg::out_dispatch}},
                                 }));
}

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_updater, flashkit::Cupdater)
OBJECT_ENTRY_NON_CREATEABLE(CLSID_unit, flashkit::Cunit)
OBJECT_ENTRY_NON_CREATEABLE(CLSID_version, flashkit::Cversion)
OBJECT_ENTRY_NON_CREATEABLE(CLSID_com_vector, flashkit::Ccom_vector)
OBJECT_ENTRY_NON_CREATEABLE(CLSID_update_check, flashkit::Cupdate_check)
OBJECT_ENTRY_NON_CREATEABLE(CLSID_job, flashkit::Cjob)
OBJECT_ENTRY(CLSID_deployer, flashkit::Cdeployer)
END_OBJECT_MAP()

const com::typelib_registration typelib{LIBID_FLASHKITLib, "1.0", "Flashkit 1.0 Type Library"};

struct module_init {
    module_init()
    {
        register_tables();
        update::register_families();
        _Module.Init(ObjectMap, com::server_kind::inproc, &typelib);
    }
} module_init_once;

} // namespace

#define FLASHKIT_EXPORT extern "C" __attribute__((visibility("default")))

FLASHKIT_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    return _Module.GetClassObject(clsid, riid, out);
}
FLASHKIT_EXPORT HRESULT DllCanUnloadNow() { return _Module.CanUnloadNow(); }
FLASHKIT_EXPORT HRESULT DllRegisterServer() { return _Module.RegisterServer(TRUE); }
FLASHKIT_EXPORT HRESULT DllUnregisterServer() { return _Module.UnregisterServer(TRUE); }
