// The session against net-snmp's snmpd in the test's own network namespace:
// result codes for real agent answers.
#include "SnmpSession.h"

#include <gtest/gtest.h>
#include <snmp_pp/snmp_pp.h>

#include "device_agent.h"

using tdtest::DeviceProfile;
using tdtest::E;
using tdtest::Instance;

namespace {

const char kSilent[] = "127.0.0.60"; // no agent there

// A device with a read-only and a value-refusing variable.
class Peer : public tdtest::AgentSuite<Peer> {
public:
    static std::vector<DeviceProfile> Profiles()
    {
        return {{"127.0.0.10",
                 1,
                 1,
                 {{E + ".20.1.0", "integer", "1", "read-only"}, {E + ".20.2.0", "integer", "1", "wrong-value"}},
                 {}}};
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
    EXPECT_EQ(s.SetOneValue(bundle.c_str(), KIND_TEXT, text, sizeof text), SNMPS_FAILED); // wrong type
    EXPECT_EQ(s.GetLastStatus(), SNMP_ERROR_BAD_VALUE);
    EXPECT_EQ(s.SetOneInteger((E + ".1.9.0").c_str(), KIND_INTEGER, 2), SNMPS_NOT_AVAILABLE); // not writable

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

} // namespace
