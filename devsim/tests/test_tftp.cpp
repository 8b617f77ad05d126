// The device-style TFTP server without sockets: datagrams in, datagrams out,
// transfer ports from a counter. A small lock-step client drives it the way
// the firmware server's client does (it, not the device, resends).
#include <gtest/gtest.h>

#include <deque>
#include <set>

#include "flash/flash.h"
#include "tftp/packet.h"
#include "tftp/server.h"

namespace {

using namespace devsim;
using namespace devsim::tftp;
using bytes_t = std::vector<uint8_t>;

const images::firmware_t& alder_image()
{
    static const auto image = [] {
        images::firmware_spec spec;
        spec.version = {1, 0, 0, -1};
        return images::make_firmware(spec);
    }();
    return image;
}

struct sent_t {
    uint16_t from;
    endpoint_t to;
    bytes_t packet;
};

class device_t {
public:
    explicit device_t(images::family f = images::family::alder, std::span<const uint8_t> image = alder_image().bytes)
        : flash(f, image), server(flash, faults,
                                  {[this](uint16_t from, const endpoint_t& to, std::span<const uint8_t> p) {
                                       out.push_back({from, to, bytes_t(p.begin(), p.end())});
                                   },
                                   [this]() -> std::optional<uint16_t> {
                                       if (open.size() >= port_limit)
                                           return std::nullopt;
                                       open.insert(next_port);
                                       return next_port++;
                                   },
                                   [this](uint16_t port) { open.erase(port); }},
                                  [this](const std::string& line) { log.push_back(line); })
    {}

    void to(uint16_t port, const bytes_t& packet, const endpoint_t& from = client)
    {
        server.receive(port, from, packet, now);
    }
    std::optional<sent_t> next()
    {
        if (out.empty())
            return std::nullopt;
        auto s = out.front();
        out.pop_front();
        return s;
    }
    std::span<const uint8_t> file(const char* name) { return flash.read(flash.layout().find(name)); }

    // A whole read as a lock-step client: ACK every DATA until the empty one.
    std::optional<bytes_t> get(const std::string& name)
    {
        to(server_t::port, request_packet(op_rrq, name));
        bytes_t data;
        while (auto s = next()) {
            if (opcode_of(s->packet) != op_data)
                return std::nullopt;
            data.insert(data.end(), s->packet.begin() + 4, s->packet.end());
            to(s->from, ack_packet(block_of(s->packet)));
            if (s->packet.size() == 4)
                return data;
        }
        return std::nullopt;
    }
    // A whole write: DATA k+1 for every ACK k, no empty DATA after a full block.
    bool put(const std::string& name, std::span<const uint8_t> data)
    {
        to(server_t::port, request_packet(op_wrq, name));
        size_t offset = 0;
        while (auto s = next()) {
            if (opcode_of(s->packet) != op_ack)
                return false;
            if (offset >= data.size())
                return true;
            size_t length = std::min<size_t>(512, data.size() - offset);
            to(s->from, data_packet(static_cast<uint16_t>(block_of(s->packet) + 1), data.subspan(offset, length)));
            offset += length;
        }
        return false;
    }

