// The SNMP manager libraries, loaded by name as the poller loads them, against
// a real snmpd on 127.0.0.2 inside the test's own network namespace.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "mgmtapi.h"
#include "snmpd_fixture.h"

namespace {

struct Api {
    HMODULE mgmt = nullptr;
    HMODULE util = nullptr;
    decltype(&SnmpMgrOpen) open = nullptr;
    decltype(&SnmpMgrClose) close = nullptr;
    decltype(&SnmpMgrStrToOid) str_to_oid = nullptr;
    decltype(&SnmpMgrRequest) request = nullptr;
    decltype(&SnmpUtilVarBindListFree) list_free = nullptr;
    decltype(&SnmpUtilMemFree) mem_free = nullptr;
    decltype(&SnmpUtilMemAlloc) mem_alloc = nullptr;
    decltype(&SnmpUtilMemReAlloc) mem_realloc = nullptr;
};

template <typename F> void bind(HMODULE m, const char* name, F& out) { out = vx_proc_cast<F>(GetProcAddress(m, name)); }

const Api& api()
{
    static Api a = [] {
        Api x;
        x.mgmt = LoadLibraryA("mgmtapi.dll");
        x.util = LoadLibraryA("snmpapi.dll");
        if (x.mgmt) {
            bind(x.mgmt, "SnmpMgrOpen", x.open);
            bind(x.mgmt, "SnmpMgrClose", x.close);
            bind(x.mgmt, "SnmpMgrStrToOid", x.str_to_oid);
            bind(x.mgmt, "SnmpMgrRequest", x.request);
        }
        if (x.util) {
            bind(x.util, "SnmpUtilVarBindListFree", x.list_free);
            bind(x.util, "SnmpUtilMemFree", x.mem_free);
            bind(x.util, "SnmpUtilMemAlloc", x.mem_alloc);
            bind(x.util, "SnmpUtilMemReAlloc", x.mem_realloc);
        }
        return x;
    }();
    return a;
}

std::string oid_text(const AsnObjectIdentifier& oid)
{
    std::string s;
    for (UINT i = 0; i < oid.idLength; ++i)
        s += (i ? "." : "") + std::to_string(oid.ids[i]);
    return s;
}

// A one-binding list for `oid` (dotted, with leading dot) with a NULL value.
SnmpVarBindList one_binding(const char* oid)
{
    SnmpVarBindList list{};
    list.list = static_cast<SnmpVarBind*>(api().mem_alloc(sizeof(SnmpVarBind)));
    list.len = 1;
    std::string text = oid;
    api().str_to_oid(text.data(), &list.list[0].name);
    list.list[0].value.asnType = ASN_NULL;
    return list;
}

class MgmtApiLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(api().mgmt, nullptr) << "libmgmtapi.so not loaded: " << GetLastError();
        ASSERT_NE(api().util, nullptr) << "libsnmpapi.so not loaded: " << GetLastError();
        ASSERT_TRUE(api().open && api().close && api().str_to_oid && api().request);
        ASSERT_TRUE(api().list_free && api().mem_free && api().mem_alloc && api().mem_realloc);
    }
};

TEST_F(MgmtApiLoad, StrToOidTakesAbsoluteAndMib2RelativeNumbers)
{
    AsnObjectIdentifier oid{};
    char absolute[] = ".1.3.6.1.2.1.1.5.0";
    ASSERT_TRUE(api().str_to_oid(absolute, &oid));
    EXPECT_EQ(oid_text(oid), "1.3.6.1.2.1.1.5.0");
    api().mem_free(oid.ids);
    char relative[] = "1.5.0";
    ASSERT_TRUE(api().str_to_oid(relative, &oid));
    EXPECT_EQ(oid_text(oid), "1.3.6.1.2.1.1.5.0");
    api().mem_free(oid.ids);
    for (const char* bad : {"", ".", "sysName.0", "..1.3.6", ".1.3.", ".1.x.3"}) {
        std::string text = bad;
        AsnObjectIdentifier none{};
        EXPECT_FALSE(api().str_to_oid(text.data(), &none)) << bad;
        EXPECT_EQ(none.ids, nullptr);
    }
}

