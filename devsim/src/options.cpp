#include "options.h"

#include <cstdlib>
#include <fstream>

#include "faults.h"

namespace devsim {
namespace {

bool parse_int(const std::string& text, long min, long max, long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max)
        return false;
    out = value;
    return true;
}

// "K=VALUE" -> K, VALUE
bool split_indexed(const std::string& text, int& index, std::string& value)
{
    auto eq = text.find('=');
    if (eq == std::string::npos)
        return false;
    long k;
    if (!parse_int(text.substr(0, eq), 0, 65535, k))
        return false;
    index = static_cast<int>(k);
    value = text.substr(eq + 1);
    return true;
}

// "K=VALUE" or "all=VALUE" -> K (-1 for all), VALUE
bool split_target(const std::string& text, int& index, std::string& value)
{
    if (text.rfind("all=", 0) == 0) {
        index = -1;
        value = text.substr(4);
        return true;
    }
    return split_indexed(text, index, value);
}

// Options from a file, one per line: "name value" for "--name value".
bool read_config(const std::string& path, std::vector<std::string>& out, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        auto begin = line.find_first_not_of(" \t\r");
        if (begin == std::string::npos || line[begin] == '#')
            continue;
        auto end = line.find_last_not_of(" \t\r");
        line = line.substr(begin, end - begin + 1);
        auto gap = line.find_first_of(" \t");
        out.push_back("--" + line.substr(0, gap));
        if (gap != std::string::npos)
            out.push_back(line.substr(line.find_first_not_of(" \t", gap)));
    }
    return true;
}

mac_t mac_plus(mac_t mac, uint32_t k)
{
    uint32_t low = static_cast<uint32_t>(mac[3]) << 16 | mac[4] << 8 | mac[5];
    low = (low + k) & 0xFFFFFF;
    mac[3] = static_cast<uint8_t>(low >> 16);
    mac[4] = static_cast<uint8_t>(low >> 8);
    mac[5] = static_cast<uint8_t>(low);
    return mac;
}

} // namespace

std::string usage_text()
{
    std::string quirks;
    for (quirk q : all_quirks())
        quirks += std::string(quirks.empty() ? "" : ", ") + quirk_name(q);
    std::string families;
    for (family_t f : all_families())
        families += std::string(families.empty() ? "" : ",") + family_name(f);
    return "Usage: devsim --interface IF [options]\n"
           "       devsim control PATH COMMAND...   send one command to a running simulator\n"
           "Simulates audio devices on an Ethernet interface: announcements, reservation\n"
           "requests, RARP address assignment and ARP at layer 2, and an SNMPv1 agent per\n"
           "device on its own address (communities tagrok and quenmil) and a TFTP server\n"
           "over its flash. \"devsim images --help\" tells how to make firmware images.\n"
           "\n"
           "  -i, --interface IF     interface the devices live on (required; needs CAP_NET_RAW)\n"
           "  -n, --devices N        number of devices (default 1)\n"
           "      --mac-base MAC     MAC of device 0; device K adds K to its last three bytes\n"
           "                         (default 00:60:2b:10:00:01)\n"
           "      --mac K=MAC        give device K this MAC (the server's own MAC spoofs it)\n"
           "      --ip K=ADDR        device K starts with ADDR (default 0.0.0.0: unaddressed);\n"
           "                         two devices on one address: --ip 0=ADDR --ip 1=ADDR\n"
           "      --quirk K=NAME     give device K an odd behaviour (repeatable):\n"
           "                         ignore-rarp      never adopts a RARP-assigned address\n"
           "                         announce-zero    announces 0.0.0.0 but answers ARP for its address\n"
           "                         broadcast        announces to ff:ff:ff:ff:ff:ff\n"
           "                         zero-length-tag  a tag of length 0, type 5, before the IP tag\n"
           "                         truncated-tag    a tag running past the end of the frame\n"
           "                         short-ip-tag     an IP tag of length 2 (half an address)\n"
           "                         two-ip-tags      IP tag 10.255.255.254, then the real one\n"
           "                         tags-before-ip   other tags before the IP tag\n"
           "                         bad-byte15       byte 15 is 3 instead of 2\n"
           "                         kind0            kind 0 frame that passes the receive filter\n"
           "      --squatter ADDR[=MAC]\n"
           "                         a station that is no device but answers ARP for ADDR\n"
           "                         (default MAC 02:00:00:00:ff:NN, NN counting from 01)\n"
           "      --families LIST    families of the devices, round robin (default alder), of\n"
           "                         " +
        families +
        "\n"
        "      --family K=NAME    device K is of family NAME\n"
        "      --bundles K=TX/RX  device K has TX transmitter and RX receiver bundles (0..16;\n"
        "                         default by family); K may be \"all\"\n"
        "      --ip-base ADDR     device K starts with address ADDR + K (--ip overrides it)\n"
        "      --firmware K=IMAGE|VERSION\n"
        "                         load device K's (or \"all\") flash from an image file, or from a\n"
        "                         generated image of its family with VERSION (default: the family's)\n"
        "      --fault K=NAME[=VALUE]\n"
        "                         give device K (or \"all\") a fault switch (repeatable):\n" +
        faults_help() +
        "      --control PATH     listen for commands on a Unix socket at PATH (see devsim/README.md)\n"
        "      --config FILE      more options from FILE, one per line without the dashes\n"
        "      --period MS        announcement period in milliseconds (default 1000)\n"
        "      --state-file PATH  rewrite PATH after every change: lines \"interface IF\",\n"
        "                         \"reservations N\", \"device K MAC IP\", \"squatter MAC IP\"\n"
        "      --verbose          also print a line per announcement\n"
        "  -h, --help             this text\n"
        "\n"
        "Devices announce at start, every period and after each reservation request.\n"
        "Standard output gets one line per event (the state file is rewritten first):\n"
        "  started IF N                       running with N devices\n"
        "  device K MAC IP                    the devices, after \"started\"\n"
        "  reservation HEX                    a reservation request, the whole frame\n"
        "  assigned MAC IP                    a device adopted a RARP-assigned address\n"
        "  rarp-ignored MAC IP                an ignore-rarp device got a RARP reply\n"
        "  arp-request FROM IP TARGET-HW      an ARP request was seen\n"
        "  arp-reply MAC IP device|squatter   it was answered\n"
        "  announce MAC IP                    an announcement (--verbose)\n"
        "  send-failed MAC IP                 an announcement could not be sent\n"
        "  snmp-set K OID=VALUE               a set changed a variable of device K\n"
        "  fault K NAME VALUE | fault-cleared K NAME   a fault switch changed\n"
        "  tftp K rrq|wrq FILE IP:PORT        a TFTP read or write request\n"
        "  tftp K sent FILE IP:PORT           a read ended (its last block acknowledged)\n"
        "  tftp K error CODE TEXT IP:PORT     an ERROR packet went out\n"
        "  tftp K dropped|duplicated OP BLOCK a TFTP fault switch acted\n"
        "  firmware K bank B VERSION hardware H | firmware K none\n"
        "                                     what device K runs after its flash changed\n"
        "  dsp K VERSION flash-word W         its DSP program after its flash changed\n"
        "  stopped                            on SIGTERM or SIGINT\n"
        "Known quirks: " +
        quirks + "\n";
}

