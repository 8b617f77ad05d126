// Overlapped UDP on loopback, waits with time-outs, name lookups.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "winsock2.h"

namespace {

// A bound overlapped UDP socket on 127.0.0.1 with its own event, used the
// way the foundation's socket class uses it.
struct udp {
    SOCKET s = INVALID_SOCKET;
    HANDLE event = nullptr;
    WSAOVERLAPPED overlapped{};
    sockaddr_in address{};

    udp()
    {
        s = WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped.hEvent = event;
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        socklen_t len = sizeof address;
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &len);
    }
    ~udp()
    {
        if (s != INVALID_SOCKET)
            closesocket(s);
        CloseHandle(event);
    }

    // Starts a receive; returns 0 (done at once) or WSA_IO_PENDING, else the error.
    int receive(char* buffer, ULONG capacity, sockaddr_in* from, int* from_length, DWORD* count)
    {
        WSABUF b{capacity, buffer};
        DWORD flags = 0;
        *from_length = sizeof *from;
        if (WSARecvFrom(s, &b, 1, count, &flags, reinterpret_cast<sockaddr*>(from), from_length, &overlapped,
                        nullptr) == 0)
            return 0;
        return WSAGetLastError();
    }

    int send(const sockaddr_in& to, const std::string& data)
    {
        WSABUF b{static_cast<ULONG>(data.size()), const_cast<char*>(data.data())};
        DWORD sent = 0;
        if (WSASendTo(s, &b, 1, &sent, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to, &overlapped, nullptr) == 0)
            return static_cast<int>(sent);
        return -WSAGetLastError();
    }
};

TEST(WinSock, StartupVersion)
{
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(WinSock, SendCompletesAtOnceAndSignalsTheEvent)
{
    udp a, b;
    EXPECT_EQ(a.send(b.address, "ping"), 4);
    EXPECT_EQ(WaitForSingleObject(a.event, 0), WAIT_OBJECT_0);
    DWORD count = 0, flags = 0;
    EXPECT_TRUE(WSAGetOverlappedResult(a.s, &a.overlapped, &count, FALSE, &flags));
    EXPECT_EQ(count, 4u);

    // The datagram is already queued: the receive completes at once.
    char buffer[64];
    sockaddr_in from{};
    int from_length = 0;
    EXPECT_EQ(b.receive(buffer, sizeof buffer, &from, &from_length, &count), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    EXPECT_EQ(from_length, static_cast<int>(sizeof from));
    EXPECT_EQ(from.sin_port, a.address.sin_port); // the sender, so a reply reaches its port
}

TEST(WinSock, PendingReceiveCompletesWhileWaitingOnTheEvent)
{
    udp a, b;
    char buffer[64] = {};
    sockaddr_in from{};
    int from_length = 0;
    DWORD count = 99;
    ASSERT_EQ(b.receive(buffer, sizeof buffer, &from, &from_length, &count), WSA_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(b.event, 0), WAIT_TIMEOUT);
    DWORD flags = 0;
    EXPECT_FALSE(WSAGetOverlappedResult(b.s, &b.overlapped, &count, FALSE, &flags));
    EXPECT_EQ(WSAGetLastError(), WSA_IO_INCOMPLETE);

    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        udp c;
        c.send(b.address, "hello");
    });
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE events[] = {quit, b.event};
    EXPECT_EQ(WSAWaitForMultipleEvents(2, events, FALSE, 5000, FALSE), WSA_WAIT_EVENT_0 + 1);
    sender.join();
    ASSERT_TRUE(WSAGetOverlappedResult(b.s, &b.overlapped, &count, FALSE, &flags));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    EXPECT_EQ(from.sin_addr.s_addr, inet_addr("127.0.0.1"));
    EXPECT_NE(from.sin_port, 0);
    CloseHandle(quit);
}

