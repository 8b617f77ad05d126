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
#include "ServerCalls.h"
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "discovery_bench.h"
#include "fake_servers.h"

#include <mfc/test_hooks.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace {

const char* const oids[3] = {"1.3.6.1.2.1.2.2.1.10.1", "1.3.6.1.2.1.2.2.1.16.1", "1.3.6.1.2.1.1.3.0"};

// The console's walk alone: what the server costs without the console.
void walk(Icom_adapter* adapter)
{
    CComPtr<IDispatch> current;
    adapter->device_first(&current);
    while (auto device = QueryAs<Icom_device>(current)) {
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
        auto& list = changes[discovery_bench_t::ip_of(i)];
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
    r.busy = median_ms(
        ticks, [&] { change_everything(devices, round++); }, [&] { d.SendMessage(WM_TIMER, 1); });
    r.idle = median_ms(
        ticks, [] {}, [&] { d.SendMessage(WM_TIMER, 1); });
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    const int devices = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int ticks = argc > 2 ? std::atoi(argv[2]) : 15;

    discovery_bench_t discovery(devices, true);
    if (!discovery.ok()) {
        std::fprintf(stderr, "cannot set up the discovery objects\n");
        return 1;
    }
    Icom_adapter* remote_adapter = discovery.remote_adapter;
    Icom_adapter* local_adapter = discovery.local_adapter;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::ofstream(VistrelIniPath()) << "[Configuration]\nSCR Refresh Period=100000000\nAge To Die=100000000\n"
                                       "[Default Columns]\nIn=D,1.3.6.1.2.1.2.2.1.10.1\nOut=D,1.3.6.1.2.1.2.2.1.16.1\n"
                                       "Up=D,1.3.6.1.2.1.1.3.0\n[Start Up Columns]\nIn=80\nOut=80\nUp=80\n";

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
            walk_remote = median_ms(
                ticks, [] {}, [&] { walk(remote_adapter); });
            local_ticks = time_ticks(d, local_adapter, devices, ticks);
            walk_local = median_ms(
                ticks, [] {}, [&] { walk(local_adapter); });
            std::string text;
            copy = median_ms(
                ticks, [] {}, [&] { d.View().CopyText(text); });
            sort_text = median_ms(
                ticks, [] {}, [&] { d.View().SortBy(1); });
            sort_ip = median_ms(
                ticks, [] {}, [&] { d.View().SortBy(2); });
            sort_number = median_ms(
                ticks, [] {}, [&] { d.View().SortBy(3); });
            d.View().StartDiscovery(nullptr);
            d.EndDialog(IDCANCEL);
        });
        dialog.DoModal();
        console.m_pMainWnd = nullptr;
    }
    discovery.stop_server();

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

    std::filesystem::remove(VistrelIniPath());
    return 0;
}