std::optional<options_t> parse_options(const std::vector<std::string>& given, std::string& error)
{
    options_t o;
    std::vector<std::string> args;
    for (size_t i = 0; i < given.size(); ++i) {
        if (given[i] != "--config") {
            args.push_back(given[i]);
        } else if (i + 1 >= given.size()) {
            error = "missing value for --config";
            return std::nullopt;
        } else if (!read_config(given[++i], args, error)) {
            return std::nullopt;
        }
    }
    auto fail = [&](const std::string& text) -> std::optional<options_t> {
        error = text;
        return std::nullopt;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = "missing value for " + a;
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "-i" || a == "--interface") {
            if (!value(o.interface))
                return std::nullopt;
        } else if (a == "-n" || a == "--devices") {
            long n;
            if (!value(v))
                return std::nullopt;
            if (!parse_int(v, 0, 4096, n))
                return fail("bad device count: " + v);
            o.devices = static_cast<int>(n);
        } else if (a == "--mac-base") {
            if (!value(v))
                return std::nullopt;
            auto mac = parse_mac(v);
            if (!mac)
                return fail("bad MAC: " + v);
            o.mac_base = *mac;
        } else if (a == "--mac" || a == "--ip" || a == "--quirk") {
            if (!value(v))
                return std::nullopt;
            int k;
            std::string text;
            if (!split_indexed(v, k, text))
                return fail("expected K=VALUE after " + a + ": " + v);
            if (a == "--mac") {
                auto mac = parse_mac(text);
                if (!mac)
                    return fail("bad MAC: " + text);
                o.macs.emplace_back(k, *mac);
            } else if (a == "--ip") {
                auto ip = parse_ip(text);
                if (!ip)
                    return fail("bad address: " + text);
                o.ips.emplace_back(k, *ip);
            } else {
                auto q = parse_quirk(text);
                if (!q)
                    return fail("unknown quirk: " + text);
                o.quirks.emplace_back(k, *q);
            }
        } else if (a == "--squatter") {
            if (!value(v))
                return std::nullopt;
            squatter_t s;
            auto eq = v.find('=');
            auto ip = parse_ip(v.substr(0, eq));
            if (!ip)
                return fail("bad address: " + v);
            s.ip = *ip;
            if (eq != std::string::npos) {
                auto mac = parse_mac(v.substr(eq + 1));
                if (!mac)
                    return fail("bad MAC: " + v);
                s.mac = *mac;
            } else {
                s.mac = {0x02, 0x00, 0x00, 0x00, 0xFF, static_cast<uint8_t>(o.squatters.size() + 1)};
            }
            o.squatters.push_back(s);
        } else if (a == "--period") {
            long ms;
            if (!value(v))
                return std::nullopt;
            if (!parse_int(v, 1, 3600000, ms))
                return fail("bad period: " + v);
            o.period = std::chrono::milliseconds(ms);
        } else if (a == "--families") {
            if (!value(v))
                return std::nullopt;
            o.families.clear();
            size_t start = 0;
            for (;;) {
                auto comma = v.find(',', start);
                auto f = parse_family(v.substr(start, comma - start));
                if (!f)
                    return fail("unknown family in: " + v);
                o.families.push_back(*f);
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        } else if (a == "--firmware") {
            if (!value(v))
                return std::nullopt;
            int k;
            std::string source;
            if (!split_target(v, k, source) || source.empty())
                return fail("expected K=IMAGE|VERSION after " + a + ": " + v);
            o.firmware.emplace_back(k, source);
        } else if (a == "--family" || a == "--bundles" || a == "--fault") {
            if (!value(v))
                return std::nullopt;
            int k;
            std::string text;
            if (!split_target(v, k, text))
                return fail("expected K=VALUE after " + a + ": " + v);
            if (a == "--family") {
                auto f = parse_family(text);
                if (!f)
                    return fail("unknown family: " + text);
                o.family.emplace_back(k, *f);
            } else if (a == "--bundles") {
                auto slash = text.find('/');
                long tx, rx;
                if (slash == std::string::npos || !parse_int(text.substr(0, slash), 0, 16, tx) ||
                    !parse_int(text.substr(slash + 1), 0, 16, rx))
                    return fail("bad bundle counts (TX/RX, each 0..16): " + text);
                o.bundles.emplace_back(k, std::make_pair(static_cast<int>(tx), static_cast<int>(rx)));
            } else {
                auto fault = parse_fault(text, error);
                if (!fault)
                    return std::nullopt;
                o.faults.emplace_back(k, *fault);
            }
        } else if (a == "--ip-base") {
            if (!value(v))
                return std::nullopt;
            auto ip = parse_ip(v);
            if (!ip || *ip == 0)
                return fail("bad address: " + v);
            o.ip_base = *ip;
        } else if (a == "--control") {
            if (!value(o.control))
                return std::nullopt;
        } else if (a == "--state-file") {
            if (!value(o.state_file))
                return std::nullopt;
        } else {
            return fail("unknown option: " + a);
        }
    }
    if (o.help)
        return o;
    if (o.interface.empty())
        return fail("--interface is required");
    auto check = [&](int k) {
        if (k >= o.devices) {
            error = "device index " + std::to_string(k) + " out of range";
            return false;
        }
        return true;
    };
    for (auto& [k, mac] : o.macs)
        if (!check(k))
            return std::nullopt;
    for (auto& [k, ip] : o.ips)
        if (!check(k))
            return std::nullopt;
    for (auto& [k, q] : o.quirks)
        if (!check(k))
            return std::nullopt;
    for (auto& [k, f] : o.family)
        if (!check(k))
            return std::nullopt;
    for (auto& [k, b] : o.bundles)
        if (!check(k))
            return std::nullopt;
    for (auto& [k, f] : o.faults)
        if (!check(k))
            return std::nullopt;
    for (auto& [k, f] : o.firmware)
        if (!check(k))
            return std::nullopt;
    return o;
}

