// The session and the model against the device simulator's agents over a
// veth pair: devices with 1, 2, 16 and no transmitter bundles opened by one
// model and read whole (the dialog tests write and read back edits).
#include "DeviceMib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "devsim_devices.h"

using namespace mib;

namespace {

// Requests wait as long as only a fault makes them: ten seconds, in hundredths.
constexpr int kPatient = 1000;

// Reads every cell of the open device's rows but `skip` in batches of 16,
// tables as many as the device has bundles (or entries), and checks each
// cell valid.
void ReadEverything(CDeviceMib& mib, const std::set<int>& skip)
{
    struct Cell {
        int row, x, y;
    };
    std::vector<Cell> cells;
    for (int row = 0; row < RowCount; ++row) {
        int n = kRows[row].dim1;
        if (row >= txSubMap && row <= txReceivers)
            n = mib.GetTransmitterCount();
        else if ((row >= rxSubMap && row <= rxStatus) || row == rxDelay || row == rxMinDelay)
            n = mib.GetReceiverCount();
        for (int x = 0; x < n && !skip.count(row); ++x)
            for (int y = 0; y < kRows[row].dim2; ++y)
                cells.push_back({row, x, y});
    }
    for (size_t i = 0; i < cells.size(); i += 16) {
        mib.ClearBatch();
        for (size_t k = i; k < std::min(cells.size(), i + 16); ++k)
            ASSERT_EQ(mib.Queue(cells[k].row, true, cells[k].x, cells[k].y), 0);
        ASSERT_EQ(mib.RunBatch(), 0) << "batch from row " << cells[i].row;
    }
    for (const Cell& c : cells) {
        bool valid = false;
        mib.IsValid(c.row, &valid, c.x, c.y);
        EXPECT_TRUE(valid) << c.row << " " << c.x << " " << c.y;
    }
}

using Devsim = tdtest::DevsimSuite;

TEST_F(Devsim, DevicesOpenWithTheirBundleCountsAndReadWhole)
{
    CDeviceMib mib;           // one model, opened device after device
    mib.SetTimeout(kPatient); // the first request also waits for the device's ARP answer
    mib.SetRetries(2);
    for (int k = 0; k < static_cast<int>(std::size(tdtest::kSimDevices)); ++k) {
        const tdtest::SimDevice& d = tdtest::kSimDevices[k];
        SCOPED_TRACE(d.address);
        ASSERT_EQ(mib.Open(d.address), 0);
        EXPECT_EQ(mib.GetTransmitterCount(), d.tx);
        EXPECT_EQ(mib.GetReceiverCount(), d.rx);
        // The simulated devices (no DSP) lack the processor group, and no
        // device has an interface 0.
        ReadEverything(mib, {ifAddressInteger, procMode, procGroup});
        int32_t v = 0;
        for (int x = 0; x < d.tx; ++x) {
            EXPECT_EQ(mib.Get(txBundle, &v, x), 0);
            EXPECT_EQ(v, k * 16 + x + 1);
        }
        EXPECT_EQ(mib.Get(condStatus, &v), 0);
        EXPECT_EQ(v, k == 0 ? 1 : 0);
        const char* name = nullptr;
        EXPECT_EQ(mib.Get(sysName, &name), 0);
        EXPECT_EQ(std::string(name), "alder-" + std::to_string(k));
        const unsigned char* mac = nullptr;
        EXPECT_EQ(mib.Get(ifPhysAddress, &mac), 0);
        const unsigned char expected[8] = {6, 0, 0x00, 0x60, 0x2b, 0x10, 0x00, static_cast<unsigned char>(k + 1)};
        EXPECT_EQ(0, std::memcmp(mac, expected, 8));
        for (int row : {procMode, procGroup})
            EXPECT_EQ(mib.Read(row, true), SNMPS_NOT_AVAILABLE) << row;
    }
}

} // namespace
