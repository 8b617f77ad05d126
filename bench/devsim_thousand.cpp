// A thousand simulated devices in one namespace: time until every device is
// announced and answers SNMP, then the simulator's CPU while the host polls
// every device once a second (as the console's poller would), against the
// simulator idle (announcements only) and against net-snmp's snmpd answering
// the same gets, in the same run. Prints figures; asserts nothing on time.
//
// Needs root (two private network namespaces joined by a veth pair).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "l2/frames.h"
#include "l2/link.h"
#include "netns.h"
#include "snmp/engine.h"

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using vx::test::netns_pair;

namespace {

constexpr int devices = 1000;
constexpr uint32_t first_device = 0x0A4D0101; // 10.77.1.1
constexpr double poll_seconds = 5.0;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// CPU seconds a single-threaded process has run so far (the scheduler's
// count in nanoseconds, finer than the tick counts of /proc/PID/stat).
double cpu_seconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long ns = 0;
    in >> ns;
    return static_cast<double>(ns) / 1e9;
}

// An SNMPv1 get of sysUpTime with the request id `id`.
std::vector<uint8_t> get_request(long id)
{
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
    pdu->version = SNMP_VERSION_1;
    pdu->reqid = id;
    oid name[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
    snmp_add_null_var(pdu, name, 9);
    auto message = devsim::snmp::encode(pdu, "tagrok");
    snmp_free_pdu(pdu);
    return message;
}

class poller {
public:
    poller()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        int size = 4 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        // Gets to unresolved addresses wait for ARP in the send buffer.
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size);
    }
    ~poller() { ::close(fd_); }
    void send(uint32_t ip, long id)
    {
        auto message = get_request(id);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(161);
        to.sin_addr.s_addr = htonl(ip);
        ::sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // Request ids of the answers that arrive within `wait`.
    std::vector<long> receive(std::chrono::milliseconds wait)
    {
        std::vector<long> ids;
        auto until = clock_type::now() + wait;
        uint8_t buffer[1500];
        while (clock_type::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 10);
            ssize_t got;
            while ((got = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) {
                std::string community;
                auto pdu = devsim::snmp::decode(buffer, static_cast<size_t>(got), community);
                if (pdu && pdu->errstat == 0)
                    ids.push_back(pdu->reqid);
            }
        }
        return ids;
    }

private:
    int fd_ = -1;
};

// Sends `rate` gets per second, spread evenly and taking the addresses in
// turn, for `seconds`; returns the number of answers.
size_t poll_evenly(const std::vector<uint32_t>& addresses, double rate, double seconds)
{
    poller p;
    size_t answers = 0;
    auto start = clock_type::now();
    long id = 1;
    double interval = 1.0 / rate;
    size_t next = 0;
    while (seconds_since(start) < seconds) {
        while (static_cast<double>(id - 1) * interval < seconds_since(start))
            p.send(addresses[next++ % addresses.size()], id++);
        answers += p.receive(2ms).size();
    }
    answers += p.receive(500ms).size();
    return answers;
}

} // namespace

