#include "tftp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace vx::test {
namespace {

int bound_socket(const std::string& address, uint16_t port)
{
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        throw std::runtime_error("socket");
    // No SO_REUSEADDR: with it Linux hands a port-0 bind a port that another
    // such socket holds (this server's own listening port, or another test
    // process's), and requests then land in the wrong socket.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(s);
        throw std::runtime_error("bind " + address);
    }
    return s;
}

uint16_t local_port(int s)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

std::vector<unsigned char> packet(uint16_t opcode, uint16_t block, const std::string& data = {})
{
    std::vector<unsigned char> p(4 + data.size());
    p[0] = static_cast<unsigned char>(opcode >> 8);
    p[1] = static_cast<unsigned char>(opcode);
    p[2] = static_cast<unsigned char>(block >> 8);
    p[3] = static_cast<unsigned char>(block);
    if (!data.empty())
        std::memcpy(p.data() + 4, data.data(), data.size());
    return p;
}

void send_to(int s, const std::vector<unsigned char>& p, const sockaddr_in& to)
{
    ::sendto(s, p.data(), p.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

struct datagram {
    std::vector<unsigned char> bytes;
    std::chrono::nanoseconds at{0};
};

tftp_packet parse(const datagram& d)
{
    const std::vector<unsigned char>& raw = d.bytes;
    tftp_packet p;
    p.at = d.at;
    if (raw.size() < 2)
        return p;
    p.opcode = static_cast<uint16_t>(raw[0] << 8 | raw[1]);
    if ((p.opcode == 1 || p.opcode == 2) && raw.size() > 2)
        p.name = std::string(reinterpret_cast<const char*>(raw.data() + 2),
                             strnlen(reinterpret_cast<const char*>(raw.data() + 2), raw.size() - 2));
    if ((p.opcode == 3 || p.opcode == 4) && raw.size() >= 4) {
        p.block = static_cast<uint16_t>(raw[2] << 8 | raw[3]);
        p.data_size = raw.size() - 4;
    }
    return p;
}

// Receives one datagram within timeout_ms, with the kernel's time of its
// arrival; empty when none came. With MSG_PEEK it stays queued.
datagram receive(int s, sockaddr_in& from, int timeout_ms, int flags = 0)
{
    pollfd pfd{s, POLLIN, 0};
    if (::poll(&pfd, 1, timeout_ms) <= 0)
        return {};
    datagram d;
    d.bytes.resize(70000);
    iovec io{d.bytes.data(), d.bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr m{};
    m.msg_name = &from;
    m.msg_namelen = sizeof from;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(s, &m, flags);
    d.bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t;
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            d.at = std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
        }
    }
    return d;
}

} // namespace

tftp_peer::tftp_peer(const std::string& address_, uint16_t port) : address(address_)
{
    listen_socket = bound_socket(address, port);
    listen_port = local_port(listen_socket);
    worker = std::thread([this] { serve(); });
}

tftp_peer::~tftp_peer()
{
    stopping = true;
    worker.join();
    ::close(listen_socket);
}

void tftp_peer::set_file(const std::string& name, std::string content)
{
    std::lock_guard<std::mutex> guard(lock);
    files[name] = std::move(content);
}

std::string tftp_peer::file(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock);
    return files[name];
}

bool tftp_peer::has_file(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock);
    return files.count(name) != 0;
}

void tftp_peer::set_error_text(const std::string& text)
{
    std::lock_guard<std::mutex> guard(lock);
    error_text = text;
}

void tftp_peer::set_foreign_address(const std::string& value)
{
    std::lock_guard<std::mutex> guard(lock);
    foreign_address = value;
}

std::vector<tftp_packet> tftp_peer::received()
{
    std::lock_guard<std::mutex> guard(lock);
    return log;
}

bool tftp_peer::wait_for(std::size_t n, int timeout_ms)
{
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] { return log.size() >= n; });
}

void tftp_peer::note(const tftp_packet& p)
{
    std::lock_guard<std::mutex> guard(lock);
    log.push_back(p);
    changed.notify_all();
}

void tftp_peer::serve()
{
    while (!stopping) {
        sockaddr_in client{};
        datagram raw = receive(listen_socket, client, 50);
        if (raw.bytes.empty())
            continue;
        tftp_packet request = parse(raw);
        note(request);
        if (silent || (request.opcode != 1 && request.opcode != 2))
            continue;
        int sock = bound_socket(address, 0);
        session(sock, request, client);
        ::close(sock);
    }
}

