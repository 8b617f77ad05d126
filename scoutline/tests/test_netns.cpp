// The engine on one end of a veth pair between two private network
// namespaces, the device simulator on the other; checked through the
// engine's own operations and the simulator's event lines. Needs root.
#include <scoutline/adapter.h>
#include <scoutline/adapter_list.h>
#include <scoutline/frames.h>

#include <netns.h>
#include <qm/log_file.h>

#include <windows.h>

#include <gtest/gtest.h>

#include "console_capture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

using namespace qm::vx;
using namespace std::chrono_literals;
using vx::test::netns_pair;

namespace {

qm::ip_address_t ip(const std::string& text)
{
    qm::ip_address_t a;
    a.assign_text(text);
    return a;
}

std::string colon_mac(const qm::mac_address_t& m)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m.bytes[0], m.bytes[1], m.bytes[2], m.bytes[3],
                  m.bytes[4], m.bytes[5]);
    return text;
}

std::string history_path() { return GetProgramDirectory() + "VXHistory.ini"; }

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

template <class Pred> bool eventually(std::chrono::milliseconds timeout, Pred pred)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        if (pred())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return pred();
}

// MAC text (12 digits) -> address, for every device in the table.
std::map<std::string, std::string> table(adapter_t& engine)
{
    std::map<std::string, std::string> out;
    for (device_ptr d = engine.device_first(); d; d = engine.device_next(d))
        out[d->get_mac().to_string()] = d->get_ip().to_string();
    return out;
}

class Netns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for network namespaces";
        pair = std::make_unique<netns_pair>("vxh0", "vxd0");
        ASSERT_TRUE(pair->ok()) << pair->error();
        std::remove(history_path().c_str());
    }

    // Settings beside the program: quick ARP steps, unless a test needs an
    // answer to an ARP probe to come within them.
    void write_history(const std::string& extra = {}, int arp_sleep_ms = 10)
    {
        std::ofstream(history_path()) << "[Timeouts]\nARPSleepMS=" << arp_sleep_ms << "\n" << extra;
    }

    // The engine opens its adapter from inside the engine's namespace.
    std::unique_ptr<adapter_t> open_engine(const std::string& cidr, const std::string& address, const std::string& mask)
    {
        EXPECT_TRUE(pair->add_address(netns_pair::a, cidr));
        return make_engine(address, mask);
    }

    std::unique_ptr<adapter_t> make_engine(const std::string& address, const std::string& mask)
    {
        adapter_info_t info;
        info.name = "[0] vxh0";
        info.description = "veth";
        info.service = "vxh0";
        info.open_name = "\\Device\\vxh0";
        info.ip = ip(address);
        info.mask = ip(mask);
        auto engine = pair->in_namespace(netns_pair::a, [&] { return std::make_unique<adapter_t>(info); });
        EXPECT_TRUE(engine->is_open());
        return engine;
    }

    std::unique_ptr<vx::test::background_process> devsim(std::vector<std::string> args)
    {
        std::vector<std::string> argv = {vx::test::devsim_path(), "--interface", "vxd0"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto process = pair->spawn(netns_pair::b, argv);
        EXPECT_TRUE(process->wait_for_line("started", 30s)) << "devsim did not start";
        return process;
    }

    std::unique_ptr<netns_pair> pair;
};

} // namespace

TEST_F(Netns, DevicesAppearWithAddressAndAge)
{
    // The adapter as the adapter list finds it in this namespace.
    vx_registry_reset();
    std::vector<std::string> names;
    ASSERT_TRUE(pair->add_address(netns_pair::a, "192.168.77.1/24"));
    auto engine = pair->in_namespace(netns_pair::a, [&] {
        adapter_list_t list;
        list.names(names);
        return list.create_adapter("[0] vxh0");
    });
    vx_registry_reset();
    ASSERT_EQ(names, std::vector<std::string>{"[0] vxh0"});
    ASSERT_NE(engine, nullptr);
    ASSERT_TRUE(engine->is_open());
    EXPECT_EQ(engine->get_ip_start().to_string(), "192.168.77.2");
    EXPECT_EQ(engine->get_ip_end().to_string(), "192.168.77.199");
    EXPECT_EQ(colon_mac(engine->get_own_mac()), pair->mac(netns_pair::a));
    engine->start();

    // Device 2 spoofs the engine's own MAC: never taken for a device.
    auto sim = devsim({"-n", "3", "--period", "300", "--ip", "0=192.168.77.150", "--ip", "1=192.168.77.151", "--mac",
                       "2=" + pair->mac(netns_pair::a)});
    const std::map<std::string, std::string> expected = {{"00602b100001", "192.168.77.150"},
                                                         {"00602b100002", "192.168.77.151"}};
    EXPECT_TRUE(eventually(30s, [&] { return table(*engine) == expected; })) << table(*engine).size();
    device_ptr first = engine->device_get(engine->device_first()->get_mac());
    // Refreshed by every frame (one each 300 ms): seen young once the
    // simulator gets its turn, however loaded the machine.
    EXPECT_TRUE(eventually(30s, [&] { return first->get_age() < 1000u; })) << first->get_age();

    // Silent devices age (frames sent before the kill may still be parsed
    // after it, so the age is waited for).
    sim->kill();
    EXPECT_TRUE(eventually(30s, [&] { return first->get_age() >= 1400u; })) << first->get_age();
    EXPECT_EQ(table(*engine), expected);

    engine.reset();
    const std::string history = read_text(history_path());
    EXPECT_NE(history.find("[(0) vxh0]\n00602b100001=192.168.77.150\n00602b100002=192.168.77.151\n"), std::string::npos)
        << history;
}

