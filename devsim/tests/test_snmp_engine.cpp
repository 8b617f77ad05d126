// The SNMP request engine in process: requests built and answers decoded
// with net-snmp, against devices of several families and sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "snmp/engine.h"

namespace {

using namespace devsim;
using namespace devsim::snmp;

oid_t parse_oid(const std::string& text)
{
    oid_t o;
    size_t start = 0;
    while (start < text.size()) {
        size_t dot = text.find('.', start);
        o.push_back(std::stoul(text.substr(start, dot - start)));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return o;
}

// One binding of a request: a null value for get and get-next.
struct bind {
    bind(std::string o, u_char t = ASN_NULL, long i = 0, std::string s = {})
        : oid(std::move(o)), type(t), integer(i), octets(std::move(s))
    {}
    std::string oid;
    u_char type;
    long integer;
    std::string octets;
};
bind integer(const std::string& o, long v) { return {o, ASN_INTEGER, v}; }
bind text(const std::string& o, const std::string& s) { return {o, ASN_OCTET_STR, 0, s}; }
bind typed(const std::string& o, u_char type, const std::string& s) { return {o, type, 0, s}; }

std::vector<uint8_t> request(int command, const std::vector<bind>& binds, const std::string& community = "quenmil",
                             long version = SNMP_VERSION_1)
{
    netsnmp_pdu* pdu = snmp_pdu_create(command);
    pdu->version = version;
    pdu->reqid = 4711;
    for (const auto& b : binds) {
        oid_t o = parse_oid(b.oid);
        if (b.type == ASN_NULL)
            snmp_add_null_var(pdu, o.data(), o.size());
        else if (b.type == ASN_INTEGER || b.type == ASN_TIMETICKS)
            snmp_pdu_add_variable(pdu, o.data(), o.size(), b.type, &b.integer, sizeof b.integer);
        else
            snmp_pdu_add_variable(pdu, o.data(), o.size(), b.type, b.octets.data(), b.octets.size());
    }
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = version;
    session.community = reinterpret_cast<u_char*>(const_cast<char*>(community.c_str()));
    session.community_len = community.size();
    size_t capacity = 4096, offset = 0;
    u_char* packet = static_cast<u_char*>(malloc(capacity));
    std::vector<uint8_t> out;
    if (snmp_build(&packet, &capacity, &offset, &session, pdu) == 0)
        out.assign(packet + capacity - offset, packet + capacity);
    free(packet);
    snmp_free_pdu(pdu);
    return out;
}

struct reply {
    bool answered = false;
    long error = -1;
    long index = -1;
    long reqid = 0;
    std::vector<std::pair<std::string, value_t>> binds;
};

class SnmpEngine : public ::testing::Test {
protected:
    device_t make(family_t f, int index = 0)
    {
        device_t d;
        d.index = index;
        d.mac = {0x00, 0x60, 0x2B, 0x10, 0x00, static_cast<uint8_t>(index + 1)};
        d.ip = 0xC0A84D0A + static_cast<uint32_t>(index);
        d.set_family(f);
        return d;
    }
    reply send(device_t& d, const std::vector<uint8_t>& message, int forced = 0)
    {
        outcome_t out = answer(mib_, d, store_, message.data(), message.size(), 1234, forced);
        reply r;
        if (out.response.empty())
            return r;
        std::string community;
        pdu_ptr pdu = decode(out.response.data(), out.response.size(), community);
        EXPECT_TRUE(pdu) << "the answer decodes";
        if (!pdu)
            return r;
        EXPECT_EQ(pdu->command, SNMP_MSG_RESPONSE);
        r.answered = true;
        r.error = pdu->errstat;
        r.index = pdu->errindex;
        r.reqid = pdu->reqid;
        for (auto* v = pdu->variables; v; v = v->next_variable) {
            value_t value;
            value.type = v->type;
            if (v->type == ASN_OCTET_STR || v->type == ASN_IPADDRESS)
                value.octets.assign(reinterpret_cast<char*>(v->val.string), v->val_len);
            else if (v->type == ASN_OBJECT_ID)
                value.id.assign(v->val.objid, v->val.objid + v->val_len / sizeof(oid));
            else if (v->type != ASN_NULL)
                value.integer = *v->val.integer;
            r.binds.emplace_back(oid_text(v->name, v->name_length), value);
        }
        return r;
    }
    reply get(device_t& d, const std::vector<std::string>& oids)
    {
        std::vector<bind> binds;
        for (const auto& o : oids)
            binds.emplace_back(o);
        return send(d, request(SNMP_MSG_GET, binds));
    }
    reply next(device_t& d, const std::string& o) { return send(d, request(SNMP_MSG_GETNEXT, {bind(o)})); }
    reply set(device_t& d, const std::vector<bind>& binds) { return send(d, request(SNMP_MSG_SET, binds)); }

    mib_t mib_;
    store_t store_;
};

const std::string E = "1.3.6.1.4.1.2680.1.1";
const std::string sys_name = "1.3.6.1.2.1.1.5.0";
const std::string sys_descr = "1.3.6.1.2.1.1.1.0";

TEST_F(SnmpEngine, TypedSetsAreCheckedAndAcceptedOnesPersist)
{
    device_t alder = make(family_t::alder);
    device_t birch = make(family_t::birch, 1);
    store_t alder_store, birch_store;
    struct set_case {
        const char* what;
        device_t* device;
        bind value;
        long error; // 0 noError, 2 noSuchName, 3 badValue
    } cases[] = {
        {"text variable takes text", &alder, text(sys_name, "stage left"), 0},
        {"text variable refuses an integer", &alder, integer(sys_name, 5), 3},
        {"read-only variable", &alder, text(sys_descr, "x"), 2},
        {"read-only counter", &alder, typed("1.3.6.1.2.1.1.3.0", ASN_TIMETICKS, ""), 2},
        {"unknown variable", &alder, integer(E + ".99.0", 1), 2},
        {"instance past the table", &alder, integer(E + ".7.1.1.2.3", 1), 2},
        {"bundle number in range", &alder, integer(E + ".7.1.1.2.2", 65535), 0},
        {"bundle number out of range", &alder, integer(E + ".7.1.1.2.1", 70000), 3},
        {"text longer than 255", &alder, text("1.3.6.1.2.1.1.6.0", std::string(256, 'a')), 3},
        {"48 kHz mode rate", &alder, integer(E + ".3.6.1.0", 0x500), 0},
        {"96 kHz mode rate on a 48 kHz platform", &alder, integer(E + ".3.6.1.0", 0x601), 3},
        {"96 kHz mode rate elsewhere", &birch, integer(E + ".3.6.1.0", 0x601), 0},
        {"unknown mode rate code", &birch, integer(E + ".3.6.1.0", 0x123), 3},
        {"MAC of six bytes", &alder, text(E + ".10.1.4.0", std::string("\x01\x60\x2b\xfd\x00\x01", 6)), 0},
        {"MAC of five bytes", &alder, text(E + ".10.1.4.0", "abcde"), 3},
        {"address variable takes an address", &alder, typed(E + ".9.2.1.0", ASN_IPADDRESS, "\xc0\xa8\x4d\x63"), 0},
        {"address variable refuses text", &alder, text(E + ".9.2.1.0", "192.168.77.99"), 3},
        {"no processor group without a DSP", &alder, integer("1.3.6.1.4.1.2680.1.4.1.1.0", 1), 2},
        {"processor mode", &birch, integer("1.3.6.1.4.1.2680.1.4.1.1.0", 1), 0},
        {"processor mode out of range", &birch, integer("1.3.6.1.4.1.2680.1.4.1.1.0", 3), 3},
    };
    for (const auto& c : cases) {
        store_t& store = c.device == &alder ? alder_store : birch_store;
        std::swap(store, store_);
        reply before = get(*c.device, {c.value.oid});
        reply r = set(*c.device, {c.value});
        reply after = get(*c.device, {c.value.oid});
        std::swap(store, store_);
        ASSERT_TRUE(r.answered) << c.what;
        EXPECT_EQ(r.error, c.error) << c.what;
        EXPECT_EQ(r.index, c.error ? 1 : 0) << c.what;
        ASSERT_EQ(r.binds.size(), 1u) << c.what;
        EXPECT_EQ(r.binds[0].first, c.value.oid) << "the answer repeats the binding: " << c.what;
        if (c.error == 0) {
            ASSERT_EQ(after.error, 0) << c.what;
            EXPECT_EQ(after.binds[0].second.type, c.value.type) << c.what;
            EXPECT_EQ(after.binds[0].second.integer, c.value.integer) << c.what;
            EXPECT_EQ(after.binds[0].second.octets, c.value.octets) << c.what;
        } else if (before.error == 0) {
            EXPECT_EQ(after.binds[0].second.integer, before.binds[0].second.integer) << c.what;
            EXPECT_EQ(after.binds[0].second.octets, before.binds[0].second.octets) << c.what;
        }
    }
    EXPECT_EQ(birch.dsp.mode, 1) << "the processor mode is the device's own state";
}

TEST_F(SnmpEngine, ASetWithOneBadBindingChangesNothing)
{
    device_t d = make(family_t::cedar);
    reply r = set(d, {text(sys_name, "renamed"), integer(E + ".2.7.0", 0), text(sys_descr, "x")});
    EXPECT_EQ(r.error, SNMP_ERR_NOSUCHNAME);
    EXPECT_EQ(r.index, 3);
    reply after = get(d, {sys_name, E + ".2.7.0"});
    EXPECT_EQ(after.binds[0].second.octets, "cedar-0");
    EXPECT_EQ(after.binds[1].second.integer, 1);
}

TEST_F(SnmpEngine, TablesFollowTheBundleCounts)
{
    const std::string tx_bundle = E + ".7.1.1.2.", rx_bundle = E + ".6.1.1.2.", rx_map = E + ".6.2.1.2.";
    for (int count : {1, 16}) {
        device_t d = make(family_t::alder);
        d.transmitters = d.receivers = count;
        std::string n = std::to_string(count), past = std::to_string(count + 1);
        EXPECT_EQ(get(d, {tx_bundle + n, rx_bundle + n, rx_map + n + ".8"}).error, 0) << count;
        EXPECT_EQ(get(d, {tx_bundle + past}).error, SNMP_ERR_NOSUCHNAME) << count;
        EXPECT_EQ(get(d, {rx_bundle + past}).error, SNMP_ERR_NOSUCHNAME) << count;
        EXPECT_EQ(get(d, {rx_map + n + ".9"}).error, SNMP_ERR_NOSUCHNAME) << count;
        // A walk of the column stops at the last bundle.
        reply last = next(d, tx_bundle + n);
        EXPECT_NE(last.binds[0].first.rfind(tx_bundle, 0), 0u) << "after the last row comes the next column";
        // The console's bundle probe: rxBundle.1, .2, ... until noSuchName.
        int found = 0;
        while (found < 20 && get(d, {rx_bundle + std::to_string(found + 1)}).error == 0)
            ++found;
        EXPECT_EQ(found, count);
    }
    device_t none = make(family_t::alder);
    none.receivers = 0;
    EXPECT_EQ(get(none, {rx_bundle + "1"}).error, SNMP_ERR_NOSUCHNAME);
}

TEST_F(SnmpEngine, WalkVisitsEveryVariableInOrderAndEnds)
{
    for (family_t f : all_families()) {
        device_t d = make(f);
        std::string at = "0";
        std::vector<std::string> names;
        oid_t previous;
        for (int step = 0; step < 5000; ++step) {
            reply r = next(d, at);
            ASSERT_TRUE(r.answered);
            if (r.error == SNMP_ERR_NOSUCHNAME)
                break;
            ASSERT_EQ(r.error, 0);
            oid_t name = parse_oid(r.binds[0].first);
            ASSERT_TRUE(std::lexicographical_compare(previous.begin(), previous.end(), name.begin(), name.end()))
                << r.binds[0].first << " after " << at;
            reply direct = get(d, {r.binds[0].first});
            ASSERT_EQ(direct.error, 0) << "get-next found what get does not know: " << r.binds[0].first;
            EXPECT_EQ(direct.binds[0].second.type, r.binds[0].second.type);
            previous = name;
            at = r.binds[0].first;
            names.push_back(at);
        }
        // 15 system and interface variables, 11 firmware ... : the count only grows with bundles.
        EXPECT_GT(names.size(), 100u) << family_name(f);
        EXPECT_LT(names.size(), 1500u) << family_name(f);
        EXPECT_EQ(names.front(), sys_descr);
        bool dsp = std::find(names.begin(), names.end(), "1.3.6.1.4.1.2680.1.4.1.1.0") != names.end();
        EXPECT_EQ(dsp, d.dsp.present) << family_name(f);
    }
}

// The control table entry as the firmware server decodes it.
long decode_entry(const std::string& name)
{
    oid_t c = parse_oid(name);
    uint32_t v = ((c[10] - 1) & 0x3F) | (((c[11] - 1) << 6) & 0xFFF) | (((c[12] - 1) << 12) & 0x3FFFF) |
        (((c[13] - 1) << 18) & 0xFFFFFF) | (((c[14] - 1) << 24) & 0x3FFFFFFF) | static_cast<uint32_t>(c[15] << 30);
    return static_cast<int32_t>(v - 0x40000000u);
}

TEST_F(SnmpEngine, DspControlTableIsFoundByGetNextAndCarriesTheFlashWord)
{
    for (uint32_t word : {0x5A17u, 0u, 0xC0000001u}) {
        device_t d = make(family_t::birchamd);
        d.dsp.flash_word = word;
        d.dsp.args = {7, -3, 99};
        reply r = next(d, "1.3.6.1.4.1.2680.1.4.2");
        ASSERT_EQ(r.error, 0);
        const std::string& entry = r.binds[0].first;
        ASSERT_GE(entry.size(), 4u);
        ASSERT_EQ(entry.substr(entry.size() - 4), ".1.0");
        EXPECT_EQ(static_cast<uint32_t>(decode_entry(entry)), word);
        EXPECT_EQ(r.binds[0].second.integer, 3) << "the entry's value is the argument count";
        std::string prefix = entry.substr(0, entry.size() - 4);
        reply values = get(d,
                           {prefix + ".3.0", prefix + ".4.1.2.1", prefix + ".4.1.2.2", prefix + ".4.1.2.3",
                            prefix + ".2.1.2.1", prefix + ".2.1.2.2", prefix + ".2.1.2.3"});
        ASSERT_EQ(values.error, 0);
        EXPECT_GT(values.binds[0].second.integer, 2);
        EXPECT_EQ(static_cast<uint32_t>(values.binds[1].second.integer), word);
        EXPECT_EQ(values.binds[2].second.integer, d.dsp.arg_base);
        EXPECT_EQ(values.binds[3].second.integer, d.dsp.check_address);
        EXPECT_EQ(values.binds[5].second.integer, -3);
        EXPECT_EQ(get(d, {prefix + ".2.1.2.4"}).error, SNMP_ERR_NOSUCHNAME);
        reply states = get(d, {"1.3.6.1.4.1.2680.1.4.1.1.0", "1.3.6.1.4.1.2680.1.4.1.2.0"});
        EXPECT_EQ(states.binds[0].second.integer, 2);
        EXPECT_EQ(states.binds[1].second.integer, 2);
    }
}

TEST_F(SnmpEngine, ValuesFollowTheDeviceRecord)
{
    device_t d = make(family_t::alderamd, 3);
    d.firmware = {4, 25, 9, 3};
    d.hardware_version = 7;
    reply r = get(d,
                  {E + ".1.2.0", E + ".1.3.0", E + ".1.10.0", E + ".1.9.0", "1.3.6.1.2.1.2.2.1.6.1",
                   "1.3.6.1.2.1.1.3.0", E + ".9.2.2.0"});
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.binds[0].second.integer, 4);
    EXPECT_EQ(r.binds[1].second.integer, 25);
    EXPECT_EQ(r.binds[2].second.integer, 7) << "the hardware value the console reads";
    EXPECT_EQ(r.binds[3].second.integer, 36252);
    EXPECT_EQ(r.binds[4].second.octets, std::string("\x00\x60\x2b\x10\x00\x04", 6));
    EXPECT_EQ(r.binds[5].second.type, ASN_TIMETICKS);
    EXPECT_EQ(r.binds[5].second.integer, 1234);
    EXPECT_EQ(r.binds[6].second.octets, std::string("\xc0\xa8\x4d\x0d", 4));
}

TEST_F(SnmpEngine, OnlyVersionOneRequestsWithAKnownCommunityAreAnswered)
{
    device_t d = make(family_t::dogwood);
    reply r = send(d, request(SNMP_MSG_GET, {bind(sys_name)}, "tagrok"));
    EXPECT_TRUE(r.answered);
    EXPECT_EQ(r.reqid, 4711) << "the answer carries the request's id";
    EXPECT_TRUE(send(d, request(SNMP_MSG_GET, {bind(sys_name)}, "quenmil")).answered);
    EXPECT_FALSE(send(d, request(SNMP_MSG_GET, {bind(sys_name)}, "public")).answered);
    EXPECT_FALSE(send(d, request(SNMP_MSG_SET, {text(sys_name, "x")}, "tagrok")).answered)
        << "the read community cannot write";
    EXPECT_FALSE(send(d, request(SNMP_MSG_GET, {bind(sys_name)}, "tagrok", SNMP_VERSION_2c)).answered);
    EXPECT_FALSE(send(d, request(SNMP_MSG_GETBULK, {bind(sys_name)}, "tagrok", SNMP_VERSION_2c)).answered);
    EXPECT_EQ(get(d, {sys_name}).binds[0].second.octets, "dogwood-0");
    const uint8_t junk[] = {0x30, 0x03, 0x02, 0x01};
    EXPECT_TRUE(answer(mib_, d, store_, junk, sizeof junk, 0).response.empty());
}

TEST_F(SnmpEngine, ForcedErrorAndTooBigAnswers)
{
    device_t d = make(family_t::birch);
    reply forced = send(d, request(SNMP_MSG_SET, {text(sys_name, "never")}), SNMP_ERR_GENERR);
    EXPECT_EQ(forced.error, SNMP_ERR_GENERR);
    EXPECT_EQ(forced.index, 1);
    EXPECT_EQ(get(d, {sys_name}).binds[0].second.octets, "birch-0") << "a refused set changes nothing";
    // Forty copies of a long text do not fit one packet.
    std::vector<std::string> many(40, sys_descr);
    reply big = get(d, many);
    EXPECT_EQ(big.error, SNMP_ERR_TOOBIG);
    EXPECT_EQ(big.binds.size(), 40u);
}

} // namespace