    static constexpr endpoint_t client{0x0A000001, 5555};
    flash::flash_t flash;
    faults_t faults;
    std::deque<sent_t> out;
    std::set<uint16_t> open;
    uint16_t next_port = 40000;
    size_t port_limit = 100;
    std::vector<std::string> log;
    time_point now = std::chrono::steady_clock::now();
    server_t server;
};

TEST(TftpServer, ReadSendsTheAreaAndEndsWithAnEmptyBlock)
{
    device_t d;
    d.to(server_t::port, request_packet(op_rrq, "m02")); // 0x2000 bytes: 16 blocks
    auto first = d.next();
    ASSERT_TRUE(first);
    EXPECT_NE(first->from, server_t::port) << "a transfer answers from its own port";
    EXPECT_EQ(first->to, device_t::client);
    EXPECT_EQ(block_of(first->packet), 1);
    EXPECT_FALSE(d.next()) << "one packet per request";
    // The client resends ACK 0 and ACK 1: each gets its block again, nothing more.
    d.to(first->from, ack_packet(0));
    d.to(first->from, ack_packet(1));
    d.to(first->from, ack_packet(1));
    EXPECT_EQ(block_of(d.next()->packet), 1);
    EXPECT_EQ(block_of(d.next()->packet), 2);
    EXPECT_EQ(block_of(d.next()->packet), 2);
    EXPECT_FALSE(d.next());
    d.to(first->from, ack_packet(16));
    auto last = d.next();
    EXPECT_EQ(block_of(last->packet), 17);
    EXPECT_EQ(last->packet.size(), 4u);
    d.to(first->from, ack_packet(17));
    EXPECT_EQ(d.server.transfers(), 0u);
    EXPECT_TRUE(d.open.empty());

    auto whole = d.get("m05");
    ASSERT_TRUE(whole);
    EXPECT_TRUE(std::equal(whole->begin(), whole->end(), alder_image().bytes.begin() + 0x20000));
    EXPECT_EQ(whole->size(), 0x20000u);
}

TEST(TftpServer, WriteErasesFirstStoresBlocksAndRunsTheNewBank)
{
    images::firmware_spec spec;
    spec.version = {1, 22, 5, -1};
    auto next = images::make_firmware(spec);
    device_t d;
    d.to(server_t::port, request_packet(op_wrq, "m08"));
    auto ack = d.next();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->packet, ack_packet(0));
    // Data at block 2 before block 1: placed by number, answered by number.
    d.to(ack->from, data_packet(2, std::span(next.bytes).subspan(0x40200, 512)));
    EXPECT_EQ(d.next()->packet, ack_packet(2));
    EXPECT_TRUE(std::equal(d.file("m08").begin() + 512, d.file("m08").begin() + 1024, next.bytes.begin() + 0x40200));
    EXPECT_EQ(d.file("m08")[0], 0xFF);

    EXPECT_TRUE(d.put("m08", std::span(next.bytes).subspan(0x40000, 0x20000)));
    EXPECT_TRUE(d.put("m09", std::span(next.bytes).subspan(0x60000, 0x20000)));
    EXPECT_EQ(d.flash.firmware().bank, 8);
    EXPECT_EQ(d.flash.firmware().stamp->version, spec.version);

