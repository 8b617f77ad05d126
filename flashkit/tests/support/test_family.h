// Test support: small synthetic device families that plug in like the real
// ones. An image is "VXFAM" followed by the eight little-endian words of its
// checksum record; a device serves such an image as "img" and its family's
// probe file.
#pragma once

#include "flashkit/base.h"
#include "flashkit/status_text.h"

#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>

namespace vx::test {

inline std::string family_image(const update::checksums_t& record)
{
    std::string out = "VXFAM";
    for (uint32_t w : record.words) {
        unsigned char b[4];
        write_word(w, b, 4, true);
        out.append(reinterpret_cast<const char*>(b), 4);
    }
    return out;
}

// Reads a family image; false when the file is none.
inline bool read_family_image(const std::string& path, update::checksums_t& record, int32_t type)
{
    std::ifstream in(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (content.size() != 37 || content.compare(0, 5, "VXFAM") != 0)
        return false;
    update::checksums_t read;
    for (int i = 0; i < 8; ++i)
        read[i] = read_word(reinterpret_cast<const unsigned char*>(content.data()) + 5 + 4 * i, 4, true);
    if (read.type() != type)
        return false;
    record = read;
    return true;
}

// A unit of no family whose own operations do nothing: the base's reads,
// writes and configuration rules alone.
class bare_unit_t : public update::base_t {
public:
    using base_t::base_t;
    void upload(update::checksums_t&) override {}
    void download(const std::string&, const update::checksums_t&, update::status_t*, int32_t, int32_t, int32_t) override
    {}
    void check_update(uint8_t*, const update::checksums_t&, const std::string&) override {}
};

// Called by a test unit's upload once it reported "Reading boot bank", so a
// test can hold the job there.
inline std::function<void()>& upload_hook()
{
    static std::function<void()> hook;
    return hook;
}

// Called by a test unit's download once it reported its first text.
inline std::function<void()>& download_hook()
{
    static std::function<void()> hook;
    return hook;
}

template <int32_t Code> class test_unit_t : public update::base_t {
public:
    static constexpr int32_t type_code = Code;
    using base_t::base_t;

    void upload(update::checksums_t& record) override
    {
        current_status().set_text(update::status_text[update::text_reading_boot]);
        current_status().set_percent(30);
        if (upload_hook())
            upload_hook()();
        const std::string local = temp_name("temp_img");
        get_file("img", local);
        bool ok = read_family_image(local, record, Code);
        std::remove(local.c_str());
        if (!ok)
            throw qm::exception_t("not an image of this family");
        checksums = record;
        current_status().set_percent(100);
    }
    void download(const std::string& image, const update::checksums_t&, update::status_t* s, int32_t, int32_t,
                  int32_t) override
    {
        status = s;
        current_status().set_text(update::status_text[update::text_updating_runtime]);
        current_status().set_percent(10);
        if (download_hook())
            download_hook()();
        put_file(image, "img", 0, 37);
        current_status().set_text(update::status_text[update::text_download_done]);
        current_status().set_percent(100);
    }
    void check_update(uint8_t flags[8], const update::checksums_t& version, const std::string&) override
    {
        for (int i = 0; i < 8; ++i)
            flags[i] = checksums[i] != version[i];
    }
};

template <int32_t Code> bool recognize_family(const std::string& path, update::checksums_t& record)
{
    return read_family_image(path, record, Code);
}

template <int32_t Code>
std::shared_ptr<update::base_t> probe_family(const qm::ip_address_t& address, update::status_t* status)
{
    return update::probe(address, status, "probe" + std::to_string(Code),
                         [&] { return std::make_shared<test_unit_t<Code>>(address, status); });
}

// Two families, registered in this order: codes 2 (probe file "probe2") and 4.
inline void register_test_families()
{
    update::clear_families();
    update::register_family<test_unit_t<2>>(&probe_family<2>, &recognize_family<2>);
    update::register_family<test_unit_t<4>>(&probe_family<4>, &recognize_family<4>);
}

} // namespace vx::test
