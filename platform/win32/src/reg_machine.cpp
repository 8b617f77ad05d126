// The machine view: Linux network interfaces in the Windows NT network-card
// layout of HKEY_LOCAL_MACHINE.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <unistd.h>

#include "reg_hive.h"
#include "win32/registry.h"

namespace {

std::string read_small_file(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f)
        return {};
    char buf[256];
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    std::string s(buf, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// ARPHRD type from /sys, -1 when unknown.
int sys_link_type(const std::string& name)
{
    std::string t = read_small_file("/sys/class/net/" + name + "/type");
    if (t.empty())
        return -1;
    return std::atoi(t.c_str());
}

std::string driver_name(const std::string& name)
{
    char buf[512];
    std::string link = "/sys/class/net/" + name + "/device/driver";
    ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return name;
    std::string target(buf, static_cast<size_t>(n));
    size_t slash = target.rfind('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    return base.empty() ? name : base;
}

std::string dotted(const sockaddr* sa)
{
    if (!sa || sa->sa_family != AF_INET)
        return {};
    char buf[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
    inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf);
    return buf;
}

} // namespace

std::vector<vx_net_adapter> vx_registry_live_adapters()
{
    std::map<std::string, vx_net_adapter> found;
    std::map<std::string, bool> ethernet;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name || (a->ifa_flags & IFF_LOOPBACK))
            continue;
        std::string name = a->ifa_name;
        vx_net_adapter& ad = found[name];
        ad.name = name;
        if (!a->ifa_addr)
            continue;
        if (a->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
            ethernet[name] = ll->sll_hatype == ARPHRD_ETHER;
            if (ll->sll_halen == 6)
                std::memcpy(ad.mac, ll->sll_addr, 6);
        } else if (a->ifa_addr->sa_family == AF_INET && ad.ip.empty()) {
            ad.ip = dotted(a->ifa_addr);
            ad.mask = dotted(a->ifa_netmask);
        }
    }
    freeifaddrs(list);
    std::vector<vx_net_adapter> out;
    for (auto& [name, ad] : found) {
        auto e = ethernet.find(name);
        bool is_ether = e != ethernet.end() ? e->second : sys_link_type(name) == ARPHRD_ETHER;
        if (!is_ether || name.find('\\') != std::string::npos)
            continue; // a backslash would split the key path
        ad.description = driver_name(name);
        out.push_back(ad);
    }
    return out; // std::map keeps name order
}

std::string vx_registry_machine_text(const std::vector<vx_net_adapter>& adapters)
{
    using vx::reg::encode_key_name;
    using vx::reg::quote_text;
    auto sz = [](const std::string& s) { return "sz:" + quote_text(s + std::string(1, '\0')); };
    auto multi = [](const std::string& s) {
        return "multi_sz:" + quote_text((s.empty() ? std::string("0.0.0.0") : s) + std::string(2, '\0'));
    };
    const std::string cards = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
    std::string out = std::string(vx::reg::kHiveHeader) + "\n";
    out += "[" + cards + "]\n";
    out += "[SYSTEM\\CurrentControlSet\\Services]\n";
    // Subkeys are numbered from 1 and padded so that their (name-ordered)
    // enumeration follows the adapter order.
    size_t width = std::to_string(adapters.size()).size();
    for (size_t i = 0; i < adapters.size(); ++i) {
        const vx_net_adapter& a = adapters[i];
        std::string number = std::to_string(i + 1);
        number.insert(0, width - number.size(), '0');
        out += "[" + cards + "\\" + number + "]\n";
        out += "\"Description\"=" + sz(a.description.empty() ? a.name : a.description) + "\n";
        out += "\"Title\"=" + sz(a.name) + "\n";
        out += "\"ServiceName\"=" + sz(a.name) + "\n";
        out += "[SYSTEM\\CurrentControlSet\\Services\\" + encode_key_name(a.name) + "\\Parameters\\Tcpip]\n";
        out += "\"EnableDHCP\"=dword:00000000\n";
        out += "\"IPAddress\"=" + multi(a.ip) + "\n";
        out += "\"SubnetMask\"=" + multi(a.mask) + "\n";
    }
    return out;
}
