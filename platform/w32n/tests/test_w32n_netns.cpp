// The raw packet library on a veth pair between two private network
// namespaces, with the device simulator on the far end. Needs root.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "l2/frames.h"
#include "l2/link.h"
#include "netns.h"
#include "w32n.h"
#include "win32/sync.h"

namespace {

using namespace std::chrono_literals;
using devsim::frame_t;
using devsim::mac_t;
using vx::test::netns_pair;

struct insn_t {
    uint16_t code;
    uint8_t jt, jf;
    uint32_t k;
};

// The discovery receive program: ARP, device announcements and their kind-0 frames.
const insn_t receive_program[16] = {
    {0x28, 0, 0, 12},   {0x15, 0, 11, 0x8819}, {0x30, 0, 0, 15},         {0x15, 0, 11, 2},
    {0x30, 0, 0, 14},   {0x15, 8, 0, 1},       {0x15, 0, 8, 0},          {0x28, 0, 0, 16},
    {0x54, 0, 0, 0xFC}, {0x15, 0, 5, 4},       {0x28, 0, 0, 18},         {0x54, 0, 0, 0xFF01},
    {0x15, 1, 2, 0},    {0x15, 0, 1, 0x0806},  {0x06, 0, 0, 0xFFFFFFFF}, {0x06, 0, 0, 0},
};
static_assert(sizeof receive_program == 128);

const mac_t reservation_group{0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x01};
const mac_t announce_group{0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00};
const uint32_t host_ip = 0xC0A84D01; // 192.168.77.1

mac_t device_mac(int k) { return {0x00, 0x60, 0x2B, 0x10, 0x00, static_cast<uint8_t>(1 + k)}; }

DWORD ndis(INT handle, DWORD type, DWORD oid, void* data, DWORD length)
{
    W32N_REQUEST request;
    std::memset(&request, 0, sizeof request);
    request.RequestType = type;
    request.Oid = oid;
    request.InformationBuffer = data;
    request.InformationBufferLength = length;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov{};
    ov.hEvent = event;
    DWORD result = W32N_MakeNdisRequest(handle, &request, &ov, 1);
    if (result == 0) {
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    }
    CloseHandle(event);
    return result;
}

bool set_filter(INT handle, uint32_t filter)
{
    return ndis(handle, W32N_REQUEST_SET, OID_GEN_CURRENT_PACKET_FILTER, &filter, 4) == 0;
}

bool set_multicast(INT handle, const std::vector<mac_t>& list)
{
    std::vector<uint8_t> bytes;
    for (const auto& m : list)
        bytes.insert(bytes.end(), m.begin(), m.end());
    return ndis(handle, W32N_REQUEST_SET, OID_802_3_MULTICAST_LIST, bytes.data(), static_cast<DWORD>(bytes.size())) ==
        0;
}

bool send_frame(INT handle, const frame_t& frame)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov{};
    ov.hEvent = event;
    DWORD sent = 0;
    bool ok = W32N_PacketSend(handle, frame.data(), static_cast<DWORD>(frame.size()), &sent, &ov) &&
        WaitForSingleObject(event, 30000) == WAIT_OBJECT_0 && sent == frame.size();
    CloseHandle(event);
    return ok;
}

struct received_t {
    frame_t frame;
    mac_t src() const { return devsim::parse_ethernet(frame.data(), frame.size())->src; }
    mac_t dst() const { return devsim::parse_ethernet(frame.data(), frame.size())->dst; }
};

// Ten reads kept outstanding and waited for round-robin, as the receive thread does.
class reader_t {
public:
    static constexpr int count = 10;

    explicit reader_t(INT handle, bool issue_now = true) : handle_(handle)
    {
        for (auto& s : slots_)
            s.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (issue_now)
            for (int i = 0; i < count; ++i)
                issue(i);
    }
    ~reader_t()
    {
        for (auto& s : slots_) {
            W32N_CancelPacketRead(handle_, s.buffer.data());
            CloseHandle(s.event);
        }
    }

    void issue(int i)
    {
        auto& s = slots_[i];
        std::fill(s.buffer.begin(), s.buffer.end(), 0);
        uint32_t capacity = W32N_MAX_FRAME_SIZE;
        std::memcpy(s.buffer.data() + W32N_PACKET_CAPACITY_OFFSET, &capacity, 4);
        ResetEvent(s.event);
        s.ov = OVERLAPPED{};
        s.ov.hEvent = s.event;
        s.bytes = 0;
        EXPECT_FALSE(W32N_PacketRead(handle_, s.buffer.data(), &s.bytes, &s.ov, 0));
        EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }

