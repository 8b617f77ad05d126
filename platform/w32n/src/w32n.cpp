// The raw packet library over Linux AF_PACKET sockets.
#include "w32n.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "detail.h"
#include "win32/error.h"
#include "win32/registry.h"

using w32n_detail::mac_t;

namespace {

thread_local DWORD last_error = 0;
constexpr DWORD error_not_found = 1168; // no such read outstanding

// The error is also the thread's Win32 last error, as the calls the library
// makes would leave it, so callers that report GetLastError name the reason.
template <class T> T fail(DWORD error, T result)
{
    last_error = error;
    SetLastError(error);
    return result;
}

DWORD error_from_errno(int e)
{
    switch (e) {
    case ENODEV:
    case ENXIO:
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EPERM:
    case EACCES:
        return ERROR_ACCESS_DENIED;
    case EINVAL:
    case EMSGSIZE:
    case EFAULT:
        return ERROR_INVALID_PARAMETER;
    case ENOMEM:
    case ENOBUFS:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// The receive ring the kernel fills (TPACKET_V2): frames are copied into it
// by the kernel as they arrive, on the CPU that receives them, and taken out
// by the reads without a system call. A segment of 1000 devices answers a
// reservation request with 1000 frames at once, on top of their periodic
// announcements: the ring holds several such bursts, so a reader held off
// the CPU for a second or two loses none.
constexpr unsigned ring_frame_size = 2048; // keeps frames of up to 1990 bytes whole
constexpr unsigned ring_block_size = 1 << 16;
constexpr unsigned ring_blocks = 128; // 4096 frames, 8 MiB
constexpr unsigned ring_frames = ring_blocks * (ring_block_size / ring_frame_size);

class adapter final : private w32n_detail::frame_source {
public:
    adapter(int fd, int wake_fd, int ifindex, const mac_t& mac, uint8_t* ring)
        : fd_(fd), wake_fd_(wake_fd), ifindex_(ifindex), mac_(mac), ring_(ring)
    {
        completion_ = std::thread([this] { completion_loop(); });
    }
    ~adapter()
    {
        shutdown();
        ::munmap(ring_, size_t(ring_blocks) * ring_block_size);
        ::close(fd_);
        ::close(wake_fd_);
    }

    // Stops reception for good: no read completes after this returns.
    void shutdown()
    {
        reads_.shut();
        uint64_t one = 1;
        ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
        (void)ignored;
        if (completion_.joinable())
            completion_.join();
    }
    bool closed() { return reads_.is_shut(); }

    int fd() const { return fd_; }
    const mac_t& mac() const { return mac_; }
    w32n_detail::read_queue& reads() { return reads_; }

    DWORD set_program(const void* program, DWORD length);
    DWORD request(W32N_REQUEST& request);

private:
    DWORD set_multicast(const uint8_t* data, DWORD length);
    bool membership(const mac_t& address, bool add);
    void completion_loop();
    tpacket2_hdr* ring_frame(unsigned index) const
    {
        return reinterpret_cast<tpacket2_hdr*>(ring_ + size_t(index) * ring_frame_size);
    }
    // frame_source, under the read queue's lock.
    bool peek(frame_ref& frame) override;
    void pop() override;

    const int fd_;
    const int wake_fd_;
    const int ifindex_;
    const mac_t mac_;
    uint8_t* const ring_;
    unsigned next_frame_ = 0; // the ring frame to take next (read queue's lock)
    // The filter settings as the ring reader last copied them (read queue's
    // lock), brought up to date when settings_version_ moves.
    uint64_t seen_version_ = ~uint64_t(0);
    uint32_t seen_filter_ = 0;
    std::vector<mac_t> seen_multicast_;
    w32n_detail::read_queue reads_{this};

    std::mutex settings_; // guards the three below
    bool receiving_ = false;
    uint32_t filter_ = 0;
    std::vector<mac_t> multicast_;
    std::atomic<uint64_t> settings_version_{0}; // moves after every change of the two above

    std::thread completion_; // last: it starts once everything above exists
};

bool adapter::peek(frame_ref& frame)
{
    for (;;) {
        tpacket2_hdr* header = ring_frame(next_frame_);
        if (!(__atomic_load_n(&header->tp_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER))
            return false;
        const uint64_t version = settings_version_.load(std::memory_order_acquire);
        if (version != seen_version_) {
            std::lock_guard lock(settings_);
            seen_filter_ = filter_;
            seen_multicast_ = multicast_;
            seen_version_ = settings_version_.load(std::memory_order_relaxed);
        }
        const auto* from = reinterpret_cast<const sockaddr_ll*>(reinterpret_cast<const uint8_t*>(header) +
                                                                TPACKET_ALIGN(sizeof(tpacket2_hdr)));
        const uint8_t* data = reinterpret_cast<const uint8_t*>(header) + header->tp_mac;
        const uint32_t stored = std::min<uint32_t>(header->tp_snaplen, ring_frame_size - header->tp_mac);
        if (header->tp_len >= 14 && stored >= 14 &&
            w32n_detail::packet_passes(seen_filter_, from->sll_pkttype, data, seen_multicast_)) {
            frame = {data, stored, header->tp_len};
            return true;
        }
        pop(); // not for the reads
    }
}

void adapter::pop()
{
    __atomic_store_n(&ring_frame(next_frame_)->tp_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    next_frame_ = (next_frame_ + 1) % ring_frames;
}

DWORD adapter::set_program(const void* program, DWORD length)
{
    if (!program || length == 0 || length % sizeof(sock_filter) != 0 || length / sizeof(sock_filter) > BPF_MAXINSNS)
        return ERROR_INVALID_PARAMETER;
    std::vector<sock_filter> code(length / sizeof(sock_filter));
    std::memcpy(code.data(), program, length);
    sock_fprog fprog{static_cast<unsigned short>(code.size()), code.data()};
    std::lock_guard lock(settings_);
    if (::setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog) != 0)
        return error_from_errno(errno);
    if (!receiving_) {
        // Bound to all protocols only now, so nothing unfiltered was queued.
        sockaddr_ll addr{};
        addr.sll_family = AF_PACKET;
        addr.sll_protocol = htons(ETH_P_ALL);
        addr.sll_ifindex = ifindex_;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return error_from_errno(errno);
        receiving_ = true;
    }
    return 0;
}

bool adapter::membership(const mac_t& address, bool add)
{
    packet_mreq mreq{};
    mreq.mr_ifindex = ifindex_;
    mreq.mr_type = PACKET_MR_MULTICAST;
    mreq.mr_alen = 6;
    std::memcpy(mreq.mr_address, address.data(), 6);
    return ::setsockopt(fd_, SOL_PACKET, add ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP, &mreq, sizeof mreq) == 0;
}

DWORD adapter::set_multicast(const uint8_t* data, DWORD length)
{
    if (length % 6 != 0 || length / 6 > W32N_MAX_MULTICAST_ADDRESSES)
        return ERROR_INVALID_PARAMETER;
    std::vector<mac_t> wanted;
    for (DWORD i = 0; i < length; i += 6) {
        mac_t m;
        std::memcpy(m.data(), data + i, 6);
        if (!(m[0] & 1))
            return ERROR_INVALID_PARAMETER; // not a group address
        if (std::find(wanted.begin(), wanted.end(), m) == wanted.end())
            wanted.push_back(m);
    }
    std::lock_guard lock(settings_);
    std::vector<mac_t> joined;
    for (const auto& m : wanted) {
        if (std::find(multicast_.begin(), multicast_.end(), m) != multicast_.end())
            continue;
        if (!membership(m, true)) {
            DWORD error = error_from_errno(errno);
            for (const auto& undo : joined)
                membership(undo, false);
            return error;
        }
        joined.push_back(m);
    }
    for (const auto& m : multicast_)
        if (std::find(wanted.begin(), wanted.end(), m) == wanted.end())
            membership(m, false);
    multicast_ = std::move(wanted);
    settings_version_.fetch_add(1, std::memory_order_release);
    return 0;
}

DWORD adapter::request(W32N_REQUEST& r)
{
    auto* data = static_cast<uint8_t*>(r.InformationBuffer);
    if (!data && r.InformationBufferLength != 0)
        return ERROR_INVALID_PARAMETER;
    r.BytesTransferred = 0;
    r.BytesNeeded = 0;
    auto answer = [&](const void* value, DWORD size) -> DWORD {
        if (r.InformationBufferLength < size) {
            r.BytesNeeded = size;
            return ERROR_INSUFFICIENT_BUFFER;
        }
        if (size)
            std::memcpy(data, value, size);
        r.BytesTransferred = size;
        return 0;
    };
    if (r.RequestType == W32N_REQUEST_QUERY) {
        switch (r.Oid) {
        case OID_802_3_CURRENT_ADDRESS:
            return answer(mac_.data(), 6);
        case OID_GEN_CURRENT_PACKET_FILTER: {
            std::lock_guard lock(settings_);
            uint32_t value = filter_;
            return answer(&value, 4);
        }
        case OID_802_3_MULTICAST_LIST: {
            std::lock_guard lock(settings_);
            std::vector<uint8_t> list;
            for (const auto& m : multicast_)
                list.insert(list.end(), m.begin(), m.end());
            return answer(list.data(), static_cast<DWORD>(list.size()));
        }
        default:
            return ERROR_NOT_SUPPORTED;
        }
    }
    if (r.RequestType != W32N_REQUEST_SET)
        return ERROR_INVALID_PARAMETER;
    switch (r.Oid) {
    case OID_GEN_CURRENT_PACKET_FILTER: {
        if (r.InformationBufferLength != 4) {
            r.BytesNeeded = 4;
            return ERROR_INVALID_PARAMETER;
        }
        uint32_t value;
        std::memcpy(&value, data, 4);
        constexpr uint32_t supported = NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_MULTICAST |
            NDIS_PACKET_TYPE_ALL_MULTICAST | NDIS_PACKET_TYPE_BROADCAST;
        if (value & ~supported)
            return ERROR_NOT_SUPPORTED;
        std::lock_guard lock(settings_);
        filter_ = value;
        settings_version_.fetch_add(1, std::memory_order_release);
        r.BytesTransferred = 4;
        return 0;
    }
    case OID_802_3_MULTICAST_LIST: {
        DWORD error = set_multicast(data, r.InformationBufferLength);
        if (error == 0)
            r.BytesTransferred = r.InformationBufferLength;
        return error;
    }
    default:
        return ERROR_NOT_SUPPORTED;
    }
}

// Serves the reads that found the ring empty: waits for frames while such
// reads are outstanding. Reads issued while frames wait are served by the
// caller itself (read_queue::push), without this thread.
void adapter::completion_loop()
{
    while (reads_.wait_pending()) {
        if (reads_.pump() == 0)
            continue;
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            break; // shut down
        if (fds[0].revents & (POLLERR | POLLNVAL))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// ---- handle table -------------------------------------------------------------

std::mutex table_mutex;
std::map<INT, std::shared_ptr<adapter>> table;
INT next_handle = 1;

std::shared_ptr<adapter> find(INT handle)
{
    std::lock_guard lock(table_mutex);
    auto it = table.find(handle);
    if (it == table.end())
        return nullptr;
    return it->second;
}

std::atomic<int> windows_family{0};

std::string interface_name(const char* name)
{
    std::string text = name;
    static const char prefix[] = "\\Device\\";
    if (text.size() >= sizeof prefix - 1 && strncasecmp(text.c_str(), prefix, sizeof prefix - 1) == 0)
        text.erase(0, sizeof prefix - 1);
    return text;
}

} // namespace

extern "C" {

INT W32N_OpenAdapterA(LPCSTR adapter_name)
{
    if (!adapter_name)
        return fail(ERROR_INVALID_PARAMETER, -1);
    std::string name = interface_name(adapter_name);
    if (name.empty() || name.size() >= IFNAMSIZ)
        return fail(ERROR_FILE_NOT_FOUND, -1);
    int ifindex = static_cast<int>(if_nametoindex(name.c_str()));
    if (ifindex == 0)
        return fail(ERROR_FILE_NOT_FOUND, -1);

    // Protocol 0: the socket can send but receives nothing until a program is set.
    int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(error_from_errno(errno), -1);
    auto close_fail = [&](DWORD error) {
        ::close(fd);
        return fail(error, -1);
    };
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = 0;
    addr.sll_ifindex = ifindex;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return close_fail(error_from_errno(errno));
    int one = 1;
    ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one); // also checked per frame
    ifreq req{};
    std::strncpy(req.ifr_name, name.c_str(), IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFHWADDR, &req) != 0)
        return close_fail(error_from_errno(errno));
    mac_t mac;
    std::memcpy(mac.data(), req.ifr_hwaddr.sa_data, 6);
    int version = TPACKET_V2;
    if (::setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
        return close_fail(error_from_errno(errno));
    tpacket_req ring_request{ring_block_size, ring_blocks, ring_frame_size, ring_frames};
    if (::setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &ring_request, sizeof ring_request) != 0)
        return close_fail(error_from_errno(errno));
    const size_t ring_bytes = size_t(ring_blocks) * ring_block_size;
    void* ring = ::mmap(nullptr, ring_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (ring == MAP_FAILED)
        return close_fail(error_from_errno(errno));
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ::munmap(ring, ring_bytes);
        return close_fail(error_from_errno(errno));
    }

    std::shared_ptr<adapter> opened;
    try {
        opened = std::make_shared<adapter>(fd, wake, ifindex, mac, static_cast<uint8_t*>(ring));
    } catch (const std::exception&) {
        ::close(wake);
        ::munmap(ring, ring_bytes);
        return close_fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    std::lock_guard lock(table_mutex);
    if (next_handle == INT_MAX)
        return fail(ERROR_TOO_MANY_OPEN_FILES, -1);
    INT handle = next_handle++;
    table.emplace(handle, std::move(opened));
    return handle;
}

BOOL W32N_CloseAdapter(INT handle)
{
    std::shared_ptr<adapter> closing;
    {
        std::lock_guard lock(table_mutex);
        auto it = table.find(handle);
        if (it == table.end())
            return fail(ERROR_INVALID_HANDLE, FALSE);
        closing = std::move(it->second);
        table.erase(it);
    }
    // Reads are withdrawn here; the socket goes when the last caller still
    // inside a call lets go of the adapter.
    closing->shutdown();
    return TRUE;
}

BYTE W32N_SetBPFProgram(INT handle, const void* program, DWORD length)
{
    auto a = find(handle);
    if (!a)
        return fail<BYTE>(ERROR_INVALID_HANDLE, 0);
    DWORD error = a->set_program(program, length);
    if (error)
        return fail<BYTE>(error, 0);
    return 1;
}

DWORD W32N_MakeNdisRequest(INT handle, PW32N_REQUEST request, LPOVERLAPPED overlapped, DWORD synchronous)
{
    auto a = find(handle);
    if (!a)
        return fail<DWORD>(ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE);
    if (!request)
        return fail<DWORD>(ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER);
    DWORD error = a->request(*request);
    if (error)
        return fail(error, error);
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = request->BytesTransferred;
        if (overlapped->hEvent)
            SetEvent(overlapped->hEvent);
    }
    return 0;
}

BOOL W32N_PacketSend(INT handle, const void* frame, DWORD length, LPDWORD bytes_sent, LPOVERLAPPED overlapped)
{
    auto a = find(handle);
    if (!a || a->closed())
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!frame || length < 14)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    ssize_t sent;
    do {
        sent = ::send(a->fd(), frame, length, 0);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return fail(error_from_errno(errno), FALSE);
    if (bytes_sent)
        *bytes_sent = static_cast<DWORD>(sent);
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = static_cast<ULONG_PTR>(sent);
        if (overlapped->hEvent)
            SetEvent(overlapped->hEvent);
    }
    return TRUE;
}

BOOL W32N_PacketRead(INT handle, void* buffer, LPDWORD bytes_read, LPOVERLAPPED overlapped, DWORD flags)
{
    auto a = find(handle);
    if (!a)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!buffer || !overlapped)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    w32n_detail::pending_read read;
    read.buffer = static_cast<uint8_t*>(buffer);
    std::memcpy(&read.capacity, read.buffer + W32N_PACKET_CAPACITY_OFFSET, sizeof read.capacity);
    if (read.capacity == 0)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    read.bytes = bytes_read;
    read.overlapped = overlapped;
    if (!a->reads().push(read))
        return fail(ERROR_INVALID_HANDLE, FALSE);
    return fail(ERROR_IO_PENDING, FALSE);
}

BOOL W32N_CancelPacketRead(INT handle, void* buffer)
{
    auto a = find(handle);
    if (!a)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!a->reads().cancel(buffer))
        return fail(error_not_found, FALSE);
    return TRUE;
}

DWORD W32N_GetLastError() { return last_error; }

DWORD W32N_GetAdapterRegistryInfo(PW32N_ADAPTER_INFO record, LPCSTR subkey)
{
    if (!record || !subkey)
        return fail<DWORD>(ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER);
    std::memset(record, 0, sizeof *record);
    std::string path;
    const char* description = "DriverDesc";
    const char* title = "DriverDesc";
    const char* service = nullptr;
    if (W32N_IsWindows95()) {
        path = std::string("SYSTEM\\CurrentControlSet\\Services\\Class\\Net\\") + subkey;
    } else if (W32N_IsWindows2000()) {
        path =
            std::string("System\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\") + subkey;
        service = "NetCfgInstanceId";
    } else {
        path = std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\") + subkey;
        description = "Description";
        title = "Title";
        service = "ServiceName";
    }
    HKEY key;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return fail<DWORD>(static_cast<DWORD>(result), static_cast<DWORD>(result));
    auto read = [&](const char* value, char* out) -> LONG {
        char text[1024] = {};
        DWORD size = sizeof text - 1;
        DWORD type = 0;
        LONG r = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
        if (r != ERROR_SUCCESS)
            return r;
        if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
            return ERROR_INVALID_DATA;
        const size_t n = strnlen(text, 259); // fields hold 259 characters and a NUL
        std::memcpy(out, text, n);
        out[n] = '\0';
        return ERROR_SUCCESS;
    };
    result = read(description, record->Description);
    if (result == ERROR_SUCCESS)
        result = read(title, record->Title);
    if (result == ERROR_SUCCESS && service)
        result = read(service, record->ServiceName);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        std::memset(record, 0, sizeof *record);
        return fail<DWORD>(static_cast<DWORD>(result), static_cast<DWORD>(result));
    }
    return 0;
}

BOOL W32N_IsWindows95() { return windows_family.load() == 95; }
BOOL W32N_IsWindowsNT()
{
    int family = windows_family.load();
    return family == 0 || family == 4;
}
BOOL W32N_IsWindows2000() { return windows_family.load() == 2000; }

} // extern "C"

void vx_w32n_set_windows_family(int family) { windows_family.store(family); }
