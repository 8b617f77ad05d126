// Reads every variable of an open device into the model's cache, in batches
// of 16, and lists the cells read.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "DeviceMib.h"

namespace tdtest {

struct MibCell {
    int row, x, y;
};

// Every cell of the device's rows but `skip`: tables as many as the device
// has bundles (or entries), channel tables eight channels each.
inline std::vector<MibCell> AllCells(const CDeviceMib& mib, const std::set<int>& skip)
{
    using namespace mib;
    std::vector<MibCell> cells;
    const int tx = mib.GetTransmitterCount();
    const int rx = mib.GetReceiverCount();
    for (int row = 0; row < RowCount; ++row) {
        if (skip.count(row))
            continue;
        int n = kRows[row].dim1;
        if ((row >= txSubMap && row <= txReceivers))
            n = tx;
        else if ((row >= rxSubMap && row <= rxStatus) || row == rxDelay || row == rxMinDelay)
            n = rx;
        for (int x = 0; x < n; ++x)
            for (int y = 0; y < kRows[row].dim2; ++y)
                cells.push_back({row, x, y});
    }
    return cells;
}

inline void ReadEverything(CDeviceMib& mib, const std::set<int>& skip)
{
    const std::vector<MibCell> cells = AllCells(mib, skip);
    for (size_t i = 0; i < cells.size(); i += 16) {
        mib.ClearBatch();
        for (size_t k = i; k < std::min(cells.size(), i + 16); ++k)
            ASSERT_EQ(mib.Queue(cells[k].row, true, cells[k].x, cells[k].y), 0);
        ASSERT_EQ(mib.RunBatch(), 0) << "batch from row " << cells[i].row;
    }
    for (const MibCell& c : cells) {
        bool valid = false;
        mib.IsValid(c.row, &valid, c.x, c.y);
        EXPECT_TRUE(valid) << c.row << " " << c.x << " " << c.y;
    }
}

} // namespace tdtest
