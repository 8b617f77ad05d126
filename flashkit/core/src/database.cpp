#include "flashkit/database.h"

#include <qm/console.h>
#include <qm/profile_section.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <unordered_map>

namespace update {
namespace {

const char* const section_checksums = "Checksums";
const char* const section_types = "Device Types";
const char* const section_options = "options";

// Every key of a section with its value, as the INI functions read them one
// by one: the whole section is read at once (a cache of many images would
// otherwise be read again for every key), a key listed twice takes its first
// value, and a value wholly in matching quotes loses them.
std::vector<std::pair<std::string, std::string>> read_section(const char* section, const std::string& ini)
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (auto& entry : qm::read_profile_section(ini, section).entries) {
        const std::string& key = entry.first;
        std::string& value = entry.second;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        auto first = std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
            return e.first.size() == key.size() && strcasecmp(e.first.c_str(), key.c_str()) == 0;
        });
        entries.emplace_back(key, first != entries.end() ? first->second : value);
    }
    return entries;
}

// One decimal number with an optional sign, kept modulo 2^32, so that both
// unsigned values and the negative ones of older caches map onto the word.
bool parse_word(const char*& p, uint32_t& word)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    uint32_t value = 0;
    while (std::isdigit(static_cast<unsigned char>(*p)))
        value = value * 10 + static_cast<uint32_t>(*p++ - '0');
    word = negative ? 0u - value : value;
    return true;
}

// The cached words in their order: code, boot, FPGA, second FPGA,
// configuration, device type plus one, second code.
constexpr int cache_order[7] = {checksums_t::code_cs,  checksums_t::boot_cs,   checksums_t::fpga_cs,
                                checksums_t::fpga2_cs, checksums_t::config_cs, checksums_t::device_type,
                                checksums_t::code2_cs};

checksums_t parse_cached(const std::string& text)
{
    uint32_t numbers[7] = {};
    const char* p = text.c_str();
    for (uint32_t& n : numbers) {
        if (!parse_word(p, n))
            break;
    }
    checksums_t record;
    for (int i = 0; i < 7; ++i)
        record[cache_order[i]] = numbers[i];
    record[checksums_t::device_type] -= 1;
    record[checksums_t::internal] = 0;
    return record;
}

std::string cached_text(const checksums_t& record)
{
    std::string text;
    for (int i = 0; i < 7; ++i) {
        uint32_t n = record[cache_order[i]];
        if (cache_order[i] == checksums_t::device_type)
            n += 1;
        text += std::to_string(n) + " ";
    }
    return text;
}

bool ends_with_bin(const std::string& name)
{
    if (name.size() < 4)
        return false;
    const char* tail = name.c_str() + name.size() - 4;
    return strcasecmp(tail, ".bin") == 0;
}

bool same_ignoring_case(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace

database_t::~database_t()
{
    try {
        if (modified && GetPrivateProfileIntA(section_options, "writeini", 1, ini_path().c_str()) != 0)
            write_cache();
    } catch (...) {}
}

void database_t::init(const std::string& folder, recognizer_t recognizer)
{
    std::lock_guard<std::mutex> guard(lock);
    if (modified) {
        write_cache();
        modified = false;
    }
    records.clear();
    folder_path = folder;
    if (folder_path.empty() || folder_path.back() != '/')
        folder_path += '/';
    read_device_types();
    read_cache();
    scan(recognizer);
}

void database_t::read_device_types()
{
    // Display texts are read into 256 bytes.
    for (const auto& [key, value] : read_section(section_types, ini_path()))
        device_types[key] = value.substr(0, 255);
}

void database_t::read_cache()
{
    for (const auto& [key, value] : read_section(section_checksums, ini_path())) {
        auto record = std::make_shared<version_t>(key, parse_cached(value));
        if (record->valid)
            records.push_back(std::move(record));
    }
}

void database_t::scan(recognizer_t recognizer)
{
    const bool nocache = GetPrivateProfileIntA(section_options, "nocache", 0, ini_path().c_str()) != 0;
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder_path, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        // Only regular files (or links to them) are images: reading a FIFO
        // would wait for a writer that never comes.
        std::error_code type_error;
        if (ends_with_bin(name) && it->is_regular_file(type_error))
            names.push_back(std::move(name));
    }
    // A stable order whatever the file system lists first.
    std::sort(names.begin(), names.end());

    // First record, in list order, by file name and by display name.
    std::unordered_map<std::string, version_t*> by_name;
    std::unordered_map<std::string, version_t*> by_display;
    auto index = [&](version_t* r) {
        by_name.emplace(r->file_name, r);
        by_display.emplace(name_of(r), r);
    };
    for (const auto& r : records)
        index(r.get());

    for (const std::string& name : names) {
        version_t* hit = nullptr;
        auto n = by_name.find(name);
        auto d = by_display.find(name);
        if (n != by_name.end() && d != by_display.end() && n->second != d->second) {
            for (const auto& r : records) {
                if (r.get() == n->second || r.get() == d->second) {
                    hit = r.get();
                    break;
                }
            }
        } else if (n != by_name.end()) {
            hit = n->second;
        } else if (d != by_display.end()) {
            hit = d->second;
        }
        if (hit) {
            hit->exists = 1;
            if (!nocache)
                continue;
            std::erase_if(by_name, [&](const auto& e) { return e.second == hit; });
            std::erase_if(by_display, [&](const auto& e) { return e.second == hit; });
            std::erase_if(records, [&](const std::shared_ptr<version_t>& r) { return r.get() == hit; });
        }
        checksums_t record;
        if (!recognizer || !recognizer(folder_path + name, record))
            continue;
        auto version = std::make_shared<version_t>(name, record);
        if (!version->valid)
            continue;
        version->exists = 1;
        index(version.get());
        records.push_back(std::move(version));
        modified = true;
    }
}

