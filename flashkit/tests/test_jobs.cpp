// Jobs: the upload's probe walk, status sequence, cancel, result and failure
// texts; the download and DSP jobs; releasing a running job.
#include "flashkit/job.h"
#include "flashkit/tftp.h"

#include "scratch_folder.h"
#include "test_family.h"
#include "tftp_peer.h"
#include "tftp_times.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;
using update::job_t;

bool eventually(const std::function<bool()>& condition)
{
    for (auto end = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < end;) {
        if (condition())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

int32_t finish(job_t& job)
{
    EXPECT_TRUE(eventually([&] { return job.done() != 0; }));
    return job.done();
}

std::string requests(vx::test::tftp_peer& peer)
{
    std::string out;
    for (const auto& p : peer.received()) {
        if (p.opcode == 1 || p.opcode == 2)
            out += (out.empty() ? "" : " ") + p.name;
    }
    return out;
}

class Jobs : public ::testing::Test {
protected:
    void SetUp() override
    {
        vx::test::register_test_families();
        vx::test::upload_hook() = nullptr;
        vx::test::download_hook() = nullptr;
        tftp::settings().set_port(peer.port());
        tftp::settings().set_timeout(vx::test::tftp_patient_ms);
        tftp::settings().set_write_timeout(vx::test::tftp_patient_ms);
        tftp::settings().set_retries(1);
        tftp::settings().set_holdoff(1);
        ip.parse("127.0.0.1");
        device_image.set_type(4);
        device_image[update::checksums_t::code_cs] = 0x1234;
        device_image[update::checksums_t::config_cs] = 0x55;
        std::ofstream((dir / "birch_2_0_0.bin").string(), std::ios::binary) << vx::test::family_image(device_image);
        database = std::make_shared<update::database_t>();
        database->init(dir.string());
    }
    void TearDown() override
    {
        vx::test::upload_hook() = nullptr;
        vx::test::download_hook() = nullptr;
    }

    std::unique_ptr<update::upload_job_t> upload()
    {
        auto job = std::make_unique<update::upload_job_t>(database, ip, [this](const update::upload_result_t& r) {
            found = r;
            return static_cast<IDispatch*>(nullptr);
        });
        job->start();
        return job;
    }

    vx::test::tftp_peer peer;
    qm::ip_address_t ip;
    vx::test::scratch_folder scratch{"jobs"};
    const std::filesystem::path& dir = scratch.path;
    update::checksums_t device_image;
    std::shared_ptr<update::database_t> database;
    update::upload_result_t found;
};

TEST_F(Jobs, UploadWalksTheProbesReportsAndHonoursCancelAtTheEnd)
{
    peer.set_file("probe4", "x"); // the first family's probe file is missing
    peer.set_file("img", vx::test::family_image(device_image));
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    vx::test::upload_hook() = [opened] { opened.wait(); };

    auto job = upload();
    // Text and percentage are set one after the other: wait for the pair.
    ASSERT_TRUE(
        eventually([&] { return job->status().text() == "Reading boot bank" && job->status().percent() == 30.0; }));
    EXPECT_EQ(job->done(), 0);
    try {
        job->result(nullptr);
        ADD_FAILURE();
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "Haven't finished the operation, no result.");
    }
    job->cancel();
    EXPECT_EQ(job->done(), 0);
    gate.set_value();
    EXPECT_EQ(finish(*job), job_t::cancelled);
    EXPECT_EQ(job->status().percent(), 100.0);
    EXPECT_EQ(requests(peer), "probe2 probe4 img");

    IDispatch* unit = reinterpret_cast<IDispatch*>(1);
    job->result(&unit);
    EXPECT_EQ(unit, nullptr);
    ASSERT_TRUE(found.unit);
    EXPECT_EQ(update::type_code(found.unit.get()), 4);
    ASSERT_TRUE(found.version);
    EXPECT_EQ(found.version->file_name, "birch_2_0_0.bin");
    EXPECT_EQ(found.custom, "");
    EXPECT_EQ(found.database, database);
    EXPECT_FALSE(std::filesystem::exists("temp_boot1127.0.0.1"));
}

TEST_F(Jobs, UploadFailures)
{
    struct row {
        const char* served; // a probe file the device serves
        bool silent;
        const char* text;
        const char* asked;
    };
    // No family's probe file: every probe is tried. No answer at all: the
    // first probe's time-out ends the walk. A probe that works and a read of
    // the banks that fails: the result has no unit either.
    for (const row& r :
         {row{nullptr, false, "Error uploading firmware from 127.0.0.1", "probe2 probe4"},
          row{nullptr, true,
              "Timeout during firmware file transfer.\r\nPlease check network connections and try again.",
              "probe2 probe2"},
          row{"probe2", false, "Unexpected error during firmware file transfer.", "probe2 img"}}) {
        vx::test::tftp_peer device;
        tftp::settings().set_port(device.port());
        device.silent = r.silent;
        // Only the silent device's walk waits for a time-out.
        tftp::settings().set_timeout(r.silent ? vx::test::tftp_brief_ms : vx::test::tftp_patient_ms);
        if (r.served)
            device.set_file(r.served, "x");
        auto job = upload();
        EXPECT_EQ(finish(*job), job_t::failed);
        EXPECT_EQ(job->status().text(), r.text);
        // A silent device logs the last request maybe after the job gave up.
        device.wait_for(static_cast<std::size_t>(std::count(r.asked, r.asked + std::strlen(r.asked), ' ') + 1));
        EXPECT_EQ(requests(device), r.asked);
        job->result(nullptr);
        EXPECT_FALSE(found.unit) << r.asked;
        EXPECT_FALSE(found.version);
    }
}

class throwing_unit_t : public vx::test::test_unit_t<2> {
public:
    using test_unit_t::test_unit_t;
    void download(const std::string&, const update::checksums_t&, update::status_t* s, int32_t, int32_t,
                  int32_t) override
    {
        status = s;
        current_status().set_text("Updating boot code");
        throw 42;
    }
};

TEST_F(Jobs, DownloadSucceedsOrReportsWhy)
{
    auto unit = std::make_shared<vx::test::test_unit_t<4>>(ip, nullptr);
    std::string image = (dir / "birch_2_0_0.bin").string();
    update::download_job_t ok(unit, image, device_image, 0, 0, 1);
    ok.start();
    EXPECT_EQ(finish(ok), job_t::succeeded);
    EXPECT_EQ(ok.status().text(), "download done");
    EXPECT_EQ(ok.status().percent(), 100.0);
    EXPECT_EQ(peer.file("img"), vx::test::family_image(device_image));
    EXPECT_EQ(unit->status, &update::null_status()); // no pointer into an ended job

    peer.set_error_text("Disk full");
    update::download_job_t refused(unit, image, device_image, 2, 1, 2);
    refused.start();
    EXPECT_EQ(finish(refused), job_t::failed);
    EXPECT_EQ(refused.status().text(), "Unexpected error during firmware file transfer.");

    update::download_job_t odd(std::make_shared<throwing_unit_t>(ip, nullptr), image, device_image, 0, 0, 0);
    odd.start();
    EXPECT_EQ(finish(odd), job_t::failed);
    EXPECT_EQ(odd.status().text(), "Unknown Error");

    // A device whose configuration record reads erased, with no copy kept:
    // nothing is sent.
    peer.set_error_text("");
    const std::size_t before = peer.received().size();
    unit->config_source = update::base_t::config_source_t::erased;
    update::download_job_t erased(unit, image, device_image, 2, 1, 2);
    erased.start();
    EXPECT_EQ(finish(erased), job_t::failed);
    EXPECT_EQ(erased.status().text(),
              "The device's configuration record is erased and no copy of it was kept: nothing was written.");
    EXPECT_EQ(peer.received().size(), before);
}

// Two jobs on one unit would share its status, configuration record and
// temporary files: the second is refused while the first runs.
TEST_F(Jobs, ASecondJobOnABusyUnitIsRefused)
{
    auto unit = std::make_shared<vx::test::test_unit_t<4>>(ip, nullptr);
    const std::string image = (dir / "birch_2_0_0.bin").string();
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    vx::test::download_hook() = [opened] { opened.wait(); };
    update::download_job_t first(unit, image, device_image, 0, 0, 1);
    first.start();
    try {
        update::download_job_t second(unit, image, device_image, 0, 0, 1);
        ADD_FAILURE() << "a second job on the unit";
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "the unit is busy with another job");
    }
    gate.set_value();
    EXPECT_EQ(finish(first), job_t::succeeded);
    vx::test::download_hook() = nullptr;
    update::download_job_t next(unit, image, device_image, 0, 0, 1);
    next.start();
    EXPECT_EQ(finish(next), job_t::succeeded);
}

