// Value classes, addresses, bindings, Pdus and status texts (no network).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "snmp_pp/snmp_pp.h"

TEST(SnmpValues, IntegersPrintAsDecimalWithTheirSyntax)
{
    EXPECT_STREQ(SnmpInt32(-5).get_printable(), "-5");
    EXPECT_STREQ(SnmpInt32(2147483647L).get_printable(), "2147483647");
    EXPECT_STREQ(SnmpInt32(-2147483647L - 1).get_printable(), "-2147483648");
    EXPECT_STREQ(SnmpInt32(4294967295L).get_printable(), "-1"); // kept to 32 bits
    EXPECT_STREQ(SnmpUInt32(4294967295UL).get_printable(), "4294967295");
    EXPECT_STREQ(Counter32(7).get_printable(), "7");
    EXPECT_STREQ(Gauge32(4294967296UL + 3).get_printable(), "3");
    EXPECT_EQ(SnmpInt32().get_syntax(), 2);
    EXPECT_EQ(SnmpUInt32().get_syntax(), 66);
    EXPECT_EQ(Counter32().get_syntax(), 65);
    EXPECT_EQ(Gauge32().get_syntax(), 66);
    EXPECT_EQ(TimeTicks().get_syntax(), 67);
    EXPECT_EQ(Counter64().get_syntax(), 70);
    EXPECT_EQ(OctetStr().get_syntax(), 4);
    EXPECT_EQ(OpaqueStr().get_syntax(), 68);
    EXPECT_EQ(Oid().get_syntax(), 6);
    EXPECT_EQ(IpAddress("1.2.3.4").get_syntax(), 64);
}

TEST(SnmpValues, TimeTicksPrintAsDaysHoursMinutesSecondsHundredths)
{
    EXPECT_STREQ(TimeTicks(0).get_printable(), "0:00:00.00");
    EXPECT_STREQ(TimeTicks(100).get_printable(), "0:00:01.00");
    EXPECT_STREQ(TimeTicks(123456).get_printable(), "0:20:34.56");
    EXPECT_STREQ(TimeTicks(8639999).get_printable(), "23:59:59.99");
    EXPECT_STREQ(TimeTicks(8640000).get_printable(), "1 day 0:00:00.00");
    EXPECT_STREQ(TimeTicks(2 * 8640000UL + 360000 + 6000 + 100 + 1).get_printable(), "2 days, 1:01:01.01");
    EXPECT_STREQ(TimeTicks(4294967295UL).get_printable(), "497 days, 2:27:52.95");
}

TEST(SnmpValues, Counter64PrintsInDecimalFromItsHalves)
{
    EXPECT_STREQ(Counter64(0, 0).get_printable(), "0");
    EXPECT_STREQ(Counter64(0, 4294967295UL).get_printable(), "4294967295");
    EXPECT_STREQ(Counter64(1, 1).get_printable(), "4294967297");
    EXPECT_STREQ(Counter64(4294967295UL, 4294967295UL).get_printable(), "18446744073709551615");
    Counter64 c(0x123456789ABCDEF0ULL);
    EXPECT_EQ(c.high(), 0x12345678UL);
    EXPECT_EQ(c.low(), 0x9ABCDEF0UL);
    c.set_high(1);
    c.set_low(2);
    EXPECT_EQ(static_cast<unsigned long long>(c), 0x100000002ULL);
}

TEST(SnmpValues, OctetStringsPrintAsTextOrAsAHexDump)
{
    EXPECT_STREQ(OctetStr("sim-device").get_printable(), "sim-device");
    EXPECT_STREQ(OctetStr("two\r\nlines").get_printable(), "two\r\nlines");
    EXPECT_STREQ(OctetStr("").get_printable(), "");
    EXPECT_STREQ(OctetStr(nullptr).get_printable(), "");

    const unsigned char mac[] = {0x00, 0x60, 0x2B, 0xFD, 0x00, 0x01};
    // 10 missing octets of the line are padded with 3 blanks each.
    const std::string pad10(30, ' ');
    EXPECT_EQ(std::string(OctetStr(mac, 6).get_printable()), "  00 60 2B FD 00 01 " + pad10 + "   .`+...\n");
    const unsigned char tab[] = {'a', '\t', 'b'};
    EXPECT_EQ(std::string(OctetStr(tab, 3).get_printable()), "  61 09 62 " + std::string(39, ' ') + "   a.b\n");

    unsigned char seventeen[17];
    for (int i = 0; i < 17; ++i)
        seventeen[i] = static_cast<unsigned char>(0x41 + i);
    seventeen[16] = 0xFF;
    EXPECT_EQ(std::string(OctetStr(seventeen, 17).get_printable()),
              "  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50    ABCDEFGHIJKLMNOP\n"
              "  FF " +
                  std::string(45, ' ') + "   .\n");
    // The hex form on request, even for text.
    EXPECT_EQ(std::string(OctetStr("A").get_printable_hex()), "  41 " + std::string(45, ' ') + "   A\n");
    OctetStr o(mac, 6);
    EXPECT_EQ(o.len(), 6u);
    EXPECT_EQ(o[2], 0x2B);
    EXPECT_TRUE(o.valid());
}

