// Numbers, MAC addresses and byte strings as the dialogs read them, and the
// channel formats that follow the mode rate.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "NumberText.h"
#include "SubFormat.h"

namespace {

TEST(Formats, Numbers)
{
    const struct {
        const char* text;
        bool ok;
        uint32_t value;
    } cases[] = {
        {"65535", true, 65535},   {"  12", true, 12},        {"12 34", true, 12},
        {"7:1", true, 7},         {"0x1F", true, 31},        {"0X1f", true, 31},
        {"X10", true, 16},        {"x10", true, 16},         {"4294967295", true, 0xFFFFFFFFu},
        {"4294967296", false, 0}, {"0x100000000", false, 0}, {"", false, 0},
        {"0x", false, 0},         {"-1", false, 0},          {"12a", false, 0},
        {"1.5", false, 0},        {"0xg", false, 0},         {" ", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t value = 0;
        EXPECT_EQ(ParseNumber(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    uint32_t value = 0;
    EXPECT_FALSE(ParseNumber(nullptr, value));
}

TEST(Formats, MacAddressesAndBytes)
{
    unsigned char mac[6] = {};
    for (const char* good : {"01:60:2B:FD:00:0a", "01 60 2b fd 00 0a", "01602BFD000A", " 01:60:2B:FD:00:0A "}) {
        ASSERT_TRUE(ParseMac(good, mac)) << good;
        const unsigned char expected[6] = {0x01, 0x60, 0x2B, 0xFD, 0x00, 0x0A};
        EXPECT_EQ(0, std::memcmp(mac, expected, 6)) << good;
    }
    for (const char* bad : {"01:60:2B:FD:00", "01:60:2B:FD:00:0A:11", "1:60:2B:FD:00:0A", "01-60-2B-FD-00-0A", ""})
        EXPECT_FALSE(ParseMac(bad, mac)) << bad;

    unsigned char bytes[4] = {};
    EXPECT_EQ(ParseHexBytes("0a:0B 0c", bytes, 4), 3);
    EXPECT_EQ(bytes[2], 0x0C);
    EXPECT_EQ(ParseHexBytes("0a0b0c0d", bytes, 4), 4);
    EXPECT_EQ(ParseHexBytes("0a0b0c0d0e", bytes, 4), -1); // more than fit
    EXPECT_EQ(ParseHexBytes("0a0", bytes, 4), -1);
    EXPECT_EQ(ParseHexBytes(" : ", bytes, 4), -1);
    EXPECT_EQ(ParseHexBytes("zz", bytes, 4), -1);
}

TEST(Formats, ChannelFormatsFollowTheModeRate)
{
    const struct {
        int32_t resolution, modeRate, subFormat;
    } cases[] = {
        {0x40000, 0x600, 0x44000},  {0x50000, 0x500, 0x52000},  {0x60000, 0x400, 0x61000},
        {0x40000, 0x300, 0x40800},  {0x60000, 0x701, 0x168000}, {0x60000, 0x601, 0x164000},
        {0x50000, 0x501, 0x152000}, {0x60000, 0x123, 0x160000}, {0x40000, 0x122, 0x40000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComposeSubFormat(c.resolution, c.modeRate), c.subFormat) << std::hex << c.modeRate;
    EXPECT_EQ(RecomposeSubFormat(0x64000, 0x500), 0x62000);
    // Every composed format of a known rate is a known code with its text.
    for (const CodeText& rate : kModeRates)
        for (int32_t resolution : kResolutions)
            EXPECT_GE(FindSubFormat(ComposeSubFormat(resolution, rate.code), kSubFormatCount), 0) << rate.text;
    EXPECT_EQ(FindSubFormat(0x40800, kSubFormatBasic), -1);
    EXPECT_EQ(FindSubFormat(0x40800, kSubFormatCount), 18);
}

} // namespace
