// Firmware images per family: random fill from a fixed seed, checksum words
// fixed up region by region (inner regions before the regions holding them),
// and the requested flaws applied last.
#include <algorithm>
#include <array>
#include <stdexcept>

#include "images.h"
#include "rng.h"
#include "uld.h"
#include "words.h"

namespace devsim::images {
namespace {

constexpr uint32_t none = 0xFFFFFFFFu; // device type of a file no recognizer accepts

class builder_t {
public:
    explicit builder_t(const firmware_spec& spec)
        : spec_(spec), rng_(spec.seed ? spec.seed : seed_of(file_name(spec.fam, spec.version)))
    {
        out_.bytes.assign(image_size(spec.fam), 0xFF);
    }

    firmware_t build()
    {
        check_flaws();
        switch (spec_.fam) {
        case family::alder:
        case family::alderamd:
            alder();
            break;
        case family::birch:
        case family::birchamd:
            birch();
            break;
        case family::cedar:
            cedar();
            break;
        case family::dogwood:
            dogwood();
            break;
        }
        if (has(flaw::short_file))
            out_.bytes.pop_back();
        if (has(flaw::long_file))
            out_.bytes.push_back(0xFF);
        if (has(flaw::short_file) || has(flaw::long_file))
            refused_ = true;
        if (refused_)
            out_.record = {0, 0, 0, 0, 0, 0, 0, none};
        return std::move(out_);
    }

private:
    bool has(flaw f) const { return spec_.flaws.count(f) != 0; }
    std::span<uint8_t> bytes() { return out_.bytes; }
    uint32_t& word(record_word w) { return out_.record[w]; }

    void check_flaws() const
    {
        bool birch_like = spec_.fam == family::birch || spec_.fam == family::birchamd;
        bool alder_like = spec_.fam == family::alder || spec_.fam == family::alderamd;
        auto refuse = [&](flaw f) {
            throw std::invalid_argument(std::string("flaw ") + flaw_name(f) + " does not apply to " +
                                        family_name(spec_.fam) + " images");
        };
        if (has(flaw::code2_checksum) && !(birch_like && spec_.second_code))
            refuse(flaw::code2_checksum);
        if (has(flaw::fpga_checksum) && !alder_like)
            refuse(flaw::fpga_checksum);
        if (has(flaw::config_checksum) && !(birch_like && list_words() != 0))
            refuse(flaw::config_checksum);
        if (birch_like && spec_.config_count > 0x6FC && spec_.config_count < 0x2000)
            throw std::invalid_argument("a configuration record list of that many words does not fit the sector");
    }

    // Words of the birch configuration record list; 0 when there is none.
    uint32_t list_words() const
    {
        return spec_.config_count > 0 && spec_.config_count < 0x2000 ? spec_.config_count : 0;
    }

    int hardware() const
    {
        if (spec_.hardware != -1)
            return spec_.hardware;
        if (spec_.fam == family::alder || spec_.fam == family::alderamd)
            return spec_.version.minor >= 20 ? 4 : 3;
        return 1;
    }

    void stamp(size_t at) { write_stamp(bytes().subspan(at), {spec_.version, hardware()}); }

    // Fixes a 3-byte-word region, spoiled again when `flawed`; returns the
    // value a recognizer records (0 for an invalid region).
    uint32_t region(size_t start, size_t length, bool flawed)
    {
        uint32_t value = fix_region(bytes(), start, length, 3);
        if (!flawed)
            return value;
        spoil_region(bytes(), start, length, 3);
        return 0;
    }