class dsp_t : public update::dsp_context_t {
public:
    void deploy(const qm::ip_address_t& address, const std::string& file, update::status_t& status) override
    {
        status.set_text("DSP is deploying " + file + " to " + address.to_string());
        throw qm::exception_t("Invalid DSP code to deploy");
    }
    void download(const qm::ip_address_t&, const std::string&, update::status_t& status) override
    {
        status.set_text("DSP download is done");
        status.set_percent(100);
    }
    void save_args(const qm::ip_address_t&, update::status_t&) override { throw std::runtime_error("boom"); }
};

TEST_F(Jobs, DspJobsRunTheirOperation)
{
    auto dsp = std::make_shared<dsp_t>();
    update::dspdeploy_job_t deploy(dsp, "dsp.uld", ip);
    update::dspdownload_job_t download(dsp, "dsp.uld", ip);
    update::dsp_savearg_job_t save(dsp, ip);
    update::dsp_savearg_job_t nothing(nullptr, ip);
    download.cancel(); // asked before the body ends: state 3 instead of 1
    for (job_t* job : std::initializer_list<job_t*>{&deploy, &download, &save, &nothing})
        dynamic_cast<qm::proc::thread_t*>(job)->start();
    EXPECT_EQ(finish(deploy), job_t::failed);
    EXPECT_EQ(deploy.status().text(), "Invalid DSP code to deploy");
    EXPECT_EQ(finish(download), job_t::cancelled);
    EXPECT_EQ(download.status().text(), "DSP download is done");
    EXPECT_EQ(finish(save), job_t::failed);
    EXPECT_EQ(save.status().text(), "Unknown Error");
    EXPECT_EQ(finish(nothing), job_t::failed);
    EXPECT_EQ(nothing.status().text(), "object error");
}

TEST_F(Jobs, ReleasingARunningJobWaitsForIt)
{
    peer.set_file("probe2", "x");
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    vx::test::upload_hook() = [opened] { opened.wait(); };
    device_image.set_type(2);
    peer.set_file("img", vx::test::family_image(device_image));

    auto job = upload();
    ASSERT_TRUE(eventually([&] { return job->status().text() == "Reading boot bank"; }));
    std::atomic<bool> released{false};
    std::thread releaser([&] {
        job.reset();
        released = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(released.load());
    gate.set_value(); // the body goes on writing its status: it must still exist
    releaser.join();
    EXPECT_TRUE(released.load());
}

} // namespace
