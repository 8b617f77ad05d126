#include "discovery_bench.h"

#include <scoutline/com/objects.h>

#include <win32/registry.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace {

CComModule _Module;
BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_manager, Cmanager)
OBJECT_ENTRY(CLSID_com_adapter, Ccom_adapter)
OBJECT_ENTRY(CLSID_com_device, Ccom_device)
OBJECT_ENTRY(CLSID_com_bstr_vector, Ccom_bstr_vector)
END_OBJECT_MAP()

CComPtr<Icom_adapter> take_adapter(Imanager* manager)
{
    CComPtr<IDispatch> object;
    CComPtr<Icom_adapter> adapter;
    if (manager && SUCCEEDED(manager->adapter_get(_bstr_t("[0] vxbench0"), &object.p)) && object)
        object->QueryInterface(IID_Icom_adapter, reinterpret_cast<void**>(&adapter.p));
    return adapter;
}

} // namespace

std::string discovery_bench_t::ip_of(int device)
{
    return "10.9." + std::to_string(device / 250) + "." + std::to_string(device % 250 + 1);
}

discovery_bench_t::discovery_bench_t(int devices, bool with_addresses)
{
    char tmpl[] = "/tmp/discovery_bench_XXXXXX";
    dir = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    std::filesystem::create_directories(dir + "/run");

    vx_registry_set_adapter_source([] {
        vx_net_adapter a;
        a.name = "vxbench0";
        a.description = "bench";
        a.ip = "10.9.0.1";
        a.mask = "255.255.0.0";
        return std::vector<vx_net_adapter>{a};
    });
    scoutline::register_interface_tables();
    _Module.Init(ObjectMap, com::server_kind::local);
    CoInitialize(nullptr);
    if (FAILED(_Module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE)))
        return;
    {
        CComPtr<IClassFactory> factory;
        _Module.GetClassObject(CLSID_manager, IID_IClassFactory, reinterpret_cast<void**>(&factory.p));
        if (factory)
            factory->CreateInstance(nullptr, IID_Imanager, reinterpret_cast<void**>(&local.p));
    }
    local_adapter = take_adapter(local);
    auto* engine = local_adapter ? static_cast<Ccom_adapter*>(local_adapter.p)->get_engine() : nullptr;
    if (!engine) {
        local_adapter.Release();
        return;
    }
    for (int i = 0; i < devices; ++i) {
        qm::mac_address_t mac;
        const uint8_t bytes[6] = {0x00, 0x60, 0x2b, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
        std::copy(bytes, bytes + 6, mac.bytes);
        engine->touch(mac);
        if (with_addresses) {
            qm::ip_address_t ip;
            ip.assign_text(ip_of(i));
            engine->device_get(mac)->set_ip(ip);
        }
    }

    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return;
    const pid_t parent = getpid();
    server = fork();
    if (server == 0) {
        // The server goes with the bench, even one killed outright.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        close(sv[1]);
        com::quit_on_signals();
        com::serve_connection(sv[0]);
        com::run_server_loop();
        _exit(0);
    }
    close(sv[0]);
    com::connect_object(sv[1], CLSID_manager, IID_Imanager, reinterpret_cast<void**>(&remote.p));
    remote_adapter = take_adapter(remote);
}

void discovery_bench_t::stop_server()
{
    remote_adapter.Release();
    remote.Release();
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        server = -1;
    }
}

discovery_bench_t::~discovery_bench_t()
{
    stop_server();
    local_adapter.Release();
    local.Release();
    _Module.RevokeClassObjects();
    _Module.Term();
    CoUninitialize();
    vx_registry_set_adapter_source(nullptr);
    std::filesystem::remove_all(dir);
}
