#include "detail.h"

#include <linux/if_packet.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace w32n_detail {

bool packet_passes(uint32_t filter, uint8_t pkttype, const uint8_t* dst, const std::vector<mac_t>& multicast)
{
    switch (pkttype) {
    case PACKET_HOST:
        return (filter & NDIS_PACKET_TYPE_DIRECTED) != 0;
    case PACKET_BROADCAST:
        return (filter & NDIS_PACKET_TYPE_BROADCAST) != 0;
    case PACKET_MULTICAST:
        if (filter & NDIS_PACKET_TYPE_ALL_MULTICAST)
            return true;
        if (!(filter & NDIS_PACKET_TYPE_MULTICAST))
            return false;
        return std::any_of(multicast.begin(), multicast.end(),
                           [&](const mac_t& m) { return std::memcmp(m.data(), dst, 6) == 0; });
    default: // other stations' frames, and frames this host sends
        return false;
    }
}

bool read_queue::push(const pending_read& read)
{
    std::lock_guard lock(mutex_);
    if (shut_)
        return false;
    read.overlapped->Internal = ERROR_IO_PENDING;
    read.overlapped->InternalHigh = 0;
    const bool was_empty = reads_.empty();
    reads_.push_back(read);
    pump_locked();
    if (was_empty && !reads_.empty())
        changed_.notify_all(); // only an empty queue has a waiter
    return true;
}

void read_queue::withdraw(const pending_read& read)
{
    read.overlapped->Internal = ERROR_OPERATION_ABORTED;
    read.overlapped->InternalHigh = 0;
}

bool read_queue::cancel(const void* buffer)
{
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

void read_queue::shut()
{
    std::lock_guard lock(mutex_);
    shut_ = true;
    for (const auto& read : reads_)
        withdraw(read);
    reads_.clear();
    changed_.notify_all();
}

bool read_queue::is_shut()
{
    std::lock_guard lock(mutex_);
    return shut_;
}

bool read_queue::wait_pending()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return shut_ || !reads_.empty(); });
    return !shut_;
}

void read_queue::fill(const pending_read& read, const frame_ref& frame)
{
    DWORD length = std::min(frame.stored, read.capacity);
    std::memcpy(read.buffer + W32N_PACKET_FRAME_OFFSET, frame.data, length);
    DWORD wire = frame.wire_length;
    std::memcpy(read.buffer + W32N_PACKET_LENGTH_OFFSET, &length, sizeof length);
    std::memcpy(read.buffer + W32N_PACKET_WIRE_LENGTH_OFFSET, &wire, sizeof wire);
    if (read.bytes)
        *read.bytes = length;
    read.overlapped->InternalHigh = length;
    read.overlapped->Internal = 0;
}

void read_queue::pump_locked()
{
    if (!source_ || shut_)
        return;
    HANDLE events[32];
    size_t nevents = 0;
    frame_ref frame;
    while (!reads_.empty() && source_->peek(frame)) {
        const pending_read read = reads_.front();
        reads_.pop_front();
        fill(read, frame);
        source_->pop();
        if (!read.overlapped->hEvent)
            continue;
        if (nevents == std::size(events)) {
            vx_set_events(events, static_cast<DWORD>(nevents));
            nevents = 0;
        }
        events[nevents++] = read.overlapped->hEvent;
    }
    // Still under the lock: a read withdrawn and its event closed is never set.
    if (nevents)
        vx_set_events(events, static_cast<DWORD>(nevents));
}

size_t read_queue::pump()
{
    std::lock_guard lock(mutex_);
    pump_locked();
    return reads_.size();
}

bool read_queue::complete_front(const uint8_t* frame, uint32_t stored, uint32_t wire_length)
{
    std::lock_guard lock(mutex_);
    if (reads_.empty())
        return false;
    const pending_read read = reads_.front();
    reads_.pop_front();
    fill(read, {frame, stored, wire_length});
    if (read.overlapped->hEvent)
        SetEvent(read.overlapped->hEvent);
    return true;
}

size_t read_queue::size()
{
    std::lock_guard lock(mutex_);
    return reads_.size();
}

} // namespace w32n_detail
