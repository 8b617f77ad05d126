// Both back-ends against a scripted agent that stands in for the network
// (the SNMP classes' exchange hook): what each request carries, how values
// are converted for a set, and the texts of every failure. The manager
// back-end runs through the manager libraries beside this program.
#include "querant/snmp_manager.h"
#include "querant/snmp_nt.h"
#include "querant/snmp_pp.h"

#include <qm/exception.h>
#include <snmp_pp/snmp_pp.h>

#include <gtest/gtest.h>

#include <map>
#include <mutex>

using namespace querant;

namespace {

class idle_backend_t : public snmp_base_t {
public:
    void get(snmp_request_t&) override {}
    void get_next(snmp_request_t&) override {}
    void set(snmp_request_t&) override {}
};

// One agent for every address: a table of values by OID text, and a record
// of every request it saw.
struct agent_t {
    struct seen_t {
        int type;
        std::string oid;
        int syntax;        // of the value sent (sets)
        std::string value; // printable form of the value sent
        unsigned long timeout;
        int retry;
        std::string read, write;
    };

    std::mutex lock;
    std::map<std::string, std::unique_ptr<SnmpSyntax>> mib; // null: a NULL value
    std::map<std::string, std::string> next;                // get-next: name -> found name
    std::map<std::string, bool> sticky;                     // sets change nothing
    std::vector<seen_t> seen;
    int fail = 0;         // a library status for every request
    int error_status = 0; // an agent error status for every request
    bool status_as_19 = false;

    void put(const std::string& oid, const SnmpSyntax& value) { mib[oid].reset(value.clone()); }

    int answer(int type, Pdu& pdu, const CTarget& target)
    {
        std::lock_guard g(lock);
        Vb vb;
        pdu.get_vb(vb, 0);
        seen.push_back({type, vb.get_printable_oid(), vb.get_syntax(), vb.get_printable_value(), target.get_timeout(),
                        target.get_retry(), target.readcommunity().get_printable(),
                        target.writecommunity().get_printable()});
        if (fail)
            return fail;
        if (error_status) {
            pdu.set_error_status(error_status);
            return status_as_19 ? SNMP_CLASS_ERR_STATUS_SET : error_status;
        }
        std::string name = vb.get_printable_oid();
        if (type == VX_SNMP_GETNEXT) {
            auto n = next.find(name);
            if (n == next.end()) {
                pdu.set_error_status(SNMP_ERROR_NO_SUCH_NAME);
                return SNMP_ERROR_NO_SUCH_NAME;
            }
            name = n->second;
            vb.set_oid(Oid(name.c_str()));
        }
        auto v = mib.find(name);
        if (v == mib.end()) {
            pdu.set_error_status(SNMP_ERROR_NO_SUCH_NAME);
            return SNMP_ERROR_NO_SUCH_NAME;
        }
        if (type == VX_SNMP_SET && !sticky[name])
            v->second.reset(vb.value() ? vb.value()->clone() : nullptr);
        if (v->second)
            vb.set_value(*v->second);
        else
            vb.set_null();
        pdu.set_vb(vb, 0);
        pdu.set_error_status(0);
        return SNMP_CLASS_SUCCESS;
    }

    size_t count()
    {
        std::lock_guard g(lock);
        return seen.size();
    }
    seen_t last()
    {
        std::lock_guard g(lock);
        return seen.back();
    }
};

class Backend : public ::testing::Test {
protected:
    void SetUp() override
    {
        vx_snmp_test::set_exchange_hook(
            [this](int type, Pdu& pdu, const CTarget& target) { return agent.answer(type, pdu, target); });
    }
    void TearDown() override { vx_snmp_test::set_exchange_hook(nullptr); }

    snmp_request_t request(const std::string& name, const std::string& value = "")
    {
        snmp_request_t r;
        r.ip = "127.0.0.2";
        r.name = name;
        r.value = value;
        return r;
    }
    // The text a request fails with ("" when it succeeds).
    template <class B> std::string failure(B& backend, void (B::*op)(snmp_request_t&), snmp_request_t r)
    {
        try {
            (backend.*op)(r);
            return "";
        } catch (const qm::exception_t& e) {
            return e.what();
        }
    }

