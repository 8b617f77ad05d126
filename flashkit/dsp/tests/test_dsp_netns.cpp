// The DSP operations end to end against the device simulator on a veth pair,
// through the deployer as a client calls it: deploy to "c12" or, on devices
// without it, "s20"; download behind the device's own monitor code into the
// other bank of the single-file and the split form; argument save with the
// processor checks and the control table found by get-next. The device runs
// what was written (the simulator announces it); every failure ends the job
// with its text, leaves the bank that was read as it was, and leaves no
// temporary file. Needs root.
#include "com_client.h"
#include "flashkit/checksum.h"
#include "flashkit/tftp.h"
#include "flashkit/uld.h"

#include "images/images.h"
#include "images/uld.h"
#include "netns.h"
#include "scratch_folder.h"
#include "tftp_times.h"

#include <gtest/gtest.h>

#include <snmp_pp/snmp_pp.h>

#include <filesystem>
#include <functional>

namespace {

using namespace std::chrono_literals;
using vx::test::as;
using vx::test::bytes_t;
using vx::test::netns_pair;
using vx::test::scratch_folder;
using vx::test::status_of;
using vx::test::wait_done;
namespace images = devsim::images;

const std::string D = "1.3.6.1.4.1.2680.1.4";
constexpr std::size_t split_size = 65536;
// The test's own SNMP requests, in hundredths of a second: patient, they
// must succeed.
constexpr unsigned long snmp_patient_cs = 1000;

// The simulated devices: each scenario has its own.
enum device_t : int {
    birch_deploy,
    birchamd_deploy,
    birch_download,
    birchamd_download,
    birch_args,
    alder_args,
    birchamd_args,
    device_count
};
const char* const families = "birch,birchamd,birch,birchamd,birch,alder,birchamd";

std::string address(int device) { return "192.168.77." + std::to_string(10 + device); }

// A DSP program image as a file to send.
images::dsp_t program(const images::version_t& version, bool monitor, std::size_t size = 0,
                      uint32_t flash_word = 0x2A5C3, uint32_t args_base = 0x110)
{
    images::dsp_spec spec;
    spec.version = version;
    spec.monitor = monitor;
    spec.size = size;
    spec.flash_word = flash_word;
    spec.args_base = args_base;
    spec.check_address = args_base + 0x10;
    return images::make_dsp(spec);
}

// Bytes up to and including the first block's checksum word: the monitor code.
std::size_t monitor_size(const bytes_t& image)
{
    auto words = images::to_words(image);
    auto sections = images::uld_sections(words);
    std::size_t end = 0;
    for (const auto& s : sections)
        if (s.block == 0)
            end = s.data + s.length;
    return 4 * (end + 2);
}

bool starts_with(const bytes_t& bytes, const bytes_t& prefix)
{
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

class DspNetns : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!vx::test::running_as_root())
            return;
        folder = new scratch_folder("dsp-netns");
        ASSERT_NO_FATAL_FAILURE(vx::test::register_flashkit(folder->path / "home"));
        pair = new netns_pair("vxh0", "vxd0");
        ASSERT_TRUE(pair->ok()) << pair->error();
        ASSERT_TRUE(pair->add_address(netns_pair::a, "192.168.77.1/24"));
        devsim = pair->spawn(netns_pair::b,
                             {vx::test::devsim_path(), "-i", "vxd0", "--period", "60000", "--ip-base", "192.168.77.10",
                              "--control", control_path(), "-n", std::to_string(device_count), "--families", families})
                     .release();
        ASSERT_TRUE(devsim->wait_for_line("started vxd0", 30s));
    }
    static void TearDownTestSuite()
    {
        delete devsim;
        devsim = nullptr;
        delete pair;
        pair = nullptr;
        delete folder;
        folder = nullptr;
    }
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for network namespaces";
        ASSERT_TRUE(pair && devsim);
    }

    static std::string control_path() { return (folder->path / "control").string(); }
    static std::string control(const std::string& command)
    {
        return vx::test::command_output(vx::test::devsim_path() + " control " + control_path() + " " + command);
    }

    // The body on a thread inside the client's namespace, in a single-threaded
    // apartment as the console's GUI thread is; the TFTP settings are patient
    // both for the server's jobs and for the test's own reads.
    void client(const std::function<void()>& body)
    {
        pair->in_namespace(netns_pair::a, [&] {
            CoInitialize(nullptr);
            {
                server_tftp(vx::test::tftp_patient_ms, 2);
                tftp& own = tftp::settings();
                own.set_timeout(vx::test::tftp_patient_ms);
                own.set_write_timeout(vx::test::tftp_patient_ms);
                own.set_retries(2);
                own.set_holdoff(10);
                deployer = vx::test::create_deployer();
                ASSERT_TRUE(deployer);
                body();
                deployer.Release();
            }
            CoUninitialize();
        });
    }

    // The TFTP settings of the server's jobs (the server keeps its own).
    static void server_tftp(int32_t timeout_ms, int32_t retries)
    {
        CComPtr<Iupdater> settings = vx::test::create_updater();
        ASSERT_TRUE(settings);
        settings->put_timeout(timeout_ms);
        settings->put_write_timeout(timeout_ms);
        settings->put_retries(retries);
        settings->put_holdoff(10);
    }

    struct outcome_t {
        long done = 0;
        std::string status;
        double percent = 0;
    };
    // Waits for the job as the console's progress dialog does.
    static outcome_t finish(IDispatch* dispatch)
    {
        outcome_t out;
        CComPtr<Ijob> job = as<Ijob>(dispatch);
        if (!job) {
            ADD_FAILURE() << "no job";
            return out;
        }
        out.done = wait_done(job);
        out.status = status_of(job);
        job->get_percent(&out.percent);
        return out;
    }
    outcome_t deploy(int device, const bytes_t& file)
    {
        const std::string path = folder->file("deploy.uld", file);
        CComPtr<IDispatch> job;
        EXPECT_EQ(deployer->deploy(_bstr_t(address(device).c_str()), _bstr_t(path.c_str()), &job), S_OK);
        return finish(job);
    }
    outcome_t download(int device, const bytes_t& file)
    {
        const std::string path = folder->file("download.uld", file);
        CComPtr<IDispatch> job;
        EXPECT_EQ(deployer->download(_bstr_t(address(device).c_str()), _bstr_t(path.c_str()), &job), S_OK);
        return finish(job);
    }
    outcome_t save_args(int device)
    {
        CComPtr<IDispatch> job;
        EXPECT_EQ(deployer->save_dsp_args(_bstr_t(address(device).c_str()), &job), S_OK);
        return finish(job);
    }

    // A bank file of the device, read with the test's own client.
    static bytes_t get(int device, const std::string& name)
    {
        qm::ip_address_t ip;
        ip.parse(address(device));
        const std::string local = (folder->path / ("got-" + name)).string();
        tftp::settings().get(ip, name, local);
        return scratch_folder::read(local);
    }
    static void put(int device, const std::string& name, const bytes_t& bytes)
    {
        qm::ip_address_t ip;
        ip.parse(address(device));
        tftp::settings().put(ip, folder->file("put-" + name, bytes), name);
    }
    // Whether the bytes hold a valid image, by the server's own checksum.
    static bool valid(const bytes_t& bytes)
    {
        uld_checksum_t sum(0, 0);
        sum.feed(folder->file("check.uld", bytes));
        return sum.check();
    }

    // One SNMP request of the test's own to the device; its status.
    static int snmp(int device, int (Snmp::*request)(Pdu&, const SnmpTarget&), Pdu& pdu)
    {
        int status = 0;
        Snmp session(status);
        CTarget target(GenAddress(address(device).c_str()), "tagrok", "quenmil");
        target.set_timeout(snmp_patient_cs);
        target.set_retry(2);
        return (session.*request)(pdu, target);
    }
    static int snmp_set(int device, const std::string& oid, long value)
    {
        Pdu pdu;
        Vb vb{Oid(oid.c_str())};
        vb.set_value(SnmpInt32(value));
        pdu += vb;
        return snmp(device, &Snmp::set, pdu);
    }
    // The control table entry of the device (its count variable's name without ".1.0").
    static std::string entry(int device)
    {
        Pdu pdu;
        pdu += Vb(Oid((D + ".2").c_str()));
        EXPECT_EQ(snmp(device, &Snmp::get_next, pdu), SNMP_CLASS_SUCCESS);
        Vb vb;
        pdu.get_vb(vb, 0);
        const std::string name = vb.get_printable_oid();
        return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
    }

    // The simulator announces what the device runs after a write.
    static bool announced(const std::string& line) { return devsim->wait_for_line(line, 30s).has_value(); }

    static bool no_temporary_files()
    {
        for (const auto& e : std::filesystem::directory_iterator(std::filesystem::current_path()))
            if (e.path().filename().string().rfind("temp", 0) == 0) {
                ADD_FAILURE() << "left behind: " << e.path();
                return false;
            }
        return true;
    }

    static inline scratch_folder* folder = nullptr;
    static inline netns_pair* pair = nullptr;
    static inline vx::test::background_process* devsim = nullptr;
    CComPtr<Ideployer> deployer;
};

