// Argument save against real peers in the test's own network namespace:
// snmpd serves the device's DSP processor group and control table (one
// agent per case, so every value the checks look at can be wrong in turn)
// and tftpd-hpa serves the device's image banks, both on 127.0.0.1 (tftpd-hpa
// bound to any address may answer a first request to 127.0.0.2 from
// 127.0.0.1, which the client rightly ignores). Each failing check ends the
// operation with its text, leaves no temporary file and writes no bank.
#include "flashkit/dsp.h"
#include "flashkit/tftp.h"
#include "flashkit/uld.h"

#include "snmpd_fixture.h"
#include "scratch_folder.h"
#include "tftpd.h"
#include "tftp_times.h"
#include "images/images.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

namespace {

using namespace vx::test;
namespace fs = std::filesystem;

const std::string D = "1.3.6.1.4.1.2680.1.4";
constexpr uint32_t flash_word = 0x2A5C3;
constexpr std::size_t bank_size = 0x20000;

// The control table entry that carries the word: six numbers of six bits
// plus one, the last the top two bits of word + 0x40000000.
std::string entry_for(uint32_t word)
{
    const uint32_t v = word + 0x40000000u;
    std::string entry = D + ".2";
    for (int i = 0; i < 5; ++i)
        entry += "." + std::to_string(((v >> (6 * i)) & 0x3F) + 1);
    return entry + "." + std::to_string(v >> 30);
}

// The agent's variables for a consistent device, by OID.
std::map<std::string, std::string> device_values(const std::string& entry, int count)
{
    std::map<std::string, std::string> v{
        {D + ".1.1.0", "2"},
        {D + ".1.2.0", "2"},
        {entry + ".1.0", std::to_string(count)},
        {entry + ".3.0", "5"},
        {entry + ".4.1.2.1", std::to_string(flash_word)},
        {entry + ".4.1.2.2", std::to_string(0x110)},
        {entry + ".4.1.2.3", std::to_string(0x120)},
    };
    for (int k = 1; k <= count; ++k)
        v[entry + ".2.1.2." + std::to_string(k)] = std::to_string(-1000 * k);
    return v;
}

class ArgumentSavePeer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!running_as_root() || !enter_private_netns(&setup_error))
            return;
        folder = new scratch_folder("dsp-peer");
        root = folder->path;
        // The server waits a second before its first resend and gives up
        // after half a minute without an answer: a slow client is never
        // dropped. A bank written device-style (no empty last block) stays
        // locked until that first resend, and a read of it meanwhile goes
        // unanswered: the read-back after a write is resent until then, so
        // the waits are brief, with the retries of a transfer that must
        // succeed.
        server = new tftpd(root.string(), 1000000);
        if (!server->running() || !server->wait_listening())
            setup_error = "tftpd-hpa did not start";
        tftp& client = tftp::settings();
        client.set_timeout(tftp_brief_ms);
        client.set_write_timeout(tftp_brief_ms);
        client.set_retries(tftp_brief_retries);
        client.set_holdoff(10);
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
        delete folder;
        folder = nullptr;
    }
    void SetUp() override
    {
        if (!running_as_root())
            GTEST_SKIP() << "needs root for a private network namespace";
        ASSERT_TRUE(setup_error.empty()) << setup_error;
        // The generated image keeps its arguments from 0x110 and the flash
        // word at 0x120 in one addressable section of 17 words.
        devsim::images::dsp_spec spec;
        spec.flash_word = flash_word;
        c10 = devsim::images::make_dsp(spec).bytes;
        c10.resize(bank_size, 0xFF);
        c11 = std::vector<unsigned char>(bank_size, 0xFF);
        put_bank("c10", c10);
        put_bank("c11", c11);
    }
    void TearDown() override { agent.reset(); }

    static void put_bank(const std::string& name, const std::vector<unsigned char>& bytes)
    {
        folder->file(name, bytes);
        fs::permissions(root / name,
                        fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    }
    void serve(const std::map<std::string, std::string>& values)
    {
        std::vector<PassVar> vars;
        for (const auto& [oid, value] : values)
            vars.push_back({oid, value.rfind("s:", 0) == 0 ? "string" : "integer",
                            value.rfind("s:", 0) == 0 ? value.substr(2) : value});
        agent = std::make_unique<Snmpd>();
        const std::string script = agent->write_pass_persist("dsp", vars);
        std::string error;
        ASSERT_TRUE(agent->start(
            {"127.0.0.1"}, "rocommunity tagrok 127.0.0.0/8\npass_persist .1.3.6.1.4.1.2680 " + script + "\n", &error))
            << error;
    }
    // Runs the save; the failure text, empty on success.
    std::string save(update::job_status_t& status)
    {
        qm::ip_address_t device;
        device.parse("127.0.0.1");
        try {
            update::dsp_t().save_args(device, status);
        } catch (const qm::exception_t& e) {
            return e.what();
        }
        return {};
    }
    static bool temp_files_left()
    {
        for (const auto& entry : fs::directory_iterator(fs::current_path()))
            if (entry.path().filename().string().rfind("temp", 0) == 0)
                return true;
        return false;
    }

    static inline fs::path root;
    static inline tftpd* server = nullptr;
    static inline scratch_folder* folder = nullptr;
    static inline std::string setup_error;
    std::unique_ptr<Snmpd> agent;
    std::vector<unsigned char> c10, c11;
};

