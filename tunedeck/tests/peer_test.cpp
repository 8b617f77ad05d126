// The session and the model against net-snmp's snmpd in the test's own
// network namespace: the session's result codes for real agent answers, and
// devices with 1, 2 and 16 bundles opened, read whole and written back.
#include "DeviceMib.h"

#include <gtest/gtest.h>
#include <snmp_pp/snmp_pp.h>

#include <algorithm>
#include <cstring>

#include "device_agent.h"

using namespace mib;
using tdtest::DeviceAgent;
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

class Peer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        agents.push_back(std::make_unique<DeviceAgent>(Codes()));
        agents.push_back(std::make_unique<DeviceAgent>(DeviceProfile{"127.0.0.11", 1, 1, {}, {}}));
        agents.push_back(std::make_unique<DeviceAgent>(DeviceProfile{"127.0.0.12", 2, 2, {}, {}}));
        agents.push_back(std::make_unique<DeviceAgent>(DeviceProfile{"127.0.0.13", 16, 16, {}, {}}));
        agents.push_back(std::make_unique<DeviceAgent>(DeviceProfile{"127.0.0.14", 0, 2, {}, {}}));
        if (!tdtest::StartAgents(agents, &error))
            agents.clear();
    }
    static void TearDownTestSuite() { agents.clear(); }
    void SetUp() override
    {
        if (agents.empty())
            GTEST_SKIP() << "no agents: " << error;
    }

    static std::vector<std::unique_ptr<DeviceAgent>> agents;
    static std::string error;
};
std::vector<std::unique_ptr<DeviceAgent>> Peer::agents;
std::string Peer::error;

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

TEST_F(Peer, DevicesOpenWithTheirBundleCountsAndReadWhole)
{
    const struct {
        const char* address;
        int tx, rx;
    } devices[] = {{"127.0.0.11", 1, 1}, {"127.0.0.12", 2, 2}, {"127.0.0.13", 16, 16}, {"127.0.0.14", 0, 2}};
    CDeviceMib mib;  // one model, opened device after device
    mib.SetTimeout(100);
    for (const auto& d : devices) {
        SCOPED_TRACE(d.address);
        ASSERT_EQ(mib.Open(d.address), 0);
        EXPECT_EQ(mib.GetTransmitterCount(), d.tx);
        EXPECT_EQ(mib.GetReceiverCount(), d.rx);

        // Every variable in batches of at most 16, then every value checked
        // through the cache.
        struct Cell {
            int row, x, y;
        };
        std::vector<Cell> cells;
        for (int row = 0; row < RowCount; ++row) {
            if (row == ifAddressInteger)
                continue;  // no such instance on any device
            const int n = row == txSubMap || row == txSubFormat || row == txBundle ? d.tx
                          : row >= txSubCount && row <= txReceivers             ? d.tx
                          : row >= rxSubMap && row <= rxStatus                  ? d.rx
                          : row == rxDelay || row == rxMinDelay                 ? d.rx
                          : row == audioMap                                     ? 64
                          : row == ifmtStatus                                   ? 2
                                                                                : 1;
            const int channels = IsChannelTable(row) ? 8 : 1;
            for (int x = 0; x < n; ++x)
                for (int y = 0; y < channels; ++y)
                    cells.push_back({row, x, y});
        }
        for (size_t i = 0; i < cells.size(); i += 16) {
            mib.ClearBatch();
            for (size_t k = i; k < std::min(cells.size(), i + 16); ++k)
                ASSERT_EQ(mib.Queue(cells[k].row, true, cells[k].x, cells[k].y), 0);
            ASSERT_EQ(mib.RunBatch(), 0) << "cells from " << i;
        }
        for (const Cell& c : cells) {
            bool valid = false;
            mib.IsValid(c.row, &valid, c.x, c.y);
            EXPECT_TRUE(valid) << c.row << " " << c.x << " " << c.y;
        }
        int32_t v = 0;
        for (int x = 0; x < d.tx; ++x) {
            EXPECT_EQ(mib.Get(txBundle, &v, x), 0);
            EXPECT_EQ(v, 1001 + x);
            EXPECT_EQ(mib.Get(txSubMap, &v, x, 7), 0);
            EXPECT_EQ(v, 8);
        }
        for (int x = 0; x < d.rx; ++x) {
            EXPECT_EQ(mib.Get(rxBundle, &v, x), 0);
            EXPECT_EQ(v, 2001 + x);
        }
        const char* text = nullptr;
        EXPECT_EQ(mib.Get(sysUpTime, &text), 0);
        EXPECT_STREQ(text, "0:20:34.56");
        const unsigned char* mac = nullptr;
        EXPECT_EQ(mib.Get(ifPhysAddress, &mac), 0);
        EXPECT_EQ(mac[0], 6);
        EXPECT_EQ(mac[7], std::stoi(std::string(d.address).substr(8)));
        const unsigned char* mask = nullptr;
        EXPECT_EQ(mib.Get(ipAdEntNetMask, &mask), 0);
        EXPECT_EQ(std::vector<unsigned char>(mask, mask + 6), (std::vector<unsigned char>{4, 0, 255, 255, 255, 0}));
    }
}

TEST_F(Peer, BundleEditsAreWrittenAndReadBack)
{
    CDeviceMib mib;
    DeviceAgent& agent = *agents[2];  // 2 tx, 2 rx
    ASSERT_EQ(mib.Open("127.0.0.12"), 0);
    for (int y = 0; y < 8; ++y)
        ASSERT_EQ(mib.Get(txSubMap, nullptr, 1, y), 0);
    const size_t before = agent.Sets().size();
    ASSERT_EQ(mib.Set(txBundle, 3333, 1), 0);
    ASSERT_EQ(mib.Set(txSubMap, 17, 1, 4), 0);
    ASSERT_EQ(mib.Set(rxSubMap, 40, 0, 2), 0);
    EXPECT_EQ(mib.Write(txBundle, false, 1), 0);
    EXPECT_EQ(mib.WriteTransmitter(1, false), 0);
    EXPECT_EQ(mib.WriteReceiver(0, false), 0);
    EXPECT_EQ(mib.WriteReceiver(0, false), 0);  // nothing changed any more

    const std::vector<std::string> sets = agent.Sets();
    ASSERT_EQ(sets.size(), before + 3);
    EXPECT_EQ(sets[before], Instance(E + ".7.1.1.2", 2) + " integer 3333");
    EXPECT_EQ(sets[before + 1], Instance(E + ".7.2.1.2", 2, 5) + " integer 17");
    EXPECT_EQ(sets[before + 2], Instance(E + ".6.2.1.2", 1, 3) + " integer 40");

    CDeviceMib fresh;
    ASSERT_EQ(fresh.Open("127.0.0.12"), 0);
    int32_t v = 0;
    EXPECT_EQ(fresh.Get(txBundle, &v, 1), 0);
    EXPECT_EQ(v, 3333);
    EXPECT_EQ(fresh.Get(txSubMap, &v, 1, 4), 0);
    EXPECT_EQ(v, 17);
    EXPECT_EQ(fresh.Get(rxSubMap, &v, 0, 2), 0);
    EXPECT_EQ(v, 40);
}

} // namespace
