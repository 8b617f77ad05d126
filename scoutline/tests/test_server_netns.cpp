// End to end: a client inside a test network namespace creates the manager,
// which starts the registered server there; the device simulator on the other
// end of a veth pair plays unaddressed devices. Needs root.
#include "test_server_support.h"
#include "com_helpers.h"

#include <netns.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <sstream>

using namespace std::chrono_literals;
using scoutline_test::server_sandbox;
using vx::test::netns_pair;

namespace {

constexpr int device_count = 4;
const char* const adapter_name = "[0] vxs0";
const char* const section = "[(0) vxs0]";

using scoutline_test::as;

std::string take(BSTR text) { return scoutline_test::take_text(text, ""); }

// MAC (12 digits) to address, by a walk of device_first / device_next.
std::map<std::string, std::string> walk(Icom_adapter* adapter)
{
    std::map<std::string, std::string> table;
    CComPtr<IDispatch> current;
    if (FAILED(adapter->device_first(&current)))
        return table;
    while (auto device = as<Icom_device>(current)) {
        LONG valid = 0;
        if (FAILED(device->get_valid(&valid)) || !valid)
            break;
        BSTR ip = nullptr, mac = nullptr;
        device->get_ip(&ip);
        device->get_mac(&mac);
        table[take(mac)] = take(ip);
        CComPtr<IDispatch> next;
        if (FAILED(adapter->device_next(current, &next)))
            break;
        current = next;
    }
    return table;
}

size_t addressed(const std::map<std::string, std::string>& table)
{
    return std::count_if(table.begin(), table.end(), [](const auto& e) { return e.second != "0.0.0.0"; });
}

bool eventually(std::chrono::milliseconds limit, const std::function<bool()>& check)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!check()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

std::string plain_mac(std::string colon)
{
    colon.erase(std::remove(colon.begin(), colon.end(), ':'), colon.end());
    return colon;
}

class ServerNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for network namespaces";
        box = std::make_unique<server_sandbox>();
        std::string out;
        ASSERT_EQ(box->run({"-RegServer"}, &out), 0) << out;
        reset_history();
        pair = std::make_unique<netns_pair>("vxs0", "vxe0");
        ASSERT_TRUE(pair->ok()) << pair->error();
        ASSERT_TRUE(pair->add_address(netns_pair::a, "192.168.78.1/24"));
        sim = pair->spawn(netns_pair::b,
                          {vx::test::devsim_path(), "--interface", "vxe0", "-n", std::to_string(device_count)});
        ASSERT_TRUE(sim->wait_for_line("started", 30s)) << "devsim did not start";
        for (int i = 0; i < device_count; ++i) {
            auto line = sim->wait_for_line("device " + std::to_string(i) + " ", 30s);
            ASSERT_TRUE(line);
            std::istringstream in(*line);
            std::string word, k, mac;
            in >> word >> k >> mac;
            macs.push_back(plain_mac(mac));
        }
        scoutline::register_interface_tables();
    }

    void TearDown() override
    {
        sim.reset();
        if (box) {
            EXPECT_GE(box->wait_for_exit(60s).count(), 0) << "the server did not end";
        }
        pair.reset();
        box.reset();
    }

    // Quick ARP checks, and no remembered devices.
    void reset_history() const { std::ofstream(box->root + "/bin/VXHistory.ini") << "[Timeouts]\nARPSleepMS=10\n"; }

    // Every simulated device is in the saved history with an address.
    bool history_has_devices() const
    {
        const std::string text = box->file("VXHistory.ini");
        const size_t at = text.find(section);
        if (at == std::string::npos)
            return false;
        for (const auto& m : macs)
            if (text.find("\n" + m + "=192.168.78.", at) == std::string::npos)
                return false;
        return true;
    }

    CComPtr<Imanager> create_in_namespace()
    {
        return pair->in_namespace(netns_pair::a, [] {
            CoInitialize(nullptr);
            CComPtr<Imanager> manager;
            EXPECT_EQ(CoCreateInstance(CLSID_manager, nullptr, CLSCTX_LOCAL_SERVER, IID_Imanager,
                                       reinterpret_cast<void**>(&manager.p)),
                      S_OK);
            CoUninitialize();
            return manager;
        });
    }

    std::unique_ptr<vx::test::background_process> vxscan(std::vector<std::string> args)
    {
        std::vector<std::string> argv = {VXSCAN_EXE, "--adapter", adapter_name, "--autoassign"};
        argv.insert(argv.end(), args.begin(), args.end());
        return pair->spawn(netns_pair::a, argv);
    }

    std::unique_ptr<server_sandbox> box;
    std::unique_ptr<netns_pair> pair;
    std::unique_ptr<vx::test::background_process> sim;
    std::vector<std::string> macs;
};

} // namespace

