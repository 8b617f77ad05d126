// One walk of a 1000-device table the way the console refreshes it:
// device_first, then device_next until valid is 0, reading ip, mac, age and
// valid of each device. Timed over the local-server transport (socket pair,
// server loop on its own thread) and in process, in the same run.
//
//   scoutline_walk [devices=1000] [walks=20]
#include <scoutline/com/objects.h>

#include <win32/registry.h>

#include <stdlib.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

namespace {

CComModule _Module;
BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_manager, Cmanager)
OBJECT_ENTRY(CLSID_com_adapter, Ccom_adapter)
OBJECT_ENTRY(CLSID_com_device, Ccom_device)
OBJECT_ENTRY(CLSID_com_bstr_vector, Ccom_bstr_vector)
END_OBJECT_MAP()

template <class I>
CComPtr<I> as(IUnknown* object)
{
    CComPtr<I> p;
    if (object)
        object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&p.p));
    return p;
}

CComPtr<Icom_adapter> take_adapter(Imanager* manager)
{
    CComPtr<IDispatch> object;
    manager->adapter_get(_bstr_t("[0] vxbench0"), &object);
    return as<Icom_adapter>(object);
}

// One walk; returns the devices seen.
size_t walk(Icom_adapter* adapter)
{
    size_t seen = 0;
    CComPtr<IDispatch> current;
    adapter->device_first(&current);
    while (auto device = as<Icom_device>(current)) {
        LONG valid = 0, age = 0;
        BSTR ip = nullptr, mac = nullptr;
        device->get_ip(&ip);
        device->get_mac(&mac);
        device->get_age(&age);
        device->get_valid(&valid);
        SysFreeString(ip);
        SysFreeString(mac);
        if (!valid)
            break;
        ++seen;
        CComPtr<IDispatch> next;
        adapter->device_next(current, &next);
        current = next;
    }
    return seen;
}

// Median seconds of `walks` walks.
double time_walks(Icom_adapter* adapter, int walks, size_t expected, bool& ok)
{
    std::vector<double> times;
    for (int i = 0; i < walks; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const size_t seen = walk(adapter);
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ok = ok && seen == expected;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int devices = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int walks = argc > 2 ? std::atoi(argv[2]) : 20;

    char tmpl[] = "/tmp/scoutline_walk_XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    std::filesystem::create_directories(dir + "/run");

    // One adapter known to the registry view only: its engine does not open
    // it, but keeps a device table that the bench fills.
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
    if (FAILED(_Module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE))) {
        std::fprintf(stderr, "cannot register the class objects\n");
        return 1;
    }

    CComPtr<Imanager> local;
    {
        CComPtr<IClassFactory> factory;
        _Module.GetClassObject(CLSID_manager, IID_IClassFactory, reinterpret_cast<void**>(&factory.p));
        factory->CreateInstance(nullptr, IID_Imanager, reinterpret_cast<void**>(&local.p));
    }
    auto local_adapter = take_adapter(local);
    auto* engine = static_cast<Ccom_adapter*>(local_adapter.p)->get_engine();
    if (!engine) {
        std::fprintf(stderr, "no engine\n");
        return 1;
    }
    for (int i = 0; i < devices; ++i) {
        qm::mac_address_t mac;
        const uint8_t bytes[6] = {0x00, 0x60, 0x2b, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
        std::copy(bytes, bytes + 6, mac.bytes);
        engine->touch(mac);
    }

    std::thread loop([] { com::run_server_loop(); });
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return 1;
    com::serve_connection(sv[0]);
    CComPtr<Imanager> remote;
    com::connect_object(sv[1], CLSID_manager, IID_Imanager, reinterpret_cast<void**>(&remote.p));
    auto remote_adapter = take_adapter(remote);

    bool ok = true;
    walk(remote_adapter); // warm-up
    const double over_transport = time_walks(remote_adapter, walks, size_t(devices), ok);
    remote_adapter.Release();
    remote.Release();
    // The in-process walk runs while the loop is idle: calls never overlap.
    walk(local_adapter);
    const double in_process = time_walks(local_adapter, walks, size_t(devices), ok);

    const double calls = 6.0 * devices + 2; // first/next, 4 reads, release per device
    std::printf("\nscoutline_walk: %d devices, median of %d walks\n", devices, walks);
    std::printf("  transport:  %9.3f ms per walk  (%6.2f us per call)\n", over_transport * 1e3,
                over_transport * 1e6 / calls);
    std::printf("  in process: %9.3f ms per walk  (%6.3f us per call)\n", in_process * 1e3,
                in_process * 1e6 / calls);
    std::printf("  ratio transport / in process: %.1f\n", over_transport / in_process);
    if (!ok)
        std::printf("  WARNING: a walk did not see every device\n");

    local_adapter.Release();
    local.Release();
    com::post_quit();
    loop.join();
    _Module.RevokeClassObjects();
    _Module.Term();
    CoUninitialize();
    vx_registry_set_adapter_source(nullptr);
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
