// Test support: a real net-snmp snmpd on loopback addresses inside the test
// program's own network namespace, and a small pass_persist agent script
// that serves a table of variables of every type.
//
// Typical use (root only; skip otherwise):
//   static void SetUpTestSuite() { vx::test::enter_private_netns(); }
//   vx::test::Snmpd agent;
//   std::string script = agent.write_pass_persist("dev", vars);
//   agent.start({"127.0.0.2"}, "rocommunity tagrok\npass_persist .1.3.6.1.4.1.2680 " + script + "\n");
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vx::test {

bool running_as_root();

// Moves the process into a new network namespace with the loopback interface
// up (all of 127.0.0.0/8 is then local, and port 161 is free). Call it from
// the main thread before other threads start; later calls do nothing.
// Returns false, with the reason in *error, when it cannot be done.
bool enter_private_netns(std::string* error = nullptr);

// The same for one new thread that runs fn there (threads fn starts stay in
// the namespace); the rest of the process stays where it is. Returns the
// reason when the namespace cannot be made (fn then does not run), else "".
std::string in_private_netns(const std::function<void()>& fn);

// One variable served by the pass_persist script.
struct PassVar {
    std::string oid;   // numeric, without leading dot
    std::string type;  // integer, string, octet (value: hex pairs "00 60 2b"), gauge, counter,
                       // timeticks, ipaddress, objectid, opaque (hex pairs), counter64
    std::string value; // as the type expects
    // "ro": a set answers not-writable; "rw": a set of the same type is stored
    // (a different type answers wrong-type); any other text is sent as the
    // set's answer (e.g. "commit-failed", "wrong-value").
    std::string access = "ro";
};

class Snmpd {
public:
    Snmpd();
    ~Snmpd(); // stops the agent and removes its folder
    Snmpd(const Snmpd&) = delete;
    Snmpd& operator=(const Snmpd&) = delete;

    // Extra command-line arguments, e.g. {"-I", "-system_mib"}. Set before start.
    void set_extra_args(std::vector<std::string> args) { extra_args_ = std::move(args); }

    // Writes an executable pass_persist script serving `vars` into the
    // agent's folder and returns its path. Every accepted set is appended as
    // "oid type value" to the file returned by set_log(name).
    std::string write_pass_persist(const std::string& name, const std::vector<PassVar>& vars);
    std::string set_log(const std::string& name) const;
    // Every request the script reads, as it reads it (before it answers):
    // "seconds command oid" per line, seconds of the monotonic clock.
    std::string request_log(const std::string& name) const;

    // Starts snmpd listening on UDP `addresses` ("127.0.0.2" or
    // "127.0.0.2:1161"; port 161 when none) with `config` lines after the
    // agentaddress line, and waits until every address is bound. The agent
    // is killed when the calling thread ends: start it from the main thread.
    bool start(const std::vector<std::string>& addresses, const std::string& config, std::string* error = nullptr,
               int wait_ms = 30000);
    void stop();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& dir() const { return dir_; }
    std::string log() const; // what the agent logged so far

private:
    std::string dir_;
    std::vector<std::string> extra_args_;
    pid_t pid_ = -1;
};

// Enters a private network namespace and starts one agent on 127.0.0.2 that
// serves `vars` under .1.3.6.1.4.1.99999 and the system group in the view
// "dev", with `access` (community lines and any further configuration).
// Returns null, with the reason in *error, when any step fails.
Snmpd* start_device_agent(const std::vector<PassVar>& vars, const std::string& access, std::string* error);

} // namespace vx::test
