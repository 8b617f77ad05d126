// Raw packet library without a network: argument and handle checks, the
// packet-type decision and the queue of outstanding reads.
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "detail.h"
#include "w32n.h"
#include "win32/error.h"
#include "win32/registry.h"
#include "win32/sync.h"

namespace {

using w32n_detail::mac_t;
using w32n_detail::packet_passes;

struct event_t {
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~event_t() { CloseHandle(h); }
    bool signalled() const { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }
};

std::vector<uint8_t> read_buffer(uint32_t capacity = W32N_MAX_FRAME_SIZE, uint8_t fill = 0)
{
    std::vector<uint8_t> b(W32N_PACKET_FRAME_OFFSET + capacity + 16, fill);
    std::memcpy(b.data() + W32N_PACKET_CAPACITY_OFFSET, &capacity, sizeof capacity);
    return b;
}

TEST(W32nLayout, RequestBlockAndRecordKeepTheirSizesAndOffsets)
{
    EXPECT_EQ(sizeof(W32N_REQUEST), 556u);
    EXPECT_EQ(offsetof(W32N_REQUEST, RequestType), 20u);
    EXPECT_EQ(offsetof(W32N_REQUEST, Oid), 24u);
    EXPECT_EQ(sizeof(W32N_ADAPTER_INFO), 780u);
    EXPECT_EQ(offsetof(W32N_ADAPTER_INFO, Title), 260u);
    EXPECT_EQ(offsetof(W32N_ADAPTER_INFO, ServiceName), 520u);
}

TEST(W32nHandles, NotOpenHandlesFailCleanlyAndTouchNothing)
{
    for (INT handle : {-1, 0, 987654}) {
        SCOPED_TRACE(handle);
        event_t event;
        OVERLAPPED ov{};
        ov.hEvent = event.h;
        auto buffer = read_buffer(W32N_MAX_FRAME_SIZE, 0xAA);
        auto before = buffer;
        DWORD bytes = 77;
        uint8_t frame[60] = {};
        W32N_REQUEST request{};
        uint8_t mac[16] = {};
        request.RequestType = W32N_REQUEST_QUERY;
        request.Oid = OID_802_3_CURRENT_ADDRESS;
        request.InformationBuffer = mac;
        request.InformationBufferLength = sizeof mac;
        uint8_t program[128] = {};

        EXPECT_FALSE(W32N_CloseAdapter(handle));
        EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(W32N_SetBPFProgram(handle, program, sizeof program), 0);
        EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_NE(W32N_MakeNdisRequest(handle, &request, &ov, 1), 0u);
        EXPECT_FALSE(W32N_PacketSend(handle, frame, sizeof frame, &bytes, &ov));
        EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(W32N_PacketRead(handle, buffer.data(), &bytes, &ov, 0));
        EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(W32N_CancelPacketRead(handle, buffer.data()));
        EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

        EXPECT_EQ(bytes, 77u);
        EXPECT_EQ(buffer, before);
        EXPECT_FALSE(event.signalled());
        EXPECT_EQ(mac[0], 0);
    }
}

TEST(W32nHandles, OpenRejectsMissingAndUnknownAdapters)
{
    EXPECT_EQ(W32N_OpenAdapterA(nullptr), -1);
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(W32N_OpenAdapterA("\\Device\\vxnosuch0"), -1);
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(W32N_OpenAdapterA("\\Device\\"), -1);
    EXPECT_EQ(W32N_OpenAdapterA("an-interface-name-far-too-long"), -1);
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Opens loopback (no frame is sent): needs CAP_NET_RAW.
TEST(W32nHandles, ClosedHandleFailsAndArgumentsAreChecked)
{
    INT handle = W32N_OpenAdapterA("\\Device\\lo");
    if (handle == -1)
        GTEST_SKIP() << "no CAP_NET_RAW (error " << W32N_GetLastError() << ")";
    event_t event;
    OVERLAPPED ov{};
    ov.hEvent = event.h;
    DWORD bytes = 0;

    // Bad arguments on an open handle.
    EXPECT_FALSE(W32N_PacketRead(handle, nullptr, &bytes, &ov, 0));
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    auto zero_capacity = read_buffer(0);
    EXPECT_FALSE(W32N_PacketRead(handle, zero_capacity.data(), &bytes, &ov, 0));
    EXPECT_EQ(W32N_SetBPFProgram(handle, nullptr, 128), 0);
    uint8_t odd_program[12] = {};
    EXPECT_EQ(W32N_SetBPFProgram(handle, odd_program, sizeof odd_program), 0);
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    uint8_t frame[10] = {};
    EXPECT_FALSE(W32N_PacketSend(handle, frame, sizeof frame, &bytes, &ov));
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    W32N_REQUEST request{};
    uint32_t filter = 0x20; // promiscuous: not offered
    request.RequestType = W32N_REQUEST_SET;
    request.Oid = OID_GEN_CURRENT_PACKET_FILTER;
    request.InformationBuffer = &filter;
    request.InformationBufferLength = 4;
    EXPECT_EQ(W32N_MakeNdisRequest(handle, &request, &ov, 1), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    uint8_t unicast[6] = {0x00, 0x60, 0x2B, 1, 2, 3};
    request.Oid = OID_802_3_MULTICAST_LIST;
    request.InformationBuffer = unicast;
    request.InformationBufferLength = 6;
    EXPECT_EQ(W32N_MakeNdisRequest(handle, &request, &ov, 1), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    uint8_t small[4];
    request.RequestType = W32N_REQUEST_QUERY;
    request.Oid = OID_802_3_CURRENT_ADDRESS;
    request.InformationBuffer = small;
    request.InformationBufferLength = sizeof small;
    EXPECT_EQ(W32N_MakeNdisRequest(handle, &request, &ov, 1), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(request.BytesNeeded, 6u);
    EXPECT_FALSE(event.signalled());

    // An outstanding read is withdrawn by the close and never completed.
    auto buffer = read_buffer();
    EXPECT_FALSE(W32N_PacketRead(handle, buffer.data(), &bytes, &ov, 0));
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_TRUE(W32N_CloseAdapter(handle));
    EXPECT_EQ(ov.Internal, static_cast<ULONG_PTR>(ERROR_OPERATION_ABORTED));

    EXPECT_FALSE(W32N_CloseAdapter(handle));
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(W32N_PacketRead(handle, buffer.data(), &bytes, &ov, 0));
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    uint8_t frame60[60] = {};
    EXPECT_FALSE(W32N_PacketSend(handle, frame60, sizeof frame60, &bytes, &ov));
    EXPECT_EQ(W32N_GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(event.signalled());

    // Handle numbers are not reused.
    INT again = W32N_OpenAdapterA("lo");
    ASSERT_NE(again, -1);
    EXPECT_NE(again, handle);
    EXPECT_TRUE(W32N_CloseAdapter(again));
}

TEST(W32nFamily, ReportsWindowsNtUnlessATestSaysOtherwise)
{
    EXPECT_TRUE(W32N_IsWindowsNT());
    EXPECT_FALSE(W32N_IsWindows95());
    EXPECT_FALSE(W32N_IsWindows2000());
    vx_w32n_set_windows_family(2000);
    EXPECT_TRUE(W32N_IsWindows2000());
    EXPECT_FALSE(W32N_IsWindowsNT());
    vx_w32n_set_windows_family(0);
    EXPECT_TRUE(W32N_IsWindowsNT());
}

TEST(W32nRegistryInfo, FillsTheRecordFromTheNetworkCardsView)
{
    vx_registry_set_adapter_source([] {
        vx_net_adapter a;
        a.name = "vxeth7";
        a.description = "veth";
        a.ip = "192.168.77.1";
        a.mask = "255.255.255.0";
        return std::vector<vx_net_adapter>{a};
    });
    W32N_ADAPTER_INFO record;
    std::memset(&record, 0x55, sizeof record);
    ASSERT_EQ(W32N_GetAdapterRegistryInfo(&record, "1"), 0u);
    EXPECT_STREQ(record.Description, "veth");
    EXPECT_STREQ(record.Title, "vxeth7");
    EXPECT_STREQ(record.ServiceName, "vxeth7");
    EXPECT_EQ(record.ServiceName[259], 0);

    EXPECT_NE(W32N_GetAdapterRegistryInfo(&record, "2"), 0u);
    EXPECT_EQ(record.Description[0], 0);
    EXPECT_NE(W32N_GetAdapterRegistryInfo(nullptr, "1"), 0u);
    vx_registry_reset();
}

TEST(W32nRegistryInfo, ReadsTheWindows2000LayoutWhenThatFamilyIsReported)
{
    const char hive[] = "; veltrix registry hive 1\n"
                        "[System]\n[System\\CurrentControlSet]\n[System\\CurrentControlSet\\Control]\n"
                        "[System\\CurrentControlSet\\Control\\Class]\n"
                        "[System\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}]\n"
                        "[System\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\0000]\n"
                        "\"DriverDesc\"=sz:\"Fast Ethernet Adapter\"\n"
                        "\"NetCfgInstanceId\"=sz:\"{1234}\"\n";
    ASSERT_EQ(vx_registry_load_machine_text(hive, sizeof hive - 1), ERROR_SUCCESS);
    vx_w32n_set_windows_family(2000);
    W32N_ADAPTER_INFO record{};
    EXPECT_EQ(W32N_GetAdapterRegistryInfo(&record, "0000"), 0u);
    EXPECT_STREQ(record.Description, "Fast Ethernet Adapter");
    EXPECT_STREQ(record.Title, "Fast Ethernet Adapter");
    EXPECT_STREQ(record.ServiceName, "{1234}");
    vx_w32n_set_windows_family(0);
    EXPECT_NE(W32N_GetAdapterRegistryInfo(&record, "0000"), 0u); // not in the NT layout
    vx_registry_reset();
}

// ---- packet filter -----------------------------------------------------------

TEST(W32nPacketFilter, DirectedAndListedMulticastOnly)
{
    const std::vector<mac_t> list = {{0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x01}, {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00}};
    const uint8_t own[6] = {0x02, 0, 0, 0, 0, 1};
    const uint8_t listed[6] = {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00};
    const uint8_t unlisted[6] = {0x33, 0x33, 0, 0, 0, 1};
    const uint8_t broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t other[6] = {0x02, 0, 0, 0, 0, 9};
    const uint32_t f = NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_MULTICAST;

    EXPECT_TRUE(packet_passes(f, PACKET_HOST, own, list));
    EXPECT_TRUE(packet_passes(f, PACKET_MULTICAST, listed, list));
    EXPECT_FALSE(packet_passes(f, PACKET_MULTICAST, unlisted, list));
    EXPECT_FALSE(packet_passes(f, PACKET_BROADCAST, broadcast, list));
    EXPECT_FALSE(packet_passes(f, PACKET_OTHERHOST, other, list));
    EXPECT_FALSE(packet_passes(f, PACKET_OUTGOING, own, list));
    EXPECT_FALSE(packet_passes(f, PACKET_OUTGOING, listed, list));
    EXPECT_FALSE(packet_passes(f, PACKET_MULTICAST, listed, {}));
}

TEST(W32nPacketFilter, EachFilterBitOpensItsOwnKind)
{
    const std::vector<mac_t> none;
    const uint8_t any[6] = {0x01, 0, 0x5E, 0, 0, 1};
    const uint8_t broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (uint8_t type : {PACKET_HOST, PACKET_BROADCAST, PACKET_MULTICAST, PACKET_OTHERHOST, PACKET_OUTGOING})
        EXPECT_FALSE(packet_passes(0, type, any, none)) << int(type);
    EXPECT_TRUE(packet_passes(NDIS_PACKET_TYPE_ALL_MULTICAST, PACKET_MULTICAST, any, none));
    EXPECT_FALSE(packet_passes(NDIS_PACKET_TYPE_ALL_MULTICAST, PACKET_HOST, any, none));
    EXPECT_TRUE(packet_passes(NDIS_PACKET_TYPE_BROADCAST, PACKET_BROADCAST, broadcast, none));
    EXPECT_FALSE(packet_passes(NDIS_PACKET_TYPE_DIRECTED, PACKET_BROADCAST, broadcast, none));
    EXPECT_FALSE(packet_passes(0xFFFFFFFFu, PACKET_OUTGOING, broadcast, none));
    EXPECT_FALSE(packet_passes(0xFFFFFFFFu, PACKET_OTHERHOST, any, none));
}

// ---- read queue ----------------------------------------------------------------

struct slot_t {
    std::vector<uint8_t> buffer = read_buffer(64, 0xEE);
    DWORD bytes = 0;
    event_t event;
    OVERLAPPED ov{};
    w32n_detail::pending_read read()
    {
        ov.hEvent = event.h;
        w32n_detail::pending_read r;
        r.buffer = buffer.data();
        r.capacity = 64;
        r.bytes = &bytes;
        r.overlapped = &ov;
        return r;
    }
    uint8_t first_frame_byte() const { return buffer[W32N_PACKET_FRAME_OFFSET]; }
};

std::vector<uint8_t> frame_of(uint8_t tag, size_t size) { return std::vector<uint8_t>(size, tag); }

TEST(W32nReadQueue, CompletesInIssueOrderAndCutsToTheCapacity)
{
    w32n_detail::read_queue q;
    slot_t slots[3];
    for (auto& s : slots)
        ASSERT_TRUE(q.push(s.read()));
    EXPECT_EQ(slots[0].ov.Internal, static_cast<ULONG_PTR>(ERROR_IO_PENDING));

    auto f1 = frame_of(1, 42), f2 = frame_of(2, 100);
    ASSERT_TRUE(q.complete_front(f1.data(), 42, 42));
    EXPECT_TRUE(slots[0].event.signalled());
    EXPECT_FALSE(slots[1].event.signalled());
    EXPECT_EQ(slots[0].bytes, 42u);
    EXPECT_EQ(slots[0].ov.InternalHigh, 42u);
    EXPECT_EQ(slots[0].ov.Internal, 0u);
    EXPECT_EQ(slots[0].first_frame_byte(), 1);
    EXPECT_EQ(slots[0].buffer[W32N_PACKET_FRAME_OFFSET + 42], 0xEE); // nothing past the frame

    ASSERT_TRUE(q.complete_front(f2.data(), 100, 1200));
    EXPECT_TRUE(slots[1].event.signalled());
    EXPECT_EQ(slots[1].bytes, 64u); // cut to the capacity
    DWORD stored, wire;
    std::memcpy(&stored, slots[1].buffer.data() + W32N_PACKET_LENGTH_OFFSET, 4);
    std::memcpy(&wire, slots[1].buffer.data() + W32N_PACKET_WIRE_LENGTH_OFFSET, 4);
    EXPECT_EQ(stored, 64u);
    EXPECT_EQ(wire, 1200u);
    EXPECT_EQ(slots[1].buffer[W32N_PACKET_FRAME_OFFSET + 64], 0xEE);
    EXPECT_EQ(q.size(), 1u);
}

TEST(W32nReadQueue, CancelWithdrawsOnlyThatBufferAndTheNextReadGetsTheFrame)
{
    w32n_detail::read_queue q;
    slot_t slots[3];
    for (auto& s : slots)
        q.push(s.read());
    EXPECT_TRUE(q.cancel(slots[0].buffer.data()));
    EXPECT_FALSE(q.cancel(slots[0].buffer.data()));
    EXPECT_EQ(slots[0].ov.Internal, static_cast<ULONG_PTR>(ERROR_OPERATION_ABORTED));

    auto f = frame_of(7, 20);
    ASSERT_TRUE(q.complete_front(f.data(), 20, 20));
    EXPECT_FALSE(slots[0].event.signalled());
    EXPECT_EQ(slots[0].first_frame_byte(), 0xEE);
    EXPECT_TRUE(slots[1].event.signalled());
    EXPECT_EQ(slots[1].first_frame_byte(), 7);

    q.shut();
    EXPECT_EQ(slots[2].ov.Internal, static_cast<ULONG_PTR>(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(q.complete_front(f.data(), 20, 20));
    EXPECT_FALSE(slots[2].event.signalled());
    EXPECT_FALSE(q.push(slots[0].read()));
    EXPECT_FALSE(q.wait_pending());
}

TEST(W32nReadQueue, NoFrameIsConsumedWithoutAnOutstandingRead)
{
    w32n_detail::read_queue q;
    auto f = frame_of(3, 20);
    EXPECT_FALSE(q.complete_front(f.data(), 20, 20));
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = q.wait_pending(); });
    slot_t slot;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    q.push(slot.read());
    waiter.join();
    EXPECT_TRUE(woke);
}

// Frames waiting in a source (the adapter's receive ring): taken oldest
// first, those that fail the filter dropped on the way.
class script_source final : public w32n_detail::frame_source {
public:
    struct entry {
        std::vector<uint8_t> frame;
        bool passes;
    };
    std::vector<entry> waiting;
    size_t next = 0;
    size_t given_back = 0;

    bool peek(frame_ref& frame) override
    {
        for (; next < waiting.size(); ++next, ++given_back) {
            if (waiting[next].passes) {
                const auto& f = waiting[next].frame;
                frame = {f.data(), static_cast<uint32_t>(f.size()), static_cast<uint32_t>(f.size())};
                return true;
            }
        }
        return false;
    }
    void pop() override
    {
        ++next;
        ++given_back;
    }
};

TEST(W32nReadQueue, ReadsTakeWaitingFramesAtOnceAndInIssueOrder)
{
    script_source source;
    w32n_detail::read_queue q(&source);
    slot_t slots[4];
    // Nothing waits: both reads stay outstanding.
    ASSERT_TRUE(q.push(slots[0].read()));
    ASSERT_TRUE(q.push(slots[1].read()));
    EXPECT_EQ(q.size(), 2u);

    source.waiting = {{frame_of(1, 20), false},
                      {frame_of(2, 20), true},
                      {frame_of(3, 20), true},
                      {frame_of(4, 20), false},
                      {frame_of(5, 20), true}};
    // The older reads are served first, even by a frame that a newer read's
    // issue brought in; the one failing the filter is dropped, not handed out.
    ASSERT_TRUE(q.push(slots[2].read()));
    EXPECT_EQ(q.size(), 0u);
    EXPECT_EQ(slots[0].first_frame_byte(), 2);
    EXPECT_EQ(slots[1].first_frame_byte(), 3);
    EXPECT_EQ(slots[2].first_frame_byte(), 5);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(slots[i].event.signalled()) << i; // set before push returned
        EXPECT_EQ(slots[i].bytes, 20u) << i;
    }
    EXPECT_EQ(source.given_back, 5u); // every frame went back to the source

    // The source is empty again: the next read waits for pump.
    ASSERT_TRUE(q.push(slots[3].read()));
    EXPECT_EQ(q.pump(), 1u);
    EXPECT_FALSE(slots[3].event.signalled());
    source.waiting.push_back({frame_of(6, 20), true});
    EXPECT_EQ(q.pump(), 0u);
    EXPECT_EQ(slots[3].first_frame_byte(), 6);

    // After shut nothing is taken from the source any more.
    q.shut();
    source.waiting.push_back({frame_of(7, 20), true});
    EXPECT_FALSE(q.push(slots[0].read()));
    EXPECT_EQ(q.pump(), 0u);
    EXPECT_EQ(source.next, 6u);
}

// A completer keeps delivering while reads are issued and withdrawn: a buffer
// must never change once its cancel has returned.
TEST(W32nReadQueue, CancelledBuffersStayUntouchedUnderConcurrentCompletion)
{
    w32n_detail::read_queue q;
    std::atomic<bool> stop{false};
    std::thread completer([&] {
        auto f = frame_of(0x11, 60);
        while (!stop) {
            if (!q.wait_pending())
                return;
            q.complete_front(f.data(), 60, 60);
        }
    });
    for (int round = 0; round < 2000; ++round) {
        slot_t slot;
        q.push(slot.read());
        bool withdrawn = q.cancel(slot.buffer.data());
        auto snapshot = slot.buffer;
        bool completed = slot.event.signalled();
        ASSERT_NE(withdrawn, completed) << "round " << round;
        std::this_thread::yield();
        ASSERT_EQ(slot.buffer, snapshot) << "written after cancel, round " << round;
        if (withdrawn) {
            ASSERT_EQ(slot.first_frame_byte(), 0xEE);
        }
    }
    stop = true;
    q.shut();
    completer.join();
}

} // namespace
