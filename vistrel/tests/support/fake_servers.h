// In-process stand-ins for the discovery server and the poller, reached the
// way the console reaches the real ones (class identifiers through
// CoCreateInstance), with a scripted world and a log of every call.
#pragma once

#include <scoutline/com/interfaces.h>

#include <flashkit/flashkit_com.h>
#include <querant/querant_com.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace vistrel_test {

struct FakeDevice {
    std::string ip = "0.0.0.0";
    int age = 0;
};

struct FakeAdapter {
    std::string ip = "192.168.1.1";
    std::string subnet = "255.255.255.0";
    std::string start = "192.168.1.100";
    std::string end = "192.168.1.200";
    std::string startDefault = "192.168.1.2";
    std::string endDefault = "192.168.1.254";
    long autoassign = 0;
    long sendReservation = 0;
    bool started = false;
    std::map<std::string, FakeDevice> devices; // by MAC text
};

struct FakeChange {
    std::string name;
    std::string value;
    long type = 4;
    long valid = 1;
};

struct FakeWorld {
    std::vector<std::string> adapterNames; // as the manager lists them
    std::map<std::string, FakeAdapter> adapters;
    std::vector<std::string> calls; // "adapter.put_ip_start 10.0.0.1", "poller.watch ip oid", ...

    std::set<std::pair<std::string, std::string>> watches;  // (ip, OID)
    std::map<std::string, std::vector<FakeChange>> changes; // per IP, handed out once
    bool pollerStarted = false;

    // A call whose log text starts with the key fails with this HRESULT and
    // error description (empty: no error information).
    std::map<std::string, std::pair<HRESULT, std::string>> failures;
    HRESULT managerCreation = S_OK;
    HRESULT pollerCreation = S_OK;
    HRESULT updaterCreation = S_OK;
    std::string hardwareValue = "7"; // what the poller's one-shot read gives
    long jobDone = 1;                // what every firmware job's done gives
    bool quiet = false;              // no log and no failures: for timing runs

    // Log lines that start with the prefix.
    std::vector<std::string> Calls(const std::string& prefix) const;
};

FakeWorld& World();

// Registers the fake servers for the life of the object, over a fresh world
// with one adapter "eth0": discovery, firmware and (unless told otherwise)
// the poller, whose registered class is used instead.
class FakeServers {
public:
    explicit FakeServers(bool fakePoller = true);
    ~FakeServers();
    FakeServers(const FakeServers&) = delete;
    FakeServers& operator=(const FakeServers&) = delete;

private:
    DWORD managerCookie = 0;
    DWORD pollerCookie = 0;
    DWORD updaterCookie = 0;
};

} // namespace vistrel_test
