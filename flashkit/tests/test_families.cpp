// The six families against generated images and a scripted device-style
// TFTP server: the comparison rules of each family, which files a download
// writes and in which order (new bank first, old bank invalidated after), and
// the verified birch boot.
#include "flashkit/families/alder.h"
#include "flashkit/families/alderamd.h"
#include "flashkit/families/birch.h"
#include "flashkit/families/birchamd.h"
#include "flashkit/families/cedar.h"
#include "flashkit/families/dogwood.h"
#include "flashkit/families/families.h"
#include "flashkit/tftp.h"

#include "flash/layout.h"
#include "images/images.h"
#include "scratch_folder.h"
#include "tftp_peer.h"
#include "tftp_times.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

namespace {

namespace images = devsim::images;
using update::checksums_t;

class Families : public ::testing::Test {
protected:
    void SetUp() override
    {
        update::register_families();
        tftp::settings().set_port(peer.port());
        tftp::settings().set_timeout(vx::test::tftp_patient_ms);
        tftp::settings().set_write_timeout(vx::test::tftp_patient_ms);
        address.parse("127.0.0.1");
    }

    // The image written into the test folder; its generated record.
    images::firmware_t image(const images::firmware_spec& spec, const std::string& name = "image.bin")
    {
        images::firmware_t made = images::make_firmware(spec);
        path = (dir / name).string();
        images::write_file(path, made.bytes);
        return made;
    }

    // The scripted device serves the image as a device of the family keeps it.
    void load_device(images::family family, const images::firmware_t& made)
    {
        for (const auto& area : devsim::flash::layout_of(family).areas) {
            std::string content(area.size, '\xFF');
            if (area.image_offset >= 0)
                content.assign(reinterpret_cast<const char*>(made.bytes.data()) + area.image_offset, area.size);
            peer.set_file(area.name, content);
        }
    }

    // The names of the files written, in order.
    std::string writes()
    {
        std::string out;
        for (const auto& p : peer.received())
            if (p.opcode == 2)
                out += (out.empty() ? "" : " ") + p.name;
        return out;
    }

