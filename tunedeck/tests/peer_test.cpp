// The session and the model against net-snmp's snmpd in the test's own
// network namespace: result codes for real agent answers, and the spacing of
// the requests as the agent sees them.
#include "DeviceMib.h"
#include "SnmpSession.h"

#include <gtest/gtest.h>
#include <snmp_pp/snmp_pp.h>

#include "device_agent.h"

using tdtest::DeviceProfile;
using tdtest::E;
using tdtest::Instance;

namespace {

const char kSilent[] = "127.0.0.60"; // no agent there
const char kPaced[] = "127.0.0.11";  // only the pacing test's requests

// A device with a read-only and a value-refusing variable.
class Peer : public tdtest::AgentSuite<Peer> {
public:
    static std::vector<DeviceProfile> Profiles()
    {
        return {{"127.0.0.10",
                 1,
                 1,
                 {{E + ".20.1.0", "integer", "1", "read-only"}, {E + ".20.2.0", "integer", "1", "wrong-value"}},
                 {}},
                {kPaced, 1, 1, {}, {}}};
    }
};

TEST_F(Peer, SessionCodesForRealAnswers)
{
    // Answers wait as long as only a fault makes them; the two time-outs at
    // the end meet an agent that stays silent, and wait briefly.
    constexpr int kPatient = 1000, kBrief = 50; // hundredths of a second
    CSnmpSession s;
    s.SetTimeout(kPatient);
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

    s.SetTimeout(kBrief);
    ASSERT_EQ(s.SetWriteCommunity("nobody"), 0);
    EXPECT_EQ(s.SetOneInteger(bundle.c_str(), KIND_INTEGER, 7), SNMPS_FAILED);
    EXPECT_EQ(s.GetLastStatus(), SNMP_CLASS_TIMEOUT);
    ASSERT_EQ(s.SetAddress(kSilent), 0);
    EXPECT_EQ(s.GetOne(bundle.c_str(), KIND_INTEGER, &v, 4), SNMPS_FAILED);
    EXPECT_EQ(s.GetLastStatus(), SNMP_CLASS_TIMEOUT);
}

// Each request of the model reaches the device at least the delay after the
// one before, by the agent's clock as it reads each request. The model starts
// its wait when the answer has come, which the agent sends after reading the
// request: a lower bound that holds however loaded the machine is.
TEST_F(Peer, RequestsReachTheDeviceAtLeastTheDelayApart)
{
    constexpr uint32_t kDelay = 80;
    CDeviceMib model;
    model.SetDelay(kDelay);
    model.SetTimeout(1000); // no resend, so one arrival per request
    model.SetRetries(0);
    ASSERT_EQ(model.Open(kPaced), 0); // four probes: a bundle of each kind and the end of each table
    ASSERT_EQ(model.Read(mib::condStatus, true), 0);
    ASSERT_EQ(model.Set(mib::condPriority, 7), 0);
    ASSERT_EQ(model.Write(mib::condPriority, false), 0);
    model.ClearBatch();
    ASSERT_EQ(model.Queue(mib::errorCount, true), 0);
    ASSERT_EQ(model.RunBatch(), 0);
    char name[64] = {};
    ASSERT_EQ(model.SnmpGet("1.3.6.1.2.1.1.5.0", KIND_TEXT, name, sizeof name), 0);

    // The agent reads a SET as a get of its variable, then the set itself.
    std::vector<tdtest::DeviceAgent::Request> arrivals;
    for (const auto& r : Agent(kPaced).Requests())
        if (r.command != "set" || arrivals.empty() || arrivals.back().oid != r.oid)
            arrivals.push_back(r);
    ASSERT_EQ(arrivals.size(), 8u);
    for (size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i].seconds - arrivals[i - 1].seconds, kDelay / 1000.0 - 1e-6)
            << arrivals[i - 1].oid << " -> " << arrivals[i].oid;
}

} // namespace
