// What every device family shares: the unit with its checksum and
// configuration records, the transfers and configuration-record operations
// the families build on, and the two process-wide lists through which the
// families plug in (probe list and recognizer list, in registration order).
#pragma once

#include "flashkit/checksum.h"
#include "flashkit/checksums.h"
#include "flashkit/status.h"

#include <qm/address.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace update {

// The device's settings as its configuration sector holds them, and the
// values to write back.
struct config_t {
    uint32_t leading = 0;
    qm::mac_address_t device_mac;
    int32_t device_vcxo = 0;
    int32_t device_channels = 0;
    int32_t device_ssi = 0;
    qm::mac_address_t mac;
    int32_t vcxo = 0;
    int32_t channels = 0;
    int32_t ssi = 0;
    uint8_t mac_set = 0;
    uint8_t vcxo_set = 0;
    uint8_t channels_set = 0;
    uint8_t ssi_set = 0;

    void reset() { *this = config_t{}; }
};

class base_t {
public:
    base_t(const qm::ip_address_t& address, status_t* status);
    virtual ~base_t() = default;
    base_t(const base_t&) = delete;
    base_t& operator=(const base_t&) = delete;

    // Reads the device's banks and fills the record, device type included.
    virtual void upload(checksums_t& record) = 0;
    // Writes the chosen parts of the image; ranges as Iunit::download3 passes them.
    virtual void download(const std::string& image, const checksums_t& version, status_t* status, int32_t boot,
                          int32_t runtime, int32_t config_range) = 0;
    // Flag bytes: 0 code update, 1 second code update, 2 boot differs,
    // 4 FPGA update, 6 configuration update, 7 boot update.
    virtual void check_update(uint8_t flags[8], const checksums_t& version, const std::string& image) = 0;

    // Transfers with the process-wide client to this unit's device; every
    // failure becomes "Unexpected error during firmware file transfer.".
    void get_file(const std::string& remote, const std::string& local);
    void put_file(const std::string& local, const std::string& remote, uint32_t offset, uint32_t length);
    // put_file, then the remote file read back into "temp"+address and fed
    // to the checksum; the temporary file is removed also on failure.
    void put_and_read_back(const std::string& local, const std::string& remote, uint32_t offset, uint32_t length,
                           checksum_t& checksum);

    // Configuration record at a file offset, words of width 3 or 4. A file
    // too short for the record fails: no byte of an earlier read survives.
    static void read_config(config_t& record, const std::string& path, uint32_t offset, int width);
    // The same from bytes in memory: record_size(width) of them at bytes.
    static void parse_config(config_t& record, const unsigned char* bytes, int width);
    // Bytes of a record of words of width 3 or 4.
    static std::size_t record_size(int width);
    // Stores the record (values only when asked) into the file ("r+b").
    static void write_config(const config_t& record, const std::string& path, uint32_t offset, int width, bool values);
    // Reads exactly size bytes at offset; "file not open" when the file
    // cannot be opened, a transfer error when it is too short.
    static void read_sector(const std::string& path, uint32_t offset, void* buffer, std::size_t size);

    // Whether writing this image would change the device's configuration;
    // always when the device's own record reads erased.
    bool config_differs(const config_t& image) const;
    // Takes every value the user did not set from the image (MAC excepted).
    void merge_config(const config_t& image);

    // A temporary file name: the word followed by the dotted address.
    std::string temp_name(const char* word) const { return word + address.to_string(); }
    status_t& current_status() const { return status ? *status : null_status(); }

    // Where the device keeps its configuration: the sector or area that its
    // record opens, as the last upload read it (none for a family without
    // one), and the record's word width.
    struct config_store_t {
        unsigned char* bytes = nullptr;
        std::size_t size = 0;
        int width = 3;
    };
    virtual config_store_t config_store() { return {}; }

    // Where the configuration record of the last upload came from: the
    // device, a kept copy (the device's own reads erased), or nowhere (it
    // reads erased and no copy was kept: nothing may be written).
    enum class config_source_t { device, copy, erased };
    config_source_t config_source = config_source_t::device;

    // A unit serves one job at a time: its status, configuration record and
    // temporary files belong to that job. claim is false while another holds it.
    bool claim() { return !busy.exchange(true); }
    void release() { busy = false; }

    checksums_t checksums;
    qm::ip_address_t address;
    status_t* status = nullptr;
    config_t config;

private:
    std::atomic<bool> busy{false};
};

// A probe asks a device for its family's probe file: a new unit, or none.
using probe_t = std::shared_ptr<base_t> (*)(const qm::ip_address_t& address, status_t* status);
// A recognizer tells whether an image file belongs to its family, filling
// the record when it does.
using recognizer_t = bool (*)(const std::string& path, checksums_t& record);

// Appends a family to both lists; Family is the unit class its probe makes
// and Family::type_code its device type code. Families register once,
// before any client call, in the order alder, alderamd, birch, birchamd,
// cedar, dogwood.
void register_family(probe_t probe, recognizer_t recognizer, const std::type_info& unit_class, int32_t code);
template <class Family> void register_family(probe_t probe, recognizer_t recognizer)
{
    register_family(probe, recognizer, typeid(Family), Family::type_code);
}
// Empties both lists (tests only).
void clear_families();

std::vector<probe_t> probe_list();
// The first recognizer of the list that accepts the file; false when none does.
bool recognize(const std::string& path, checksums_t& record);
// Device type code of a unit by its class; -1 for none or an unknown class.
int32_t type_code(const base_t* unit);

// The common probe: reads probe_file from the device into "temp_boot1"+address
// (removed afterwards) and, when that works, returns make(). Transfer
// exceptions pass unchanged.
std::shared_ptr<base_t> probe(const qm::ip_address_t& address, status_t* status, const std::string& probe_file,
                              const std::function<std::shared_ptr<base_t>()>& make);

// Diagnostic switch: a non-zero low byte opens the console and turns on the
// TFTP trace.
void set_debug(int32_t flag);

} // namespace update