TEST_F(DspNetns, DeployGoesToC12AndFallsBackToS20)
{
    client([&] {
        const bytes_t image = program({7, 0, 0, -1}, true, 0, 0x1234).bytes;
        outcome_t out = deploy(birch_deploy, image);
        EXPECT_EQ(out.done, 1) << out.status;
        EXPECT_EQ(out.status, "DSP deployment is done");
        EXPECT_EQ(out.percent, 100.0);
        EXPECT_TRUE(starts_with(get(birch_deploy, "c12"), image));
        EXPECT_TRUE(announced("dsp " + std::to_string(birch_deploy) + " 7.0.0 flash-word 0x1234"));

        // birchamd has no "c12": the file goes to "s20".
        out = deploy(birchamd_deploy, image);
        EXPECT_EQ(out.done, 1) << out.status;
        EXPECT_TRUE(starts_with(get(birchamd_deploy, "s20"), image));
        EXPECT_TRUE(announced("dsp " + std::to_string(birchamd_deploy) + " 7.0.0 flash-word 0x1234"));

        // A broken image never leaves the server.
        images::dsp_spec broken;
        broken.flaws = {images::dsp_flaw::bad_checksum};
        const bytes_t before = get(birch_deploy, "c12");
        out = deploy(birch_deploy, images::make_dsp(broken).bytes);
        EXPECT_EQ(out.done, 2);
        EXPECT_EQ(out.status, "Invalid DSP code to deploy");
        EXPECT_EQ(get(birch_deploy, "c12"), before);

        // A device that refuses both names: the second refusal is the job's text.
        EXPECT_EQ(control("fault " + std::to_string(birch_deploy) + " tftp-refuse-write").rfind("ok", 0), 0u);
        out = deploy(birch_deploy, image);
        EXPECT_EQ(out.done, 2);
        EXPECT_EQ(out.status.rfind("TFTP Error: \"", 0), 0u) << out.status;
        EXPECT_EQ(control("clear " + std::to_string(birch_deploy)).rfind("ok", 0), 0u);
        EXPECT_TRUE(no_temporary_files());
    });
}

