// CDeviceMib against the in-process agent: bundle counts at every open, index
// checks, the cache and its marks, cell capacities, batches and the delay.
#include "DeviceMib.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_agent.h"

using namespace mib;

namespace {

const std::string E = "1.3.6.1.4.1.2680.1.1";

std::string At(const std::string& column, int x) { return column + "." + std::to_string(x); }

// A device with tx transmitters and rx receivers: bundle numbers 100 + x
// (tx) and 200 + x (rx), and a few scalars.
void FillDevice(tdtest::FakeAgent& agent, int tx, int rx)
{
    for (int x = 1; x <= 16; ++x)
        for (const char* c : {".7.1.1.2", ".7.1.1.5", ".7.1.1.9", ".7.1.1.10", ".7.1.1.11", ".6.1.1.2", ".6.1.1.6"})
            agent.Remove(At(E + c, x));
    for (int x = 1; x <= tx; ++x) {
        agent.PutInt(At(E + ".7.1.1.2", x), 100 + x);
        for (const char* c : {".7.1.1.5", ".7.1.1.9", ".7.1.1.10", ".7.1.1.11"})
            agent.PutInt(At(E + c, x), x);
        for (int y = 1; y <= 8; ++y)
            agent.PutInt(E + ".7.2.1.2." + std::to_string(x) + "." + std::to_string(y), y);
    }
    for (int x = 1; x <= rx; ++x) {
        agent.PutInt(At(E + ".6.1.1.2", x), 200 + x);
        agent.PutInt(At(E + ".6.1.1.6", x), 1);
    }
    agent.PutInt(E + ".4.4.0", 1);
    agent.PutInt(E + ".2.7.0", 1);
    agent.PutText("1.3.6.1.2.1.1.5.0", "device-one");
    agent.PutOctets("1.3.6.1.2.1.2.2.1.6.1", {0x00, 0x60, 0x2b, 0xfd, 0x00, 0x01});
}

class Mib : public ::testing::Test {
protected:
    void Open(int tx, int rx)
    {
        FillDevice(agent, tx, rx);
        mib.SetDelay(0);
        ASSERT_EQ(mib.Open("127.0.0.2"), 0);
        agent.log.clear();
    }

