// Test devices served by net-snmp's snmpd: each device is one agent on its
// own loopback address inside the test's private network namespace, with
// the device variables of a configurable number of transmitter and receiver
// bundles served by a pass_persist script. Root only.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "snmpd_fixture.h"

namespace tdtest {

extern const std::string E;  // 1.3.6.1.4.1.2680.1.1

std::string Instance(const std::string& column, int x);
std::string Instance(const std::string& column, int x, int y);

struct DeviceProfile {
    std::string address;  // 127.0.0.N
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
    // Accepted sets so far, "oid type value" per line.
    std::vector<std::string> Sets() const;

private:
    DeviceProfile profile_;
    vx::test::Snmpd snmpd_;
};

// Enters the private namespace and starts every agent; the reason of a
// failure in *error (also when not root).
bool StartAgents(std::vector<std::unique_ptr<DeviceAgent>>& agents, std::string* error);

} // namespace tdtest
