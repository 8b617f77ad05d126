// CSnmpSession against the in-process agent: batches, settings, malformed
// answers, and every answer and echo kept inside its destination.
#include "SnmpSession.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_agent.h"

namespace {

const std::string kOid = "1.3.6.1.4.1.2680.1.1.5.0";

std::string OidN(int n) { return "1.3.6.1.4.1.2680.1.1.9." + std::to_string(n) + ".0"; }

class Session : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(session.SetAddress("127.0.0.2"), 0); }

    tdtest::FakeAgent agent;
    CSnmpSession session;
};

TEST_F(Session, BatchHoldsSixteenAndNeverJamsLaterRequests)
{
    int32_t values[17] = {};
    for (int i = 0; i < 17; ++i)
        agent.PutInt(OidN(i), 100 + i);

    EXPECT_EQ(session.AddToBatch(OidN(0).c_str(), KIND_INTEGER, &values[0], 4), SNMPS_NO_BATCH);
    EXPECT_EQ(session.ExecuteGet(), SNMPS_EMPTY_BATCH);
    EXPECT_EQ(session.BeginBatch(OidN(0).c_str(), KIND_INTEGER, &values[0], 4), 0);
    for (int i = 1; i < 16; ++i)
        ASSERT_EQ(session.AddToBatch(OidN(i).c_str(), KIND_INTEGER, &values[i], 4), 0) << i;
    EXPECT_EQ(session.AddToBatch(OidN(16).c_str(), KIND_INTEGER, &values[16], 4), SNMPS_BATCH_FULL);

    // A full batch that was never sent gives way to the next request.
    int32_t one = 0;
    EXPECT_EQ(session.GetOne(OidN(3).c_str(), KIND_INTEGER, &one, 4), 0);
    EXPECT_EQ(one, 103);
    ASSERT_EQ(agent.log.size(), 1u);
    EXPECT_EQ(agent.log[0].oids.size(), 1u);

    // A bad OID is refused and the batch keeps what it had.
    EXPECT_EQ(session.BeginBatch(OidN(0).c_str(), KIND_INTEGER, &values[0], 4), 0);
    EXPECT_EQ(session.AddToBatch("1.3.6.1.2.1.1.x.0", KIND_INTEGER, &values[1], 4), SNMPS_BAD_OID);
    EXPECT_EQ(session.AddToBatch(OidN(2).c_str(), KIND_INTEGER, &values[2], 4), 0);
    EXPECT_EQ(session.ExecuteGet(), 0);
    EXPECT_EQ(agent.log.back().oids, (std::vector<std::string>{OidN(0), OidN(2)}));
    EXPECT_EQ(values[2], 102);
    EXPECT_EQ(session.ExecuteGet(), SNMPS_EMPTY_BATCH); // every execute ends the batch
}

TEST_F(Session, SettingsAreCheckedAndEveryRequestCarriesThem)
{
    const std::string t127(127, 'c'), t128(128, 'c');
    EXPECT_EQ(session.SetWriteCommunity(t127.c_str()), 0);
    EXPECT_EQ(session.SetWriteCommunity(nullptr), SNMPS_NULL_TEXT);
    EXPECT_EQ(session.SetReadCommunity(t128.c_str()), SNMPS_TEXT_TOO_LONG);
    EXPECT_EQ(session.SetOid(t128.c_str()), SNMPS_TEXT_TOO_LONG);
    for (int kind : {4, 6, -1})
        EXPECT_EQ(session.SetValueKind(kind), SNMPS_BAD_KIND) << kind;
    int32_t v = 0;
    EXPECT_EQ(session.GetOne(kOid.c_str(), 6, &v, 4), SNMPS_BAD_KIND);
    CSnmpSession unaddressed;
    EXPECT_EQ(unaddressed.GetOne(kOid.c_str(), KIND_INTEGER, &v, 4), SNMPS_BAD_ADDRESS);
    EXPECT_EQ(unaddressed.SetOneInteger(kOid.c_str(), KIND_INTEGER, 5), SNMPS_BAD_ADDRESS);
    EXPECT_TRUE(agent.log.empty());

    agent.PutInt(kOid, 1);
    session.SetRetries(3);
    session.SetTimeout(0); // no time at all would fail every request: one hundredth
    session.SetReadCommunity("reader");
    ASSERT_EQ(session.GetOne(kOid.c_str(), KIND_INTEGER, &v, 4), 0);
    ASSERT_EQ(session.SetOneInteger(kOid.c_str(), KIND_INTEGER, 7), 0);
    ASSERT_EQ(agent.log.size(), 2u);
    EXPECT_EQ(agent.log[0].community, "reader");
    EXPECT_EQ(agent.log[1].community, t127); // the refused texts changed nothing
    for (const auto& r : agent.log) {
        EXPECT_EQ(r.retries, 3);
        EXPECT_EQ(r.timeout, 1u);
    }
    EXPECT_EQ(agent.Int(kOid), 7);
}

