// Poll throughput of the Querant engine against a plain net-snmp get loop,
// both over the same 100 snmpd "devices" (loopback addresses in a private
// network namespace; needs root). The engine's poll period is at its
// minimum so that the workers, not the pacing, set the rate. Beside them:
// each back-end called directly by as many threads (the libraries' share)
// and the engine's hand-over between two threads alone (with the peer, the
// floor of the engine's cost per request).
//
//   querant_poll [seconds per contender, default 3] [peer|manager|snmp++: that one only]
// Anything else is refused with the usage line.
#include "querant/snmp_manager.h"
#include "querant/snmp_nt.h"
#include "querant/snmp_pp.h"

#include "snmpd_fixture.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace querant;

namespace {

constexpr int devices = 100;
constexpr int workers = 5;
const std::vector<std::vector<oid>> variables = {
    {1, 3, 6, 1, 2, 1, 1, 1, 0},       {1, 3, 6, 1, 2, 1, 1, 2, 0}, {1, 3, 6, 1, 2, 1, 1, 3, 0},
    {1, 3, 6, 1, 2, 1, 1, 4, 0},       {1, 3, 6, 1, 2, 1, 1, 5, 0}, {1, 3, 6, 1, 2, 1, 1, 6, 0},
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

// One measured stretch, or the sum of several.
struct tally_t {
    long requests = 0;
    double elapsed = 0;
    double cpu = 0;
    double system = 0;

    double per_second() const { return elapsed > 0 ? requests / elapsed : 0; }
    double cpu_us_per_request() const { return requests ? cpu / requests * 1e6 : 0; }
    double system_us_per_request() const { return requests ? system / requests * 1e6 : 0; }
};

// Measures the process while `run` lets the contender work; count() tells
// the good answers so far.
template <class Run, class Count> tally_t measure(double seconds, Run&& run, Count&& count)
{
    tally_t t;
    double sys0 = 0;
    const double cpu0 = cpu_seconds(&sys0);
    const long n0 = count();
    const auto t0 = std::chrono::steady_clock::now();
    run(seconds);
    t.requests = count() - n0;
    t.elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double sys1 = 0;
    t.cpu = cpu_seconds(&sys1) - cpu0;
    t.system = sys1 - sys0;
    return t;
}

void add(tally_t& sum, const tally_t& t)
{
    sum.requests += t.requests;
    sum.elapsed += t.elapsed;
    sum.cpu += t.cpu;
    sum.system += t.system;
}

// Five threads (as many as the engine has workers) run turn(i, w, stop)
// for `seconds`; thread w goes on from position i in the next slice.
class threads_t {
public:
    template <class Turn> void run(double seconds, Turn&& turn)
    {
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        for (int w = 0; w < workers; ++w)
            threads.emplace_back([&, w] { done += turn(next[w], w, stop); });
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        stop = true;
        for (auto& t : threads)
            t.join();
    }
    // The same, measured.
    template <class Turn> tally_t measured(double seconds, Turn&& turn)
    {
        return measure(
            seconds, [&](double s) { run(s, turn); }, [&] { return done.load(); });
    }

private:
    std::vector<size_t> next = [] {
        std::vector<size_t> v;
        for (int w = 0; w < workers; ++w)
            v.push_back(static_cast<size_t>(w));
        return v;
    }();
    std::atomic<long> done{0};
};

// The peer: every thread keeps a session per device and reads the
// variables round-robin, one synchronous get at a time.
class plain_loop_t {
public:
    plain_loop_t() : sessions(workers)
    {
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
    }
    ~plain_loop_t()
    {
        for (auto& list : sessions)
            for (void* h : list)
                snmp_sess_close(h);
    }

    tally_t run(double seconds)
    {
        return pool.measured(seconds, [&](size_t& i, int w, const std::atomic<bool>& stop) {
            long n = 0;
            for (; !stop; ++i) {
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
            return n;
        });
    }

private:
    std::vector<std::vector<void*>> sessions;
    threads_t pool;
};

// The engine hands every request over twice: the worker that goes idle
// wakes the poll thread (idle event), which wakes a worker (semaphore). Two
// threads doing only that, with the same calls, give the hand-over's own
// cost on this machine: the peer's figure plus it is the engine's floor.
class hand_over_t {
public:
    hand_over_t()
        : idle(CreateEventA(nullptr, FALSE, FALSE, nullptr)), semaphore(CreateSemaphoreA(nullptr, 0, 30, nullptr))
    {}
    ~hand_over_t()
    {
        CloseHandle(idle);
        CloseHandle(semaphore);
    }
    bool valid() const { return idle && semaphore; }

    tally_t run(double seconds)
    {
        return measure(
            seconds,
            [&](double s) {
                std::atomic<bool> stop{false};
                std::thread poller([&] {
                    // A wake always releases, so that the worker never waits on.
                    while (WaitForSingleObject(idle, INFINITE) == WAIT_OBJECT_0) {
                        ReleaseSemaphore(semaphore, 1, nullptr);
                        if (stop)
                            break;
                    }
                });
                std::thread worker([&] {
                    while (!stop) {
                        SetEvent(idle);
                        WaitForSingleObject(semaphore, INFINITE);
                        ++rounds;
                    }
                });
                std::this_thread::sleep_for(std::chrono::duration<double>(s));
                stop = true;
                worker.join();
                SetEvent(idle);
                poller.join();
                while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0) {}
                ResetEvent(idle);
            },
            [&] { return rounds.load(); });
    }

private:
    HANDLE idle;
    HANDLE semaphore;
    std::atomic<long> rounds{0};
};

// Holds the workers between an engine's turns: a stopped and restarted poll
// thread would start every turn cold, so the engine runs on and its workers
// wait here, before their next request, while the others have their turn.
class gate_t {
public:
    void set_open(bool value)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            open = value;
        }
        changed.notify_all();
    }
    void pass()
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return open; });
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
};

