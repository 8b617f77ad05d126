// The adapter engine without a wire: frames handed to the parser as the
// receive thread would, the device table, the queues and switches, record
// lifetime, and the address assignment driven by injected ARP replies.
#include <scoutline/adapter.h>
#include <scoutline/frames.h>
#include <scoutline/threads.h>

#include <qm/exception.h>
#include <qm/log_file.h>

#include "console_capture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <future>
#include <sstream>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace qm::vx;
using qm::vx::test::stdout_capture;
using qm::vx::test::count;
using namespace std::chrono_literals;

namespace {

qm::mac_address_t mac(const std::string& text)
{
    qm::mac_address_t m;
    m.assign_text(text);
    return m;
}

qm::ip_address_t ip(const std::string& text)
{
    qm::ip_address_t a;
    a.assign_text(text);
    return a;
}

// A receive buffer holding one frame at byte 56.
struct received_t {
    std::vector<uint8_t> buffer;
    size_t length;
};

received_t receive(const std::vector<uint8_t>& frame)
{
    received_t r{std::vector<uint8_t>(receive_buffer_size, 0), frame.size()};
    std::memcpy(r.buffer.data() + receive_frame_offset, frame.data(), frame.size());
    return r;
}

void feed(adapter_t& engine, const std::vector<uint8_t>& frame)
{
    const received_t r = receive(frame);
    engine.parse_frame(r.buffer.data(), r.length);
}

std::vector<uint8_t> announce(const std::string& source, std::vector<uint8_t> tags)
{
    std::vector<uint8_t> f = {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00};
    const qm::mac_address_t m = mac(source);
    f.insert(f.end(), m.bytes, m.bytes + 6);
    f.insert(f.end(), {0x88, 0x19, 1, 2});
    f.insert(f.end(), tags.begin(), tags.end());
    return f;
}

std::vector<uint8_t> announce_ip(const std::string& source, const std::string& address)
{
    const qm::ip_address_t a = ip(address);
    return announce(source, {3, 0x08, a.bytes[0], a.bytes[1], a.bytes[2], a.bytes[3], 0, 0});
}

std::vector<uint8_t> arp_reply(const std::string& source, const std::string& address)
{
    std::vector<uint8_t> f(arp_request_size);
    build_arp_request(f.data(), mac(source), ip(address), ip("0.0.0.0"));
    f[21] = 2;
    return f;
}

adapter_info_t closed_info(const std::string& name = "[0] none")
{
    adapter_info_t info;
    info.name = name;
    info.open_name = "\\Device\\scoutline-no-such-if";
    return info;
}

int open_descriptors()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d))
        ++n;
    closedir(d);
    return n;
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Engines read their settings and history beside the program.
class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::remove((GetProgramDirectory() + "VXHistory.ini").c_str());
        std::remove((GetProgramDirectory() + "scoutline.log").c_str());
        vx_set_tick_offset(0);
    }
    void TearDown() override { vx_set_tick_offset(0); }
};

} // namespace

TEST(EngineRange, DefaultRange)
{
    auto range = [](const char* address, const char* mask) {
        qm::ip_address_t start, end;
        default_range(ip(address), ip(mask), start, end);
        return start.to_string() + "-" + end.to_string();
    };
    EXPECT_EQ(range("192.168.1.50", "255.255.255.0"), "192.168.1.51-192.168.1.199");
    EXPECT_EQ(range("192.168.1.150", "255.255.255.0"), "192.168.1.1-192.168.1.149");
    EXPECT_EQ(range("192.168.1.220", "255.255.255.0"), "192.168.1.1-192.168.1.199");
    EXPECT_EQ(range("192.168.1.100", "255.255.255.0"), "192.168.1.101-192.168.1.199");
    EXPECT_EQ(range("192.168.1.101", "255.255.255.0"), "192.168.1.1-192.168.1.100");
    EXPECT_EQ(range("0.0.0.0", "0.0.0.0"), "0.0.0.0-0.0.0.0");
}

