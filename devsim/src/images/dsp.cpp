// DSP images: a monitor block that says where the arguments live, a program
// block that carries the version stamp, the end marker; and their reader.
#include <algorithm>
#include <array>
#include <stdexcept>

#include "images.h"
#include "rng.h"
#include "uld.h"
#include "words.h"

namespace devsim::images {
namespace {

constexpr uint32_t descriptor_magic = 0x4D445856u; // "VXDM"
constexpr size_t section_limit = 0x4000;           // data words per program section

struct dsp_flaw_row {
    dsp_flaw f;
    const char* name;
};
const dsp_flaw_row dsp_flaw_rows[] = {
    {dsp_flaw::bad_tag, "bad-tag"},
    {dsp_flaw::bad_length, "bad-length"},
    {dsp_flaw::bad_checksum, "bad-checksum"},
    {dsp_flaw::not_word_multiple, "not-word-multiple"},
    {dsp_flaw::no_end_marker, "no-end-marker"},
};

void monitor_block(uld_builder_t& u, const dsp_spec& s, rng_t& rng)
{
    const uint32_t descriptor[4] = {descriptor_magic, s.args_base, s.args_count, s.check_address};
    u.section(uld_tag(2, 0, 0), descriptor);
    uint32_t low = std::min(s.args_base, s.check_address);
    uint64_t high = std::max<uint64_t>(uint64_t{s.args_base} + s.args_count, uint64_t{s.check_address} + 1);
    if (high > 0x10000 || high - low >= 0xFFFF)
        throw std::invalid_argument("the arguments and the check address must lie in word addresses 0..0xFFFF");
    std::vector<uint32_t> area(high - low);
    for (auto& w : area)
        w = rng.word() % 1000;
    area[s.check_address - low] = s.flash_word;
    u.section(uld_tag(1, 2, low), area);
    std::vector<uint32_t> code(64);
    for (auto& w : code)
        w = rng.word();
    u.section(uld_tag(4, 0, 0), code);
    u.end_block();
}

// Program sections filling `words` words (section headers included).
void program_block(uld_builder_t& u, const dsp_spec& s, rng_t& rng, size_t words)
{
    size_t sections = (words + section_limit + 1) / (section_limit + 2);
    size_t data = words - 2 * sections;
    if (sections == 0 || data < sections + stamp_size / 4)
        throw std::invalid_argument("DSP image size too small");
    std::array<uint8_t, stamp_size> stamp{};
    write_stamp(stamp, {s.version, 0});
    for (size_t k = 0; k < sections; ++k) {
        std::vector<uint32_t> part(data / sections + (k < data % sections ? 1 : 0));
        for (auto& w : part)
            w = rng.word();
        if (k == 0)
            for (size_t i = 0; i < stamp_size / 4; ++i)
                part[i] = le_word(stamp, i * 4, 4);
        uint32_t space = k == 0 && s.flaws.count(dsp_flaw::bad_tag) ? 3 : 4;
        u.section(uld_tag(space, 1, static_cast<uint32_t>(k * section_limit)), part);
    }
    u.end_block();
}

} // namespace

std::optional<dsp_flaw> parse_dsp_flaw(std::string_view name)
{
    for (const auto& r : dsp_flaw_rows)
        if (name == r.name)
            return r.f;
    return std::nullopt;
}

const char* dsp_flaw_name(dsp_flaw f)
{
    for (const auto& r : dsp_flaw_rows)
        if (r.f == f)
            return r.name;
    return "?";
}

dsp_t make_dsp(const dsp_spec& s)
{
    size_t size = s.size ? s.size : 0x2000;
    if (size % 4 != 0)
        throw std::invalid_argument("DSP image size must be a multiple of 4");
    rng_t rng(s.seed ? s.seed : seed_of("dsp_" + version_text(s.version)));
    uld_builder_t u;
    if (s.monitor)
        monitor_block(u, s, rng);
    size_t used = u.words().size() + 2 + 2; // program block's closing pair, end marker
    if (size / 4 <= used)
        throw std::invalid_argument("DSP image size too small");
    size_t program_start = u.words().size();
    program_block(u, s, rng, size / 4 - used);
    u.end_image();

    auto& words = u.words();
    size_t program_checksum = words.size() - 3;
    if (s.flaws.count(dsp_flaw::bad_length)) {
        // The program's first section claims 0xFFFF words; its block still sums to zero.
        size_t length_at = program_start + 1;
        words[program_checksum] -= 0xFFFFu - words[length_at];
        words[length_at] = 0xFFFFu;
    }
    if (s.flaws.count(dsp_flaw::bad_checksum))
        words[program_checksum] += 1;

    dsp_t out;
    out.bytes = u.bytes();
    auto check = uld_check(out.bytes);
    out.checksum = check.value;
    out.monitor_bytes = static_cast<uint32_t>(check.monitor_bytes);
    if (s.flaws.count(dsp_flaw::not_word_multiple))
        out.bytes.resize(out.bytes.size() - 2);
    if (s.flaws.count(dsp_flaw::no_end_marker))
        out.bytes.resize(out.bytes.size() - 8);
    return out;
}

std::optional<dsp_info_t> read_dsp(std::span<const uint8_t> bytes)
{
    auto check = uld_check(bytes);
    if (!check.valid)
        return std::nullopt;
    auto words = to_words(bytes.first(check.end));
    auto sections = uld_sections(words);
    dsp_info_t info;
    for (const auto& s : sections) {
        if (info.version || s.length < stamp_size / 4)
            continue;
        if (auto stamp = read_stamp(bytes.subspan(s.data * 4, stamp_size)))
            info.version = stamp->version;
    }
    if (!sections.empty() && sections[0].block == 0 && sections[0].length >= 4 &&
        words[sections[0].data] == descriptor_magic) {
        info.has_descriptor = true;
        info.args_base = words[sections[0].data + 1];
        info.args_count = words[sections[0].data + 2];
        info.check_address = words[sections[0].data + 3];
    }
    // Word access as the firmware server reads it: first block, space 1, sub-kind 2.
    auto word_at = [&](uint32_t address) -> std::optional<uint32_t> {
        for (const auto& s : sections) {
            if (s.block != 0 || (s.tag & 0x0FF00000u) != 0x01200000u)
                continue;
            uint32_t start = s.tag & 0xFFFF;
            if (address >= start && address - start < s.length)
                return words[s.data + (address - start)];
        }
        return std::nullopt;
    };
    if (info.has_descriptor) {
        info.flash_word = word_at(info.check_address);
        for (uint32_t k = 0; k < info.args_count && k < 0x10000; ++k) {
            auto w = word_at(info.args_base + k);
            if (!w)
                break;
            info.args.push_back(*w);
        }
    }
    return info;
}

} // namespace devsim::images
