// The console with the real poller (Querant, in-process) and the fake
// discovery server: the watches of devices that report the same address,
// and an unattended run whose poller fails while the console starts.
#include "support/fake_servers.h"
#include "support/test_app.h"

#include "PollView.h"

#include <netns.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
using namespace vistrel_test;

namespace {

// Two OIDs a device: the poller has one request at a time in flight per
// address, so ending an address's watches ends at least one of them at once.
const char* const columns_ini = "[Poller]\nTimeout=200\nRetry Count=0\n"
                                "[Default Columns]\nUptime=D,1.3.6.1.2.1.1.3.0\nName=D,1.3.6.1.2.1.1.5.0\n"
                                "[Start Up Columns]\nUptime=50\nName=50\n";

long WatchSize(PollView& view)
{
    long size = -1;
    EXPECT_EQ(view.Poller()->get_watch_size(&size), S_OK);
    return size;
}

class RealPoller : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NO_FATAL_FAILURE(RegisterServerLibrary(QUERANT_LIB)); }
};

} // namespace

TEST_F(RealPoller, ADeviceLeavingASharedAddressLeavesTheOtherDevicesWatches)
{
    // Either of the two may be the one the address's entry points at.
    for (const std::string mover : {"aa", "bb"}) {
        const std::string stays = mover == "aa" ? "bb" : "aa";
        ScopedIni ini(columns_ini);
        FakeServers servers(false);
        auto& devices = World().adapters["eth0"].devices;
        PollView view;
        view.StartDiscovery(AdapterObject());
        devices["aa"] = {"127.0.0.2", 0};
        devices["bb"] = {"127.0.0.2", 0};
        Tick(view);
        ASSERT_EQ(WatchSize(view), 2) << "one watch per address and OID";

        devices[mover].ip = "127.0.0.3";
        Tick(view);
        EXPECT_EQ(WatchSize(view), 4) << mover << " moved: " << stays << " is still watched at 127.0.0.2";
        ASSERT_EQ(view.ByIp().count("127.0.0.2"), 1u);
        EXPECT_EQ(view.ByIp().at("127.0.0.2")->mac, stays) << "and still refreshed there";

        // The last device leaving the address ends its watches.
        devices[stays].ip = "0.0.0.0";
        Tick(view);
        EXPECT_EQ(view.ByIp().count("127.0.0.2"), 0u);
        EXPECT_TRUE(PumpUntil([&] { return WatchSize(view) == 2; }, 30000)) << WatchSize(view);
    }
}

// The capture tool answers boxes from the start: the fatal box of a poller
// that cannot start ends the run with its text and status 1.
TEST_F(RealPoller, UnattendedRunEndsWithTheFatalBoxOfAPollerThatCannotStart)
{
    namespace fs = std::filesystem;
    const std::string folder = "/tmp/vistrel_capture_" + std::to_string(getpid());
    fs::create_directories(folder);
    struct Remove {
        std::string path;
        ~Remove() { fs::remove_all(path); }
    } remove{folder};
    for (const char* file : {VISTREL_CAPTURE, MGMTAPI_LIB, SNMPAPI_LIB})
        fs::copy_file(file, folder + "/" + fs::path(file).filename().string());
    std::ofstream(folder + "/vistrel.ini") << "[Poller]\nNumber Of Threads=0\n";

    vx::test::background_process capture({folder + "/vistrel_capture", "--seconds", "60"});
    const auto box = capture.wait_for_line("box: ", 60s);
    ASSERT_TRUE(box) << "the box was not answered";
    EXPECT_EQ(box->rfind("box: Vistrel: COM Querant can't be created.", 0), 0u) << *box;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (capture.running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(capture.kill(), 1);
}
