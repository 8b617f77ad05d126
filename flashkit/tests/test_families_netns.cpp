// Every family end to end against the device simulator on a veth pair,
// through the automation interfaces as the console calls them: the upload
// identifies the image the device runs; a newer version is written, verified
// and run; a corrupted write and a transfer cut mid-way fail with their text
// and leave the device on its old bank; a cancel ends in state 3; releasing
// a running job waits for it; the configuration record is merged and written
// at the family's word width. Needs root.
#include "com_client.h"
#include "flashkit/tftp.h"

#include "images/images.h"
#include "netns.h"
#include "scratch_folder.h"
#include "tftp_times.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace std::chrono_literals;
using vx::test::as;
using vx::test::netns_pair;
using vx::test::status_of;
using vx::test::take;
using vx::test::wait_done;
namespace images = devsim::images;

struct family_case {
    int device; // the simulated device of the update cases; + 6 for the configuration case
    const char* name;
    images::family fam;      // the device's family
    images::family image;    // the family of its images (alderamd runs alder images, birchamd birch ones)
    long type;               // Iunit::type
    const char* config_file; // where the device keeps its configuration record
    size_t config_at;
    int width;
};

const family_case cases[] = {
    {0, "alder", images::family::alder, images::family::alder, 2, "m03", 0, 3},
    {1, "alderamd", images::family::alderamd, images::family::alder, 3, "a03", 0, 3},
    {2, "birch", images::family::birch, images::family::birch, 4, "c03", 0, 4},
    {3, "birchamd", images::family::birchamd, images::family::birch, 5, "s03", 0, 4},
    {4, "cedar", images::family::cedar, images::family::cedar, 0, "r2", 0x3C00, 3},
    {5, "dogwood", images::family::dogwood, images::family::dogwood, 1, "f8", 0xFC00, 3},
};
constexpr int family_count = 6;
// Devices behind the update and configuration cases: a cedar and a dogwood
// whose boot writes are cut.
constexpr int cut_cedar = 2 * family_count, cut_dogwood = cut_cedar + 1;

const images::version_t old_version{1, 2, 3, -1}, new_version{1, 3, 0, -1}, config_version{1, 4, 0, -1};

// The three images of a family: equal seeds give equal boots, so only the
// code (its version stamp) differs, and the third carries other settings.
images::firmware_t make_image(images::family family, const images::version_t& version, bool other_settings)
{
    images::firmware_spec spec;
    spec.fam = family;
    spec.version = version;
    spec.seed = 0x5EED0000u + static_cast<uint32_t>(family);
    spec.large_code = family == images::family::dogwood; // a device running large code asks for no boot write
    if (other_settings) {
        spec.config.vcxo = 0x7A5;
        spec.config.channels = 4;
        spec.config.ssi = 2;
    }
    return images::make_firmware(spec);
}

void PrintTo(const family_case& c, std::ostream* out) { *out << c.name; }

std::string display_name(const family_case& c, const images::version_t& v)
{
    return std::string(images::family_name(c.image)) + " version " + images::version_text(v);
}