TEST_F(ServerNetns, ClientDiscoversAssignsAndReleases)
{
    CoInitialize(nullptr);
    auto manager = create_in_namespace();
    ASSERT_TRUE(manager);
    const pid_t pid = box->server_pid(30s);
    ASSERT_NE(pid, 0);

    // The adapters of the namespace: the veth end only.
    CComPtr<IDispatch> names_object;
    ASSERT_EQ(manager->get_adapters(&names_object), S_OK);
    auto names = as<Icom_bstr_vector>(names_object);
    ASSERT_TRUE(names);
    LONG length = 0;
    ASSERT_EQ(names->get_length(&length), S_OK);
    ASSERT_EQ(length, 1);
    BSTR text = nullptr;
    ASSERT_EQ(names->at(0, &text), S_OK);
    EXPECT_EQ(take(text), adapter_name);
    EXPECT_EQ(names->at(1, &text), DISP_E_EXCEPTION);
    {
        CComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, &info.p), S_OK);
        BSTR description = nullptr;
        info->GetDescription(&description);
        EXPECT_EQ(take(description), "Illegal index 1 for vector with 1 element(s).");
    }
    EXPECT_EQ(names->at(-1, &text), DISP_E_EXCEPTION);

    CComPtr<IDispatch> adapter_object;
    ASSERT_EQ(manager->adapter_get(_bstr_t(adapter_name), &adapter_object), S_OK);
    auto adapter = as<Icom_adapter>(adapter_object);
    ASSERT_TRUE(adapter);
    ASSERT_EQ(adapter->get_ip(&text), S_OK);
    EXPECT_EQ(take(text), "192.168.78.1");
    ASSERT_EQ(adapter->get_ip_start_default(&text), S_OK);
    EXPECT_EQ(take(text), "192.168.78.2");
    ASSERT_EQ(adapter->put_autoassign(1), S_OK);
    ASSERT_EQ(adapter->start(), S_OK);

    // Every device shows up with a distinct address of the range.
    std::map<std::string, std::string> table;
    ASSERT_TRUE(eventually(60s,
                           [&] {
                               table = walk(adapter);
                               return table.size() == macs.size() && addressed(table) == macs.size();
                           }))
        << table.size() << " devices, " << addressed(table) << " addressed";
    std::set<std::string> distinct;
    for (const auto& m : macs) {
        ASSERT_TRUE(table.count(m)) << m;
        distinct.insert(table[m]);
        EXPECT_EQ(table[m].rfind("192.168.78.", 0), 0u) << table[m];
    }
    EXPECT_EQ(distinct.size(), macs.size());

    // A manual address.
    CComPtr<IDispatch> chosen;
    ASSERT_EQ(adapter->device_get(_bstr_t(macs[1].c_str()), &chosen), S_OK);
    ASSERT_EQ(as<Icom_device>(chosen)->put_ip(_bstr_t("192.168.78.222")), S_OK);
    EXPECT_TRUE(eventually(30s, [&] { return walk(adapter)[macs[1]] == "192.168.78.222"; }));

    LONG removed = -1;
    ASSERT_EQ(adapter->device_remove(_bstr_t(macs[2].c_str()), &removed), S_OK);
    EXPECT_EQ(removed, 1);
    ASSERT_EQ(adapter->device_remove(_bstr_t("0050c2999999"), &removed), S_OK);
    EXPECT_EQ(removed, 0);
    // It announces again and comes back.
    EXPECT_TRUE(eventually(60s, [&] { return walk(adapter).count(macs[2]) == 1; }));

    // Everything released: the engine saves the history at once.
    chosen.Release();
    adapter.Release();
    adapter_object.Release();
    names.Release();
    names_object.Release();
    manager.Release();
    const auto released = std::chrono::steady_clock::now();
    EXPECT_TRUE(eventually(30s, [&] { return history_has_devices(); })) << box->file("VXHistory.ini");
    EXPECT_NE(box->file("VXHistory.ini").find(macs[1] + "=192.168.78.222"), std::string::npos);

    // Created again within its 5 s: the same process (when a busy machine
    // held the test up past them, a new one is as right).
    std::this_thread::sleep_for(1s);
    manager = create_in_namespace();
    ASSERT_TRUE(manager);
    if (std::chrono::steady_clock::now() - released < 4s) {
        EXPECT_EQ(box->server_pid(), pid);
    }
    // The server stays 5 s after its last client, then ends.
    manager.Release();
    const auto gone = box->wait_for_exit(60s);
    EXPECT_GE(gone.count(), 4500);
    CoUninitialize();
}

TEST_F(ServerNetns, KilledClientReleasesItsAdapter)
{
    auto client = vxscan({"--seconds", "120"});
    const std::string all = "table " + std::to_string(device_count) + " " + std::to_string(device_count);
    ASSERT_TRUE(client->wait_for_line(all, 60s)) << "the client never saw every device addressed";
    ASSERT_TRUE(box->server_pid(30s));
    reset_history();
    client->kill(0ms);
    // The connection closes, the adapter object goes, the engine saves.
    EXPECT_TRUE(eventually(30s, [&] { return history_has_devices(); })) << box->file("VXHistory.ini");
    EXPECT_GE(box->wait_for_exit(60s).count(), 0);
}