    std::optional<received_t> next(std::chrono::milliseconds timeout)
    {
        auto& s = slots_[cur_];
        if (WaitForSingleObject(s.event, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
            return std::nullopt;
        DWORD stored;
        std::memcpy(&stored, s.buffer.data() + W32N_PACKET_LENGTH_OFFSET, 4);
        EXPECT_EQ(stored, s.bytes);
        received_t r;
        r.frame.assign(s.buffer.begin() + W32N_PACKET_FRAME_OFFSET,
                       s.buffer.begin() + W32N_PACKET_FRAME_OFFSET + s.bytes);
        issue(cur_);
        cur_ = (cur_ + 1) % count;
        return r;
    }

    // Frames until `done` says so or the time is up; returns whether done.
    bool read_until(std::chrono::milliseconds timeout, const std::function<bool(const received_t&)>& done)
    {
        auto until = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            auto r = next(left);
            if (r && done(*r))
                return true;
        }
    }
    // Every frame read during `span`.
    std::vector<received_t> read_for(std::chrono::milliseconds span)
    {
        std::vector<received_t> all;
        read_until(span, [&](const received_t& r) {
            all.push_back(r);
            return false;
        });
        return all;
    }
    // The sources of every frame read during `span`, and on until `enough`
    // holds or only a fault would keep it from holding: frames that must be
    // seen may come late from a loaded simulator, frames that must not come
    // are looked for at least `span`.
    std::set<mac_t> sources_until(std::chrono::milliseconds span,
                                  const std::function<bool(const std::set<mac_t>&)>& enough)
    {
        std::set<mac_t> seen;
        for (const auto& r : read_for(span))
            seen.insert(r.src());
        if (!enough(seen))
            read_until(std::chrono::seconds(30), [&](const received_t& r) {
                seen.insert(r.src());
                return enough(seen);
            });
        return seen;
    }

    struct slot_t {
        std::vector<uint8_t> buffer = std::vector<uint8_t>(W32N_PACKET_BUFFER_SIZE);
        DWORD bytes = 0;
        OVERLAPPED ov{};
        HANDLE event = nullptr;
    };
    slot_t& slot(int i) { return slots_[i]; }

private:
    INT handle_;
    std::array<slot_t, count> slots_;
    int cur_ = 0;
};

class W32nNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vx::test::running_as_root()) {
            GTEST_SKIP() << "needs root for network namespaces";
        }
        pair_ = std::make_unique<netns_pair>("vxh0", "vxd0");
        ASSERT_TRUE(pair_->ok()) << pair_->error();
        scope_ = std::make_unique<vx::test::netns_scope>(pair_->ns(netns_pair::a));
        ASSERT_TRUE(scope_->ok());
    }
    void TearDown() override
    {
        reader_.reset();
        if (handle_ != -1)
            W32N_CloseAdapter(handle_);
        devsim_.reset();
        scope_.reset();
        pair_.reset();
    }

    void start_devsim(std::vector<std::string> options)
    {
        std::vector<std::string> argv{vx::test::devsim_path(), "--interface", "vxd0"};
        argv.insert(argv.end(), options.begin(), options.end());
        devsim_ = pair_->spawn(netns_pair::b, argv);
        ASSERT_TRUE(devsim_->wait_for_line("started ", 30s)) << "devsim did not start";
    }

    // Opened and set up in the order the discovery engine uses.
    void open_configured(bool program = true)
    {
        handle_ = W32N_OpenAdapterA("\\Device\\vxh0");
        ASSERT_NE(handle_, -1) << W32N_GetLastError();
        uint8_t mac[16] = {};
        ASSERT_EQ(ndis(handle_, W32N_REQUEST_QUERY, OID_802_3_CURRENT_ADDRESS, mac, sizeof mac), 0u);
        std::memcpy(own_.data(), mac, 6);
        if (program) {
            ASSERT_NE(W32N_SetBPFProgram(handle_, receive_program, sizeof receive_program), 0);
        }
        ASSERT_TRUE(set_filter(handle_, NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_MULTICAST));
        ASSERT_TRUE(set_multicast(handle_, {reservation_group, announce_group}));
    }

    std::unique_ptr<netns_pair> pair_;
    std::unique_ptr<vx::test::netns_scope> scope_;
    std::unique_ptr<vx::test::background_process> devsim_;
    std::unique_ptr<reader_t> reader_;
    INT handle_ = -1;
    mac_t own_{};
};

