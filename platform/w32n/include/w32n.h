// The raw packet library: open a network adapter, give it a classic BPF
// receive program and NDIS-style settings, and send and receive whole
// Ethernet frames with overlapped (event-signalled) completion.
//
// On Linux an adapter is an AF_PACKET raw socket on one interface; opening
// needs CAP_NET_RAW. Adapter handles are small integers, -1 meaning "not
// open"; calls on -1, on a closed handle or on a number never handed out fail
// with ERROR_INVALID_HANDLE and touch none of their arguments.
//
// Receiving:
//  - No frame is received before a receive program has been set: the socket
//    is bound to all protocols only after the program is attached, so nothing
//    unfiltered is ever queued.
//  - The packet filter (OID_GEN_CURRENT_PACKET_FILTER) starts at 0, which
//    passes nothing. DIRECTED passes frames addressed to the adapter, MULTICAST
//    frames to an address of the multicast list, ALL_MULTICAST every multicast
//    frame, BROADCAST broadcast frames. Frames addressed to other stations are
//    never passed, nor are frames this host sends (own sends are never read
//    back).
//  - Reads are queued and completed in the order they were issued, one frame
//    each: the frame is copied into the buffer, the byte counts are stored,
//    then the overlapped event is set. Frames wait in a receive ring; a read
//    issued while one waits is completed before W32N_PacketRead returns (it
//    still returns FALSE with ERROR_IO_PENDING), otherwise a completion
//    thread of the adapter completes it when a frame arrives. The ring keeps
//    frames of up to 1990 bytes whole; a longer one arrives cut to that, with
//    its full length reported.
//  - W32N_CancelPacketRead is synchronous: once it returns, the library never
//    writes that buffer (nor its byte cell or overlapped block) again.
//    W32N_CloseAdapter withdraws every outstanding read the same way.
#pragma once

#include "win32/sync.h" // OVERLAPPED, events
#include "win32/types.h"

// ---- receive buffer --------------------------------------------------------
// A read buffer is a 56-byte header followed by room for the frame. The
// caller stores the frame capacity (native DWORD) at W32N_PACKET_CAPACITY_OFFSET;
// the buffer must hold W32N_PACKET_FRAME_OFFSET + capacity bytes. A longer
// frame is cut to the capacity. The library writes, besides the frame:
//  - W32N_PACKET_LENGTH_OFFSET: bytes of the frame stored (DWORD), also put
//    in the read's byte cell and in the overlapped block's InternalHigh;
//  - W32N_PACKET_WIRE_LENGTH_OFFSET: the frame's full length (DWORD).
#define W32N_PACKET_BUFFER_SIZE 1571
#define W32N_PACKET_FRAME_OFFSET 56
#define W32N_PACKET_CAPACITY_OFFSET 52
#define W32N_PACKET_LENGTH_OFFSET 48
#define W32N_PACKET_WIRE_LENGTH_OFFSET 44
#define W32N_MAX_FRAME_SIZE 1514

// ---- NDIS requests -----------------------------------------------------------
#define W32N_REQUEST_QUERY 0
#define W32N_REQUEST_SET 1

#define OID_GEN_CURRENT_PACKET_FILTER 0x0001010Eu
#define OID_802_3_CURRENT_ADDRESS 0x01010102u
#define OID_802_3_MULTICAST_LIST 0x01010103u

#define NDIS_PACKET_TYPE_DIRECTED 0x00000001u
#define NDIS_PACKET_TYPE_MULTICAST 0x00000002u
#define NDIS_PACKET_TYPE_ALL_MULTICAST 0x00000004u
#define NDIS_PACKET_TYPE_BROADCAST 0x00000008u

#define W32N_MAX_MULTICAST_ADDRESSES 32

// Request block: 556 bytes, zero-filled by the caller, then the fields below
// set. Queries: CURRENT_ADDRESS (6 bytes, the adapter's MAC), PACKET_FILTER
// (4 bytes), MULTICAST_LIST (6 bytes per address). Sets: PACKET_FILTER (4
// bytes; only the four NDIS_PACKET_TYPE bits above are supported) and
// MULTICAST_LIST (a multiple of 6 bytes, each a multicast address; the list
// replaces the previous one and is joined on the interface).
#pragma pack(push, 4)
typedef struct _W32N_REQUEST {
    BYTE Reserved0[20];
    DWORD RequestType; // W32N_REQUEST_QUERY or W32N_REQUEST_SET
    DWORD Oid;         // NDIS object identifier
    DWORD Reserved1;
    PVOID InformationBuffer;       // the data
    DWORD InformationBufferLength; // its size in bytes
    DWORD BytesTransferred;        // out: bytes written (query) or read (set)
    DWORD BytesNeeded;             // out: size a query needs when the buffer is too small
    BYTE Reserved2[556 - 52];
} W32N_REQUEST, *PW32N_REQUEST;
#pragma pack(pop)
static_assert(sizeof(W32N_REQUEST) == 556, "request block size");

