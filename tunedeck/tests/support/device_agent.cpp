#include "device_agent.h"

#include <algorithm>
#include <fstream>

namespace tdtest {

const std::string E = "1.3.6.1.4.1.2680.1.1";

std::string Instance(const std::string& column, int x) { return column + "." + std::to_string(x); }

std::string Instance(const std::string& column, int x, int y)
{
    return column + "." + std::to_string(x) + "." + std::to_string(y);
}

namespace {

std::string LastNumber(const std::string& address) { return address.substr(address.rfind('.') + 1); }

} // namespace

std::vector<vx::test::PassVar> DeviceVars(const DeviceProfile& p)
{
    using vx::test::PassVar;
    const std::string n = LastNumber(p.address);
    char mac[8];
    std::snprintf(mac, sizeof mac, "%02x", std::stoi(n) & 0xff);
    std::vector<PassVar> v = {
        {"1.3.6.1.2.1.1.1.0", "string", "Veltrix test device", "ro"},
        {"1.3.6.1.2.1.1.3.0", "timeticks", "123456", "ro"},
        {"1.3.6.1.2.1.1.4.0", "string", "service desk", "rw"},
        {"1.3.6.1.2.1.1.5.0", "string", "device-" + n, "rw"},
        {"1.3.6.1.2.1.1.6.0", "string", "rack " + n, "rw"},
        {"1.3.6.1.2.1.2.2.1.6.1", "octet", std::string("00 60 2b fd 00 ") + mac, "ro"},
        {"1.3.6.1.2.1.4.20.1.3.0", "ipaddress", "255.255.255.0", "ro"},
        {E + ".1.2.0", "integer", "3", "ro"},
        {E + ".1.9.0", "integer", "12345", "ro"},
        {E + ".1.10.0", "integer", "2", "ro"},
        {E + ".1.11.0", "integer", "253", "ro"},
        {E + ".2.7.0", "integer", "1", "rw"},
        {E + ".3.3.0", "integer", "0", "ro"},
        {E + ".3.4.0", "integer", "0", "ro"},
        {E + ".3.6.1.0", "integer", "1536", "rw"},
        {E + ".3.6.2.0", "integer", "1536", "ro"},
        {E + ".4.2.0", "integer", "5", "rw"},
        {E + ".4.4.0", "integer", "1", "ro"},
        {E + ".5.12.0", "integer", "0", "ro"},
        {E + ".8.1.0", "integer", "1", "ro"},
        {E + ".8.2.0", "integer", "0", "ro"},
        {E + ".8.4.0", "integer", "0", "ro"},
        {E + ".8.5.0", "integer", "3", "ro"},
        {E + ".9.1.4.0", "integer", "1", "ro"},
        {E + ".9.3.1.0", "integer", "1", "ro"},
        {E + ".9.3.3.1.2.1", "integer", "1", "ro"},
        {E + ".9.3.3.1.2.2", "integer", "0", "ro"},
        {E + ".9.3.4.0", "integer", "0", "ro"},
        {E + ".10.1.1.0", "integer", "3", "rw"},
        {E + ".10.1.2.0", "integer", "38400", "rw"},
        {E + ".10.1.3.0", "integer", "10", "rw"},
        {E + ".10.1.4.0", "octet", "01 60 2b fd 00 00", "rw"},
        {E + ".10.1.7.0", "octet", "01 60 2b fd 00 01", "rw"},
        {"1.3.6.1.4.1.2680.1.4.1.1.0", "integer", "1", "rw"},
        {"1.3.6.1.4.1.2680.1.4.1.0", "integer", "0", "rw"},
    };
    for (int i = 1; i <= 64; ++i)
        v.push_back({Instance(E + ".5.2.1.5", i), "integer", std::to_string(i % 9), "ro"});
    for (int x = 1; x <= p.tx; ++x) {
        v.push_back({Instance(E + ".7.1.1.2", x), "integer", std::to_string(1000 + x), "rw"});
        v.push_back({Instance(E + ".7.1.1.5", x), "integer", "8", "rw"});
        v.push_back({Instance(E + ".7.1.1.7", x), "integer", "0", "ro"});
        v.push_back({Instance(E + ".7.1.1.9", x), "integer", std::to_string(x), "ro"});
        v.push_back({Instance(E + ".7.1.1.10", x), "integer", "0", "rw"});
        v.push_back({Instance(E + ".7.1.1.11", x), "integer", "1", "rw"});
        for (int y = 1; y <= 8; ++y) {
            v.push_back({Instance(E + ".7.2.1.2", x, y), "integer", std::to_string(y), "rw"});
            v.push_back({Instance(E + ".7.2.1.3", x, y), "integer", "409600", "rw"});
        }
    }
    for (int x = 1; x <= p.rx; ++x) {
        v.push_back({Instance(E + ".6.1.1.2", x), "integer", std::to_string(2000 + x), "rw"});
        v.push_back({Instance(E + ".6.1.1.6", x), "integer", "1", "ro"});
        v.push_back({Instance(E + ".6.1.1.7", x), "integer", "0", "ro"});
        v.push_back({Instance(E + ".6.1.1.8", x), "integer", "10", "rw"});
        v.push_back({Instance(E + ".6.1.1.9", x), "integer", "5", "ro"});
        for (int y = 1; y <= 8; ++y) {
            v.push_back({Instance(E + ".6.2.1.2", x, y), "integer", std::to_string(32 + y), "rw"});
            v.push_back({Instance(E + ".6.2.1.3", x, y), "integer", "409600", "rw"});
        }
    }
    for (const PassVar& c : p.changes) {
        bool replaced = false;
        for (PassVar& existing : v)
            if (existing.oid == c.oid) {
                existing = c;
                replaced = true;
            }
        if (!replaced)
            v.push_back(c);
    }
    for (const std::string& gone : p.missing)
        std::erase_if(v, [&](const PassVar& x) { return x.oid == gone; });
    return v;
}

DeviceAgent::DeviceAgent(const DeviceProfile& profile) : profile_(profile)
{
    // The system group is served by the script, not by the agent itself.
    snmpd_.set_extra_args({"-I", "-system_mib,sysORTable"});
}

bool DeviceAgent::Start(std::string* error)
{
    const std::string script = snmpd_.write_pass_persist("dev", DeviceVars(profile_));
    const std::string conf = "rocommunity tagrok 127.0.0.0/8\n"
                             "rwcommunity quenmil 127.0.0.0/8\n"
                             "pass_persist -p 1 .1.3.6.1.2.1.1 " +
        script +
        "\n"
        "pass_persist -p 1 .1.3.6.1.2.1.2.2.1.6 " +
        script +
        "\n"
        "pass_persist -p 1 .1.3.6.1.2.1.4.20.1.3 " +
        script +
        "\n"
        "pass_persist .1.3.6.1.4.1.2680 " +
        script + "\n";
    return snmpd_.start({profile_.address}, conf, error);
}

std::vector<std::string> DeviceAgent::Sets() const
{
    std::vector<std::string> lines;
    std::ifstream in(snmpd_.set_log("dev"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> DeviceAgent::SetsSince(size_t from) const
{
    std::vector<std::string> all = Sets();
    all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())));
    return all;
}

std::vector<DeviceAgent::Request> DeviceAgent::Requests() const
{
    std::vector<Request> requests;
    std::ifstream in(snmpd_.request_log("dev"));
    for (Request r; in >> r.seconds >> r.command >> r.oid;)
        requests.push_back(r);
    return requests;
}

bool StartAgents(std::vector<std::unique_ptr<DeviceAgent>>& agents, std::string* error)
{
    if (!vx::test::enter_private_netns(error))
        return false;
    for (auto& agent : agents)
        if (!agent->Start(error))
            return false;
    return true;
}

} // namespace tdtest