TEST_F(DspNetns, DownloadWritesTheOtherSingleFileBankBehindTheDevicesMonitor)
{
    const int d = birch_download;
    client([&] {
        const bytes_t c10 = get(d, "c10");
        ASSERT_TRUE(valid(c10));
        const bytes_t monitor(c10.begin(), c10.begin() + static_cast<long>(monitor_size(c10)));
        const bytes_t fresh = program({8, 1, 0, -1}, false).bytes;

        outcome_t out = download(d, fresh);
        EXPECT_EQ(out.done, 1) << out.status;
        EXPECT_EQ(out.status, "DSP download is done");
        EXPECT_EQ(out.percent, 100.0);
        bytes_t combined = monitor;
        combined.insert(combined.end(), fresh.begin(), fresh.end());
        const bytes_t c11 = get(d, "c11");
        EXPECT_TRUE(starts_with(c11, combined));
        EXPECT_TRUE(valid(c11));
        EXPECT_EQ(get(d, "c10"), c10);
        // The device runs the new program with its own monitor (same flash word).
        EXPECT_TRUE(announced("dsp " + std::to_string(d) + " 8.1.0 flash-word"));

        // A write the device stores wrongly is found by the read-back; the
        // bank that was read stays as it was.
        EXPECT_EQ(control("fault " + std::to_string(d) + " tftp-corrupt-write").rfind("ok", 0), 0u);
        out = download(d, program({8, 2, 0, -1}, false).bytes);
        EXPECT_EQ(out.done, 2);
        EXPECT_EQ(out.status, "invalid download");
        control("clear " + std::to_string(d));
        EXPECT_EQ(get(d, "c10"), c10);

        // A link planted at a working file's name is not written through.
        const std::string victim = folder->file("victim", bytes_t(16, 0x5A));
        std::filesystem::create_symlink(victim, "temp2" + address(d));
        out = download(d, fresh);
        EXPECT_EQ(out.status, "file not open");
        EXPECT_EQ(scratch_folder::read(victim), bytes_t(16, 0x5A));

        // A file that is no valid image never reaches the device.
        images::dsp_spec broken;
        broken.monitor = false;
        broken.flaws = {images::dsp_flaw::bad_length};
        out = download(d, images::make_dsp(broken).bytes);
        EXPECT_EQ(out.status, "Invalid DSP code to download");

        // No valid bank at all: "c10" invalidated by an empty write, "c11" broken.
        put(d, "c10", {});
        out = download(d, fresh);
        EXPECT_EQ(out.done, 2);
        EXPECT_EQ(out.status, "Invalid DSP code in the device");

        // A silent device: the transfer's time-out text, after brief waits.
        EXPECT_EQ(control("fault " + std::to_string(d) + " tftp-silent").rfind("ok", 0), 0u);
        server_tftp(vx::test::tftp_brief_ms, 2);
        out = download(d, fresh);
        server_tftp(vx::test::tftp_patient_ms, 2);
        EXPECT_EQ(out.done, 2);
        EXPECT_EQ(out.status,
                  "Timeout during firmware file transfer.\r\nPlease check network connections and try again.");
        control("clear " + std::to_string(d));
        EXPECT_TRUE(no_temporary_files());
    });
}