// The console texts of a successful open, and the receive thread on a
// silent wire: its reads time out, are withdrawn and issued again, and the
// frames that come later are still received.
TEST_F(Netns, OpenTextsAndSilentWireTimeOuts)
{
    write_history();
    const std::string log_path = GetProgramDirectory() + "scoutline.log";
    const size_t log_start = read_text(log_path).size();
    ASSERT_TRUE(pair->add_address(netns_pair::a, "192.168.77.1/24"));
    auto console = std::make_unique<qm::vx::test::stdout_capture>();
    auto engine = make_engine("192.168.77.1", "255.255.255.0");
    std::string opened = console->text();
    console.reset();
    ASSERT_TRUE(engine->is_open());
    const std::string mac = engine->get_own_mac().to_string();
    for (const std::string& line :
         {"Adaptor MAC address: " + mac + "\n", std::string("Packet filter program set successfully.\n"),
          std::string("Adaptor set to multicast mode successfully.\n"),
          std::string("Adaptor set reservation MAC to MAC list.\n"),
          "\nOpened adapter \\Device\\vxh0\nadapter title: [0] vxh0\nMAC address:   " + mac +
              "\nIP address:    192.168.77.1\nSubnet mask:   255.255.255.0\nDefault range: 192.168.77.2 to "
              "192.168.77.199\n",
          std::string("Reading IP history\n")})
        EXPECT_NE(opened.find(line), std::string::npos) << line << "--- in ---\n" << opened;

    // The log suppresses a category repeated from an earlier test of this process.
    server_log().WriteCategory("test start", "OpenTextsAndSilentWireTimeOuts");
    engine->start();
    auto log_since = [&] { return read_text(log_path).substr(log_start); };
    // Ten reads of 3000 ms each time out on the silent wire.
    EXPECT_TRUE(eventually(30s, [&] {
        return log_since().find("No veltrix packet received, probably the network is down") != std::string::npos;
    })) << log_since();
    EXPECT_NE(log_since().find("Packet thread starting"), std::string::npos);

    auto sim = devsim({"-n", "1", "--period", "200", "--ip", "0=192.168.77.150"});
    EXPECT_TRUE(eventually(30s, [&] { return engine->device_count() == 1; }));
    console = std::make_unique<qm::vx::test::stdout_capture>();
    engine->stop();
    const std::string stopped = console->text();
    console.reset();
    EXPECT_NE(stopped.find("packet_thread_t shutting down...\n"), std::string::npos) << stopped;
    EXPECT_NE(log_since().find("Packet thread exiting..."), std::string::npos);
}

TEST_F(Netns, FiftyDevicesGetDistinctCheckedAddresses)
{
    write_history();
    auto engine = open_engine("192.168.77.1/24", "192.168.77.1", "255.255.255.0");
    engine->set_autoassign(true);
    engine->start();
    const auto started = std::chrono::steady_clock::now();
    auto sim = devsim({"-n", "50"});

    auto all_addressed = [&] {
        auto t = table(*engine);
        std::set<std::string> distinct;
        for (const auto& [m, a] : t)
            if (a != "0.0.0.0")
                distinct.insert(a);
        return t.size() == 50 && distinct.size() == 50;
    };
    ASSERT_TRUE(eventually(120s, all_addressed)) << table(*engine).size();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[ scoutline ] 50 devices addressed in %.2f s\n", seconds);

    const std::string own = colon_mac(engine->get_own_mac());
    for (const auto& [m, a] : table(*engine)) {
        const uint32_t n = ip(a).number;
        EXPECT_GE(n, ip("192.168.77.2").number) << a;
        EXPECT_LE(n, ip("192.168.77.199").number) << a;
    }
    // Every address was asked about by ARP before it was handed out. A device
    // whose answer came late was handed its address again (a busy machine).
    const auto lines = sim->lines();
    std::set<std::string> asked;
    std::set<std::string> assigned;
    for (const auto& line : lines) {
        std::istringstream in(line);
        std::string word, a, b, c;
        in >> word >> a >> b >> c;
        if (word == "arp-request" && a == own && c == "ff:ff:ff:ff:ff:ff")
            asked.insert(b);
        if (word == "assigned") {
            assigned.insert(a);
            EXPECT_TRUE(asked.count(b)) << "no ARP check before " << line;
        }
    }
    EXPECT_EQ(assigned.size(), 50u);

    const auto before = table(*engine);
    engine.reset();
    const std::string history = read_text(history_path());
    for (const auto& [m, a] : before)
        EXPECT_NE(history.find(m + "=" + a + "\n"), std::string::npos) << m << " " << a;
}

