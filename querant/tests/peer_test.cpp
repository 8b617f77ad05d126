// The poller against real net-snmp agents on loopback addresses inside the
// test's own network namespace (root only): both back-ends through the
// engine, and the automation objects through CoCreateInstance.
#include "querant/querant_com.h"
#include "querant/snmp_manager.h"
#include "querant/snmp_nt.h"

#include <com/com.h>
#include <qm/log_file.h>

#include "com_server.h"
#include "snmpd_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

using namespace querant;
using namespace std::chrono_literals;

namespace {

bool eventually(const std::function<bool()>& f, int ms)
{
    for (int i = 0; i < ms / 20; ++i) {
        if (f())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return f();
}

const std::string E = "1.3.6.1.4.1.2680.1.1";

// Group A serves 127.0.0.2..11, group B 127.0.0.12..21 (separate agents, so
// a set on a device of A changes nothing on B).
std::vector<vx::test::PassVar> device_vars()
{
    return {
        {E + ".1.10.0", "integer", "3", "rw"},
        {E + ".2.0", "string", "hello device", "rw"},
        {E + ".3.0", "octet", "00 60 2b fd 00 01", "rw"},
        {E + ".4.0", "objectid", ".1.3.6.1.4.1.2680.42", "rw"},
        {E + ".5.0", "ipaddress", "10.1.2.3", "rw"},
        {E + ".6.0", "counter", "4294967295", "rw"},
        {E + ".7.0", "gauge", "17", "rw"},
        {E + ".8.0", "timeticks", "123456", "rw"},
        {E + ".9.0", "opaque", "01 02 03", "ro"},
        {E + ".10.0", "opaque", "9f 78 04 3f c0 00 00", "ro"}, // the float 1.5, wrapped
    };
}

std::string ip_of(int i) { return "127.0.0." + std::to_string(i); }

const std::string silent_ip = "127.0.0.60";

// Requests to the agents wait as long as only a fault makes them (10 s an
// attempt; the snmp++ back-end takes a third of the time-out per attempt);
// the silent device's wait is brief.
constexpr long patient_ms = 10000;
constexpr long silent_wait_ms = 300;

class Peer : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite()
    {
        if (!vx::test::running_as_root())
            return;
        std::string why;
        if (!vx::test::enter_private_netns(&why)) {
            setup_error = why;
            return;
        }
        for (int g = 0; g < 2; ++g) {
            agents[g] = new vx::test::Snmpd;
            const std::string script = agents[g]->write_pass_persist("dev", device_vars());
            const std::string conf = "rwcommunity quenmil 127.0.0.0/8 -V dev\n"
                                     "view dev included .1.3.6.1.2.1.1\n"
                                     "view dev included .1.3.6.1.4.1.2680\n"
                                     "sysName sim-device\n"
                                     "pass_persist .1.3.6.1.4.1.2680 " +
                script + "\n";
            std::vector<std::string> addresses;
            for (int i = 0; i < 10; ++i)
                addresses.push_back(ip_of(2 + 10 * g + i));
            if (!agents[g]->start(addresses, conf, &why))
                setup_error = why;
        }
    }
    static void TearDownTestSuite()
    {
        for (auto*& a : agents) {
            delete a;
            a = nullptr;
        }
    }
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for a private network namespace";
        ASSERT_TRUE(setup_error.empty()) << setup_error;
    }

    // Platform 2 gives the manager-library back-end, 1 the snmp++ one.
    std::unique_ptr<snmp_manager_t> engine()
    {
        auto e = std::make_unique<snmp_manager_t>(GetParam() == 2 ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS,
                                                  nullptr);
        e->timeout(GetParam() == 2 ? patient_ms : 3 * patient_ms);
        return e;
    }

    static inline std::string setup_error;
    static inline vx::test::Snmpd* agents[2] = {nullptr, nullptr};
};