    // The junk write: a request and no data invalidates the old bank at once.
    EXPECT_TRUE(d.put("m06", {}));
    EXPECT_TRUE(std::all_of(d.file("m06").begin(), d.file("m06").end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(d.put("m08", {}));
    EXPECT_EQ(d.flash.firmware().bank, -1);

    // A short write leaves the rest of the area erased.
    const bytes_t few = {1, 2, 3};
    EXPECT_TRUE(d.put("m03", few));
    EXPECT_EQ(d.file("m03")[2], 3);
    EXPECT_EQ(d.file("m03")[3], 0xFF);
}

TEST(TftpServer, BadRequestsGetAnErrorAtOnce)
{
    struct row {
        const char* what;
        bytes_t packet;
        int code; // -1: no answer
    };
    bytes_t unterminated = request_packet(op_rrq, "m01");
    unterminated.pop_back();
    const row rows[] = {
        {"unknown file", request_packet(op_rrq, "c01"), 1},
        {"another family's probe file", request_packet(op_wrq, "r2"), 1},
        {"netascii", request_packet(op_rrq, "m01", "netascii"), 4},
        {"unterminated mode", unterminated, 4},
        {"one byte", {0x00}, 4},
        {"empty", {}, 4},
        {"ACK to the request port", ack_packet(1), 4},
        {"opcode 9", {0x00, 0x09, 'x', 0}, 4},
        {"an ERROR", error_packet(0, "bye"), -1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        device_t d;
        d.to(server_t::port, r.packet);
        auto answer = d.next();
        if (r.code < 0) {
            EXPECT_FALSE(answer);
            continue;
        }
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->from, server_t::port);
        EXPECT_EQ(opcode_of(answer->packet), op_error);
        EXPECT_EQ(block_of(answer->packet), r.code);
        EXPECT_TRUE(d.open.empty());
    }
    // "octet" in any case, and request options behind the mode are ignored.
    device_t d;
    auto with_option = request_packet(op_rrq, "m01", "OCTET");
    for (char c : std::string("tsize\0"
                              "0\0",
                              8))
        with_option.push_back(static_cast<uint8_t>(c));
    d.to(server_t::port, with_option);
    EXPECT_EQ(opcode_of(d.next()->packet), op_data);
}

TEST(TftpServer, TransferPortsAreGuarded)
{
    device_t d;
    d.to(server_t::port, request_packet(op_wrq, "m03"));
    uint16_t port = d.next()->from;
    // Another sender gets "Unknown transfer ID"; the transfer goes on.
    const endpoint_t stranger{0x0A000002, 5555};
    d.to(port, data_packet(1, bytes_t(512, 7)), stranger);
    auto refused = d.next();
    EXPECT_EQ(refused->to, stranger);
    EXPECT_EQ(block_of(refused->packet), 5);
    EXPECT_EQ(d.file("m03")[0], 0xFF);
    // Data beyond the area: "Disk full", the transfer ends.
    d.to(port, data_packet(17, bytes_t(512, 7)));
    EXPECT_EQ(block_of(d.next()->packet), 3);
    EXPECT_EQ(d.server.transfers(), 0u);
    // An oversized block is refused the same way.
    d.to(server_t::port, request_packet(op_wrq, "m03"));
    port = d.next()->from;
    d.to(port, data_packet(1, bytes_t(600, 7)));
    EXPECT_EQ(block_of(d.next()->packet), 3);

    // Idle transfers expire; too many make room by closing the idlest.
    d.port_limit = 1000;
    for (int k = 0; k < 20; ++k) {
        d.now += std::chrono::seconds(1);
        d.to(server_t::port, request_packet(op_rrq, "m01"));
    }
    EXPECT_EQ(d.server.transfers(), server_t::max_transfers);
    EXPECT_EQ(d.open.size(), server_t::max_transfers);
    EXPECT_EQ(d.server.deadline(), d.now - std::chrono::seconds(15) + server_t::idle_limit);
    d.server.expire(d.now + server_t::idle_limit);
    EXPECT_EQ(d.server.transfers(), 0u);
    EXPECT_TRUE(d.open.empty());

    d.port_limit = 0;
    d.out.clear();
    d.to(server_t::port, request_packet(op_rrq, "m01"));
    EXPECT_EQ(block_of(d.next()->packet), 0) << "no port left: ERROR 0";
}

TEST(TftpServer, FaultSwitches)
{
    // drop:2 loses the second packet sent (DATA 2); the client's repeated
    // ACK 1 brings it.
    {
        device_t d;
        d.faults.drop = 2;
        d.to(server_t::port, request_packet(op_rrq, "m01"));
        uint16_t port = d.next()->from;
        d.to(port, ack_packet(1));
        EXPECT_FALSE(d.next());
        d.to(port, ack_packet(1));
        EXPECT_EQ(block_of(d.next()->packet), 2);
        EXPECT_EQ(d.faults.drop, 0u);
    }
    // duplicate:1 sends DATA 1 twice, once.
    {
        device_t d;
        d.faults.duplicate = 1;
        d.to(server_t::port, request_packet(op_rrq, "m01"));
        EXPECT_EQ(block_of(d.next()->packet), 1);
        EXPECT_EQ(block_of(d.next()->packet), 1);
        EXPECT_FALSE(d.next());
    }
    // stop-after:3 ends a read after DATA 3 and a write after ACK 3.
    {
        device_t d;
        d.faults.stop_after = 3;
        EXPECT_FALSE(d.get("m01"));
        EXPECT_FALSE(d.put("m03", bytes_t(0x2000, 1)));
        EXPECT_EQ(d.file("m03")[3 * 512 - 1], 1);
        EXPECT_EQ(d.file("m03")[3 * 512], 0xFF);
    }
    // refuse-writes: write requests get "Access violation", reads go on,
    // nothing is erased.
    {
        device_t d;
        d.faults.refuse_writes = true;
        d.to(server_t::port, request_packet(op_wrq, "m06"));
        auto refused = d.next();
        EXPECT_EQ(refused->from, server_t::port);
        EXPECT_EQ(block_of(refused->packet), 2);
        EXPECT_EQ(d.flash.firmware().bank, 6);
        EXPECT_TRUE(d.get("m06"));
    }
    // corrupt-write stores one byte wrong: a code bank written so does not run.
    {
        device_t d;
        d.faults.corrupt_writes = true;
        auto code = std::span(alder_image().bytes).subspan(0x40000, 0x20000);
        EXPECT_TRUE(d.put("m06", code));
        EXPECT_FALSE(std::equal(code.begin(), code.end(), d.file("m06").begin()));
        EXPECT_EQ(d.flash.firmware().bank, -1);
    }
    // silent: nothing at all, not even errors.
    {
        device_t d;
        d.faults.silent = true;
        d.to(server_t::port, request_packet(op_rrq, "m01"));
        d.to(server_t::port, request_packet(op_rrq, "nothing"));
        EXPECT_FALSE(d.next());
        d.faults.silent = false;
        EXPECT_TRUE(d.get("m01"));
    }
}

} // namespace