    vx::test::scratch_folder scratch{"families"};
    const std::filesystem::path& dir = scratch.path;
    std::string path;
    vx::test::tftp_peer peer;
    qm::ip_address_t address;
};

// One seed for every image: versions of a family then share their boot.
images::firmware_spec spec_of(images::family family, std::function<void(images::firmware_spec&)> variant = {})
{
    images::firmware_spec spec;
    spec.fam = family;
    spec.version = {1, 2, 3, -1};
    spec.seed = 0x600D;
    if (variant)
        variant(spec);
    return spec;
}

using make_t = std::unique_ptr<update::base_t> (*)(const qm::ip_address_t&);

template <class U> std::unique_ptr<update::base_t> make_unit(const qm::ip_address_t& address)
{
    return std::make_unique<U>(address, nullptr);
}

// Flag bytes as text, byte 0 first.
std::string flags_of(update::base_t& unit, const checksums_t& version, const std::string& image)
{
    uint8_t flags[8];
    unit.check_update(flags, version, image);
    std::string out;
    for (uint8_t f : flags)
        out += f ? '1' : '0';
    return out;
}

TEST_F(Families, ComparisonRulesOfEachFamily)
{
    using F = images::family;
    struct row {
        const char* what;
        images::firmware_spec spec;
        make_t make;
        uint32_t config_offset;
        int width;
        std::function<void(update::base_t&)> device; // how the device differs from the image
        const char* flags;                           // 0 code, 1 code2, 2 boot differs, 4 FPGA, 6 config, 7 boot update
    };
    const make_t alder = &make_unit<update::alder_t>, birch = &make_unit<update::birch_t>,
                 cedar = &make_unit<update::cedar_t>, dogwood = &make_unit<update::dogwood_t>;
    auto differ = [](std::initializer_list<int> list) {
        return [words = std::vector<int>(list)](update::base_t& u) {
            for (int w : words)
                u.checksums[w] ^= 1;
        };
    };
    auto format = [](int32_t f, std::function<void(update::base_t&)> also = {}) {
        return [f, also](update::base_t& u) {
            static_cast<update::dogwood_t&>(u).code_format = f;
            if (also)
                also(u);
        };
    };
    auto user_vcxo = [](update::base_t& u) {
        u.config.vcxo += 1;
        u.config.vcxo_set = 1;
    };
    const row rows[] = {
        {"alder same", spec_of(F::alder), alder, 0x6000, 3, {}, "00000000"},
        {"alder second FPGA in the code: no boot update", spec_of(F::alder), alder, 0x6000, 3,
         differ({checksums_t::boot_cs, checksums_t::fpga_cs}), "00101000"},
        {"alder FPGA only differs", spec_of(F::alder), alder, 0x6000, 3, differ({checksums_t::fpga_cs}), "00000000"},
        {"alder no second FPGA, FPGA differs", spec_of(F::alder, [](auto& s) { s.fpga2 = false; }), alder, 0x6000, 3,
         differ({checksums_t::fpga_cs}), "00001001"},
        {"alder second FPGA differs: code update", spec_of(F::alder), alder, 0x6000, 3, differ({checksums_t::fpga2_cs}),
         "10000100"},
        {"alder configuration set by the user", spec_of(F::alder), alder, 0x6000, 3, user_vcxo, "00000010"},
        {"birch boot differs", spec_of(F::birch), birch, 0x6000, 4, differ({checksums_t::boot_cs}), "00100001"},
        {"birch second code and FPGA word", spec_of(F::birch), birch, 0x6000, 4,
         differ({checksums_t::code2_cs, checksums_t::fpga_cs}), "01001000"},
        {"cedar configuration only: boot differs", spec_of(F::cedar), cedar, 0x7C00, 3, user_vcxo, "00100001"},
        {"cedar code", spec_of(F::cedar), cedar, 0x7C00, 3, differ({checksums_t::code_cs}), "10000000"},
        {"dogwood large code, nothing differs", spec_of(F::dogwood), dogwood, 0x7FC00, 3, format(2), "00000000"},
        {"dogwood small code always asks for the boot", spec_of(F::dogwood), dogwood, 0x7FC00, 3, format(1),
         "00000001"},
        {"dogwood large code, boot differs with a second Xilinx", spec_of(F::dogwood), dogwood, 0x7FC00, 3,
         format(2, differ({checksums_t::boot_cs})), "00000000"},
        {"dogwood large code, boot differs without second Xilinx",
         spec_of(F::dogwood, [](auto& s) { s.fpga2 = false; }), dogwood, 0x7FC00, 3,
         format(2, differ({checksums_t::boot_cs})), "00100001"},
        {"dogwood second boot region differs", spec_of(F::dogwood), dogwood, 0x7FC00, 3,
         format(2, differ({checksums_t::internal})), "00110000"},
        {"dogwood configuration set by the user", spec_of(F::dogwood), dogwood, 0x7FC00, 3, format(2, user_vcxo),
         "00100001"},
    };
    for (const row& r : rows) {
        images::firmware_t made = image(r.spec);
        checksums_t version;
        ASSERT_TRUE(update::recognize(path, version)) << r.what;
        std::unique_ptr<update::base_t> unit = r.make(address);
        unit->checksums = version;
        if (r.make == dogwood) {
            // Word 3 of a dogwood device: the running sum of its boot's second region.
            checksum_t second(0x7C000, 0x1E00, 3);
            second.feed(path);
            unit->checksums[checksums_t::internal] = second.sum();
        }
        update::base_t::read_config(unit->config, path, r.config_offset, r.width);
        if (r.device)
            r.device(*unit);
        const checksums_t before = version;
        EXPECT_EQ(flags_of(*unit, version, path), r.flags) << r.what;
        EXPECT_EQ(version, before) << r.what;
    }
}

TEST_F(Families, DownloadsWriteTheOtherBankThenInvalidateTheOldOne)
{
    using F = images::family;
    struct row {
        const char* what;
        F device;
        images::firmware_spec on_device, written;
        make_t make;
        std::function<void(vx::test::tftp_peer&)> prepare; // the device's flash before the upload
        std::function<void(checksums_t&)> edit;            // the version's record as the folder gives it
        int32_t boot, runtime, config;
        const char* writes;
        const char* done_text;
    };
    const auto newer = [](images::firmware_spec s) {
        s.version = {1, 3, 0, -1};
        return s;
    };
    const auto large = [](auto& s) { s.large_code = true; };
    const row rows[] = {
        {"alder running bank 8",
         F::alder,
         spec_of(F::alder),
         newer(spec_of(F::alder)),
         &make_unit<update::alder_t>,
         [](vx::test::tftp_peer& p) {
             p.set_file("m08", p.file("m06"));
             p.set_file("m09", p.file("m07"));
             p.set_file("m06", std::string(0x20000, '\xFF'));
         },
         {},
         0,
         0,
         0,
         "m06 m07 m08",
         "download done"},
        {"alderamd running bank 8",
         F::alderamd,
         spec_of(F::alder),
         newer(spec_of(F::alder)),
         &make_unit<update::alderamd_t>,
         {},
         {},
         0,
         0,
         0,
         "a12 a13 a14 a15 a08",
         "download done."},
        {"birch image without second code",
         F::birch,
         spec_of(F::birch),
         newer(spec_of(F::birch, [](auto& s) { s.second_code = false; })),
         &make_unit<update::birch_t>,
         {},
         {},
         0,
         1,
         0,
         "c09 c08 c10 c11",
         "download done"},
        {"birchamd",
         F::birchamd,
         spec_of(F::birch),
         newer(spec_of(F::birch)),
         &make_unit<update::birchamd_t>,
         {},
         {},
         0,
         0,
         0,
         "s14 s15 s12 s18 s19 s16",
         "download done"},
        {"birch boot ending inside the first file",
         F::birch,
         spec_of(F::birch, [](auto& s) { s.short_boot = true; }),
         spec_of(F::birch, [](auto& s) { s.short_boot = true; }),
         &make_unit<update::birch_t>,
         {},
         {},
         2,
         0,
         0,
         "c01",
         "download done"},
        {"cedar running bank 1",
         F::cedar,
         spec_of(F::cedar),
         newer(spec_of(F::cedar)),
         &make_unit<update::cedar_t>,
         {},
         {},
         0,
         0,
         0,
         "r5 r6 r3 r4",
         "download done"},
        {"cedar large code",
         F::cedar,
         spec_of(F::cedar),
         newer(spec_of(F::cedar, large)),
         &make_unit<update::cedar_t>,
         {},
         {},
         0,
         0,
         0,
         "r3 r4 r5 r6",
         "download done"},
        {"dogwood version without second Xilinx",
         F::dogwood,
         spec_of(F::dogwood, large),
         newer(spec_of(F::dogwood, large)),
         &make_unit<update::dogwood_t>,
         {},
         [](checksums_t& v) { v[checksums_t::fpga2_cs] = 0; },
         0,
         0,
         0,
         "f2 f1 f3",
         "download done"},
    };
    for (const row& r : rows) {
        images::firmware_t old_image = image(r.on_device, "old.bin");
        load_device(r.device, old_image);
        if (r.prepare)
            r.prepare(peer);
        image(r.written, "new.bin");
        checksums_t version;
        ASSERT_TRUE(update::recognize(path, version)) << r.what;
        if (r.edit)
            r.edit(version);

        std::unique_ptr<update::base_t> u = r.make(address);
        checksums_t found;
        ASSERT_NO_THROW(u->upload(found)) << r.what;
        const std::size_t before = peer.received().size();
        update::job_status_t status;
        ASSERT_NO_THROW(u->download(path, version, &status, r.boot, r.runtime, r.config))
            << r.what << ": " << status.text();
        std::string written;
        auto log = peer.received();
        for (std::size_t i = before; i < log.size(); ++i)
            if (log[i].opcode == 2)
                written += (written.empty() ? "" : " ") + log[i].name;
        EXPECT_EQ(written, r.writes) << r.what;
        EXPECT_EQ(status.text(), r.done_text) << r.what;
        EXPECT_EQ(status.percent(), 100.0) << r.what;
    }
}

// Every text and percentage a unit reports, in order, joined by "|".
class recording_status_t : public update::status_t {
public:
    void set_text(const std::string& value) override
    {
        add(value);
        last_text = value;
    }
    void set_percent(double value) override
    {
        std::ostringstream out;
        out << value;
        add(out.str());
        last_percent = value;
    }
    std::string text() override { return last_text; }
    double percent() override { return last_percent; }

