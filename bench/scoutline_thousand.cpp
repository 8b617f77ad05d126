// A thousand simulated devices on the discovery engine for ten minutes, run as
// the console runs it (reservation requests and automatic assignment on):
// the frames the simulator sent against the frames the engine parsed, and the
// size and make-up of scoutline.log. Prints figures; asserts nothing.
//
//   scoutline_thousand [minutes [devices]]
//
// Needs root (two private network namespaces joined by a veth pair). The log
// goes to a scratch folder that is removed at the end.
#include <scoutline/adapter.h>

#include <qm/log_file.h>

#include <netns.h>

#include <fcntl.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

uintmax_t size_or_zero(const fs::path& path)
{
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// A counter of the host end of the veth pair, read inside its namespace.
unsigned long long link_counter(const vx::test::netns_pair& pair, const std::string& name)
{
    const std::string text =
        vx::test::command_output("ip netns exec " + pair.ns(vx::test::netns_pair::a) + " cat /sys/class/net/" +
                                 pair.interface(vx::test::netns_pair::a) + "/statistics/" + name);
    return std::strtoull(text.c_str(), nullptr, 10);
}

// Frames the kernel dropped because the receive ring of the engine's raw
// socket (the process's only packet socket) was full, since the last call.
unsigned long long ring_drops()
{
    unsigned long long drops = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
        const int fd = std::atoi(entry.path().filename().c_str());
        int domain = 0;
        socklen_t length = sizeof domain;
        if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_PACKET)
            continue;
        tpacket_stats stats{};
        length = sizeof stats;
        if (getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0)
            drops += stats.tp_drops;
    }
    return drops;
}