void tftp_peer::session(int sock, const tftp_packet& request, const sockaddr_in& client)
{
    std::string refusal;
    std::string foreign;
    {
        std::lock_guard<std::mutex> guard(lock);
        refusal = error_text;
        foreign = foreign_address;
    }
    if (!refusal.empty()) {
        auto p = packet(5, 1, refusal);
        p.push_back(0);
        send_to(sock, p, client);
        return;
    }
    if (!foreign.empty()) {
        int other = bound_socket(foreign, 0);
        send_to(other, packet(3, 1, "FOREIGN"), client);
        ::close(other);
    }
    bool first_reply = true;
    auto reply = [&](const std::vector<unsigned char>& p, bool twice) {
        if (first_reply && first_reply_late_ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(first_reply_late_ms.load()));
        if (first_reply && reply_size > 0) {
            send_to(sock, std::vector<unsigned char>(static_cast<std::size_t>(reply_size.load()), 0x03), client);
            first_reply = false;
            return;
        }
        send_to(sock, p, client);
        if (twice)
            send_to(sock, p, client);
        if (first_reply && foreign_port) {
            int other = bound_socket(address, 0);
            send_to(other, packet(3, 2, "PORT"), client);
            ::close(other);
        }
        first_reply = false;
    };

    const bool reading = request.opcode == 1;
    std::string content;
    if (reading) {
        std::lock_guard<std::mutex> guard(lock);
        auto it = files.find(request.name);
        if (it == files.end()) {
            auto p = packet(5, 1, "File not found");
            p.push_back(0);
            send_to(sock, p, client);
            return;
        }
        content = it->second;
    } else {
        std::lock_guard<std::mutex> guard(lock);
        files[request.name].clear(); // a write first erases the area
    }
    // Blocks of a read: full ones, then the rest, then always an empty one.
    const std::size_t blocks = (content.size() + 511) / 512 + 1;
    auto data_of = [&](std::size_t k) {
        std::size_t at = (k - 1) * 512;
        return at < content.size() ? content.substr(at, 512) : std::string();
    };
    std::map<int, bool> dropped;
    auto send_data = [&](std::size_t k) {
        if (k > blocks)
            return;
        if ((drop_data == static_cast<int>(k) || drop_data_also == static_cast<int>(k)) &&
            !dropped[static_cast<int>(k)]) {
            dropped[static_cast<int>(k)] = true;
            return;
        }
        reply(packet(3, static_cast<uint16_t>(k), data_of(k)), repeat_data);
    };
    auto send_ack = [&](uint16_t k) {
        if (drop_ack == k && !dropped[-k - 1]) {
            dropped[-k - 1] = true;
            return;
        }
        reply(packet(4, k), repeat_ack);
    };

    if (reading)
        send_data(1);
    else
        send_ack(0);

    // Idle as long as only a fault keeps a client away: a slow client's next
    // packet still finds the session. A new request ends it sooner.
    auto idle_since = std::chrono::steady_clock::now();
    while (!stopping && std::chrono::steady_clock::now() - idle_since < std::chrono::seconds(60)) {
        pollfd pfds[2] = {{sock, POLLIN, 0}, {listen_socket, POLLIN, 0}};
        if (::poll(pfds, 2, 50) <= 0)
            continue;
        if (pfds[1].revents & POLLIN) {
            // The client's resend of this session's request (its first reply
            // came late) is recorded and goes unanswered: a device would
            // answer it from a new port, which the client, holding to the
            // first reply's port, ignores. Any other request ends the session.
            sockaddr_in from{};
            tftp_packet again = parse(receive(listen_socket, from, 0, MSG_PEEK));
            if (again.opcode != request.opcode || again.name != request.name ||
                from.sin_addr.s_addr != client.sin_addr.s_addr || from.sin_port != client.sin_port)
                return;
            note(parse(receive(listen_socket, from, 0)));
            continue;
        }
        sockaddr_in from{};
        datagram d = receive(sock, from, 0);
        const std::vector<unsigned char>& raw = d.bytes;
        if (raw.empty())
            continue;
        idle_since = std::chrono::steady_clock::now();
        tftp_packet p = parse(d);
        note(p);
        if (reading && p.opcode == 4) {
            send_data(p.block + 1u);
        } else if (!reading && p.opcode == 3) {
            std::lock_guard<std::mutex> guard(lock);
            std::string& target = files[request.name];
            std::size_t at = (p.block - 1u) * 512u;
            if (target.size() < at + p.data_size)
                target.resize(at + p.data_size);
            target.replace(at, p.data_size, reinterpret_cast<const char*>(raw.data() + 4), p.data_size);
        }
        if (!reading && p.opcode == 3)
            send_ack(ack_ahead != 0 && p.block == ack_ahead ? static_cast<uint16_t>(p.block + 1) : p.block);
    }
}

} // namespace vx::test