TEST_F(DspNetns, DownloadOfTheSplitFormFillsThePairOtherThanTheOneRead)
{
    const int d = birchamd_download;
    const std::string k = std::to_string(d);
    client([&] {
        bytes_t s16 = get(d, "s16");
        ASSERT_TRUE(valid(s16));
        const std::size_t monitor = monitor_size(s16);
        const bytes_t monitor_code(s16.begin(), s16.begin() + static_cast<long>(monitor));
        auto combined = [&](const bytes_t& fresh) {
            bytes_t all = monitor_code;
            all.insert(all.end(), fresh.begin(), fresh.end());
            return all;
        };

        // s16/s17 hold the valid image: a small program goes into s18 alone.
        const std::size_t writes_before = devsim->line_count();
        const bytes_t small = program({9, 0, 0, -1}, false).bytes;
        outcome_t out = download(d, small);
        EXPECT_EQ(out.done, 1) << out.status;
        EXPECT_TRUE(starts_with(get(d, "s18"), combined(small)));
        EXPECT_TRUE(announced("dsp " + k + " 9.0.0"));
        EXPECT_EQ(get(d, "s16"), s16);

        // With s16 invalidated, s18/s19 is read and a combined image of
        // exactly 65536 bytes fills s16 alone.
        put(d, "s16", {});
        const bytes_t exact = program({9, 1, 0, -1}, false, split_size - monitor).bytes;
        ASSERT_EQ(combined(exact).size(), split_size);
        out = download(d, exact);
        EXPECT_EQ(out.done, 1) << out.status;
        EXPECT_EQ(get(d, "s16"), combined(exact));
        EXPECT_TRUE(announced("dsp " + k + " 9.1.0"));

        // A larger one is cut at 65536 bytes into both files of s18/s19.
        const bytes_t large = program({9, 2, 0, -1}, false, 0x14000).bytes;
        out = download(d, large);
        EXPECT_EQ(out.done, 1) << out.status;
        bytes_t pair = get(d, "s18");
        const bytes_t second = get(d, "s19");
        pair.insert(pair.end(), second.begin(), second.end());
        EXPECT_TRUE(starts_with(pair, combined(large)));
        EXPECT_TRUE(announced("dsp " + k + " 9.2.0"));

        // Which files were written: s18; s16; s18 and s19. Never s17.
        std::vector<std::string> writes;
        const auto lines = devsim->lines();
        for (std::size_t i = writes_before; i < lines.size(); ++i)
            if (lines[i].rfind("tftp " + k + " wrq ", 0) == 0)
                writes.push_back(lines[i].substr(lines[i].find("wrq ") + 4, 3));
        EXPECT_EQ(writes, (std::vector<std::string>{"s18", "s16", "s16", "s18", "s19"}));
        EXPECT_TRUE(no_temporary_files());
    });
}

