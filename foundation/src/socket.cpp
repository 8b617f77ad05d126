#include "qm/socket.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace qm::net {
namespace {

std::mutex startup_lock;
bool started = false;

void cleanup_at_exit() { WSACleanup(); }

std::string close_error_line(SOCKET sock, const char* text)
{
    char head[64];
    std::snprintf(head, sizeof head, "\nsocket%X close error: ", static_cast<unsigned>(sock));
    return std::string(head) + text;
}

// A failed Linux socket call: its errno as the WinSock error.
[[noreturn]] void throw_socket_error()
{
    vx_set_wsa_error_from_errno();
    throw exception_t();
}

} // namespace

winsock_startup_t::winsock_startup_t()
{
    std::lock_guard<std::mutex> guard(startup_lock);
    if (started)
        return;
    // Set first: a failed start-up is not retried.
    started = true;
    std::atexit(cleanup_at_exit);
    WSADATA data;
    int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result != 0)
        throw exception_t(result);
}

socket_t::socket_t(HANDLE quit, SOCKET existing, int protocol_) : quit_event(quit), protocol(protocol_)
{
    event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event)
        throw wapi::exception_t();
    try {
        if (existing == INVALID_SOCKET) {
            sock = WSASocketA(AF_INET, protocol == 17 ? SOCK_DGRAM : SOCK_STREAM, protocol, nullptr, 0,
                              WSA_FLAG_OVERLAPPED);
            if (sock == INVALID_SOCKET)
                throw exception_t();
        } else {
            sock = existing;
            state = 2;
        }
        if (protocol == 6) {
            linger abortive{};
            abortive.l_onoff = 1;
            abortive.l_linger = 0;
            if (setsockopt(sock, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive) != 0)
                throw_socket_error();
            int on = 1;
            if (setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
                throw_socket_error();
        }
    } catch (...) {
        // No destructor runs for a half-built socket: release what was made.
        if (sock != INVALID_SOCKET)
            closesocket(sock);
        sock = INVALID_SOCKET;
        CloseHandle(event);
        event = nullptr;
        throw;
    }
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event;
}

socket_t::~socket_t()
{
    close();
    if (event)
        CloseHandle(event);
    event = nullptr;
}

void socket_t::close()
{
    if (sock == INVALID_SOCKET)
        return;
    // A failed disconnect is only traced: the socket is closed all the same.
    auto report = [this](const char* cause) {
        try {
            if (trace)
                *trace << close_error_line(sock, cause);
        } catch (...) {}
    };
    try {
        if (state == 2 || state == 3) {
            if (WSASendDisconnect(sock, nullptr) != 0)
                throw exception_t();
            char rest[256];
            WSABUF buffer{sizeof rest, rest};
            if (WSARecvDisconnect(sock, &buffer) != 0)
                throw exception_t();
        }
    } catch (const qm::exception_t& e) {
        report(e.what());
    } catch (...) {
        report("UNKNOWN cause");
    }
    closesocket(sock);
    sock = INVALID_SOCKET;
}

void socket_t::bind(const address_t& address)
{
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&address.sa), 16) != 0)
        throw_socket_error();
}

int socket_t::send_to(const address_t& destination, const void* buffer, int length)
{
    WSABUF data{static_cast<ULONG>(length), static_cast<CHAR*>(const_cast<void*>(buffer))};
    DWORD sent = 0;
    if (WSASendTo(sock, &data, 1, &sent, 0, reinterpret_cast<const sockaddr*>(&destination.sa), 16, &overlapped,
                  nullptr) == 0)
        return static_cast<int>(sent);
    int error = WSAGetLastError();
    if (error != WSA_IO_PENDING)
        throw exception_t(error);
    DWORD count = 0;
    wait_for_completion(count, send_timeout);
    return static_cast<int>(count);
}

int socket_t::receive_from(address_t& address, void* buffer, int capacity)
{
    WSABUF data{static_cast<ULONG>(capacity), static_cast<CHAR*>(buffer)};
    DWORD received = 0;
    DWORD flags = 0;
    from_length = 16;
    if (WSARecvFrom(sock, &data, 1, &received, &flags, reinterpret_cast<sockaddr*>(&address.sa), &from_length,
                    &overlapped, nullptr) == 0)
        return static_cast<int>(received);
    int error = WSAGetLastError();
    if (error != WSA_IO_PENDING)
        throw exception_t(error);
    DWORD count = 0;
    wait_for_completion(count, receive_timeout);
    return static_cast<int>(count);
}

BOOL socket_t::wait_for_completion(DWORD& count, DWORD timeout)
{
    WSAEVENT events[2] = {quit_event, event};
    DWORD result = WSAWaitForMultipleEvents(2, events, FALSE, timeout, FALSE);
    if (result == WSA_WAIT_EVENT_0)
        throw qm::exception_t("socket wait Quitting");
    if (result == WSA_WAIT_EVENT_0 + 1) {
        DWORD flags = 0;
        if (!WSAGetOverlappedResult(sock, &overlapped, &count, FALSE, &flags))
            throw exception_t();
        return TRUE;
    }
    if (result == WSA_WAIT_FAILED)
        throw exception_t();
    if (result == WSA_WAIT_TIMEOUT)
        throw qm::exception_t("socket timeout");
    throw qm::exception_t("Socket Win 32 api from wait_for_completion");
}

socket_client_t::socket_client_t() : socket_t(INVALID_HANDLE_VALUE, INVALID_SOCKET, 17) {}

BOOL socket_client_t::wait_for_completion(DWORD& count, DWORD timeout)
{
    WSAEVENT events[1] = {event};
    DWORD result = WSAWaitForMultipleEvents(1, events, FALSE, timeout, FALSE);
    if (result == WSA_WAIT_EVENT_0) {
        DWORD flags = 0;
        if (!WSAGetOverlappedResult(sock, &overlapped, &count, FALSE, &flags))
            throw exception_t();
        return TRUE;
    }
    if (result == WSA_WAIT_FAILED)
        throw exception_t();
    if (result == WSA_WAIT_TIMEOUT)
        throw errorcode_t(errorcode_t::qmnet_sock_timeout, "client socket timeout");
    throw qm::exception_t("SocketClient Win 32 api from wait_for_completion");
}

} // namespace qm::net