TEST_F(MgmtApiLoad, MemoryAndListCalls)
{
    void* p = api().mem_alloc(16);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(p)[15], 0);
    p = api().mem_realloc(p, 0); // a zero size keeps a valid block
    ASSERT_NE(p, nullptr);
    p = api().mem_realloc(p, 64);
    ASSERT_NE(p, nullptr);
    api().mem_free(p);

    SnmpVarBindList list = one_binding(".1.3.6.1.2.1.1.5.0");
    list.list[0].value.asnType = ASN_OCTETSTRING;
    list.list[0].value.asnValue.string.stream = static_cast<BYTE*>(api().mem_alloc(3));
    list.list[0].value.asnValue.string.length = 3;
    list.list[0].value.asnValue.string.dynamic = TRUE;
    api().list_free(&list);
    EXPECT_EQ(list.list, nullptr);
    EXPECT_EQ(list.len, 0u);
    api().list_free(&list); // an empty list is fine
}

TEST_F(MgmtApiLoad, BadArgumentsFailWithTheirLastError)
{
    char bad_agent[] = "0.0.0.0.";
    char community[] = "public";
    EXPECT_EQ(api().open(bad_agent, community, 1000, 1), nullptr);
    EXPECT_EQ(GetLastError(), 11001u);
    char host_name[] = "localhost";
    EXPECT_EQ(api().open(host_name, community, 1000, 1), nullptr);

    AsnInteger status = -1, index = -1;
    SnmpVarBindList list = one_binding(".1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(api().request(nullptr, SNMP_PDU_GET, &list, &status, &index), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SNMP_MGMTAPI_INVALID_SESSION));
    char agent[] = "127.0.0.1:9";
    LPSNMP_MGR_SESSION s = api().open(agent, community, 100, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(api().request(s, 0xA5, &list, &status, &index), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SNMP_MGMTAPI_INVALID_CTL));
    SnmpVarBindList empty{};
    EXPECT_EQ(api().request(s, SNMP_PDU_GET, &empty, &status, &index), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(api().close(s));
    api().list_free(&list);
}

const std::string E = "1.3.6.1.4.1.99999";

class MgmtApiAgent : public MgmtApiLoad {
protected:
    static void SetUpTestSuite()
    {
        if (!vx::test::running_as_root())
            return;
        agent_ = vx::test::start_device_agent(
            {
                {E + ".1.0", "integer", "-17", "rw"},
                {E + ".2.0", "string", "hello device", "rw"},
                {E + ".3.0", "octet", "00 60 2b fd 00 01", "rw"},
                {E + ".4.0", "objectid", ".1.3.6.1.4.1.99999.42", "ro"},
                {E + ".5.0", "ipaddress", "10.1.2.3", "rw"},
                {E + ".6.0", "counter", "4294967295", "ro"},
                {E + ".7.0", "gauge", "17", "rw"},
                {E + ".8.0", "timeticks", "123456", "rw"},
                {E + ".9.0", "opaque", "01 02 03", "ro"},
                {E + ".11.0", "integer", "5", "commit-failed"},
            },
            "rwcommunity quenmil 127.0.0.0/8 -V dev\n", &setup_error_);
    }
    static void TearDownTestSuite()
    {
        delete agent_;
        agent_ = nullptr;
    }
    void SetUp() override
    {
        MgmtApiLoad::SetUp();
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for a private network namespace";
        ASSERT_TRUE(setup_error_.empty()) << setup_error_;
        // Requests to the agent wait as long as only a fault makes them.
        char agent[] = "127.0.0.2";
        char community[] = "quenmil";
        session_ = api().open(agent, community, 10000, 1);
        ASSERT_NE(session_, nullptr) << GetLastError();
    }
    void TearDown() override
    {
        if (session_) {
            EXPECT_TRUE(api().close(session_));
        }
    }
    // One request on `oid`; returns the function's result.
    int request(BYTE type, const std::string& oid, SnmpVarBindList& list, AsnInteger& status, AsnInteger& index)
    {
        list = one_binding(("." + oid).c_str());
        return api().request(session_, type, &list, &status, &index);
    }

    static vx::test::Snmpd* agent_;
    static std::string setup_error_;
    LPSNMP_MGR_SESSION session_ = nullptr;
};

vx::test::Snmpd* MgmtApiAgent::agent_ = nullptr;
std::string MgmtApiAgent::setup_error_;

TEST_F(MgmtApiAgent, GetReturnsEveryValueType)
{
    SnmpVarBindList list{};
    AsnInteger status = -1, index = -1;

    ASSERT_TRUE(request(SNMP_PDU_GET, E + ".1.0", list, status, index)) << GetLastError();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(index, 0);
    ASSERT_EQ(list.len, 1u);
    EXPECT_EQ(oid_text(list.list[0].name), E + ".1.0");
    EXPECT_EQ(list.list[0].value.asnType, ASN_INTEGER);
    EXPECT_EQ(list.list[0].value.asnValue.number, -17);
    api().list_free(&list);

    ASSERT_TRUE(request(SNMP_PDU_GET, E + ".3.0", list, status, index));
    const AsnOctetString& mac = list.list[0].value.asnValue.string;
    EXPECT_EQ(list.list[0].value.asnType, ASN_OCTETSTRING);
    ASSERT_EQ(mac.length, 6u);
    EXPECT_EQ(std::memcmp(mac.stream, "\x00\x60\x2b\xfd\x00\x01", 6), 0);
    EXPECT_TRUE(mac.dynamic);
    api().list_free(&list);

    ASSERT_TRUE(request(SNMP_PDU_GET, E + ".4.0", list, status, index));
    EXPECT_EQ(list.list[0].value.asnType, ASN_OBJECTIDENTIFIER);
    EXPECT_EQ(oid_text(list.list[0].value.asnValue.object), E + ".42");
    api().list_free(&list);

    ASSERT_TRUE(request(SNMP_PDU_GET, E + ".5.0", list, status, index));
    EXPECT_EQ(list.list[0].value.asnType, ASN_IPADDRESS);
    ASSERT_EQ(list.list[0].value.asnValue.address.length, 4u);
    EXPECT_EQ(std::memcmp(list.list[0].value.asnValue.address.stream, "\x0a\x01\x02\x03", 4), 0);
    api().list_free(&list);

    struct {
        const char* n;
        BYTE type;
        ULONG value;
    } unsigned_cases[] = {
        {".6.0", ASN_COUNTER32, 4294967295u}, {".7.0", ASN_GAUGE32, 17}, {".8.0", ASN_TIMETICKS, 123456}};
    for (auto& c : unsigned_cases) {
        ASSERT_TRUE(request(SNMP_PDU_GET, E + c.n, list, status, index));
        EXPECT_EQ(list.list[0].value.asnType, c.type) << c.n;
        EXPECT_EQ(list.list[0].value.asnValue.unsigned32, c.value) << c.n;
        api().list_free(&list);
    }

    ASSERT_TRUE(request(SNMP_PDU_GET, E + ".9.0", list, status, index));
    EXPECT_EQ(list.list[0].value.asnType, ASN_OPAQUE);
    EXPECT_EQ(list.list[0].value.asnValue.arbitrary.length, 3u);
    api().list_free(&list);

    // v1: an unknown name is an error status with its index, not a failure.
    ASSERT_TRUE(request(SNMP_PDU_GET, E + ".99.0", list, status, index));
    EXPECT_EQ(status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(index, 1);
    api().list_free(&list);
}

TEST_F(MgmtApiAgent, GetNextReturnsTheFollowingName)
{
    SnmpVarBindList list{};
    AsnInteger status = -1, index = -1;
    ASSERT_TRUE(request(SNMP_PDU_GETNEXT, "1.3.6.1.2.1.1.5", list, status, index));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(oid_text(list.list[0].name), "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(list.list[0].value.asnType, ASN_OCTETSTRING);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list.list[0].value.asnValue.string.stream),
                          list.list[0].value.asnValue.string.length),
              "sim-device");
    api().list_free(&list);
    ASSERT_TRUE(request(SNMP_PDU_GETNEXT, E + ".11.0", list, status, index));
    EXPECT_EQ(status, SNMP_ERRORSTATUS_NOSUCHNAME); // end of the view
    api().list_free(&list);
}

TEST_F(MgmtApiAgent, SetWritesAndReportsAgentErrors)
{
    SnmpVarBindList list{};
    AsnInteger status = -1, index = -1;

    list = one_binding(("." + E + ".7.0").c_str());
    list.list[0].value.asnType = ASN_GAUGE32;
    list.list[0].value.asnValue.gauge = 4000000000u;
    ASSERT_TRUE(api().request(session_, SNMP_PDU_SET, &list, &status, &index)) << GetLastError();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(list.list[0].value.asnValue.gauge, 4000000000u);
    api().list_free(&list);

    list = one_binding(("." + E + ".2.0").c_str());
    list.list[0].value.asnType = ASN_OCTETSTRING;
    char text[] = "written";
    list.list[0].value.asnValue.string = {reinterpret_cast<BYTE*>(text), 7, FALSE};
    ASSERT_TRUE(api().request(session_, SNMP_PDU_SET, &list, &status, &index));
    EXPECT_EQ(status, 0);
    api().list_free(&list);
    ASSERT_TRUE(request(SNMP_PDU_GET, E + ".2.0", list, status, index));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list.list[0].value.asnValue.string.stream),
                          list.list[0].value.asnValue.string.length),
              "written");
    api().list_free(&list);

    // Read-only (noSuchName in v1), wrong type (badValue), a failing commit (genErr).
    struct {
        const char* n;
        BYTE type;
        AsnInteger expected;
    } errors[] = {{".6.0", ASN_COUNTER32, SNMP_ERRORSTATUS_NOSUCHNAME},
                  {".1.0", ASN_GAUGE32, SNMP_ERRORSTATUS_BADVALUE},
                  {".11.0", ASN_INTEGER, SNMP_ERRORSTATUS_GENERR}};
    for (auto& c : errors) {
        list = one_binding(("." + E + c.n).c_str());
        list.list[0].value.asnType = c.type;
        list.list[0].value.asnValue.number = 1;
        ASSERT_TRUE(api().request(session_, SNMP_PDU_SET, &list, &status, &index)) << c.n;
        EXPECT_EQ(status, c.expected) << c.n;
        EXPECT_EQ(index, 1) << c.n;
        api().list_free(&list);
    }
}