bool database_t::cacheable(const version_t& version) const
{
    // The cache is an INI file: its keys are trimmed and compared without
    // case, and some characters would end or change the line.
    const std::string& name = version.file_name;
    if (name.empty() || name.front() == ';' || name.front() == '[' ||
        std::isspace(static_cast<unsigned char>(name.front())) || std::isspace(static_cast<unsigned char>(name.back())))
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '=')
            return false;
    }
    return std::none_of(records.begin(), records.end(), [&](const std::shared_ptr<version_t>& other) {
        return other.get() != &version && same_ignoring_case(other->file_name, name);
    });
}

void database_t::write_cache()
{
    const std::string ini = ini_path();
    // The whole section replaced in one rewrite of the file: a failure leaves
    // the cache as it was, never without its section. What could not be
    // written is found again by the next scan of the folder.
    qm::profile_entries_t entries;
    for (const auto& record : records) {
        if (cacheable(*record))
            entries.emplace_back(record->file_name, cached_text(record->checksums));
    }
    if (!qm::write_profile_section(ini, section_checksums, entries))
        qm::console() << "Checksum cache could not be written to " << ini << ": " << qm::wapi::last_error_text()
                      << std::endl;
}

version_ptr database_t::share(const version_t* record) const
{
    for (const auto& r : records) {
        if (r.get() == record)
            return r;
    }
    return nullptr;
}

void database_t::custom_from(const std::vector<version_t*>& config_matches, std::string& custom,
                             version_ptr& custom_version) const
{
    if (!config_matches.empty()) {
        custom = config_matches.front()->type_word;
        custom_version = share(config_matches.front());
    } else {
        custom = "Unknown";
    }
}

version_ptr database_t::identify(const checksums_t& device, std::string& custom, version_ptr& custom_version)
{
    std::lock_guard<std::mutex> guard(lock);
    const uint32_t device_config = device[checksums_t::config_cs];
    std::vector<version_t*> code_matches;
    std::vector<version_t*> config_matches;
    for (const auto& r : records) {
        if (r->checksums[checksums_t::code_cs] == device[checksums_t::code_cs] &&
            r->checksums[checksums_t::code2_cs] == device[checksums_t::code2_cs])
            code_matches.push_back(r.get());
        if (device_config != 0 && r->checksums[checksums_t::config_cs] == device_config)
            config_matches.push_back(r.get());
    }
    if (code_matches.empty()) {
        if (device_config != 0)
            custom_from(config_matches, custom, custom_version);
        return nullptr;
    }
    version_t* favoured = code_matches.front();
    for (version_t* r : code_matches) {
        if (r->checksums[checksums_t::config_cs] == 0) {
            favoured = r;
            break;
        }
    }
    for (version_t* r : code_matches) {
        if (std::find(config_matches.begin(), config_matches.end(), r) != config_matches.end())
            return share(r);
    }
    if (device_config != 0)
        custom_from(config_matches, custom, custom_version);
    return share(favoured);
}

std::vector<version_ptr> database_t::find_all()
{
    std::lock_guard<std::mutex> guard(lock);
    return {records.begin(), records.end()};
}

std::vector<version_ptr> database_t::find_compatible(const version_t* version)
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<version_ptr> list;
    for (const auto& r : records) {
        if (version && version->is_compatible(r.get()))
            list.push_back(r);
    }
    return list;
}

version_ptr database_t::find_prefered(const version_ptr& version)
{
    std::lock_guard<std::mutex> guard(lock);
    version_ptr best = version && version->exists ? version : nullptr;
    if (!version)
        return best;
    for (const auto& r : records) {
        if (version->is_compatible(r.get()) && r->exists && r->newer_than(best.get()))
            best = r;
    }
    return best;
}

std::vector<version_ptr> database_t::find_sametype(int32_t type, int32_t hardware)
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<version_ptr> list;
    for (const auto& r : records) {
        const int32_t t = r->checksums.type();
        bool take;
        if (type == type_alder || type == type_alderamd)
            take = (t == type_alder || t == type_alderamd) &&
                (hardware == -1 || (hardware >= 4 && r->minor >= 20) || (hardware < 4 && r->minor < 20));
        else if (type == type_birch || type == type_birchamd)
            take = t == type_birch || t == type_birchamd;
        else
            take = t == type;
        if (take)
            list.push_back(r);
    }
    return list;
}

std::string database_t::name_of(const version_t* version) const
{
    if (!version)
        return "???";
    auto text = device_types.find(version->type_word);
    std::string name = (text != device_types.end() ? text->second : version->type_word) + " version " +
        std::to_string(version->major) + "." + std::to_string(version->minor) + "." + std::to_string(version->build);
    if (version->patch != -1)
        name += "." + std::to_string(version->patch);
    return name;
}

std::string database_t::display_name(const version_t* version)
{
    std::lock_guard<std::mutex> guard(lock);
    return name_of(version);
}

std::string database_t::image_path(const version_t& version)
{
    std::lock_guard<std::mutex> guard(lock);
    return folder_path + version.file_name;
}

std::string database_t::folder()
{
    std::lock_guard<std::mutex> guard(lock);
    return folder_path;
}

} // namespace update
