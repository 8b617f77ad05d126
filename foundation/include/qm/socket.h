// WinSock socket with overlapped I/O: every send and receive is bounded by a
// time-out and, in the base class, broken off by the owner's quit event.
#pragma once

#include "qm/address.h"
#include "qm/errorcode.h"
#include "qm/exception.h"

#include <winsock2.h>
#include <windows.h>

#include <ostream>

namespace qm::net {

// Starts WinSock once per process; cleaned up once at process exit.
class winsock_startup_t {
public:
    winsock_startup_t();
};

class socket_t {
public:
    // quit_event may be INVALID_HANDLE_VALUE; existing INVALID_SOCKET creates a
    // socket, anything else is adopted as connected. protocol 6 TCP, 17 UDP.
    socket_t(HANDLE quit_event, SOCKET existing, int protocol);
    virtual ~socket_t();

    socket_t(const socket_t&) = delete;
    socket_t& operator=(const socket_t&) = delete;

    void bind(const address_t& address);
    int send_to(const address_t& destination, const void* buffer, int length);
    // The sender's address is written into address.
    int receive_from(address_t& address, void* buffer, int capacity);

    SOCKET handle() const { return sock; }

protected:
    // Waits for the outstanding operation; true with its byte count.
    virtual BOOL wait_for_completion(DWORD& count, DWORD timeout);

    void close();

    winsock_startup_t startup;

public:
    SOCKET sock = INVALID_SOCKET;
    WSAOVERLAPPED overlapped{};
    HANDLE event = nullptr;
    int state = 0;
    DWORD receive_timeout = INFINITE;
    DWORD send_timeout = INFINITE;
    HANDLE quit_event = INVALID_HANDLE_VALUE;
    int protocol = 17;
    std::ostream* trace = nullptr;

protected:
    // Address length cell of an outstanding receive (it must outlive the call).
    INT from_length = 16;
};

// UDP socket without quit event; a time-out throws errorcode_t 0x20000302.
class socket_client_t : public socket_t {
public:
    socket_client_t();

protected:
    BOOL wait_for_completion(DWORD& count, DWORD timeout) override;
};

} // namespace qm::net