TEST_F(DspNetns, ArgumentSavePatchesTheRunningArgumentsIntoTheOtherBank)
{
    const int d = birch_args;
    const std::string k = std::to_string(d);
    client([&] {
        const std::string table = entry(d);
        ASSERT_EQ(table.rfind(D + ".2.", 0), 0u) << table;
        for (int a = 1; a <= 8; ++a)
            ASSERT_EQ(snmp_set(d, table + ".2.1.2." + std::to_string(a), 500 + a), SNMP_CLASS_SUCCESS);
        const bytes_t c10 = get(d, "c10");

        outcome_t out = save_args(d);
        EXPECT_EQ(out.done, 1) << out.status;
        EXPECT_EQ(out.status, "DSP save arguments is done");
        EXPECT_EQ(out.percent, 100.0);
        EXPECT_EQ(get(d, "c10"), c10);
        const bytes_t c11 = get(d, "c11");
        ASSERT_TRUE(valid(c11));
        const std::string path = folder->file("c11.uld", c11);
        qm::uld::image_t image(path);
        auto info = images::read_dsp(c11);
        ASSERT_TRUE(info && info->has_descriptor);
        for (uint32_t a = 1; a <= 8; ++a)
            EXPECT_EQ(image.read_word(info->args_base + a - 1), 500 + a);
        EXPECT_TRUE(announced("dsp " + k + " "));

        // A stopped second processor.
        ASSERT_EQ(snmp_set(d, D + ".1.1.0", 1), SNMP_CLASS_SUCCESS);
        out = save_args(d);
        EXPECT_EQ(out.done, 2);
        EXPECT_EQ(out.status, "dspb is not running");
        ASSERT_EQ(snmp_set(d, D + ".1.1.0", 2), SNMP_CLASS_SUCCESS);

        // The device runs a program in "c11" that "c10" does not hold: the
        // image read disagrees with the device's flash word.
        put(d, "c11", program({3, 0, 0, -1}, true, 0, 0x4321).bytes);
        EXPECT_TRUE(announced("dsp " + k + " 3.0.0 flash-word 0x4321"));
        out = save_args(d);
        EXPECT_EQ(out.status, "Inconsistent DSP configuration, flash mismatch");

        // A program whose arguments lie below the first address a program may use.
        put(d, "c11", program({3, 1, 0, -1}, true, 0, 0x4321, 0x50).bytes);
        EXPECT_TRUE(announced("dsp " + k + " 3.1.0"));
        const bytes_t before = get(d, "c11");
        out = save_args(d);
        EXPECT_EQ(out.status, "Unexpected DSP configuration, possible wrong Ostrevo version");
        EXPECT_EQ(get(d, "c11"), before);

        // A silent agent.
        EXPECT_EQ(control("fault " + k + " snmp-silent").rfind("ok", 0), 0u);
        out = save_args(d);
        EXPECT_EQ(out.status, "dsp proc get fails");
        control("clear " + k);
        EXPECT_TRUE(no_temporary_files());
    });
}

TEST_F(DspNetns, ArgumentSaveOfTheSplitFormAndOfADeviceWithoutDsp)
{
    client([&] {
        const int d = birchamd_args;
        const std::string table = entry(d);
        ASSERT_EQ(snmp_set(d, table + ".2.1.2.3", -77), SNMP_CLASS_SUCCESS);
        const bytes_t s16 = get(d, "s16");
        outcome_t out = save_args(d);
        EXPECT_EQ(out.done, 1) << out.status;
        // The whole image read (both files of the pair) goes back cut in two.
        bytes_t written = get(d, "s18");
        const bytes_t second = get(d, "s19");
        written.insert(written.end(), second.begin(), second.end());
        ASSERT_TRUE(valid(written));
        auto info = images::read_dsp(written);
        ASSERT_TRUE(info && info->args.size() >= 3);
        EXPECT_EQ(static_cast<int32_t>(info->args[2]), -77);
        EXPECT_EQ(get(d, "s16"), s16);

        // No DSP processor group on an alder device.
        out = save_args(alder_args);
        EXPECT_EQ(out.done, 2);
        EXPECT_EQ(out.status, "dsp proc get fails");
        EXPECT_TRUE(no_temporary_files());
    });
}

} // namespace
