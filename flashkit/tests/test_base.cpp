// The family base: configuration records at both widths, short reads, and
// the configuration rules. The verified write and the probe walk are met end
// to end against the simulator (test_families_netns.cpp).
#include "flashkit/config_copy.h"

#include "scratch_folder.h"
#include "test_family.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using update::base_t;
using update::config_t;

using vx::test::bytes_t;

class Base : public ::testing::Test {
protected:
    std::string file(const std::string& name, const bytes_t& content) { return scratch.file(name, content); }
    static bytes_t read(const std::string& path) { return vx::test::scratch_folder::read(path); }

    vx::test::scratch_folder scratch{"base"};
    const std::filesystem::path& dir = scratch.path;
};

bytes_t numbered(std::size_t size)
{
    bytes_t b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<unsigned char>(0x10 + i);
    return b;
}

TEST_F(Base, ConfigurationRecordLayoutAtBothWidths)
{
    struct row {
        int width;
        uint32_t leading;
        const char* mac;
        int32_t vcxo, channels, ssi;
        std::vector<int> spare; // MAC-word bytes written back as 0
    };
    // Offsets 16 into a numbered file: width 3 reads MAC bytes at +4,+5,+7,+8,+10,+11;
    // width 4 at +7,+6,+5,+4,+11,+10.
    for (const row& r : {row{3, 0x222120, "242527282a2b", 0x2e2d2c, 0x31302f, 0x343332, {3, 6, 9}},
                         row{4, 0x23222120, "272625242b2a", 0x2f2e2d2c, 0x33323130, 0x37363534, {8, 9}}}) {
        std::string path = file("image", numbered(64));
        config_t c;
        base_t::read_config(c, path, 16, r.width);
        EXPECT_EQ(c.leading, r.leading) << r.width;
        EXPECT_EQ(c.device_mac.to_string(), r.mac) << r.width;
        EXPECT_EQ(c.mac.to_string(), r.mac) << r.width;
        EXPECT_EQ(c.device_vcxo, r.vcxo) << r.width;
        EXPECT_EQ(c.vcxo, r.vcxo);
        EXPECT_EQ(c.device_channels, r.channels);
        EXPECT_EQ(c.device_ssi, r.ssi);

        // Written into another copy: unchanged except the spare MAC bytes.
        std::string copy = file("copy", numbered(64));
        base_t::write_config(c, copy, 16, r.width, true);
        bytes_t expected = numbered(64);
        for (int i : r.spare)
            expected[16 + static_cast<std::size_t>(i)] = 0;
        EXPECT_EQ(read(copy), expected) << r.width;

        // Without the values flag only the leading word and MAC are written.
        c.mac.assign_text("0a0b0c0d0e0f");
        c.vcxo = 1;
        std::string third = file("third", numbered(64));
        base_t::write_config(c, third, 16, r.width, false);
        config_t back;
        base_t::read_config(back, third, 16, r.width);
        EXPECT_EQ(back.device_mac.to_string(), "0a0b0c0d0e0f");
        EXPECT_EQ(back.device_vcxo, r.vcxo);
    }
}

TEST_F(Base, ShortConfigurationReadsFailAndLeaveNothingStale)
{
    config_t c;
    base_t::read_config(c, file("full", numbered(64)), 0, 3);
    const config_t before = c;
    EXPECT_THROW(base_t::read_config(c, file("short", numbered(20)), 0, 3), qm::exception_t);
    EXPECT_THROW(base_t::read_config(c, file("short4", numbered(40)), 20, 4), qm::exception_t);
    EXPECT_EQ(c.device_mac, before.device_mac);
    EXPECT_THROW(base_t::read_config(c, (dir / "missing").string(), 0, 3), qm::wapi::exception_t);

    unsigned char sector[32];
    std::fill(std::begin(sector), std::end(sector), 0xEE);
    EXPECT_THROW(base_t::read_sector(file("sector", numbered(40)), 16, sector, 32), qm::exception_t);
    try {
        base_t::read_sector((dir / "missing").string(), 0, sector, 32);
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "file not open");
    }
    base_t::read_sector(file("sector", numbered(48)), 16, sector, 32);
    EXPECT_EQ(sector[0], 0x20);
}

