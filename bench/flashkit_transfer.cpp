// 1 MiB read and write through the firmware server's TFTP client against
// tftpd-hpa, compared with tftp-hpa's tftp and atftp against the same server
// (loopback in a private network namespace; needs root).
//
// The contenders take turns transfer by transfer, in an order that rotates
// from round to round, so that a change of the machine's load meets them all
// alike. Every program also has a turn per round that only starts and ends
// it (tftp -V, atftp --version, this program doing nothing).
//
// What is compared, first: the client's time for one transfer in process
// (its socket, the local file and the exchange: what a firmware job pays)
// against an outside client's time for the same transfer less its own
// start-up in the same round (program start, exit and reaping; what the
// program does besides, such as reading its arguments and making its socket,
// stays in). The ratio is taken round by round against the outside client
// with the lower median; its median and spread are shown. Second, as a
// check that being in process is no advantage in itself: the client run as
// a program of its own (this one, re-run for one transfer), against the
// outside programs, each with its start-up. The programs are started
// directly, not through a shell.
//
// Everything runs on one CPU, the one the program starts on: the client,
// the server and the outside programs alike. Left to the scheduler, a
// program started afresh and a thread that has run for a while are placed
// differently towards the server, which under load moved the same client's
// time by up to 1.6x between the two; on one CPU a turn's time is the two
// sides' work and their switches. "all-cpus" leaves the placement to the
// scheduler.
//
//   flashkit_transfer [rounds, 3 to 1000, default 25] [flashkit|tftp|atftp: that client only] [all-cpus]
// Anything else is refused with the usage line. The program runs itself as
// "flashkit_transfer --once get|put|nothing ..." for the client's turns as a
// program.
#include "flashkit/tftp.h"

#include "snmpd_fixture.h"
#include "tftpd.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr std::size_t file_size = 1 << 20;
constexpr int32_t transfer_timeout_ms = 2000;

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool have(const char* program) { return ::access(program, X_OK) == 0; }

// One timed run: wall and CPU time in milliseconds.
struct sample_t {
    double wall = 0;
    double cpu = 0;
};

double thread_cpu_ms()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Runs the program with its output dropped and waits for it; the CPU time is
// the child's. False when it could not start or did not exit with 0.
bool spawn(const std::vector<std::string>& argv, sample_t& s)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {}
    s.wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    s.cpu =
        (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The value at fraction q of sorted values (linear between neighbours).
double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const double at = q * static_cast<double>(v.size() - 1);
    const std::size_t i = static_cast<std::size_t>(at);
    const double f = at - static_cast<double>(i);
    return i + 1 < v.size() ? v[i] * (1 - f) + v[i + 1] * f : v[i];
}

struct spread_t {
    double median, p25, p75, low, high;
};

spread_t spread_of(const std::vector<double>& v)
{
    return {quantile(v, 0.5), quantile(v, 0.25), quantile(v, 0.75), quantile(v, 0), quantile(v, 1)};
}

// One contender: a transfer by one client, or a program's start-up alone.
struct contender_t {
    contender_t(
        std::string client_, std::string what_, std::function<bool(sample_t&)> run_,
        std::function<bool()> check_ = [] { return true; })
        : client(std::move(client_)), what(std::move(what_)), run(std::move(run_)), check(std::move(check_))
    {}
    std::string client;
    std::string what; // "get", "put" or "start-up"
    std::function<bool(sample_t&)> run;
    std::function<bool()> check;
    std::vector<double> wall, cpu;
    int failed = 0;
};

void print_row(const std::string& client, const std::string& what, const std::vector<double>& wall,
               const std::vector<double>& cpu, const char* note)
{
    const spread_t s = spread_of(wall);
    std::printf("%-16s %-9s %7.1f  %6.1f-%-6.1f  %6.1f-%-6.1f %7.1f %6.1f  %s\n", client.c_str(), what.c_str(),
                s.median, s.p25, s.p75, s.low, s.high, quantile(cpu, 0.5), file_size / s.median / 1000.0, note);
}

} // namespace

