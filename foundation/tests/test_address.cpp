// Address values: strict and lenient parsing, printing, order; tick timer;
// socket address records.
#include "qm/address.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

void expect_zero(const qm::ip_address_t& a)
{
    EXPECT_EQ(a.number, 0u);
    EXPECT_EQ(a.bytes[0] | a.bytes[1] | a.bytes[2] | a.bytes[3], 0);
    EXPECT_TRUE(a.is_null());
}

qm::mac_address_t mac(std::initializer_list<uint8_t> bytes)
{
    qm::mac_address_t m;
    int i = 0;
    for (uint8_t b : bytes)
        m.bytes[i++] = b;
    return m;
}

} // namespace

TEST(IpAddress, StrictDecimalParse)
{
    qm::ip_address_t a;
    EXPECT_TRUE(a.parse("192.168.1.1"));
    EXPECT_EQ(a.number, 0xC0A80101u);
    EXPECT_EQ(a.to_string(), "192.168.1.1");

    // Trailing dot: the last part may be empty.
    EXPECT_TRUE(a.parse("1.2.3."));
    EXPECT_EQ(a.to_string(), "1.2.3.0");

    for (const char* bad : {"192.168.1.256", "1..2.3", ".1.2.3", "1.2.3.4.5", "1.2.3", "", "1.2.3.x", "1.2.3.4 ",
                            "255.255.255.2555", "-1.2.3.4"}) {
        a.assign_text("9.9.9.9");
        EXPECT_FALSE(a.parse(bad)) << bad;
        expect_zero(a);
    }
    // 15 characters are the most a decimal text may have.
    EXPECT_TRUE(a.parse("255.255.255.255"));
    EXPECT_EQ(a.number, 0xFFFFFFFFu);
    EXPECT_TRUE(a.parse("010.020.030.040"));
    EXPECT_EQ(a.to_string(), "10.20.30.40");
    // A 16-character text fails whatever it holds.
    EXPECT_FALSE(a.parse("1.2.3.4567890123"));
    EXPECT_FALSE(a.parse("010.020.030.0040")); // 16 characters, parts all valid
    // A NUL ends the scan; the length limit still counts the whole text.
    EXPECT_TRUE(a.parse(std::string("1.2.3.4\0junk", 12)));
    EXPECT_EQ(a.to_string(), "1.2.3.4");
    EXPECT_FALSE(a.parse(std::string("1.2.3.4\0junkjunkj", 17)));
}

TEST(IpAddress, StrictParseNeverWraps)
{
    // With a wrapping 32-bit part these would come out as small numbers.
    qm::ip_address_t a;
    for (const char* bad : {"4294967297.1.1.", "4294967296.1.1", "1.4294967552.1.", "256.0.0.0", "0.0.0.00256"}) {
        EXPECT_FALSE(a.parse(bad)) << bad;
        expect_zero(a);
    }
    EXPECT_TRUE(a.parse("000000255.0.0.")); // leading zeros are fine
    EXPECT_EQ(a.to_string(), "255.0.0.0");
    EXPECT_FALSE(a.parse("FFFFFFFFF.1.1", 1));
}

TEST(IpAddress, StrictHexParse)
{
    qm::ip_address_t a;
    EXPECT_TRUE(a.parse("C0.A8.1.1", 1));
    EXPECT_EQ(a.to_string(), "192.168.1.1");
    EXPECT_TRUE(a.parse("ff.ff.ff.ff", 1));
    EXPECT_EQ(a.number, 0xFFFFFFFFu);
    EXPECT_FALSE(a.parse("C0.A8.1.1", 0));
    EXPECT_FALSE(a.parse("C0.A8.01.001", 1)); // 12 characters
    EXPECT_FALSE(a.parse("100.1.1.1", 1));
}