TEST(SnmpValues, OidsParseDottedNumbersOnly)
{
    EXPECT_STREQ(Oid("1.3.6.1.2.1.1.5.0").get_printable(), "1.3.6.1.2.1.1.5.0");
    EXPECT_STREQ(Oid(".1.3.6.1").get_printable(), "1.3.6.1");
    EXPECT_EQ(Oid("1.3.6.1").len(), 4u);
    EXPECT_EQ(Oid("1.3.6.4294967295")[3], 4294967295UL);
    EXPECT_TRUE(Oid("0").valid());
    for (const char* bad :
         {"", ".", "1.3.a.1", "1..3", "1.3.", "..1.3", "1.3.4294967296", " 1.3", "1.3 ", "sysName.0", "-1.3"})
        EXPECT_FALSE(Oid(bad).valid()) << bad;
    EXPECT_FALSE(Oid(static_cast<const char*>(nullptr)).valid());

    std::string long_oid = "1";
    for (int i = 1; i < 128; ++i)
        long_oid += ".1";
    EXPECT_TRUE(Oid(long_oid.c_str()).valid());
    long_oid += ".1";
    EXPECT_FALSE(Oid(long_oid.c_str()).valid());

    const unsigned long raw[] = {1, 3, 6, 1, 4, 1, 2680};
    Oid o(raw, 7);
    EXPECT_STREQ(o.get_printable(), "1.3.6.1.4.1.2680");
    o += 1;
    EXPECT_STREQ(o.get_printable(), "1.3.6.1.4.1.2680.1");
    EXPECT_TRUE(Oid("1.3.6") < Oid("1.3.6.1"));
}

TEST(SnmpValues, AddressesAreStrictDottedIpv4)
{
    EXPECT_TRUE(GenAddress("127.0.0.2").valid());
    EXPECT_STREQ(GenAddress("127.0.0.2").get_printable(), "127.0.0.2");
    EXPECT_TRUE(GenAddress("10.0.0.1/1161").valid());
    EXPECT_EQ(GenAddress("10.0.0.1/1161").port(), 1161);
    EXPECT_STREQ(GenAddress("10.0.0.1:1161").get_printable(), "10.0.0.1/1161");
    for (const char* bad : {"0.0.0.0.", "256.1.1.1", "1.2.3", "1.2.3.4.5", " 1.2.3.4", "1.2.3.4 ", "", "localhost",
                            "1.2.3.4/", "1.2.3.4/65536", "1.2.3.0004", "1.2.3.-4", "::1"})
        EXPECT_FALSE(GenAddress(bad).valid()) << bad;
    EXPECT_FALSE(GenAddress(static_cast<const char*>(nullptr)).valid());
    EXPECT_FALSE(IpAddress("1.2.3.4/161").valid());
    EXPECT_STREQ(IpAddress("192.168.001.010").get_printable(), "192.168.1.10");
    const unsigned char raw[] = {10, 1, 2, 3};
    EXPECT_STREQ(IpAddress(raw).get_printable(), "10.1.2.3");
    EXPECT_STREQ(IpAddress("garbage").get_printable(), "");

    UdpAddress udp("127.0.0.5");
    EXPECT_TRUE(udp.valid());
    EXPECT_EQ(udp.get_port(), 0);
    udp.set_port(161);
    EXPECT_STREQ(udp.get_printable(), "127.0.0.5/161");
    EXPECT_FALSE(UdpAddress("0.0.0.0.").valid());
}