// Lines of the log by message (the text after the time stamp).
std::map<std::string, size_t> messages(const fs::path& log)
{
    std::map<std::string, size_t> count;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        const size_t space = line.find(' ');
        std::string text = space == std::string::npos ? line : line.substr(space + 1);
        if (text.rfind("count = [", 0) == 0)
            text = "count = [...]";
        else if (text.rfind("packet rate", 0) == 0)
            text = "packet rate(ms/packet) = [...]";
        ++count[text];
    }
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int devices = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (argc > 3 || minutes <= 0 || devices <= 0 || devices > 60000) {
        std::fprintf(stderr, "usage: scoutline_thousand [minutes [devices]]\n");
        return 2;
    }
    if (!vx::test::running_as_root()) {
        std::puts("scoutline_thousand: needs root (network namespaces); skipped");
        return 0;
    }
    vx::test::netns_pair pair("vxlh0", "vxld0");
    if (!pair.ok() || !pair.add_address(vx::test::netns_pair::a, "10.77.0.1/16")) {
        std::printf("scoutline_thousand: no namespaces: %s\n", pair.error().c_str());
        return 1;
    }
    // The engine's console text goes to standard output: silenced, the
    // figures go to the original one.
    std::fflush(stdout);
    FILE* out = fdopen(dup(1), "w");
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (!out || null < 0 || dup2(null, 1) < 0) {
        std::perror("scoutline_thousand: standard output");
        return 1;
    }
    close(null);
    setvbuf(out, nullptr, _IOLBF, 0);

    char pattern[] = "/tmp/scoutline-thousand-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("scoutline_thousand: scratch folder");
        return 1;
    }
    const fs::path scratch = pattern;
    const fs::path log = scratch / "scoutline.log";
    // The engine keeps its history beside the program: removed at the end
    // unless it was there before.
    const fs::path history = GetProgramDirectory() + "VXHistory.ini";
    const bool had_history = fs::exists(history);

    qm::vx::adapter_info_t info;
    info.name = "[0] " + pair.interface(vx::test::netns_pair::a);
    info.open_name = "\\Device\\" + pair.interface(vx::test::netns_pair::a);
    info.ip.assign_text("10.77.0.1");
    info.mask.assign_text("255.255.0.0");
    auto engine = pair.in_namespace(vx::test::netns_pair::a, [&] { return std::make_unique<qm::vx::adapter_t>(info); });
    if (!engine->is_open()) {
        std::fprintf(out, "%s\n", "scoutline_thousand: the adapter did not open");
        fs::remove_all(scratch);
        return 1;
    }
    qm::vx::server_log().file_name = log.string();
    engine->set_autoassign(true);
    engine->start();
    engine->set_send_reservation(true);

    const unsigned long long rx_before = link_counter(pair, "rx_packets");
    ring_drops(); // the kernel's count restarts at every read
    const uint64_t parsed_before = engine->frames_parsed();
    auto sim = pair.spawn(vx::test::netns_pair::b,
                          {vx::test::devsim_path(), "-i", pair.interface(vx::test::netns_pair::b), "-n",
                           std::to_string(devices), "--ip-base", "10.77.1.1"});
    if (!sim->wait_for_line("started", 10s)) {
        std::fprintf(out, "%s\n", "scoutline_thousand: the simulator did not start");
        engine.reset();
        fs::remove_all(scratch);
        return 1;
    }
    std::fprintf(out, "%d devices for %.1f minutes; scoutline.log in %s\n", devices, minutes, scratch.c_str());
    std::fprintf(out, "%8s %14s %10s %14s\n", "minute", "frames parsed", "devices", "log bytes");
    const auto start = clock_type::now();
    const auto end =
        start + std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(60 * minutes));
    for (int minute = 1; clock_type::now() < end; ++minute) {
        std::this_thread::sleep_until(std::min(end, start + minute * 1min));
        std::fprintf(out, "%8.1f %14llu %10zu %14ju\n",
                     std::chrono::duration<double>(clock_type::now() - start).count() / 60,
                     static_cast<unsigned long long>(engine->frames_parsed() - parsed_before), engine->device_count(),
                     size_or_zero(log));
    }
    const double ran = std::chrono::duration<double>(clock_type::now() - start).count();
    const uintmax_t log_size = size_or_zero(log);

    // The simulator tells what it sent once it stops; the engine then parses
    // what is still waiting in its receive ring.
    sim->kill();
    std::string sent_line;
    for (const auto& line : sim->lines())
        if (line.rfind("sent ", 0) == 0)
            sent_line = line;
    unsigned long long sent_device = 0, sent_arp = 0, sent_other = 0;
    std::sscanf(sent_line.c_str(), "sent %llu device frames, %llu arp, %llu other", &sent_device, &sent_arp,
                &sent_other);
    uint64_t parsed = engine->frames_parsed();
    for (auto quiet_since = clock_type::now(); clock_type::now() - quiet_since < 5s;) {
        std::this_thread::sleep_for(100ms);
        if (engine->frames_parsed() != parsed) {
            parsed = engine->frames_parsed();
            quiet_since = clock_type::now();
        }
    }
    parsed -= parsed_before;
    const unsigned long long received = link_counter(pair, "rx_packets") - rx_before;
    const unsigned long long dropped = link_counter(pair, "rx_dropped");
    const unsigned long long ring_dropped = ring_drops();
    engine->set_send_reservation(false);
    engine.reset();

    std::fprintf(out, "\nsimulator sent:      %llu device frames, %llu ARP, %llu other (%s)\n", sent_device, sent_arp,
                 sent_other, sent_line.empty() ? "no count line" : "its own count");
    std::fprintf(out, "host end received:   %llu frames (veth rx_dropped %llu)\n", received, dropped);
    std::fprintf(out, "engine parsed:       %llu frames (receive ring full: %llu dropped by the kernel)\n",
                 static_cast<unsigned long long>(parsed), ring_dropped);
    const long long lost = static_cast<long long>(sent_device + sent_arp) - static_cast<long long>(parsed);
    std::fprintf(out, "lost (sent - parsed): %lld\n", lost);
    std::fprintf(out, "scoutline.log:       %ju bytes after %.1f min (%.1f KB/min; rolls over past %lld bytes)\n",
                 log_size, ran / 60, static_cast<double>(log_size) / 1024 / (ran / 60), LogFile::size_limit);
    for (const auto& [text, n] : messages(log))
        std::fprintf(out, "  %8zu x %s\n", n, text.c_str());

    fs::remove_all(scratch);
    if (!had_history)
        fs::remove(history);
    return 0;
}