TEST(IpAddress, LenientTextBytesNumbersAndOrder)
{
    qm::ip_address_t a;
    a.assign_text("10.0.0.5");
    EXPECT_EQ(a.number, 0x0A000005u);
    a.assign_text("300.1.2.3"); // low 8 bits
    EXPECT_EQ(a.to_string(), "44.1.2.3");
    a.assign_text(static_cast<const char*>(nullptr));
    EXPECT_TRUE(a.is_null());

    EXPECT_EQ(qm::ip_address_t().to_string(), "0.0.0.0");
    a.assign_number(0xFFFFFFFFu);
    EXPECT_EQ(a.to_string(), "255.255.255.255");

    const uint8_t frame[4] = {192, 168, 1, 100};
    a.assign_network_bytes(frame);
    EXPECT_EQ(a.number, 0xC0A80164u);
    EXPECT_EQ(a.to_string(), "192.168.1.100");
    a.clear();
    expect_zero(a);

    qm::ip_address_t low, mid, high;
    low.assign_text("10.0.0.1");
    mid.assign_text("192.168.0.1");
    high.assign_text("255.255.255.255");
    EXPECT_TRUE(low < mid);
    EXPECT_TRUE(mid < high); // unsigned, not signed
    EXPECT_FALSE(high < low);
    EXPECT_FALSE(mid < mid);
    EXPECT_TRUE(low != mid);
    qm::ip_address_t same;
    same.assign_number(low.number);
    EXPECT_TRUE(same == low);

    std::map<qm::ip_address_t, int> by_ip{{high, 3}, {low, 1}, {mid, 2}};
    EXPECT_EQ(by_ip.begin()->second, 1);
    EXPECT_EQ(by_ip.rbegin()->second, 3);

    std::ostringstream os;
    os << mid << " " << mac({0x00, 0x60, 0x2B, 0x0A, 0x1B, 0x2C});
    EXPECT_EQ(os.str(), "192.168.0.1 00602b0a1b2c");
}

TEST(MacAddress, TextNullAndOrder)
{
    qm::mac_address_t m = mac({0x00, 0x60, 0x2B, 0x0A, 0x1B, 0x2C});
    EXPECT_EQ(m.to_string(), "00602b0a1b2c");
    qm::mac_address_t parsed;
    parsed.assign_text("00602B0A1B2C");
    EXPECT_TRUE(parsed == m);
    parsed.assign_text("00602b0a1b2d");
    EXPECT_TRUE(parsed != m);

    qm::mac_address_t zero;
    EXPECT_TRUE(zero.is_null());
    EXPECT_FALSE(m.is_null());
    qm::mac_address_t copy;
    copy.assign(m);
    EXPECT_TRUE(copy == m);
    copy.clear();
    EXPECT_TRUE(copy.is_null());

    qm::mac_address_t one = mac({0, 0, 0, 0, 0, 1});
    qm::mac_address_t two_five_six = mac({0, 0, 0, 0, 1, 0});
    qm::mac_address_t top = mac({0xFF, 0, 0, 0, 0, 0});
    EXPECT_TRUE(one < two_five_six);
    EXPECT_FALSE(two_five_six < one);
    EXPECT_FALSE(one < one);
    EXPECT_TRUE(two_five_six < top); // unsigned bytes
}

TEST(TickTimer, ElapsedAcrossTheWrap)
{
    EXPECT_EQ(qm::tick_timer_t::span(0xFFFFFF00u, 0x00000100u), 512.0);

    // Bring the real tick count just below the wrap and let it pass.
    DWORD now = GetTickCount();
    vx_set_tick_offset(static_cast<ULONGLONG>(0xFFFFFFF0u - now));
    qm::tick_timer_t timer;
    EXPECT_GE(timer.start, 0xFFFFFF00u);
    qm::sleep(40);
    double elapsed = timer.elapsed();
    vx_set_tick_offset(0);
    EXPECT_GE(elapsed, 40.0);
    EXPECT_LT(elapsed, 60000.0); // far below a wrap gone wrong, far above a loaded machine's delay

    qm::tick_timer_t restarted;
    uint32_t stamp = restarted.restart();
    EXPECT_EQ(stamp, restarted.start);
    EXPECT_LT(restarted.elapsed(), 60000.0);
}

TEST(NetAddress, RecordsAndResolution)
{
    qm::net::address_t any(0);
    EXPECT_EQ(sizeof any.sa, 16u);
    EXPECT_EQ(any.sa.sin_family, AF_INET);
    EXPECT_EQ(any.sa.sin_addr.s_addr, 0u);
    EXPECT_EQ(any.sa.sin_port, 0);

    qm::net::address_t server(69, "10.1.2.3");
    EXPECT_EQ(ntohs(server.sa.sin_port), 69);
    EXPECT_EQ(ntohl(server.sa.sin_addr.s_addr), 0x0A010203u);
    EXPECT_TRUE(server.host.empty());
    EXPECT_TRUE(server.service.empty());

    EXPECT_EQ(qm::net::resolve_address("10.1.2.3"), inet_addr("10.1.2.3"));
    EXPECT_EQ(ntohl(qm::net::resolve_address("localhost")), 0x7F000001u);
}
