#include "flashkit/base.h"

#include "flashkit/status_text.h"
#include "flashkit/tftp.h"

#include <qm/file.h>

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <typeindex>

namespace update {
namespace {

struct family_entry_t {
    probe_t probe;
    recognizer_t recognizer;
    std::type_index unit_class;
    int32_t code;
};

std::mutex families_lock;

std::vector<family_entry_t>& families()
{
    static std::vector<family_entry_t> list;
    return list;
}

std::vector<family_entry_t> families_copy()
{
    std::lock_guard<std::mutex> guard(families_lock);
    return families();
}

// Removes a temporary file when the operation that made it ends.
struct temp_file_t {
    explicit temp_file_t(std::string path) : path(std::move(path)) {}
    ~temp_file_t() { std::remove(path.c_str()); }
    std::string path;
};

template <class F> void as_transfer_error(F&& transfer)
{
    try {
        transfer();
    } catch (const qm::exception_t&) {
        throw qm::exception_t(status_text[text_transfer_error]);
    }
}

// Byte positions of the six MAC bytes behind the leading word, and how far
// the MAC words reach.
struct mac_layout_t {
    int position[6];
    int span;
};

const mac_layout_t& mac_layout(int width)
{
    static const mac_layout_t three{{1, 2, 4, 5, 7, 8}, 9};
    static const mac_layout_t four{{3, 2, 1, 0, 7, 6}, 8};
    return width == 4 ? four : three;
}

} // namespace

std::size_t base_t::record_size(int width)
{
    width = width == 4 ? 4 : 3;
    return static_cast<std::size_t>(width + mac_layout(width).span + 3 * width);
}

base_t::base_t(const qm::ip_address_t& address_, status_t* status_) : address(address_), status(status_) {}

void base_t::get_file(const std::string& remote, const std::string& local)
{
    as_transfer_error([&] { tftp::settings().get(address, remote, local); });
}

void base_t::put_file(const std::string& local, const std::string& remote, uint32_t offset, uint32_t length)
{
    as_transfer_error([&] { tftp::settings().put_ex(address, local, remote, offset, length); });
}

void base_t::put_and_read_back(const std::string& local, const std::string& remote, uint32_t offset, uint32_t length,
                               checksum_t& checksum)
{
    temp_file_t back(temp_name("temp"));
    as_transfer_error([&] {
        tftp::settings().put_ex(address, local, remote, offset, length);
        tftp::settings().get(address, remote, back.path);
        checksum.feed(back.path);
    });
}

void base_t::read_config(config_t& record, const std::string& path, uint32_t offset, int width)
{
    qm::file_t file;
    file.open(path, "rb");
    unsigned char bytes[32] = {};
    const std::size_t size = record_size(width);
    file.set_position(offset);
    if (std::fread(bytes, 1, size, file.get()) != size)
        throw qm::exception_t(status_text[text_transfer_error]);
    parse_config(record, bytes, width);
}

void base_t::parse_config(config_t& record, const unsigned char* bytes, int width)
{
    width = width == 4 ? 4 : 3;
    const mac_layout_t& layout = mac_layout(width);
    const unsigned char* mac = bytes + width;
    const unsigned char* values = mac + layout.span;
    record.leading = read_word(bytes, width, true);
    for (int i = 0; i < 6; ++i)
        record.device_mac.bytes[i] = mac[layout.position[i]];
    record.device_vcxo = static_cast<int32_t>(read_word(values, width, true));
    record.device_channels = static_cast<int32_t>(read_word(values + width, width, true));
    record.device_ssi = static_cast<int32_t>(read_word(values + 2 * width, width, true));
    record.mac = record.device_mac;
    record.vcxo = record.device_vcxo;
    record.channels = record.device_channels;
    record.ssi = record.device_ssi;
}

void base_t::write_config(const config_t& record, const std::string& path, uint32_t offset, int width, bool values)
{
    width = width == 4 ? 4 : 3;
    const mac_layout_t& layout = mac_layout(width);
    unsigned char bytes[36] = {};
    unsigned char* mac = bytes + width;
    unsigned char* value_bytes = mac + layout.span;
    write_word(record.leading, bytes, 4, true);
    for (int i = 0; i < layout.span; ++i)
        mac[i] = 0;
    for (int i = 0; i < 6; ++i)
        mac[layout.position[i]] = record.mac.bytes[i];
    // write_word fills four bytes; each value lands behind the one before.
    write_word(static_cast<uint32_t>(record.vcxo), value_bytes, width, true);
    write_word(static_cast<uint32_t>(record.channels), value_bytes + width, width, true);
    write_word(static_cast<uint32_t>(record.ssi), value_bytes + 2 * width, width, true);

    qm::file_t file;
    file.open(path, "r+b");
    file.set_position(offset);
    const std::size_t size = values ? record_size(width) : static_cast<std::size_t>(width + layout.span);
    if (std::fwrite(bytes, 1, size, file.get()) != size || file.close() != 0)
        throw qm::wapi::exception_t("error writing file");
}

void base_t::read_sector(const std::string& path, uint32_t offset, void* buffer, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw qm::exception_t("file not open");
    bool whole =
        std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(buffer, 1, size, file) == size;
    std::fclose(file);
    if (!whole)
        throw qm::exception_t(status_text[text_transfer_error]);
}

bool base_t::config_differs(const config_t& image) const
{
    const config_t& c = config;
    if (config_source != config_source_t::device)
        return true;
    if (c.mac != c.device_mac)
        return true;
    if (c.vcxo != c.device_vcxo || (!c.vcxo_set && c.device_vcxo != image.device_vcxo))
        return true;
    if (c.channels != c.device_channels || (!c.channels_set && c.device_channels != image.device_channels))
        return true;
    if (c.ssi != c.device_ssi || (!c.ssi_set && c.device_ssi != image.device_ssi))
        return true;
    return false;
}

void base_t::merge_config(const config_t& image)
{
    if (!config.vcxo_set)
        config.vcxo = image.device_vcxo;
    if (!config.channels_set)
        config.channels = image.device_channels;
    if (!config.ssi_set)
        config.ssi = image.device_ssi;
}

void register_family(probe_t probe, recognizer_t recognizer, const std::type_info& unit_class, int32_t code)
{
    std::lock_guard<std::mutex> guard(families_lock);
    families().push_back({probe, recognizer, std::type_index(unit_class), code});
}

void clear_families()
{
    std::lock_guard<std::mutex> guard(families_lock);
    families().clear();
}

std::vector<probe_t> probe_list()
{
    std::vector<probe_t> list;
    for (const family_entry_t& f : families_copy())
        list.push_back(f.probe);
    return list;
}

bool recognize(const std::string& path, checksums_t& record)
{
    for (const family_entry_t& f : families_copy()) {
        if (f.recognizer && f.recognizer(path, record))
            return true;
    }
    return false;
}

int32_t type_code(const base_t* unit)
{
    if (!unit)
        return type_none;
    std::type_index unit_class(typeid(*unit));
    for (const family_entry_t& f : families_copy()) {
        if (f.unit_class == unit_class)
            return f.code;
    }
    return type_none;
}

std::shared_ptr<base_t> probe(const qm::ip_address_t& address, status_t* status, const std::string& probe_file,
                              const std::function<std::shared_ptr<base_t>()>& make)
{
    temp_file_t local("temp_boot1" + address.to_string());
    status_t& s = status ? *status : null_status();
    s.set_text(status_text[text_start_uploading]);
    s.set_percent(10.0);
    tftp::settings().get(address, probe_file, local.path);
    return make();
}

void set_debug(int32_t flag)
{
    bool on = (flag & 0xFF) != 0;
    if (on)
        AllocConsole();
    tftp::settings().set_debug(on);
}

} // namespace update