int main()
{
    if (!vx::test::running_as_root()) {
        std::puts("devsim_thousand: needs root");
        return 0;
    }
    netns_pair pair("vxh0", "vxd0");
    if (!pair.ok() || !pair.add_address(netns_pair::a, "10.77.0.1/16")) {
        std::printf("devsim_thousand: no namespaces: %s\n", pair.error().c_str());
        return 1;
    }
    std::vector<uint32_t> addresses;
    for (int k = 0; k < devices; ++k)
        addresses.push_back(first_device + static_cast<uint32_t>(k));

    // Announcements: every MAC seen once on the host end.
    auto start = clock_type::now();
    std::unique_ptr<vx::test::background_process> devsim;
    std::set<devsim::mac_t> announced;
    double announced_after = 0;
    pair.in_namespace(netns_pair::a, [&] {
        devsim::l2::link_t host("vxh0");
        devsim = pair.spawn(netns_pair::b,
                            {vx::test::devsim_path(), "-i", "vxd0", "-n", std::to_string(devices), "--families",
                             "alder,alderamd,birch,birchamd,cedar,dogwood", "--ip-base", "10.77.1.1"});
        uint8_t frame[2048];
        while (announced.size() < devices && seconds_since(start) < 20) {
            pollfd p{host.fd(), POLLIN, 0};
            ::poll(&p, 1, 50);
            long got;
            while ((got = host.receive(frame, sizeof frame)) >= 0)
                if (!devsim::announced_ips(frame, static_cast<size_t>(got)).empty())
                    announced.insert(*devsim::parse_mac(devsim::mac_text(devsim::parse_ethernet(frame, 14)->src)));
        }
        announced_after = seconds_since(start);
    });
    std::printf("devices announced:          %zu of %d after %.2f s\n", announced.size(), devices, announced_after);

    // Every device answers SNMP (the first round also waits for ARP).
    size_t answering = 0;
    double answering_after = 0;
    pair.in_namespace(netns_pair::a, [&] {
        poller p;
        std::set<long> seen;
        auto begin = clock_type::now();
        for (int round = 0; round < 10 && seen.size() < devices; ++round) {
            for (int k = 0; k < devices; ++k)
                if (!seen.count(k + 1))
                    p.send(addresses[static_cast<size_t>(k)], k + 1);
            for (long id : p.receive(1000ms))
                seen.insert(id);
            std::printf("  round %d: %zu answering\n", round + 1, seen.size());
        }
        answering = seen.size();
        answering_after = seconds_since(begin);
    });
    std::printf("devices answering SNMP:     %zu of %d after %.2f s\n", answering, devices, answering_after);

    // Idle: announcements only.
    double cpu0 = cpu_seconds(devsim->pid());
    std::this_thread::sleep_for(3s);
    double idle = (cpu_seconds(devsim->pid()) - cpu0) / 3.0;

    // Polled: every device once a second.
    size_t answers = 0;
    cpu0 = cpu_seconds(devsim->pid());
    auto t0 = clock_type::now();
    pair.in_namespace(netns_pair::a, [&] { answers = poll_evenly(addresses, devices, poll_seconds); });
    double wall = seconds_since(t0);
    double polled_cpu = cpu_seconds(devsim->pid()) - cpu0;
    std::printf("simulator CPU, idle:        %.1f %% of one core (1000 announcements/s)\n", 100 * idle);
    std::printf("simulator CPU, polled:      %.1f %% of one core (%zu answers to %d gets/s for %.0f s)\n",
                100 * polled_cpu / wall, answers, devices, poll_seconds);
    double per_answer = answers ? (polled_cpu - idle * wall) / static_cast<double>(answers) : 0;
    std::printf("simulator CPU per answer:   %.1f us\n", 1e6 * per_answer);
    devsim.reset();

    // The peer: one snmpd in the host namespace answering the same gets.
    std::string folder = "/tmp/devsim-thousand-" + std::to_string(::getpid());
    vx::test::run_command("mkdir -p " + folder + " && printf 'rocommunity tagrok\\n' > " + folder + "/snmpd.conf");
    auto snmpd = pair.spawn(netns_pair::a,
                            {"snmpd", "-f", "-Lf", "/dev/null", "-C", "-c", folder + "/snmpd.conf", "-p",
                             folder + "/snmpd.pid", "udp:127.0.0.1:161"});
    std::this_thread::sleep_for(1s);
    cpu0 = cpu_seconds(snmpd->pid());
    t0 = clock_type::now();
    size_t peer_answers = 0;
    pair.in_namespace(netns_pair::a, [&] { peer_answers = poll_evenly({0x7F000001}, devices, poll_seconds); });
    wall = seconds_since(t0);
    double peer_cpu = cpu_seconds(snmpd->pid()) - cpu0;
    std::printf("snmpd CPU, same gets:       %.1f %% of one core (%zu answers to %d gets/s for %.0f s)\n",
                100 * peer_cpu / wall, peer_answers, devices, poll_seconds);
    if (peer_answers && answers)
        std::printf("CPU per answer, simulator / snmpd: %.2f\n",
                    per_answer / (peer_cpu / static_cast<double>(peer_answers)));
    snmpd.reset();
    vx::test::run_command("rm -rf " + folder);
    return 0;
}
