// Poll throughput of the Querant engine against a plain net-snmp get loop,
// both over the same 100 snmpd "devices" (loopback addresses in a private
// network namespace; needs root). The engine's poll period is at its
// minimum so that the workers, not the pacing, set the rate.
//
//   querant_poll [seconds per run, default 3] [peer|manager|snmp++: that run only]
// Anything else is refused with the usage line.
#include "querant/snmp_manager.h"
#include "querant/snmp_nt.h"
#include "querant/snmp_pp.h"

#include "snmpd_fixture.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace querant;

namespace {

constexpr int devices = 100;
constexpr int workers = 5;
const std::vector<std::vector<oid>> variables = {
    {1, 3, 6, 1, 2, 1, 1, 1, 0}, {1, 3, 6, 1, 2, 1, 1, 2, 0}, {1, 3, 6, 1, 2, 1, 1, 3, 0},
    {1, 3, 6, 1, 2, 1, 1, 4, 0}, {1, 3, 6, 1, 2, 1, 1, 5, 0}, {1, 3, 6, 1, 2, 1, 1, 6, 0},
    {1, 3, 6, 1, 2, 1, 1, 9, 1, 3, 1}, {1, 3, 6, 1, 2, 1, 1, 8, 0}, {1, 3, 6, 1, 2, 1, 2, 1, 0},
    {1, 3, 6, 1, 2, 1, 1, 9, 1, 2, 1},
};

std::string ip_of(int d) { return "127.0.0." + std::to_string(2 + d); }

std::string oid_text(const std::vector<oid>& o)
{
    std::string s;
    for (size_t i = 0; i < o.size(); ++i)
        s += (i ? "." : "") + std::to_string(o[i]);
    return s;
}

double cpu_seconds(double* system = nullptr)
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    if (system)
        *system = u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct result_t {
    double per_second;
    double cpu_us_per_request;
    double system_us_per_request; // the kernel's share of it
};

// The peer: every thread keeps a session per device and reads the
// variables round-robin, one synchronous get at a time.
result_t plain_loop(double seconds)
{
    std::vector<std::vector<void*>> sessions(workers);
    for (auto& list : sessions)
        for (int d = 0; d < devices; ++d) {
            netsnmp_session s;
            snmp_sess_init(&s);
            std::string peer = "udp:" + ip_of(d) + ":161";
            s.peername = peer.data();
            s.version = SNMP_VERSION_1;
            static char community[] = "quenmil";
            s.community = reinterpret_cast<u_char*>(community);
            s.community_len = sizeof community - 1;
            s.timeout = 1000000;
            s.retries = 1;
            list.push_back(snmp_sess_open(&s));
        }
    std::atomic<bool> stop{false};
    std::atomic<long> done{0};
    double sys0 = 0;
    const double cpu0 = cpu_seconds(&sys0);
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&, w] {
            long n = 0;
            for (size_t i = w; !stop; ++i) {
                void* h = sessions[w][(i / variables.size()) % devices];
                const auto& o = variables[i % variables.size()];
                netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
                snmp_add_null_var(pdu, o.data(), o.size());
                netsnmp_pdu* response = nullptr;
                // Good answers only, as the engine counts its requests.
                if (snmp_sess_synch_response(h, pdu, &response) == STAT_SUCCESS && response &&
                    response->errstat == SNMP_ERR_NOERROR)
                    ++n;
                if (response)
                    snmp_free_pdu(response);
            }
            done += n;
        });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double sys1 = 0;
    const double cpu = cpu_seconds(&sys1) - cpu0;
    for (auto& list : sessions)
        for (void* h : list)
            snmp_sess_close(h);
    return {done / elapsed, cpu / done * 1e6, (sys1 - sys0) / done * 1e6};
}

// Counts the requests a back-end completes with a value.
class counting_t : public snmp_base_t {
public:
    counting_t(std::unique_ptr<snmp_base_t> inner, std::atomic<long>& count) : backend(std::move(inner)), n(count) {}
    void get(snmp_request_t& r) override
    {
        backend->get(r);
        ++n;
    }
    void get_next(snmp_request_t& r) override
    {
        backend->get_next(r);
        ++n;
    }
    void set(snmp_request_t& r) override
    {
        backend->set(r);
        ++n;
    }

private:
    std::unique_ptr<snmp_base_t> backend;
    std::atomic<long>& n;
};