world_t make_world(const options_t& o)
{
    world_t world;
    world.interface = o.interface;
    for (int k = 0; k < o.devices; ++k) {
        device_t d;
        d.index = k;
        d.mac = mac_plus(o.mac_base, static_cast<uint32_t>(k));
        d.set_family(o.families.empty() ? family_t::alder : o.families[static_cast<size_t>(k) % o.families.size()]);
        if (o.ip_base)
            d.ip = o.ip_base + static_cast<uint32_t>(k);
        world.devices.push_back(d);
    }
    // Settings for one device (K) or all (-1), in the order given.
    auto each = [&world](int k, auto fn) {
        for (auto& d : world.devices)
            if (k < 0 || d.index == k)
                fn(d);
    };
    for (const auto& entry : o.family)
        each(entry.first, [&](device_t& d) { d.set_family(entry.second); });
    for (const auto& entry : o.bundles)
        each(entry.first, [&](device_t& d) {
            d.transmitters = entry.second.first;
            d.receivers = entry.second.second;
        });
    for (const auto& entry : o.faults)
        each(entry.first, [&](device_t& d) { d.faults[entry.second.first] = entry.second.second; });
    for (auto& [k, mac] : o.macs)
        world.devices[k].mac = mac;
    for (auto& [k, ip] : o.ips)
        world.devices[k].ip = ip;
    for (auto& [k, q] : o.quirks)
        world.devices[k].quirks.insert(q);
    world.squatters = o.squatters;
    return world;
}

} // namespace devsim
