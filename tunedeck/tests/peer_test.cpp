// The session against net-snmp's snmpd in the test's own network namespace:
// result codes for real agent answers, and reads and writes of every kind.
#include "SnmpSession.h"

#include <gtest/gtest.h>
#include <snmp_pp/snmp_pp.h>

#include <cstring>

#include "device_agent.h"

using tdtest::DeviceProfile;
using tdtest::E;
using tdtest::Instance;

namespace {

const char kSilent[] = "127.0.0.60";  // no agent there

DeviceProfile Codes()
{
    DeviceProfile p{"127.0.0.10", 1, 1, {}, {}};
    p.changes = {
        {E + ".20.1.0", "integer", "1", "read-only"},
        {E + ".20.2.0", "integer", "1", "wrong-value"},
    };
    return p;
}

class Peer : public tdtest::AgentSuite<Peer> {
public:
    static std::vector<DeviceProfile> Profiles()
    {
        return {Codes()};
    }
};

TEST_F(Peer, SessionCodesForRealAnswers)
{
    CSnmpSession s;
    s.SetTimeout(50);
    s.SetRetries(0);
    ASSERT_EQ(s.SetAddress("127.0.0.10"), 0);
    int32_t v = 0;
    const std::string bundle = Instance(E + ".7.1.1.2", 1);

    EXPECT_EQ(s.GetOne((E + ".99.0").c_str(), KIND_INTEGER, &v, 4), SNMPS_NOT_AVAILABLE);
    EXPECT_EQ(s.GetLastStatus(), SNMP_ERROR_NO_SUCH_NAME);
    EXPECT_EQ(s.SetOneInteger((E + ".20.1.0").c_str(), KIND_INTEGER, 2), SNMPS_FAILED);
    EXPECT_EQ(s.GetLastStatus(), SNMP_ERROR_READ_ONLY);
    EXPECT_EQ(s.SetOneInteger((E + ".20.2.0").c_str(), KIND_INTEGER, 2), SNMPS_FAILED);
    EXPECT_EQ(s.GetLastStatus(), SNMP_ERROR_BAD_VALUE);
    char text[8] = "seven";
    EXPECT_EQ(s.SetOneValue(bundle.c_str(), KIND_TEXT, text, sizeof text), SNMPS_FAILED);  // wrong type
    EXPECT_EQ(s.GetLastStatus(), SNMP_ERROR_BAD_VALUE);
    EXPECT_EQ(s.SetOneInteger((E + ".1.9.0").c_str(), KIND_INTEGER, 2), SNMPS_NOT_AVAILABLE);  // not writable

    // In a batch one unknown variable fails the whole request.
    int32_t a = 0, b = 0;
    ASSERT_EQ(s.BeginBatch(bundle.c_str(), KIND_INTEGER, &a, 4), 0);
    ASSERT_EQ(s.AddToBatch((E + ".99.0").c_str(), KIND_INTEGER, &b, 4), 0);
    EXPECT_EQ(s.ExecuteGet(), SNMPS_NOT_AVAILABLE);
    EXPECT_EQ(a, 0);

    ASSERT_EQ(s.SetWriteCommunity("nobody"), 0);
    EXPECT_EQ(s.SetOneInteger(bundle.c_str(), KIND_INTEGER, 7), SNMPS_FAILED);
    EXPECT_EQ(s.GetLastStatus(), SNMP_CLASS_TIMEOUT);
    ASSERT_EQ(s.SetAddress(kSilent), 0);
    EXPECT_EQ(s.GetOne(bundle.c_str(), KIND_INTEGER, &v, 4), SNMPS_FAILED);
    EXPECT_EQ(s.GetLastStatus(), SNMP_CLASS_TIMEOUT);
}

TEST_F(Peer, SessionReadsAndWritesEveryKind)
{
    CSnmpSession s;
    ASSERT_EQ(s.SetAddress("127.0.0.10"), 0);
    const std::string bundle = Instance(E + ".7.1.1.2", 1);
    EXPECT_EQ(s.SetOneInteger(bundle.c_str(), KIND_INTEGER, 4242), 0);
    int32_t v = 0;
    EXPECT_EQ(s.GetOne(bundle.c_str(), KIND_INTEGER, &v, 4), 0);
    EXPECT_EQ(v, 4242);

    char name[61] = "renamed device";
    EXPECT_EQ(s.SetOneValue("1.3.6.1.2.1.1.5.0", KIND_TEXT, name, sizeof name), 0);
    char back[61] = {};
    EXPECT_EQ(s.GetOne("1.3.6.1.2.1.1.5.0", KIND_TEXT, back, sizeof back, 60), 0);
    EXPECT_STREQ(back, "renamed device");

    unsigned char mac[8] = {6, 0, 0x02, 0x60, 0x2b, 0xfd, 0xaa, 0x55};
    EXPECT_EQ(s.SetOneValue((E + ".10.1.4.0").c_str(), KIND_OCTETS, mac, sizeof mac), 0);
    unsigned char got[8] = {};
    EXPECT_EQ(s.GetOne((E + ".10.1.4.0").c_str(), KIND_OCTETS, got, sizeof got, 6), 0);
    EXPECT_EQ(0, std::memcmp(got, mac, sizeof mac));

    char ticks[33] = {};
    EXPECT_EQ(s.GetOne("1.3.6.1.2.1.1.3.0", KIND_TIMETICKS, ticks, sizeof ticks, 32), 0);
    EXPECT_STREQ(ticks, "0:20:34.56");
    char mask[16] = {};
    EXPECT_EQ(s.GetOne("1.3.6.1.2.1.4.20.1.3.0", KIND_IPADDRESS, mask, sizeof mask), 0);
    EXPECT_STREQ(mask, "255.255.255.0");
}

} // namespace