TEST_P(Peer, SynchronousGetGetNextAndSet)
{
    auto e = engine();
    e->start();
    auto v = e->get(ip_of(2), E + ".2.0");
    EXPECT_TRUE(v->valid);
    EXPECT_EQ(v->value, "hello device");
    EXPECT_EQ(v->type, 4);
    EXPECT_EQ(v->name, E + ".2.0");

    v = e->get_next(ip_of(3), "1.3.6.1.2.1.1.5");
    EXPECT_TRUE(v->valid);
    EXPECT_EQ(v->name, "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(v->value, "sim-device");

    v = e->set(ip_of(4), E + ".7.0", "42");
    EXPECT_TRUE(v->valid) << v->value;
    EXPECT_EQ(v->value, "42");
    EXPECT_EQ(e->get(ip_of(5), E + ".7.0")->value, "42"); // same agent group
    v = e->set(ip_of(4), E + ".1.10.0", "abc");           // no digits: written as 0
    EXPECT_EQ(v->value, "0");
    v = e->set(ip_of(4), E + ".4.0", "1.3.6.1.4.1.2680.7");
    EXPECT_TRUE(v->valid) << v->value;
    EXPECT_EQ(v->value, "1.3.6.1.4.1.2680.7");
    v = e->set(ip_of(4), E + ".5.0", "192.168.7.9");
    EXPECT_TRUE(v->valid) << v->value;
    EXPECT_EQ(v->value, "192.168.7.9");
    v = e->set(ip_of(4), E + ".4.0", "not an oid");
    EXPECT_FALSE(v->valid);
    EXPECT_EQ(v->value, "Could not convert not an oid to snmp variable");
    // Unsigned values from 2^31 on are written as given; a value that does
    // not fit its type is refused, never cut or clamped.
    for (const char* big : {"2147483648", "4294967295"}) {
        v = e->set(ip_of(4), E + ".7.0", big);
        EXPECT_TRUE(v->valid) << v->value;
        EXPECT_EQ(v->value, big);
        EXPECT_EQ(e->get(ip_of(5), E + ".7.0")->value, big);
    }
    for (const auto& [oid, text] :
         std::vector<std::pair<std::string, std::string>>{{E + ".7.0", "4294967296"},
                                                          {E + ".7.0", "-1"},
                                                          {E + ".1.10.0", "2147483648"},
                                                          {E + ".1.10.0", "-2147483649"},
                                                          {E + ".8.0", "99999999999999999999999"}}) {
        v = e->set(ip_of(4), oid, text);
        EXPECT_FALSE(v->valid) << oid << " " << text;
        EXPECT_EQ(v->value, "Could not convert " + text + " to snmp variable");
    }
    EXPECT_EQ(e->get(ip_of(5), E + ".7.0")->value, "4294967295");
    e->set(ip_of(4), E + ".7.0", "17");

    v = e->get(ip_of(2), "1.3.6.1.4.1.2680.9.9.9.0");
    EXPECT_FALSE(v->valid);
    EXPECT_EQ(v->value, GetParam() == 2 ? "Unknown variable" : "SNMP Error: SNMP: Variable does not exist");
    EXPECT_EQ(e->watch_size(), 0);
}

TEST_P(Peer, EveryPrintableValueType)
{
    auto e = engine();
    e->start();
    e->set(ip_of(12), E + ".7.0", "17");
    e->set(ip_of(12), E + ".1.10.0", "3");
    const std::map<std::string, std::pair<std::string, int>> expected = {
        {E + ".1.10.0", {"3", 2}},
        {E + ".2.0", {"hello device", 4}},
        {E + ".3.0", {"  00 60 2B FD 00 01 " + std::string(10 * 3 + 3, ' ') + ".`+...\n", 4}},
        {E + ".4.0", {"1.3.6.1.4.1.2680.42", 6}},
        {E + ".5.0", {"10.1.2.3", 64}},
        {E + ".6.0", {"4294967295", 65}},
        {E + ".7.0", {"17", 66}},
        {E + ".8.0", {"0:20:34.56", 67}},
        {E + ".9.0", {"  01 02 03 " + std::string(13 * 3 + 3, ' ') + "...\n", 68}},
        {E + ".10.0", {"  9F 78 04 3F C0 00 00 " + std::string(9 * 3 + 3, ' ') + ".x.?...\n", 68}},
    };
    for (auto& [oid, want] : expected) {
        auto v = e->get(ip_of(13), oid);
        EXPECT_TRUE(v->valid) << oid << ": " << v->value;
        EXPECT_EQ(v->value, want.first) << oid;
        EXPECT_EQ(v->type, want.second) << oid;
    }
}

TEST_P(Peer, WatchedVariablesOfTwentyDevicesAreReadOncePerPeriod)
{
    const std::vector<std::string> vars = {E + ".2.0", E + ".6.0", E + ".7.0"};
    // Changes collected until every entry has reported once.
    auto collect = [](snmp_manager_t& e, variable_list_t& changes, std::map<std::string, int>& per_device,
                      const std::function<bool()>& enough) {
        return eventually(
            [&] {
                e.get_changes(changes);
                per_device.clear();
                for (auto& v : changes)
                    ++per_device[v->ip];
                return enough();
            },
            60000);
    };

    // A silent device beside an answering one reports its time-out and
    // holds its own turn only: the other's entries report too. The waits are
    // brief here, so the other's values may be time-outs on a loaded machine.
    {
        auto s = engine();
        s->poll_period(1000);
        s->timeout(silent_wait_ms);
        s->retry_count(0);
        s->watch_list_add(silent_ip, E + ".2.0");
        for (auto& v : vars)
            s->watch_list_add(ip_of(21), v);
        s->start();
        variable_list_t changes;
        std::map<std::string, int> per_device;
        ASSERT_TRUE(
            collect(*s, changes, per_device, [&] { return per_device[silent_ip] >= 1 && per_device[ip_of(21)] >= 3; }));
        for (auto& v : changes) {
            if (v->ip != silent_ip)
                continue;
            EXPECT_FALSE(v->valid);
            EXPECT_EQ(v->value, GetParam() == 2 ? "Request timeout" : "SNMP Error: SNMP++: SNMP request timed out");
        }
        EXPECT_EQ(per_device[silent_ip], 1);
        s->stop();
    }

    auto e = engine();
    e->poll_period(1000);
    e->retry_count(0);
    for (int d = 2; d < 22; ++d)
        for (auto& v : vars)
            e->watch_list_add(ip_of(d), v);
    EXPECT_EQ(e->watch_size(), 60);
    e->start();

    // Every device's variables read, each once.
    variable_list_t changes;
    std::map<std::string, int> per_device;
    ASSERT_TRUE(collect(*e, changes, per_device, [&] {
        for (int d = 2; d < 22; ++d)
            if (per_device[ip_of(d)] < 3)
                return false;
        return true;
    }));
    for (auto& v : changes)
        EXPECT_TRUE(v->valid) << v->ip << " " << v->name << ": " << v->value;
    for (int d = 2; d < 22; ++d)
        EXPECT_EQ(per_device[ip_of(d)], 3) << ip_of(d);

    // A write on group A shows in group A's change lists only, and only for
    // the variable that changed: nothing else changes meanwhile.
    auto w = e->set(ip_of(2), E + ".7.0", "99");
    ASSERT_TRUE(w->valid) << w->value;
    changes.clear();
    ASSERT_TRUE(eventually(
        [&] {
            e->get_changes(changes);
            return changes.size() >= 10;
        },
        30000));
    std::set<std::string> written;
    for (auto& v : changes) {
        EXPECT_EQ(v->name, E + ".7.0") << v->ip;
        EXPECT_EQ(v->value, "99") << v->ip;
        written.insert(v->ip);
    }
    EXPECT_EQ(changes.size(), 10u);
    for (int d = 2; d < 12; ++d)
        EXPECT_EQ(written.count(ip_of(d)), 1u) << ip_of(d);
    e->set(ip_of(2), E + ".7.0", "17");
    e->stop();
}

INSTANTIATE_TEST_SUITE_P(Backends, Peer, ::testing::Values(1, 2),
                         [](const auto& info) { return info.param == 2 ? "mgmtapi" : "snmppp"; });

// ---- the automation server --------------------------------------------------------------

struct Com : Peer {};

TEST_P(Com, RegisteredServerPollsThroughTheAutomationInterface)
{
    if (GetParam() != 2)
        GTEST_SKIP() << "the server picks its back-end itself";
    const auto home = test_home("com");
    ASSERT_NO_FATAL_FAILURE(register_server(home));

    CoInitialize(nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_com_manager, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)),
              S_OK);
    Icom_manager* manager = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_Icom_manager, reinterpret_cast<void**>(&manager)), S_OK);
    unknown->Release();

    auto bstr = [](const std::string& s) { return _bstr_t(s.c_str()); };
    ASSERT_EQ(manager->put_poll_period(500), S_OK);
    ASSERT_EQ(manager->start(), S_OK);
    for (int d = 2; d < 7; ++d)
        ASSERT_EQ(manager->watch(bstr(ip_of(d)), bstr(E + ".2.0")), S_OK);
    long size = 0;
    manager->get_watch_size(&size);
    EXPECT_EQ(size, 5);

    IDispatch* result = nullptr;
    ASSERT_EQ(manager->get(bstr(ip_of(3)), bstr(E + ".8.0"), &result), S_OK);
    Icom_variable* variable = nullptr;
    ASSERT_EQ(result->QueryInterface(IID_Icom_variable, reinterpret_cast<void**>(&variable)), S_OK);
    BSTR value = nullptr;
    variable->get_value(&value);
    EXPECT_EQ(com::bstr_to_utf8(value), "0:20:34.56");
    SysFreeString(value);
    long valid = 0, type = 0;
    variable->get_valid(&valid);
    variable->get_type(&type);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(type, 67);
    variable->Release();
    result->Release();

    // The first periods may have counted only the watches made so far:
    // collect the changes until every device has reported once.
    long seen = 0;
    for (int round = 0; round < 300 && seen < 5; ++round) {
        std::this_thread::sleep_for(100ms);
        IDispatch* changes = nullptr;
        ASSERT_EQ(manager->get_changes(&changes), S_OK);
        Icom_variable_vector* vector = nullptr;
        ASSERT_EQ(changes->QueryInterface(IID_Icom_variable_vector, reinterpret_cast<void**>(&vector)), S_OK);
        long length = 0;
        vector->get_length(&length);
        if (length > 0) {
            IDispatch* element = nullptr;
            ASSERT_EQ(vector->at(length - 1, &element), S_OK);
            element->Release();
        }
        seen += length;
        vector->Release();
        changes->Release();
    }
    EXPECT_EQ(seen, 5);

    // Engine failures come back as the error object.
    EXPECT_EQ(manager->put_poll_period(99), DISP_E_EXCEPTION);
    ASSERT_NO_FATAL_FAILURE(expect_error_info("Out of range of the poll_period", "Querant.com_manager.1"));

    EXPECT_EQ(manager->stop(), S_OK);
    manager->Release();
    std::filesystem::remove_all(home);
}

INSTANTIATE_TEST_SUITE_P(Server, Com, ::testing::Values(2));

} // namespace