result_t engine_run(int backend_type, double seconds)
{
    std::atomic<long> count{0};
    snmp_manager_t engine(VER_PLATFORM_WIN32_NT, [&](int32_t, snmp_manager_t* e) -> std::unique_ptr<snmp_base_t> {
        std::unique_ptr<snmp_base_t> inner;
        if (backend_type == 1)
            inner = std::make_unique<snmp_pp_t>(e);
        else
            inner = std::make_unique<snmp_nt_t>(e);
        return std::make_unique<counting_t>(std::move(inner), count);
    });
    engine.poll_period(100);
    engine.timeout(3000);
    engine.retry_count(1);
    engine.num_threads_set(workers);
    for (int d = 0; d < devices; ++d)
        for (auto& v : variables)
            engine.watch_list_add(ip_of(d), oid_text(v));
    engine.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // warm up
    const long n0 = count;
    double sys0 = 0;
    const double cpu0 = cpu_seconds(&sys0);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long n = count - n0;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double sys1 = 0;
    const double cpu = cpu_seconds(&sys1) - cpu0;
    engine.stop();
    return {n / elapsed, cpu / n * 1e6, (sys1 - sys0) / n * 1e6};
}

} // namespace

int main(int argc, char** argv)
{
    // Unknown arguments are refused: a misspelt one must not give a
    // zero-second run.
    double seconds = 3.0;
    std::string only;
    if (argc > 1) {
        char* end = nullptr;
        seconds = std::strtod(argv[1], &end);
        if (end == argv[1] || *end != '\0' || !(seconds > 0 && seconds <= 600))
            seconds = -1;
    }
    if (argc > 2)
        only = argv[2];
    if (argc > 3 || seconds < 0 || (!only.empty() && only != "peer" && only != "manager" && only != "snmp++")) {
        std::fprintf(stderr, "usage: querant_poll [seconds per run, above 0 up to 600, default 3] [peer|manager|snmp++]\n");
        return 2;
    }
    if (!vx::test::running_as_root()) {
        std::printf("querant_poll: needs root (private network namespace); skipped\n");
        return 0;
    }
    std::string why;
    if (!vx::test::enter_private_netns(&why)) {
        std::fprintf(stderr, "querant_poll: %s\n", why.c_str());
        return 1;
    }
    vx::test::Snmpd agent;
    std::vector<std::string> addresses;
    for (int d = 0; d < devices; ++d)
        addresses.push_back(ip_of(d));
    if (!agent.start(addresses, "rwcommunity quenmil 127.0.0.0/8\nsysName bench-device\n", &why)) {
        std::fprintf(stderr, "querant_poll: snmpd: %s\n", why.c_str());
        return 1;
    }
    {
        int status = 0;
        Snmp warm(status); // the library's one-time set-up, without MIB loading
    }

    std::printf("%d devices x %zu variables on loopback, %d workers / threads, %.1f s per run\n", devices,
                variables.size(), workers, seconds);
    result_t peer{};
    if (only.empty() || only == "peer") {
        peer = plain_loop(seconds);
        std::printf("%-28s %10.0f req/s %8.1f us CPU/req (%.1f system)\n", "plain net-snmp get loop",
                    peer.per_second, peer.cpu_us_per_request, peer.system_us_per_request);
    }
    for (int type : {2, 1}) {
        if (!only.empty() && only != (type == 2 ? "manager" : "snmp++"))
            continue;
        const result_t r = engine_run(type, seconds);
        std::printf("%-28s %10.0f req/s %8.1f us CPU/req (%.1f system)",
                    type == 2 ? "engine, manager library" : "engine, snmp++ classes", r.per_second,
                    r.cpu_us_per_request, r.system_us_per_request);
        if (only.empty())
            std::printf("   ratio to peer: %.2f x rate, %.2f x CPU", r.per_second / peer.per_second,
                        r.cpu_us_per_request / peer.cpu_us_per_request);
        std::printf("\n");
    }
    return 0;
}