    agent_t agent;
    snmp_manager_t engine{VER_PLATFORM_WIN32_NT,
                          [](int32_t, snmp_manager_t*) { return std::make_unique<idle_backend_t>(); }};
};

const unsigned char short_ip[] = {10, 1, 2};

// ---- snmp++ back-end ----------------------------------------------------------------

TEST_F(Backend, SnmpPpTargetTakesTheEngineSettingsAtEveryRequest)
{
    agent.put("1.3.6.1.2.1.1.5.0", OctetStr("sim-device"));
    snmp_pp_t backend(&engine);
    auto r = request("1.3.6.1.2.1.1.5.0");
    backend.get(r);
    auto seen = agent.last();
    EXPECT_EQ(seen.timeout, 100u); // 3000 ms / 30: one second per attempt
    EXPECT_EQ(seen.retry, 3);
    EXPECT_EQ(seen.read, "quenmil");
    EXPECT_EQ(seen.write, "quenmil");
    EXPECT_EQ(backend.target().get_version(), version1);

    engine.timeout(20);
    engine.retry_count(0);
    engine.user("tagrok");
    backend.get(r);
    seen = agent.last();
    EXPECT_EQ(seen.timeout, 0u);
    EXPECT_EQ(seen.retry, 0);
    EXPECT_EQ(seen.read, "tagrok");
    EXPECT_EQ(seen.write, "tagrok");
    engine.timeout(-3000); // acts as no wait, not as a huge unsigned one
    backend.get(r);
    EXPECT_EQ(agent.last().timeout, 0u);
}

TEST_F(Backend, SnmpPpReadsAndReportsFailuresWithTheLibraryTexts)
{
    agent.put("1.3.6.1.2.1.1.5.0", OctetStr("sim-device"));
    agent.put("1.3.6.1.2.1.1.3.0", TimeTicks(123456));
    agent.next["1.3.6.1.2.1.1"] = "1.3.6.1.2.1.1.5.0";
    snmp_pp_t backend(&engine);
    auto r = request("1.3.6.1.2.1.1.3.0");
    backend.get(r);
    EXPECT_EQ(r.value, "0:20:34.56");
    EXPECT_EQ(r.type, 67);
    r = request("1.3.6.1.2.1.1");
    backend.get_next(r);
    EXPECT_EQ(r.name, "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(r.value, "sim-device");
    EXPECT_EQ(r.type, 4);

    EXPECT_EQ(failure(backend, &snmp_pp_t::get, request("1.3.6.1.9.0")), "SNMP Error: SNMP: Variable does not exist");
    EXPECT_EQ(failure(backend, &snmp_pp_t::get_next, request("1.3.6.1.2.1.1.5.0")),
              "SNMP Error: SNMP: Variable does not exist"); // end of the view
    auto elsewhere = request("1.3.6.1.2.1.1.5.0");
    elsewhere.ip = "host.example";
    EXPECT_EQ(failure(backend, &snmp_pp_t::get, elsewhere), "Invalid IP address");
    agent.fail = SNMP_CLASS_TIMEOUT;
    EXPECT_EQ(failure(backend, &snmp_pp_t::get, request("1.3.6.1.2.1.1.5.0")),
              "SNMP Error: SNMP++: SNMP request timed out");
    agent.fail = 0;
    agent.error_status = SNMP_ERROR_GENERAL_VB_ERR;
    EXPECT_EQ(failure(backend, &snmp_pp_t::get, request("1.3.6.1.2.1.1.5.0")),
              "SNMP Error: SNMP: Cannot perform operation, General Error");
    agent.status_as_19 = true; // the status that only says "see the Pdu"
    EXPECT_EQ(failure(backend, &snmp_pp_t::set, request("1.3.6.1.2.1.1.5.0", "x")),
              "SNMP Error: SNMP: Cannot perform operation, General Error");
}

TEST_F(Backend, SnmpPpSetConvertsTheTextByTheLearnedSyntax)
{
    const std::string E = "1.3.6.1.4.1.2680.1.";
    agent.put(E + "1", SnmpInt32(3));
    agent.put(E + "2", OctetStr("old"));
    agent.put(E + "3", Oid("1.3.6.1"));
    agent.put(E + "4", IpAddress("10.0.0.1"));
    agent.put(E + "5", Counter32(1));
    agent.put(E + "6", Gauge32(1));
    agent.put(E + "7", TimeTicks(1));
    agent.put(E + "8", Counter64(0ull));
    const unsigned char raw[] = {1, 2};
    agent.put(E + "9", OpaqueStr(raw, 2));
    snmp_pp_t backend(&engine);

    struct case_t {
        std::string oid, text, sent;
        int syntax;
    };
    const std::vector<case_t> cases = {
        {E + "1", "42", "42", 2},
        {E + "1", "abc", "0", 2}, // no digits: written as 0
        {E + "1", " -7x", "-7", 2},
        {E + "2", "new text", "new text", 4},
        {E + "3", ".1.3.6.1.4.1.2680.7", "1.3.6.1.4.1.2680.7", 6},
        {E + "4", "192.168.7.9", "192.168.7.9", 64},
        {E + "5", "17", "17", 65},
        {E + "6", "17", "17", 66},
        {E + "7", "123456", "0:20:34.56", 67},
        {E + "8", "4294967297", "4294967297", 70},
        {E + "5", "2147483648", "2147483648", 65}, // unsigned values past 2^31 as written
        {E + "6", "4294967295", "4294967295", 66},
        {E + "7", "4294967295", "497 days, 2:27:52.95", 67},
        {E + "1", "-2147483648", "-2147483648", 2},
    };
    for (const auto& c : cases) {
        auto r = request(c.oid, c.text);
        backend.set(r);
        const auto seen = agent.last();
        EXPECT_EQ(seen.type, VX_SNMP_SET) << c.oid;
        EXPECT_EQ(seen.write, "quenmil");
        EXPECT_EQ(seen.syntax, c.syntax) << c.oid;
        EXPECT_EQ(seen.value, c.sent) << c.oid << " " << c.text;
        EXPECT_EQ(r.value, c.sent);
        EXPECT_EQ(r.type, c.syntax);
    }
    Counter64 halves;
    ASSERT_NE(agent.mib[E + "8"], nullptr);
    halves.assign(*agent.mib[E + "8"]);
    EXPECT_EQ(halves.high(), 1u);
    EXPECT_EQ(halves.low(), 1u);

    // Texts that are no value of the syntax, and a syntax without a
    // conversion: only the first get goes out.
    for (const auto& [oid, text] :
         std::vector<std::pair<std::string, std::string>>{{E + "3", "not an oid"},
                                                          {E + "4", "10.0.0"},
                                                          {E + "9", "01"},
                                                          // Values that do not fit their type: refused, never clamped.
                                                          {E + "1", "2147483648"},
                                                          {E + "5", "4294967296"},
                                                          {E + "6", "-1"},
                                                          {E + "8", "-5"}}) {
        const size_t before = agent.count();
        EXPECT_EQ(failure(backend, &snmp_pp_t::set, request(oid, text)),
                  "Could not convert " + text + " to snmp variable");
        EXPECT_EQ(agent.count(), before + 1);
        EXPECT_EQ(agent.last().type, VX_SNMP_GET);
    }
}

// ---- Windows SNMP manager back-end ------------------------------------------------------

TEST_F(Backend, ManagerNamesAreAbsoluteAndSessionsCarryTheEngineSettings)
{
    agent.put("1.3.6.1.2.1.1.5.0", OctetStr("sim-device"));
    agent.next["1.3.6.1.2.1.1"] = "1.3.6.1.2.1.1.5.0";
    snmp_nt_t backend(&engine);
    auto r = request("1.3.6.1.2.1.1.5.0");
    backend.get(r);
    EXPECT_EQ(r.value, "sim-device");
    EXPECT_EQ(r.type, 4);
    auto seen = agent.last();
    EXPECT_EQ(seen.oid, "1.3.6.1.2.1.1.5.0"); // not taken as below mib-2
    EXPECT_EQ(seen.timeout, 300u);            // the library's 3000 ms
    EXPECT_EQ(seen.retry, 3);
    EXPECT_EQ(seen.read, "quenmil");

    r = request("1.3.6.1.2.1.1");
    backend.get_next(r);
    EXPECT_EQ(r.name, "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(r.value, "sim-device");

    engine.timeout(-50);
    backend.get(r);
    EXPECT_EQ(agent.last().timeout, 0u);
    EXPECT_EQ(failure(backend, &snmp_nt_t::get, request("1.3.x")),
              "SnmpMgrStrToOid () fails, error in snmp_nt_t::vb_fill (), oid = .1.3.x");
}

TEST_F(Backend, ManagerFailureTextsAndGeneralErrorFails)
{
    agent.put("1.3.6.1.2.1.1.5.0", OctetStr("sim-device"));
    snmp_nt_t backend(&engine);
    const std::map<int, std::string> texts = {
        {1, "Unexpected response"}, {2, "Unknown variable"}, {3, "Bad value"},
        {4, "Write protect"},       {5, "General error"},    {17, "General error"},
    };
    for (const auto& [status, text] : texts) {
        agent.error_status = status;
        EXPECT_EQ(failure(backend, &snmp_nt_t::get, request("1.3.6.1.2.1.1.5.0")), text) << status;
        EXPECT_EQ(failure(backend, &snmp_nt_t::set, request("1.3.6.1.2.1.1.5.0", "x")), text) << status;
    }
    agent.error_status = 0;
    agent.fail = SNMP_CLASS_TIMEOUT;
    EXPECT_EQ(failure(backend, &snmp_nt_t::get, request("1.3.6.1.2.1.1.5.0")), "Request timeout");
    agent.fail = SNMP_CLASS_TL_FAILED;
    EXPECT_EQ(failure(backend, &snmp_nt_t::get_next, request("1.3.6.1.2.1.1.5.0")), "Winsock select error");
}

TEST_F(Backend, ManagerAnswersOfEveryKind)
{
    const std::string E = "1.3.6.1.4.1.2680.1.";
    std::string long_name = "1.3.6.1.4.1.2680.1.1.1.10";
    for (int i = 0; i < 30; ++i)
        long_name += ".4294967" + std::to_string(i % 10);
    ASSERT_GT(long_name.size(), 99u);
    agent.mib[E + "5"] = nullptr; // a NULL value
    agent.put(long_name, SnmpInt32(-8));
    agent.next[E + "1"] = long_name;
    agent.put(E + "6", vx_snmp_detail::TaggedOctets(sNMP_SYNTAX_IPADDR, short_ip, 3));
    snmp_nt_t backend(&engine);

    auto r = request(E + "5");
    backend.get(r);
    EXPECT_EQ(r.value, "");
    EXPECT_EQ(r.type, 5);
    r = request(E + "1");
    backend.get_next(r);
    EXPECT_EQ(r.name, long_name); // the whole name, however long
    EXPECT_EQ(r.value, "-8");
    EXPECT_EQ(failure(backend, &snmp_nt_t::get, request(E + "6")), "Unknown error in snmp_nt_t::vb_extract().");
    agent.sticky[E + "6"] = true; // answers the set with the short address again
    EXPECT_EQ(failure(backend, &snmp_nt_t::set, request(E + "6", "10.1.2.3")), "Invalid IP length");
}

TEST_F(Backend, ManagerSetConvertsTheTextByTheLearnedType)
{
    const std::string E = "1.3.6.1.4.1.2680.1.";
    agent.put(E + "1", SnmpInt32(3));
    agent.put(E + "2", OctetStr("old"));
    agent.put(E + "3", Oid("1.3.6.1"));
    agent.put(E + "4", IpAddress("10.0.0.1"));
    agent.put(E + "5", Gauge32(1));
    agent.put(E + "6", TimeTicks(1));
    agent.put(E + "7", Counter64(0ull));
    agent.put(E + "8", vx_snmp_detail::TaggedUInt32(ASN_UNSIGNED32, 1));
    const unsigned char raw[] = {1, 2};
    agent.put(E + "9", vx_snmp_detail::TaggedOctets(sNMP_SYNTAX_BITS, raw, 2));
    agent.mib[E + "10"] = nullptr;
    snmp_nt_t backend(&engine);

    struct case_t {
        std::string oid, text, sent;
        int syntax;
    };
    const std::vector<case_t> cases = {
        {E + "1", "42", "42", 2},
        {E + "1", "abc", "0", 2}, // no digits: written as 0
        {E + "2", "new text", "new text", 4},
        {E + "2", "", "", 4},
        {E + "3", "1.3.6.1.4.1.2680.7", "1.3.6.1.4.1.2680.7", 6},
        {E + "4", "192.168.7.9", "192.168.7.9", 64},
        {E + "5", "17", "17", 66},
        {E + "6", "100", "0:00:01.00", 67},
        {E + "7", "4294967297", "4294967297", 70},
        {E + "8", "4294967295", "4294967295", 71},
        {E + "5", "2147483648", "2147483648", 66}, // unsigned values past 2^31 as written
        {E + "5", "4294967295", "4294967295", 66},
        {E + "9", "AB", "AB", 3},
    };
    for (const auto& c : cases) {
        auto r = request(c.oid, c.text);
        backend.set(r);
        const auto seen = agent.last();
        EXPECT_EQ(seen.type, VX_SNMP_SET) << c.oid;
        EXPECT_EQ(seen.syntax, c.syntax) << c.oid;
        EXPECT_EQ(seen.value, c.sent) << c.oid << " " << c.text;
        EXPECT_EQ(r.value, c.sent) << c.oid;
        EXPECT_EQ(r.type, c.syntax);
        EXPECT_EQ(r.name, c.oid);
    }
    // No conversion: nothing is written, and the write is not reported done.
    for (const auto& [oid, text] :
         std::vector<std::pair<std::string, std::string>>{{E + "3", "not an oid"},
                                                          {E + "4", "10.0.0"},
                                                          {E + "10", "5"},
                                                          // Values that do not fit their type: refused, never clamped.
                                                          {E + "8", "4294967296"},
                                                          {E + "8", "-1"},
                                                          {E + "5", "4294967296"},
                                                          {E + "1", "2147483648"},
                                                          {E + "7", "18446744073709551616"}}) {
        const size_t before = agent.count();
        EXPECT_EQ(failure(backend, &snmp_nt_t::set, request(oid, text)),
                  "Could not convert " + text + " to snmp variable");
        EXPECT_EQ(agent.count(), before + 1);
        EXPECT_EQ(agent.last().type, VX_SNMP_GET);
    }
}

TEST(ManagerValueText, EveryTypePrintsAsTheValueClassesDo)
{
    auto any = [](BYTE type) {
        AsnAny a{};
        a.asnType = type;
        return a;
    };
    AsnAny v = any(ASN_INTEGER);
    v.asnValue.number = -2147483647 - 1;
    EXPECT_EQ(asn_value_text(v), "-2147483648");
    unsigned char text[] = {'h', 'i'};
    unsigned char mac[] = {0x00, 0x60, 0x2B};
    for (BYTE type : {ASN_OCTETSTRING, ASN_BITS, ASN_SEQUENCE, ASN_OPAQUE}) {
        v = any(type);
        v.asnValue.string = {text, 2, FALSE};
        EXPECT_EQ(asn_value_text(v), "hi") << int(type);
        v.asnValue.string = {mac, 3, FALSE};
        EXPECT_EQ(asn_value_text(v), "  00 60 2B " + std::string(13 * 3, ' ') + "   .`+\n") << int(type);
    }
    v = any(ASN_OBJECTIDENTIFIER);
    UINT ids[] = {1, 3, 6, 1, 4294967295u};
    v.asnValue.object = {5, ids};
    EXPECT_EQ(asn_value_text(v), "1.3.6.1.4294967295");
    v = any(ASN_IPADDRESS);
    unsigned char ip[] = {10, 1, 2, 3, 9};
    v.asnValue.address = {ip, 5, FALSE};
    EXPECT_EQ(asn_value_text(v), "10.1.2.3"); // the first four octets
    v.asnValue.address = {ip, 3, FALSE};
    EXPECT_THROW(asn_value_text(v), qm::exception_t);
    v = any(ASN_COUNTER32);
    v.asnValue.counter = 4294967295u;
    EXPECT_EQ(asn_value_text(v), "4294967295");
    v = any(ASN_GAUGE32);
    v.asnValue.gauge = 17;
    EXPECT_EQ(asn_value_text(v), "17");
    v = any(ASN_TIMETICKS);
    v.asnValue.ticks = 2 * 8640000u + 1;
    EXPECT_EQ(asn_value_text(v), "2 days, 0:00:00.01");
    v = any(ASN_COUNTER64);
    v.asnValue.counter64.u.HighPart = 1;
    v.asnValue.counter64.u.LowPart = 1;
    EXPECT_EQ(asn_value_text(v), "4294967297");
    v = any(ASN_UNSIGNED32);
    v.asnValue.unsigned32 = 4294967295u;
    EXPECT_EQ(asn_value_text(v), "4294967295");
    EXPECT_EQ(asn_value_text(any(ASN_NULL)), "");
    EXPECT_EQ(asn_value_text(any(0x80)), "");
}

} // namespace