    std::string events;

private:
    void add(const std::string& event) { events += (events.empty() ? "" : "|") + event; }
    std::string last_text;
    double last_percent = 0;
};

// What the console shows while each family uploads and writes everything
// (boot 2, runtime 1, configuration 2) of a newer version.
TEST_F(Families, StatusTextsAndPercentagesOfEachFamily)
{
    using F = images::family;
    struct row {
        F device, image;
        make_t make;
        const char* upload;
        const char* download;
    };
    const row rows[] = {
        {F::alder, F::alder, &make_unit<update::alder_t>,
         "Reading boot bank|30|35|40|Uploading the runtime code|50|55|Upload runtime code complete, checksuming code|"
         "Uploading the xilinx code|70|75|Upload the xilinx code complete|Uploading the configuration sector|80|"
         "Upload the configuration sector complete|100",
         "10|Updating boot code|Downloading boot|15|Boot update complete|20|Updating runtime code|40|60|"
         "Code update complete|70|Updating FPGA code|Downloading FPGA|80|FPGA update complete|90|"
         "Updating configuration|new mac is 00602b000001|Downloading configuration|Configuration update complete|"
         "download done|100"},
        {F::alderamd, F::alder, &make_unit<update::alderamd_t>,
         "Reading boot bank|30|35|38|Uploading the runtime code|40|45|50|55|"
         "Upload runtime code complete, checksuming code|Uploading the xilinx code|80|85|"
         "Upload the xilinx code complete|Uploading the configuration sector|90|"
         "Upload the configuration sector complete|100",
         "10|Updating boot code|Downloading boot|15|Boot update complete|20|Updating runtime code|30|40|50|60|"
         "Code update complete|70|Updating FPGA code|Downloading FPGA|80|FPGA update complete|90|"
         "Updating configuration|new mac is 00602b000001|Downloading configuration|Configuration update complete|"
         "download done.|100"},
        {F::birch, F::birch, &make_unit<update::birch_t>,
         "Reading boot bank|30|35|40|Uploading the runtime code|50|60|Upload runtime code complete, checksuming code|"
         "Uploading the configuration sector|80|Upload the configuration sector complete|100",
         "10|Updating boot code|Downloading boot|15|20|Boot update complete|30|Updating runtime code|50|60|"
         "Updating second runtime code|70|90|Code update complete|Updating configuration|new mac is 00602b000001|"
         "Downloading configuration|Configuration update complete|download done|100"},
        {F::birchamd, F::birch, &make_unit<update::birchamd_t>,
         "Reading boot bank|30|35|40|Uploading the runtime code|50|60|Upload runtime code complete, checksuming code|"
         "Uploading the configuration sector|80|Upload the configuration sector complete|100",
         "10|Updating boot code|Downloading boot|15|20|Boot update complete|30|Updating runtime code|50|60|"
         "Updating second runtime code|70|90|Code update complete|Updating configuration|new mac is 00602b000001|"
         "Downloading configuration|Configuration update complete|download done|100"},
        {F::cedar, F::cedar, &make_unit<update::cedar_t>,
         "Reading boot bank|30|Extracting configuration record|50|Compute boot checksum|55|Uploading the runtime code|"
         "60|65|70|Upload runtime code complete, checksuming code|100",
         "10|Updating boot code|Downloading boot|20|Updating runtime code|30|50|download done|100"},
        {F::dogwood, F::dogwood, &make_unit<update::dogwood_t>,
         "Reading boot bank|30|Extracting configuration record|50|Compute boot checksum|55|Uploading the runtime code|"
         "60|Upload runtime code complete, checksuming code|80|Upload second xilinx complete, checksuming xilinx|90|100",
         "10|Updating boot code|Downloading boot|Boot update complete|20|Updating runtime code|50|"
         "Downloading second xilinx|80|Invalidating old code bank f1|Code update complete|download done|100"},
    };
    for (const row& r : rows) {
        load_device(r.device, image(spec_of(r.image), "old.bin"));
        images::firmware_spec newer = spec_of(r.image);
        newer.version = {1, 3, 0, -1};
        image(newer, "new.bin");
        checksums_t version;
        ASSERT_TRUE(update::recognize(path, version));

        recording_status_t upload_status, download_status;
        std::unique_ptr<update::base_t> unit = r.make(address);
        unit->status = &upload_status;
        checksums_t found;
        ASSERT_NO_THROW(unit->upload(found)) << r.upload;
        EXPECT_EQ(upload_status.events, r.upload);
        ASSERT_NO_THROW(unit->download(path, version, &download_status, 2, 1, 2)) << download_status.events;
        EXPECT_EQ(download_status.events, r.download);
    }
}

// An image shorter than its family's fails the comparison and the download
// as a local file that cannot be read, before anything is written.
TEST_F(Families, AShortImageIsAnUnreadableFileAndNothingIsWritten)
{
    using F = images::family;
    struct row {
        F family;
        make_t make;
    };
    for (const row& r : {row{F::alder, &make_unit<update::alder_t>}, row{F::birch, &make_unit<update::birch_t>},
                         row{F::cedar, &make_unit<update::cedar_t>}, row{F::dogwood, &make_unit<update::dogwood_t>}}) {
        load_device(r.family, image(spec_of(r.family), "old.bin"));
        std::unique_ptr<update::base_t> unit = r.make(address);
        checksums_t found;
        ASSERT_NO_THROW(unit->upload(found));
        image(spec_of(r.family, [](auto& s) { s.flaws = {images::flaw::short_file}; }), "short.bin");
        const std::size_t before = peer.received().size();
        uint8_t flags[8];
        for (int call = 0; call < 2; ++call) {
            update::job_status_t status;
            try {
                if (call == 0)
                    unit->check_update(flags, found, path);
                else
                    unit->download(path, found, &status, 2, 1, 2);
                ADD_FAILURE() << images::family_name(r.family) << " call " << call;
            } catch (const qm::exception_t& e) {
                EXPECT_STREQ(e.what(), "error reading file") << images::family_name(r.family);
            }
        }
        EXPECT_EQ(peer.received().size(), before) << images::family_name(r.family);
    }
}

// The birch boot write is verified as every other family's is: a boot that
// does not check after the write fails the download.
TEST_F(Families, ABirchBootThatDoesNotCheckAfterItsWriteFails)
{
    images::firmware_t made = image(spec_of(images::family::birch));
    load_device(images::family::birch, made);
    image(spec_of(images::family::birch, [](auto& s) { s.flaws = {images::flaw::boot_checksum}; }), "bad.bin");
    checksums_t version;
    ASSERT_TRUE(update::recognize(path, version));
    update::birch_t unit(address, nullptr);
    checksums_t found;
    unit.upload(found);
    update::job_status_t status;
    try {
        unit.download(path, version, &status, 2, 0, 0);
        ADD_FAILURE() << "no failure";
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "Boot download invalid");
    }
    EXPECT_EQ(writes(), "c01 c02");
}

// A link planted at a temporary file's name is not followed: the transfer
// fails and the file the link names keeps its bytes.
TEST_F(Families, TemporaryFilesNeverWriteThroughALink)
{
    images::firmware_t made = image(spec_of(images::family::alder));
    load_device(images::family::alder, made);
    const std::filesystem::path victim = dir / "victim";
    images::write_file(victim.string(), std::vector<uint8_t>{1, 2, 3});
    const std::string temp = "temp_boot1" + address.to_string();
    std::filesystem::remove(temp);
    std::filesystem::create_symlink(victim, temp);
    update::alder_t unit(address, nullptr);
    checksums_t found;
    try {
        unit.upload(found);
        ADD_FAILURE() << "no failure";
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "Unexpected error during firmware file transfer.");
    }
    EXPECT_EQ(std::filesystem::file_size(victim), 3u);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temp)));
}

} // namespace