TEST_F(W32nNetns, ReadsAnnouncementsThroughTheProgramAndFilter)
{
    start_devsim({"--devices", "2", "--ip", "1=192.168.77.20", "--period", "100"});
    open_configured();
    EXPECT_EQ(devsim::mac_text(own_), pair_->mac(netns_pair::a));

    uint32_t filter = 0;
    ASSERT_EQ(ndis(handle_, W32N_REQUEST_QUERY, OID_GEN_CURRENT_PACKET_FILTER, &filter, 4), 0u);
    EXPECT_EQ(filter, 3u);
    uint8_t list[12];
    ASSERT_EQ(ndis(handle_, W32N_REQUEST_QUERY, OID_802_3_MULTICAST_LIST, list, sizeof list), 0u);
    EXPECT_EQ(std::memcmp(list, reservation_group.data(), 6), 0);
    EXPECT_EQ(std::memcmp(list + 6, announce_group.data(), 6), 0);
    // The groups are joined on the interface itself.
    const std::string joined = "ip maddr show dev vxh0 | grep -q 01:60:2b:ff:ff:0";
    EXPECT_EQ(pair_->run(netns_pair::a, joined + "1"), 0);
    EXPECT_EQ(pair_->run(netns_pair::a, joined + "0"), 0);

    reader_ = std::make_unique<reader_t>(handle_);
    std::optional<std::vector<uint32_t>> ips0, ips1;
    bool both = reader_->read_until(30s, [&](const received_t& r) {
        auto ips = devsim::announced_ips(r.frame.data(), r.frame.size());
        if (r.src() == device_mac(0))
            ips0 = ips;
        if (r.src() == device_mac(1))
            ips1 = ips;
        return ips0 && ips1;
    });
    ASSERT_TRUE(both) << "announcements of both devices expected";
    EXPECT_EQ(*ips0, std::vector<uint32_t>{0u});
    EXPECT_EQ(*ips1, std::vector<uint32_t>{0xC0A84D14u});

    // Leaving a group, and closing, leave the interface's list.
    ASSERT_TRUE(set_multicast(handle_, {reservation_group}));
    EXPECT_NE(pair_->run(netns_pair::a, joined + "0"), 0);
    reader_.reset();
    ASSERT_TRUE(W32N_CloseAdapter(handle_));
    handle_ = -1;
    EXPECT_NE(pair_->run(netns_pair::a, joined + "1"), 0);
}

TEST_F(W32nNetns, RarpReplyIsAdoptedAndTheDeviceAnswersArp)
{
    start_devsim({"--devices", "1", "--period", "100"});
    open_configured();
    reader_ = std::make_unique<reader_t>(handle_);

    const uint32_t assigned = 0xC0A84D1E; // 192.168.77.30
    ASSERT_TRUE(send_frame(handle_, devsim::build_rarp_reply(device_mac(0), own_, host_ip, assigned)));
    EXPECT_TRUE(devsim_->wait_for_line("assigned 00:60:2b:10:00:01 192.168.77.30", 30s));
    EXPECT_TRUE(reader_->read_until(30s, [&](const received_t& r) {
        return r.src() == device_mac(0) &&
            devsim::announced_ips(r.frame.data(), r.frame.size()) == std::vector<uint32_t>{assigned};
    })) << "the device should announce its new address";

    ASSERT_TRUE(send_frame(handle_, devsim::build_arp_request(own_, host_ip, assigned)));
    EXPECT_TRUE(
        devsim_->wait_for_line("arp-request " + devsim::mac_text(own_) + " 192.168.77.30 ff:ff:ff:ff:ff:ff", 30s));
    EXPECT_TRUE(reader_->read_until(30s, [&](const received_t& r) {
        auto arp = devsim::parse_arp(r.frame.data(), r.frame.size());
        return arp && arp->opcode == 2 && r.src() == device_mac(0) && arp->sender_ip == assigned && r.dst() == own_;
    })) << "the device's ARP reply is directed to us and must arrive";
}