TEST_F(Session, ExceptionsAndMissingBindingsEndTheWalkAfterEarlierStores)
{
    const struct {
        int syntax; // 0: the answer lacks the second binding
        int result;
    } cases[] = {
        {sNMP_SYNTAX_NOSUCHOBJECT, SNMPS_NO_OBJECT},
        {sNMP_SYNTAX_NOSUCHINSTANCE, SNMPS_NO_INSTANCE},
        {sNMP_SYNTAX_ENDOFMIBVIEW, SNMPS_END_OF_MIB},
        {0, SNMPS_NO_VB},
    };
    for (const auto& c : cases) {
        agent.override = [&](int, Pdu& pdu) {
            Vb first, second;
            pdu.get_vb(first, 0);
            first.set_value(SnmpInt32(11));
            pdu.get_vb(second, 1);
            second.set_exception_status(c.syntax);
            Vb answer[2] = {first, second};
            pdu.set_vblist(answer, c.syntax ? 2 : 1);
            return 0;
        };
        int32_t a = 0, b = 0, third = 0;
        ASSERT_EQ(session.BeginBatch(OidN(1).c_str(), KIND_INTEGER, &a, 4), 0);
        ASSERT_EQ(session.AddToBatch(OidN(2).c_str(), KIND_INTEGER, &b, 4), 0);
        ASSERT_EQ(session.AddToBatch(OidN(3).c_str(), KIND_INTEGER, &third, 4), 0);
        EXPECT_EQ(session.ExecuteGet(), c.result) << c.syntax;
        EXPECT_EQ(a, 11);
        EXPECT_EQ(b, 0);
    }
}

