// Checksums over file ranges and the word readers and writers.
#include "flashkit/checksum.h"

#include <qm/exception.h>

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using vx::test::bytes_t;

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
    for (const row& r : {row{0x123456, 3, false, {0x00, 0x12, 0x34, 0x56}}, row{0x123456, 3, true, {0x56, 0x34, 0x12, 0x00}},
                         row{0xAB123456, 3, true, {0x56, 0x34, 0x12, 0x00}}, row{0xAB123456, 4, false, {0xAB, 0x12, 0x34, 0x56}},
                         row{0xAB123456, 4, true, {0x56, 0x34, 0x12, 0xAB}}}) {
        unsigned char d[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        write_word(r.value, d, r.width, r.little);
        EXPECT_EQ(bytes_t(d, d + 4), r.out) << std::hex << r.value;
        EXPECT_EQ(read_word(r.out.data() + (r.width == 3 && !r.little ? 1 : 0), r.width, r.little),
                  r.value & (r.width == 3 ? 0xFFFFFF : 0xFFFFFFFF));
    }
}

TEST_F(Checksum, WidthThreeRegionSumsToZero)
{
    checksum_t cs(0, 6, 3);
    cs.feed(file("a", {0x01, 0x02, 0x03, 0xFF, 0xFD, 0xFC}));
    EXPECT_EQ(cs.sum(), 0u);
    EXPECT_TRUE(cs.check());
    EXPECT_EQ(cs.value(), 0xFCFDFFu);
}

TEST_F(Checksum, PartialWordCarriesIntoTheNextFile)
{
    bytes_t all = {0x01, 0x02, 0x03, 0xFF, 0xFD, 0xFC};
    checksum_t split(0, 6, 3);
    split.feed(file("first", bytes_t(all.begin(), all.begin() + 4)));
    split.feed(file("second", bytes_t(all.begin() + 4, all.end())));
    checksum_t whole(0, 6, 3);
    whole.feed(file("whole", all));
    EXPECT_EQ(split.sum(), whole.sum());
    EXPECT_TRUE(split.check());
    EXPECT_EQ(split.value(), 0xFCFDFFu);
}

TEST_F(Checksum, SumsWrapPerWidth)
{
    checksum_t four(0, 8, 4);
    four.feed(file("w4", {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(four.sum(), 1u);
    checksum_t three(0, 6, 3);
    three.feed(file("w3", {0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00}));
    EXPECT_EQ(three.sum(), 1u);
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

// A DSP image block: tag, length, data, end of sections, checksum.
bytes_t uld_words(const std::vector<uint32_t>& words)
{
    bytes_t out;
    for (uint32_t w : words) {
        unsigned char b[4];
        write_word(w, b, 4, true);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

std::vector<uint32_t> uld_block(std::vector<uint32_t> data, uint32_t tag = 0x01200010)
{
    std::vector<uint32_t> block{tag, static_cast<uint32_t>(data.size())};
    block.insert(block.end(), data.begin(), data.end());
    block.push_back(0xFFFFFFFF);
    uint32_t sum = 0;
    for (uint32_t w : block)
        sum += w;
    block.push_back(0u - sum);
    return block;
}

TEST_F(Checksum, DspImagePassesAndFailsOnOneChangedWord)
{
    std::vector<uint32_t> words = uld_block({0xAAAAAAAA, 0xBBBBBBBB});
    std::vector<uint32_t> second = uld_block({1, 2, 3}, 0x02100020);
    words.insert(words.end(), second.begin(), second.end());
    words.push_back(0xFFFFFFFF);
    words.push_back(0xFFFFFFFF);
    uld_checksum_t cs(0, 0);
    cs.feed(file("dsp", uld_words(words)));
    EXPECT_TRUE(cs.check());
    EXPECT_TRUE(cs.at_end());
    EXPECT_EQ(cs.first_checksum_index, 6u);
    EXPECT_EQ(cs.value(), words[5] + second.back());

    words[2] ^= 1;
    uld_checksum_t bad(0, 0);
    bad.feed(file("dsp_bad", uld_words(words)));
    EXPECT_FALSE(bad.check());
}

TEST_F(Checksum, DspWalkNeedsItsEndMarker)
{
    // All zeros: tag 0, length 0 ... never reaches the end marker.
    uld_checksum_t zeros(0, 0);
    zeros.feed(file("zeros", bytes_t(4096, 0)));
    EXPECT_EQ(zeros.sum(), 0u);
    EXPECT_FALSE(zeros.check());

    uld_checksum_t empty(0, 0);
    empty.feed(file("empty", {}));
    EXPECT_FALSE(empty.check());

    // Fed in two pieces from an offset, and nothing after the end counts.
    std::vector<uint32_t> words = uld_block({5, 6, 7, 8});
    words.push_back(0xFFFFFFFF);
    words.push_back(0xFFFFFFFF);
    bytes_t image(0x100, 0x11);
    bytes_t body = uld_words(words);
    image.insert(image.end(), body.begin(), body.end());
    image.insert(image.end(), 64, 0x77);
    uld_checksum_t split(0x100, 0);
    split.feed(file("part1", bytes_t(image.begin(), image.begin() + 0x110)));
    EXPECT_FALSE(split.at_end());
    split.feed(file("part2", bytes_t(image.begin() + 0x110, image.end())));
    EXPECT_TRUE(split.check());
}

} // namespace