class FamiliesNetns : public ::testing::TestWithParam<family_case> {
protected:
    static void SetUpTestSuite()
    {
        if (!vx::test::running_as_root())
            return;
        dir = std::filesystem::temp_directory_path() / ("vx-families-netns-" + std::to_string(::getpid()));
        folder = dir / "firmware";
        std::filesystem::create_directories(folder);
        ASSERT_NO_FATAL_FAILURE(vx::test::register_flashkit(dir / "home"));
        std::vector<std::string> argv{vx::test::devsim_path(),
                                      "-i",
                                      "vxd0",
                                      "--period",
                                      "60000",
                                      "--ip-base",
                                      "192.168.77.10",
                                      "--control",
                                      (dir / "control").string(),
                                      "-n",
                                      std::to_string(2 * family_count + 2),
                                      "--families",
                                      "alder,alderamd,birch,birchamd,cedar,dogwood",
                                      "--family",
                                      std::to_string(cut_cedar) + "=cedar",
                                      "--family",
                                      std::to_string(cut_dogwood) + "=dogwood"};
        for (int k = 0; k < family_count; ++k) {
            const family_case& c = cases[k];
            for (const auto& [version, other] :
                 {std::pair{old_version, false}, std::pair{new_version, false}, std::pair{config_version, true}}) {
                auto path = folder / images::file_name(c.image, version);
                images::write_file(path.string(), make_image(c.image, version, other).bytes);
            }
            // Device k runs the update cases, device k + 6 the configuration case.
            for (int device : {k, k + family_count}) {
                argv.push_back("--firmware");
                argv.push_back(std::to_string(device) + "=" +
                               (folder / images::file_name(c.image, old_version)).string());
            }
        }
        for (const auto& [device, family] :
             {std::pair{cut_cedar, images::family::cedar}, std::pair{cut_dogwood, images::family::dogwood}}) {
            argv.push_back("--firmware");
            argv.push_back(std::to_string(device) + "=" + (folder / images::file_name(family, old_version)).string());
        }
        pair = new netns_pair("vxh0", "vxd0");
        ASSERT_TRUE(pair->ok()) << pair->error();
        ASSERT_TRUE(pair->add_address(netns_pair::a, "192.168.77.1/24"));
        devsim = pair->spawn(netns_pair::b, argv).release();
        ASSERT_TRUE(devsim->wait_for_line("started vxd0", 30s));
    }
    static void TearDownTestSuite()
    {
        delete devsim;
        devsim = nullptr;
        delete pair;
        pair = nullptr;
        if (!dir.empty())
            std::filesystem::remove_all(dir);
        vx::test::remove_config_copies();
    }

    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for network namespaces";
        ASSERT_TRUE(pair && devsim);
    }

    // Runs the test body on a thread inside the client's namespace, in a
    // single-threaded apartment as the console's GUI thread is. The test's
    // own reads of the device wait patiently.
    void client(const std::function<void()>& body)
    {
        tftp& own = tftp::settings();
        own.set_timeout(vx::test::tftp_patient_ms);
        own.set_retries(2);
        pair->in_namespace(netns_pair::a, [&] {
            CoInitialize(nullptr);
            body();
            CoUninitialize();
        });
    }

    static std::string address(int device) { return "192.168.77." + std::to_string(10 + device); }

    std::string control(const std::string& command)
    {
        return vx::test::command_output(vx::test::devsim_path() + " control " + (dir / "control").string() + " " +
                                        command);
    }

    CComPtr<Iupdater> updater()
    {
        CComPtr<Iupdater> u = vx::test::create_updater();
        patient(u);
        EXPECT_EQ(u->put_holdoff(10), S_OK);
        EXPECT_EQ(u->init(_bstr_t(folder.c_str())), S_OK);
        return u;
    }
    // The server's TFTP waits: patient where every transfer must succeed;
    // brief where the device is silent on purpose, with `retries` many when
    // the job must still succeed once the silence is cleared.
    static void patient(Iupdater* u)
    {
        EXPECT_EQ(u->put_timeout(vx::test::tftp_patient_ms), S_OK);
        EXPECT_EQ(u->put_write_timeout(vx::test::tftp_patient_ms), S_OK);
        EXPECT_EQ(u->put_retries(2), S_OK);
    }
    static void brief(Iupdater* u, long retries)
    {
        EXPECT_EQ(u->put_timeout(vx::test::tftp_brief_ms), S_OK);
        EXPECT_EQ(u->put_write_timeout(vx::test::tftp_brief_ms), S_OK);
        EXPECT_EQ(u->put_retries(retries), S_OK);
    }

    // An upload of the device that succeeds; its unit.
    CComPtr<Iunit> upload(Iupdater* u, int device)
    {
        CComPtr<IDispatch> job;
        EXPECT_EQ(u->upload(_bstr_t(address(device).c_str()), &job), S_OK);
        CComPtr<Ijob> j = as<Ijob>(job);
        if (!j)
            return nullptr;
        long done = wait_done(j);
        EXPECT_EQ(done, 1) << status_of(j);
        CComPtr<IDispatch> unit;
        EXPECT_EQ(j->result(&unit), S_OK);
        EXPECT_TRUE(no_temporary_files(device));
        return as<Iunit>(unit);
    }

    static std::string name_of(IDispatch* version)
    {
        BSTR name = nullptr;
        if (!version || as<Iversion>(version)->get_name(&name) != S_OK)
            return "(no version)";
        return take(name);
    }
    std::string running(Iunit* unit)
    {
        if (!unit)
            return "(no unit)";
        CComPtr<IDispatch> ver;
        EXPECT_EQ(unit->get_ver(&ver), S_OK);
        return name_of(ver);
    }
    // The folder's version of that name.
    CComPtr<IDispatch> version(Iupdater* u, const std::string& name)
    {
        CComPtr<IDispatch> all;
        EXPECT_EQ(u->find_all(&all), S_OK);
        long length = 0;
        as<Icom_vector>(all)->get_length(&length);
        for (long i = 0; i < length; ++i) {
            CComPtr<IDispatch> item;
            as<Icom_vector>(all)->at(i, &item);
            if (name_of(item) == name)
                return item;
        }
        ADD_FAILURE() << "no version " << name;
        return nullptr;
    }

    // A download job of the version with the given ranges, started.
    CComPtr<Ijob> start_download(Iunit* unit, IDispatch* ver, long boot = 0, long runtime = 0, long config = 1)
    {
        CComPtr<IDispatch> job;
        EXPECT_EQ(unit->download3(ver, boot, runtime, config, &job), S_OK);
        return as<Ijob>(job);
    }

    // The working directory holds no temporary file of the device.
    static bool no_temporary_files(int device)
    {
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::current_path())) {
            const std::string name = entry.path().filename().string();
            if (name.size() > address(device).size() &&
                name.compare(name.size() - address(device).size(), std::string::npos, address(device)) == 0) {
                ADD_FAILURE() << "left behind: " << name;
                return false;
            }
        }
        return true;
    }

    // The configuration record as the device keeps it.
    images::config_t device_record(int device, const char* file, size_t at, int width)
    {
        const std::string local = "config" + address(device);
        qm::ip_address_t ip;
        EXPECT_TRUE(ip.parse(address(device)));
        EXPECT_NO_THROW(tftp::settings().get(ip, file, local));
        const std::vector<uint8_t> bytes = vx::test::scratch_folder::read(local);
        std::filesystem::remove(local);
        if (bytes.size() < at + 32) {
            ADD_FAILURE() << file << " of device " << device << " holds " << bytes.size() << " bytes";
            return {};
        }
        return images::read_config(bytes, at, width);
    }

    static inline std::filesystem::path dir, folder;
    static inline netns_pair* pair = nullptr;
    static inline vx::test::background_process* devsim = nullptr;
};

