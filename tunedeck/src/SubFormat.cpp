#include "SubFormat.h"

const CodeText kSubFormats[kSubFormatCount] = {
    {0x44000, "48 kHz, 16, 5 1/3 mS"},  {0x54000, "48 kHz, 20, 5 1/3 mS"},  {0x64000, "48 kHz, 24, 5 1/3 mS"},
    {0x42000, "48 kHz, 16, 2 2/3 mS"},  {0x52000, "48 kHz, 20, 2 2/3 mS"},  {0x62000, "48 kHz, 24, 2 2/3 mS"},
    {0x41000, "48 kHz, 16, 1 1/3 mS"},  {0x51000, "48 kHz, 20, 1 1/3 mS"},  {0x61000, "48 kHz, 24, 1 1/3 mS"},
    {0x148000, "96 kHz, 16, 5 1/3 mS"}, {0x158000, "96 kHz, 20, 5 1/3 mS"}, {0x168000, "96 kHz, 24, 5 1/3 mS"},
    {0x144000, "96 kHz, 16, 2 2/3 mS"}, {0x154000, "96 kHz, 20, 2 2/3 mS"}, {0x164000, "96 kHz, 24, 2 2/3 mS"},
    {0x142000, "96 kHz, 16, 1 1/3 mS"}, {0x152000, "96 kHz, 20, 1 1/3 mS"}, {0x162000, "96 kHz, 24, 1 1/3 mS"},
    {0x40800, "48 kHz, 16, 2/3 mS"},    {0x50800, "48 kHz, 20, 2/3 mS"},    {0x60800, "48 kHz, 24, 2/3 mS"},
};

const int32_t kResolutions[kResolutionCount] = {0x40000, 0x50000, 0x60000};
const char* const kResolutionTexts[kResolutionCount] = {"16", "20", "24"};

const CodeText kModeRates[kModeRateCount] = {
    {0x600, "48 kHz, 5 1/3 mS"}, {0x500, "48 kHz, 2 2/3 mS"}, {0x400, "48 kHz, 1 1/3 mS"}, {0x701, "96 kHz, 5 1/3 mS"},
    {0x601, "96 kHz, 2 2/3 mS"}, {0x501, "96 kHz, 1 1/3 mS"}, {0x300, "48 kHz, 2/3 mS"},
};

const CodeText kUnicastModes[kUnicastModeCount] = {
    {0, "Always Multicast"}, {1, "Multicast over 1"}, {2, "Multicast over 2"},
    {3, "Multicast over 3"}, {4, "Multicast over 4"}, {0x7FFFFF, "Never Multicast"},
};

int32_t ComposeSubFormat(int32_t resolution, int32_t modeRate)
{
    switch (modeRate) {
    case 0x300:
        return resolution | 0x800;
    case 0x400:
        return resolution | 0x1000;
    case 0x500:
        return resolution | 0x2000;
    case 0x600:
        return resolution | 0x4000;
    case 0x501:
        return resolution | kSubFormat96k | 0x2000;
    case 0x601:
        return resolution | kSubFormat96k | 0x4000;
    case 0x701:
        return resolution | kSubFormat96k | 0x8000;
    default:
        return resolution | (Is96k(modeRate) ? kSubFormat96k : 0);
    }
}

int FindSubFormat(int32_t code, int count)
{
    for (int i = 0; i < count && i < kSubFormatCount; ++i)
        if (kSubFormats[i].code == code)
            return i;
    return -1;
}
