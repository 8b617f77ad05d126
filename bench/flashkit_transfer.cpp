// 1 MiB read and write through the firmware server's TFTP client against
// tftpd-hpa, compared in the same run with tftp-hpa's tftp and atftp against
// the same server (loopback in a private network namespace; needs root).
// The outside clients are separate programs: their times include starting
// the program (shown on its own as "start-up").
//
//   flashkit_transfer [runs per client, default 15]
#include "flashkit/tftp.h"

#include "snmpd_fixture.h"
#include "tftpd.h"

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
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr std::size_t file_size = 1 << 20;

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Median wall time of runs, in milliseconds; the check runs after each.
double median_ms(int runs, const std::function<void()>& run, const std::function<bool()>& check, bool& ok)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        ok = ok && check();
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool have(const char* program)
{
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
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
    client.set_timeout(2000);
    client.set_write_timeout(2000);
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
    // session for it has ended.
    int put_number = 0;
    auto put_name = [&] { return "put" + std::to_string(put_number) + ".bin"; };
    auto put_ok = [&] {
        const fs::path written = root / "srv" / put_name();
        for (int i = 0; i < 200 && (!fs::exists(written) || fs::file_size(written) < file_size); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        bool same = slurp(written) == content;
        ++put_number;
        return same;
    };
    auto shell = [](const std::string& command) { return [command] { (void)std::system(command.c_str()); }; };

    struct row {
        const char* name;
        double get_ms;
        double put_ms;
        bool ok;
    };
    std::vector<row> rows;
    {
        row r{"flashkit tftp", 0, 0, true};
        r.get_ms = median_ms(
            runs, [&] { client.get(ip, "image.bin", got); }, got_ok, r.ok);
        r.put_ms = median_ms(
            runs, [&] { client.put(ip, send, put_name()); }, put_ok, r.ok);
        rows.push_back(r);
    }
    if (have("tftp")) {
        row r{"tftp-hpa tftp", 0, 0, true};
        r.get_ms = median_ms(runs, shell("tftp -m binary 127.0.0.1 -c get image.bin " + got), got_ok, r.ok);
        r.put_ms = median_ms(
            runs,
            [&] {
                (void)std::system(
                    ("cd " + (root / "local").string() + " && tftp -m binary 127.0.0.1 -c put send.bin " + put_name())
                        .c_str());
            },
            put_ok, r.ok);
        rows.push_back(r);
    }
    if (have("atftp")) {
        row r{"atftp", 0, 0, true};
        r.get_ms =
            median_ms(runs, shell("atftp --get -r image.bin -l " + got + " 127.0.0.1 2>/dev/null"), got_ok, r.ok);
        r.put_ms = median_ms(
            runs,
            [&] {
                (void)std::system(("atftp --put -l " + send + " -r " + put_name() + " 127.0.0.1 2>/dev/null").c_str());
            },
            put_ok, r.ok);
        rows.push_back(r);
    }
    bool startup_ok = true;
    double startup = median_ms(
        runs, shell("tftp -V >/dev/null 2>&1"), [] { return true; }, startup_ok);

    server.reset();
    fs::remove_all(root);

    std::printf("1 MiB over loopback against tftpd-hpa, median of %d runs\n", runs);
    std::printf("%-16s %10s %10s %10s %10s  %s\n", "client", "get ms", "get MB/s", "put ms", "put MB/s", "content");
    double best_get = 1e9, best_put = 1e9;
    for (const row& r : rows) {
        std::printf("%-16s %10.1f %10.1f %10.1f %10.1f  %s\n", r.name, r.get_ms, file_size / r.get_ms / 1000.0,
                    r.put_ms, file_size / r.put_ms / 1000.0, r.ok ? "intact" : "CORRUPT");
        if (&r != &rows.front()) {
            best_get = std::min(best_get, r.get_ms);
            best_put = std::min(best_put, r.put_ms);
        }
    }
    std::printf("start-up of a client program (tftp -V): %.1f ms\n", startup);
    if (rows.size() > 1)
        std::printf("flashkit vs the faster outside client: get %.2fx, put %.2fx (goal: at most 1.10x)\n",
                    rows[0].get_ms / best_get, rows[0].put_ms / best_put);
    for (const row& r : rows) {
        if (!r.ok)
            return 1;
    }
    return 0;
}