TEST_F(Netns, RememberedDeviceGetsItsAddressBack)
{
    write_history("[(0) vxh0]\n00602b100001=192.168.77.123\n");
    auto engine = open_engine("192.168.77.1/24", "192.168.77.1", "255.255.255.0");
    engine->set_autoassign(true);
    engine->start();
    auto sim = devsim({"-n", "1"});
    EXPECT_TRUE(sim->wait_for_line("assigned 00:60:2b:10:00:01 192.168.77.123", 30s));
    EXPECT_TRUE(eventually(30s, [&] {
        auto d = engine->device_first();
        return d && d->get_ip().to_string() == "192.168.77.123";
    }));
}

TEST_F(Netns, OwnAndSquattedAddressesAreNeverHandedOut)
{
    // The squatter's answer must come within the probe's steps (20 of
    // 300 ms), also from a simulator slowed down by a busy machine.
    write_history("[Retries]\nARP=20\n", 300);
    auto engine = open_engine("192.168.77.150/24", "192.168.77.150", "255.255.255.0");
    engine->set_ip_start(ip("192.168.77.148"));
    engine->set_ip_end(ip("192.168.77.152"));
    engine->set_autoassign(true);
    engine->start();
    auto sim = devsim({"-n", "3", "--squatter", "192.168.77.148"});

    auto addressed = [&] {
        auto t = table(*engine);
        std::set<std::string> got;
        for (const auto& [m, a] : t)
            got.insert(a);
        return got;
    };
    const std::set<std::string> expected = {"192.168.77.149", "192.168.77.151", "192.168.77.152"};
    EXPECT_TRUE(eventually(120s, [&] { return addressed() == expected; }));
    for (const auto& line : sim->lines()) {
        EXPECT_EQ(line.find("assigned") == 0 && line.find("192.168.77.148") != std::string::npos, false) << line;
        EXPECT_EQ(line.find("assigned") == 0 && line.find("192.168.77.150") != std::string::npos, false) << line;
    }
}

TEST_F(Netns, ReservationRequestsEvery1666Ms)
{
    auto engine = open_engine("192.168.77.1/24", "192.168.77.1", "255.255.255.0");
    engine->start();
    auto sim = devsim({"-n", "1"});

    // The whole 50-byte frame, written out here rather than built by the code
    // under test: group address, own MAC, 0x8819, 01 02 03 04, four zero
    // bytes, the tags {3, 08, own IP}, {4, 40, 10 10 0000 0000},
    // {6, 60, 10 10 + eight zero bytes}, then the 00 00 end marker.
    const std::string expected_hex = "01602bffff01" + engine->get_own_mac().to_string() + "8819" + "01020304" +
        "00000000" + "0308" + "c0a84d01" + "0440" + "101000000000" + "0660" + "10100000000000000000" + "0000";
    ASSERT_EQ(expected_hex.size(), 2 * reservation_request_size);

    // Pacing is checked as a lower bound only: a loaded machine may show a
    // request late, never early. The fourth request leaves at least three
    // periods after the switch; it is seen no sooner than it leaves.
    const auto switched_on = std::chrono::steady_clock::now();
    engine->set_send_reservation(true);
    size_t from = sim->line_count();
    for (int i = 0; i < 4; ++i) {
        auto line = sim->wait_for_line("reservation ", 30s, from);
        ASSERT_TRUE(line) << "reservation request " << i << " missing";
        EXPECT_EQ(*line, "reservation " + expected_hex);
        const auto all = sim->lines();
        while (from < all.size() && all[from].rfind("reservation ", 0) != 0)
            ++from;
        ++from;
    }
    const auto span =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - switched_on);
    EXPECT_GE(span.count(), 3 * 1666 - 20) << "four requests came faster than one each 1666 ms";

    // Switched off, no request follows: in ten seconds a running sender
    // sends six; two sent just before may still be on their way to the
    // simulator's output on a loaded machine.
    engine->set_send_reservation(false);
    from = sim->line_count();
    std::this_thread::sleep_for(10s);
    const auto after = sim->lines();
    const auto late =
        std::count_if(after.begin() + static_cast<std::ptrdiff_t>(std::min(from, after.size())), after.end(),
                      [](const std::string& line) { return line.rfind("reservation ", 0) == 0; });
    EXPECT_LE(late, 2) << "requests went on after switching off";
}

TEST_F(Netns, StoppingWhileFramesArriveIsClean)
{
    // Reads are outstanding and frames keep completing while each engine
    // stops; nothing may land in buffers that are already released.
    ASSERT_TRUE(pair->add_address(netns_pair::a, "192.168.77.1/24"));
    auto sim = devsim({"-n", "30", "--period", "2", "--ip", "0=192.168.77.20"});
    for (int round = 0; round < 5; ++round) {
        auto engine = make_engine("192.168.77.1", "255.255.255.0");
        engine->start();
        engine->set_send_reservation(true);
        EXPECT_TRUE(eventually(30s, [&] { return engine->device_count() == 30; })) << engine->device_count();
        engine.reset();
    }
    EXPECT_TRUE(sim->running());
}
