// Snmp against a real snmpd on 127.0.0.2 inside the test's own network
// namespace (root only).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "snmp_pp/snmp_pp.h"
#include "snmpd_fixture.h"

namespace {

const std::string E = "1.3.6.1.4.1.99999";

std::vector<vx::test::PassVar> device_vars()
{
    return {
        {E + ".1.0", "integer", "-17", "rw"},
        {E + ".2.0", "string", "hello device", "rw"},
        {E + ".3.0", "octet", "00 60 2b fd 00 01", "rw"},
        {E + ".4.0", "objectid", ".1.3.6.1.4.1.99999.42", "ro"},
        {E + ".5.0", "ipaddress", "10.1.2.3", "rw"},
        {E + ".6.0", "counter", "4294967295", "ro"},
        {E + ".7.0", "gauge", "17", "rw"},
        {E + ".8.0", "timeticks", "123456", "rw"},
        {E + ".9.0", "opaque", "01 02 03", "ro"},
        {E + ".10.0", "counter64", "4294967297", "ro"},
        {E + ".11.0", "integer", "5", "commit-failed"},
        {E + ".12.0", "integer", "1", "wrong-value"},
    };
}

class SnmpSession : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!vx::test::running_as_root())
            return;
        agent_ = vx::test::start_device_agent(device_vars(),
                                              "rocommunity tagrok 127.0.0.0/8 -V dev\n"
                                              "rwcommunity quenmil 127.0.0.0/8 -V dev\n"
                                              "sysDescr simulated agent\n",
                                              &setup_error_);
    }
    static void TearDownTestSuite()
    {
        delete agent_;
        agent_ = nullptr;
    }
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for a private network namespace";
        ASSERT_TRUE(setup_error_.empty()) << setup_error_;
    }

    // Requests to the agent wait as long as only a fault makes them (10 s,
    // in hundredths); the silent targets below set their own brief waits.
    static constexpr unsigned long patient_cs = 1000;
    static CTarget target(const char* address = "127.0.0.2")
    {
        CTarget t(GenAddress(address), "tagrok", "quenmil");
        t.set_version(version1);
        t.set_timeout(patient_cs);
        t.set_retry(1);
        return t;
    }
    // One get; returns the status and the binding.
    static int get1(Snmp& snmp, const std::string& oid, Vb& out, int (Snmp::*op)(Pdu&, const SnmpTarget&) = &Snmp::get)
    {
        Pdu pdu;
        pdu += Vb(Oid(oid.c_str()));
        const int status = (snmp.*op)(pdu, target());
        pdu.get_vb(out, 0);
        return status;
    }
    static int set1(Snmp& snmp, const std::string& oid, const SnmpSyntax& value, Vb& out)
    {
        Pdu pdu;
        Vb vb(Oid(oid.c_str()));
        vb.set_value(value);
        pdu += vb;
        const int status = snmp.set(pdu, target());
        pdu.get_vb(out, 0);
        return status;
    }

    static vx::test::Snmpd* agent_;
    static std::string setup_error_;
};

vx::test::Snmpd* SnmpSession::agent_ = nullptr;
std::string SnmpSession::setup_error_;

