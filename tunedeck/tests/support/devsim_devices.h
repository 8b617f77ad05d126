// The device simulator on a veth pair for the test suite: devices 0 to 3
// with 1/1, 2/2, 16/16 and 0/2 transmitter/receiver bundles, device 4
// silent on SNMP, their clocks stopped. Device K
// answers at 192.168.77.(10 + K); the test's main thread works inside the
// client namespace while the suite runs. Root only.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "netns.h"

namespace tdtest {

struct SimDevice {
    const char* address;
    int tx, rx;
};
inline constexpr SimDevice kSimDevices[] = {
    {"192.168.77.10", 1, 1},
    {"192.168.77.11", 2, 2},
    {"192.168.77.12", 16, 16},
    {"192.168.77.13", 0, 2},
};
inline constexpr const char* kSimSilent = "192.168.77.14";
// Every device's sysUpTime stays here, so that reports compare byte for byte.
inline constexpr long kSimUptime = 123456;

class DevsimSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        using namespace std::chrono_literals;
        using vx::test::netns_pair;
        if (!vx::test::running_as_root()) {
            error = "needs root for network namespaces";
            return;
        }
        pair = std::make_unique<netns_pair>("vxh0", "vxd0");
        if (!pair->ok() || !pair->add_address(netns_pair::a, "192.168.77.1/24")) {
            error = "no namespaces: " + pair->error();
            return;
        }
        sim = pair->spawn(netns_pair::b,
                          {vx::test::devsim_path(),
                           "-i",
                           "vxd0",
                           "-n",
                           "5",
                           "--period",
                           "60000",
                           "--ip-base",
                           "192.168.77.10",
                           "--bundles",
                           "0=1/1",
                           "--bundles",
                           "1=2/2",
                           "--bundles",
                           "2=16/16",
                           "--bundles",
                           "3=0/2",
                           "--fault",
                           "4=snmp-silent",
                           "--fault",
                           "all=snmp-uptime=" + std::to_string(kSimUptime)});
        if (!sim->wait_for_line("started vxd0", 30s)) {
            error = "the simulator did not start";
            return;
        }
        scope = std::make_unique<vx::test::netns_scope>(pair->ns(netns_pair::a));
        if (!scope->ok())
            error = "cannot enter the client namespace";
    }
    static void TearDownTestSuite()
    {
        scope.reset();
        sim.reset();
        pair.reset();
    }
    void SetUp() override
    {
        if (!error.empty())
            GTEST_SKIP() << error;
    }

    static inline std::unique_ptr<vx::test::netns_pair> pair;
    static inline std::unique_ptr<vx::test::background_process> sim;
    static inline std::unique_ptr<vx::test::netns_scope> scope;
    static inline std::string error;
};

} // namespace tdtest
