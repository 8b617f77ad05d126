// One tick of the console's main timer (device walk, changed values, list
// update, counts) with 1000 devices x 3 poll columns, idle (nothing changed)
// and busy (every cell changed), with the discovery server's objects across
// the local-server transport (server loop in a child process, as Scoutline
// runs) and in process; beside it the floor of the same walk without the
// console. Then Copy and sorting on the 1000 rows. The poller is a scripted
// one that hands out the prepared changes.
//
//   vistrel_tick [devices=1000] [ticks=15]
#include "IniFile.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "fake_servers.h"

#include <scoutline/com/objects.h>

#include <mfc/test_hooks.h>
#include <win32/registry.h>

#include <QApplication>

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace {

CComModule _Module;
BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_manager, Cmanager)
OBJECT_ENTRY(CLSID_com_adapter, Ccom_adapter)
OBJECT_ENTRY(CLSID_com_device, Ccom_device)
OBJECT_ENTRY(CLSID_com_bstr_vector, Ccom_bstr_vector)
END_OBJECT_MAP()

const char* const oids[3] = {"1.3.6.1.2.1.2.2.1.10.1", "1.3.6.1.2.1.2.2.1.16.1", "1.3.6.1.2.1.1.3.0"};

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

std::string ip_of(int i)
{
    return "10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

// The console's walk alone: what the server costs without the console.
void walk(Icom_adapter* adapter)
{
    CComPtr<IDispatch> current;
    adapter->device_first(&current);
    while (auto device = as<Icom_device>(current)) {
        LONG valid = 0, age = 0;
        BSTR ip = nullptr, mac = nullptr;
        device->get_valid(&valid);
        if (!valid)
            break;
        device->get_ip(&ip);
        device->get_mac(&mac);
        device->get_age(&age);
        SysFreeString(ip);
        SysFreeString(mac);
        CComPtr<IDispatch> next;
        adapter->device_next(current, &next);
        current = next;
    }
}

// Median milliseconds of `runs` runs of fn, each after prepare.
double median_ms(int runs, const std::function<void()>& prepare, const std::function<void()>& fn)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        fn();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Every device's three values change.
void change_everything(int devices, int round)
{
    auto& changes = vistrel_test::World().changes;
    for (int i = 0; i < devices; ++i) {
        auto& list = changes[ip_of(i)];
        list.clear();
        for (int c = 0; c < 3; ++c)
            list.push_back({oids[c], std::to_string(1000 * round + i + c), c == 2 ? 67L : 65L, 1});
    }
}

struct result_t {
    double idle = 0, busy = 0;
};

result_t time_ticks(CVistrelDlg& d, Icom_adapter* adapter, int devices, int ticks)
{
    d.View().StartDiscovery(adapter);
    change_everything(devices, 0);
    d.SendMessage(WM_TIMER, 1); // rows inserted, counters' first readings
    int round = 1;
    result_t r;
    r.busy = median_ms(ticks, [&] { change_everything(devices, round++); }, [&] { d.SendMessage(WM_TIMER, 1); });
    r.idle = median_ms(ticks, [] {}, [&] { d.SendMessage(WM_TIMER, 1); });
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    const int devices = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int ticks = argc > 2 ? std::atoi(argv[2]) : 15;

    char tmpl[] = "/tmp/vistrel_tick_XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::filesystem::create_directories(dir + "/run");
    std::ofstream(VistrelIniPath()) << "[Configuration]\nSCR Refresh Period=100000000\nAge To Die=100000000\n"
                                       "[Default Columns]\nIn=D,1.3.6.1.2.1.2.2.1.10.1\nOut=D,1.3.6.1.2.1.2.2.1.16.1\n"
                                       "Up=D,1.3.6.1.2.1.1.3.0\n[Start Up Columns]\nIn=80\nOut=80\nUp=80\n";

    // The discovery server's objects over one adapter whose engine keeps a
    // table that the bench fills (the adapter itself is never opened).
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
        qm::ip_address_t ip;
        ip.assign_text(ip_of(i));
        engine->device_get(mac)->set_ip(ip);
    }

    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return 1;
    const pid_t server = fork();
    if (server == 0) {
        close(sv[1]);
        com::quit_on_signals();
        com::serve_connection(sv[0]);
        com::run_server_loop();
        _exit(0);
    }
    close(sv[0]);
    CComPtr<Imanager> remote;
    com::connect_object(sv[1], CLSID_manager, IID_Imanager, reinterpret_cast<void**>(&remote.p));
    auto remote_adapter = take_adapter(remote);
    if (!remote_adapter) {
        std::fprintf(stderr, "no adapter across the transport\n");
        kill(server, SIGTERM);
        return 1;
    }

    // The console with the scripted poller (and a scripted manager for its
    // Options object); discovery is switched to the bench's adapters.
    static int qt_argc = 1;
    QApplication app(qt_argc, argv);
    CVistrelApp console;
    console.LoadResources();
    vistrel_test::FakeServers servers;
    vistrel_test::World().quiet = true;

    result_t remote_ticks, local_ticks;
    double walk_remote = 0, walk_local = 0, copy = 0, sort_text = 0, sort_ip = 0, sort_number = 0;
    {
        CVistrelDlg dialog;
        console.m_pMainWnd = &dialog;
        mfc::test::ScriptModal<CVistrelDlg>([&](CVistrelDlg& d) {
            remote_ticks = time_ticks(d, remote_adapter, devices, ticks);
            walk_remote = median_ms(ticks, [] {}, [&] { walk(remote_adapter); });
            local_ticks = time_ticks(d, local_adapter, devices, ticks);
            walk_local = median_ms(ticks, [] {}, [&] { walk(local_adapter); });
            std::string text;
            copy = median_ms(ticks, [] {}, [&] { d.View().CopyText(text); });
            sort_text = median_ms(ticks, [] {}, [&] { d.View().SortBy(1); });
            sort_ip = median_ms(ticks, [] {}, [&] { d.View().SortBy(2); });
            sort_number = median_ms(ticks, [] {}, [&] { d.View().SortBy(3); });
            d.View().StartDiscovery(nullptr);
            d.EndDialog(IDCANCEL);
        });
        dialog.DoModal();
        console.m_pMainWnd = nullptr;
    }
    remote_adapter.Release();
    remote.Release();
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);

    std::printf("\nvistrel_tick: %d devices x 3 poll columns, median of %d\n", devices, ticks);
    std::printf("  discovery server across the transport (goal: idle tick under 50 ms)\n");
    std::printf("    idle tick: %8.2f ms   busy tick: %8.2f ms   walk alone (floor): %8.2f ms\n", remote_ticks.idle,
                remote_ticks.busy, walk_remote);
    std::printf("  discovery server in process (goal: idle tick under 20 ms)\n");
    std::printf("    idle tick: %8.2f ms   busy tick: %8.2f ms   walk alone (floor): %8.2f ms\n", local_ticks.idle,
                local_ticks.busy, walk_local);
    std::printf("  console's share of an idle tick: %.2f ms across the transport, %.2f ms in process\n",
                remote_ticks.idle - walk_remote, local_ticks.idle - walk_local);
    std::printf("  Copy text: %.2f ms; sort by MAC %.2f ms, by IP %.2f ms, by a counter column %.2f ms\n", copy,
                sort_text, sort_ip, sort_number);

    local_adapter.Release();
    local.Release();
    _Module.RevokeClassObjects();
    _Module.Term();
    CoUninitialize();
    vx_registry_set_adapter_source(nullptr);
    std::filesystem::remove(VistrelIniPath());
    std::filesystem::remove_all(dir);
    return 0;
}
