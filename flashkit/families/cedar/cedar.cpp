#include "flashkit/families/cedar.h"

#include "flashkit/families/support.h"
#include "flashkit/status_text.h"

namespace update {
namespace {

constexpr uint32_t config_in_boot = 0x3C00; // the configuration area in "r2"
constexpr uint32_t config_offset = 0x7C00;  // and in the image
constexpr uint32_t code_offset = 0x8000;    // the runtime code in the image
constexpr uint32_t small_code = 0x7FFE;
constexpr uint32_t large_code = 0xFFFF;
constexpr int64_t image_size = 0x20000;

} // namespace

cedar_t::cedar_t(const qm::ip_address_t& address, status_t* status) : base_t(address, status) {}

void cedar_t::upload(checksums_t& record)
{
    status_t& s = current_status();
    local_file_t boot1(temp_name("temp_boot1")), boot2(temp_name("temp_boot2"));
    local_file_t runtime1(temp_name("runtime1")), runtime2(temp_name("runtime2"));
    local_file_t runtime3(temp_name("runtime3")), runtime4(temp_name("runtime4"));

    s.set_text(status_text[text_reading_boot]);
    s.set_percent(30);
    get_file("r1", boot1.path);
    get_file("r2", boot2.path);

    extract_config_area(*this, boot2.path, config_in_boot, config_area);

    s.set_text(status_text[text_boot_checksum]);
    s.set_percent(55);
    checksum_t boot(0, 0x7BFF, 3);
    boot.feed(boot1.path);
    boot.feed(boot2.path);
    set_word(*this, record, checksums_t::boot_cs, value_or_zero(boot));

    s.set_text(status_text[text_uploading_runtime]);
    s.set_percent(60);
    code_bank = 0;
    get_file("r3", runtime1.path);
    s.set_percent(65);
    get_file("r4", runtime2.path);
    s.set_percent(70);
    checksum_t code(0, small_code, 3);
    code.feed(runtime1.path);
    code.feed(runtime2.path);
    if (code.check()) {
        code_bank = 1;
    } else {
        get_file("r5", runtime3.path);
        s.set_percent(75);
        get_file("r6", runtime4.path);
        s.set_percent(80);
        code.init(0, small_code, 3);
        code.feed(runtime3.path);
        code.feed(runtime4.path);
        if (code.check()) {
            code_bank = 2;
        } else {
            // Large code over all four files, recorded whether or not it checks.
            code.init(0, large_code, 3);
            for (const local_file_t* file : {&runtime1, &runtime2, &runtime3, &runtime4})
                code.feed(file->path);
            code_bank = 3;
        }
    }
    s.set_text(status_text[text_runtime_uploaded]);
    set_word(*this, record, checksums_t::code_cs, code.value());

    s.set_percent(100);
    set_word(*this, record, checksums_t::device_type, type_cedar);
}

void cedar_t::check_update(uint8_t flags[8], const checksums_t& version, const std::string& image)
{
    compare(flags, version, image, 1);
}

void cedar_t::compare(uint8_t flags[8], const checksums_t& version, const std::string& image, int32_t mode)
{
    require_image(image, image_size);
    config_t image_config;
    read_config(image_config, image, config_offset, 3);
    for (int i = 0; i < 7; ++i)
        flags[i] = version[i] != checksums[i];
    // The configuration is written inside the boot.
    if (mode == 1)
        flags[2] = flags[2] || config_differs(image_config);
    else if (mode == 2)
        flags[2] = 1;
    flags[7] = flags[2];
    flags[4] = flags[5] = flags[6] = 0;
}

void cedar_t::download(const std::string& image, const checksums_t& version, status_t* status_, int32_t boot,
                       int32_t runtime, int32_t config_range)
{
    status_t& s = start_download(*this, status_);
    uint8_t flags[8];
    compare(flags, version, image, config_range);
    if (flags[2] || boot == 2) {
        write_boot(image, config_range);
        s.set_percent(20);
    }
    if (flags[0] || runtime == 1)
        write_runtime(image);
    s.set_text(status_text[text_download_done]);
    s.set_percent(100);
}

// The image's boot with the device's own configuration area, merged with
// the values to write unless the configuration range is 0.
void cedar_t::write_boot(const std::string& image, int32_t config_range)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_boot]);
    local_file_t boot2(temp_name("boot2"));
    make_boot_file(*this, image, 0x4000, 0x4000, config_in_boot, config_area, config_range, boot2.path);
    s.set_text(status_text[text_downloading_boot]);
    checksum_t sum(0, 0x7BFF, 3);
    put_and_read_back(image, "r1", 0, 0x4000, sum);
    put_and_read_back(boot2.path, "r2", 0, 0x4000, sum);
    if (!sum.check())
        throw qm::exception_t("Boot download invalid");
}

// A small code goes into the bank that is not current and is verified; then
// what the image holds behind it overwrites the old bank. A large code fills
// both banks.
void cedar_t::write_runtime(const std::string& image)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_runtime]);
    checksum_t in_image(code_offset, small_code, 3);
    in_image.feed(image);
    if (in_image.check()) {
        checksum_t sum(0, small_code, 3);
        const bool into_second = code_bank == 1;
        put_and_read_back(image, into_second ? "r5" : "r3", 0x8000, 0x4000, sum);
        s.set_percent(30);
        put_and_read_back(image, into_second ? "r6" : "r4", 0xC000, 0x4000, sum);
        s.set_percent(50);
        if (!sum.check())
            throw qm::exception_t("Code download invalid");
        put_file(image, into_second ? "r3" : "r5", 0x10000, 0x4000);
        put_file(image, into_second ? "r4" : "r6", 0x14000, 0x4000);
        return;
    }
    checksum_t sum(0, large_code, 3);
    const char* const files[] = {"r3", "r4", "r5", "r6"};
    for (uint32_t i = 0; i < 4; ++i) {
        put_and_read_back(image, files[i], 0x8000 + 0x4000 * i, 0x4000, sum);
        s.set_percent(30 + 10 * i);
    }
    if (!sum.check())
        throw qm::exception_t("Code download invalid");
}

std::shared_ptr<base_t> probe_cedar(const qm::ip_address_t& address, status_t* status)
{
    return probe(address, status, "r2", [&] { return std::make_shared<cedar_t>(address, status); });
}

} // namespace update
