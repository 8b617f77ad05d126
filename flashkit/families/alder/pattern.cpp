#include "flashkit/families/alder_pattern.h"

#include "flashkit/families/support.h"
#include "flashkit/status_text.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace update {
namespace {

constexpr uint32_t config_offset = 0x6000; // the configuration sector in the image
constexpr uint32_t code_offset = 0x40000;  // the runtime code in the image
constexpr int64_t image_size = 0x100000;

} // namespace

alder_pattern_t::alder_pattern_t(const alder_layout_t& layout_, const qm::ip_address_t& address, status_t* status)
    : base_t(address, status), layout(layout_)
{}

std::string alder_pattern_t::remote(int number) const { return remote_name(layout.name_format, number); }

void alder_pattern_t::upload(checksums_t& record)
{
    status_t& s = current_status();
    std::vector<std::unique_ptr<local_file_t>> temp;
    for (int i = 1; i <= std::max(2, layout.bank_files); ++i)
        temp.push_back(std::make_unique<local_file_t>(temp_name(("temp_boot" + std::to_string(i)).c_str())));

    s.set_text(status_text[text_reading_boot]);
    s.set_percent(30);
    get_file(remote(1), temp[0]->path);
    s.set_percent(layout.boot_percent[0]);
    get_file(remote(2), temp[1]->path);
    s.set_percent(layout.boot_percent[1]);
    checksum_t boot(0, 0x6000, 3);
    boot.feed(temp[0]->path);
    boot.feed(temp[1]->path);
    set_word(*this, record, checksums_t::boot_cs, value_or_zero(boot));

    s.set_text(status_text[text_uploading_runtime]);
    double counter = layout.walk_start;
    for (int bank : layout.banks) {
        checksum_t code(0, 0x3FFFF, 3);
        for (int i = 0; i < layout.bank_files; ++i) {
            get_file(remote(bank + i), temp[i]->path);
            s.set_percent(counter - 5 + 5 * i);
        }
        for (int i = 0; i < layout.bank_files; ++i)
            code.feed(temp[i]->path);
        if (code.check()) {
            s.set_text(status_text[text_runtime_uploaded]);
            code_bank = bank;
            set_word(*this, record, checksums_t::code_cs, code.value());
            checksum_t fpga2(0, 0x1110F, 3);
            for (int i = layout.fpga2_file; i < layout.bank_files; ++i)
                fpga2.feed(temp[i]->path);
            set_word(*this, record, checksums_t::fpga2_cs, value_or_zero(fpga2));
            break;
        }
        counter += layout.walk_step;
    }

    s.set_text(status_text[text_uploading_xilinx]);
    get_file(remote(layout.fpga[0].file), temp[0]->path);
    s.set_percent(layout.fpga_percent[0]);
    get_file(remote(layout.fpga[1].file), temp[1]->path);
    s.set_percent(layout.fpga_percent[1]);
    s.set_text(status_text[text_xilinx_uploaded]);
    checksum_t fpga(layout.fpga_start, 0x1110F, 3);
    fpga.feed(temp[0]->path);
    fpga.feed(temp[1]->path);
    set_word(*this, record, checksums_t::fpga_cs, value_or_zero(fpga));

    s.set_text(status_text[text_uploading_config]);
    get_file(remote(3), temp[0]->path);
    s.set_percent(layout.config_percent);
    s.set_text(status_text[text_config_uploaded]);
    read_sector(temp[0]->path, 0, config_sector, sizeof config_sector);
    read_config(config, temp[0]->path, 0, 3);

    s.set_percent(100);
    set_word(*this, record, checksums_t::device_type, static_cast<uint32_t>(layout.type));
}

