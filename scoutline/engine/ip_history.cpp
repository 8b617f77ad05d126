// Address history of one adapter: the MAC/address pairs and their states,
// loaded from and saved to the adapter's section of "VXHistory.ini".
#include <scoutline/adapter.h>
#include <scoutline/ip_history.h>

#include <qm/console.h>
#include <qm/log_file.h>
#include <qm/profile_section.h>

#include <iterator>
#include <map>
#include <ostream>
#include <utility>

namespace qm::vx {

namespace {

// Sections are read whole. The ceiling (over 100,000 entries) only guards
// against a runaway file; a section that still does not fit is read in part
// and left as it stands at save.
constexpr size_t max_section_buffer = 4u << 20;

// An entry as shown in a message, on one line: a hostile one may be
// megabytes long or hold control characters.
std::string shown(const std::string& entry)
{
    constexpr size_t limit = 64;
    std::string text = entry.size() <= limit ? entry : entry.substr(0, limit) + "...";
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

// A message about the file, on the console and in the server's log.
void report(const std::string& text)
{
    qm::console() << text << std::endl;
    server_log().Write(text);
}

// Sections whose save failed, by file and section, with the entries that
// should have been written. They stand in for the stale section of the file
// until a save of it succeeds, so that the next engine of the adapter, or the
// server's exit, writes them once there is room.
std::mutex pending_lock;
std::map<std::pair<std::string, std::string>, qm::profile_entries_t> pending;

// Writes the section; false, and told with the system's reason, when it
// cannot be written.
bool write_section(const std::string& file, const std::string& section, const qm::profile_entries_t& entries)
{
    if (!qm::write_profile_section(file, section, entries)) {
        report("VXHistory.ini [" + section + "] could not be written to " + file + ": " + qm::wapi::last_error_text() +
               "; kept for the next save");
        return false;
    }
    return true;
}

} // namespace

ip_history_t::ip_history_t(std::string file_name) : file_name(std::move(file_name)) {}

std::string ip_history_t::path() const
{
    if (!file_name.empty() && file_name[0] == '/')
        return file_name;
    return GetProgramDirectory() + file_name;
}

std::string ip_history_t::section_name(const std::string& adapter_name)
{
    std::string section = adapter_name;
    for (char& c : section) {
        if (c == '[')
            c = '(';
        else if (c == ']')
            c = ')';
    }
    return section;
}

void ip_history_t::set_range(const qm::ip_address_t& start, const qm::ip_address_t& end)
{
    std::lock_guard guard(lock);
    range_start = start;
    range_end = end;
    cursor = start;
}

void ip_history_t::add(const qm::mac_address_t& mac, const qm::ip_address_t& ip)
{
    if (mac.is_null() || ip.is_null())
        return;
    std::lock_guard guard(lock);
    // The adapter's own address stays reserved whoever claims it.
    auto own = state.find(ip);
    if (own != state.end() && own->second == ip_state_own)
        return;
    // A device announcing what is known already (every frame of it): nothing changes.
    if (own != state.end() && own->second == ip_state_seen) {
        auto known_ip = by_mac.find(mac);
        auto known_mac = by_ip.find(ip);
        if (known_ip != by_mac.end() && known_ip->second == ip && known_mac != by_ip.end() && known_mac->second == mac)
            return;
    }

    auto old_ip = by_mac.find(mac);
    if (old_ip != by_mac.end() && old_ip->second != ip) {
        by_ip.erase(old_ip->second);
        auto old_state = state.find(old_ip->second);
        if (old_state != state.end() && old_state->second != ip_state_own)
            state.erase(old_state);
    }
    auto old_mac = by_ip.find(ip);
    if (old_mac != by_ip.end() && old_mac->second != mac)
        by_mac.erase(old_mac->second);

    by_mac[mac] = ip;
    by_ip[ip] = mac;
    state[ip] = ip_state_seen;
}

void ip_history_t::mark_own(const qm::ip_address_t& ip)
{
    if (ip.is_null())
        return;
    std::lock_guard guard(lock);
    state[ip] = ip_state_own;
}

void ip_history_t::load(const std::string& adapter_name)
{
    const std::string section = section_name(adapter_name);
    std::lock_guard guard(lock);
    const std::string full_path = path();
    qm::console() << "VXHistory.ini file is located in: [" << full_path << "]" << std::endl;

    // A section whose last save failed is read as that save would have left it.
    qm::profile_section_t read;
    {
        std::lock_guard pending_guard(pending_lock);
        auto kept = pending.find({full_path, section});
        if (kept != pending.end())
            read.entries = kept->second;
        else
            read = qm::read_profile_section(full_path, section, max_section_buffer);
    }
    loaded_section = section;
    section_cut = read.cut;
    unread.clear();
    if (section_cut)
        report("VXHistory.ini [" + section + "] is larger than " + std::to_string(max_section_buffer) +
               " bytes: read in part, left as it stands");

    // An entry that is not a MAC address and an address is skipped and kept
    // for the save, so one bad line never costs the entries after it.
    for (auto& [key, value] : read.entries) {
        qm::mac_address_t mac;
        mac.assign_text(key);
        qm::ip_address_t ip;
        ip.parse(value, 0);
        if (mac.is_null() || ip.is_null()) {
            // A line break inside it could not be written back as one line.
            const std::string line = key + '=' + value;
            const bool keep = line.find_first_of("\r\n") == std::string::npos;
            report("VXHistory.ini [" + section + "]: skipped an entry that is not a MAC address and an IPv4 address (" +
                   (keep ? "kept in the file" : "dropped: it holds a line break") + "): " + shown(line));
            if (keep)
                unread.emplace_back(std::move(key), std::move(value));
            continue;
        }
        by_mac[mac] = ip;
        by_ip[ip] = mac;
        state[ip] = ip_state_from_file;
    }
}

void ip_history_t::save(const std::string& adapter_name)
{
    const std::string section = section_name(adapter_name);
    std::lock_guard guard(lock);
    const std::string full_path = path();
    if (section_cut && section == loaded_section) {
        report("VXHistory.ini [" + section + "] was read in part: not rewritten");
        return;
    }
    // The whole section replaced in one atomic rewrite of the file (deleted
    // when empty); same contents as one key at a time in ascending address
    // order. A failure in between never leaves the section gone.
    qm::profile_entries_t entries;
    for (const auto& [ip, mac] : by_ip)
        if (!mac.is_null() && !ip.is_null())
            entries.emplace_back(mac.to_string(), ip.to_string());
    // Entries the load could not read stay as they were, unless their key
    // names a device whose address is now written.
    if (section == loaded_section) {
        for (const auto& [key, value] : unread) {
            qm::mac_address_t mac;
            mac.assign_text(key);
            if (mac.is_null() || !by_mac.count(mac))
                entries.emplace_back(key, value);
        }
    }
    std::lock_guard pending_guard(pending_lock);
    if (write_section(full_path, section, entries))
        pending.erase({full_path, section});
    else
        pending[{full_path, section}] = std::move(entries);
}

void ip_history_t::save_pending()
{
    std::lock_guard guard(pending_lock);
    for (auto kept = pending.begin(); kept != pending.end();) {
        const auto& [file, section] = kept->first;
        kept = write_section(file, section, kept->second) ? pending.erase(kept) : std::next(kept);
    }
}

int32_t ip_history_t::get_state(const qm::ip_address_t& ip)
{
    std::lock_guard guard(lock);
    auto it = state.find(ip);
    return it == state.end() ? ip_state_free : it->second;
}

std::optional<qm::ip_address_t> ip_history_t::address_of(const qm::mac_address_t& mac)
{
    std::lock_guard guard(lock);
    auto it = by_mac.find(mac);
    if (it == by_mac.end())
        return std::nullopt;
    return it->second;
}

std::optional<qm::mac_address_t> ip_history_t::owner_of(const qm::ip_address_t& ip)
{
    std::lock_guard guard(lock);
    auto it = by_ip.find(ip);
    if (it == by_ip.end())
        return std::nullopt;
    return it->second;
}

qm::ip_address_t ip_history_t::get_cursor()
{
    std::lock_guard guard(lock);
    return cursor;
}

size_t ip_history_t::size()
{
    std::lock_guard guard(lock);
    return by_ip.size();
}

} // namespace qm::vx
