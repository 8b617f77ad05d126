// The image generator against an independent checker: word sums and the
// segmented-image walk written out again here, and per family the record a
// firmware server's recognizer would fill from the bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "images/cli.h"
#include "images/images.h"

namespace {

using namespace devsim::images;
using bytes_t = std::vector<uint8_t>;

struct sum_t {
    bool valid = false;
    uint32_t value = 0;
};

// Little-endian words of `width` bytes; valid when they sum to 0 (mod 2^24 or 2^32).
sum_t word_sum(const bytes_t& b, size_t start, size_t length, int width)
{
    if (start + length > b.size() || length % width)
        return {};
    uint64_t sum = 0;
    uint32_t last = 0;
    for (size_t at = start; at < start + length; at += width) {
        last = 0;
        for (int k = 0; k < width; ++k)
            last |= uint32_t{b[at + k]} << (8 * k);
        sum += last;
    }
    uint64_t modulus = width == 3 ? 0x1000000 : 0x100000000;
    return {sum % modulus == 0, last};
}

// The segmented walk: tag, length, data; 0xFFFFFFFF then a block checksum
// (added to the value) or a second 0xFFFFFFFF (the end, taken out of the sum).
sum_t segmented_sum(const bytes_t& b, size_t start)
{
    int state = 0;
    uint32_t sum = 0, left = 0, value = 0;
    bool seen = false;
    for (size_t at = start; at + 4 <= b.size(); at += 4) {
        uint32_t w = b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
        sum += w;
        if (state == 0) {
            state = w == 0xFFFFFFFF ? 1 : 2;
        } else if (state == 2) {
            left = w;
            state = 3;
        } else if (state == 3) {
            if (--left == 0)
                state = 0;
        } else if (w == 0xFFFFFFFF) {
            if (seen)
                sum += 2;
            return {seen && sum == 0, value};
        } else {
            value += w;
            seen = true;
            state = 0;
        }
    }
    return {};
}

const record_t rejected = {0, 0, 0, 0, 0, 0, 0, 0xFFFFFFFF};

record_t recognize(family f, const bytes_t& b)
{
    record_t r = {0, 0, 0, 0, 0, 0, 0, 0xFFFFFFFF};
    auto first_valid = [&](std::initializer_list<sum_t> sums, uint32_t& word) {
        for (const auto& s : sums)
            if (s.valid) {
                word = s.value;
                return true;
            }
        return false;
    };
    auto or_zero = [](sum_t s) { return s.valid ? s.value : 0u; };
    switch (f) {
    case family::alder:
    case family::alderamd:
        if (b.size() != 0x100000)
            return rejected;
        if (!first_valid({word_sum(b, 0x40000, 0x3FFFF, 3), word_sum(b, 0x80000, 0x3FFFF, 3)}, r[0]))
            return rejected;
        r[2] = or_zero(word_sum(b, 0, 0x6000, 3));
        r[4] = or_zero(word_sum(b, 0x10000, 0x1110F, 3));
        r[5] = or_zero(word_sum(b, 0x60000, 0x1110F, 3));
        r[7] = 2;
        return r;
    case family::birch:
    case family::birchamd: {
        if (b.size() != 0x100000)
            return rejected;
        if (!first_valid({segmented_sum(b, 0x80000), segmented_sum(b, 0xA0000)}, r[0]))
            return rejected;
        first_valid({segmented_sum(b, 0xC0000), segmented_sum(b, 0xE0000)}, r[1]);
        r[2] = or_zero(segmented_sum(b, 0));
        uint32_t n = b[0x6404] | b[0x6405] << 8 | b[0x6406] << 16 | uint32_t{b[0x6407]} << 24;
        if (n > 0 && n < 0x2000)
            r[6] = or_zero(word_sum(b, 0x6408, 4 * n + 4, 4));
        r[7] = 4;
        return r;
    }
    case family::cedar: {
        if (b.size() != 0x20000)
            return rejected;
        if (!first_valid({word_sum(b, 0x8000, 0x7FFE, 3), word_sum(b, 0x8000, 0xFFFF, 3)}, r[0]))
            return rejected;
        auto boot = word_sum(b, 0, 0x7BFF, 3);
        if (!boot.valid)
            return rejected;
        r[2] = boot.value;
        r[7] = 0;
        return r;
    }
    case family::dogwood: {
        if (b.size() != 0x80000)
            return rejected;
        if (!first_valid({word_sum(b, 0, 0x7FFE, 3), word_sum(b, 0, 0xFFFF, 3)}, r[0]))
            return rejected;
        auto boot = word_sum(b, 0x78000, 0x7BFF, 3);
        if (!boot.valid)
            return rejected;
        r[2] = boot.value;
        r[5] = or_zero(word_sum(b, 0x20000, 0x5700, 3));
        r[7] = 1;
        return r;
    }
    }
    return rejected;
}

struct firmware_case {
    const char* name;
    std::function<void(firmware_spec&)> change;
    std::function<void(const firmware_t&)> expect; // beyond matching the checker
};

firmware_spec spec_of(family f)
{
    firmware_spec s;
    s.fam = f;
    s.version = {2, 20, 1, -1};
    return s;
}

TEST(ImageGenerator, RegionsSumToZeroAndRecordsMatchAnIndependentRecognizer)
{
    auto accepted = [](const firmware_t& i) { EXPECT_NE(i.record[type_word], 0xFFFFFFFFu); };
    auto refused = [](const firmware_t& i) { EXPECT_EQ(i.record, rejected); };
    const std::vector<std::pair<family, std::vector<firmware_case>>> table = {
        {family::alder,
         {{"plain",
           {},
           [](const firmware_t& i) {
               EXPECT_NE(i.record[boot_cs], 0u);
               EXPECT_NE(i.record[fpga_cs], 0u);
               EXPECT_NE(i.record[fpga2_cs], 0u);
           }},
          {"code at 80000", [](firmware_spec& s) { s.alternate_code = true; },
           [](const firmware_t& i) { EXPECT_FALSE(word_sum(i.bytes, 0x40000, 0x3FFFF, 3).valid); }},
          {"no second FPGA", [](firmware_spec& s) { s.fpga2 = false; },
           [](const firmware_t& i) { EXPECT_EQ(i.record[fpga2_cs], 0u); }},
          {"bad boot", [](firmware_spec& s) { s.flaws = {flaw::boot_checksum}; },
           [](const firmware_t& i) { EXPECT_EQ(i.record[boot_cs], 0u); }},
          {"bad FPGA", [](firmware_spec& s) { s.flaws = {flaw::fpga_checksum}; },
           [](const firmware_t& i) { EXPECT_EQ(i.record[fpga_cs], 0u); }},
          {"bad code", [](firmware_spec& s) { s.flaws = {flaw::code_checksum}; }, refused},
          {"short", [](firmware_spec& s) { s.flaws = {flaw::short_file}; },
           [&](const firmware_t& i) {
               EXPECT_EQ(i.bytes.size(), 0xFFFFFu);
               refused(i);
           }}}},
        {family::alderamd, {{"plain", {}, [](const firmware_t& i) { EXPECT_EQ(i.record[type_word], 2u); }}}},
        {family::birch,
         {{"plain",
           {},
           [](const firmware_t& i) {
               EXPECT_NE(i.record[code2_cs], 0u);
               EXPECT_NE(i.record[config_cs], 0u);
               // The boot needs its second part: it does not end inside 4000.
               EXPECT_FALSE(segmented_sum(bytes_t(i.bytes.begin(), i.bytes.begin() + 0x4000), 0).valid);
           }},
          {"short boot", [](firmware_spec& s) { s.short_boot = true; },
           [](const firmware_t& i) {
               EXPECT_TRUE(segmented_sum(bytes_t(i.bytes.begin(), i.bytes.begin() + 0x4000), 0).valid);
           }},
          {"runtimes at A0000 and E0000", [](firmware_spec& s) { s.alternate_code = s.alternate_code2 = true; },
           [](const firmware_t& i) {
               EXPECT_FALSE(segmented_sum(i.bytes, 0x80000).valid);
               EXPECT_FALSE(segmented_sum(i.bytes, 0xC0000).valid);
               EXPECT_NE(i.record[code2_cs], 0u);
           }},
          {"no second runtime", [](firmware_spec& s) { s.second_code = false; },
           [](const firmware_t& i) { EXPECT_EQ(i.record[code2_cs], 0u); }},
          {"no record list", [](firmware_spec& s) { s.config_count = 0; },
           [](const firmware_t& i) { EXPECT_EQ(i.record[config_cs], 0u); }},
          {"longest record list", [](firmware_spec& s) { s.config_count = 0x6FC; }, accepted},
          {"bad config", [](firmware_spec& s) { s.flaws = {flaw::config_checksum}; },
           [](const firmware_t& i) { EXPECT_EQ(i.record[config_cs], 0u); }},
          {"bad second runtime", [](firmware_spec& s) { s.flaws = {flaw::code2_checksum}; },
           [](const firmware_t& i) { EXPECT_EQ(i.record[code2_cs], 0u); }},
          {"bad boot", [](firmware_spec& s) { s.flaws = {flaw::boot_checksum}; },
           [](const firmware_t& i) { EXPECT_EQ(i.record[boot_cs], 0u); }},
          {"bad code", [](firmware_spec& s) { s.flaws = {flaw::code_checksum}; }, refused}}},
        {family::birchamd, {{"plain", {}, [](const firmware_t& i) { EXPECT_EQ(i.record[type_word], 4u); }}}},
        {family::cedar,
         {{"small code", {}, [](const firmware_t& i) { EXPECT_TRUE(word_sum(i.bytes, 0x8000, 0x7FFE, 3).valid); }},
          {"large code", [](firmware_spec& s) { s.large_code = true; },
           [](const firmware_t& i) {
               EXPECT_FALSE(word_sum(i.bytes, 0x8000, 0x7FFE, 3).valid);
               EXPECT_TRUE(word_sum(i.bytes, 0x8000, 0xFFFF, 3).valid);
           }},
          {"bad boot", [](firmware_spec& s) { s.flaws = {flaw::boot_checksum}; }, refused},
          {"long", [](firmware_spec& s) { s.flaws = {flaw::long_file}; },
           [&](const firmware_t& i) {
               EXPECT_EQ(i.bytes.size(), 0x20001u);
               refused(i);
           }}}},
        {family::dogwood,
         {{"small code", {}, [](const firmware_t& i) { EXPECT_NE(i.record[fpga2_cs], 0u); }},
          {"large code without Xilinx",
           [](firmware_spec& s) {
               s.large_code = true;
               s.fpga2 = false;
           },
           [](const firmware_t& i) {
               EXPECT_FALSE(word_sum(i.bytes, 0, 0x7FFE, 3).valid);
               EXPECT_EQ(i.record[fpga2_cs], 0u);
           }},
          {"bad code", [](firmware_spec& s) { s.flaws = {flaw::code_checksum}; }, refused},
          {"short", [](firmware_spec& s) { s.flaws = {flaw::short_file}; }, refused}}},
    };
    for (const auto& [fam, cases] : table) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(family_name(fam)) + ": " + c.name);
            auto spec = spec_of(fam);
            if (c.change)
                c.change(spec);
            auto image = make_firmware(spec);
            EXPECT_EQ(recognize(fam, image.bytes), image.record);
            if (c.expect)
                c.expect(image);
        }
    }
}