    void alder()
    {
        auto b = bytes();
        rng_.fill(b.subspan(0, 0x6000));
        word(boot_cs) = region(0, 0x6000, has(flaw::boot_checksum));
        write_config(b, 0x6000, 3, spec_.config);
        rng_.fill(b.subspan(0x8000, 0x38000));
        word(fpga_cs) = region(0x10000, 0x1110F, has(flaw::fpga_checksum));
        size_t code = spec_.alternate_code ? 0x80000 : 0x40000;
        rng_.fill(b.subspan(0x40000, spec_.alternate_code ? 0x80000 : 0x40000));
        stamp(code);
        // The second FPGA region lies inside the code at 40000: fix it first.
        if (spec_.fpga2)
            word(fpga2_cs) = fix_region(b, 0x60000, 0x1110F, 3);
        else
            spoil_region(b, 0x60000, 0x1110F, 3);
        if (spec_.alternate_code)
            spoil_region(b, 0x40000, 0x3FFFF, 3);
        word(code_cs) = fix_region(b, code, 0x3FFFF, 3);
        word(type_word) = 2;
        if (has(flaw::code_checksum)) {
            spoil_region(b, 0x40000, 0x3FFFF, 3);
            spoil_region(b, 0x80000, 0x3FFFF, 3);
            refused_ = true;
        }
    }

    // A segmented image of exactly `size` bytes (the sizes used here split
    // into whole sections): one block of sections of random data, the first
    // starting with the version stamp when asked.
    std::vector<uint8_t> segmented(size_t size, bool stamped)
    {
        uld_builder_t u;
        size_t data = size / 4 - 2 - 2; // the block's closing pair and the end marker
        uint32_t address = rng_.word() & 0xFFFF;
        while (data > 0) {
            size_t length = std::min<size_t>(data - 2, 0x1000);
            std::vector<uint32_t> words(length);
            for (auto& w : words)
                w = rng_.word();
            if (stamped) {
                std::array<uint8_t, stamp_size> s{};
                write_stamp(s, {spec_.version, hardware()});
                for (size_t i = 0; i < stamp_size / 4; ++i)
                    words[i] = le_word(s, i * 4, 4);
                stamped = false;
            }
            static const uint32_t spaces[] = {1, 2, 4};
            u.section(uld_tag(spaces[rng_.word() % 3], rng_.word() % 3, address), words);
            address += static_cast<uint32_t>(length);
            data -= length + 2;
        }
        u.end_block();
        u.end_image();
        return u.bytes();
    }

    // Places a segmented image; returns its checksum value (0 when spoiled).
    uint32_t place(size_t at, const std::vector<uint8_t>& image, bool flawed)
    {
        std::copy(image.begin(), image.end(), out_.bytes.begin() + at);
        auto check = uld_check(image);
        if (!flawed)
            return check.value;
        // The last data word of the first block: its sum is off by one.
        put_le(bytes(), at + check.monitor_bytes - 12, le_word(bytes(), at + check.monitor_bytes - 12, 4) + 1, 4);
        return 0;
    }

    void birch()
    {
        auto b = bytes();
        word(boot_cs) = place(0, segmented(spec_.short_boot ? 0x3000 : 0x5000, false), has(flaw::boot_checksum));
        write_config(b, 0x6000, 4, spec_.config);
        put_le(b, 0x6404, spec_.config_count, 4);
        if (uint32_t n = list_words()) {
            rng_t list(seed_of("config") ^ spec_.config_seed ^ n);
            list.fill(b.subspan(0x6408, 4 * n + 4));
            word(config_cs) = fix_region(b, 0x6408, 4 * n + 4, 4);
            if (has(flaw::config_checksum)) {
                spoil_region(b, 0x6408, 4 * n + 4, 4);
                word(config_cs) = 0;
            }
        }
        word(code_cs) =
            place(spec_.alternate_code ? 0xA0000 : 0x80000, segmented(0x10000, true), has(flaw::code_checksum));
        if (spec_.second_code) {
            dsp_spec dsp;
            dsp.version = spec_.version;
            dsp.seed = rng_.word() | 1;
            dsp.size = 0x8000;
            word(code2_cs) =
                place(spec_.alternate_code2 ? 0xE0000 : 0xC0000, make_dsp(dsp).bytes, has(flaw::code2_checksum));
        }
        word(type_word) = 4;
        if (has(flaw::code_checksum))
            refused_ = true;
    }

    void cedar()
    {
        auto b = bytes();
        rng_.fill(b.subspan(0, 0x7C00));
        uint32_t boot = region(0, 0x7BFF, has(flaw::boot_checksum));
        write_config(b, 0x7C00, 3, spec_.config);
        code(0x8000, spec_.large_code ? 0x10000 : 0x8000);
        word(boot_cs) = boot;
        word(type_word) = 0;
        if (has(flaw::boot_checksum))
            refused_ = true;
    }

