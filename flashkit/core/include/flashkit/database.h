// The firmware folder: its image files ("*.bin") and the cache of their
// checksum records in "database.ini" beside them, so that an image is read
// only once. Identifies which version a device runs and answers the
// searches of the updater. Records are shared: a record handed out stays
// valid after a new init or the database's end.
#pragma once

#include "flashkit/base.h"
#include "flashkit/version.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace update {

using version_ptr = std::shared_ptr<const version_t>;

class database_t {
public:
    database_t() = default;
    // Writes pending records when [options] writeini allows it.
    ~database_t();
    database_t(const database_t&) = delete;
    database_t& operator=(const database_t&) = delete;

    // Loads the folder: pending records written first, then the device type
    // names and the cache read, then the folder scanned for new images.
    void init(const std::string& folder, recognizer_t recognizer = &recognize);

    // The version the device runs, or none; custom text and version describe
    // a configuration sector that does not belong to it.
    version_ptr identify(const checksums_t& device, std::string& custom, version_ptr& custom_version);
    std::vector<version_ptr> find_all();
    std::vector<version_ptr> find_compatible(const version_t* version);
    // The newest present record compatible with the version, or none.
    version_ptr find_prefered(const version_ptr& version);
    std::vector<version_ptr> find_sametype(int32_t type, int32_t hardware);

    // "<type text> version a.b.c[.d]"; "???" for none.
    std::string display_name(const version_t* version);
    // Folder followed by the record's file name.
    std::string image_path(const version_t& version);
    std::string folder();

private:
    std::string ini_path() const { return folder_path + "database.ini"; }
    std::string name_of(const version_t* version) const;
    bool cacheable(const version_t& version) const;
    void read_device_types();
    void read_cache();
    void scan(recognizer_t recognizer);
    void write_cache();
    void custom_from(const std::vector<version_t*>& config_matches, std::string& custom,
                     version_ptr& custom_version) const;
    version_ptr share(const version_t* record) const;

    std::mutex lock;
    std::string folder_path;
    std::vector<std::shared_ptr<version_t>> records;
    bool modified = false;
    std::map<std::string, std::string> device_types;
};

} // namespace update