TEST_F(MgmtApiAgent, NoAnswerFailsWithTheTimeoutError)
{
    char silent[] = "127.0.0.9";
    char community[] = "quenmil";
    LPSNMP_MGR_SESSION s = api().open(silent, community, 150, 2);
    ASSERT_NE(s, nullptr);
    SnmpVarBindList list = one_binding(".1.3.6.1.2.1.1.5.0");
    AsnInteger status = -1, index = -1;
    const auto t0 = std::chrono::steady_clock::now();
    SetLastError(0);
    EXPECT_EQ(api().request(s, SNMP_PDU_GET, &list, &status, &index), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SNMP_MGMTAPI_TIMEOUT));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 400);      // three attempts of 150 ms
    EXPECT_LT(ms, 20000);    // not seconds each: a bound a loaded machine never reaches
    EXPECT_EQ(list.len, 1u); // the caller's list is left as it was
    EXPECT_TRUE(api().close(s));

    char agent[] = "127.0.0.2";
    char wrong[] = "nobody";
    s = api().open(agent, wrong, 100, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(api().request(s, SNMP_PDU_GET, &list, &status, &index), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SNMP_MGMTAPI_TIMEOUT));
    EXPECT_TRUE(api().close(s));
    api().list_free(&list);
}

} // namespace
