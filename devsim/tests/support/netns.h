// Test support for network-namespace tests: two private namespaces joined by a
// veth pair, commands run inside them in the background, and functions run
// inside them on a thread or in a child process. Needs root.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

namespace vx::test {

bool running_as_root();

// Path of the device simulator built with this tree.
std::string devsim_path();

// Runs a shell command; returns its exit status (-1 when it could not run).
int run_command(const std::string& command);
// Runs a shell command; returns what it wrote to standard output and error.
std::string command_output(const std::string& command);

// A program started in the background with its standard output captured
// line by line. The destructor kills it (SIGTERM, then SIGKILL) and reaps it;
// it is killed too when the thread that started it ends (start it from the
// test's main thread), so no program outlives a test that dies.
class background_process {
public:
    explicit background_process(const std::vector<std::string>& argv);
    ~background_process();
    background_process(const background_process&) = delete;
    background_process& operator=(const background_process&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Stops it; returns the exit status (128 + signal when killed by one).
    int kill(std::chrono::milliseconds grace = std::chrono::milliseconds(30000));

    // Waits for the first line at or after `from` (a line index) that
    // starts with `prefix`; returns it, or nullopt on time-out.
    std::optional<std::string> wait_for_line(const std::string& prefix, std::chrono::milliseconds timeout,
                                             size_t from = 0);
    std::vector<std::string> lines();
    size_t line_count();

private:
    void reader();

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int status_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool eof_ = false;
};

// Switches the calling thread into a namespace and back at scope end.
class netns_scope {
public:
    explicit netns_scope(const std::string& ns);
    ~netns_scope();
    netns_scope(const netns_scope&) = delete;
    netns_scope& operator=(const netns_scope&) = delete;
    bool ok() const { return ok_; }

private:
    int saved_ = -1;
    bool ok_ = false;
};

// Two namespaces "vxt-<pid>-<n>-a" and "-b" joined by a veth pair whose ends
// get the given names (end a in namespace a). Both links and loopback are up
// and IPv6 is off, so the segment stays quiet. The destructor removes both
// namespaces (and with them the veth pair); stale namespaces of test
// processes that no longer run are removed at construction.
class netns_pair {
public:
    enum side { a, b };

    netns_pair(const std::string& if_a = "vxa0", const std::string& if_b = "vxb0");
    ~netns_pair();
    netns_pair(const netns_pair&) = delete;
    netns_pair& operator=(const netns_pair&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& ns(side s) const { return s == a ? ns_a_ : ns_b_; }
    const std::string& interface(side s) const { return s == a ? if_a_ : if_b_; }

    // "ip netns exec <ns> sh -c <command>"; returns the exit status.
    int run(side s, const std::string& command) const;
    // Adds an IPv4 address such as "192.168.77.1/24" to that side's end.
    bool add_address(side s, const std::string& cidr) const;
    // MAC address of that side's end, "aa:bb:cc:dd:ee:ff".
    std::string mac(side s) const;
    // Starts argv inside the namespace in the background.
    std::unique_ptr<background_process> spawn(side s, const std::vector<std::string>& argv) const;

    // Runs fn on a new thread that has entered the namespace; returns its result.
    template <class F> auto in_namespace(side s, F fn) const -> decltype(fn())
    {
        using R = decltype(fn());
        std::optional<std::conditional_t<std::is_void_v<R>, int, R>> result;
        std::thread worker([&] {
            netns_scope scope(ns(s));
            if (!scope.ok())
                return; // never run test code in the wrong namespace
            if constexpr (std::is_void_v<R>) {
                fn();
                result = 0;
            } else {
                result = fn();
            }
        });
        worker.join();
        if (!result)
            throw std::runtime_error("cannot enter network namespace " + ns(s));
        if constexpr (!std::is_void_v<R>)
            return std::move(*result);
    }
    // Runs fn in a forked child inside the namespace; returns fn's result as
    // the child's exit status (or 128 + signal).
    int in_child(side s, const std::function<int()>& fn) const;

private:
    std::string ns_a_, ns_b_, if_a_, if_b_, error_;
};

} // namespace vx::test