    void dogwood()
    {
        auto b = bytes();
        code(0, 0x10000);
        if (spec_.fpga2) {
            rng_.fill(b.subspan(0x20000, 0x10000));
            word(fpga2_cs) = fix_region(b, 0x20000, 0x5700, 3);
        }
        rng_.fill(b.subspan(0x70000, 0xFC00));
        uint32_t boot = region(0x78000, 0x7BFF, has(flaw::boot_checksum));
        write_config(b, 0x7FC00, 3, spec_.config);
        word(boot_cs) = boot;
        word(type_word) = 1;
        if (has(flaw::boot_checksum))
            refused_ = true;
    }

    // cedar and dogwood code: small (7FFE) or large (FFFF); a large code must
    // not also check as a small one.
    void code(size_t at, size_t fill)
    {
        auto b = bytes();
        rng_.fill(b.subspan(at, fill));
        stamp(at);
        if (spec_.large_code)
            spoil_region(b, at, 0x7FFE, 3);
        word(code_cs) = fix_region(b, at, spec_.large_code ? 0xFFFF : 0x7FFE, 3);
        if (has(flaw::code_checksum)) {
            spoil_region(b, at, 0x7FFE, 3);
            spoil_region(b, at, 0xFFFF, 3);
            refused_ = true;
        }
    }

    const firmware_spec& spec_;
    rng_t rng_;
    firmware_t out_;
    bool refused_ = false; // no recognizer accepts the image: a fresh record
};

struct flaw_row {
    flaw f;
    const char* name;
};
const flaw_row flaw_rows[] = {
    {flaw::boot_checksum, "boot-checksum"},
    {flaw::code_checksum, "code-checksum"},
    {flaw::code2_checksum, "code2-checksum"},
    {flaw::fpga_checksum, "fpga-checksum"},
    {flaw::config_checksum, "config-checksum"},
    {flaw::short_file, "short-file"},
    {flaw::long_file, "long-file"},
};

} // namespace

std::optional<flaw> parse_flaw(std::string_view name)
{
    for (const auto& r : flaw_rows)
        if (name == r.name)
            return r.f;
    return std::nullopt;
}

const char* flaw_name(flaw f)
{
    for (const auto& r : flaw_rows)
        if (r.f == f)
            return r.name;
    return "?";
}

firmware_t make_firmware(const firmware_spec& spec) { return builder_t(spec).build(); }

config_t read_config(std::span<const uint8_t> b, size_t at, int width)
{
    config_t c;
    c.leading = le_word(b, at, width);
    if (width == 3) {
        for (int i = 0; i < 3; ++i) {
            c.mac[2 * i] = b[at + 4 + 3 * i];
            c.mac[2 * i + 1] = b[at + 5 + 3 * i];
        }
    } else {
        static const int order[6] = {7, 6, 5, 4, 11, 10};
        for (int i = 0; i < 6; ++i)
            c.mac[i] = b[at + order[i]];
    }
    c.vcxo = le_word(b, at + 12, width);
    c.channels = le_word(b, at + 12 + width, width);
    c.ssi = le_word(b, at + 12 + 2 * width, width);
    return c;
}

void write_config(std::span<uint8_t> b, size_t at, int width, const config_t& c)
{
    put_le(b, at, c.leading, width);
    std::fill(b.begin() + at + width, b.begin() + at + 12, 0);
    if (width == 3) {
        for (int i = 0; i < 3; ++i) {
            b[at + 4 + 3 * i] = c.mac[2 * i];
            b[at + 5 + 3 * i] = c.mac[2 * i + 1];
        }
    } else {
        static const int order[6] = {7, 6, 5, 4, 11, 10};
        for (int i = 0; i < 6; ++i)
            b[at + order[i]] = c.mac[i];
    }
    put_le(b, at + 12, c.vcxo, width);
    put_le(b, at + 12 + width, c.channels, width);
    put_le(b, at + 12 + 2 * width, c.ssi, width);
}

} // namespace devsim::images
