#include "flashkit/families/dogwood.h"

#include "flashkit/families/support.h"
#include "flashkit/status_text.h"
#include "flashkit/tftp.h"

#include <vector>

namespace update {
namespace {

constexpr uint32_t boot_offset = 0x70000;   // "f8" in the image
constexpr uint32_t config_in_boot = 0xFC00; // the configuration area in "f8"
constexpr uint32_t xilinx_offset = 0x20000; // the second Xilinx image in the image
constexpr uint32_t xilinx_length = 0x5700;
constexpr uint32_t small_code = 0x7FFE;
constexpr uint32_t large_code = 0xFFFF;
constexpr int64_t image_size = 0x80000;

// The code or Xilinx file of a number: "f1", "f3".
std::string file_of(int32_t number) { return remote_name("f%d", number); }

// The running sum of the boot's second region (not a checksum: it need not be 0).
uint32_t second_boot_sum(const std::string& path, uint32_t start)
{
    checksum_t sum(start, 0x1E00, 3);
    sum.feed(path);
    return sum.sum() & 0xFFFFFF;
}

// The length of the image's runtime code (small first, then large); 0 when
// neither checks.
uint32_t code_length(const std::string& path, uint32_t& value)
{
    for (uint32_t length : {small_code, large_code}) {
        checksum_t sum(0, length, 3);
        sum.feed(path);
        if (sum.check()) {
            value = sum.value();
            return length;
        }
    }
    return 0;
}

} // namespace

dogwood_t::dogwood_t(const qm::ip_address_t& address, status_t* status) : base_t(address, status) {}

void dogwood_t::upload(checksums_t& record)
{
    status_t& s = current_status();
    local_file_t boot(temp_name("temp_boot1")), runtime(temp_name("runtime1"));

    s.set_text(status_text[text_reading_boot]);
    s.set_percent(30);
    get_file("f8", boot.path);

    extract_config_area(*this, boot.path, config_in_boot, config_area);

    s.set_text(status_text[text_boot_checksum]);
    s.set_percent(55);
    checksum_t boot_sum(0x8000, 0x7BFF, 3);
    boot_sum.feed(boot.path);
    set_word(*this, record, checksums_t::boot_cs, value_or_zero(boot_sum));
    set_word(*this, record, checksums_t::internal, second_boot_sum(boot.path, 0xC000));

    s.set_text(status_text[text_uploading_runtime]);
    code_bank = 0;
    code_format = 0;
    uint32_t value = 0;
    double counter = 60;
    for (int32_t number : {1, 2}) {
        get_file(file_of(number), runtime.path);
        s.set_percent(counter);
        uint32_t length = code_length(runtime.path, value);
        if (length != 0) {
            code_bank = number;
            code_format = length == small_code ? 1 : 2;
            break;
        }
        counter += 10;
    }
    s.set_text(status_text[text_runtime_uploaded]);

    if (code_bank != 0) {
        set_word(*this, record, checksums_t::code_cs, value);
        s.set_percent(80);
        get_file(file_of(code_bank + 2), runtime.path);
        s.set_text(status_text[text_xilinx2_uploaded]);
        s.set_percent(90);
        checksum_t xilinx(0, xilinx_length, 3);
        xilinx.feed(runtime.path);
        if (xilinx.check())
            set_word(*this, record, checksums_t::fpga2_cs, xilinx.value());
    }
    s.set_percent(100);
    set_word(*this, record, checksums_t::device_type, type_dogwood);
}

void dogwood_t::check_update(uint8_t flags[8], const checksums_t& version, const std::string& image)
{
    compare(flags, version, image, 1);
}

void dogwood_t::compare(uint8_t flags[8], const checksums_t& version_record, const std::string& image, int32_t mode)
{
    require_image(image, image_size);
    checksums_t version = version_record;
    version[checksums_t::internal] = second_boot_sum(image, 0x7C000);
    config_t image_config;
    read_config(image_config, image, boot_offset + config_in_boot, 3);
    uint8_t raw[7];
    for (int i = 0; i < 7; ++i)
        raw[i] = version[i] != checksums[i];
    const bool no_xilinx = version[checksums_t::fpga2_cs] == 0;

    for (int i = 0; i < 7; ++i)
        flags[i] = raw[i];
    flags[2] = raw[3] || (raw[2] && no_xilinx);
    flags[0] = raw[0] || raw[5];
    flags[4] = flags[5] = flags[6] = 0;
    flags[7] = (flags[2] && no_xilinx) || code_format != 2;
    if ((mode == 1 && config_differs(image_config)) || mode == 2)
        flags[2] = flags[7] = 1;
}

void dogwood_t::download(const std::string& image, const checksums_t& version, status_t* status_, int32_t boot,
                         int32_t runtime, int32_t config_range)
{
    status_t& s = start_download(*this, status_);
    uint8_t flags[8];
    compare(flags, version, image, config_range);
    if (boot_wanted(boot, flags)) {
        write_boot(image, config_range);
        s.set_percent(20);
    }
    if (flags[0] || runtime == 1)
        write_runtime(image, version);
    s.set_text(status_text[text_download_done]);
    s.set_percent(100);
}

// The image's boot flash with the device's own configuration area, merged
// with the values to write unless the configuration range is 0.
void dogwood_t::write_boot(const std::string& image, int32_t config_range)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_boot]);
    local_file_t boot(temp_name("boot1"));
    make_boot_file(*this, image, boot_offset, 0x10000, config_in_boot, config_area, config_range, boot.path);
    s.set_text(status_text[text_downloading_boot]);
    checksum_t sum(0x8000, 0x7BFF, 3);
    put_and_read_back(boot.path, "f8", 0, 0x10000, sum);
    if (!sum.check())
        throw qm::exception_t("Boot download invalid");
    s.set_text(status_text[text_boot_updated]);
}

// The code goes into the other code file, then its Xilinx image beside it;
// only then are the old code and Xilinx files invalidated.
void dogwood_t::write_runtime(const std::string& image, const checksums_t& version)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_runtime]);
    const bool from_first = code_bank == 1;
    uint32_t value = 0;
    const uint32_t length = code_length(image, value);
    if (length == 0)
        throw qm::exception_t("Invalid checksum in the selected firmware.");
    checksum_t sum(0, length, 3);
    put_and_read_back(image, from_first ? "f2" : "f1", 0, 0x10000, sum);
    if (!sum.check())
        throw qm::exception_t("Code download invalid");
    s.set_percent(50);

    if (version[checksums_t::fpga2_cs] != 0) {
        s.set_text(status_text[text_downloading_xilinx2]);
        checksum_t xilinx(0, xilinx_length, 3);
        put_and_read_back(image, from_first ? "f4" : "f3", xilinx_offset, 0x10000, xilinx);
        if (!xilinx.check())
            throw qm::exception_t("Second Xilinx download invalid");
        s.set_percent(80);
    }

    local_file_t junk(temp_name("junk"));
    write_junk(junk.path);
    const std::string old_code = from_first ? "f1" : "f2";
    s.set_text("Invalidating old code bank " + old_code);
    tftp::settings().put_ex(address, junk.path, old_code, 0, 0);
    tftp::settings().put_ex(address, junk.path, from_first ? "f3" : "f4", 0, 0);
    s.set_text(status_text[text_code_updated]);
}

std::shared_ptr<base_t> probe_dogwood(const qm::ip_address_t& address, status_t* status)
{
    return probe(address, status, "f8", [&] { return std::make_shared<dogwood_t>(address, status); });
}

} // namespace update
