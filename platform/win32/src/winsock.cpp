// WinSock 2 subset over BSD sockets.
//
// An overlapped operation that cannot complete at once is kept in a table
// and attached to its event; any wait on that event polls the socket too and
// completes the operation (non-blocking recvmsg/sendmsg into the caller's
// buffers) when the socket is ready. Cancelling removes it from the table
// under the table lock, after which its buffers are never touched.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "internal.h"
#include "winsock2.h"

namespace {

struct operation {
    uint64_t token;
    SOCKET s;
    bool sending;
    LPWSAOVERLAPPED overlapped;
    HANDLE event;
    DWORD flags;
    std::vector<iovec> buffers;
    sockaddr_storage to{}; // sending
    socklen_t to_length = 0;
    sockaddr* from = nullptr; // receiving
    LPINT from_length = nullptr;
};

std::mutex& ops_lock()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

std::vector<operation>& ops()
{
    static std::vector<operation>* v = new std::vector<operation>;
    return *v;
}

std::atomic<uint64_t> next_token{1};

std::vector<iovec> to_iovecs(LPWSABUF buffers, DWORD count)
{
    std::vector<iovec> out(count);
    for (DWORD i = 0; i < count; ++i)
        out[i] = {buffers[i].buf, buffers[i].len};
    return out;
}

enum class outcome { done, pending };

// One non-blocking attempt. done: Internal, InternalHigh and the address
// length are set; pending: nothing changed.
outcome attempt(operation& op, bool blocking)
{
    msghdr msg{};
    msg.msg_iov = op.buffers.data();
    msg.msg_iovlen = op.buffers.size();
    int flags = static_cast<int>(op.flags) | (blocking ? 0 : MSG_DONTWAIT);
    ssize_t n;
    if (op.sending) {
        msg.msg_name = op.to_length ? &op.to : nullptr;
        msg.msg_namelen = op.to_length;
        do
            n = ::sendmsg(op.s, &msg, flags | MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
    } else {
        msg.msg_name = op.from;
        msg.msg_namelen =
            op.from && op.from_length && *op.from_length > 0 ? static_cast<socklen_t>(*op.from_length) : 0;
        do
            n = ::recvmsg(op.s, &msg, flags);
        while (n < 0 && errno == EINTR);
        if (n >= 0 && op.from && op.from_length)
            *op.from_length = static_cast<INT>(msg.msg_namelen);
    }
    if (n < 0 && !blocking && (errno == EAGAIN || errno == EWOULDBLOCK))
        return outcome::pending;
    if (n < 0) {
        op.overlapped->Internal = static_cast<ULONG_PTR>(vx_wsa_error_from_errno(errno));
        op.overlapped->InternalHigh = 0;
    } else {
        // A datagram larger than the buffers: the part that fits, and WSAEMSGSIZE.
        bool truncated = !op.sending && (msg.msg_flags & MSG_TRUNC);
        op.overlapped->Internal = truncated ? WSAEMSGSIZE : 0;
        op.overlapped->InternalHigh = static_cast<ULONG_PTR>(n);
    }
    return outcome::done;
}

// Removes op i (ops lock held); the caller's buffers are free again.
void remove_op(size_t i)
{
    vx_win32::event_detach_io(ops()[i].event, ops()[i].token);
    ops().erase(ops().begin() + static_cast<std::ptrdiff_t>(i));
}

void cancel_op(size_t i)
{
    ops()[i].overlapped->Internal = WSA_OPERATION_ABORTED;
    ops()[i].overlapped->InternalHigh = 0;
    remove_op(i);
}

// Tries outstanding op i again (ops lock held); once done it is removed and
// its event set. False while it is still pending.
bool retry_op(size_t i)
{
    if (attempt(ops()[i], false) != outcome::done)
        return false;
    HANDLE event = ops()[i].event;
    remove_op(i);
    SetEvent(event);
    return true;
}

// Called by waits when the socket of an outstanding operation is ready.
void complete(uint64_t token)
{
    std::lock_guard<std::mutex> guard(ops_lock());
    for (size_t i = 0; i < ops().size(); ++i) {
        if (ops()[i].token != token)
            continue;
        retry_op(i);
        return;
    }
}

// Starts op; returns 0 or SOCKET_ERROR with the last error set.
int start(operation op, LPDWORD bytes)
{
    if (op.overlapped == nullptr) {
        WSAOVERLAPPED local{};
        op.overlapped = &local;
        attempt(op, true);
        if (local.Internal != 0 && local.Internal != WSAEMSGSIZE) {
            WSASetLastError(static_cast<int>(local.Internal));
            return SOCKET_ERROR;
        }
        if (bytes)
            *bytes = static_cast<DWORD>(local.InternalHigh);
        if (local.Internal != 0) {
            WSASetLastError(static_cast<int>(local.Internal));
            return SOCKET_ERROR;
        }
        WSASetLastError(0);
        return 0;
    }
    std::lock_guard<std::mutex> guard(ops_lock());
    // One outstanding operation per socket and direction, per block and per event.
    for (size_t i = ops().size(); i-- > 0;) {
        const operation& old = ops()[i];
        if ((old.s == op.s && old.sending == op.sending) || old.overlapped == op.overlapped || old.event == op.event)
            cancel_op(i);
    }
    if (op.event && !ResetEvent(op.event))
        return vx_win32::fail(WSA_INVALID_HANDLE, SOCKET_ERROR);
    if (attempt(op, false) == outcome::done) {
        if (op.event)
            SetEvent(op.event);
        int status = static_cast<int>(op.overlapped->Internal);
        if (bytes && (status == 0 || status == WSAEMSGSIZE))
            *bytes = static_cast<DWORD>(op.overlapped->InternalHigh);
        WSASetLastError(status);
        return status == 0 ? 0 : SOCKET_ERROR;
    }
    if (!op.event)
        return vx_win32::fail(WSA_INVALID_PARAMETER, SOCKET_ERROR); // nothing could ever complete it
    op.token = next_token.fetch_add(1);
    op.overlapped->Internal = WSA_IO_PENDING;
    op.overlapped->InternalHigh = 0;
    if (!vx_win32::event_attach_io(op.event, op.s, op.sending ? POLLOUT : POLLIN, complete, op.token))
        return vx_win32::fail(WSA_INVALID_HANDLE, SOCKET_ERROR);
    ops().push_back(std::move(op));
    WSASetLastError(WSA_IO_PENDING);
    return SOCKET_ERROR;
}

// Name lookups: one result per thread, valid until the thread's next lookup.
struct host_result {
    hostent entry{};
    std::string name;
    std::vector<in_addr> addresses;
    std::vector<char*> address_list;
    char* aliases[1] = {nullptr};
};
thread_local host_result t_host;

} // namespace

int WSAStartup(WORD version_requested, LPWSADATA data)
{
    BYTE major = LOBYTE(version_requested);
    BYTE minor = HIBYTE(version_requested);
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    if (data) {
        std::memset(data, 0, sizeof *data);
        data->wVersion = major >= 2 ? MAKEWORD(2, 2) : version_requested;
        data->wHighVersion = MAKEWORD(2, 2);
        std::strcpy(data->szDescription, "WinSock 2.2 over BSD sockets");
        std::strcpy(data->szSystemStatus, "Running");
    }
    return 0;
}

int WSACleanup() { return 0; }

SOCKET WSASocketA(int af, int type, int protocol, LPWSAPROTOCOL_INFOA, GROUP, DWORD)
{
    int s = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (s < 0) {
        vx_set_wsa_error_from_errno();
        return INVALID_SOCKET;
    }
    return s;
}

int closesocket(SOCKET s)
{
    {
        std::lock_guard<std::mutex> guard(ops_lock());
        for (size_t i = ops().size(); i-- > 0;) {
            if (ops()[i].s == s)
                cancel_op(i);
        }
    }
    if (::close(s) != 0) {
        vx_set_wsa_error_from_errno();
        return SOCKET_ERROR;
    }
    return 0;
}

int WSASendTo(SOCKET s, LPWSABUF buffers, DWORD buffer_count, LPDWORD bytes_sent, DWORD flags, const sockaddr* to,
              int to_length, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion_routine)
{
    if (completion_routine || (buffer_count && !buffers) || to_length < 0 ||
        static_cast<size_t>(to_length) > sizeof(sockaddr_storage) || (to_length > 0 && !to))
        return vx_win32::fail(WSAEINVAL, SOCKET_ERROR);
    operation op{};
    op.s = s;
    op.sending = true;
    op.overlapped = overlapped;
    op.event = overlapped ? overlapped->hEvent : nullptr;
    op.flags = flags;
    op.buffers = to_iovecs(buffers, buffer_count);
    if (to && to_length > 0) {
        std::memcpy(&op.to, to, static_cast<size_t>(to_length));
        op.to_length = static_cast<socklen_t>(to_length);
    }
    return start(std::move(op), bytes_sent);
}

int WSARecvFrom(SOCKET s, LPWSABUF buffers, DWORD buffer_count, LPDWORD bytes_received, LPDWORD flags, sockaddr* from,
                LPINT from_length, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion_routine)
{
    if (completion_routine || (buffer_count && !buffers) || (from && !from_length))
        return vx_win32::fail(WSAEINVAL, SOCKET_ERROR);
    operation op{};
    op.s = s;
    op.sending = false;
    op.overlapped = overlapped;
    op.event = overlapped ? overlapped->hEvent : nullptr;
    op.flags = flags ? *flags : 0;
    op.buffers = to_iovecs(buffers, buffer_count);
    op.from = from;
    op.from_length = from_length;
    return start(std::move(op), bytes_received);
}

BOOL WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED overlapped, LPDWORD transferred, BOOL wait, LPDWORD flags)
{
    if (!overlapped || !transferred)
        return vx_win32::fail(WSAEFAULT, FALSE);
    for (;;) {
        bool outstanding = false;
        {
            std::lock_guard<std::mutex> guard(ops_lock());
            for (size_t i = 0; i < ops().size(); ++i) {
                if (ops()[i].overlapped != overlapped)
                    continue;
                outstanding = !retry_op(i);
                break;
            }
        }
        if (!outstanding)
            break;
        if (!wait)
            return vx_win32::fail(WSA_IO_INCOMPLETE, FALSE);
        if (WaitForSingleObject(overlapped->hEvent, INFINITE) == WAIT_FAILED)
            return FALSE;
        // An auto-reset event was consumed by that wait; the result is in the block.
    }
    if (overlapped->Internal == WSA_IO_PENDING)
        return vx_win32::fail(WSA_IO_INCOMPLETE, FALSE);
    *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (flags)
        *flags = 0;
    if (overlapped->Internal != 0)
        return vx_win32::fail(static_cast<DWORD>(overlapped->Internal), FALSE);
    WSASetLastError(0);
    return TRUE;
}

DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL wait_all, DWORD timeout, BOOL)
{
    DWORD result = WaitForMultipleObjects(count, events, wait_all, timeout);
    if (result == WAIT_TIMEOUT) {
        // Nothing stays outstanding after a time-out: the operations on these
        // events are cancelled (nothing was read for them).
        std::lock_guard<std::mutex> guard(ops_lock());
        for (size_t i = ops().size(); i-- > 0;) {
            for (DWORD k = 0; k < count; ++k) {
                if (ops()[i].event == events[k]) {
                    cancel_op(i);
                    break;
                }
            }
        }
    }
    return result;
}

WSAEVENT WSACreateEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
BOOL WSACloseEvent(WSAEVENT event) { return CloseHandle(event); }
BOOL WSASetEvent(WSAEVENT event) { return SetEvent(event); }
BOOL WSAResetEvent(WSAEVENT event) { return ResetEvent(event); }

int WSASendDisconnect(SOCKET s, LPWSABUF)
{
    if (::shutdown(s, SHUT_WR) != 0) {
        vx_set_wsa_error_from_errno();
        return SOCKET_ERROR;
    }
    return 0;
}

int WSARecvDisconnect(SOCKET s, LPWSABUF)
{
    if (::shutdown(s, SHUT_RD) != 0) {
        vx_set_wsa_error_from_errno();
        return SOCKET_ERROR;
    }
    return 0;
}