TEST_F(Engine, FailedOpenLeavesAUsableClosedEngine)
{
    const std::string file = GetProgramDirectory() + "VXHistory.ini";
    const std::string remembered = "[(0) none]\n00602b000001=10.0.0.1\n00602b000002=10.0.0.2\n";
    std::ofstream(file) << remembered;
    stdout_capture out;
    {
        adapter_t engine(closed_info());
        EXPECT_FALSE(engine.is_open());
        EXPECT_TRUE(engine.get_ip_start().is_null());
        EXPECT_TRUE(engine.get_ip_end().is_null());
        feed(engine, announce_ip("00602b000003", "10.0.0.3"));
    }
    const std::string text = out.text();
    // The reason is the library's: there is no such interface.
    EXPECT_NE(text.find("AdapterOpen failure: " + qm::wapi::error_text(ERROR_FILE_NOT_FOUND) + "\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("closing down adapter...\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Writing IP history\n"), std::string::npos) << text;
    // The section was never read, so it is not rewritten: the adapter's
    // history survives a run in which it could not be opened.
    EXPECT_EQ(read_text(file), remembered);
}

TEST_F(Engine, DeviceTableFromAnnouncements)
{
    stdout_capture out;
    adapter_t engine(closed_info());
    feed(engine, announce_ip("00602b000003", "10.0.0.3"));
    feed(engine, announce_ip("00602b000001", "10.0.0.1"));
    feed(engine, announce("00602b000002", {0, 0})); // no tags: only touched
    feed(engine, announce_ip("00602b000001", "10.0.0.11"));

    std::vector<std::string> seen;
    for (device_ptr d = engine.device_first(); d; d = engine.device_next(d))
        seen.push_back(d->get_mac().to_string() + " " + d->get_ip().to_string());
    EXPECT_EQ(seen,
              (std::vector<std::string>{"00602b000001 10.0.0.11", "00602b000002 0.0.0.0", "00602b000003 10.0.0.3"}));
    EXPECT_EQ(engine.device_next(engine.device_get(mac("00602b000003"))), nullptr);
    EXPECT_EQ(engine.device_next(nullptr), nullptr);
    EXPECT_EQ(engine.device_get(mac("00602b000009")), nullptr);
    EXPECT_LT(engine.device_get(mac("00602b000001"))->get_age(), 1000u);

    // Addresses heard go into the history, moving devices keep one pairing.
    EXPECT_EQ(engine.get_history().get_state(ip("10.0.0.11")), ip_state_seen);
    EXPECT_EQ(engine.get_history().get_state(ip("10.0.0.1")), ip_state_free);

    // Two IP tags: both applied in order, the last wins.
    feed(engine, announce("00602b000002", {3, 0x08, 10, 0, 0, 7, 3, 0x09, 10, 0, 0, 8, 0, 0}));
    EXPECT_EQ(engine.device_get(mac("00602b000002"))->get_ip().to_string(), "10.0.0.8");
    // A length-2 IP tag carries no address.
    feed(engine, announce("00602b000002", {2, 0x08, 10, 0, 0, 0}));
    EXPECT_EQ(engine.device_get(mac("00602b000002"))->get_ip().to_string(), "10.0.0.8");
}

TEST_F(Engine, AgesAndFailedSweep)
{
    adapter_t engine(closed_info());
    feed(engine, announce_ip("00602b000001", "10.0.0.1"));
    feed(engine, announce_ip("00602b000002", "10.0.0.2"));
    device_ptr talker = engine.device_get(mac("00602b000001"));
    device_ptr silent = engine.device_get(mac("00602b000002"));
    talker->failed = true;
    silent->failed = true;

    vx_set_tick_offset(5000);
    EXPECT_GE(silent->get_age(), 5000u);
    feed(engine, announce_ip("00602b000001", "10.0.0.1")); // no sweep before 10 s
    EXPECT_TRUE(talker->failed);
    EXPECT_LT(talker->get_age(), 1000u);

    // Silent for 101 s: keeps the flag; the talker loses it.
    vx_set_tick_offset(106000);
    feed(engine, announce_ip("00602b000001", "10.0.0.1"));
    EXPECT_FALSE(talker->failed);
    EXPECT_TRUE(silent->failed);
    EXPECT_GE(silent->get_age(), 100000u);
}

TEST_F(Engine, AutomaticAssignmentQueueing)
{
    stdout_capture out;
    adapter_t engine(closed_info());
    feed(engine, announce_ip("00602b000001", "0.0.0.0"));
    ASSERT_NE(engine.device_get(mac("00602b000001")), nullptr);
    EXPECT_TRUE(engine.assignment_empty()); // automatic assignment is off

    engine.set_autoassign(true);
    EXPECT_TRUE(engine.get_autoassign());
    feed(engine, announce_ip("00602b000001", "0.0.0.0"));
    feed(engine, announce_ip("00602b000001", "0.0.0.0")); // queued once
    ASSERT_FALSE(engine.assignment_empty());
    assignment_item_t item = engine.assignment_front();
    EXPECT_EQ(item.mac.to_string(), "00602b000001");
    EXPECT_TRUE(item.ip.is_null());
    EXPECT_EQ(item.automatic, 1);
    engine.assignment_pop();
    EXPECT_TRUE(engine.assignment_empty());
    EXPECT_TRUE(engine.device_get(mac("00602b000001"))->queued);
    EXPECT_EQ(count(out.text(), "Queueing auto IP assignment 00602b000001\n"), 1u) << out.text();

    // A failed device is not queued automatically; a manual request is.
    device_ptr d = engine.device_get(mac("00602b000001"));
    d->queued = false;
    d->failed = true;
    feed(engine, announce_ip("00602b000001", "0.0.0.0"));
    EXPECT_TRUE(engine.assignment_empty());
    d->request_ip(ip("10.0.0.9"));
    d->request_ip(ip("10.0.0.10")); // pushed again while the first is queued
    EXPECT_FALSE(d->failed);
    EXPECT_TRUE(d->queued);
    EXPECT_EQ(engine.assignment_front().ip.to_string(), "10.0.0.9");
    EXPECT_EQ(engine.assignment_front().automatic, 0);
    engine.assignment_pop();
    EXPECT_EQ(engine.assignment_front().ip.to_string(), "10.0.0.10");
    EXPECT_NE(out.text().find("Queueing manual IP assignment 10.0.0.9 00602b000001\n"), std::string::npos);
    engine.request_manual_ip(mac("00602b0000ff"), ip("10.0.0.11")); // unknown device: nothing
    engine.assignment_pop();
    EXPECT_TRUE(engine.assignment_empty());
}

TEST_F(Engine, ArpRepliesQueueOnlyWhileAssigning)
{
    adapter_t engine(closed_info());
    // Nothing to assign: replies are not kept (they would be discarded anyway).
    for (int i = 0; i < 1000; ++i)
        feed(engine, arp_reply("020000000001", "10.0.0.1"));
    EXPECT_TRUE(engine.arp_response_empty());

    engine.assignment_push(assignment_item_t{mac("00602b000001"), ip("10.0.0.5"), 0});
    feed(engine, arp_reply("020000000001", "10.0.0.1"));
    ASSERT_FALSE(engine.arp_response_empty());
    arp_response_item_t r = engine.arp_response_front();
    EXPECT_EQ(r.mac.to_string(), "020000000001");
    EXPECT_EQ(r.ip.to_string(), "10.0.0.1");
    // A flood during an assignment keeps only the newest replies.
    for (int i = 0; i < 1000; ++i)
        feed(engine, arp_reply("020000000002", "10.0.0.2"));
    EXPECT_EQ(engine.arp_response_size(), 256u);
    EXPECT_EQ(engine.arp_response_front().mac.to_string(), "020000000002");
    engine.arp_response_clear();
    EXPECT_TRUE(engine.arp_response_empty());
}

TEST_F(Engine, MalformedFramesAreLoggedOncePerRun)
{
    stdout_capture out;
    adapter_t engine(closed_info());
    feed(engine, announce("00602b000001", {3, 0x08, 10, 0, 0, 1, 0, 5}));
    feed(engine, announce("00602b000001", {0, 5}));
    EXPECT_EQ(engine.device_get(mac("00602b000001"))->get_ip().to_string(), "10.0.0.1");
    std::vector<uint8_t> ipv4(60, 0);
    ipv4[12] = 0x08;
    feed(engine, ipv4);
    feed(engine, ipv4);
    feed(engine, std::vector<uint8_t>(60, 0));
    feed(engine, announce("00602b000001", {0, 5}));

    const std::string log = read_text(GetProgramDirectory() + "scoutline.log");
    EXPECT_EQ(count(log, "tagLength is 0!!!"), 2u) << log;
    EXPECT_EQ(count(log, "receive unrecognized packet"), 1u) << log;
    EXPECT_EQ(count(log, "empty packet"), 1u) << log;
    EXPECT_EQ(count(out.text(), "Received unrecognized packet (filter problem?)\n"), 2u);
}

TEST_F(Engine, RecordsOutliveRemovalAndEngine)
{
    device_ptr kept;
    device_ptr removed;
    {
        adapter_t engine(closed_info());
        feed(engine, announce_ip("00602b000001", "10.0.0.1"));
        feed(engine, announce_ip("00602b000002", "10.0.0.2"));
        removed = engine.device_get(mac("00602b000002"));
        EXPECT_TRUE(engine.device_remove(mac("00602b000002")));
        EXPECT_FALSE(engine.device_remove(mac("00602b000002")));
        EXPECT_EQ(engine.device_get(mac("00602b000002")), nullptr);
        EXPECT_EQ(removed->get_ip().to_string(), "10.0.0.2");
        // Heard again: a fresh record.
        feed(engine, announce_ip("00602b000002", "10.0.0.2"));
        EXPECT_NE(engine.device_get(mac("00602b000002")), removed);
        kept = engine.device_get(mac("00602b000001"));

        // A removed record nobody holds is freed at once.
        feed(engine, announce_ip("00602b000004", "10.0.0.4"));
        std::weak_ptr<device_t> dropped = engine.device_get(mac("00602b000004"));
        EXPECT_FALSE(dropped.expired());
        EXPECT_TRUE(engine.device_remove(mac("00602b000004")));
        EXPECT_TRUE(dropped.expired());
    }
    // The engine is gone: its records still answer and requests go nowhere.
    EXPECT_EQ(kept->get_mac().to_string(), "00602b000001");
    EXPECT_EQ(kept->get_ip().to_string(), "10.0.0.1");
    kept->request_ip(ip("10.0.0.50"));
    removed->request_ip(ip("10.0.0.51"));
    EXPECT_FALSE(kept->queued);
}

TEST_F(Engine, FailedSendsReportFalseAndLeakNothing)
{
    stdout_capture out;
    adapter_t engine(closed_info());
    uint8_t frame[arp_request_size] = {};
    EXPECT_FALSE(engine.packet_send(frame, sizeof frame));
    const int before = open_descriptors();
    for (int i = 0; i < 200; ++i)
        EXPECT_FALSE(engine.packet_send(frame, sizeof frame));
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_NE(out.text().find("packet_send W32N Failure: "), std::string::npos);
}

TEST_F(Engine, SwitchesAndRange)
{
    stdout_capture out;
    adapter_t engine(closed_info());
    engine.set_ip_start(ip("10.0.0.10"));
    engine.set_ip_end(ip("10.0.0.20"));
    EXPECT_EQ(engine.get_ip_start().to_string(), "10.0.0.10");
    EXPECT_EQ(engine.get_ip_end().to_string(), "10.0.0.20");
    EXPECT_EQ(engine.get_history().get_cursor().to_string(), "10.0.0.10");
    EXPECT_TRUE(engine.get_ip_start_default().is_null());
    EXPECT_EQ(engine.get_history().suggest(assignment_item_t{mac("00602b000001"), {}, 1}).to_string(), "10.0.0.10");

    // Switching the reservation sender while it and other threads send must
    // never hang (the switch does not hold the lock that sending waits for).
    engine.start();
    std::atomic<bool> stop_sending{false};
    std::thread sender([&] {
        uint8_t frame[arp_request_size] = {};
        while (!stop_sending)
            engine.packet_send(frame, sizeof frame);
    });
    auto toggles = std::async(std::launch::async, [&] {
        for (int i = 0; i < 30; ++i) {
            engine.set_send_reservation(true);
            engine.set_send_reservation(false);
        }
        engine.set_send_reservation(true);
        return engine.get_send_reservation();
    });
    if (toggles.wait_for(20s) != std::future_status::ready) {
        // Deadlocked threads cannot be joined: end the program with the failure.
        std::fprintf(stderr, "reservation switch hung\n");
        std::_Exit(1);
    }
    EXPECT_TRUE(toggles.get());
    stop_sending = true;
    sender.join();
    EXPECT_TRUE(out.wait_for("Send Res. Request thread starting\n", 30s));
    engine.set_send_reservation(false);
    EXPECT_FALSE(engine.get_send_reservation());
    engine.stop();
    EXPECT_NE(out.text().find("reservation_thread_t shutting down...\n"), std::string::npos);
    EXPECT_NE(out.text().find("arp_thread exiting...\n"), std::string::npos);
}

// The assignment state machine, with the replies a wire would bring injected
// into the parser while the ARP thread runs (its sends fail harmlessly).
TEST_F(Engine, AssignmentStateMachine)
{
    // A probe lasts four steps of 500 ms: the replies fed meanwhile come
    // within it even from a test thread a loaded machine holds up a while.
    std::ofstream(GetProgramDirectory() + "VXHistory.ini") << "[Timeouts]\nARPSleepMS=500\n[Retries]\nARP=3\nRARP=1\n";
    stdout_capture out;
    adapter_t engine(closed_info());
    // A reply is fed again until its effect shows, but only once the last
    // one was taken: the machine takes one per step, and a backlog of stale
    // replies would hold up the steps that follow.
    const auto answer = [&](const char* mac, const char* address) {
        return [&engine, mac, address] {
            if (engine.arp_response_empty())
                feed(engine, arp_reply(mac, address));
        };
    };
    engine.set_ip_start(ip("10.0.0.50"));
    engine.set_ip_end(ip("10.0.0.52"));
    engine.start();

    // A squatter answers for a manual request's address: aborted, the device stays queued.
    feed(engine, announce_ip("00602b000001", "0.0.0.0"));
    engine.device_get(mac("00602b000001"))->request_ip(ip("10.0.0.60"));
    EXPECT_TRUE(out.wait_for("Aborting manual IP assignment 10.0.0.60\n", 30s, answer("020000000099", "10.0.0.60")))
        << out.text();
    EXPECT_TRUE(engine.device_get(mac("00602b000001"))->queued);

    // Automatic: a squatter on the first suggestion moves the allocator on; the
    // device answering for the second completes the assignment.
    device_ptr d = engine.device_get(mac("00602b000001"));
    d->queued = false;
    engine.set_autoassign(true);
    feed(engine, announce_ip("00602b000001", "0.0.0.0"));
    EXPECT_TRUE(out.wait_for("History suggests 10.0.0.50 for 00602b000001\n", 30s));
    EXPECT_TRUE(out.wait_for("History suggests 10.0.0.51 for 00602b000001\n", 30s, answer("020000000099", "10.0.0.50")))
        << out.text();
    EXPECT_TRUE(out.wait_for("Assigning 10.0.0.51 to 00602b000001\n", 30s)) << out.text();
    EXPECT_TRUE(
        out.wait_for("Recieved ARP response 10.0.0.51 from 00602b000001\n", 30s, answer("00602b000001", "10.0.0.51")));
    EXPECT_TRUE(out.wait_for("current state: IP_VERIFY\n", 30s, answer("00602b000001", "10.0.0.51")));
    for (int i = 0; i < 6000 && d->queued; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(d->queued);
    EXPECT_EQ(d->get_ip().to_string(), "10.0.0.51");
    EXPECT_EQ(engine.get_history().get_state(ip("10.0.0.51")), ip_state_seen);
    EXPECT_EQ(engine.get_history().get_state(ip("10.0.0.50")), ip_state_seen); // the squatter's

    // A device that never answers: IP_VERIFY runs out and marks it failed.
    feed(engine, announce_ip("00602b000002", "0.0.0.0"));
    EXPECT_TRUE(out.wait_for("No response from 00602b000002\n", 30s)) << out.text();
    device_ptr silent = engine.device_get(mac("00602b000002"));
    EXPECT_TRUE(silent->failed);
    EXPECT_FALSE(silent->queued);
    const std::string text = out.text();
    const size_t from = text.find("History suggests 10.0.0.52 for 00602b000002");
    ASSERT_NE(from, std::string::npos) << text;
    // 1 + 3 ARP requests in IP_FIND, then (1 + 1) RARP replies each with 1 + 3 ARP requests.
    const std::string tail = text.substr(from, text.find("No response from") - from);
    EXPECT_EQ(count(tail, "Sending ARP request for 10.0.0.52\n"), 4u + 2u * 4u) << tail;
    EXPECT_EQ(count(tail, "Assigning 10.0.0.52 to 00602b000002\n"), 2u) << tail;

    // The range exhausted: nothing to suggest, no frame.
    engine.set_ip_end(ip("10.0.0.51"));
    feed(engine, announce_ip("00602b000003", "0.0.0.0"));
    EXPECT_TRUE(out.wait_for("History suggests 0.0.0.0 for 00602b000003\n", 30s)) << out.text();
    engine.stop();
}

// "ARPSleepMS" of 0 or less steps the assignment machine once a millisecond
// instead of spinning a core.
TEST_F(Engine, ArpStepsNeverSpin)
{
    std::ofstream(GetProgramDirectory() + "VXHistory.ini") << "[Timeouts]\nARPSleepMS=-5\n";
    adapter_t engine(closed_info());
    engine.start();
    auto cpu_seconds = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double cpu_before = cpu_seconds();
    const auto wall_before = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    const double cpu = cpu_seconds() - cpu_before;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
    engine.stop();
    // A spinning thread would use the whole second.
    EXPECT_LT(cpu, wall / 2) << cpu << " s of CPU in " << wall << " s";
}
