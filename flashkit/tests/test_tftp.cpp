// The TFTP client against a scripted device-style server on loopback: the
// wire exchange, the devices' departures from RFC 1350, repeats, time-outs,
// foreign senders and bad replies. Error packets and a server that ends on a
// short block are met against tftpd-hpa (test_peer.cpp).
#include "flashkit/tftp.h"

#include "scratch_folder.h"
#include "tftp_peer.h"
#include "tftp_times.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

namespace {

using vx::test::tftp_packet;
using vx::test::random_text;
using vx::test::text_of;
using vx::test::tftp_brief_ms;
using vx::test::tftp_brief_retries;
using vx::test::tftp_patient_ms;

// How long a check that nothing more arrives looks: a late packet it misses
// makes the check weaker, never wrong.
constexpr int quiet_ms = 400;

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

qm::ip_address_t loopback()
{
    qm::ip_address_t ip;
    ip.parse("127.0.0.1");
    return ip;
}

// Opcode and block of every packet the server received, as "RRQ", "A1", "D2".
std::string wire(const std::vector<tftp_packet>& packets)
{
    std::string out;
    for (const tftp_packet& p : packets) {
        if (!out.empty())
            out += ' ';
        switch (p.opcode) {
        case 1:
            out += "RRQ";
            break;
        case 2:
            out += "WRQ";
            break;
        case 3:
            out += "D" + std::to_string(p.block) + (p.data_size ? "" : "e");
            break;
        case 4:
            out += "A" + std::to_string(p.block);
            break;
        default:
            out += "?";
            break;
        }
    }
    return out;
}

// The wire with every run of one packet written once: what a transfer sent,
// whatever resends a loaded machine added to it.
std::string runs(const std::vector<tftp_packet>& packets)
{
    std::string out;
    std::string last;
    for (const tftp_packet& p : packets) {
        std::string one = wire({p});
        if (one != last)
            out += (out.empty() ? "" : " ") + one;
        last = one;
    }
    return out;
}

// The server's record once its runs read `expected`, or once only a fault
// would still change them.
std::string runs_once(vx::test::tftp_peer& server, const std::string& expected)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string got = runs(server.received());
    while (got != expected && std::chrono::steady_clock::now() < end) {
        server.wait_for(server.received().size() + 1, 50);
        got = runs(server.received());
    }
    return got;
}

// How often the packet ("A2", "RRQ") came.
int count_of(const std::vector<tftp_packet>& packets, const std::string& packet)
{
    int n = 0;
    for (const tftp_packet& p : packets)
        n += wire({p}) == packet;
    return n;
}

class TftpClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        client().set_port(peer.port());
        client().set_timeout(tftp_patient_ms);
        client().set_write_timeout(tftp_patient_ms);
        client().set_retries(3);
        client().set_holdoff(5);
        client().set_get_limit(tftp::default_get_limit);
    }
    static tftp& client() { return tftp::settings(); }
    std::string local(const std::string& name) const { return (dir.path / name).string(); }

    // The exception of a transfer that must fail.
    template <class F> tftp::tftp_exception_t failure(F&& transfer)
    {
        try {
            transfer();
        } catch (const tftp::tftp_exception_t& e) {
            return e;
        }
        ADD_FAILURE() << "transfer did not fail";
        return tftp::tftp_exception_t(0, "");
    }

    vx::test::tftp_peer peer;
    vx::test::scratch_folder dir{"tftp"};
};

TEST_F(TftpClient, GetEndsOnlyOnAnEmptyBlockAndAcknowledgesEveryBlockOnce)
{
    struct row {
        std::size_t size;
        const char* exchange;
    };
    // A short non-empty block is written and acknowledged, and the client
    // waits for the empty one.
    for (row r : {row{1024, "RRQ A1 A2 A3"}, row{700, "RRQ A1 A2 A3"}, row{0, "RRQ A1"}, row{512, "RRQ A1 A2"}}) {
        vx::test::tftp_peer server;
        client().set_port(server.port());
        std::string content = random_text(r.size, static_cast<unsigned>(r.size));
        server.set_file("m01", content);
        client().get(loopback(), "m01", local("m01"));
        EXPECT_EQ(text_of(local("m01")), content) << r.size;
        // The last acknowledgement leaves as the get returns; then nothing more.
        const std::string exchange = r.exchange;
        const std::size_t packets = std::count(exchange.begin(), exchange.end(), ' ') + 1;
        server.wait_for(packets);
        server.wait_for(packets + 1, quiet_ms);
        EXPECT_EQ(wire(server.received()), r.exchange) << r.size;
    }
}

