// The DSP image model: parsing, word access in the first block's addressable
// sections, format errors with their texts, and patch-and-write round trips
// that keep every block summing to zero.
#include "flashkit/checksum.h"
#include "flashkit/uld.h"

#include "scratch_folder.h"
#include "uld_builder.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>

namespace {

using qm::uld::image_t;
using namespace vx::test;

class Uld : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (dir.path / name).string(); }
    std::string file(const std::string& name, const words_t& words) const { return dir.file(name, to_bytes(words)); }
    static words_t read_words(const std::string& at) { return from_bytes(scratch_folder::read(at)); }
    // The text image_t throws for the file, empty when it parses.
    std::string parse_error(const std::string& file) const
    {
        try {
            image_t image(file);
        } catch (const qm::exception_t& e) {
            return e.what();
        }
        return {};
    }

    scratch_folder dir{"uld"};
};

bool image_checks(const std::string& path)
{
    uld_checksum_t sum(0, 0);
    sum.feed(path);
    return sum.check();
}

// Sums every block from its first word through its checksum word.
void expect_blocks_sum_to_zero(const image_t& image)
{
    std::size_t from = 0;
    for (const qm::uld::uld_t* block : image.blocks) {
        uint32_t sum = 0;
        for (std::size_t i = from; i <= block->checksum_position; ++i)
            sum += image.words[i];
        EXPECT_EQ(sum, 0u);
        EXPECT_EQ(image.words[block->checksum_position], block->checksum);
        from += block->word_count;
    }
}

words_t example(uint32_t tag = 0x01200010)
{
    words_t w;
    add_block(w, {{tag, {0xAAAAAAAA, 0xBBBBBBBB}}});
    add_end(w);
    return w;
}

// Words are found only in the first block's sections of space 1, sub-kind 2;
// a length-0 section completes at once and the next word is a tag again.
TEST_F(Uld, OnlyTheFirstBlocksAddressableSectionsAnswer)
{
    words_t several, empty_section;
    add_block(several, {{0x01000020, {1}}, {0x02200020, {2}}, {0x04100020, {3}}, {0x01200030, {4, 5}}});
    add_block(several, {{0x01200020, {6}}, {0x01200040, {7}}});
    add_end(several);
    add_block(empty_section, {{0x01200050, {}}, {0x01200060, {42}}});
    add_end(empty_section);
    struct row {
        const char* what;
        words_t words;
        uint32_t address;
        std::optional<uint32_t> value;
    };
    const std::vector<row> rows{
        {"first word", example(), 0x10, 0xAAAAAAAA},
        {"last word", example(), 0x11, 0xBBBBBBBB},
        {"before the section", example(), 0x0F, {}},
        {"after the section", example(), 0x12, {}},
        {"above 16 bits", example(), 0x10010, {}},
        {"same start in other spaces and sub-kinds", several, 0x20, {}},
        {"second block only", several, 0x40, {}},
        {"behind other sections", several, 0x31, 5},
        {"sub-kind 0", example(0x01000010), 0x10, {}},
        {"bits 16-19 and 28-31 not interpreted", example(0xF12F0010), 0x11, 0xBBBBBBBB},
        {"empty section", empty_section, 0x50, {}},
        {"after an empty section", empty_section, 0x60, 42},
    };
    for (const row& r : rows) {
        image_t image(file("a.uld", r.words));
        if (r.value) {
            EXPECT_EQ(image.read_word(r.address), *r.value) << r.what;
            continue;
        }
        try {
            image.read_word(r.address);
            ADD_FAILURE() << r.what;
        } catch (const qm::exception_t& e) {
            EXPECT_STREQ(e.what(), "invalid memory location to read") << r.what;
        }
        EXPECT_FALSE(image.write_word(r.address, 1)) << r.what;
    }
}