TEST_F(SnmpSession, GetsEveryValueTypeWithItsPrintableForm)
{
    int status = -1;
    Snmp snmp(status);
    ASSERT_EQ(status, SNMP_CLASS_SUCCESS);
    struct Case {
        std::string oid;
        int syntax;
        std::string printable;
    } cases[] = {
        {E + ".1.0", 2, "-17"},
        {E + ".2.0", 4, "hello device"},
        {E + ".3.0", 4, "  00 60 2B FD 00 01 " + std::string(30, ' ') + "   .`+...\n"},
        {E + ".4.0", 6, "1.3.6.1.4.1.99999.42"},
        {E + ".5.0", 64, "10.1.2.3"},
        {E + ".6.0", 65, "4294967295"},
        {E + ".7.0", 66, "17"},
        {E + ".8.0", 67, "0:20:34.56"},
        {E + ".9.0", 68, "  01 02 03 " + std::string(39, ' ') + "   ...\n"},
        {"1.3.6.1.2.1.1.5.0", 4, "sim-device"},
    };
    for (const Case& c : cases) {
        Vb vb;
        ASSERT_EQ(get1(snmp, c.oid, vb), SNMP_CLASS_SUCCESS) << c.oid << ": " << agent_->log();
        EXPECT_EQ(vb.get_syntax(), c.syntax) << c.oid;
        EXPECT_EQ(std::string(vb.get_printable_value()), c.printable) << c.oid;
        EXPECT_EQ(std::string(vb.get_printable_oid()), c.oid);
    }
    Vb vb;
    ASSERT_EQ(get1(snmp, E + ".1.0", vb), SNMP_CLASS_SUCCESS);
    int i = 0;
    EXPECT_EQ(vb.get_value(i), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(i, -17);
    // SNMPv1 cannot carry a Counter64: the agent answers noSuchName.
    EXPECT_EQ(get1(snmp, E + ".10.0", vb), SNMP_ERROR_NO_SUCH_NAME);
}

TEST_F(SnmpSession, GetWithManyBindingsAndUnknownNames)
{
    int status = -1;
    Snmp snmp(status);
    Pdu pdu;
    for (int n : {1, 7, 8})
        pdu += Vb(Oid((E + "." + std::to_string(n) + ".0").c_str()));
    ASSERT_EQ(snmp.get(pdu, target()), SNMP_CLASS_SUCCESS);
    ASSERT_EQ(pdu.get_vb_count(), 3);
    Vb vb;
    pdu.get_vb(vb, 2);
    EXPECT_STREQ(vb.get_printable_oid(), (E + ".8.0").c_str());
    EXPECT_STREQ(vb.get_printable_value(), "0:20:34.56");

    Pdu missing;
    missing += Vb(Oid((E + ".1.0").c_str()));
    missing += Vb(Oid((E + ".99.0").c_str()));
    EXPECT_EQ(snmp.get(missing, target()), SNMP_ERROR_NO_SUCH_NAME);
    EXPECT_EQ(missing.get_error_status(), 2);
    EXPECT_EQ(missing.get_error_index(), 2);
    EXPECT_STREQ(Snmp::error_msg(missing.get_error_status()), "SNMP: Variable does not exist");
}

TEST_F(SnmpSession, GetNextWalksAndEndsWithNoSuchName)
{
    int status = -1;
    Snmp snmp(status);
    Vb vb;
    ASSERT_EQ(get1(snmp, "1.3.6.1.2.1.1", vb, &Snmp::get_next), SNMP_CLASS_SUCCESS);
    EXPECT_STREQ(vb.get_printable_oid(), "1.3.6.1.2.1.1.1.0");
    EXPECT_STREQ(vb.get_printable_value(), "simulated agent");
    ASSERT_EQ(get1(snmp, E + ".1.0", vb, &Snmp::get_next), SNMP_CLASS_SUCCESS);
    EXPECT_STREQ(vb.get_printable_oid(), (E + ".2.0").c_str());
    // Past the last variable of the view (the Counter64 is skipped in v1).
    EXPECT_EQ(get1(snmp, E + ".12.0", vb, &Snmp::get_next), SNMP_ERROR_NO_SUCH_NAME);
}

TEST_F(SnmpSession, SetsValuesOfEachWritableType)
{
    int status = -1;
    Snmp snmp(status);
    Vb vb;
    EXPECT_EQ(set1(snmp, E + ".1.0", SnmpInt32(42), vb), SNMP_CLASS_SUCCESS) << agent_->log();
    EXPECT_STREQ(vb.get_printable_value(), "42");
    EXPECT_EQ(set1(snmp, E + ".2.0", OctetStr("new text"), vb), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(set1(snmp, E + ".5.0", IpAddress("192.0.2.7"), vb), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(set1(snmp, E + ".7.0", Gauge32(4000000000UL), vb), SNMP_CLASS_SUCCESS);
    EXPECT_EQ(set1(snmp, E + ".8.0", TimeTicks(100), vb), SNMP_CLASS_SUCCESS);
    EXPECT_STREQ(vb.get_printable_value(), "0:00:01.00");

    ASSERT_EQ(get1(snmp, E + ".1.0", vb), SNMP_CLASS_SUCCESS);
    EXPECT_STREQ(vb.get_printable_value(), "42");
    ASSERT_EQ(get1(snmp, E + ".2.0", vb), SNMP_CLASS_SUCCESS);
    EXPECT_STREQ(vb.get_printable_value(), "new text");
    ASSERT_EQ(get1(snmp, E + ".5.0", vb), SNMP_CLASS_SUCCESS);
    EXPECT_STREQ(vb.get_printable_value(), "192.0.2.7");
    ASSERT_EQ(get1(snmp, E + ".7.0", vb), SNMP_CLASS_SUCCESS);
    EXPECT_STREQ(vb.get_printable_value(), "4000000000");

    std::ifstream log(agent_->set_log("dev"));
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find(E + ".1.0 integer 42"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(E + ".8.0 timeticks 100"), std::string::npos) << text.str();
}

TEST_F(SnmpSession, SetErrorsComeBackAsAgentStatuses)
{
    int status = -1;
    Snmp snmp(status);
    Vb vb;
    // v1 reports a read-only variable as noSuchName.
    EXPECT_EQ(set1(snmp, E + ".6.0", Counter32(1), vb), SNMP_ERROR_NO_SUCH_NAME);
    EXPECT_EQ(set1(snmp, "1.3.6.1.2.1.1.5.0", OctetStr("x"), vb), SNMP_ERROR_NO_SUCH_NAME);
    EXPECT_EQ(set1(snmp, E + ".1.0", OctetStr("not a number"), vb), SNMP_ERROR_BAD_VALUE);
    EXPECT_EQ(set1(snmp, E + ".12.0", SnmpInt32(2), vb), SNMP_ERROR_BAD_VALUE);
    EXPECT_EQ(set1(snmp, E + ".11.0", SnmpInt32(2), vb), SNMP_ERROR_GENERAL_VB_ERR);
}

TEST_F(SnmpSession, SilentAddressAndWrongCommunityTimeOut)
{
    int status = -1;
    Snmp snmp(status);
    Pdu pdu;
    pdu += Vb(Oid("1.3.6.1.2.1.1.5.0"));
    CTarget silent = target("127.0.0.9");
    silent.set_timeout(20);
    silent.set_retry(2);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(snmp.get(pdu, silent), SNMP_CLASS_TIMEOUT);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 550);   // three attempts of 200 ms
    EXPECT_LT(ms, 20000); // not seconds each: a bound a loaded machine never reaches

    CTarget wrong = target();
    wrong.set_readcommunity("nobody");
    wrong.set_timeout(20);
    wrong.set_retry(0);
    EXPECT_EQ(snmp.get(pdu, wrong), SNMP_CLASS_TIMEOUT);
    // The same object goes on working with the right community.
    EXPECT_EQ(snmp.get(pdu, target()), SNMP_CLASS_SUCCESS);
    // Reads use the read community: the write one alone is not enough.
    CTarget write_only = target();
    write_only.set_readcommunity("nobody");
    write_only.set_timeout(20);
    write_only.set_retry(0);
    EXPECT_EQ(snmp.get(pdu, write_only), SNMP_CLASS_TIMEOUT);
    Vb vb;
    EXPECT_EQ(set1(snmp, E + ".7.0", Gauge32(3), vb), SNMP_CLASS_SUCCESS);
}

TEST_F(SnmpSession, OneObjectAddressesEachRequestToItsOwnTarget)
{
    int status = -1;
    Snmp snmp(status);
    CTarget silent = target("127.0.0.9");
    silent.set_timeout(10);
    silent.set_retry(0);
    // Alternate between a silent address and the agent, starting with either:
    // each request must reach its own target, whatever the one before it was.
    for (int round = 0; round < 3; ++round) {
        Pdu quiet;
        quiet += Vb(Oid("1.3.6.1.2.1.1.5.0"));
        EXPECT_EQ(snmp.get(quiet, silent), SNMP_CLASS_TIMEOUT) << "round " << round;
        Vb vb;
        EXPECT_EQ(get1(snmp, "1.3.6.1.2.1.1.5.0", vb), SNMP_CLASS_SUCCESS) << "round " << round;
        EXPECT_EQ(std::string(vb.get_printable_value()), "sim-device");
    }
    int status2 = -1;
    Snmp first_real(status2);
    Vb vb;
    EXPECT_EQ(get1(first_real, "1.3.6.1.2.1.1.5.0", vb), SNMP_CLASS_SUCCESS);
    Pdu quiet;
    quiet += Vb(Oid("1.3.6.1.2.1.1.5.0"));
    EXPECT_EQ(first_real.get(quiet, silent), SNMP_CLASS_TIMEOUT);
}

TEST_F(SnmpSession, ZeroTimeoutFailsAtOnceInsteadOfWaiting)
{
    int status = -1;
    Snmp snmp(status);
    Pdu pdu;
    pdu += Vb(Oid("1.3.6.1.2.1.1.5.0"));
    // Thirty resends: any wait of its own, even the library's default of a
    // second, would pass a bound that a loaded machine never reaches.
    CTarget silent = target("127.0.0.9");
    silent.set_timeout(0);
    silent.set_retry(30);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(snmp.get(pdu, silent), SNMP_CLASS_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20000));
}

TEST_F(SnmpSession, OneSessionPerThreadRunsInParallel)
{
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            int status = -1;
            Snmp snmp(status);
            if (status != SNMP_CLASS_SUCCESS) {
                failures[t] = 1000;
                return;
            }
            for (int i = 0; i < 25; ++i) {
                Vb vb;
                if (get1(snmp, "1.3.6.1.2.1.1.5.0", vb) != SNMP_CLASS_SUCCESS ||
                    std::string(vb.get_printable_value()) != "sim-device")
                    ++failures[t];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
}

} // namespace