TEST_F(TftpClient, PutSendsNoEmptyBlockAfterAFullOneNorForAnEmptyFile)
{
    struct row {
        std::size_t size;
        const char* exchange;
    };
    for (row r : {row{1024, "WRQ D1 D2"}, row{700, "WRQ D1 D2"}, row{0, "WRQ"}, row{513, "WRQ D1 D2"}}) {
        vx::test::tftp_peer server;
        client().set_port(server.port());
        std::string content = random_text(r.size, 7);
        write_file(local("up"), content);
        client().put(loopback(), local("up"), "m06");
        EXPECT_EQ(server.file("m06"), content) << r.size;
        // Nothing more arrives after the last acknowledgement.
        server.wait_for(100, 400);
        EXPECT_EQ(wire(server.received()), r.exchange) << r.size;
    }
}

TEST_F(TftpClient, PutExSendsTheSliceAndEndsAtTheEndOfTheFile)
{
    std::string content = random_text(3000, 3);
    write_file(local("image"), content);
    client().put_ex(loopback(), local("image"), "a", 1000, 1100);
    EXPECT_EQ(peer.file("a"), content.substr(1000, 1100));
    // Past the end: only what the file holds from the offset goes out.
    client().put_ex(loopback(), local("image"), "b", 2500, 4096);
    EXPECT_EQ(peer.file("b"), content.substr(2500));
    client().put_ex(loopback(), local("image"), "c", 5000, 100);
    EXPECT_EQ(peer.file("c"), "");
    client().put_ex(loopback(), local("image"), "junk", 0, 0);
    EXPECT_TRUE(peer.has_file("junk"));
    EXPECT_EQ(peer.file("junk"), "");
}

TEST_F(TftpClient, SilentDeviceTimesOutAfterTheRetries)
{
    peer.silent = true;
    client().set_retries(2);
    client().set_timeout(100);
    auto e = failure([&] { client().get(loopback(), "m01", local("m01")); });
    EXPECT_EQ(e.code, 4);
    EXPECT_STREQ(e.what(), "Timeout during firmware file transfer.\r\nPlease check network connections and try again.");
    peer.wait_for(3); // the last request may reach the peer's log after the client gave up
    EXPECT_EQ(wire(peer.received()), "RRQ RRQ RRQ");
}

// Each lost packet costs one brief time-out; a late reply on a loaded
// machine may add a resend, which the device answers and the client takes
// as a repeat.
TEST_F(TftpClient, LostPacketsAreResentByTheClient)
{
    client().set_timeout(tftp_brief_ms);
    client().set_write_timeout(tftp_brief_ms);
    client().set_retries(tftp_brief_retries);
    std::string content = random_text(2048, 9);
    peer.set_file("m02", content);
    peer.drop_data = 3; // the device never resends: the client resends ACK 2
    client().get(loopback(), "m02", local("m02"));
    EXPECT_EQ(text_of(local("m02")), content);
    EXPECT_EQ(runs_once(peer, "RRQ A1 A2 A3 A4 A5"), "RRQ A1 A2 A3 A4 A5");
    EXPECT_GE(count_of(peer.received(), "A2"), 2) << wire(peer.received());

    vx::test::tftp_peer writer;
    client().set_port(writer.port());
    writer.drop_ack = 2; // the client resends DATA 2
    write_file(local("up"), content);
    client().put(loopback(), local("up"), "m06");
    EXPECT_EQ(writer.file("m06"), content);
    EXPECT_EQ(runs_once(writer, "WRQ D1 D2 D3 D4"), "WRQ D1 D2 D3 D4");
    EXPECT_GE(count_of(writer.received(), "D2"), 2) << wire(writer.received());
}

