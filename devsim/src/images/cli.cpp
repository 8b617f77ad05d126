// "devsim images": writes one firmware or DSP image per call and prints what
// a firmware server should find in it.
#include "cli.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "images.h"

namespace devsim::images {
namespace {

const char* usage =
    "Usage: devsim images firmware FAMILY VERSION [options]\n"
    "       devsim images dsp VERSION [options]\n"
    "Writes a synthetic image (valid unless a flaw is asked for) and prints one line:\n"
    "  firmware: PATH code=0x.. code2=0x.. boot=0x.. fpga=0x.. fpga2=0x.. config=0x.. type=N\n"
    "            (the checksum record a firmware server's recognizer fills; type=-1: rejected)\n"
    "  dsp:      PATH checksum=0x.. monitor-bytes=N size=N\n"
    "FAMILY: alder, alderamd, birch, birchamd, cedar, dogwood. VERSION: 3.1.7 or 2.20.0.4.\n"
    "\n"
    "  -o, --out PATH          file to write (default DIR/alder_3_1_7.bin, DIR/dsp_1_0_0.uld)\n"
    "  -d, --dir DIR           folder of the default name (default .)\n"
    "      --seed N            random fill seed (default: from the name)\n"
    "firmware:\n"
    "      --hardware N        hardware value in the stamp (default alder 3, or 4 from minor 20; others 1)\n"
    "      --large-code        cedar, dogwood: code over both banks\n"
    "      --alternate-code    alder: code at 80000 only; birch: first runtime at A0000 only\n"
    "      --alternate-code2   birch: second runtime at E0000 only\n"
    "      --no-code2          birch: no second runtime code\n"
    "      --no-fpga2          alder: no valid second FPGA region; dogwood: no second Xilinx\n"
    "      --short-boot        birch: boot ends inside its first 4000 bytes\n"
    "      --config-count N    birch: configuration record list words (default 16; 0: none)\n"
    "      --config-seed N     birch: another record list (another config checksum)\n"
    "      --mac MAC, --vcxo N, --channels N, --ssi N, --leading N\n"
    "                          configuration record values\n"
    "      --flaw NAME         boot-checksum, code-checksum, code2-checksum, fpga-checksum,\n"
    "                          config-checksum, short-file, long-file (repeatable)\n"
    "dsp:\n"
    "      --no-monitor        program block only (a file to download)\n"
    "      --size BYTES        exact size, a multiple of 4 (default 8192)\n"
    "      --args-base A, --args N, --check-address A, --flash-word W\n"
    "                          argument area (default 0x110, 8, 0x120, 0x2A5C3)\n"
    "      --flaw NAME         bad-tag, bad-length, bad-checksum, not-word-multiple,\n"
    "                          no-end-marker (repeatable)\n"
    "Numbers may be decimal or 0x-prefixed hexadecimal.\n";

uint32_t number(const std::string& text)
{
    if (text.empty() || text[0] == '-')
        throw std::invalid_argument("bad number: " + text);
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFul)
        throw std::invalid_argument("bad number: " + text);
    return static_cast<uint32_t>(value);
}

std::array<uint8_t, 6> mac(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (c != ':' && c != '-')
            digits += c;
    std::array<uint8_t, 6> out{};
    if (digits.size() != 12 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::invalid_argument("bad MAC: " + text);
    for (int i = 0; i < 6; ++i)
        out[i] = static_cast<uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    return out;
}

std::string hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

struct cursor_t {
    const std::vector<std::string>& args;
    size_t i = 0;
    bool more() const { return i < args.size(); }
    const std::string& next(const char* what)
    {
        if (i >= args.size())
            throw std::invalid_argument(std::string("missing ") + what);
        return args[i++];
    }
};

version_t version_arg(cursor_t& c)
{
    auto version = parse_version(c.next("VERSION"));
    if (!version)
        throw std::invalid_argument("bad version: " + c.args[c.i - 1]);
    return *version;
}

// The options both kinds take; false when `a` is none of them.
struct output_t {
    std::string out, dir = ".";
    bool option(cursor_t& c, const std::string& a, uint32_t& seed)
    {
        if (a == "-o" || a == "--out")
            out = c.next("PATH");
        else if (a == "-d" || a == "--dir")
            dir = c.next("DIR");
        else if (a == "--seed")
            seed = number(c.next("N"));
        else
            return false;
        return true;
    }
};

int firmware(cursor_t& c)
{
    firmware_spec spec;
    auto fam = parse_family(c.next("FAMILY"));
    if (!fam)
        throw std::invalid_argument("unknown family: " + c.args[c.i - 1]);
    spec.fam = *fam;
    spec.version = version_arg(c);
    output_t o;
    while (c.more()) {
        const std::string a = c.next("option");
        if (o.option(c, a, spec.seed))
            continue;
        if (a == "--hardware")
            spec.hardware = static_cast<int>(number(c.next("N")));
        else if (a == "--large-code")
            spec.large_code = true;
        else if (a == "--alternate-code")
            spec.alternate_code = true;
        else if (a == "--alternate-code2")
            spec.alternate_code2 = true;
        else if (a == "--no-code2")
            spec.second_code = false;
        else if (a == "--no-fpga2")
            spec.fpga2 = false;
        else if (a == "--short-boot")
            spec.short_boot = true;
        else if (a == "--config-count")
            spec.config_count = number(c.next("N"));
        else if (a == "--config-seed")
            spec.config_seed = number(c.next("N"));
        else if (a == "--mac")
            spec.config.mac = mac(c.next("MAC"));
        else if (a == "--vcxo")
            spec.config.vcxo = number(c.next("N"));
        else if (a == "--channels")
            spec.config.channels = number(c.next("N"));
        else if (a == "--ssi")
            spec.config.ssi = number(c.next("N"));
        else if (a == "--leading")
            spec.config.leading = number(c.next("N"));
        else if (a == "--flaw") {
            auto f = parse_flaw(c.next("NAME"));
            if (!f)
                throw std::invalid_argument("unknown flaw: " + c.args[c.i - 1]);
            spec.flaws.insert(*f);
        } else {
            throw std::invalid_argument("unknown option: " + a);
        }
    }
    std::string out = o.out.empty() ? o.dir + "/" + file_name(spec.fam, spec.version) : o.out;
    auto image = make_firmware(spec);
    write_file(out, image.bytes);
    const auto& r = image.record;
    std::printf("%s code=%s code2=%s boot=%s fpga=%s fpga2=%s config=%s type=%d\n", out.c_str(),
                hex(r[code_cs]).c_str(), hex(r[code2_cs]).c_str(), hex(r[boot_cs]).c_str(), hex(r[fpga_cs]).c_str(),
                hex(r[fpga2_cs]).c_str(), hex(r[config_cs]).c_str(), static_cast<int>(r[type_word]));
    return 0;
}

int dsp(cursor_t& c)
{
    dsp_spec spec;
    spec.version = version_arg(c);
    output_t o;
    while (c.more()) {
        const std::string a = c.next("option");
        if (o.option(c, a, spec.seed))
            continue;
        if (a == "--no-monitor")
            spec.monitor = false;
        else if (a == "--size")
            spec.size = number(c.next("BYTES"));
        else if (a == "--args-base")
            spec.args_base = number(c.next("A"));
        else if (a == "--args")
            spec.args_count = number(c.next("N"));
        else if (a == "--check-address")
            spec.check_address = number(c.next("A"));
        else if (a == "--flash-word")
            spec.flash_word = number(c.next("W"));
        else if (a == "--flaw") {
            auto f = parse_dsp_flaw(c.next("NAME"));
            if (!f)
                throw std::invalid_argument("unknown flaw: " + c.args[c.i - 1]);
            spec.flaws.insert(*f);
        } else {
            throw std::invalid_argument("unknown option: " + a);
        }
    }
    std::string out = o.out.empty() ? o.dir + "/" + file_name("dsp", spec.version, ".uld") : o.out;
    auto image = make_dsp(spec);
    write_file(out, image.bytes);
    std::printf("%s checksum=%s monitor-bytes=%u size=%zu\n", out.c_str(), hex(image.checksum).c_str(),
                image.monitor_bytes, image.bytes.size());
    return 0;
}

} // namespace

int images_main(const std::vector<std::string>& args)
{
    cursor_t c{args};
    try {
        if (!c.more() || args[0] == "-h" || args[0] == "--help") {
            std::fputs(usage, c.more() ? stdout : stderr);
            return c.more() ? 0 : 2;
        }
        const std::string kind = c.next("kind");
        if (kind == "firmware")
            return firmware(c);
        if (kind == "dsp")
            return dsp(c);
        throw std::invalid_argument("unknown image kind: " + kind);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "devsim images: %s (devsim images --help shows the usage)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "devsim images: %s\n", e.what());
        return 1;
    }
}

} // namespace devsim::images
