// UDP socket on loopback: time-outs, sender recording, quit event, close paths.
#include "qm/socket.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;

unsigned short local_port(SOCKET s)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

// A UDP client bound to an ephemeral loopback port.
struct bound_client_t : qm::net::socket_client_t {
    bound_client_t()
    {
        bind(qm::net::address_t(0, "127.0.0.1"));
        port = local_port(sock);
    }
    unsigned short port = 0;
};

long long ms_since(clock_type::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count();
}

} // namespace

TEST(UdpSocket, ClientReceiveTimeoutIsErrorCode)
{
    bound_client_t client;
    EXPECT_EQ(client.receive_timeout, INFINITE);
    EXPECT_EQ(client.send_timeout, INFINITE);
    client.receive_timeout = 200;
    char buffer[64];
    qm::net::address_t from;
    auto begin = clock_type::now();
    try {
        client.receive_from(from, buffer, sizeof buffer);
        ADD_FAILURE() << "no time-out";
    } catch (const qm::errorcode_t& e) {
        EXPECT_EQ(e.code, 0x20000302u);
        EXPECT_STREQ(e.what(), "client socket timeout: sockets timeout");
    }
    EXPECT_GE(ms_since(begin), 190);
    EXPECT_LT(ms_since(begin), 20000); // not seconds: a bound a loaded machine never reaches
}

TEST(UdpSocket, ReceiveRecordsSenderAndReplyReachesIt)
{
    bound_client_t server;
    bound_client_t device;
    server.receive_timeout = 100;
    device.receive_timeout = 2000;
    server.send_timeout = device.send_timeout = 2000;
    char buffer[600];
    qm::net::address_t from;

    // A time-out first: the socket stays usable and the later datagram is not lost.
    EXPECT_THROW(server.receive_from(from, buffer, sizeof buffer), qm::errorcode_t);

    qm::net::address_t to_server(server.port, "127.0.0.1");
    EXPECT_EQ(device.send_to(to_server, "request", 7), 7);
    server.receive_timeout = 2000;
    int n = server.receive_from(from, buffer, sizeof buffer);
    ASSERT_EQ(n, 7);
    EXPECT_EQ(std::memcmp(buffer, "request", 7), 0);
    EXPECT_EQ(ntohs(from.sa.sin_port), device.port);
    EXPECT_EQ(ntohl(from.sa.sin_addr.s_addr), 0x7F000001u);

    // A reply to the recorded address reaches the port that sent.
    std::string big(516, 'd');
    EXPECT_EQ(server.send_to(from, big.data(), static_cast<int>(big.size())), 516);
    qm::net::address_t reply_from;
    n = device.receive_from(reply_from, buffer, sizeof buffer);
    ASSERT_EQ(n, 516);
    EXPECT_EQ(std::string(buffer, n), big);
    EXPECT_EQ(ntohs(reply_from.sa.sin_port), server.port);
}

TEST(UdpSocket, SendAfterTimedOutReceiveThenReceiveAgain)
{
    // The TFTP pattern: receive times out, resend, receive the next datagram.
    bound_client_t client;
    bound_client_t peer;
    client.receive_timeout = 50;
    peer.receive_timeout = 2000;
    char buffer[32];
    qm::net::address_t from;
    qm::net::address_t to_peer(peer.port, "127.0.0.1");
    for (int round = 0; round < 3; ++round) {
        EXPECT_THROW(client.receive_from(from, buffer, sizeof buffer), qm::errorcode_t);
        EXPECT_EQ(client.send_to(to_peer, "again", 5), 5);
        ASSERT_EQ(peer.receive_from(from, buffer, sizeof buffer), 5);
        EXPECT_EQ(peer.send_to(from, "ack", 3), 3);
        client.receive_timeout = 2000;
        ASSERT_EQ(client.receive_from(from, buffer, sizeof buffer), 3);
        EXPECT_EQ(std::memcmp(buffer, "ack", 3), 0);
        client.receive_timeout = 50;
    }
}

TEST(UdpSocket, BaseSocketQuitEventAndTimeout)
{
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        qm::net::socket_t s(quit, INVALID_SOCKET, 17);
        s.bind(qm::net::address_t(0, "127.0.0.1"));
        s.receive_timeout = 50;
        char buffer[8];
        qm::net::address_t from;
        try {
            s.receive_from(from, buffer, sizeof buffer);
            ADD_FAILURE() << "no time-out";
        } catch (const qm::errorcode_t&) {
            ADD_FAILURE() << "the base socket reports a plain time-out";
        } catch (const qm::exception_t& e) {
            EXPECT_STREQ(e.what(), "socket timeout");
        }

        s.receive_timeout = 60000;
        std::thread quitter([quit] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            SetEvent(quit);
        });
        auto begin = clock_type::now();
        try {
            s.receive_from(from, buffer, sizeof buffer);
            ADD_FAILURE() << "quit did not break the wait";
        } catch (const qm::exception_t& e) {
            EXPECT_STREQ(e.what(), "socket wait Quitting");
        }
        EXPECT_LT(ms_since(begin), 30000); // half the wait: a loaded machine only delays the quit
        quitter.join();
    }
    CloseHandle(quit);
}

TEST(UdpSocket, BindFailureAndCloseWithoutDisconnect)
{
    bound_client_t first;
    std::ostringstream trace;
    {
        qm::net::socket_client_t second;
        second.trace = &trace;
        try {
            second.bind(qm::net::address_t(first.port, "127.0.0.1"));
            ADD_FAILURE() << "a port in use was bound twice";
        } catch (const qm::net::exception_t& e) {
            EXPECT_EQ(e.error, 10048);
            EXPECT_STREQ(e.what(), "address already in use");
        }
        EXPECT_EQ(second.state, 0);
    }
    // A UDP socket (state 0) closes without any disconnect, so nothing to report.
    EXPECT_EQ(trace.str(), "");
}

TEST(TcpSocket, AdoptedSocketDisconnectsAndReportsCloseFailure)
{
    // A connected pair on loopback; the accepted end is adopted.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t len = sizeof sa;
    getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
    int peer = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(peer, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    int accepted = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);

    std::ostringstream trace;
    {
        qm::net::socket_t adopted(INVALID_HANDLE_VALUE, accepted, 6);
        adopted.trace = &trace;
        EXPECT_EQ(adopted.state, 2);
    }
    EXPECT_EQ(trace.str(), "");
    char c;
    EXPECT_LE(::recv(peer, &c, 1, 0), 0); // the peer sees the end of the stream
    ::close(peer);
    ::close(listener);

    // An adopted socket that is not connected: the disconnect fails, is
    // reported, and the socket is still closed.
    int loose = ::socket(AF_INET, SOCK_STREAM, 0);
    {
        qm::net::socket_t adopted(INVALID_HANDLE_VALUE, loose, 6);
        adopted.trace = &trace;
    }
    char expected[64];
    std::snprintf(expected, sizeof expected, "\nsocket%X close error: socket is not connected", loose);
    EXPECT_EQ(trace.str(), expected);
    EXPECT_EQ(::fcntl(loose, F_GETFD), -1); // closed
}
