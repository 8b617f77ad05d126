// The control table entry's name decoded into its flash word, and the names
// that are no entry's count variable.
#include "flashkit/dsp.h"

#include <gtest/gtest.h>

namespace {

const std::string T = "1.3.6.1.4.1.2680.1.4.2";

TEST(DspEntry, DecodesSixBitGroupsAndWraps)
{
    struct row {
        std::string numbers;
        uint32_t word;
    };
    const std::vector<row> rows{
        {".1.1.1.1.1.1", 0},          // every group zero, top bits one
        {".1.1.1.1.1.0", 0xC0000000}, // top bits zero: the subtraction wraps
        {".2.1.1.1.1.1", 1},          {".64.64.64.64.64.1", 0x3FFFFFFF},
        {".4.24.43.1.1.1", 0x2A5C3}, // (0x2A5C3 + 0x40000000) in six-bit groups
        {".65.1.1.1.1.1", 0},        // a group above 64 keeps only its six bits
    };
    for (const row& r : rows) {
        std::optional<uint32_t> word = update::dsp_entry_value(T + r.numbers + ".1.0");
        ASSERT_TRUE(word) << r.numbers;
        EXPECT_EQ(*word, r.word) << r.numbers;
    }
}

TEST(DspEntry, RefusesNamesThatAreNoEntrysCount)
{
    for (const std::string& name :
         {T + ".1.1.1.1.1.1", T + ".1.1.1.1.1.1.2.1.2.1", T + ".1.1.1.1.1.1.1.1", T + ".1.1.1.1.1.1.3.0", T + ".5.1.0",
          std::string("1.3.6.1.4.1.2680.1.4.3.1.1.1.1.1.1.1.0"), std::string("1.3.6.1.4.1.2680.1.5.2.1.1.1.1.1.1.1.0"),
          std::string(""), std::string("not an oid")})
        EXPECT_FALSE(update::dsp_entry_value(name)) << name;
}

} // namespace