// One transfer by the client, for its turns as a program: "get local",
// "put local remote" or "nothing" (its start-up alone).
int run_once(int argc, char** argv)
{
    const std::string what = argc > 2 ? argv[2] : "";
    if (what == "nothing" && argc == 3)
        return 0;
    qm::ip_address_t ip;
    ip.parse("127.0.0.1");
    tftp& client = tftp::settings();
    client.set_timeout(transfer_timeout_ms);
    client.set_write_timeout(transfer_timeout_ms);
    try {
        if (what == "get" && argc == 4)
            client.get(ip, "image.bin", argv[3]);
        else if (what == "put" && argc == 5)
            client.put(ip, argv[3], argv[4]);
        else
            return 2;
    } catch (const qm::exception_t& e) {
        std::fprintf(stderr, "flashkit_transfer: %s\n", e.what());
        return 1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--once")
        return run_once(argc, argv);
    // A misspelt argument must not give a run of another size.
    int rounds = 25;
    std::string only;
    bool all_cpus = false;
    bool usage = false;
    if (argc > 1) {
        char* end = nullptr;
        const long value = std::strtol(argv[1], &end, 10);
        usage = end == argv[1] || *end != '\0' || value < 3 || value > 1000;
        rounds = static_cast<int>(value);
    }
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "all-cpus" && !all_cpus)
            all_cpus = true;
        else if ((word == "flashkit" || word == "tftp" || word == "atftp") && only.empty())
            only = word;
        else
            usage = true;
    }
    if (usage) {
        std::fprintf(stderr,
                     "usage: flashkit_transfer [rounds, 3 to 1000, default 25] [flashkit|tftp|atftp] [all-cpus]\n");
        return 2;
    }
    // Before the server starts: every process started from here on inherits it.
    const int cpu = all_cpus ? -1 : sched_getcpu();
    if (cpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) {
            std::fprintf(stderr, "flashkit_transfer: cannot keep to CPU %d\n", cpu);
            return 1;
        }
    }
    std::error_code error;
    const std::string self = fs::read_symlink("/proc/self/exe", error).string();
    std::string why;
    if (!vx::test::enter_private_netns(&why)) {
        std::fprintf(stderr, "flashkit_transfer: %s (needs root)\n", why.c_str());
        return 1;
    }
    const fs::path root = fs::temp_directory_path() / ("vx-tftp-bench-" + std::to_string(::getpid()));
    fs::create_directories(root / "srv");
    fs::create_directories(root / "local");
    fs::permissions(root / "srv", fs::perms::all);
    std::string content(file_size, '\0');
    std::mt19937 gen(1);
    for (char& c : content)
        c = static_cast<char>(gen());
    std::ofstream((root / "srv" / "image.bin").string(), std::ios::binary) << content;
    std::ofstream((root / "local" / "send.bin").string(), std::ios::binary) << content;

    // A short resend time: see the fixture.
    auto server = std::make_unique<vx::test::tftpd>((root / "srv").string(), 20000);
    qm::ip_address_t ip;
    ip.parse("127.0.0.1");
    tftp& client = tftp::settings();
    client.set_timeout(transfer_timeout_ms);
    client.set_write_timeout(transfer_timeout_ms);
    for (int i = 0; i < 100; ++i) {
        try {
            client.get(ip, "image.bin", (root / "local" / "warm.bin").string());
            break;
        } catch (const qm::exception_t&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    const std::string got = (root / "local" / "got.bin").string();
    const std::string send = (root / "local" / "send.bin").string();
    auto got_ok = [&] { return slurp(got) == content; };
    // Every write goes to its own name, and is checked once the server's
    // session for it has ended (a write of whole blocks ends on the server's
    // time-out, which writes the last block), before the next turn.
    int put_number = 0;
    auto put_name = [&] { return "put" + std::to_string(put_number) + ".bin"; };
    auto put_ok = [&] {
        const fs::path written = root / "srv" / put_name();
        for (int i = 0; i < 300 && (!fs::exists(written) || fs::file_size(written) < file_size); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        bool same = slurp(written) == content;
        ++put_number;
        return same;
    };

    std::vector<contender_t> contenders;
    auto in_process = [](std::function<void()> transfer) {
        return [transfer](sample_t& s) {
            const double cpu0 = thread_cpu_ms();
            const auto t0 = std::chrono::steady_clock::now();
            try {
                transfer();
            } catch (const qm::exception_t& e) {
                std::fprintf(stderr, "flashkit_transfer: %s\n", e.what());
                return false;
            }
            s.wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            s.cpu = thread_cpu_ms() - cpu0;
            return true;
        };
    };
    auto program = [](std::function<std::vector<std::string>()> args) {
        return [args](sample_t& s) { return spawn(args(), s); };
    };
    const std::string flashkit_name = "flashkit tftp";
    const std::string flashkit_program = "flashkit program";
    std::vector<std::string> outside;
    if (only.empty() || only == "flashkit") {
        contenders.push_back({flashkit_name, "get", in_process([&] { client.get(ip, "image.bin", got); }), got_ok});
        contenders.push_back({flashkit_name, "put", in_process([&] { client.put(ip, send, put_name()); }), put_ok});
        if (!self.empty()) {
            contenders.push_back({flashkit_program, "get", program([&] {
                                      return std::vector<std::string>{self, "--once", "get", got};
                                  }),
                                  got_ok});
            contenders.push_back({flashkit_program, "put", program([&] {
                                      return std::vector<std::string>{self, "--once", "put", send, put_name()};
                                  }),
                                  put_ok});
            contenders.push_back({flashkit_program, "start-up", program([&] {
                                      return std::vector<std::string>{self, "--once", "nothing"};
                                  })});
        }
    }
    if ((only.empty() || only == "tftp") && have("/usr/bin/tftp")) {
        outside.push_back("tftp-hpa tftp");
        const std::string name = outside.back();
        contenders.push_back({name, "get", program([&] {
                                  return std::vector<std::string>{
                                      "/usr/bin/tftp", "-m", "binary", "127.0.0.1", "-c", "get", "image.bin", got};
                              }),
                              got_ok});
        contenders.push_back({name, "put", program([&] {
                                  return std::vector<std::string>{"/usr/bin/tftp", "-m", "binary",  "127.0.0.1", "-c",
                                                                  "put",           send, put_name()};
                              }),
                              put_ok});
        contenders.push_back({name, "start-up", program([] {
                                  return std::vector<std::string>{"/usr/bin/tftp", "-V"};
                              })});
    }
    if ((only.empty() || only == "atftp") && have("/usr/bin/atftp")) {
        outside.push_back("atftp");
        const std::string name = outside.back();
        contenders.push_back({name, "get", program([&] {
                                  return std::vector<std::string>{
                                      "/usr/bin/atftp", "--get", "-r", "image.bin", "-l", got, "127.0.0.1"};
                              }),
                              got_ok});
        contenders.push_back({name, "put", program([&] {
                                  return std::vector<std::string>{"/usr/bin/atftp", "--put",    "-l", send, "-r",
                                                                  put_name(),       "127.0.0.1"};
                              }),
                              put_ok});
        contenders.push_back({name, "start-up", program([] {
                                  return std::vector<std::string>{"/usr/bin/atftp", "--version"};
                              })});
    }

    // One untimed turn each (programs and files into the page cache), then
    // the rounds: each contender once, starting one further on each round.
    for (contender_t& c : contenders) {
        sample_t s;
        if (!c.run(s) || !c.check())
            ++c.failed;
    }
    const std::size_t n = contenders.size();
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t k = 0; k < n; ++k) {
            contender_t& c = contenders[(static_cast<std::size_t>(r) + k) % n];
            sample_t s;
            const bool ran = c.run(s);
            if (!c.check() || !ran) {
                ++c.failed;
                s.wall = s.cpu = 0;
            }
            c.wall.push_back(s.wall);
            c.cpu.push_back(s.cpu);
        }
    }

    server.reset();
    fs::remove_all(root);

    auto find = [&](const std::string& client_name, const std::string& what) -> contender_t* {
        for (contender_t& c : contenders)
            if (c.client == client_name && c.what == what)
                return &c;
        return nullptr;
    };
    // A program's times less its start-up in the same round.
    auto net = [&](const std::string& client_name, const std::string& what, bool cpu) {
        const contender_t* c = find(client_name, what);
        const contender_t* start = find(client_name, "start-up");
        std::vector<double> v;
        for (int r = 0; r < rounds; ++r)
            v.push_back(cpu ? c->cpu[r] - start->cpu[r] : c->wall[r] - start->wall[r]);
        return v;
    };

    std::printf("1 MiB over loopback against tftpd-hpa, %d rounds, %s; the contenders take turns transfer by "
                "transfer\n",
                rounds, cpu >= 0 ? ("all on CPU " + std::to_string(cpu)).c_str() : "on all CPUs");
    std::printf("%-16s %-9s %7s  %-13s  %-13s %7s %6s\n", "client", "", "ms", "quartiles", "min-max", "CPU ms", "MB/s");
    bool all_ok = true;
    for (const contender_t& c : contenders) {
        all_ok = all_ok && c.failed == 0;
        const char* note = c.failed ? "FAILED or CORRUPT" : "intact";
        if (c.what == "start-up") {
            const spread_t s = spread_of(c.wall);
            std::printf("%-16s %-9s %7.1f  %6.1f-%-6.1f  %6.1f-%-6.1f %7.1f\n", c.client.c_str(), c.what.c_str(),
                        s.median, s.p25, s.p75, s.low, s.high, quantile(c.cpu, 0.5));
            continue;
        }
        print_row(c.client, c.what, c.wall, c.cpu, note);
        if (find(c.client, "start-up"))
            print_row(c.client, c.what + " net", net(c.client, c.what, false), net(c.client, c.what, true),
                      "less start-up");
    }
    // Round by round against the outside client with the lower median of
    // the same measure.
    auto ratio = [&](const char* what, const std::vector<double>& own,
                     const std::function<std::vector<double>(const std::string&)>& measure) {
        std::string best;
        std::vector<double> theirs;
        for (const std::string& o : outside) {
            std::vector<double> v = measure(o);
            if (best.empty() || quantile(v, 0.5) < quantile(theirs, 0.5)) {
                best = o;
                theirs = v;
            }
        }
        std::vector<double> ratios;
        for (int r = 0; r < rounds; ++r)
            ratios.push_back(theirs[r] > 0 ? own[r] / theirs[r] : 0);
        const spread_t s = spread_of(ratios);
        std::printf("  %s %.2fx  quartiles %.2f-%.2fx  min-max %.2f-%.2fx  (against %s)\n", what, s.median, s.p25,
                    s.p75, s.low, s.high, best.c_str());
    };
    if (!outside.empty() && find(flashkit_name, "get")) {
        std::printf("flashkit in process vs the faster outside client less its start-up, round by round "
                    "(goal: at most 1.10x):\n");
        for (const char* what : {"get", "put"})
            ratio(what, find(flashkit_name, what)->wall, [&](const std::string& o) { return net(o, what, false); });
    }
    if (!outside.empty() && find(flashkit_program, "get")) {
        std::printf("flashkit as a program vs the faster outside client, both with their start-up:\n");
        for (const char* what : {"get", "put"})
            ratio(what, find(flashkit_program, what)->wall, [&](const std::string& o) { return find(o, what)->wall; });
    }
    return all_ok ? 0 : 1;
}