// A first reply that comes after the client resent its request is taken,
// and the transfer goes on with it; the resent request starts nothing.
TEST_F(TftpClient, AFirstReplyAfterTheResentRequestIsTaken)
{
    client().set_timeout(tftp_brief_ms);
    client().set_retries(tftp_brief_retries);
    std::string content = random_text(1500, 21);
    peer.set_file("m07", content);
    peer.first_reply_late_ms = 20 * tftp_brief_ms; // many resends late, however loaded the machine
    client().get(loopback(), "m07", local("m07"));
    EXPECT_EQ(text_of(local("m07")), content);
    EXPECT_EQ(runs_once(peer, "RRQ A1 A2 A3 A4"), "RRQ A1 A2 A3 A4");
    EXPECT_GE(count_of(peer.received(), "RRQ"), 2) << wire(peer.received());
}

TEST_F(TftpClient, AGoodReplyRestoresTheRetries)
{
    // One resend allowed, two separate losses: each is one time-out in a row.
    std::string content = random_text(512 * 5, 13);
    peer.set_file("m03", content);
    peer.drop_data = 2;
    peer.drop_data_also = 4;
    client().set_retries(1);
    // A patient wait per loss: a late reply on a loaded machine must not add
    // a time-out of its own, or two in a row would end the transfer.
    client().get(loopback(), "m03", local("m03"));
    EXPECT_EQ(text_of(local("m03")), content);
    peer.wait_for(9);
    EXPECT_EQ(wire(peer.received()), "RRQ A1 A1 A2 A3 A3 A4 A5 A6");
}

// The pause before a resend grows by the hold-off with every time-out of the
// transfer and is not reset by a good reply: the k-th resend leaves at least
// k hold-offs after the packet it repeats. Times are the kernel's arrival
// stamps at the server, so a busy machine only makes the gaps longer.
TEST_F(TftpClient, HoldOffGrowsWithEveryTimeOutOfTheTransfer)
{
    constexpr int holdoff = 300;
    std::string content = random_text(512 * 5, 17);
    peer.set_file("m03", content);
    peer.drop_data = 2;
    peer.drop_data_also = 4;
    client().set_timeout(tftp_brief_ms);
    client().set_retries(tftp_brief_retries);
    client().set_holdoff(holdoff);
    client().get(loopback(), "m03", local("m03"));
    EXPECT_EQ(text_of(local("m03")), content);
    peer.wait_for(9);

    // A resend is the same packet twice in a row.
    const std::vector<tftp_packet> log = peer.received();
    int resends = 0;
    for (std::size_t i = 1; i < log.size(); ++i) {
        if (log[i].opcode != log[i - 1].opcode || log[i].block != log[i - 1].block)
            continue;
        ++resends;
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(log[i].at - log[i - 1].at);
        EXPECT_GE(gap.count(), resends * holdoff) << "resend " << resends << ": " << wire(log);
    }
    EXPECT_GE(resends, 2) << wire(log);
}

// A get that passes its bound fails (a device that keeps sending would fill
// the disk); an acknowledgement of a block that was never sent fails a put
// rather than sending the next bytes under a later number.
TEST_F(TftpClient, AGetPastItsBoundAndAnAckOfAnUnsentBlockFail)
{
    client().set_get_limit(2048);
    peer.set_file("big", random_text(2049, 3));
    peer.set_file("fits", random_text(2048, 4));
    auto e = failure([&] { client().get(loopback(), "big", local("big")); });
    client().get(loopback(), "fits", local("fits"));
    EXPECT_EQ(e.code, 3);
    EXPECT_STREQ(e.what(), "Unexpected error during firmware file transfer.");
    EXPECT_EQ(text_of(local("fits")), peer.file("fits"));

    vx::test::tftp_peer writer;
    client().set_port(writer.port());
    writer.ack_ahead = 2; // DATA 2 is answered by ACK 3
    write_file(local("up"), random_text(2048, 5));
    e = failure([&] { client().put(loopback(), local("up"), "m06"); });
    EXPECT_EQ(e.code, 3);
    writer.wait_for(100, 400);
    EXPECT_EQ(wire(writer.received()), "WRQ D1 D2");
}