    tdtest::FakeAgent agent;
    CDeviceMib mib;
};

TEST_F(Mib, EveryOpenCountsAfreshAndTableRowsAlwaysNameTheirInstance)
{
    Open(1, 1);
    int32_t v = 0;
    EXPECT_EQ(mib.Get(txBundle, &v, 0), 0);
    EXPECT_EQ(v, 101);
    EXPECT_EQ(agent.log.back().oids[0], E + ".7.1.1.2.1");
    EXPECT_EQ(mib.Get(txBundle, &v, 1), MIB_X_RANGE);

    Open(16, 3); // the same model, a bigger device
    EXPECT_EQ(mib.GetTransmitterCount(), 16);
    EXPECT_EQ(mib.GetReceiverCount(), 3);
    EXPECT_EQ(mib.Get(txSubMap, &v, 15, 7), 0);
    EXPECT_EQ(agent.log.back().oids[0], E + ".7.2.1.2.16.8");
    EXPECT_EQ(mib.Get(rxBundle, &v, 3), MIB_X_RANGE);

    Open(0, 2); // no transmitters: the bundle row is empty, the channel rows keep their shape
    EXPECT_EQ(mib.Get(txBundle, &v, 0), MIB_X_RANGE);
    EXPECT_EQ(mib.GetTxChannels(0), 0);
    EXPECT_EQ(mib.MarkValid(txSubMap, false, 15, 7), 0);
}

TEST_F(Mib, FailedOpenLeavesEverythingClosed)
{
    FillDevice(agent, 2, 2);
    agent.failWith = SNMP_CLASS_TIMEOUT;
    EXPECT_EQ(mib.Open("127.0.0.2"), SNMPS_FAILED);
    EXPECT_EQ(agent.log.size(), 1u); // the first receiver probe
    agent.failWith = 0;
    EXPECT_EQ(mib.Open("0.0.0.0."), SNMPS_BAD_ADDRESS);
    EXPECT_FALSE(mib.IsOpen());
    EXPECT_EQ(mib.GetReceiverCount(), 0);

    int32_t v = 0;
    char buffer[8] = {};
    EXPECT_EQ(mib.Get(99, &v), MIB_NOT_OPEN); // the open flag comes first
    EXPECT_EQ(mib.Set(condStatus, 1), MIB_NOT_OPEN);
    EXPECT_EQ(mib.Queue(condStatus, true), MIB_NOT_OPEN);
    EXPECT_EQ(mib.RunBatch(), MIB_NOT_OPEN);
    EXPECT_EQ(mib.WriteTransmitter(0, true), MIB_NOT_OPEN);
    EXPECT_EQ(mib.SnmpGet("1.3.6.1.2.1.1.5.0", KIND_TEXT, buffer, sizeof buffer), MIB_NOT_OPEN);
    EXPECT_EQ(mib.SnmpSetValue("1.3.6.1.2.1.1.5.0", KIND_TEXT, buffer, sizeof buffer), MIB_NOT_OPEN);
}

TEST_F(Mib, IndexesAreCheckedRowFirstThenXThenY)
{
    Open(2, 2);
    const struct {
        int row, x, y, result;
    } cases[] = {
        {53, 0, 0, MIB_NO_ROW},         {-1, 0, 0, MIB_NO_ROW},         {txSubMap, 3, 8, MIB_X_RANGE},
        {txSubMap, 2, 0, MIB_X_RANGE},  {txSubMap, 1, 8, MIB_Y_RANGE},  {txSubMap, 0, -1, MIB_Y_RANGE},
        {txSubMap, -1, 0, MIB_X_RANGE}, {txBundle, -1, 0, MIB_X_RANGE}, {rxSubFormat, 1, 7, 0},
        {condStatus, 5, 9, 0},          {audioMap, 64, 0, MIB_X_RANGE}, {ifmtStatus, 2, 0, MIB_X_RANGE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mib.MarkValid(c.row, true, c.x, c.y), c.result) << c.row << " " << c.x << " " << c.y;
        EXPECT_EQ(mib.Set(c.row, 1, c.x, c.y), c.result) << c.row << " " << c.x << " " << c.y;
    }
    EXPECT_TRUE(agent.log.empty());
    int32_t v = 0;
    const char* text = nullptr;
    EXPECT_EQ(mib.Get(sysName, &v), MIB_NO_ROW); // a text row has no integer
    EXPECT_EQ(mib.Get(condStatus, &text), MIB_NO_ROW);
}

TEST_F(Mib, CacheReadsOnceAndWritesOnlyWhatChanged)
{
    Open(2, 2);
    int32_t v = 0;
    EXPECT_EQ(mib.Get(flashPersistEnable, &v), 0);
    EXPECT_EQ(mib.Get(flashPersistEnable, &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(agent.Gets(), 1);

    EXPECT_EQ(mib.Set(flashPersistEnable, 1), 0); // same value: not changed
    EXPECT_EQ(mib.Write(flashPersistEnable, false), 0);
    EXPECT_EQ(agent.Sets(), 0);
    EXPECT_EQ(mib.Set(flashPersistEnable, 0), 0);
    EXPECT_EQ(mib.Write(flashPersistEnable, false), 0);
    EXPECT_EQ(agent.Int(E + ".2.7.0"), 0);
    EXPECT_EQ(mib.Write(flashPersistEnable, false), 0); // written: no longer changed
    EXPECT_EQ(mib.Write(flashPersistEnable, true), 0);
    EXPECT_EQ(agent.Sets(), 2);

    // A failed write keeps the change for the next attempt.
    mib.Set(flashPersistEnable, 1);
    agent.failWith = SNMP_ERROR_BAD_VALUE;
    EXPECT_EQ(mib.Write(flashPersistEnable, false), SNMPS_FAILED);
    agent.failWith = 0;
    EXPECT_EQ(mib.Write(flashPersistEnable, false), 0);
    EXPECT_EQ(agent.Int(E + ".2.7.0"), 1);

    // A failed read of an integer gives an invalid cell, read again next time.
    agent.failWith = SNMP_CLASS_TIMEOUT;
    EXPECT_EQ(mib.Read(flashPersistEnable, true), SNMPS_FAILED);
    agent.failWith = 0;
    bool valid = true;
    mib.IsValid(flashPersistEnable, &valid);
    EXPECT_FALSE(valid);
    EXPECT_EQ(mib.Get(flashPersistEnable, &v), 0);
    EXPECT_EQ(v, 1);

    // A bundle's writes end at the first failure: the device lacks the
    // receiver channel table.
    agent.log.clear();
    mib.Set(rxSubMap, 40, 0, 0);
    mib.Set(rxSubMap, 41, 0, 1);
    EXPECT_EQ(mib.WriteReceiver(0, false), SNMPS_NOT_AVAILABLE);
    EXPECT_EQ(agent.log.size(), 1u);
}

TEST_F(Mib, TextAndOctetCellsKeepToTheirCapacity)
{
    Open(1, 1);
    const char* text = nullptr;
    ASSERT_EQ(mib.Get(sysName, &text), 0);
    EXPECT_STREQ(text, "device-one");
    const std::string sixty(60, 's'), sixtyOne(61, 's');
    EXPECT_EQ(mib.Set(sysName, sixtyOne.c_str()), 0);
    EXPECT_STREQ(text, "device-one");
    bool changed = true;
    mib.IsChanged(sysName, &changed);
    EXPECT_FALSE(changed);
    EXPECT_EQ(mib.Set(sysName, sixty.c_str()), 0);
    EXPECT_EQ(mib.Write(sysName, false), 0);
    EXPECT_EQ(agent.log.back().values[0], sixty);

    // Device values longer than the cells are cut to them.
    agent.PutText("1.3.6.1.2.1.1.5.0", std::string(70, 'L'));
    ASSERT_EQ(mib.Read(sysName, true), 0);
    EXPECT_EQ(std::string(text), std::string(60, 'L'));
    agent.PutOctets("1.3.6.1.2.1.2.2.1.6.1", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const unsigned char* mac = nullptr;
    ASSERT_EQ(mib.Get(ifPhysAddress, &mac), 0);
    EXPECT_EQ(mac[0], 6);
    EXPECT_EQ(mac[7], 6);
    agent.Put("1.3.6.1.2.1.4.20.1.3.0", IpAddress("255.255.255.0"));
    const unsigned char* mask = nullptr;
    ASSERT_EQ(mib.Get(ipAdEntNetMask, &mask), 0);
    EXPECT_EQ(std::vector<unsigned char>(mask, mask + 6), (std::vector<unsigned char>{4, 0, 255, 255, 255, 0}));

    // Octets: a value longer than the cached one is ignored, an equal one
    // changes nothing, a shorter one is taken.
    const unsigned char longer[9] = {7, 0, 1, 2, 3, 4, 5, 6, 7};
    const unsigned char same[8] = {6, 0, 1, 2, 3, 4, 5, 6};
    const unsigned char shorter[4] = {2, 0, 9, 9};
    mib.Set(ifPhysAddress, longer);
    mib.Set(ifPhysAddress, same);
    mib.IsChanged(ifPhysAddress, &changed);
    EXPECT_FALSE(changed);
    mib.Set(ifPhysAddress, shorter);
    mib.IsChanged(ifPhysAddress, &changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(mac[0], 2);
    EXPECT_EQ(mac[2], 9);
}

TEST_F(Mib, NotAvailableCellsAnswerWithoutARequest)
{
    Open(1, 1);
    for (int row : {condPriority, sysLocation, serialRxMAC})
        ASSERT_EQ(mib.MarkNotAvailable(row, true), 0);
    int32_t v = 5;
    EXPECT_EQ(mib.Get(condPriority, &v), SNMPS_NOT_AVAILABLE);
    EXPECT_EQ(v, -1);
    const char* text = nullptr;
    EXPECT_EQ(mib.Get(sysLocation, &text), SNMPS_NOT_AVAILABLE);
    EXPECT_STREQ(text, "*");
    const unsigned char* octets = nullptr;
    EXPECT_EQ(mib.Get(serialRxMAC, &octets), SNMPS_NOT_AVAILABLE);
    EXPECT_EQ(std::vector<unsigned char>(octets, octets + 4), (std::vector<unsigned char>{2, 0, 0, 0}));
    EXPECT_EQ(mib.Queue(condPriority, true), 0); // skipped
    EXPECT_EQ(mib.RunBatch(), 0);
    mib.Set(condPriority, 9);
    EXPECT_EQ(mib.Write(condPriority, true), 0); // never written
    EXPECT_TRUE(agent.log.empty());
}

TEST_F(Mib, BatchesReadSixteenAtOnceAndNeverLeaveARequestBehind)
{
    Open(16, 0);
    mib.ClearBatch();
    for (int x = 0; x < 16; ++x)
        ASSERT_EQ(mib.Queue(txBundle, true, x), 0);
    EXPECT_EQ(mib.Queue(txReceivers, true, 0), SNMPS_BATCH_FULL);
    EXPECT_EQ(mib.RunBatch(), 0);
    int32_t v = 0;
    EXPECT_EQ(mib.Get(txBundle, &v, 15), 0);
    EXPECT_EQ(v, 116);
    ASSERT_EQ(agent.Gets(), 1);
    EXPECT_EQ(agent.log[0].oids.size(), 16u);

    // Valid cells are skipped unless forced; a failed batch leaves its cells
    // to be read again.
    mib.ClearBatch();
    EXPECT_EQ(mib.Queue(txBundle, false, 0), 0);
    EXPECT_EQ(mib.Queue(txBundle, true, 1), 0);
    EXPECT_EQ(mib.Queue(txReceivers, false, 1), 0);
    agent.failWith = SNMP_CLASS_TIMEOUT;
    EXPECT_EQ(mib.RunBatch(), SNMPS_FAILED);
    agent.failWith = 0;
    EXPECT_EQ(agent.log.back().oids, (std::vector<std::string>{At(E + ".7.1.1.2", 2), At(E + ".7.1.1.9", 2)}));
    EXPECT_EQ(mib.Get(txBundle, &v, 1), 0);
    EXPECT_EQ(mib.Get(txBundle, &v, 0), 0);
    EXPECT_EQ(agent.Gets(), 3);

    // A variable queued and then cleared never reaches the next batch.
    mib.ClearBatch();
    ASSERT_EQ(mib.Queue(condStatus, true), 0);
    mib.ClearBatch();
    ASSERT_EQ(mib.Queue(flashPersistEnable, true), 0);
    EXPECT_EQ(mib.RunBatch(), 0);
    EXPECT_EQ(agent.log.back().oids, (std::vector<std::string>{E + ".2.7.0"}));
}

TEST_F(Mib, DelayIsLimitedTo80)
{
    // The spacing itself is checked at the agent (peer test).
    mib.SetDelay(static_cast<uint32_t>(-5));
    EXPECT_EQ(mib.GetDelay(), 80u);
}

} // namespace
