// vxscan: a small command-line client of the discovery server. It creates
// the manager (which starts the registered server), takes an adapter, starts
// discovery and prints the device table every second.
//
//   vxscan [--adapter NAME] [--autoassign] [--range A-B] [--seconds N]
//          [--expect N] [--set-ip MAC=IP] [--remove MAC]
//
// Exits 0 once --expect devices with addresses are seen (and the device of
// --set-ip shows its new address, the one of --remove is removed), or after
// --seconds when nothing is expected; 1 when the expectation is not met in
// time; 2 on a usage or COM failure.
#include <scoutline/com/interfaces.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

struct options_t {
    std::string adapter;
    bool autoassign = false;
    std::string range_start, range_end;
    int seconds = 30;
    int expect = -1;
    std::string set_mac, set_ip;
    std::string remove_mac;
};

bool parse(int argc, char** argv, options_t& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--adapter") {
            if (!value(o.adapter))
                return false;
        } else if (a == "--autoassign") {
            o.autoassign = true;
        } else if (a == "--range") {
            if (!value(v) || v.find('-') == std::string::npos)
                return false;
            o.range_start = v.substr(0, v.find('-'));
            o.range_end = v.substr(v.find('-') + 1);
        } else if (a == "--seconds") {
            if (!value(v))
                return false;
            o.seconds = std::atoi(v.c_str());
        } else if (a == "--expect") {
            if (!value(v))
                return false;
            o.expect = std::atoi(v.c_str());
        } else if (a == "--set-ip") {
            if (!value(v) || v.find('=') == std::string::npos)
                return false;
            o.set_mac = v.substr(0, v.find('='));
            o.set_ip = v.substr(v.find('=') + 1);
        } else if (a == "--remove") {
            if (!value(o.remove_mac))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

std::string text(BSTR b)
{
    std::string s = com::bstr_to_utf8(b);
    SysFreeString(b);
    return s;
}

int fail(const char* what, HRESULT hr)
{
    std::printf("%s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
    std::fflush(stdout);
    return 2;
}

int run(const options_t& o)
{
    Imanager* manager = nullptr;
    HRESULT hr =
        CoCreateInstance(CLSID_manager, nullptr, CLSCTX_LOCAL_SERVER, IID_Imanager, reinterpret_cast<void**>(&manager));
    if (FAILED(hr))
        return fail("CoCreateInstance", hr);
    IDispatchPtr names_dispatch;
    hr = manager->get_adapters(&names_dispatch);
    Icom_bstr_vectorPtr names(names_dispatch);
    LONG count = 0;
    if (FAILED(hr) || !names || FAILED(names->get_length(&count))) {
        manager->Release();
        return fail("adapters", FAILED(hr) ? hr : E_POINTER);
    }
    // --adapter names the adapter exactly or by a part of its name; the
    // first adapter without it.
    std::string chosen, partial;
    for (LONG i = 0; i < count; ++i) {
        BSTR name = nullptr;
        names->at(i, &name);
        const std::string n = text(name);
        std::printf("adapter %s\n", n.c_str());
        if (n == o.adapter || (o.adapter.empty() && i == 0))
            chosen = n;
        else if (partial.empty() && !o.adapter.empty() && n.find(o.adapter) != std::string::npos)
            partial = n;
    }
    if (chosen.empty())
        chosen = partial.empty() ? o.adapter : partial;
    names = nullptr;

    IDispatchPtr adapter_dispatch;
    hr = manager->adapter_get(_bstr_t(chosen.c_str()), &adapter_dispatch);
    Icom_adapterPtr adapter(adapter_dispatch);
    adapter_dispatch = nullptr;
    manager->Release();
    if (FAILED(hr) || !adapter)
        return fail("adapter_get", FAILED(hr) ? hr : E_POINTER);
    std::printf("using %s\n", chosen.c_str());

    if (!o.range_start.empty()) {
        adapter->put_ip_start(_bstr_t(o.range_start.c_str()));
        adapter->put_ip_end(_bstr_t(o.range_end.c_str()));
    }
    adapter->put_autoassign(o.autoassign ? 1 : 0);
    adapter->start();
    std::fflush(stdout);

    // The address asked for takes a while (the server checks that nobody
    // holds it): the set is done once the device shows it.
    bool set_asked = o.set_mac.empty(), set_done = o.set_mac.empty(), remove_done = o.remove_mac.empty();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
    for (;;) {
        int addressed = 0, listed = 0;
        IDispatchPtr current;
        if (FAILED(hr = adapter->device_first(&current)))
            return fail("device_first", hr);
        for (;;) {
            Icom_devicePtr device(current);
            LONG valid = 0;
            if (!device || FAILED(hr = device->get_valid(&valid)))
                return fail("valid", FAILED(hr) ? hr : E_POINTER);
            if (!valid)
                break;
            BSTR ip = nullptr, mac = nullptr;
            LONG age = 0;
            device->get_ip(&ip);
            device->get_mac(&mac);
            device->get_age(&age);
            const std::string ip_text = text(ip), mac_text = text(mac);
            std::printf("device %s %s %d\n", mac_text.c_str(), ip_text.c_str(), static_cast<int>(age));
            ++listed;
            if (ip_text != "0.0.0.0")
                ++addressed;
            if (!set_asked && mac_text == o.set_mac) {
                device->put_ip(_bstr_t(o.set_ip.c_str()));
                std::printf("set %s %s\n", mac_text.c_str(), o.set_ip.c_str());
                set_asked = true;
            } else if (set_asked && !set_done && mac_text == o.set_mac && ip_text == o.set_ip) {
                set_done = true;
            }
            IDispatchPtr next;
            if (FAILED(hr = adapter->device_next(current, &next)))
                return fail("device_next", hr);
            current = next;
        }
        if (!remove_done) {
            LONG removed = 0;
            adapter->device_remove(_bstr_t(o.remove_mac.c_str()), &removed);
            if (removed) {
                std::printf("removed %s\n", o.remove_mac.c_str());
                remove_done = true;
            }
        }
        std::printf("table %d %d\n", listed, addressed);
        std::fflush(stdout);
        if (o.expect >= 0 && addressed >= o.expect && set_done && remove_done)
            return 0;
        if (std::chrono::steady_clock::now() >= end)
            return o.expect >= 0 ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

} // namespace

int main(int argc, char** argv)
{
    options_t options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: vxscan [--adapter NAME] [--autoassign] [--range A-B] [--seconds N] "
                     "[--expect N] [--set-ip MAC=IP] [--remove MAC]\n");
        return 2;
    }
    scoutline::register_interface_tables();
    CoInitialize(nullptr);
    const int code = run(options);
    CoUninitialize();
    return code;
}
