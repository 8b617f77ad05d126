#include "l2/link.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace devsim::l2 {

link_t::link_t(const std::string& interface)
{
    auto fail = [&](const char* what) {
        std::string text = std::string(what) + " " + interface + ": " + std::strerror(errno);
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        throw std::runtime_error(text);
    };
    ifindex_ = static_cast<int>(if_nametoindex(interface.c_str()));
    if (ifindex_ == 0)
        fail("no interface");
    fd_ = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ALL));
    if (fd_ < 0)
        fail("cannot open a raw socket on");
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_ALL);
    addr.sll_ifindex = ifindex_;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        fail("cannot bind to");
    // The simulated devices have their own addresses: take every frame.
    packet_mreq mreq{};
    mreq.mr_ifindex = ifindex_;
    mreq.mr_type = PACKET_MR_PROMISC;
    if (::setsockopt(fd_, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0)
        fail("cannot make promiscuous");
    ifreq req{};
    std::strncpy(req.ifr_name, interface.c_str(), IFNAMSIZ - 1);
    if (::ioctl(fd_, SIOCGIFHWADDR, &req) != 0)
        fail("cannot read the address of");
    // Room for bursts to a thousand devices; the forced size needs root and
    // is only a wish, so failures are ignored.
    int wanted = 4 << 20;
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    int on = 1;
    ::setsockopt(fd_, SOL_PACKET, PACKET_AUXDATA, &on, sizeof on);
    std::memcpy(own_mac_.data(), req.ifr_hwaddr.sa_data, 6);
}

link_t::~link_t()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool link_t::send(const frame_t& frame)
{
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_ifindex = ifindex_;
    addr.sll_halen = 6;
    std::memcpy(addr.sll_addr, frame.data(), 6);
    ssize_t sent = ::sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (sent != static_cast<ssize_t>(frame.size()))
        return false;
    const auto eth = parse_ethernet(frame.data(), frame.size());
    const uint16_t type = eth ? eth->type : 0;
    ++(type == ethertype_device ? sent_.device : type == ethertype_arp ? sent_.arp : sent_.other);
    return true;
}

long link_t::receive(uint8_t* buffer, size_t capacity, bool* checksum_ready)
{
    for (;;) {
        sockaddr_ll from{};
        iovec io{buffer, capacity};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(tpacket_auxdata))];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t got = ::recvmsg(fd_, &msg, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (from.sll_pkttype == PACKET_OUTGOING)
            continue;
        if (checksum_ready) {
            *checksum_ready = true;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA)
                    continue;
                tpacket_auxdata aux;
                std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
                if (aux.tp_status & TP_STATUS_CSUMNOTREADY)
                    *checksum_ready = false;
            }
        }
        return static_cast<long>(got);
    }
}

} // namespace devsim::l2