TEST_P(FamiliesNetns, UpdatesVerifiesAndNeverLeavesTheOldBankOnAFailedWrite)
{
    const family_case& c = GetParam();
    const int device = c.device;
    const std::string k = std::to_string(device);
    const std::string old_name = display_name(c, old_version), new_name = display_name(c, new_version);
    client([&] {
        CComPtr<Iupdater> u = updater();
        CComPtr<Iunit> unit = upload(u, device);
        ASSERT_TRUE(unit);
        EXPECT_EQ(running(unit), old_name);
        long type = -2;
        unit->get_type(&type);
        EXPECT_EQ(type, c.type);
        BSTR custom = nullptr;
        unit->get_custom(&custom);
        EXPECT_EQ(take(custom), "");
        CComPtr<IDispatch> current, preferred;
        unit->get_ver(&current);
        ASSERT_EQ(u->find_prefered(current, &preferred), S_OK);
        EXPECT_EQ(name_of(preferred), display_name(c, config_version));
        CComPtr<IDispatch> newer = version(u, new_name);
        CComPtr<IDispatch> older = version(u, old_name);

        // An upload's unit exists only once the upload has ended. The
        // device is silent until the question was asked, so the upload runs
        // however slow the machine; cleared, it answers the next resend.
        {
            brief(u, vx::test::tftp_brief_retries);
            ASSERT_EQ(control("fault " + k + " tftp-silent").rfind("ok", 0), 0u);
            CComPtr<IDispatch> job_dispatch;
            ASSERT_EQ(u->upload(_bstr_t(address(device).c_str()), &job_dispatch), S_OK);
            CComPtr<Ijob> job = as<Ijob>(job_dispatch);
            CComPtr<IDispatch> early;
            EXPECT_EQ(job->result(&early), DISP_E_EXCEPTION);
            EXPECT_EQ(vx::test::error_text(), "Haven't finished the operation, no result.");
            EXPECT_FALSE(early);
            ASSERT_EQ(control("clear " + k).rfind("ok", 0), 0u);
            EXPECT_EQ(wait_done(job), 1) << status_of(job);
            patient(u);
            EXPECT_EQ(job->result(&early), S_OK);
            EXPECT_EQ(running(as<Iunit>(early)), old_name);
        }

        // What the console's version dialog asks before writing.
        CComPtr<IDispatch> check_dispatch;
        ASSERT_EQ(unit->check_update(newer, &check_dispatch), S_OK);
        CComPtr<Iupdate_check> check = as<Iupdate_check>(check_dispatch);
        long code_update = 0, boot_update = 1;
        check->get_code_update(&code_update);
        check->get_boot_update(&boot_update);
        EXPECT_EQ(code_update, 1);
        EXPECT_EQ(boot_update, 0);

        // A write stored wrong and a device that goes silent mid-transfer:
        // both fail with their text, and the device still runs its old bank.
        // Only the silent device's waits are brief: whichever packet a loaded
        // machine times out first, the job fails the same way.
        struct failure {
            const char* fault;
            const char* text;
            bool silent;
        };
        for (const failure& f :
             {failure{"tftp-corrupt-write", "Code download invalid", false},
              failure{"tftp-stop-after=20", "Unexpected error during firmware file transfer.", true}}) {
            ASSERT_EQ(control("fault " + k + " " + f.fault).rfind("ok", 0), 0u);
            if (f.silent)
                brief(u, 1);
            CComPtr<Ijob> job = start_download(unit, newer);
            ASSERT_TRUE(job);
            EXPECT_EQ(wait_done(job), 2) << f.fault;
            EXPECT_EQ(status_of(job), f.text);
            patient(u);
            ASSERT_EQ(control("clear " + k).rfind("ok", 0), 0u);
            EXPECT_TRUE(no_temporary_files(device));
            CComPtr<Iunit> again = upload(u, device);
            ASSERT_TRUE(again);
            EXPECT_EQ(running(again), old_name) << f.fault;
        }

        // The newer version: written, verified and run.
        {
            CComPtr<Iunit> fresh = upload(u, device);
            ASSERT_TRUE(fresh);
            CComPtr<Ijob> job = start_download(fresh, newer);
            ASSERT_TRUE(job);
            EXPECT_EQ(wait_done(job), 1) << status_of(job);
            double percent = 0;
            job->get_percent(&percent);
            EXPECT_EQ(percent, 100.0);
            EXPECT_TRUE(devsim->wait_for_line("firmware " + k + " bank", 30s));
            EXPECT_TRUE(no_temporary_files(device));
            EXPECT_EQ(running(upload(u, device)), new_name);
        }

        // A cancel asked while the job runs (a silent device holds it until
        // cleared) ends in state 3; the write itself completes.
        {
            CComPtr<Iunit> fresh = upload(u, device);
            ASSERT_TRUE(fresh);
            brief(u, vx::test::tftp_brief_retries);
            ASSERT_EQ(control("fault " + k + " tftp-silent").rfind("ok", 0), 0u);
            CComPtr<Ijob> job = start_download(fresh, older, 0, 1);
            ASSERT_TRUE(job);
            EXPECT_EQ(job->cancel(), S_OK);
            long done = -1;
            job->get_done(&done);
            EXPECT_EQ(done, 0);
            ASSERT_EQ(control("clear " + k).rfind("ok", 0), 0u);
            EXPECT_EQ(wait_done(job), 3) << status_of(job);
            patient(u);
            EXPECT_EQ(running(upload(u, device)), old_name);
        }

        // Releasing the last reference to a running job returns only once
        // its operation has ended (a silent device holds it until cleared).
        {
            CComPtr<Iunit> fresh = upload(u, device);
            ASSERT_TRUE(fresh);
            brief(u, vx::test::tftp_brief_retries);
            ASSERT_EQ(control("fault " + k + " tftp-silent").rfind("ok", 0), 0u);
            CComPtr<Ijob> job = start_download(fresh, newer);
            ASSERT_TRUE(job);
            long done = -1;
            job->get_done(&done);
            EXPECT_EQ(done, 0);
            CComPtr<IDispatch> nothing;
            EXPECT_EQ(job->result(&nothing), S_OK);
            EXPECT_FALSE(nothing);
            ASSERT_EQ(control("clear " + k).rfind("ok", 0), 0u);
            job.Release();
            patient(u);
            EXPECT_TRUE(no_temporary_files(device));
            EXPECT_EQ(running(upload(u, device)), new_name);
        }
    });
}

