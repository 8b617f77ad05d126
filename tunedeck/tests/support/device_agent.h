// Test devices served by net-snmp's snmpd: each device is one agent on its
// own loopback address inside the test's private network namespace, with
// the device variables of a configurable number of transmitter and receiver
// bundles served by a pass_persist script. Root only.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <stdexcept>

#include "snmpd_fixture.h"

namespace tdtest {

extern const std::string E; // 1.3.6.1.4.1.2680.1.1

std::string Instance(const std::string& column, int x);
std::string Instance(const std::string& column, int x, int y);

struct DeviceProfile {
    std::string address; // 127.0.0.N
    int tx = 2;
    int rx = 2;
    // Variables replaced or added (by OID), and variables the device lacks.
    std::vector<vx::test::PassVar> changes;
    std::vector<std::string> missing;
};

// Every variable of the device: bundle numbers 1000 + n (transmitter n) and
// 2000 + n (receiver n), txReceivers n, rxStatus 1, condStatus 1, sysName
// "device-<last address number>", MAC 00:60:2B:FD:00:<last number>.
std::vector<vx::test::PassVar> DeviceVars(const DeviceProfile& profile);

class DeviceAgent {
public:
    explicit DeviceAgent(const DeviceProfile& profile);
    bool Start(std::string* error);
    void Stop() { snmpd_.stop(); }
    const DeviceProfile& Profile() const { return profile_; }
    // Accepted sets so far, "oid type value" per line; those after the first `from`.
    std::vector<std::string> Sets() const;
    std::vector<std::string> SetsSince(size_t from) const;
    // Every request as the agent read it: when (seconds of the monotonic
    // clock), the command and the OID.
    struct Request {
        double seconds = 0;
        std::string command, oid;
    };
    std::vector<Request> Requests() const;

private:
    DeviceProfile profile_;
    vx::test::Snmpd snmpd_;
};

// Enters the private namespace and starts every agent; the reason of a
// failure in *error (also when not root).
bool StartAgents(std::vector<std::unique_ptr<DeviceAgent>>& agents, std::string* error);

// A suite whose agents (Suite::Profiles()) run for all its tests; the tests
// are skipped, with the reason, when they cannot start.
template <class Suite> class AgentSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (const DeviceProfile& p : Suite::Profiles())
            agents.push_back(std::make_unique<DeviceAgent>(p));
        if (!StartAgents(agents, &error))
            agents.clear();
    }
    static void TearDownTestSuite() { agents.clear(); }
    void SetUp() override
    {
        if (agents.empty())
            GTEST_SKIP() << "no agents: " << error;
    }
    static DeviceAgent& Agent(const std::string& address)
    {
        for (auto& a : agents)
            if (a->Profile().address == address)
                return *a;
        throw std::runtime_error("no agent at " + address);
    }

    static inline std::vector<std::unique_ptr<DeviceAgent>> agents;
    static inline std::string error;
};

} // namespace tdtest
