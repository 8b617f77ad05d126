#include "flashkit/config_copy.h"

#include "flashkit/local_file.h"

#include <qm/exception.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace update {

const char* const config_erased_text =
    "The device's configuration record is erased and no copy of it was kept: nothing was written.";

namespace {

const char prefix[] = "saved_config";

// A copy file: a header, then the store's bytes.
struct header_t {
    char magic[8];
    char address[16]; // dotted text, zero-padded
    unsigned char type[4];
    unsigned char size[4];
};
const char magic[8] = {'V', 'X', 'C', 'F', 'G', 'C', 'P', '1'};

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

bool read_header(std::FILE* file, header_t& header)
{
    return std::fread(&header, sizeof header, 1, file) == 1 && std::memcmp(header.magic, magic, sizeof magic) == 0;
}

// Whether the copy belongs to a device of the unit's family at its address
// and fits its store.
bool matches(const header_t& header, const base_t& unit, std::size_t size)
{
    const std::string address = unit.address.to_string();
    return std::strncmp(header.address, address.c_str(), sizeof header.address) == 0 &&
        read_word(header.type, 4, true) == static_cast<uint32_t>(type_code(&unit)) &&
        read_word(header.size, 4, true) == size;
}

void save(const base_t& unit, const base_t::config_store_t& store)
{
    header_t header{};
    std::memcpy(header.magic, magic, sizeof magic);
    const std::string address = unit.address.to_string();
    std::memcpy(header.address, address.c_str(), std::min(address.size(), sizeof header.address));
    write_word(static_cast<uint32_t>(type_code(&unit)), header.type, 4, true);
    write_word(static_cast<uint32_t>(store.size), header.size, 4, true);

    config_t record;
    base_t::parse_config(record, store.bytes, store.width);
    const std::string name = config_copy_name(record.device_mac);
    const std::string part = name + ".part";
    file_ptr file(create_local(part), &std::fclose);
    bool written = file && std::fwrite(&header, sizeof header, 1, file.get()) == 1 &&
        std::fwrite(store.bytes, 1, store.size, file.get()) == store.size;
    written = file && std::fclose(file.release()) == 0 && written;
    if (!written || std::rename(part.c_str(), name.c_str()) != 0) {
        std::remove(part.c_str());
        throw qm::exception_t("cannot keep a copy of the device's configuration record in " + name);
    }
}

// The newest sound copy of a device of the unit's family seen at its
// address, into the store; false when there is none.
bool restore(const base_t& unit, const base_t::config_store_t& store)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path newest;
    fs::file_time_type newest_time{};
    for (fs::directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code type_error;
        if (name.size() != sizeof prefix - 1 + 12 || name.compare(0, sizeof prefix - 1, prefix) != 0 ||
            !it->is_regular_file(type_error))
            continue;
        file_ptr file(std::fopen(it->path().c_str(), "rb"), &std::fclose);
        header_t header;
        if (!file || !read_header(file.get(), header) || !matches(header, unit, store.size))
            continue;
        std::error_code time_error;
        const fs::file_time_type time = it->last_write_time(time_error);
        if (!time_error && (newest.empty() || time > newest_time)) {
            newest = it->path();
            newest_time = time;
        }
    }
    if (newest.empty())
        return false;
    file_ptr file(std::fopen(newest.c_str(), "rb"), &std::fclose);
    header_t header;
    std::vector<unsigned char> bytes(store.size);
    if (!file || !read_header(file.get(), header) ||
        std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        config_erased(bytes.data(), bytes.size(), store.width))
        return false;
    std::copy(bytes.begin(), bytes.end(), store.bytes);
    return true;
}

} // namespace

bool config_erased(const unsigned char* bytes, std::size_t size, int width)
{
    const std::size_t record = base_t::record_size(width);
    if (!bytes || size < record)
        return true;
    if (std::all_of(bytes, bytes + record, [](unsigned char b) { return b == 0xFF; }))
        return true;
    config_t parsed;
    base_t::parse_config(parsed, bytes, width);
    const uint8_t* mac = parsed.device_mac.bytes;
    return (mac[0] & 0x01) != 0 || std::all_of(mac, mac + 6, [](uint8_t b) { return b == 0; });
}

void keep_config(base_t& unit)
{
    const base_t::config_store_t store = unit.config_store();
    if (!store.bytes)
        return;
    if (!config_erased(store.bytes, store.size, store.width)) {
        save(unit, store);
        unit.config_source = base_t::config_source_t::device;
        return;
    }
    if (!restore(unit, store)) {
        unit.config_source = base_t::config_source_t::erased;
        return;
    }
    base_t::parse_config(unit.config, store.bytes, store.width);
    unit.config_source = base_t::config_source_t::copy;
}

std::string config_copy_name(const qm::mac_address_t& mac) { return prefix + mac.to_string(); }

} // namespace update