hostent* vx_gethostbyname(const char* name)
{
    if (!name)
        return vx_win32::fail(WSAEFAULT, static_cast<hostent*>(nullptr));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM; // one entry per address
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(name, nullptr, &hints, &list);
    if (rc != 0) {
        int error;
        switch (rc) {
        case EAI_NONAME:
            error = WSAHOST_NOT_FOUND;
            break;
        case EAI_AGAIN:
            error = WSATRY_AGAIN;
            break;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            error = WSANO_DATA;
            break;
        default:
            error = WSANO_RECOVERY;
            break;
        }
        WSASetLastError(error);
        return nullptr;
    }
    host_result& r = t_host;
    r.name = list->ai_canonname ? list->ai_canonname : name;
    r.addresses.clear();
    for (addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in))
            r.addresses.push_back(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr);
    }
    ::freeaddrinfo(list);
    if (r.addresses.empty()) {
        WSASetLastError(WSANO_DATA);
        return nullptr;
    }
    r.address_list.clear();
    for (in_addr& a : r.addresses)
        r.address_list.push_back(reinterpret_cast<char*>(&a));
    r.address_list.push_back(nullptr);
    r.entry.h_name = r.name.data();
    r.entry.h_aliases = r.aliases;
    r.entry.h_addrtype = AF_INET;
    r.entry.h_length = sizeof(in_addr);
    r.entry.h_addr_list = r.address_list.data();
    WSASetLastError(0);
    return &r.entry;
}
