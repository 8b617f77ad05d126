#include "control/control.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "faults.h"

namespace devsim::control {
namespace {

constexpr size_t max_line = 4096;

bool fill_address(const std::string& path, sockaddr_un& address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::vector<std::string> split_words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

} // namespace

control_t::control_t(const std::string& path, world_t& world, event_log_t& log) : path_(path), world_(world), log_(log)
{
    sockaddr_un address;
    if (!fill_address(path, address))
        throw std::runtime_error("control socket path too long: " + path);
    auto fail = [&](const char* what) {
        std::string text = std::string(what) + " " + path + ": " + std::strerror(errno);
        if (listener_ >= 0)
            ::close(listener_);
        if (epoll_ >= 0)
            ::close(epoll_);
        throw std::runtime_error(text);
    };
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0)
        fail("cannot open the control socket");
    ::unlink(path.c_str());
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0)
        fail("cannot listen on");
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0)
        fail("cannot watch");
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event);

    add_command("fault", "fault K|all NAME[=VALUE]   set a fault switch",
                [this](const std::vector<std::string>& w) { return fault(w); });
    add_command("clear", "clear K|all [NAME]         clear one or every fault switch",
                [this](const std::vector<std::string>& w) { return clear(w); });
    add_command("show", "show K                     family, bundles, address and switches of device K",
                [this](const std::vector<std::string>& w) { return show(w); });
    add_command("help", "help                       the commands", [this](const std::vector<std::string>&) {
        std::string text = "ok";
        for (const auto& [name, c] : commands_)
            text += " | " + c.usage;
        return text;
    });
}

control_t::~control_t()
{
    for (auto& [fd, rest] : pending_)
        ::close(fd);
    if (epoll_ >= 0)
        ::close(epoll_);
    if (listener_ >= 0)
        ::close(listener_);
    ::unlink(path_.c_str());
}

void control_t::add_command(const std::string& name, const std::string& usage, command_fn fn)
{
    commands_[name] = command{usage, std::move(fn)};
}

std::string control_t::execute(const std::string& line)
{
    auto words = split_words(line);
    if (words.empty())
        return "error empty command";
    auto it = commands_.find(words[0]);
    if (it == commands_.end())
        return "error unknown command: " + words[0];
    words.erase(words.begin());
    return it->second.fn(words);
}

std::vector<device_t*> control_t::targets(const std::string& word, std::string& error)
{
    std::vector<device_t*> out;
    if (word == "all") {
        for (auto& d : world_.devices)
            out.push_back(&d);
        return out;
    }
    char* end = nullptr;
    long k = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || k < 0 || k >= static_cast<long>(world_.devices.size())) {
        error = "error no device " + word;
        return out;
    }
    out.push_back(&world_.devices[static_cast<size_t>(k)]);
    return out;
}

std::string control_t::fault(const std::vector<std::string>& words)
{
    if (words.size() != 2)
        return "error usage: fault K|all NAME[=VALUE]";
    std::string error;
    auto devices = targets(words[0], error);
    if (devices.empty())
        return error;
    auto f = parse_fault(words[1], error);
    if (!f)
        return "error " + error;
    for (device_t* d : devices) {
        d->faults[f->first] = f->second;
        log_.line("fault " + std::to_string(d->index) + " " + f->first + " " + std::to_string(f->second));
    }
    return "ok";
}

std::string control_t::clear(const std::vector<std::string>& words)
{
    if (words.empty() || words.size() > 2)
        return "error usage: clear K|all [NAME]";
    std::string error;
    auto devices = targets(words[0], error);
    if (devices.empty())
        return error;
    if (words.size() == 2 && !find_fault(words[1]))
        return "error unknown fault: " + words[1];
    for (device_t* d : devices) {
        std::vector<std::string> names;
        if (words.size() == 2) {
            if (d->faults.count(words[1]))
                names.push_back(words[1]);
        } else {
            for (const auto& [name, value] : d->faults)
                names.push_back(name);
        }
        for (const auto& name : names) {
            d->faults.erase(name);
            log_.line("fault-cleared " + std::to_string(d->index) + " " + name);
        }
    }
    return "ok";
}

std::string control_t::show(const std::vector<std::string>& words)
{
    if (words.size() != 1 || words[0] == "all")
        return "error usage: show K";
    std::string error;
    auto devices = targets(words[0], error);
    if (devices.empty())
        return error;
    const device_t& d = *devices[0];
    std::string text = "ok device " + std::to_string(d.index) + " " + mac_text(d.mac) + " " + ip_text(d.ip) + " " +
        family_name(d.family) + " " + std::to_string(d.transmitters) + "/" + std::to_string(d.receivers);
    for (const auto& [name, value] : d.faults)
        text += " " + name + "=" + std::to_string(value);
    return text;
}

void control_t::on_readable()
{
    epoll_event events[16];
    int n = ::epoll_wait(epoll_, events, 16, 0);
    for (int i = 0; i < n; ++i) {
        if (events[i].data.fd == listener_)
            accept_all();
        else
            serve(events[i].data.fd);
    }
}

void control_t::accept_all()
{
    for (;;) {
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
        pending_[fd];
    }
}

void control_t::serve(int fd)
{
    char buffer[1024];
    for (;;) {
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            drop(fd);
            return;
        }
        std::string& pending = pending_[fd];
        pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string answer = execute(pending.substr(0, end)) + "\n";
            pending.erase(0, end + 1);
            if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size())) {
                drop(fd);
                return;
            }
        }
        if (pending.size() > max_line) {
            drop(fd);
            return;
        }
    }
}

void control_t::drop(int fd)
{
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    pending_.erase(fd);
}

std::string send_command(const std::string& path, const std::string& line)
{
    sockaddr_un address;
    if (!fill_address(path, address))
        return "error bad socket path: " + path;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::string("error ") + std::strerror(errno);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        answer = "error cannot reach " + path + ": " + std::strerror(errno);
    } else {
        std::string text = line + "\n";
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        char buffer[1024];
        ssize_t got;
        while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, static_cast<size_t>(got));
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        if (answer.empty())
            answer = "error no answer from " + path;
    }
    ::close(fd);
    return answer;
}

} // namespace devsim::control