TEST(ImageGenerator, SameSpecSameBytesAndVersionsDiffer)
{
    for (family f : all_families()) {
        SCOPED_TRACE(family_name(f));
        auto spec = spec_of(f);
        auto a = make_firmware(spec);
        EXPECT_EQ(a.bytes, make_firmware(spec).bytes);
        spec.version.build += 1;
        EXPECT_NE(a.record[code_cs], make_firmware(spec).record[code_cs]);
    }
    // A birch pair for identification: same code, another configuration.
    auto spec = spec_of(family::birch);
    auto a = make_firmware(spec);
    spec.config_seed = 7;
    auto b = make_firmware(spec);
    EXPECT_EQ(a.record[code_cs], b.record[code_cs]);
    EXPECT_EQ(a.record[code2_cs], b.record[code2_cs]);
    EXPECT_NE(a.record[config_cs], b.record[config_cs]);
}

TEST(ImageGenerator, StampAndConfigurationSitWhereDevicesKeepThem)
{
    struct row {
        family f;
        size_t stamp, config;
        int width;
    };
    const row rows[] = {{family::alder, 0x40000, 0x6000, 3},
                        {family::birch, 0x80008, 0x6000, 4},
                        {family::cedar, 0x8000, 0x7C00, 3},
                        {family::dogwood, 0, 0x7FC00, 3}};
    for (const auto& r : rows) {
        SCOPED_TRACE(family_name(r.f));
        auto spec = spec_of(r.f);
        spec.version = {3, 21, 7, 4};
        spec.config.mac = {0x00, 0x60, 0x2B, 0xA1, 0xB2, 0xC3};
        spec.config.vcxo = 0x123456;
        auto image = make_firmware(spec);
        auto stamp = read_stamp(std::span(image.bytes).subspan(r.stamp));
        ASSERT_TRUE(stamp);
        EXPECT_EQ(stamp->version, spec.version);
        EXPECT_EQ(stamp->hardware, r.f == family::alder ? 4 : 1);
        auto config = read_config(image.bytes, r.config, r.width);
        EXPECT_EQ(config.mac, spec.config.mac);
        EXPECT_EQ(config.vcxo, 0x123456u);
        EXPECT_EQ(config.channels, spec.config.channels);
    }
    // Byte positions of the MAC: 3-byte words +4 +5 +7 +8 +10 +11; 4-byte
    // words +7 +6 +5 +4 +11 +10.
    bytes_t b(32, 0xEE);
    config_t c;
    c.mac = {1, 2, 3, 4, 5, 6};
    write_config(b, 0, 3, c);
    EXPECT_EQ((bytes_t{b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11]}), (bytes_t{0, 1, 2, 0, 3, 4, 0, 5, 6}));
    write_config(b, 0, 4, c);
    EXPECT_EQ((bytes_t(b.begin() + 4, b.begin() + 12)), (bytes_t{4, 3, 2, 1, 0, 0, 6, 5}));
}

