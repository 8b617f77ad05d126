// The audio formats of the devices: the channel SubFormat codes with their
// texts, the mode rates, and how a channel's SubFormat follows the device's
// mode rate.
#pragma once

#include <cstdint>

struct CodeText {
    int32_t code;
    const char* text;
};

// SubFormat code: 0x100000 for 96 kHz, plus the resolution in bits 16 to 18
// (4 = 16 bit, 5 = 20 bit, 6 = 24 bit), plus the samples per period times 64.
constexpr int kSubFormatCount = 21;
// The codes recognised without the 2/3 mS rates.
constexpr int kSubFormatBasic = 18;
extern const CodeText kSubFormats[kSubFormatCount];

constexpr int32_t kSubFormat96k = 0x100000;
constexpr int32_t kResolutionMask = 0x70000;
// Resolution codes by combo position: 16, 20 and 24 bit.
constexpr int kResolutionCount = 3;
extern const int32_t kResolutions[kResolutionCount];
extern const char* const kResolutionTexts[kResolutionCount];

// modeRateControl codes by combo position; a code with its lowest bit set is
// a 96 kHz rate. The last one is a 2/3 mS rate.
constexpr int kModeRateCount = 7;
constexpr int kModeRateBasic = 6;
extern const CodeText kModeRates[kModeRateCount];
inline bool Is96k(int32_t modeRate) { return (modeRate & 1) != 0; }
// Hardware platforms that run 48 kHz only.
inline bool Is48kOnly(int platform) { return platform == 36252 || platform == 57932; }

// txUnicastMode values by combo position.
constexpr int kUnicastModeCount = 6;
extern const CodeText kUnicastModes[kUnicastModeCount];

// The SubFormat of a channel of the given resolution (kResolutions) at the
// device's mode rate.
int32_t ComposeSubFormat(int32_t resolution, int32_t modeRate);
// The same channel at another mode rate: its resolution kept.
inline int32_t RecomposeSubFormat(int32_t subFormat, int32_t modeRate)
{
    return ComposeSubFormat(subFormat & kResolutionMask, modeRate);
}
// Index into kSubFormats among the first `count` codes, or -1.
int FindSubFormat(int32_t code, int count);