TEST_F(TftpClient, RepeatedBlocksAreNeitherWrittenNorAnsweredTwice)
{
    // Answering a repeat would make the device send every later block twice.
    std::string content = random_text(512 * 6 + 100, 11);
    peer.set_file("m04", content);
    peer.repeat_data = true;
    client().get(loopback(), "m04", local("m04"));
    EXPECT_EQ(text_of(local("m04")), content);
    peer.wait_for(9);
    EXPECT_EQ(wire(peer.received()), "RRQ A1 A2 A3 A4 A5 A6 A7 A8");

    vx::test::tftp_peer writer;
    client().set_port(writer.port());
    writer.repeat_ack = true;
    write_file(local("up"), content);
    client().put(loopback(), local("up"), "m05");
    EXPECT_EQ(writer.file("m05"), content);
    writer.wait_for(100, 400);
    EXPECT_EQ(wire(writer.received()), "WRQ D1 D2 D3 D4 D5 D6 D7");
}

TEST_F(TftpClient, OnlyTheDevicesFirstReplyPortIsHeard)
{
    std::string content = random_text(1500, 5);
    peer.set_file("c01", content);
    peer.set_foreign_address("127.0.0.2"); // another host sends first
    peer.foreign_port = true;              // and the device's address from another port
    client().get(loopback(), "c01", local("c01"));
    EXPECT_EQ(text_of(local("c01")), content);
    // The ACKs went to the port of the device's first reply: the server's
    // session socket saw all of them.
    peer.wait_for(5);
    EXPECT_EQ(wire(peer.received()), "RRQ A1 A2 A3 A4");
}

TEST_F(TftpClient, MalformedRepliesFailTheTransfer)
{
    for (int size : {3, 517, 2000}) {
        vx::test::tftp_peer server;
        client().set_port(server.port());
        server.set_file("m01", random_text(600, 1));
        server.reply_size = size;
        auto e = failure([&] { client().get(loopback(), "m01", local("m01")); });
        EXPECT_EQ(e.code, 3) << size;
        EXPECT_STREQ(e.what(), "Unexpected error during firmware file transfer.") << size;
    }
}

TEST_F(TftpClient, RefusesWhatWouldOverflowOrWaitForever)
{
    std::string name(508, 'n');
    auto e = failure([&] { client().get(loopback(), name, local("x")); });
    EXPECT_EQ(e.code, 3);
    EXPECT_TRUE(peer.received().empty());
    name.pop_back();
    peer.set_file(name, "abc");
    client().get(loopback(), name, local("x"));
    EXPECT_EQ(text_of(local("x")), "abc");

    EXPECT_FALSE(client().set_timeout(-1));
    EXPECT_FALSE(client().set_write_timeout(-5));
    EXPECT_FALSE(client().set_retries(-1));
    EXPECT_FALSE(client().set_holdoff(-100));
    EXPECT_EQ(client().timeout(), tftp_patient_ms);
    EXPECT_EQ(client().holdoff(), 5);
    EXPECT_TRUE(client().set_retries(0));
    EXPECT_EQ(client().retries(), 0);
}

TEST_F(TftpClient, LocalFileFailuresNameTheFile)
{
    try {
        client().put(loopback(), local("missing"), "m01");
        FAIL();
    } catch (const qm::wapi::exception_t& e) {
        EXPECT_EQ(std::string(e.what()).rfind("error opening file: ", 0), 0u) << e.what();
    }
    try {
        client().get(loopback(), "m01", (dir.path / "no" / "such" / "folder").string());
        FAIL();
    } catch (const qm::wapi::exception_t& e) {
        EXPECT_EQ(std::string(e.what()).rfind("error opening file", 0), 0u) << e.what();
    }
}

} // namespace
