// Which MAC was last seen with which IPv4 address on one adapter, kept in
// "VXHistory.ini", and the allocator that picks an address for a device.
#pragma once

#include <scoutline/types.h>

#include <qm/address.h>
#include <qm/profile_section.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace qm::vx {

// Address states.
inline constexpr int32_t ip_state_free = 0;      // no known owner
inline constexpr int32_t ip_state_seen = 1;      // in use, learned while running
inline constexpr int32_t ip_state_from_file = 2; // in use according to the history file
inline constexpr int32_t ip_state_own = 3;       // the adapter's own address; never handed out

class ip_history_t {
public:
    // A plain file name lives in the program's directory; a path starting with
    // '/' is used as given.
    explicit ip_history_t(std::string file_name);

    // Sets the inclusive range and moves the round-robin cursor to its start.
    void set_range(const qm::ip_address_t& start, const qm::ip_address_t& end);
    // Records that mac uses ip (one-to-one: older pairings of either go).
    void add(const qm::mac_address_t& mac, const qm::ip_address_t& ip);
    // The address to hand to the item's device; 0.0.0.0 when none is available.
    qm::ip_address_t suggest(const assignment_item_t& item);
    void mark_own(const qm::ip_address_t& ip);
    // Reads the adapter's section; entries that are not a MAC address and an
    // address are skipped (the rest still load) and kept for save.
    void load(const std::string& adapter_name);
    // Rewrites the section from the table plus the entries load skipped; a
    // section too large to read whole is left as it stands. A section that
    // cannot be written is logged and kept in the process: the next load of
    // it reads the kept entries, and the next save writes them.
    void save(const std::string& adapter_name);
    // Writes every section kept by a failed save: the server's last chance
    // before it exits.
    static void save_pending();

    // Full path of the settings file.
    std::string path() const;
    // The section that holds an adapter's entries: brackets become parentheses.
    static std::string section_name(const std::string& adapter_name);

    // Observers.
    int32_t get_state(const qm::ip_address_t& ip);
    std::optional<qm::ip_address_t> address_of(const qm::mac_address_t& mac);
    std::optional<qm::mac_address_t> owner_of(const qm::ip_address_t& ip);
    qm::ip_address_t get_cursor();
    size_t size();

private:
    std::string file_name;
    std::map<qm::mac_address_t, qm::ip_address_t> by_mac;
    std::map<qm::ip_address_t, qm::mac_address_t> by_ip;
    std::map<qm::ip_address_t, int32_t> state;
    qm::ip_address_t range_start;
    qm::ip_address_t range_end;
    qm::ip_address_t cursor;
    // The section that load read, the entries of it that it could not read
    // (written back by save), and whether it was too large to read whole.
    std::string loaded_section;
    qm::profile_entries_t unread;
    bool section_cut = false;
    std::recursive_mutex lock;
};

} // namespace qm::vx