TEST_F(Uld, FormatErrorsCarryTheirTexts)
{
    struct row {
        const char* name;
        words_t words;
        const char* text;
    };
    words_t bad_sum = example();
    bad_sum[5] += 1;
    words_t long_section{0x01200000, 0xFFFF};
    words_t no_checksum; // the words end inside the last block: no place for its checksum
    add_block(no_checksum, {{0x01200000, {1, 2}}});
    no_checksum.pop_back();
    words_t short_data{0x01200000, 3, 1, 2};
    words_t end_behind_sections{0x01200000, 1, 5, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    std::vector<row> rows{
        {"space 3", example(0x03200010), "invalid uld tag"},
        {"space 0", example(0x00200010), "invalid uld tag"},
        {"sub-kind 3", example(0x01300010), "invalid uld tag"},
        {"length FFFF", long_section, "invalid length"},
        {"wrong checksum", bad_sum, "invalid uld block"},
        {"no checksum word", no_checksum, "invalid uld block"},
        {"data cut short", short_data, "invalid uld block"},
        {"end marker behind sections", end_behind_sections, "invalid uld block"},
    };
    for (const row& r : rows)
        EXPECT_EQ(parse_error(file("e.uld", r.words)), r.text) << r.name;

    dir.file("ten.uld", bytes_t(10, 0));
    EXPECT_EQ(parse_error(path("ten.uld")), "file size must be a multiple of 4");
    EXPECT_EQ(parse_error(path("missing.uld")).rfind("error opening file", 0), 0u);
}

TEST_F(Uld, ImagesWithoutBlocksWriteBackAsTheyWere)
{
    // Nothing but the end marker, or nothing at all: no blocks, nothing found.
    for (const words_t& none : {words_t{0xFFFFFFFF, 0xFFFFFFFF}, words_t{}}) {
        image_t empty(file("n.uld", none));
        EXPECT_TRUE(empty.blocks.empty());
        EXPECT_FALSE(empty.write_word(0, 1));
        empty.write_file(path("n2.uld"));
        EXPECT_EQ(read_words(path("n2.uld")), none);
    }
}

// Random images of several blocks with words behind the end marker: every
// addressable word is found where it was put, patches land in place, and the
// written image checks again at its length with the trailing words kept.
TEST_F(Uld, RoundTripOfGeneratedImages)
{
    std::mt19937 rng(20261208);
    const uint32_t spaces[] = {0x01000000, 0x02000000, 0x04000000};
    for (int round = 0; round < 50; ++round) {
        words_t w;
        std::map<uint32_t, uint32_t> addressable; // first block, first covering section wins
        const int blocks = 1 + static_cast<int>(rng() % 4);
        for (int b = 0; b < blocks; ++b) {
            std::vector<section_spec> sections;
            const int count = 1 + static_cast<int>(rng() % 5);
            for (int s = 0; s < count; ++s) {
                const uint32_t tag = spaces[rng() % 3] | (rng() % 3) << 20 | (rng() % 0x200);
                words_t data(rng() % 40);
                for (uint32_t& d : data)
                    d = static_cast<uint32_t>(rng());
                if (b == 0 && (tag & 0x0FF00000) == 0x01200000)
                    for (uint32_t k = 0; k < data.size(); ++k)
                        addressable.emplace((tag & 0xFFFF) + k, data[k]);
                sections.push_back({tag, data});
            }
            add_block(w, sections);
        }
        add_end(w);
        const words_t trailer{0xFFFFFFFF, static_cast<uint32_t>(rng()), 0xFFFFFFFF};
        w.insert(w.end(), trailer.begin(), trailer.end());
        const std::string in = file("r.uld", w);
        ASSERT_TRUE(image_checks(in));

        image_t image(in);
        ASSERT_EQ(image.blocks.size(), static_cast<std::size_t>(blocks));
        for (const auto& [address, value] : addressable)
            ASSERT_EQ(image.read_word(address), value) << round;
        for (auto& [address, value] : addressable) {
            value = static_cast<uint32_t>(rng());
            ASSERT_TRUE(image.write_word(address, value));
        }
        image.write_file(path("r2.uld"));
        ASSERT_TRUE(image_checks(path("r2.uld"))) << round;
        const words_t written = read_words(path("r2.uld"));
        ASSERT_EQ(written.size(), w.size()) << round;
        EXPECT_TRUE(std::equal(trailer.begin(), trailer.end(), written.end() - 3)) << round;
        image_t again(path("r2.uld"));
        expect_blocks_sum_to_zero(again);
        for (const auto& [address, value] : addressable)
            ASSERT_EQ(again.read_word(address), value) << round;
    }
}

} // namespace