// Adapter record: three NUL-terminated texts of 260 bytes.
typedef struct _W32N_ADAPTER_INFO {
    CHAR Description[260];
    CHAR Title[260];
    CHAR ServiceName[260];
} W32N_ADAPTER_INFO, *PW32N_ADAPTER_INFO;
static_assert(sizeof(W32N_ADAPTER_INFO) == 780, "adapter record size");

extern "C" {

// Opens the adapter "\Device\<ifname>" (or the bare interface name). Returns
// the handle, or -1 with W32N_GetLastError set (ERROR_FILE_NOT_FOUND: no such
// interface, ERROR_ACCESS_DENIED: no CAP_NET_RAW).
INT W32N_OpenAdapterA(LPCSTR adapter_name);

// Withdraws every outstanding read, stops the completion thread, leaves the
// multicast groups and closes the socket. FALSE for a handle that is not open.
BOOL W32N_CloseAdapter(INT handle);

// Attaches a classic BPF program (8-byte instructions: 16-bit opcode, jump
// if true, jump if false, 32-bit constant, host byte order) unchanged; length
// in bytes, a multiple of 8. Nonzero on success. The first program also starts
// reception.
BYTE W32N_SetBPFProgram(INT handle, const void* program, DWORD length);

// Carries out the request at once: 0 on success (query data in the buffer),
// an error number otherwise (also kept for W32N_GetLastError). The
// overlapped event, when given, is set on success. `synchronous` is accepted
// and ignored: every request completes before the call returns.
DWORD W32N_MakeNdisRequest(INT handle, PW32N_REQUEST request, LPOVERLAPPED overlapped, DWORD synchronous);

// Sends one whole frame (destination MAC first, no frame check sequence).
// Completes before returning: TRUE with *bytes_sent set and the overlapped
// event set, or FALSE with W32N_GetLastError (never ERROR_IO_PENDING).
BOOL W32N_PacketSend(INT handle, const void* frame, DWORD length, LPDWORD bytes_sent, LPOVERLAPPED overlapped);

// Queues a read of one frame into buffer (layout above). Returns FALSE with
// W32N_GetLastError ERROR_IO_PENDING when queued; the overlapped event (which
// must be given) is set on completion, after the byte counts are stored.
// `flags` is accepted and ignored.
BOOL W32N_PacketRead(INT handle, void* buffer, LPDWORD bytes_read, LPOVERLAPPED overlapped, DWORD flags);

// Withdraws the outstanding reads into buffer, synchronously (see above).
// TRUE when a read was withdrawn, FALSE when none was outstanding.
BOOL W32N_CancelPacketRead(INT handle, void* buffer);

// Error number of the calling thread's last failed call of this library.
DWORD W32N_GetLastError();

// Fills the record of the network card subkey `subkey` from the machine's
// registry view, in the layout of the family reported below:
//  - Windows NT: SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\<subkey>,
//    values Description, Title and ServiceName;
//  - Windows 2000: the network adapter class key's <subkey>, DriverDesc as
//    description and title, NetCfgInstanceId as service name;
//  - Windows 95: SYSTEM\CurrentControlSet\Services\Class\Net\<subkey>,
//    DriverDesc as description and title, no service name.
// Returns 0 when filled; ERROR_FILE_NOT_FOUND when the key or a value is
// missing (the record is then left zeroed).
DWORD W32N_GetAdapterRegistryInfo(PW32N_ADAPTER_INFO record, LPCSTR subkey);

// The Windows family reported: Windows NT.
BOOL W32N_IsWindows95();
BOOL W32N_IsWindowsNT();
BOOL W32N_IsWindows2000();

} // extern "C"

// TEST HOOK: the family the three calls above report: 95, 2000 or NT (4);
// 0 restores the default (NT).
void vx_w32n_set_windows_family(int family);