// Counts the requests a back-end completes with a value.
class counting_t : public snmp_base_t {
public:
    counting_t(std::unique_ptr<snmp_base_t> inner, std::atomic<long>& count, gate_t& turn)
        : backend(std::move(inner)), n(count), gate(turn)
    {}
    void get(snmp_request_t& r) override
    {
        gate.pass();
        backend->get(r);
        ++n;
    }
    void get_next(snmp_request_t& r) override
    {
        gate.pass();
        backend->get_next(r);
        ++n;
    }
    void set(snmp_request_t& r) override
    {
        gate.pass();
        backend->set(r);
        ++n;
    }

private:
    std::unique_ptr<snmp_base_t> backend;
    std::atomic<long>& n;
    gate_t& gate;
};

// A back-end called directly by as many threads as the engine has workers,
// in the engine's order (device after device, one variable at a time): the
// libraries' share of the engine's cost, without the hand-over.
class direct_run_t {
public:
    explicit direct_run_t(int backend_type) : engine(VER_PLATFORM_WIN32_NT, nullptr)
    {
        engine.timeout(3000);
        engine.retry_count(1);
        for (int w = 0; w < workers; ++w) {
            if (backend_type == 1)
                backends.push_back(std::make_unique<snmp_pp_t>(&engine));
            else
                backends.push_back(std::make_unique<snmp_nt_t>(&engine));
        }
    }

    tally_t run(double seconds)
    {
        return pool.measured(seconds, [&](size_t& i, int w, const std::atomic<bool>& stop) {
            long n = 0;
            snmp_request_t r;
            for (; !stop; i += workers) {
                r.clear();
                r.ip = ip_of(static_cast<int>(i % devices));
                r.name = oid_text(variables[(i / devices) % variables.size()]);
                try {
                    backends[w]->get(r);
                    ++n;
                } catch (const qm::exception_t&) {}
            }
            return n;
        });
    }

private:
    snmp_manager_t engine; // the settings the back-ends read
    std::vector<std::unique_ptr<snmp_base_t>> backends;
    threads_t pool;
};

