// Synthetic firmware and DSP images for tests and the demo: every family's
// layout with its checksummed regions made whole (random fill, fixed seed),
// a version stamp the simulated devices report, and broken variants.
//
// Firmware regions (offsets in the image file, hexadecimal):
//   alder, alderamd (100000 bytes): boot 0+6000, configuration sector at 6000
//     (3-byte record), FPGA 10000+1110F, runtime code 40000+3FFFF (or 80000),
//     second FPGA 60000+1110F inside the code.
//   birch, birchamd (100000): segmented boot at 0, configuration sector at 6000
//     (4-byte record, count at 6404, record list from 6408), first runtime
//     code at 80000 (or A0000), second runtime code (a DSP image) at C0000
//     (or E0000).
//   cedar (20000): boot 0+7BFF, configuration area at 7C00, code 8000+7FFE
//     (small) or 8000+FFFF (large).
//   dogwood (80000): code 0+7FFE or 0+FFFF, second Xilinx 20000+5700, boot
//     78000+7BFF, configuration area at 7FC00.
// Sums use little-endian 3-byte words (mod 2^24), 4-byte words for the birch
// record list, and the segmented (uld) block format for birch code and DSP.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace devsim::images {

// The numbers are the device type codes of the firmware server.
enum class family : int { cedar = 0, dogwood = 1, alder = 2, alderamd = 3, birch = 4, birchamd = 5 };

// In the order the firmware server probes them: alder, alderamd, birch,
// birchamd, cedar, dogwood.
const std::vector<family>& all_families();
const char* family_name(family f);
std::optional<family> parse_family(std::string_view name);
uint32_t image_size(family f);

struct version_t {
    int major = 1;
    int minor = 0;
    int build = 0;
    int patch = -1; // -1: none
    bool operator==(const version_t&) const = default;
};
// "3.1.7" or "2.20.0.4"; each number 0..32767.
std::optional<version_t> parse_version(std::string_view text);
std::string version_text(const version_t& v);        // "3.1.7"
std::string file_name(family f, const version_t& v); // "alder_3_1_7.bin"
std::string file_name(std::string_view word, const version_t& v, std::string_view extension);

// The checksum record a firmware server's recognizer fills for the image:
// 0 code, 1 second code, 2 boot, 3 (0), 4 FPGA, 5 second FPGA, 6 configuration,
// 7 device type. Recognition types alderamd images as alder (2) and birchamd
// images as birch (4), so word 7 says so too.
using record_t = std::array<uint32_t, 8>;
enum record_word { code_cs = 0, code2_cs = 1, boot_cs = 2, fpga_cs = 4, fpga2_cs = 5, config_cs = 6, type_word = 7 };

// The device settings kept in the configuration sector or area.
struct config_t {
    uint32_t leading = 1;
    std::array<uint8_t, 6> mac{0x00, 0x60, 0x2B, 0x00, 0x00, 0x01};
    uint32_t vcxo = 0x800;
    uint32_t channels = 8;
    uint32_t ssi = 0;
};
// The record at `at` in words of `width` (3 or 4) as the devices keep it; the
// MAC sits in the upper two bytes of three 3-byte words, or byte-swapped in
// two 4-byte words. The spare bytes of the MAC words are written as 0.
config_t read_config(std::span<const uint8_t> bytes, size_t at, int width);
void write_config(std::span<uint8_t> bytes, size_t at, int width, const config_t& config);

enum class flaw {
    boot_checksum,   // the boot region does not sum to zero
    code_checksum,   // no runtime code region sums to zero (no recognizer accepts it)
    code2_checksum,  // birch: the second runtime code does not check
    fpga_checksum,   // alder: the FPGA region does not check
    config_checksum, // birch: the configuration record list does not check
    short_file,      // one byte less than the family's size
    long_file,       // one byte more
};
std::optional<flaw> parse_flaw(std::string_view name); // "boot-checksum", ...
const char* flaw_name(flaw f);