TEST(WinSock, TimedOutReceiveLeavesNothingOutstanding)
{
    udp a, b;
    char stale[64];
    std::memset(stale, 'x', sizeof stale);
    sockaddr_in from{};
    int from_length = 0;
    DWORD count = 0;
    ASSERT_EQ(b.receive(stale, sizeof stale, &from, &from_length, &count), WSA_IO_PENDING);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WSAWaitForMultipleEvents(1, &b.event, FALSE, 80, FALSE), WSA_WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));
    DWORD flags = 0;
    EXPECT_FALSE(WSAGetOverlappedResult(b.s, &b.overlapped, &count, FALSE, &flags));
    EXPECT_EQ(WSAGetLastError(), WSA_OPERATION_ABORTED);

    // The datagram that arrives afterwards goes to the next receive, and the
    // abandoned buffer is never written, also while someone waits on the event.
    ASSERT_EQ(a.send(b.address, "late"), 4);
    EXPECT_EQ(WaitForSingleObject(b.event, 50), WAIT_TIMEOUT);
    EXPECT_EQ(stale[0], 'x');
    char fresh[64];
    int rc = b.receive(fresh, sizeof fresh, &from, &from_length, &count);
    if (rc == WSA_IO_PENDING) {
        ASSERT_EQ(WSAWaitForMultipleEvents(1, &b.event, FALSE, 5000, FALSE), WSA_WAIT_EVENT_0);
        ASSERT_TRUE(WSAGetOverlappedResult(b.s, &b.overlapped, &count, FALSE, &flags));
    } else {
        ASSERT_EQ(rc, 0);
    }
    EXPECT_EQ(std::string(fresh, count), "late");
    EXPECT_EQ(stale[0], 'x');
}

TEST(WinSock, ANewOperationOnTheSameBlockCancelsTheOutstandingOne)
{
    udp a, b;
    char first[16];
    std::memset(first, 'x', sizeof first);
    sockaddr_in from{};
    int from_length = 0;
    DWORD count = 0;
    ASSERT_EQ(b.receive(first, sizeof first, &from, &from_length, &count), WSA_IO_PENDING);
    // A send on the same block and event (the way one socket object shares them).
    ASSERT_EQ(b.send(a.address, "out"), 3);
    ASSERT_EQ(a.send(b.address, "in"), 2);
    EXPECT_EQ(WaitForSingleObject(b.event, 0), WAIT_OBJECT_0); // the send's completion
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(first[0], 'x');
    char second[16];
    int rc = b.receive(second, sizeof second, &from, &from_length, &count);
    if (rc == WSA_IO_PENDING) {
        DWORD flags = 0;
        ASSERT_TRUE(WSAGetOverlappedResult(b.s, &b.overlapped, &count, TRUE, &flags));
    }
    EXPECT_EQ(std::string(second, count), "in");
}

// The read and write system calls the calling thread has made so far.
long long reads_and_writes()
{
    long long total = 0;
    std::FILE* f = std::fopen("/proc/thread-self/io", "r");
    if (!f)
        return -1;
    char line[128];
    long long value = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "syscr: %lld", &value) == 1 || std::sscanf(line, "syscw: %lld", &value) == 1)
            total += value;
    }
    std::fclose(f);
    return total;
}