// The engine over one back-end, polling all the time; its workers pass the
// gate only during the engine's turns.
class engine_run_t {
public:
    explicit engine_run_t(int backend_type)
        : engine(VER_PLATFORM_WIN32_NT,
                 [this, backend_type](int32_t, snmp_manager_t* e) -> std::unique_ptr<snmp_base_t> {
                     std::unique_ptr<snmp_base_t> inner;
                     if (backend_type == 1)
                         inner = std::make_unique<snmp_pp_t>(e);
                     else
                         inner = std::make_unique<snmp_nt_t>(e);
                     return std::make_unique<counting_t>(std::move(inner), count, gate);
                 })
    {
        engine.poll_period(100);
        engine.timeout(3000);
        engine.retry_count(1);
        engine.num_threads_set(workers);
        for (int d = 0; d < devices; ++d)
            for (auto& v : variables)
                engine.watch_list_add(ip_of(d), oid_text(v));
        engine.start();
        gate.set_open(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // warm up
        gate.set_open(false);
    }
    ~engine_run_t()
    {
        engine.stop();
        gate.set_open(true); // the workers finish what they hold
    }

    tally_t run(double seconds)
    {
        gate.set_open(true);
        const tally_t t = measure(
            seconds, [](double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); },
            [&] { return count.load(); });
        gate.set_open(false);
        return t;
    }

private:
    std::atomic<long> count{0};
    gate_t gate;
    snmp_manager_t engine;
};

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
        std::fprintf(stderr,
                     "usage: querant_poll [seconds per run, above 0 up to 600, default 3] [peer|manager|snmp++]\n");
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
    if (!agent.start(addresses,
                     "rwcommunity quenmil 127.0.0.0/8\nsysName bench-device\ndontLogTCPWrappersConnects yes\n", &why)) {
        std::fprintf(stderr, "querant_poll: snmpd: %s\n", why.c_str());
        return 1;
    }
    {
        int status = 0;
        Snmp warm(status); // the library's one-time set-up, without MIB loading
    }

    // The contenders take turns in short slices, so that a change of the
    // machine's load meets them all alike.
    constexpr double slice = 0.25;
    std::printf("%d devices x %zu variables on loopback, %d workers / threads, %.1f s per contender in %.2f s turns\n",
                devices, variables.size(), workers, seconds, slice);
    const bool with_peer = only.empty() || only == "peer";
    const bool with_manager = only.empty() || only == "manager";
    const bool with_pp = only.empty() || only == "snmp++";
    hand_over_t hand_over;
    std::unique_ptr<plain_loop_t> peer;
    std::unique_ptr<engine_run_t> manager, pp;
    std::unique_ptr<direct_run_t> manager_direct, pp_direct;
    if (with_peer)
        peer = std::make_unique<plain_loop_t>();
    if (with_manager) {
        manager = std::make_unique<engine_run_t>(2);
        manager_direct = std::make_unique<direct_run_t>(2);
    }
    if (with_pp) {
        pp = std::make_unique<engine_run_t>(1);
        pp_direct = std::make_unique<direct_run_t>(1);
    }
    tally_t peer_sum, manager_sum, pp_sum, hand_over_sum, manager_direct_sum, pp_direct_sum;
    for (double done = 0; done < seconds - 1e-9; done += slice) {
        const double s = std::min(slice, seconds - done);
        if (peer)
            add(peer_sum, peer->run(s));
        if (manager)
            add(manager_sum, manager->run(s));
        if (pp)
            add(pp_sum, pp->run(s));
        if (manager_direct)
            add(manager_direct_sum, manager_direct->run(std::min(s, 0.1)));
        if (pp_direct)
            add(pp_direct_sum, pp_direct->run(std::min(s, 0.1)));
        if (peer && hand_over.valid())
            add(hand_over_sum, hand_over.run(std::min(s, 0.1)));
    }
    auto report = [&](const char* name, const tally_t& t, bool engine) {
        std::printf("%-28s %10.0f req/s %8.1f us CPU/req (%.1f system)", name, t.per_second(), t.cpu_us_per_request(),
                    t.system_us_per_request());
        if (peer && &t != &peer_sum) {
            std::printf("   ratio to peer: %.2f x rate, %.2f x CPU", t.per_second() / peer_sum.per_second(),
                        t.cpu_us_per_request() / peer_sum.cpu_us_per_request());
            if (engine && hand_over_sum.requests)
                std::printf(" (floor %.2f x)", 1 + hand_over_sum.cpu_us_per_request() / peer_sum.cpu_us_per_request());
        }
        std::printf("\n");
    };
    if (peer)
        report("plain net-snmp get loop", peer_sum, false);
    if (hand_over_sum.requests)
        std::printf("%-28s %10.1f us per round %6.1f us CPU (idle event, then semaphore, between two threads)\n",
                    "engine's hand-over alone", hand_over_sum.elapsed / hand_over_sum.requests * 1e6,
                    hand_over_sum.cpu_us_per_request());
    if (manager) {
        report("manager library, directly", manager_direct_sum, false);
        report("engine, manager library", manager_sum, true);
    }
    if (pp) {
        report("snmp++ classes, directly", pp_direct_sum, false);
        report("engine, snmp++ classes", pp_sum, true);
    }
    return 0;
}
