#include "detail.h"

#include <linux/if_packet.h>

#include <algorithm>
#include <cstring>

namespace w32n_detail {

bool packet_passes(uint32_t filter, uint8_t pkttype, const uint8_t* dst, const std::vector<mac_t>& multicast) {
    switch (pkttype) {
    case PACKET_HOST:
        return (filter & NDIS_PACKET_TYPE_DIRECTED) != 0;
    case PACKET_BROADCAST:
        return (filter & NDIS_PACKET_TYPE_BROADCAST) != 0;
    case PACKET_MULTICAST:
        if (filter & NDIS_PACKET_TYPE_ALL_MULTICAST) return true;
        if (!(filter & NDIS_PACKET_TYPE_MULTICAST)) return false;
        return std::any_of(multicast.begin(), multicast.end(),
                           [&](const mac_t& m) { return std::memcmp(m.data(), dst, 6) == 0; });
    default:  // other stations' frames, and frames this host sends
        return false;
    }
}

bool read_queue::push(const pending_read& read) {
    std::lock_guard lock(mutex_);
    if (shut_) return false;
    read.overlapped->Internal = ERROR_IO_PENDING;
    read.overlapped->InternalHigh = 0;
    reads_.push_back(read);
    changed_.notify_all();
    return true;
}

void read_queue::withdraw(const pending_read& read) {
    read.overlapped->Internal = ERROR_OPERATION_ABORTED;
    read.overlapped->InternalHigh = 0;
}

bool read_queue::cancel(const void* buffer) {
    std::lock_guard lock(mutex_);
    bool found = false;
    for (auto it = reads_.begin(); it != reads_.end();) {
        if (it->buffer == buffer) {
            withdraw(*it);
            it = reads_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

void read_queue::shut() {
    std::lock_guard lock(mutex_);
    shut_ = true;
    for (const auto& read : reads_) withdraw(read);
    reads_.clear();
    changed_.notify_all();
}

bool read_queue::is_shut() {
    std::lock_guard lock(mutex_);
    return shut_;
}

bool read_queue::wait_pending() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return shut_ || !reads_.empty(); });
    return !shut_;
}

bool read_queue::complete_front(const uint8_t* frame, uint32_t stored, uint32_t wire_length) {
    std::lock_guard lock(mutex_);
    if (reads_.empty()) return false;
    pending_read read = reads_.front();
    reads_.pop_front();
    DWORD length = std::min(stored, read.capacity);
    std::memcpy(read.buffer + W32N_PACKET_FRAME_OFFSET, frame, length);
    DWORD wire = wire_length;
    std::memcpy(read.buffer + W32N_PACKET_LENGTH_OFFSET, &length, sizeof length);
    std::memcpy(read.buffer + W32N_PACKET_WIRE_LENGTH_OFFSET, &wire, sizeof wire);
    if (read.bytes) *read.bytes = length;
    read.overlapped->InternalHigh = length;
    read.overlapped->Internal = 0;
    if (read.overlapped->hEvent) SetEvent(read.overlapped->hEvent);
    return true;
}

size_t read_queue::size() {
    std::lock_guard lock(mutex_);
    return reads_.size();
}

}  // namespace w32n_detail
