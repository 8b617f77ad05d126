// WinSock 2 subset over BSD sockets. Socket addresses, byte-order helpers,
// bind, setsockopt and inet_addr are the Linux ones; sockets are plain file
// descriptors.
//
// Errors: WSAGetLastError shares the thread's last error with GetLastError.
// The Linux socket calls (bind, setsockopt, ...) leave errno alone: after one
// fails, vx_set_wsa_error_from_errno maps it to the WinSock number (10000 +
// the BSD errno value).
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "win32/error.h"
#include "win32/sync.h"
#include "win32/types.h"

typedef int SOCKET;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)

typedef struct sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;
typedef struct sockaddr_in SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;
typedef struct in_addr IN_ADDR, *PIN_ADDR, *LPIN_ADDR;
typedef struct hostent HOSTENT, *PHOSTENT, *LPHOSTENT;
typedef struct linger LINGER, *PLINGER, *LPLINGER;

typedef HANDLE WSAEVENT;
typedef LPHANDLE LPWSAEVENT;
#define WSA_INVALID_EVENT ((WSAEVENT) nullptr)
typedef OVERLAPPED WSAOVERLAPPED;
typedef LPOVERLAPPED LPWSAOVERLAPPED;
typedef unsigned int GROUP;
struct _WSAPROTOCOL_INFOA;
typedef struct _WSAPROTOCOL_INFOA* LPWSAPROTOCOL_INFOA;
typedef void (*LPWSAOVERLAPPED_COMPLETION_ROUTINE)(DWORD error, DWORD transferred, LPWSAOVERLAPPED overlapped,
                                                   DWORD flags);

typedef struct _WSABUF {
    ULONG len;
    CHAR* buf;
} WSABUF, *LPWSABUF;

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

#define WSA_FLAG_OVERLAPPED 0x01

// Wait results of WSAWaitForMultipleEvents.
#define WSA_WAIT_EVENT_0 ((DWORD)0)
#define WSA_WAIT_IO_COMPLETION 192u
#define WSA_WAIT_TIMEOUT 258u
#define WSA_WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define WSA_INFINITE INFINITE
#define WSA_MAXIMUM_WAIT_EVENTS MAXIMUM_WAIT_OBJECTS

// Error numbers.
#define WSA_INVALID_HANDLE 6
#define WSA_NOT_ENOUGH_MEMORY 8
#define WSA_INVALID_PARAMETER 87
#define WSA_OPERATION_ABORTED 995
#define WSA_IO_INCOMPLETE 996
#define WSA_IO_PENDING 997
#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETOOMANYREFS 10059
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAELOOP 10062
#define WSAENAMETOOLONG 10063
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSAENOTEMPTY 10066
#define WSAEPROCLIM 10067
#define WSAEUSERS 10068
#define WSAEDQUOT 10069
#define WSAESTALE 10070
#define WSAEREMOTE 10071
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAEDISCON 10101
#define WSAENOMORE 10102
#define WSAECANCELLED 10103
#define WSAEINVALIDPROCTABLE 10104
#define WSAEINVALIDPROVIDER 10105
#define WSAEPROVIDERFAILEDINIT 10106
#define WSASYSCALLFAILURE 10107
#define WSASERVICE_NOT_FOUND 10108
#define WSATYPE_NOT_FOUND 10109
#define WSA_E_NO_MORE 10110
#define WSA_E_CANCELLED 10111
#define WSAEREFUSED 10112
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

// Start-up and clean-up: nothing to do on Linux beyond a version check
// (major version 1 or 2); 0 on success.
int WSAStartup(WORD version_requested, LPWSADATA data);
int WSACleanup();

int WSAGetLastError();
void WSASetLastError(int error);
// WinSock number for a Linux errno value: 10000 + the BSD number of the
// same error (ETIMEDOUT 110 -> 10060); 0 for 0; errors WinSock has no
// name for keep their Win32 number (vx_win32_error_from_errno).
int vx_wsa_error_from_errno(int err);
// WSASetLastError(vx_wsa_error_from_errno(errno)).
void vx_set_wsa_error_from_errno();

// The flags accept WSA_FLAG_OVERLAPPED; protocol info and group are ignored.
SOCKET WSASocketA(int af, int type, int protocol, LPWSAPROTOCOL_INFOA protocol_info, GROUP group, DWORD flags);
// Cancels any outstanding operation of the socket (its buffers are never
// written afterwards), then closes it.
int closesocket(SOCKET s);

// Overlapped operations (overlapped != NULL): the event is reset, then the
// operation either completes at once (returns 0, the event is signalled,
// the byte count is stored), or returns SOCKET_ERROR with WSA_IO_PENDING;
// it then completes while a thread waits on its event (WSAWaitForMultipleEvents,
// WaitFor*Object(s)) or asks WSAGetOverlappedResult. One outstanding
// operation per socket and direction: starting another cancels the previous
// one (nothing was read for it; a datagram stays queued for the new one).
// Completion routines are not supported. Without overlapped: blocking.
int WSASendTo(SOCKET s, LPWSABUF buffers, DWORD buffer_count, LPDWORD bytes_sent, DWORD flags,
              const struct sockaddr* to, int to_length, LPWSAOVERLAPPED overlapped,
              LPWSAOVERLAPPED_COMPLETION_ROUTINE completion_routine);
int WSARecvFrom(SOCKET s, LPWSABUF buffers, DWORD buffer_count, LPDWORD bytes_received, LPDWORD flags,
                struct sockaddr* from, LPINT from_length, LPWSAOVERLAPPED overlapped,
                LPWSAOVERLAPPED_COMPLETION_ROUTINE completion_routine);
// FALSE with WSA_IO_INCOMPLETE while outstanding and wait is FALSE.
BOOL WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED overlapped, LPDWORD transferred, BOOL wait, LPDWORD flags);

// WaitForMultipleObjects with WinSock result names; alertable is ignored.
DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL wait_all, DWORD timeout, BOOL alertable);
WSAEVENT WSACreateEvent(); // manual reset, not signalled
BOOL WSACloseEvent(WSAEVENT event);
BOOL WSASetEvent(WSAEVENT event);
BOOL WSAResetEvent(WSAEVENT event);

// Graceful shutdown of the sending / receiving direction (no data).
int WSASendDisconnect(SOCKET s, LPWSABUF outbound_disconnect_data);
int WSARecvDisconnect(SOCKET s, LPWSABUF inbound_disconnect_data);

// Thread-safe gethostbyname over getaddrinfo (IPv4 only): the result lives
// in thread-local storage until the thread's next call. Failures set
// WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY or WSANO_DATA.
struct hostent* vx_gethostbyname(const char* name);
#define gethostbyname vx_gethostbyname
