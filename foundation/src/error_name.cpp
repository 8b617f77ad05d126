#include "qm/exception.h"

#include <cstdio>

namespace qm::net {
namespace {

struct name_t {
    int error;
    const char* text;
};

const name_t names[] = {
    {6, "WSA_INVALID_HANDLE"},
    {8, "WSA_NOT_ENOUGH_MEMORY"},
    {64, "WSA_MAXIMUM_WAIT_EVENTS"},
    {87, "WSA_INVALID_PARAMETER"},
    {192, "WSA_WAIT_IO_COMPLETION"},
    {258, "WSA_WAIT_TIMEOUT"},
    {995, "WSA_OPERATION_ABORTED"},
    {996, "WSA_IO_INCOMPLETE"},
    {997, "WSA_IO_PENDING"},
    {-1, "WSA_WAIT_FAILED"},
    {10004, "interrupted system call"},
    {10009, "bad file number"},
    {10013, "permission denied"},
    {10014, "bad buffer address"},
    {10022, "invalid argument"},
    {10024, "out of file descriptors"},
    {10035, "operation would block"},
    {10036, "blocking operation already in progress"},
    {10037, "operation already in progress"},
    {10038, "invalid socket handle"},
    {10039, "destination address required"},
    {10040, "message too long"},
    {10041, "wrong protocol type for socket"},
    {10042, "bad protocol option"},
    {10043, "protocol not supported"},
    {10044, "socket type not supported"},
    {10045, "operation not supported on socket"},
    {10046, "protocol family not supported"},
    {10047, "address family not supported"},
    {10048, "address already in use"},
    {10049, "cannot assign requested address"},
    {10050, "network is down"},
    {10051, "network is unreachable"},
    {10052, "network dropped connection on reset"},
    {10053, "software caused connection abort"},
    {10054, "connection reset by peer"},
    {10055, "out of buffer space"},
    {10056, "Socket is already connected"},
    {10057, "socket is not connected"},
    {10058, "cannot send after socket shutdown"},
    {10059, "too many references: cannot splice"},
    {10060, "connection timed out"},
    {10061, "connection refused"},
    {10062, "too many levels of symbolic links"},
    {10063, "file name too long"},
    {10064, "host is down"},
    {10065, "no route to host"},
    {10066, "WSAENOTEMPTY"},
    {10067, "WSAEPROCLIM"},
    {10068, "WSAEUSERS"},
    {10069, "WSAEDQUOT"},
    {10070, "WSAESTALE"},
    {10071, "WSAEREMOTE"},
    {10091, "network subsystem is unusable"},
    {10092, "WSAVERNOTSUPPORTED"},
    {10093, "WinSock not initialized"},
    {10101, "disconnect"},
    {10102, "WSAENOMORE"},
    {10103, "WSAECANCELLED"},
    {10104, "WSAEINVALIDPROCTABLE"},
    {10105, "WSAEINVALIDPROVIDER"},
    {10106, "WSAEPROVIDERFAILEDINIT"},
    {10107, "WSASYSCALLFAILURE"},
    {10108, "WSASERVICE_NOT_FOUND"},
    {10109, "WSATYPE_NOT_FOUND"},
    {10110, "WSA_E_NO_MORE"},
    {10111, "WSA_E_CANCELLED"},
    {10112, "WSAEREFUSED"},
    {11001, "host not found"},
    {11002, "WSATRY_AGAIN"},
    {11003, "nonrecoverable error"},
    {11004, "WSANO_DATA"},
};

} // namespace

std::string error_name(int error)
{
    for (const name_t& n : names)
        if (n.error == error)
            return n.text;
    std::string text = wapi::error_text(static_cast<DWORD>(error));
    if (!text.empty())
        return text + " (system error)";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "WinSock error# %d", error);
    return buffer;
}

} // namespace qm::net