TEST_P(FamiliesNetns, MergesTheConfigurationRecordAtTheFamilysWidth)
{
    const family_case& c = GetParam();
    const int device = c.device + family_count;
    client([&] {
        CComPtr<Iupdater> u = updater();
        CComPtr<Iunit> unit = upload(u, device);
        ASSERT_TRUE(unit);
        BSTR mac = nullptr;
        unit->get_mac(&mac);
        const std::string device_mac = take(mac);
        EXPECT_EQ(device_mac.size(), 12u);

        // Exactly twelve hexadecimal digits, or the MAC is left alone.
        for (const char* bad : {"02a0b0c0d0e", "02a0b0c0d0e0f", "02a0b0c0d0eg", "02:a0:b0:c0"}) {
            EXPECT_EQ(unit->put_mac(_bstr_t(bad)), DISP_E_EXCEPTION) << bad;
            EXPECT_EQ(vx::test::error_text(), "Unit::mac : invalid MAC address");
        }
        unit->get_mac(&mac);
        EXPECT_EQ(take(mac), device_mac);

        // MAC, VCXO centre and SSI format set; the allowed channels come from the image.
        ASSERT_EQ(unit->put_mac(_bstr_t("02A0B0C0D0E0")), S_OK);
        ASSERT_EQ(unit->put_VCXO_center(0x1234), S_OK);
        ASSERT_EQ(unit->put_ssi_format(3), S_OK);
        CComPtr<IDispatch> target = version(u, display_name(c, config_version));
        CComPtr<Ijob> job = start_download(unit, target, 0, 0, 2);
        ASSERT_TRUE(job);
        ASSERT_EQ(wait_done(job), 1) << status_of(job);
        long channels = 0;
        unit->get_allowed_channels(&channels);
        EXPECT_EQ(channels, 4);

        // The record as the device now keeps it.
        const std::string local = "config" + address(device);
        qm::ip_address_t ip;
        ASSERT_TRUE(ip.parse(address(device)));
        ASSERT_NO_THROW(tftp::settings().get(ip, c.config_file, local));
        const std::vector<uint8_t> bytes = vx::test::scratch_folder::read(local);
        std::filesystem::remove(local);
        ASSERT_GT(bytes.size(), c.config_at + 32);
        images::config_t record = images::read_config(bytes, c.config_at, c.width);
        EXPECT_EQ(record.mac, (std::array<uint8_t, 6>{0x02, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0}));
        EXPECT_EQ(record.vcxo, 0x1234u);
        EXPECT_EQ(record.channels, 4u);
        EXPECT_EQ(record.ssi, 3u);
        EXPECT_EQ(record.leading, images::config_t{}.leading);
    });
}