void alder_pattern_t::check_update(uint8_t flags[8], const checksums_t& version, const std::string& image)
{
    require_image(image, image_size);
    config_t image_config;
    read_config(image_config, image, config_offset, 3);
    uint8_t raw[8];
    for (int i = 0; i < 7; ++i)
        raw[i] = version[i] != checksums[i];
    raw[7] = raw[2];
    const bool no_fpga2 = version[checksums_t::fpga2_cs] == 0;

    for (int i = 0; i < 8; ++i)
        flags[i] = raw[i];
    flags[0] = raw[0] || raw[5];
    flags[4] = raw[4] && (raw[2] || no_fpga2);
    flags[6] = raw[6] || config_differs(image_config);
    flags[7] = (raw[2] || flags[4]) && no_fpga2;
}

void alder_pattern_t::download(const std::string& image, const checksums_t& version, status_t* status_, int32_t boot,
                               int32_t runtime, int32_t config_range)
{
    status_t& s = start_download(*this, status_);
    uint8_t flags[8];
    check_update(flags, version, image);

    if (boot_wanted(boot, flags)) {
        write_boot(image);
        s.set_percent(20);
    }
    if (flags[0] || runtime == 1) {
        write_runtime(image);
        s.set_percent(70);
    }
    // The FPGA area follows the boot range.
    if (boot == 2 || (boot == 1 && flags[4]) || (boot == 0 && flags[4] && flags[7])) {
        write_fpga(image);
        s.set_percent(90);
    }
    if (config_range == 2 || (config_range != 0 && flags[6]))
        write_configuration(image);
    s.set_text(layout.done_text);
    s.set_percent(100);
}

void alder_pattern_t::write_boot(const std::string& image)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_boot]);
    checksum_t sum(0, 0x6000, 3);
    s.set_text(status_text[text_downloading_boot]);
    put_and_read_back(image, remote(1), 0, 0x4000, sum);
    s.set_percent(15);
    put_and_read_back(image, remote(2), 0x4000, 0x2000, sum);
    if (!sum.check())
        throw qm::exception_t("Boot download invalid");
    s.set_text(status_text[text_boot_updated]);
}

void alder_pattern_t::write_runtime(const std::string& image)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_runtime]);
    checksum_t sum(0, 0x3FFFF, 3);
    const int first = layout.banks[0], second = layout.banks[1];
    const int new_bank = code_bank == first ? second : first;
    const int old_bank = code_bank == first ? first : second;
    for (int i = 0; i < layout.bank_files; ++i) {
        put_and_read_back(image, remote(new_bank + i), code_offset + layout.bank_file_size * static_cast<uint32_t>(i),
                          layout.bank_file_size, sum);
        s.set_percent(layout.runtime_percent[static_cast<std::size_t>(i)]);
    }
    if (!sum.check())
        throw qm::exception_t("Code download invalid");

    // The write request itself invalidates the old bank: no byte is sent.
    local_file_t junk(temp_name("junk"));
    write_junk(junk.path);
    put_file(junk.path, remote(old_bank), 0, 0);
    s.set_text(status_text[text_code_updated]);
}

void alder_pattern_t::write_fpga(const std::string& image)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_fpga]);
    s.set_text(status_text[text_downloading_fpga]);
    checksum_t sum(layout.fpga_start, 0x1110F, 3);
    put_and_read_back(image, remote(layout.fpga[0].file), layout.fpga[0].offset, layout.fpga[0].length, sum);
    s.set_percent(80);
    put_and_read_back(image, remote(layout.fpga[1].file), layout.fpga[1].offset, layout.fpga[1].length, sum);
    if (!sum.check())
        throw qm::exception_t("Fpga download invalid");
    s.set_text(status_text[text_fpga_updated]);
}

// The device's own sector with the merged record; not read back.
void alder_pattern_t::write_configuration(const std::string& image)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_config]);
    s.set_text("new mac is " + config.mac.to_string());
    local_file_t sector(temp_name(remote(3).c_str()));
    write_local(sector.path, config_sector, sizeof config_sector);
    config_t image_config;
    read_config(image_config, image, config_offset, 3);
    merge_config(image_config);
    write_config(config, sector.path, 0, 3, true);
    s.set_text(status_text[text_downloading_config]);
    put_file(sector.path, remote(3), 0, 0x2000);
    s.set_text(status_text[text_config_updated]);
}

} // namespace update
