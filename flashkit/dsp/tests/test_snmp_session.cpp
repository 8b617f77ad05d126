// The firmware-side SNMP session against a real snmpd in the test's own
// network namespace: its target settings, integer reads, batches of twenty
// bindings a request (counted by the agent's own request counter), get-next,
// and the failures that come back as false with snmp++'s text on stdout.
#include "flashkit/snmp_session.h"

#include "snmpd_fixture.h"

#include <gtest/gtest.h>

#include <qm/exception.h>

#include <map>

namespace {

const std::string D = "1.3.6.1.4.1.2680.1.4";
const std::string batch_base = D + ".9.1";
// The agent's count of get requests it received (snmpInGetRequests).
const char* const get_requests = "1.3.6.1.2.1.11.15.0";
// Requests to the agent wait as long as only a fault makes them: a resend
// would also count twice. The unreachable address waits briefly.
constexpr long patient_ms = 10000;
constexpr long unreachable_ms = 100;

std::vector<vx::test::PassVar> agent_vars()
{
    std::vector<vx::test::PassVar> vars{
        {D + ".1.1.0", "integer", "2"},
        {D + ".1.2.0", "integer", "-7"},
        {D + ".1.3.0", "string", "not a number"},
        {D + ".2.9.9.9.9.9.9.1.0", "integer", "8"},
    };
    for (int k = 1; k <= 45; ++k)
        vars.push_back({batch_base + "." + std::to_string(k), "integer", std::to_string(1000 + k)});
    return vars;
}

class SnmpSessionPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!vx::test::running_as_root() || !vx::test::enter_private_netns(&setup_error))
            return;
        agent = new vx::test::Snmpd;
        const std::string script = agent->write_pass_persist("dsp", agent_vars());
        agent->start({"127.0.0.2"},
                     "rocommunity tagrok 127.0.0.0/8 -V dev\n"
                     "view dev included .1.3.6.1.2.1.11\n"
                     "view dev included .1.3.6.1.4.1.2680\n"
                     "pass_persist .1.3.6.1.4.1.2680 " +
                         script + "\n",
                     &setup_error);
    }
    static void TearDownTestSuite()
    {
        delete agent;
        agent = nullptr;
    }
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for a private network namespace";
        ASSERT_TRUE(setup_error.empty()) << setup_error;
    }

    // Get requests the agent has seen so far (this read not counted).
    static unsigned long requests_seen()
    {
        int status = 0;
        Snmp snmp(status);
        CTarget target(GenAddress("127.0.0.2"), "tagrok", "tagrok");
        target.set_timeout(patient_ms / 10); // hundredths of a second
        Pdu pdu;
        pdu += Vb(Oid(get_requests));
        EXPECT_EQ(snmp.get(pdu, target), SNMP_CLASS_SUCCESS);
        Vb vb;
        pdu.get_vb(vb, 0);
        unsigned long count = 0;
        vb.get_value(count);
        return count;
    }

    static vx::test::Snmpd* agent;
    static std::string setup_error;
};

vx::test::Snmpd* SnmpSessionPeer::agent = nullptr;
std::string SnmpSessionPeer::setup_error;

TEST_F(SnmpSessionPeer, VersionOneTargetReadsIntegersAndNextNames)
{
    snmp_session_t session("127.0.0.2", patient_ms, 3);
    EXPECT_EQ(session.get_timeout(), 1000u); // hundredths of a second
    EXPECT_EQ(session.get_retry(), 3);
    EXPECT_EQ(session.get_version(), version1);
    EXPECT_STREQ(session.readcommunity().get_printable(), "tagrok");
    EXPECT_STREQ(session.writecommunity().get_printable(), "quenmil");
    for (const char* bad : {"300.1.2.3", "device.local", ""}) {
        try {
            snmp_session_t refused(bad, 1000, 3);
            ADD_FAILURE() << bad;
        } catch (const qm::exception_t& e) {
            EXPECT_STREQ(e.what(), "Invalid IP address") << bad;
        }
    }

    int value = 0;
    EXPECT_TRUE(session.get_int(D + ".1.2.0", value));
    EXPECT_EQ(value, -7);
    EXPECT_FALSE(session.get_int(D + ".1.3.0", value)); // a string
    // An unknown variable is an agent error: false with the library's text.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(session.get_int(D + ".7.0", value));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(Snmp::error_msg(SNMP_ERROR_NO_SUCH_NAME)) + "\n");

    std::string next;
    ASSERT_TRUE(session.get_next(D + ".2", value, next));
    EXPECT_EQ(next, D + ".2.9.9.9.9.9.9.1.0");
    EXPECT_EQ(value, 8);
    // The next variable is a string: its name comes back, the read fails.
    EXPECT_FALSE(session.get_next(D + ".1.2.0", value, next));
    EXPECT_EQ(next, D + ".1.3.0");
}

TEST_F(SnmpSessionPeer, BatchesTwentyBindingsARequestInKeyOrder)
{
    snmp_session_t session("127.0.0.2", patient_ms, 1);
    struct row {
        int keys;
        unsigned long requests;
    };
    for (const row& r : {row{0, 0}, row{1, 1}, row{20, 1}, row{21, 2}, row{25, 2}, row{40, 2}, row{41, 3}}) {
        std::map<std::string, int> values;
        for (int k = 1; k <= r.keys; ++k)
            values[batch_base + "." + std::to_string(k)] = -1;
        const unsigned long before = requests_seen();
        ASSERT_TRUE(session.get_ints(values)) << r.keys;
        EXPECT_EQ(requests_seen() - before - 1, r.requests) << r.keys;
        for (int k = 1; k <= r.keys; ++k)
            EXPECT_EQ(values[batch_base + "." + std::to_string(k)], 1000 + k);
    }
    // One unknown key among 25 fails the batch that holds it.
    std::map<std::string, int> values;
    for (int k = 1; k <= 24; ++k)
        values[batch_base + "." + std::to_string(k)] = 0;
    values[batch_base + ".99"] = 0;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(session.get_ints(values));
    EXPECT_FALSE(testing::internal::GetCapturedStdout().empty());
}

TEST_F(SnmpSessionPeer, UnreachableDeviceFailsAfterRetriesWithTheTimeoutText)
{
    snmp_session_t session("127.0.0.3", unreachable_ms, 1);
    int value = 0;
    std::string next;
    std::map<std::string, int> values{{D + ".1.1.0", 0}};
    for (int call = 0; call < 3; ++call) {
        testing::internal::CaptureStdout();
        bool ok = call == 0 ? session.get_int(D + ".1.1.0", value)
            : call == 1     ? session.get_next(D + ".2", value, next)
                            : session.get_ints(values);
        EXPECT_FALSE(ok);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(Snmp::error_msg(SNMP_CLASS_TIMEOUT)) + "\n");
    }
}

} // namespace
