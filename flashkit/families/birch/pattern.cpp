#include "flashkit/families/birch_pattern.h"

#include "flashkit/families/support.h"
#include "flashkit/status_text.h"

#include <qm/file.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace update {
namespace {

constexpr uint32_t config_offset = 0x6000; // the configuration sector in the image
constexpr uint32_t code_offset = 0x80000;  // first runtime code in the image
constexpr uint32_t code2_offset = 0xC0000; // second runtime code
constexpr int64_t image_size = 0x100000;
constexpr uint32_t list_count = 0x404; // record list: count, then the words and their checksum
constexpr uint32_t list_start = 0x408;

// The checksum of the configuration record list whose count stands at
// list_count behind base in the file; false when the count is out of range.
bool list_checksum(const std::string& path, uint32_t base, uint32_t count, uint32_t& value)
{
    if (count == 0 || count >= 0x2000)
        return false;
    checksum_t sum(base + list_start, count * 4 + 4, 4);
    sum.feed(path);
    value = value_or_zero(sum);
    return true;
}

} // namespace

birch_pattern_t::birch_pattern_t(const birch_layout_t& layout_, const qm::ip_address_t& address, status_t* status)
    : base_t(address, status), layout(layout_)
{}

std::string birch_pattern_t::remote(int number) const { return remote_name(layout.name_format, number); }

bool birch_pattern_t::walk(const std::array<int, 2>& banks, double counter, const temp_files_t& temp, int32_t& bank,
                           uint32_t& value)
{
    for (int row : banks) {
        for (int i = 0; i < layout.bank_files; ++i)
            get_file(remote(row + i), temp[static_cast<std::size_t>(i)]->path);
        current_status().set_percent(counter);
        uld_checksum_t sum(0, 0);
        for (int i = 0; i < layout.bank_files; ++i)
            sum.feed(temp[static_cast<std::size_t>(i)]->path);
        if (sum.check()) {
            bank = row;
            value = sum.value();
            return true;
        }
        counter += 5;
    }
    return false;
}

void birch_pattern_t::upload(checksums_t& record)
{
    status_t& s = current_status();
    local_file_t first(temp_name("temp_boot1")), second(temp_name("temp_boot2"));

    s.set_text(status_text[text_reading_boot]);
    s.set_percent(30);
    get_file(remote(1), first.path);
    s.set_percent(35);
    get_file(remote(2), second.path);
    s.set_percent(40);
    uld_checksum_t boot(0, 0);
    boot.feed(first.path);
    boot.feed(second.path);
    set_word(*this, record, checksums_t::boot_cs, value_or_zero(boot));

    s.set_text(status_text[text_uploading_runtime]);
    uint32_t value = 0;
    const temp_files_t temp{&first, &second};
    if (walk(layout.code_banks, 50, temp, code_bank, value))
        set_word(*this, record, checksums_t::code_cs, value);
    if (walk(layout.code2_banks, 60, temp, code2_bank, value))
        set_word(*this, record, checksums_t::code2_cs, value);
    s.set_text(status_text[text_runtime_uploaded]);

    s.set_text(status_text[text_uploading_config]);
    get_file(remote(3), first.path);
    s.set_percent(80);
    s.set_text(status_text[text_config_uploaded]);
    read_sector(first.path, 0, config_sector, sizeof config_sector);
    if (list_checksum(first.path, 0, read_word(config_sector + list_count, 4, true), value))
        set_word(*this, record, checksums_t::config_cs, value);
    read_config(config, first.path, 0, 4);

    s.set_percent(100);
    set_word(*this, record, checksums_t::device_type, static_cast<uint32_t>(layout.type));
}

void birch_pattern_t::check_update(uint8_t flags[8], const checksums_t& version, const std::string& image)
{
    require_image(image, image_size);
    config_t image_config;
    read_config(image_config, image, config_offset, 4);
    for (int i = 0; i < 7; ++i)
        flags[i] = version[i] != checksums[i];
    flags[6] = flags[6] || config_differs(image_config);
    flags[7] = flags[2];
}