// One bad entry amid a section's good ones, in each form a hand-edited or
// damaged file shows: a run of the server (open, start, release) keeps every
// good entry, and the bad one as it stands.
TEST_F(ServerNetns, HistoryKeepsEveryGoodEntryAroundABadOne)
{
    const std::vector<std::pair<std::string, std::string>> bad_entries = {
        {"key not a MAC", "zzzz=10.88.0.3"},
        {"junk line", "#! junk ###=~~ no entry ~~"},
        {"1 MB value", "00602b5500ff=" + std::string(1 << 20, '9')},
    };
    // Nine devices, written in falling address order; a save writes them
    // rising, so the file changes once the server has saved.
    std::vector<std::string> good;
    for (int k = 1; k <= 9; ++k)
        good.push_back("00602b55000" + std::to_string(k) + "=10.88.0." + std::to_string(20 - k) + "\n");
    const std::string head = "[Timeouts]\nARPSleepMS=10\n[(0) vxs0]\n";
    std::string rising;
    for (auto k = good.rbegin(); k != good.rend(); ++k)
        rising += *k;

    CoInitialize(nullptr);
    for (const auto& [kind, bad] : bad_entries) {
        SCOPED_TRACE(kind);
        std::string written = head + good[0] + good[1] + bad + "\n";
        for (size_t k = 2; k < good.size(); ++k)
            written += good[k];
        std::ofstream(box->root + "/bin/VXHistory.ini") << written;

        auto manager = create_in_namespace();
        ASSERT_TRUE(manager);
        CComPtr<IDispatch> adapter_object;
        ASSERT_EQ(manager->adapter_get(_bstr_t(adapter_name), &adapter_object), S_OK);
        auto adapter = as<Icom_adapter>(adapter_object);
        ASSERT_TRUE(adapter);
        ASSERT_EQ(adapter->start(), S_OK);
        adapter.Release();
        adapter_object.Release();
        manager.Release();

        const std::string expected = head + rising + bad + "\n";
        std::string text;
        EXPECT_TRUE(eventually(30s, [&] { return (text = box->file("VXHistory.ini")) != written; }))
            << "the history was never saved";
        EXPECT_TRUE(text == expected) << text.substr(0, 1000);
    }
    CoUninitialize();
}

TEST_F(ServerNetns, SigtermSavesTheHistoryOfHeldAdapters)
{
    auto client = vxscan({"--seconds", "120"});
    const std::string all = "table " + std::to_string(device_count) + " " + std::to_string(device_count);
    ASSERT_TRUE(client->wait_for_line(all, 60s));
    const pid_t pid = box->server_pid(30s);
    ASSERT_NE(pid, 0);
    reset_history();
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const auto gone = box->wait_for_exit(30s);
    EXPECT_GE(gone.count(), 0);
    EXPECT_TRUE(history_has_devices()) << box->file("VXHistory.ini");
    // The client learns that its server is gone.
    EXPECT_NE(client->kill(10s), 0);
}

// Exit status of a background program once it ends by itself, or -1.
int wait_exit(vx::test::background_process& process, std::chrono::milliseconds limit)
{
    if (!eventually(limit, [&] { return !process.running(); }))
        return -1;
    return process.kill(0ms);
}

TEST_F(ServerNetns, ClientProgramExpectsAddressedDevices)
{
    auto client = vxscan({"--seconds", "60", "--expect", std::to_string(device_count), "--set-ip",
                          macs[0] + "=192.168.78.201", "--remove", macs[3]});
    EXPECT_TRUE(client->wait_for_line("set " + macs[0] + " 192.168.78.201", 60s));
    EXPECT_TRUE(client->wait_for_line("removed " + macs[3], 60s));
    EXPECT_EQ(wait_exit(*client, 60s), 0) << "vxscan exits 0 once the devices are addressed";

    // The manual address holds: a new client sees it (the limit only bounds
    // the wait for the device, however slowly a busy machine brings it).
    auto second = vxscan({"--seconds", "60", "--expect", std::to_string(device_count)});
    EXPECT_TRUE(second->wait_for_line("device " + macs[0] + " 192.168.78.201", 60s)) << [&] {
        std::string all;
        for (const auto& line : second->lines())
            all += line + "\n";
        return all;
    }();
    EXPECT_EQ(wait_exit(*second, 60s), 0);

    // An expectation never met fails at the limit.
    auto third = vxscan({"--seconds", "1", "--expect", std::to_string(device_count + 1)});
    EXPECT_EQ(wait_exit(*third, 60s), 1);
}