std::vector<unsigned char> Bytes(const std::string& s)
{
    std::vector<unsigned char> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

std::vector<unsigned char> Counted(std::vector<unsigned char> bytes)
{
    bytes.insert(bytes.begin(), {static_cast<unsigned char>(bytes.size()), 0});
    return bytes;
}

std::vector<unsigned char> Int32(int32_t v)
{
    std::vector<unsigned char> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

std::shared_ptr<SnmpSyntax> Octets(size_t n, unsigned char first = 1)
{
    std::vector<unsigned char> b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(first + i);
    return std::make_shared<OctetStr>(b.data(), static_cast<unsigned long>(n));
}

TEST_F(Session, AnswersReachTheirDestinationFormsAndNeverOverrun)
{
    const std::string seventy(70, 'n');
    const unsigned char ip[4] = {10, 1, 2, 3};
    std::vector<unsigned char> first255;
    for (int i = 0; i < 255; ++i)
        first255.push_back(static_cast<unsigned char>(1 + i));
    // An answer of the agent and what a destination of `size` bytes receives.
    const struct {
        const char* what;
        int kind;
        std::shared_ptr<SnmpSyntax> value;
        size_t size;
        int maximum;
        int result;
        std::vector<unsigned char> expected; // the destination's first bytes
    } forms[] = {
        {"integer", KIND_INTEGER, std::make_shared<SnmpInt32>(-7), 4, 0, 0, Int32(-7)},
        {"counter as integer", KIND_INTEGER, std::make_shared<Counter32>(4294967295ul), 4, 0, 0, Int32(-1)},
        {"gauge as integer", KIND_INTEGER, std::make_shared<Gauge32>(17), 4, 0, 0, Int32(17)},
        {"ticks as integer", KIND_INTEGER, std::make_shared<TimeTicks>(5), 4, 0, 0, Int32(5)},
        {"octets as integer", KIND_INTEGER, std::make_shared<OctetStr>("1"), 4, 0, SNMPS_NO_FORM, {}},
        {"octets", KIND_OCTETS, Octets(6), 8, 0, 0, Counted({1, 2, 3, 4, 5, 6})},
        {"octets cut to the buffer", KIND_OCTETS, Octets(10), 8, 0, 0, Counted({1, 2, 3, 4, 5, 6})},
        {"octets cut to the maximum", KIND_OCTETS, Octets(10), 64, 3, 0, Counted({1, 2, 3})},
        {"octets cut to 255", KIND_OCTETS, Octets(300), 400, 0, 0, Counted(first255)},
        {"address as octets", KIND_OCTETS, std::make_shared<IpAddress>(ip), 8, 0, 0, Counted({10, 1, 2, 3})},
        {"integer as octets", KIND_OCTETS, std::make_shared<SnmpInt32>(1), 8, 0, SNMPS_NO_FORM, {}},
        {"text cut to the maximum", KIND_TEXT, std::make_shared<OctetStr>(seventy.c_str()), 100, 60, 0,
         Bytes(std::string(60, 'n'))},
        {"text whole", KIND_TEXT, std::make_shared<OctetStr>(seventy.c_str()), 100, 0, 0, Bytes(seventy)},
        {"text cut to the buffer", KIND_TEXT, std::make_shared<OctetStr>(seventy.c_str()), 41, 0, 0,
         Bytes(std::string(40, 'n'))},
        {"text of binary octets", KIND_TEXT, Octets(2, 0), 100, 0, 0, Bytes(Octets(2, 0)->get_printable())},
        {"ticks", KIND_TIMETICKS, std::make_shared<TimeTicks>(123456), 33, 0, 0, Bytes("0:20:34.56")},
        {"address", KIND_IPADDRESS, std::make_shared<IpAddress>(ip), 16, 0, 0, Bytes("10.1.2.3")},
        {"object id as text", KIND_TEXT, std::make_shared<Oid>("1.3.6.1.4.1.2680"), 64, 0, 0,
         Bytes("1.3.6.1.4.1.2680")},
        {"counter64 as text", KIND_TEXT, std::make_shared<Counter64>(1, 1), 64, 0, 0, Bytes("4294967297")},
        {"integer as text", KIND_TEXT, std::make_shared<SnmpInt32>(-3), 64, 0, 0, Bytes("-3")},
    };
    for (const auto& f : forms) {
        SCOPED_TRACE(f.what);
        agent.Put(kOid, *f.value);
        std::vector<unsigned char> dest(f.size + 16, 0xEE); // guard bytes after the destination
        EXPECT_EQ(session.GetOne(kOid.c_str(), f.kind, dest.data(), f.size, f.maximum), f.result);
        if (f.result == 0) {
            ASSERT_LE(f.expected.size(), f.size);
            EXPECT_EQ(std::vector<unsigned char>(dest.begin(), dest.begin() + f.expected.size()), f.expected);
        }
        for (size_t i = f.size; i < dest.size(); ++i)
            ASSERT_EQ(dest[i], 0xEE) << "byte " << i << " past the destination";
    }
}

TEST_F(Session, SetsKeepTheirValueAndEchoInsideTheDestination)
{
    // An echo longer than the source buffer is cut to it.
    agent.PutText(kOid, "old");
    agent.override = [](int, Pdu& pdu) {
        Vb vb;
        pdu.get_vb(vb, 0);
        vb.set_value(OctetStr("a much longer echo"));
        pdu.set_vb(vb, 0);
        return 0;
    };
    char guarded[12] = "abc";
    std::memset(guarded + 8, 'G', 4);
    EXPECT_EQ(session.SetOneValue(kOid.c_str(), KIND_TEXT, guarded, 8), 0);
    EXPECT_STREQ(guarded, "a much ");
    EXPECT_EQ(std::string(guarded + 8, 4), "GGGG");
    agent.override = nullptr;

    // Values that do not fit their buffer, or are none, are never sent.
    unsigned char overlong[8] = {7, 0, 1, 2, 3, 4, 5, 6};
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    char address[16] = "10.20.30";
    const size_t sent = agent.log.size();
    EXPECT_EQ(session.SetOneValue(kOid.c_str(), KIND_OCTETS, overlong, sizeof overlong), SNMPS_BAD_VALUE);
    EXPECT_EQ(session.SetOneValue(kOid.c_str(), KIND_TEXT, unterminated, sizeof unterminated), SNMPS_BAD_VALUE);
    EXPECT_EQ(session.SetOneValue(kOid.c_str(), KIND_IPADDRESS, address, sizeof address), SNMPS_BAD_VALUE);
    EXPECT_EQ(agent.log.size(), sent);
    EXPECT_EQ(session.GetBatchCount(), 0);
}

} // namespace