struct firmware_spec {
    family fam = family::alder;
    version_t version;
    int hardware = -1;            // stamped hardware value; -1: alder/alderamd 4 when minor >= 20, else 3; others 1
    uint32_t seed = 0;            // 0: derived from family and version, so equal specs give equal bytes
    bool large_code = false;      // cedar, dogwood: code over both banks
    bool alternate_code = false;  // alder: code at 80000 only; birch: first runtime at A0000 only
    bool alternate_code2 = false; // birch: second runtime at E0000 only
    bool second_code = true;      // birch: has a second runtime code
    bool fpga2 = true;            // alder: second FPGA region valid; dogwood: second Xilinx image present
    bool short_boot = false;      // birch: the boot ends inside its first 4000 bytes
    uint32_t config_count = 16;   // birch: words in the configuration record list (0: no list); at most 0x6FC
    uint32_t config_seed = 0;     // birch: varies the record list (and config_cs) alone
    config_t config;
    std::set<flaw> flaws; // a flaw the family has no region for throws std::invalid_argument
};

struct firmware_t {
    std::vector<uint8_t> bytes;
    record_t record{};
};
firmware_t make_firmware(const firmware_spec& spec);

enum class dsp_flaw {
    bad_tag,           // a section tag with memory space 3 (block sums still zero)
    bad_length,        // a section length of 0xFFFF
    bad_checksum,      // the program block does not sum to zero
    not_word_multiple, // two bytes cut off the end
    no_end_marker,     // the closing 0xFFFFFFFF pair cut off
};
std::optional<dsp_flaw> parse_dsp_flaw(std::string_view name); // "bad-tag", ...
const char* dsp_flaw_name(dsp_flaw f);

// A DSP image: a monitor block (descriptor section, the argument section of
// memory space 1 / sub-kind 2 covering the arguments and the check address,
// monitor code), a program block whose first section starts with the version
// stamp, and the end marker.
struct dsp_spec {
    version_t version;
    uint32_t seed = 0;          // 0: derived from the version
    bool monitor = true;        // false: program block only (a file to download)
    uint32_t args_base = 0x110; // word address of the first argument
    uint32_t args_count = 8;
    uint32_t check_address = 0x120;
    uint32_t flash_word = 0x2A5C3; // stored at the check address
    size_t size = 0;               // exact file size in bytes (multiple of 4); 0: about 8 KiB
    std::set<dsp_flaw> flaws;
};

struct dsp_t {
    std::vector<uint8_t> bytes;
    uint32_t checksum = 0;      // the sum of the block checksum words
    uint32_t monitor_bytes = 0; // bytes up to and including the first block's checksum word
};
dsp_t make_dsp(const dsp_spec& spec);

// Writes the bytes to a file; throws std::runtime_error naming the path.
void write_file(const std::string& path, std::span<const uint8_t> bytes);

// What a device reports as its firmware: the stamp at the start of the
// runtime code (the first section's data in segmented code) and of a DSP
// program section. 16 bytes: "VXFW", then major, minor, build, patch as
// 16-bit little-endian values (patch 0xFFFF: none), then the 32-bit hardware value.
struct stamp_t {
    version_t version;
    int hardware = 0;
};
inline constexpr size_t stamp_size = 16;
std::optional<stamp_t> read_stamp(std::span<const uint8_t> bytes);
void write_stamp(std::span<uint8_t> bytes, const stamp_t& stamp);

// What a device learns from a DSP image in its flash. The monitor's first
// section is a descriptor ("VXDM", argument base, count, check address);
// words are addressed as the firmware server does: first block, memory space 1,
// sub-kind 2.
struct dsp_info_t {
    std::optional<version_t> version; // from the first stamped section
    bool has_descriptor = false;
    uint32_t args_base = 0;
    uint32_t args_count = 0;
    uint32_t check_address = 0;
    std::optional<uint32_t> flash_word; // the word at the check address
    std::vector<uint32_t> args;         // the argument words found
    bool operator==(const dsp_info_t&) const = default;
};
// nullopt when the bytes are no valid segmented image.
std::optional<dsp_info_t> read_dsp(std::span<const uint8_t> bytes);

} // namespace devsim::images