TEST_F(ArgumentSavePeer, PatchesTheArgumentsIntoTheOtherBank)
{
    const std::string entry = entry_for(flash_word);
    serve(device_values(entry, 8));
    update::job_status_t status;
    ASSERT_EQ(save(status), "");
    EXPECT_EQ(status.text(), "DSP save arguments is done");
    EXPECT_EQ(status.percent(), 100.0);
    EXPECT_FALSE(temp_files_left());

    // The read bank is untouched; the other holds the image with the
    // arguments in place and whole checksums, at its full length.
    EXPECT_EQ(scratch_folder::read((root / "c10").string()), c10);
    const std::string written = (root / "c11").string();
    EXPECT_EQ(scratch_folder::read(written).size(), bank_size);
    uld_checksum_t sum(0, 0);
    sum.feed(written);
    EXPECT_TRUE(sum.check());
    qm::uld::image_t image(written);
    for (uint32_t k = 1; k <= 8; ++k)
        EXPECT_EQ(static_cast<int32_t>(image.read_word(0x110 + k - 1)), -1000 * static_cast<int32_t>(k));
    EXPECT_EQ(image.read_word(0x120), flash_word);
}

TEST_F(ArgumentSavePeer, EveryInconsistentDeviceFailsWithItsText)
{
    const std::string entry = entry_for(flash_word);
    using values_t = std::map<std::string, std::string>;
    struct row {
        const char* what;
        std::function<void(values_t&)> change;
        const char* text;
    };
    const std::string flash = entry + ".4.1.2";
    const std::vector<row> rows{
        {"second processor stopped", [&](values_t& v) { v[D + ".1.2.0"] = "1"; }, "dspb is not running"},
        {"first processor stopped", [&](values_t& v) { v[D + ".1.1.0"] = "0"; }, "dspb is not running"},
        {"no processor state", [&](values_t& v) { v.erase(D + ".1.1.0"); }, "dsp proc get fails"},
        {"no control table",
         [&](values_t& v) { std::erase_if(v, [&](const auto& e) { return e.first.rfind(D + ".2", 0) == 0; }); },
         "get_next( dsp_control ) fails"},
        {"entry name too short",
         [&](values_t& v) {
             v = {{D + ".1.1.0", "2"}, {D + ".1.2.0", "2"}, {D + ".2.5.1.0", "8"}};
         },
         "get_next( dsp_control ) fails"},
        {"entry's first variable not the count", [&](values_t& v) { v.erase(entry + ".1.0"); },
         "get_next( dsp_control ) fails"},
        {"configuration missing", [&](values_t& v) { v.erase(entry + ".3.0"); }, "Unexpected SNMP response"},
        {"configuration 2", [&](values_t& v) { v[entry + ".3.0"] = "2"; }, "Unexpected DSP configuration"},
        {"flash word missing", [&](values_t& v) { v.erase(flash + ".1"); }, "Unexpected SNMP response"},
        {"base below 256", [&](values_t& v) { v[flash + ".2"] = "255"; },
         "Unexpected DSP configuration, possible wrong Ostrevo version"},
        {"check address above 15359", [&](values_t& v) { v[flash + ".3"] = "15360"; },
         "Unexpected DSP configuration, possible wrong Ostrevo version"},
        {"negative count", [&](values_t& v) { v[entry + ".1.0"] = "-1"; }, "Unexpected DSP configuration"},
        {"arguments past 15359", [&](values_t& v) { v[entry + ".1.0"] = std::to_string(15360 - 0x110 + 1); },
         "Unexpected DSP configuration"},
        {"flash word differs from the entry", [&](values_t& v) { v[flash + ".1"] = std::to_string(flash_word + 1); },
         "Inconsistent DSP configuration, flash mismatch"},
        {"image word differs", [&](values_t& v) { v[flash + ".3"] = "287"; },
         "Inconsistent DSP configuration, flash mismatch"},
        {"argument not an integer", [&](values_t& v) { v[entry + ".2.1.2.3"] = "s:three"; },
         "Unexpected SNMP response"},
        {"argument missing", [&](values_t& v) { v.erase(entry + ".2.1.2.8"); }, "Unexpected SNMP response"},
        // Arguments the image has no addressable word for are not dropped
        // silently: its section holds 17 words from the base.
        {"arguments outside the image", [&](values_t& v) { v = device_values(entry, 18); },
         "Unexpected DSP configuration"},
        {"no valid image in the device",
         [&](values_t&) { put_bank("c10", std::vector<unsigned char>(bank_size, 0xFF)); },
         "Invalid DSP code in the device"},
    };
    for (const row& r : rows) {
        values_t values = device_values(entry, 8);
        r.change(values);
        serve(values);
        update::job_status_t status;
        EXPECT_EQ(save(status), r.text) << r.what;
        EXPECT_FALSE(temp_files_left()) << r.what;
        EXPECT_EQ(scratch_folder::read((root / "c11").string()), c11) << r.what;
        agent.reset();
        put_bank("c10", c10);
    }
}

} // namespace
