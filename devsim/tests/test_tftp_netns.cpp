// tftp-hpa's own client against the simulated devices over a veth pair:
// bank files read from generated images, writes that change what a device
// runs (and what its SNMP view says), and the TFTP fault switches from the
// command line and the control socket. Needs root and the tftp-hpa client.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "images/images.h"
#include "netns.h"

namespace {

using namespace std::chrono_literals;
using vx::test::netns_pair;
const auto capture = vx::test::command_output;
using bytes_t = std::vector<uint8_t>;

bytes_t read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes_t((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, std::span<const uint8_t> bytes)
{
    devsim::images::write_file(path.string(), bytes);
}

class TftpNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for network namespaces";
        if (vx::test::run_command("command -v tftp >/dev/null") != 0)
            GTEST_SKIP() << "needs tftp-hpa's client";
        pair_ = std::make_unique<netns_pair>("vxh0", "vxd0");
        ASSERT_TRUE(pair_->ok()) << pair_->error();
        ASSERT_TRUE(pair_->add_address(netns_pair::a, "192.168.77.1/24"));
        dir_ = std::filesystem::temp_directory_path() / ("vx-tftp-netns-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        control_ = (dir_ / "control").string();
    }
    void TearDown() override
    {
        devsim_.reset();
        pair_.reset();
        std::filesystem::remove_all(dir_);
    }
    void start(std::vector<std::string> options)
    {
        std::vector<std::string> argv{vx::test::devsim_path(), "-i",        "vxd0",  "--period", "60000", "--ip-base",
                                      "192.168.77.10",         "--control", control_};
        argv.insert(argv.end(), options.begin(), options.end());
        devsim_ = pair_->spawn(netns_pair::b, argv);
        ASSERT_TRUE(devsim_->wait_for_line("started vxd0", 30s));
    }
    // tftp-hpa in octet mode with a 1 s resend time, commands on its input.
    // A transfer gives up after `seconds` without an answer: as long as only
    // a fault waits, unless the device is to go silent.
    std::string tftp(int device, const std::string& commands, int seconds = 30)
    {
        auto script = dir_ / "commands";
        std::ofstream(script) << "mode octet\nrexmt 1\ntimeout " << seconds << "\n" << commands << "\nquit\n";
        return capture("ip netns exec " + pair_->ns(netns_pair::a) + " tftp 192.168.77." + std::to_string(10 + device) +
                       " < " + script.string());
    }
    std::string control(const std::string& command)
    {
        return capture(vx::test::devsim_path() + " control " + control_ + " " + command);
    }

    std::unique_ptr<netns_pair> pair_;
    std::unique_ptr<vx::test::background_process> devsim_;
    std::filesystem::path dir_;
    std::string control_;
};

TEST_F(TftpNetns, TftpHpaReadsBankFilesAndWritesChangeWhatTheDeviceRuns)
{
    using namespace devsim::images;
    firmware_spec spec;
    spec.version = {1, 2, 3, -1};
    auto old_image = make_firmware(spec);
    spec.version = {1, 21, 0, -1};
    auto new_image = make_firmware(spec);
    write_file(dir_ / "alder_1_2_3.bin", old_image.bytes);
    start({"-n", "3", "--families", "alder,cedar,birch", "--firmware", "0=" + (dir_ / "alder_1_2_3.bin").string()});

    // A bank file as it is in the image; the cedar probe file with the
    // device's own MAC in its configuration area.
    std::string out = tftp(0, "get m06 " + (dir_ / "m06").string());
    bytes_t m06 = read_file(dir_ / "m06");
    ASSERT_EQ(m06.size(), 0x20000u) << out;
    EXPECT_TRUE(std::equal(m06.begin(), m06.end(), old_image.bytes.begin() + 0x40000));
    EXPECT_TRUE(devsim_->wait_for_line("tftp 0 sent m06", 30s));
    out = tftp(1, "get r2 " + (dir_ / "r2").string());
    bytes_t r2 = read_file(dir_ / "r2");
    ASSERT_EQ(r2.size(), 0x4000u) << out;
    EXPECT_EQ(read_config(r2, 0x3C00, 3).mac, (std::array<uint8_t, 6>{0x00, 0x60, 0x2B, 0x10, 0x00, 0x02}));
    EXPECT_NE(tftp(1, "get m01 " + (dir_ / "x").string()).find("File not found"), std::string::npos);

    // New code into bank 8, then the old bank invalidated by an empty write.
    write_file(dir_ / "a", std::span(new_image.bytes).subspan(0x40000, 0x20000));
    write_file(dir_ / "b", std::span(new_image.bytes).subspan(0x60000, 0x20000));
    out = tftp(0, "put " + (dir_ / "a").string() + " m08\nput " + (dir_ / "b").string() + " m09\nput /dev/null m06");
    EXPECT_TRUE(devsim_->wait_for_line("firmware 0 bank 8 1.21.0 hardware 4", 30s)) << out;
    out = tftp(0, "get m08 " + (dir_ / "back").string());
    EXPECT_EQ(read_file(dir_ / "back"), read_file(dir_ / "a")) << out;
    if (vx::test::run_command("command -v snmpget >/dev/null") == 0) {
        std::string snmp = capture("ip netns exec " + pair_->ns(netns_pair::a) +
                                   " snmpget -v1 -c tagrok -t 10 -r 2 -On 192.168.77.10 "
                                   "1.3.6.1.4.1.2680.1.1.1.3.0 1.3.6.1.4.1.2680.1.1.1.10.0");
        EXPECT_NE(snmp.find(".1.3.0 = INTEGER: 21"), std::string::npos) << snmp;
        EXPECT_NE(snmp.find(".1.10.0 = INTEGER: 4"), std::string::npos) << snmp;
    }

    // A DSP program written into the other DSP bank of a birch device runs.
    dsp_spec dsp;
    dsp.version = {9, 0, 0, -1};
    dsp.flash_word = 0x777;
    write_file(dir_ / "dsp.uld", make_dsp(dsp).bytes);
    out = tftp(2, "put " + (dir_ / "dsp.uld").string() + " c11");
    EXPECT_TRUE(devsim_->wait_for_line("dsp 2 9.0.0 flash-word 0x777", 30s)) << out;
}

TEST_F(TftpNetns, FaultSwitchesFromTheCommandLineAndTheControlSocket)
{
    start({"-n", "2", "--fault", "1=tftp-refuse-write"});
    auto file = dir_ / "data";
    write_file(file, bytes_t(1000, 0x42));
    EXPECT_NE(tftp(1, "put " + file.string() + " m03").find("Access violation"), std::string::npos);

    // The second packet device 0 sends is lost: the client's resend brings it.
    EXPECT_EQ(control("fault 0 tftp-drop=2").rfind("ok", 0), 0u);
    std::string out = tftp(0, "get m02 " + (dir_ / "m02").string());
    EXPECT_EQ(read_file(dir_ / "m02").size(), 0x2000u) << out;
    EXPECT_TRUE(devsim_->wait_for_line("tftp 0 dropped 3 2", 30s));
    EXPECT_TRUE(devsim_->wait_for_line("fault-cleared 0 tftp-drop", 30s));

    // A device that stops mid-transfer leaves the client with a time-out.
    EXPECT_EQ(control("fault 0 tftp-stop-after=3").rfind("ok", 0), 0u);
    std::filesystem::remove(dir_ / "m02");
    out = tftp(0, "get m02 " + (dir_ / "m02").string(), 3);
    EXPECT_NE(out.find("imed out"), std::string::npos) << out;
    EXPECT_LT(read_file(dir_ / "m02").size(), 0x2000u);
}

} // namespace