TEST_F(Base, ConfigurationDiffersAndMerges)
{
    vx::test::bare_unit_t unit(qm::ip_address_t(), nullptr);
    config_t device;
    device.device_vcxo = device.vcxo = 100;
    device.device_channels = device.channels = 8;
    device.device_ssi = device.ssi = 1;
    device.device_mac.assign_text("00602bfd0001");
    device.mac = device.device_mac;
    config_t image = device;
    unit.config = device;
    EXPECT_FALSE(unit.config_differs(image));

    image.device_vcxo = 200;
    EXPECT_TRUE(unit.config_differs(image)); // the image would change it
    unit.config.vcxo_set = 1;                // the user keeps the device's own value
    EXPECT_FALSE(unit.config_differs(image));
    unit.config.vcxo = 150;
    EXPECT_TRUE(unit.config_differs(image));

    unit.config = device;
    unit.config.mac.assign_text("00602bfd0002");
    EXPECT_TRUE(unit.config_differs(device));

    unit.config = device;
    unit.config.channels = 4;
    unit.config.channels_set = 1;
    image.device_ssi = 3;
    unit.merge_config(image);
    EXPECT_EQ(unit.config.vcxo, 200);
    EXPECT_EQ(unit.config.channels, 4);
    EXPECT_EQ(unit.config.ssi, 3);
    EXPECT_EQ(unit.config.mac, device.device_mac);
}

// A unit that keeps a 1 KB configuration area, as cedar and dogwood do.
class area_unit_t : public vx::test::bare_unit_t {
public:
    area_unit_t(const char* address, const bytes_t& content) : bare_unit_t(ip(address), nullptr)
    {
        std::copy(content.begin(), content.end(), area);
    }
    config_store_t config_store() override { return {area, sizeof area, 3}; }
    static qm::ip_address_t ip(const char* text)
    {
        qm::ip_address_t address;
        address.parse(text);
        return address;
    }
    unsigned char area[1024] = {};
};

TEST_F(Base, AnErasedRecordIsTakenFromTheCopyOfTheDeviceLastSeenAtItsAddress)
{
    vx::test::remove_config_copies();
    auto area = [&](const char* mac, int32_t vcxo) {
        config_t record;
        record.leading = 1;
        record.mac.assign_text(mac);
        record.vcxo = vcxo;
        const std::string at = file("area", numbered(1024));
        base_t::write_config(record, at, 0, 3, true);
        return read(at);
    };
    const bytes_t first = area("02aabbcc0001", 0x123), other = area("02aabbcc0002", 0x456);
    area_unit_t seen("127.0.0.5", first), elsewhere("127.0.0.6", other);
    update::keep_config(seen);
    update::keep_config(elsewhere);
    EXPECT_EQ(seen.config_source, base_t::config_source_t::device);
    EXPECT_TRUE(std::filesystem::exists("saved_config02aabbcc0001"));

    bytes_t zero_mac = first, group_mac = first;
    std::fill(zero_mac.begin() + 3, zero_mac.begin() + 12, 0x00);
    group_mac[4] = 0x01;
    struct row {
        const char* what;
        bytes_t content;
    };
    for (const row& r : {row{"erased", bytes_t(1024, 0xFF)}, row{"zero MAC", zero_mac}, row{"group MAC", group_mac}}) {
        area_unit_t unit("127.0.0.5", r.content);
        update::keep_config(unit);
        EXPECT_EQ(unit.config_source, base_t::config_source_t::copy) << r.what;
        EXPECT_EQ(unit.config.mac.to_string(), "02aabbcc0001") << r.what;
        EXPECT_EQ(unit.config.vcxo, 0x123) << r.what;
        EXPECT_TRUE(std::equal(first.begin(), first.end(), unit.area)) << r.what;
        // The device's own record is still erased: every write must replace it.
        EXPECT_TRUE(unit.config_differs(unit.config)) << r.what;
    }
    area_unit_t unknown("127.0.0.7", bytes_t(1024, 0xFF));
    update::keep_config(unknown);
    EXPECT_EQ(unknown.config_source, base_t::config_source_t::erased);
    EXPECT_EQ(unknown.area[0], 0xFF);
    vx::test::remove_config_copies();
}

} // namespace