TEST_F(W32nNetns, OwnSendsAndTheHostsOwnFramesAreNeverReadBack)
{
    ASSERT_TRUE(pair_->add_address(netns_pair::a, "192.168.77.1/24"));
    start_devsim({"--devices", "1", "--ip", "0=192.168.77.20", "--period", "100"});
    open_configured();
    reader_ = std::make_unique<reader_t>(handle_);

    // Frames that pass the program and the filter were they looped back.
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(send_frame(handle_, devsim::build_arp_request(own_, host_ip, 0xC0A84D63)));
        ASSERT_TRUE(send_frame(handle_, devsim::build_announcement(announce_group, own_, host_ip)));
    }
    // The host kernel resolves a neighbour: its ARP request leaves from our
    // address, the device's reply comes to it.
    int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(udp, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(0xC0A84D14);
    ::sendto(udp, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(udp);

    bool saw_device = false, saw_reply = false;
    reader_->read_until(30s, [&](const received_t& r) {
        EXPECT_NE(r.src(), own_) << "own frame read back";
        if (r.src() == device_mac(0))
            saw_device = true;
        auto arp = devsim::parse_arp(r.frame.data(), r.frame.size());
        if (arp && arp->opcode == 2 && arp->sender_ip == 0xC0A84D14u)
            saw_reply = true;
        return saw_device && saw_reply;
    });
    EXPECT_TRUE(saw_device);
    EXPECT_TRUE(saw_reply) << "the ARP reply to the host's own request is directed and must pass";
    EXPECT_TRUE(devsim_->wait_for_line("arp-request " + devsim::mac_text(own_) + " 192.168.77.99", 30s))
        << "the sends must have left";
}

TEST_F(W32nNetns, BroadcastAndUnlistedMulticastAreDroppedUnderFilter3)
{
    start_devsim({"--devices", "2", "--quirk", "0=broadcast", "--period", "50"});
    open_configured();
    reader_ = std::make_unique<reader_t>(handle_);
    auto sources = [&](std::chrono::milliseconds span) {
        std::set<mac_t> seen;
        for (const auto& r : reader_->read_for(span))
            seen.insert(r.src());
        return seen;
    };
    auto seen = reader_->sources_until(1000ms, [&](const std::set<mac_t>& s) { return s.count(device_mac(1)) > 0; });
    EXPECT_TRUE(seen.count(device_mac(1)));
    EXPECT_FALSE(seen.count(device_mac(0))) << "broadcast announcement passed filter 3";

    ASSERT_TRUE(
        set_filter(handle_, NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_MULTICAST | NDIS_PACKET_TYPE_BROADCAST));
    sources(300ms); // frames already completed under the old filter
    seen = reader_->sources_until(0ms, [&](const std::set<mac_t>& s) { return s.count(device_mac(0)) > 0; });
    EXPECT_TRUE(seen.count(device_mac(0))) << "the broadcast bit lets broadcast frames in";

    ASSERT_TRUE(set_filter(handle_, NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_MULTICAST));
    ASSERT_TRUE(set_multicast(handle_, {reservation_group}));
    // Frames completed under the old filter are read first, however late a
    // loaded machine lets the reader run: until a while passes without one.
    const auto drained_by = std::chrono::steady_clock::now() + 30s;
    while (!sources(300ms).empty() && std::chrono::steady_clock::now() < drained_by) {}
    seen = sources(1000ms);
    EXPECT_TRUE(seen.empty()) << "announcements to a group that is no longer listed passed";
}

TEST_F(W32nNetns, TheReceiveProgramAttachesUnchangedAndDecides)
{
    start_devsim({"--devices", "3", "--quirk", "0=bad-byte15", "--quirk", "1=kind0", "--period", "50"});
    open_configured();
    reader_ = std::make_unique<reader_t>(handle_);
    const std::set<mac_t> seen = reader_->sources_until(
        1200ms, [&](const std::set<mac_t>& s) { return s.count(device_mac(1)) && s.count(device_mac(2)); });
    EXPECT_FALSE(seen.count(device_mac(0))) << "byte 15 = 3 must be dropped by the program";
    EXPECT_TRUE(seen.count(device_mac(1))) << "kind-0 frames with matching tags pass the program";
    EXPECT_TRUE(seen.count(device_mac(2)));
}

TEST_F(W32nNetns, NothingIsReceivedBeforeTheProgramIsSet)
{
    start_devsim({"--devices", "1", "--period", "50"});
    open_configured(false);
    reader_ = std::make_unique<reader_t>(handle_);
    EXPECT_FALSE(reader_->next(500ms)) << "a frame arrived without a receive program";
    ASSERT_NE(W32N_SetBPFProgram(handle_, receive_program, sizeof receive_program), 0);
    EXPECT_TRUE(reader_->next(30s));
}

TEST_F(W32nNetns, ReadsCompleteInIssueOrder)
{
    start_devsim({"--devices", "8", "--period", "20"});
    open_configured();
    reader_ = std::make_unique<reader_t>(handle_);
    for (int i = 0; i < reader_t::count; ++i) {
        ASSERT_EQ(WaitForSingleObject(reader_->slot(i).event, 30000), WAIT_OBJECT_0) << i;
        for (int j = 0; j < i; ++j)
            EXPECT_EQ(WaitForSingleObject(reader_->slot(j).event, 0), WAIT_OBJECT_0) << j << " before " << i;
        EXPECT_GT(reader_->slot(i).bytes, 14u);
    }
}

// A segment of 1000 devices answers a reservation request with 1000 frames
// at once, on top of their periodic announcements. Three such bursts that
// land while no read is outstanding (the reader held off the CPU) all wait
// for the reads, in order.
TEST_F(W32nNetns, ThreeBurstsOfAThousandFramesWaitWholeForTheReads)
{
    open_configured();
    auto received = [&] {
        return std::strtoull(vx::test::command_output("ip netns exec " + pair_->ns(netns_pair::a) +
                                                      " cat /sys/class/net/vxh0/statistics/rx_packets")
                                 .c_str(),
                             nullptr, 10);
    };
    const unsigned long long before = received();
    constexpr uint32_t frames = 3000;
    const bool sent = pair_->in_namespace(netns_pair::b, [&] {
        devsim::l2::link_t link("vxd0");
        for (uint32_t n = 0; n < frames; ++n)
            if (!link.send(devsim::build_announcement(announce_group, device_mac(int(n % 1000)), 0x0A000000 + n)))
                return false;
        return true;
    });
    ASSERT_TRUE(sent);
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while (received() - before < frames && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(received() - before, frames) << "the far end did not deliver every frame";

    reader_ = std::make_unique<reader_t>(handle_);
    uint32_t next = 0;
    EXPECT_TRUE(reader_->read_until(30s,
                                    [&](const received_t& r) {
                                        const auto ips = devsim::announced_ips(r.frame.data(), r.frame.size());
                                        EXPECT_EQ(ips.size(), 1u);
                                        if (!ips.empty()) {
                                            EXPECT_EQ(ips[0], 0x0A000000 + next);
                                        }
                                        return ++next == frames;
                                    }))
        << next << " of " << frames << " frames read";
}

TEST_F(W32nNetns, CancelledAndClosedReadsAreNeverWritten)
{
    start_devsim({"--devices", "8", "--period", "10"});
    open_configured();
    reader_ = std::make_unique<reader_t>(handle_);
    std::this_thread::sleep_for(30ms); // some reads complete, others are outstanding

    std::vector<int> withdrawn;
    for (int i = 0; i < reader_t::count; ++i) {
        bool cancelled = W32N_CancelPacketRead(handle_, reader_->slot(i).buffer.data());
        bool signalled = WaitForSingleObject(reader_->slot(i).event, 0) == WAIT_OBJECT_0;
        EXPECT_NE(cancelled, signalled) << "slot " << i << ": a read is either withdrawn or completed";
        if (cancelled)
            withdrawn.push_back(i);
    }
    std::vector<std::vector<uint8_t>> snapshots;
    for (int i : withdrawn)
        snapshots.push_back(reader_->slot(i).buffer);
    std::this_thread::sleep_for(300ms);
    for (size_t n = 0; n < withdrawn.size(); ++n) {
        auto& s = reader_->slot(withdrawn[n]);
        EXPECT_EQ(s.buffer, snapshots[n]) << "withdrawn buffer written";
        EXPECT_NE(WaitForSingleObject(s.event, 0), WAIT_OBJECT_0);
    }

    // Re-issued reads work again; then close with all ten outstanding.
    for (int i = 0; i < reader_t::count; ++i)
        reader_->issue(i);
    ASSERT_EQ(WaitForSingleObject(reader_->slot(0).event, 30000), WAIT_OBJECT_0);
    for (int i = 0; i < reader_t::count; ++i) {
        W32N_CancelPacketRead(handle_, reader_->slot(i).buffer.data());
        reader_->issue(i);
    }
    ASSERT_TRUE(W32N_CloseAdapter(handle_));
    snapshots.clear();
    std::vector<bool> done;
    for (int i = 0; i < reader_t::count; ++i) {
        snapshots.push_back(reader_->slot(i).buffer);
        done.push_back(WaitForSingleObject(reader_->slot(i).event, 0) == WAIT_OBJECT_0);
    }
    std::this_thread::sleep_for(300ms);
    for (int i = 0; i < reader_t::count; ++i) {
        EXPECT_EQ(reader_->slot(i).buffer, snapshots[i]) << "buffer " << i << " written after close";
        EXPECT_EQ(WaitForSingleObject(reader_->slot(i).event, 0) == WAIT_OBJECT_0, done[i]);
    }
    EXPECT_FALSE(send_frame(handle_, devsim::build_arp_request(own_, host_ip, host_ip)));
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    handle_ = -1;
    reader_.reset();
}

} // namespace