// A boot write cut mid-transfer (the connection lost and the client gone, as
// a power cut would leave it) erases the configuration record that cedar and
// dogwood keep inside their boot. The next upload takes the record from the
// copy kept by the upload before; without a copy the download writes nothing.
// Updated again, the device keeps its MAC and VCXO centre.
TEST_F(FamiliesNetns, ACutBootWriteNeverCostsTheDeviceItsConfiguration)
{
    struct row {
        int device;
        images::family family;
        const char* file; // the boot file holding the record
        size_t at;
        int drop; // the packet the device sends that is lost: the ACK of block 20 of that file's write
        const char* mac;
    };
    const row rows[] = {
        // cedar writes "r1" (33 ACKs), reads it back (33 DATA), then "r2".
        {cut_cedar, images::family::cedar, "r2", 0x3C00, 33 + 33 + 21, "02c0ffee000c"},
        {cut_dogwood, images::family::dogwood, "f8", 0xFC00, 21, "02c0ffee000d"},
    };
    client([&] {
        vx::test::remove_config_copies();
        CComPtr<Iupdater> u = updater();
        for (const row& r : rows) {
            const std::string k = std::to_string(r.device);
            const std::string family = images::family_name(r.family);
            CComPtr<IDispatch> older = version(u, family + " version " + images::version_text(old_version));
            CComPtr<IDispatch> newer = version(u, family + " version " + images::version_text(new_version));

            // Settings of the device's own, unlike the image's.
            CComPtr<Iunit> unit = upload(u, r.device);
            ASSERT_TRUE(unit);
            ASSERT_EQ(unit->put_mac(_bstr_t(r.mac)), S_OK);
            ASSERT_EQ(unit->put_VCXO_center(0x1357), S_OK);
            CComPtr<Ijob> job = start_download(unit, older, 2, 0, 2);
            ASSERT_TRUE(job);
            ASSERT_EQ(wait_done(job), 1) << status_of(job);

            // The boot write cut: one packet lost and no resend.
            unit = upload(u, r.device);
            ASSERT_TRUE(unit);
            // No resend, and patient waits: only the lost packet cuts it.
            ASSERT_EQ(control("fault " + k + " tftp-drop=" + std::to_string(r.drop)).rfind("ok", 0), 0u);
            EXPECT_EQ(u->put_retries(0), S_OK);
            job = start_download(unit, newer, 2, 0, 0);
            ASSERT_TRUE(job);
            EXPECT_EQ(wait_done(job), 2) << family;
            EXPECT_EQ(status_of(job), "Unexpected error during firmware file transfer.");
            ASSERT_EQ(control("clear " + k).rfind("ok", 0), 0u);
            u = updater();
            EXPECT_EQ(device_record(r.device, r.file, r.at, 3).mac,
                      (std::array<uint8_t, 6>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}))
                << family << ": the cut left the record";

            // No copy: the download stops before its first write.
            vx::test::set_config_copies_aside(".aside");
            CComPtr<Iunit> erased = upload(u, r.device);
            ASSERT_TRUE(erased);
            BSTR mac = nullptr;
            erased->get_mac(&mac);
            EXPECT_EQ(take(mac), "ffffffffffff");
            const size_t before = devsim->line_count();
            job = start_download(erased, newer, 2, 0, 0);
            ASSERT_TRUE(job);
            EXPECT_EQ(wait_done(job), 2) << family;
            EXPECT_EQ(status_of(job),
                      "The device's configuration record is erased and no copy of it was kept: nothing was written.");
            const std::vector<std::string> lines = devsim->lines();
            for (size_t i = before; i < lines.size(); ++i)
                EXPECT_NE(lines[i].rfind("tftp " + k + " wrq", 0), 0u) << lines[i];
            vx::test::restore_config_copies(".aside");

            // With the copy: the record of before, written back with the boot.
            CComPtr<Iunit> restored = upload(u, r.device);
            ASSERT_TRUE(restored);
            restored->get_mac(&mac);
            EXPECT_EQ(take(mac), r.mac) << family;
            job = start_download(restored, newer, 2, 0, 0);
            ASSERT_TRUE(job);
            EXPECT_EQ(wait_done(job), 1) << status_of(job);
            images::config_t record = device_record(r.device, r.file, r.at, 3);
            CComPtr<Iunit> again = upload(u, r.device);
            ASSERT_TRUE(again);
            again->get_mac(&mac);
            EXPECT_EQ(take(mac), r.mac) << family;
            EXPECT_EQ(record.vcxo, 0x1357u) << family;
            EXPECT_EQ(running(again), family + " version " + images::version_text(new_version));
        }
    });
}