TEST(WinSock, ReceivesCompletedInAWaitTouchNoEventfd)
{
    // The wait polls the event's eventfd beside the socket; the completion
    // must not write it (nor the next wait read it back): that would be two
    // system calls more per datagram than the exchange needs.
    udp a, b;
    std::thread echo([&] {
        char buffer[16];
        sockaddr_in from{};
        for (;;) {
            socklen_t length = sizeof from;
            ssize_t n = ::recvfrom(b.s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0 || std::string(buffer, static_cast<size_t>(n)) == "end")
                break;
            ::sendto(b.s, buffer, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
    });
    auto send_plain = [&](const char* text) {
        WSABUF out{static_cast<ULONG>(std::strlen(text)), const_cast<char*>(text)};
        DWORD sent = 0;
        return WSASendTo(a.s, &out, 1, &sent, 0, reinterpret_cast<sockaddr*>(&b.address), sizeof b.address, nullptr,
                         nullptr);
    };
    const long long first = reads_and_writes();
    const long long reading = reads_and_writes() - first; // what reading the counts costs
    const long long before = reads_and_writes();
    int pending = 0;
    for (int i = 0; i < 50; ++i) {
        char buffer[16];
        sockaddr_in from{};
        int from_length = 0;
        DWORD count = 0, flags = 0;
        // The receive is outstanding before anything is sent, so the wait completes it.
        if (a.receive(buffer, sizeof buffer, &from, &from_length, &count) != WSA_IO_PENDING ||
            send_plain("ping") != 0 || WSAWaitForMultipleEvents(1, &a.event, FALSE, 10000, FALSE) != WSA_WAIT_EVENT_0 ||
            !WSAGetOverlappedResult(a.s, &a.overlapped, &count, FALSE, &flags) || count != 4)
            break;
        ++pending;
    }
    const long long during = reads_and_writes() - before;
    send_plain("end");
    echo.join();
    EXPECT_EQ(pending, 50);
    EXPECT_EQ(during, reading);
}

TEST(WinSock, TruncatedDatagramAndClosedSocket)
{
    udp a, b;
    ASSERT_EQ(a.send(b.address, "0123456789"), 10);
    char small[4];
    sockaddr_in from{};
    int from_length = 0;
    DWORD count = 0;
    int rc = b.receive(small, sizeof small, &from, &from_length, &count);
    if (rc == WSA_IO_PENDING) {
        DWORD flags = 0;
        EXPECT_FALSE(WSAGetOverlappedResult(b.s, &b.overlapped, &count, TRUE, &flags));
        rc = WSAGetLastError();
    }
    EXPECT_EQ(rc, WSAEMSGSIZE);
    EXPECT_EQ(std::string(small, 4), "0123");

    // Closing cancels an outstanding receive.
    char buffer[8];
    ASSERT_EQ(b.receive(buffer, sizeof buffer, &from, &from_length, &count), WSA_IO_PENDING);
    EXPECT_EQ(closesocket(b.s), 0);
    b.s = INVALID_SOCKET;
    EXPECT_EQ(b.overlapped.Internal, static_cast<ULONG_PTR>(WSA_OPERATION_ABORTED));
    EXPECT_EQ(WaitForSingleObject(b.event, 20), WAIT_TIMEOUT);
}

TEST(WinSock, BlockingCallsWithoutOverlapped)
{
    udp a, b;
    WSABUF out{3, const_cast<char*>("abc")};
    DWORD sent = 0;
    ASSERT_EQ(
        WSASendTo(a.s, &out, 1, &sent, 0, reinterpret_cast<sockaddr*>(&b.address), sizeof b.address, nullptr, nullptr),
        0);
    EXPECT_EQ(sent, 3u);
    char buffer[8];
    WSABUF in{sizeof buffer, buffer};
    DWORD got = 0, flags = 0;
    ASSERT_EQ(WSARecvFrom(b.s, &in, 1, &got, &flags, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(WSARecvFrom(12345, &in, 1, &got, &flags, nullptr, nullptr, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEBADF);
}

TEST(WinSock, SocketOptionsAndDisconnect)
{
    SOCKET t = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    ASSERT_NE(t, INVALID_SOCKET);
    LINGER l{1, 0};
    EXPECT_EQ(setsockopt(t, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l), 0);
    BOOL on = TRUE;
    EXPECT_EQ(setsockopt(t, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on), 0);
    // Not connected.
    EXPECT_EQ(WSASendDisconnect(t, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(closesocket(t), 0);
    EXPECT_EQ(WSASocketA(12345, SOCK_DGRAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
}

TEST(WinSock, NameLookups)
{
    EXPECT_EQ(inet_addr("10.1.2.3"), htonl(0x0A010203));
    EXPECT_EQ(inet_addr("not an address"), INADDR_NONE);
    hostent* h = gethostbyname("localhost");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->h_addrtype, AF_INET);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    in_addr first;
    std::memcpy(&first, h->h_addr_list[0], sizeof first);
    EXPECT_EQ(ntohl(first.s_addr) >> 24, 127u);
    h = gethostbyname("no-such-host.invalid");
    EXPECT_EQ(h, nullptr);
    int e = WSAGetLastError();
    EXPECT_TRUE(e == WSAHOST_NOT_FOUND || e == WSATRY_AGAIN || e == WSANO_DATA) << e;

    // Each thread has its own result.
    hostent* mine = gethostbyname("127.0.0.1");
    ASSERT_NE(mine, nullptr);
    std::thread([] { EXPECT_NE(gethostbyname("localhost"), nullptr); }).join();
    std::memcpy(&first, mine->h_addr_list[0], sizeof first);
    EXPECT_EQ(first.s_addr, inet_addr("127.0.0.1"));
}

} // namespace