TEST(ImageGenerator, RefusesFlawsWithoutTheirRegion)
{
    auto spec = spec_of(family::cedar);
    spec.flaws = {flaw::config_checksum};
    EXPECT_THROW(make_firmware(spec), std::invalid_argument);
    spec = spec_of(family::birch);
    spec.second_code = false;
    spec.flaws = {flaw::code2_checksum};
    EXPECT_THROW(make_firmware(spec), std::invalid_argument);
    spec = spec_of(family::birch);
    spec.config_count = 0x700; // would run past the sector
    EXPECT_THROW(make_firmware(spec), std::invalid_argument);
}

// The firmware server's word access: first block, memory space 1, sub-kind 2.
std::optional<uint32_t> dsp_word(const bytes_t& b, uint32_t address)
{
    auto w = [&](size_t i) { return b[4 * i] | b[4 * i + 1] << 8 | b[4 * i + 2] << 16 | uint32_t{b[4 * i + 3]} << 24; };
    for (size_t i = 0; 4 * i + 8 <= b.size() && w(i) != 0xFFFFFFFF;) {
        uint32_t tag = w(i), length = w(i + 1);
        uint32_t start = tag & 0xFFFF;
        if ((tag & 0x0FF00000) == 0x01200000 && address >= start && address < start + length)
            return w(i + 2 + address - start);
        i += 2 + length;
    }
    return std::nullopt;
}