// A version of another updater's folder is written from that folder; a second
// download on a unit whose first one still runs is refused.
TEST_F(FamiliesNetns, AVersionNamesItsOwnImageAndABusyUnitTakesNoSecondJob)
{
    const images::version_t elsewhere{1, 5, 0, -1};
    const std::filesystem::path other = dir / "other";
    std::filesystem::create_directories(other);
    images::write_file((other / images::file_name(images::family::dogwood, elsewhere)).string(),
                       make_image(images::family::dogwood, elsewhere, false).bytes);
    const std::string name = "dogwood version " + images::version_text(elsewhere);
    client([&] {
        CComPtr<Iupdater> u = updater();
        CComPtr<Iupdater> second = updater();
        ASSERT_EQ(second->init(_bstr_t(other.c_str())), S_OK);
        CComPtr<IDispatch> foreign = version(second, name);
        ASSERT_TRUE(foreign);
        CComPtr<Iunit> unit = upload(u, cut_dogwood);
        ASSERT_TRUE(unit);
        CComPtr<IDispatch> check;
        EXPECT_EQ(unit->check_update(foreign, &check), S_OK) << vx::test::error_text();
        CComPtr<Ijob> job = start_download(unit, foreign, 0, 1, 0);
        ASSERT_TRUE(job);
        EXPECT_EQ(wait_done(job), 1) << status_of(job);
        EXPECT_EQ(running(upload(second, cut_dogwood)), name);

        // A silent device holds the first job in its time-outs.
        unit = upload(u, cut_dogwood);
        ASSERT_TRUE(unit);
        // Patient waits without a resend: the job holds however slow the
        // machine, and fails once.
        ASSERT_EQ(control("fault " + std::to_string(cut_dogwood) + " tftp-silent").rfind("ok", 0), 0u);
        EXPECT_EQ(u->put_retries(0), S_OK);
        job = start_download(unit, foreign, 0, 1, 0);
        ASSERT_TRUE(job);
        CComPtr<IDispatch> refused;
        EXPECT_EQ(unit->download3(foreign, 0, 1, 0, &refused), DISP_E_EXCEPTION);
        EXPECT_EQ(vx::test::error_text(), "Unit::update : the unit is busy with another job");
        EXPECT_FALSE(refused);
        EXPECT_EQ(wait_done(job), 2);
        ASSERT_EQ(control("clear " + std::to_string(cut_dogwood)).rfind("ok", 0), 0u);
    });
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, FamiliesNetns, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<family_case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
