#include "netns.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace vx::test {
namespace {

int decode_status(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

std::string capture(const std::string& command)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[512];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    ::pclose(pipe);
    return out;
}

const char* prefix = "vxt-";

// `ip netns delete` can fail while another process adds or enters a
// namespace at the same moment (the mount is busy): try again.
void delete_namespace(const std::string& name)
{
    std::string path = "/run/netns/" + name;
    for (int attempt = 0; attempt < 40 && ::access(path.c_str(), F_OK) == 0; ++attempt) {
        if (attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        run_command("ip netns delete " + name + " >/dev/null 2>&1");
    }
}

// Namespaces left behind by test processes that died before cleaning up.
void remove_stale_namespaces()
{
    std::istringstream list(capture("ip netns list 2>/dev/null"));
    std::string line;
    while (std::getline(list, line)) {
        std::string name = line.substr(0, line.find(' '));
        if (name.rfind(prefix, 0) != 0)
            continue;
        long pid = std::strtol(name.c_str() + std::strlen(prefix), nullptr, 10);
        if (pid <= 0 || pid == ::getpid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        delete_namespace(name);
    }
}

} // namespace

bool running_as_root() { return ::geteuid() == 0; }

std::string devsim_path() { return VX_DEVSIM_PATH; }

int run_command(const std::string& command)
{
    int status = std::system(command.c_str());
    if (status == -1)
        return -1;
    return decode_status(status);
}

std::string command_output(const std::string& command)
{
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return out;
    char buffer[512];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, got);
    ::pclose(p);
    return out;
}

// --- background_process ---------------------------------------------------

background_process::background_process(const std::vector<std::string>& argv)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // The program goes with the test, even one killed outright or by a
        // time-out; a parent already gone by now is caught here.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(fds[1], STDOUT_FILENO);
        ::execvp(args[0], args.data());
        std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) {
        ::close(fds[0]);
        return;
    }
    out_fd_ = fds[0];
    reader_ = std::thread([this] { reader(); });
}

background_process::~background_process() { kill(); }

void background_process::reader()
{
    std::string partial;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(out_fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        partial.append(buffer, static_cast<size_t>(got));
        size_t nl;
        std::lock_guard lock(mutex_);
        while ((nl = partial.find('\n')) != std::string::npos) {
            lines_.push_back(partial.substr(0, nl));
            partial.erase(0, nl + 1);
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    if (!partial.empty())
        lines_.push_back(partial);
    eof_ = true;
    changed_.notify_all();
}

bool background_process::running()
{
    if (pid_ <= 0)
        return false;
    int status;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = decode_status(status);
        pid_ = -1;
        return false;
    }
    return true;
}

int background_process::kill(std::chrono::milliseconds grace)
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        auto until = std::chrono::steady_clock::now() + grace;
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            done = ::waitpid(pid_, &status, 0);
        }
        status_ = done == pid_ ? decode_status(status) : -1;
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
    if (out_fd_ >= 0) {
        ::close(out_fd_);
        out_fd_ = -1;
    }
    return status_;
}

std::optional<std::string> background_process::wait_for_line(const std::string& prefix,
                                                             std::chrono::milliseconds timeout, size_t from)
{
    auto until = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        for (size_t i = from; i < lines_.size(); ++i)
            if (lines_[i].rfind(prefix, 0) == 0)
                return lines_[i];
        if (eof_)
            return std::nullopt;
        if (changed_.wait_until(lock, until) == std::cv_status::timeout) {
            for (size_t i = from; i < lines_.size(); ++i)
                if (lines_[i].rfind(prefix, 0) == 0)
                    return lines_[i];
            return std::nullopt;
        }
    }
}

std::vector<std::string> background_process::lines()
{
    std::lock_guard lock(mutex_);
    return lines_;
}

size_t background_process::line_count()
{
    std::lock_guard lock(mutex_);
    return lines_.size();
}

// --- netns_scope ----------------------------------------------------------

netns_scope::netns_scope(const std::string& ns)
{
    saved_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (saved_ < 0)
        return;
    int target = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (target < 0)
        return;
    ok_ = ::setns(target, CLONE_NEWNET) == 0;
    ::close(target);
}

netns_scope::~netns_scope()
{
    if (saved_ < 0)
        return;
    if (ok_ && ::setns(saved_, CLONE_NEWNET) != 0) {
        // A thread stuck in a test namespace must not go on: stop here.
        std::fprintf(stderr, "cannot return to the original network namespace: %s\n", std::strerror(errno));
        std::abort();
    }
    ::close(saved_);
}

// --- netns_pair -----------------------------------------------------------

netns_pair::netns_pair(const std::string& if_a, const std::string& if_b) : if_a_(if_a), if_b_(if_b)
{
    static std::atomic<int> counter{0};
    remove_stale_namespaces();
    std::string base = prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    ns_a_ = base + "-a";
    ns_b_ = base + "-b";
    auto step = [&](const std::string& command) {
        if (!error_.empty())
            return;
        if (run_command(command + " >/dev/null 2>&1") != 0)
            error_ = "failed: " + command;
    };
    step("ip netns add " + ns_a_);
    step("ip netns add " + ns_b_);
    for (const auto* ns : {&ns_a_, &ns_b_}) {
        step("ip netns exec " + *ns +
             " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
        step("ip -n " + *ns + " link set lo up");
    }
    step("ip link add " + if_a_ + " netns " + ns_a_ + " type veth peer name " + if_b_ + " netns " + ns_b_);
    step("ip -n " + ns_a_ + " link set " + if_a_ + " up");
    step("ip -n " + ns_b_ + " link set " + if_b_ + " up");
}

netns_pair::~netns_pair()
{
    delete_namespace(ns_a_);
    delete_namespace(ns_b_);
}

int netns_pair::run(side s, const std::string& command) const
{
    std::string quoted = "'";
    for (char c : command)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    return run_command("ip netns exec " + ns(s) + " sh -c " + quoted);
}

bool netns_pair::add_address(side s, const std::string& cidr) const
{
    return run_command("ip -n " + ns(s) + " addr add " + cidr + " dev " + interface(s) + " >/dev/null 2>&1") == 0;
}

std::string netns_pair::mac(side s) const
{
    return in_namespace(s, [&]() -> std::string {
        int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return {};
        ifreq req{};
        std::strncpy(req.ifr_name, interface(s).c_str(), IFNAMSIZ - 1);
        std::string text;
        if (::ioctl(fd, SIOCGIFHWADDR, &req) == 0) {
            char buffer[18];
            auto* m = reinterpret_cast<unsigned char*>(req.ifr_hwaddr.sa_data);
            std::snprintf(buffer, sizeof buffer, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
            text = buffer;
        }
        ::close(fd);
        return text;
    });
}

std::unique_ptr<background_process> netns_pair::spawn(side s, const std::vector<std::string>& argv) const
{
    std::vector<std::string> full{"ip", "netns", "exec", ns(s)};
    full.insert(full.end(), argv.begin(), argv.end());
    return std::make_unique<background_process>(full);
}

int netns_pair::in_child(side s, const std::function<int()>& fn) const
{
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int target = ::open(("/run/netns/" + ns(s)).c_str(), O_RDONLY | O_CLOEXEC);
        if (target < 0 || ::setns(target, CLONE_NEWNET) != 0)
            ::_exit(126);
        ::_exit(fn());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return decode_status(status);
}

} // namespace vx::test
