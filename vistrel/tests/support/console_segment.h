// Test support for the console end to end: a private segment of two network
// namespaces joined by a veth pair, the console's end addressed
// 192.168.79.1/24, the discovery server (a copy in a sandbox) and the poller
// registered, and room for the device simulator on the other end. Needs root.
#pragma once

#include "support/test_app.h"

#include "test_server_support.h"

#include <netns.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vistrel_test {

class ConsoleSegment : public ::testing::Test {
protected:
    // Names of the veth ends: the console's and the devices'.
    ConsoleSegment(std::string consoleEnd, std::string deviceEnd)
        : consoleEnd(std::move(consoleEnd)), deviceEnd(std::move(deviceEnd))
    {}

    void SetUp() override
    {
        if (!vx::test::running_as_root())
            GTEST_SKIP() << "needs root for network namespaces";
        box = std::make_unique<scoutline_test::server_sandbox>();
        std::string out;
        ASSERT_EQ(box->run({"-RegServer"}, &out), 0) << out;
        ASSERT_NO_FATAL_FAILURE(RegisterServerLibrary(QUERANT_LIB));
        pair = std::make_unique<vx::test::netns_pair>(consoleEnd, deviceEnd);
        ASSERT_TRUE(pair->ok()) << pair->error();
        ASSERT_TRUE(pair->add_address(vx::test::netns_pair::a, "192.168.79.1/24"));
    }

    // The simulator first; the discovery server ends once the console let go.
    void TearDown() override
    {
        sim.reset();
        if (box) {
            EXPECT_GE(box->wait_for_exit(std::chrono::seconds(60)).count(), 0) << "the discovery server did not end";
        }
        pair.reset();
        box.reset();
    }

    std::string consoleEnd, deviceEnd;
    std::unique_ptr<scoutline_test::server_sandbox> box;
    std::unique_ptr<vx::test::netns_pair> pair;
    std::unique_ptr<vx::test::background_process> sim;
};

} // namespace vistrel_test
