// Checksums over file ranges and the word readers and writers.
#include "flashkit/checksum.h"

#include <qm/exception.h>

#include "scratch_folder.h"
#include "uld_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace vx::test;

class Checksum : public ::testing::Test {
protected:
    std::string file(const std::string& name, const bytes_t& content) { return scratch.file(name, content); }

    vx::test::scratch_folder scratch{"checksum"};
    const std::filesystem::path& dir = scratch.path;
};

// Little-endian words with a closing word that makes the sum zero.
bytes_t region(std::size_t words, int width, uint32_t seed)
{
    bytes_t out;
    uint32_t sum = 0;
    const uint32_t mask = width == 3 ? 0xFFFFFF : 0xFFFFFFFF;
    for (std::size_t i = 0; i + 1 < words; ++i) {
        uint32_t w = (seed = seed * 1103515245u + 12345u) & mask;
        sum += w;
        unsigned char b[4];
        write_word(w, b, width, true);
        out.insert(out.end(), b, b + width);
    }
    unsigned char b[4];
    write_word((0u - sum) & mask, b, width, true);
    out.insert(out.end(), b, b + width);
    return out;
}

TEST(Words, ReadAndWriteBothOrdersAndWidths)
{
    const unsigned char b[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(read_word(b, 3, true), 0x030201u);
    EXPECT_EQ(read_word(b, 3, false), 0x010203u);
    EXPECT_EQ(read_word(b, 4, true), 0x04030201u);
    EXPECT_EQ(read_word(b, 4, false), 0x01020304u);
    struct row {
        uint32_t value;
        int width;
        bool little;
        bytes_t out;
    };
    for (const row& r :
         {row{0x123456, 3, false, {0x00, 0x12, 0x34, 0x56}}, row{0x123456, 3, true, {0x56, 0x34, 0x12, 0x00}},
          row{0xAB123456, 3, true, {0x56, 0x34, 0x12, 0x00}}, row{0xAB123456, 4, false, {0xAB, 0x12, 0x34, 0x56}},
          row{0xAB123456, 4, true, {0x56, 0x34, 0x12, 0xAB}}}) {
        unsigned char d[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        write_word(r.value, d, r.width, r.little);
        EXPECT_EQ(bytes_t(d, d + 4), r.out) << std::hex << r.value;
        EXPECT_EQ(read_word(r.out.data() + (r.width == 3 && !r.little ? 1 : 0), r.width, r.little),
                  r.value & (r.width == 3 ? 0xFFFFFF : 0xFFFFFFFF));
    }
}

TEST_F(Checksum, RegionsSumPerWidthAcrossFiles)
{
    struct row {
        const char* what;
        int width;
        bytes_t bytes;
        std::size_t split; // bytes in the first of two files fed
        uint32_t sum, value;
    };
    const bytes_t zero_sum = {0x01, 0x02, 0x03, 0xFF, 0xFD, 0xFC};
    for (const row& r :
         {row{"width 3", 3, zero_sum, 6, 0, 0xFCFDFF},
          row{"a partial word carries into the next file", 3, zero_sum, 4, 0, 0xFCFDFF},
          row{"width 3 wraps at 24 bits", 3, {0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00}, 6, 1, 2},
          row{"width 4 wraps at 32 bits", 4, {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00}, 8, 1, 2}}) {
        const auto at = r.bytes.begin() + static_cast<std::ptrdiff_t>(r.split);
        checksum_t cs(0, static_cast<uint32_t>(r.bytes.size()), r.width);
        cs.feed(file("first", bytes_t(r.bytes.begin(), at)));
        if (at != r.bytes.end())
            cs.feed(file("second", bytes_t(at, r.bytes.end())));
        EXPECT_EQ(cs.sum(), r.sum) << r.what;
        EXPECT_EQ(cs.check(), r.sum == 0) << r.what;
        EXPECT_EQ(cs.value(), r.value) << r.what;
    }
}

TEST_F(Checksum, StartAndLengthSelectExactlyTheRegion)
{
    bytes_t image(0x18000, 0x5A);
    bytes_t r = region(0x6000 / 3, 3, 42);
    std::copy(r.begin(), r.end(), image.begin() + 0x10000);
    std::string path = file("image", image);
    checksum_t cs(0x10000, 0x6000, 3);
    cs.feed(path);
    EXPECT_TRUE(cs.check());
    EXPECT_EQ(cs.value(), read_word(image.data() + 0x15FFD, 3, true));
    // One byte more or less is another region.
    checksum_t longer(0x10000, 0x6003, 3);
    longer.feed(path);
    EXPECT_FALSE(longer.check());
}

TEST_F(Checksum, EmptyOrShortFilesNeverCheck)
{
    // A read-back that came back empty or short sums to zero over what it
    // holds, but the region was not all there.
    bytes_t r = region(0x600 / 3, 3, 7);
    checksum_t empty(0, static_cast<uint32_t>(r.size()), 3);
    empty.feed(file("empty", {}));
    EXPECT_EQ(empty.sum(), 0u);
    EXPECT_FALSE(empty.check());

    checksum_t zeros(0, 0x600, 3);
    zeros.feed(file("zeros", bytes_t(0x300, 0)));
    EXPECT_FALSE(zeros.check());

    checksum_t past(0x1000, 6, 3); // the file ends before the start
    past.feed(file("small", bytes_t(10, 0)));
    EXPECT_FALSE(past.check());
    EXPECT_EQ(past.remaining_bytes(), 6u);

    checksum_t whole(0, static_cast<uint32_t>(r.size()), 3);
    whole.feed(file("region", r));
    EXPECT_TRUE(whole.check());
    EXPECT_THROW(whole.feed((dir / "missing").string()), qm::wapi::exception_t);
}

TEST_F(Checksum, DspWalkChecksEveryBlockUpToItsEndMarker)
{
    words_t words;
    add_block(words, {{0x01200010, {0xAAAAAAAA, 0xBBBBBBBB}}});
    add_block(words, {{0x02100020, {1, 2, 3}}});
    add_end(words);
    uld_checksum_t cs(0, 0);
    cs.feed(file("dsp", to_bytes(words)));
    EXPECT_TRUE(cs.check());
    EXPECT_TRUE(cs.at_end());
    EXPECT_EQ(cs.first_checksum_index, 6u);
    EXPECT_EQ(cs.value(), words[5] + words[12]);

    // One changed word; all zeros (tag 0, length 0, ... sums to zero but
    // never reaches the end marker); an empty file.
    words_t changed = words;
    changed[2] ^= 1;
    for (const bytes_t& bad : {to_bytes(changed), bytes_t(4096, 0), bytes_t{}}) {
        uld_checksum_t walk(0, 0);
        walk.feed(file("bad", bad));
        EXPECT_FALSE(walk.check()) << bad.size();
    }

    // Fed in two pieces from an offset, and nothing after the end counts.
    words_t one;
    add_block(one, {{0x01200010, {5, 6, 7, 8}}});
    add_end(one);
    bytes_t image(0x100, 0x11);
    const bytes_t body = to_bytes(one);
    image.insert(image.end(), body.begin(), body.end());
    image.insert(image.end(), 64, 0x77);
    uld_checksum_t split(0x100, 0);
    split.feed(file("part1", bytes_t(image.begin(), image.begin() + 0x110)));
    EXPECT_FALSE(split.at_end());
    split.feed(file("part2", bytes_t(image.begin() + 0x110, image.end())));
    EXPECT_TRUE(split.check());
}

} // namespace