TEST(ImageGenerator, DspImagesAndTheirFlaws)
{
    dsp_spec spec;
    spec.version = {4, 1, 0, -1};
    spec.args_base = 0x300;
    spec.args_count = 5;
    spec.check_address = 0x2F0;
    spec.flash_word = 0xABCDE;
    auto image = make_dsp(spec);
    auto sum = segmented_sum(image.bytes, 0);
    EXPECT_TRUE(sum.valid);
    EXPECT_EQ(sum.value, image.checksum);
    EXPECT_EQ(dsp_word(image.bytes, 0x2F0), 0xABCDEu);
    EXPECT_TRUE(dsp_word(image.bytes, 0x304));
    // The monitor block ends at monitor_bytes and sums to zero by itself.
    uint32_t block_sum = 0;
    for (size_t at = 0; at < image.monitor_bytes; at += 4)
        block_sum += image.bytes[at] | image.bytes[at + 1] << 8 | image.bytes[at + 2] << 16 |
            uint32_t{image.bytes[at + 3]} << 24;
    EXPECT_EQ(block_sum, 0u);
    EXPECT_EQ(image.bytes[image.monitor_bytes - 8], 0xFF);
    auto info = read_dsp(image.bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->version, spec.version);
    EXPECT_EQ(info->flash_word, 0xABCDEu);
    EXPECT_EQ(info->args.size(), 5u);

    for (size_t size : {size_t{65536}, size_t{100000}}) {
        spec.size = size;
        auto big = make_dsp(spec);
        EXPECT_EQ(big.bytes.size(), size);
        EXPECT_TRUE(segmented_sum(big.bytes, 0).valid);
    }
    spec.size = 0;
    spec.monitor = false;
    auto program = make_dsp(spec);
    EXPECT_TRUE(segmented_sum(program.bytes, 0).valid);
    EXPECT_FALSE(dsp_word(program.bytes, 0x2F0));

    spec.monitor = true;
    const std::pair<dsp_flaw, bool> flaws[] = {{dsp_flaw::bad_tag, true},
                                               {dsp_flaw::bad_length, false},
                                               {dsp_flaw::bad_checksum, false},
                                               {dsp_flaw::no_end_marker, false}};
    for (auto [f, sums] : flaws) {
        SCOPED_TRACE(dsp_flaw_name(f));
        spec.flaws = {f};
        auto broken = make_dsp(spec);
        EXPECT_EQ(segmented_sum(broken.bytes, 0).valid, sums);
    }
    spec.flaws = {dsp_flaw::not_word_multiple};
    EXPECT_EQ(make_dsp(spec).bytes.size() % 4, 2u);
}

TEST(ImageGenerator, CommandLineWritesNamedFiles)
{
    auto dir = std::filesystem::temp_directory_path() / ("vx-images-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    EXPECT_EQ(images_main({"firmware", "dogwood", "1.2.3", "--dir", dir.string(), "--large-code"}), 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "dogwood_1_2_3.bin"), 0x80000u);
    EXPECT_EQ(images_main({"dsp", "2.0.1", "-o", (dir / "x.uld").string(), "--size", "65536"}), 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "x.uld"), 65536u);
    EXPECT_EQ(images_main({"firmware", "oak", "1.2.3"}), 2);
    EXPECT_EQ(images_main({"firmware", "cedar", "1.2"}), 2);
    EXPECT_EQ(images_main({"firmware", "cedar", "1.2.3", "--flaw", "config-checksum"}), 2);
    std::filesystem::remove_all(dir);
}

} // namespace