void birch_pattern_t::download(const std::string& image, const checksums_t& version, status_t* status_, int32_t boot,
                               int32_t runtime, int32_t config_range)
{
    status_t& s = start_download(*this, status_);
    uint8_t flags[8];
    check_update(flags, version, image);

    if (boot_wanted(boot, flags)) {
        write_boot(image);
        s.set_percent(30);
    }
    s.set_text(status_text[text_updating_runtime]);
    if (flags[0] || runtime == 1)
        write_code(image, layout.code_banks, code_bank, code_offset, true, 50, 60);
    s.set_text(status_text[text_updating_runtime2]);
    if (flags[1] || runtime == 1)
        write_code(image, layout.code2_banks, code2_bank, code2_offset, version[checksums_t::code2_cs] != 0, 70, 90);
    s.set_text(status_text[text_code_updated]);
    if (config_range == 2 || (config_range != 0 && flags[6]))
        write_configuration(image);
    s.set_text(status_text[text_download_done]);
    s.set_percent(100);
}

// A boot that ends inside the first file is written with that file alone.
// The read-back is checked as every other family's boot is.
void birch_pattern_t::write_boot(const std::string& image)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_boot]);
    uld_checksum_t sum(0, 0);
    s.set_text(status_text[text_downloading_boot]);
    put_and_read_back(image, remote(1), 0, 0x4000, sum);
    s.set_percent(15);
    if (!sum.at_end())
        put_and_read_back(image, remote(2), 0x4000, 0x2000, sum);
    if (!sum.check())
        throw qm::exception_t("Boot download invalid");
    s.set_percent(20);
    s.set_text(status_text[text_boot_updated]);
}

// Writes a runtime code into the bank that is not current and invalidates
// the current one after the new one read back valid. Without a code in the
// image (present false) both banks are invalidated and none is written.
void birch_pattern_t::write_code(const std::string& image, const std::array<int, 2>& banks, int32_t current,
                                 uint32_t offset, bool present, double written_percent, double done_percent)
{
    status_t& s = current_status();
    uld_checksum_t sum(0, 0);
    const int new_bank = current == banks[0] ? banks[1] : banks[0];
    const int old_bank = current == banks[0] ? banks[0] : banks[1];
    if (present) {
        for (int i = 0; i < layout.bank_files; ++i)
            put_and_read_back(image, remote(new_bank + i), offset + layout.bank_file_size * static_cast<uint32_t>(i),
                              layout.bank_file_size, sum);
        s.set_percent(written_percent);
        if (!sum.check())
            throw qm::exception_t("Code download invalid");
    }
    invalidate(old_bank);
    if (!present)
        invalidate(new_bank);
    s.set_percent(done_percent);
}

// The write request to a bank's first file invalidates the bank: no byte is sent.
void birch_pattern_t::invalidate(int bank)
{
    local_file_t junk(temp_name("junk"));
    write_junk(junk.path);
    put_file(junk.path, remote(bank), 0, 0);
}

// The image's sector with the merged record, read back and compared.
void birch_pattern_t::write_configuration(const std::string& image)
{
    status_t& s = current_status();
    s.set_text(status_text[text_updating_config]);
    s.set_text("new mac is " + config.mac.to_string());
    read_sector(image, config_offset, config_sector, sizeof config_sector);
    local_file_t sector(temp_name(remote(3).c_str()));
    write_local(sector.path, config_sector, sizeof config_sector);
    config_t image_config;
    read_config(image_config, image, config_offset, 4);
    merge_config(image_config);
    write_config(config, sector.path, 0, 4, true);
    s.set_text(status_text[text_downloading_config]);
    put_file(sector.path, remote(3), 0, 0x2000);
    local_file_t back(temp_name("temp_cfg1"));
    get_file(remote(3), back.path);
    if (!qm::files_equal(sector.path, back.path))
        throw qm::exception_t("Config download invalid");
    s.set_text(status_text[text_config_updated]);
}

} // namespace update