TEST(SnmpValues, VbGetValueMatchesOnlyItsKind)
{
    Vb vb(Oid("1.3.6.1.2.1.1.3.0"));
    EXPECT_EQ(vb.get_syntax(), sNMP_SYNTAX_NULL);
    EXPECT_STREQ(vb.get_printable_value(), "");
    EXPECT_STREQ(vb.get_printable_oid(), "1.3.6.1.2.1.1.3.0");

    vb.set_value(SnmpInt32(-42));
    int i = 0;
    long l = 0;
    unsigned long ul = 0;
    EXPECT_EQ(vb.get_value(i), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(i, -42);
    EXPECT_EQ(vb.get_value(l), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(l, -42);
    EXPECT_EQ(vb.get_value(ul), SNMP_CLASS_INVALID);

    vb.set_value(TimeTicks(123456));
    EXPECT_EQ(vb.get_syntax(), 67);
    EXPECT_STREQ(vb.get_printable_value(), "0:20:34.56");
    EXPECT_EQ(vb.get_value(i), SNMP_CLASS_INVALID);
    EXPECT_EQ(vb.get_value(ul), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(ul, 123456UL);
    TimeTicks tt;
    EXPECT_EQ(vb.get_value(tt), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(static_cast<unsigned long>(tt), 123456UL);
    OctetStr os;
    EXPECT_EQ(vb.get_value(os), SNMP_CLASS_INVALID);

    vb.set_value("hello world");
    EXPECT_EQ(vb.get_syntax(), 4);
    unsigned char buf[8];
    unsigned long len = 0;
    EXPECT_EQ(vb.get_value(buf, len, 5), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(len, 5UL);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "hello");
    EXPECT_EQ(vb.get_value(buf, len, 5, true), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(len, 4UL);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "hell");
    EXPECT_EQ(vb.get_value(os), SNMP_CLASS_SUCCESS);
    EXPECT_STREQ(os.get_printable(), "hello world");

    vb.set_exception_status(sNMP_SYNTAX_ENDOFMIBVIEW);
    EXPECT_EQ(vb.get_syntax(), 130);
    EXPECT_EQ(vb.get_value(i), SNMP_CLASS_INVALID);
    vb.set_null();
    EXPECT_EQ(vb.get_syntax(), sNMP_SYNTAX_NULL);

    Vb copy(vb);
    copy.set_value(Counter64(1, 1));
    EXPECT_EQ(vb.get_syntax(), sNMP_SYNTAX_NULL); // copies are independent
    EXPECT_STREQ(copy.get_printable_value(), "4294967297");
}

TEST(SnmpValues, PduKeepsAtMostFiftyBindings)
{
    Pdu pdu;
    Vb vb(Oid("1.3.6.1"));
    for (int i = 0; i < 60; ++i)
        pdu += vb;
    EXPECT_EQ(pdu.get_vb_count(), PDU_MAX_VBS);
    Vb out;
    EXPECT_TRUE(pdu.get_vb(out, 49));
    EXPECT_FALSE(pdu.get_vb(out, 50));
    EXPECT_FALSE(pdu.get_vb(out, -1));
    EXPECT_FALSE(pdu.set_vb(vb, 50));
    vb.set_value(SnmpInt32(3));
    EXPECT_TRUE(pdu.set_vb(vb, 0));
    EXPECT_TRUE(pdu.get_vb(out, 0));
    EXPECT_STREQ(out.get_printable_value(), "3");
    EXPECT_TRUE(pdu.trim(49));
    EXPECT_EQ(pdu.get_vb_count(), 1);
    EXPECT_FALSE(Pdu(&vb, 1).get_vb_count() != 1);
    Vb bad(Oid("x"));
    pdu += bad;
    EXPECT_FALSE(pdu.valid());
}

TEST(SnmpValues, TargetKeepsItsSettings)
{
    CTarget t(GenAddress("127.0.0.2"));
    EXPECT_TRUE(t.valid());
    EXPECT_EQ(t.get_timeout(), 100UL);
    EXPECT_EQ(t.get_retry(), 1);
    EXPECT_EQ(t.get_version(), version1);
    EXPECT_STREQ(t.readcommunity().get_printable(), "public");
    t.set_timeout(20);
    t.set_retry(3);
    t.set_readcommunity("tagrok");
    t.set_writecommunity("quenmil");
    EXPECT_EQ(t.get_timeout(), 20UL);
    EXPECT_EQ(t.get_retry(), 3);
    EXPECT_STREQ(t.writecommunity().get_printable(), "quenmil");
    EXPECT_FALSE(t.set_address(GenAddress("0.0.0.0.")));
    EXPECT_FALSE(t.valid());
}

TEST(SnmpValues, ErrorTexts)
{
    EXPECT_STREQ(Snmp::error_msg(0), "SNMP++: Success");
    EXPECT_STREQ(Snmp::error_msg(-1), "SNMP++: Operation failed");
    EXPECT_STREQ(Snmp::error_msg(-5), "SNMP++: SNMP request timed out");
    EXPECT_STREQ(Snmp::error_msg(-11), "SNMP++: Invalid Pdu");
    EXPECT_STREQ(Snmp::error_msg(-17), "SNMP++: Invalid Object Identifier");
    EXPECT_STREQ(Snmp::error_msg(-18), "SNMP++: Invalid Address");
    EXPECT_STREQ(Snmp::error_msg(-19), "SNMP++: Agent indicates error in SNMP request");
    EXPECT_STREQ(Snmp::error_msg(-22), "SNMP++: Transport operation failed");
    EXPECT_STREQ(Snmp::error_msg(1), "SNMP: Response PDU Too Big");
    EXPECT_STREQ(Snmp::error_msg(2), "SNMP: Variable does not exist");
    EXPECT_STREQ(Snmp::error_msg(3), "SNMP: Cannot modify variable: Bad Value");
    EXPECT_STREQ(Snmp::error_msg(4), "SNMP: Cannot modify object, Read Only");
    EXPECT_STREQ(Snmp::error_msg(5), "SNMP: Cannot perform operation, General Error");
    EXPECT_STREQ(Snmp::error_msg(19), "Unknown error code");
    EXPECT_STREQ(Snmp::error_msg(-9999), "Unknown error code");
}

TEST(SnmpValues, RequestsAreCheckedBeforeAnythingIsSent)
{
    int status = -99;
    Snmp snmp(status);
    ASSERT_EQ(status, SNMP_CLASS_SUCCESS);
    Pdu pdu;
    CTarget bad(GenAddress("0.0.0.0."));
    pdu += Vb(Oid("1.3.6.1.2.1.1.1.0"));
    EXPECT_EQ(snmp.get(pdu, bad), SNMP_CLASS_INVALID_ADDRESS);
    CTarget target(GenAddress("127.0.0.1/9"));
    Pdu empty;
    EXPECT_EQ(snmp.get(empty, target), SNMP_CLASS_INVALID_PDU);
    Pdu bad_oid;
    bad_oid += Vb(Oid("1.x"));
    EXPECT_EQ(snmp.get(bad_oid, target), SNMP_CLASS_INVALID_OID);
}

TEST(SnmpValues, ExchangeHookStandsInForTheNetwork)
{
    int seen_type = 0;
    std::string seen_community;
    vx_snmp_test::set_exchange_hook([&](int type, Pdu& pdu, const CTarget& t) {
        seen_type = type;
        seen_community = t.writecommunity().get_printable();
        Vb vb;
        pdu.get_vb(vb, 0);
        vb.set_exception_status(sNMP_SYNTAX_NOSUCHINSTANCE);
        pdu.set_vb(vb, 0);
        return SNMP_CLASS_SUCCESS;
    });
    int status = 0;
    Snmp snmp(status);
    CTarget target(GenAddress("127.0.0.2"), "r", "w");
    Pdu pdu;
    pdu += Vb(Oid("1.3.6.1.2.1.1.1.0"));
    EXPECT_EQ(snmp.set(pdu, target), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(seen_type, VX_SNMP_SET);
    EXPECT_EQ(seen_community, "w");
    Vb vb;
    ASSERT_TRUE(pdu.get_vb(vb, 0));
    EXPECT_EQ(vb.get_syntax(), 129);
    vx_snmp_test::set_exchange_hook(nullptr);
}

TEST(SnmpValues, ConstructorReportsATakenLocalPort)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    socklen_t len = sizeof sa;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len), 0);
    int status = 0;
    Snmp taken(status, ntohs(sa.sin_port));
    EXPECT_EQ(status, SNMP_CLASS_TL_IN_USE);
    close(fd);
    Snmp any(status, 0);
    EXPECT_EQ(status, SNMP_CLASS_SUCCESS);
}

TEST(SnmpValues, UnsignedUnderTheWindowsTagPrintsAsUnsigned)
{
    vx_snmp_detail::TaggedUInt32 u(0x47, 4294967295UL);
    EXPECT_EQ(u.get_syntax(), 71);
    EXPECT_STREQ(u.get_printable(), "4294967295");
    const unsigned char bits[] = {0x80, 0x01};
    vx_snmp_detail::TaggedOctets b(3, bits, 2);
    EXPECT_EQ(b.get_syntax(), 3);
    EXPECT_EQ(std::string(b.get_printable()), "  80 01 " + std::string(42, ' ') + "   ..\n");
}
