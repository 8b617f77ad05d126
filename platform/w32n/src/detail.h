// Inner parts of the raw packet library, separate so they can be tested
// without a network: the packet-type decision of the packet filter and the
// queue of outstanding reads.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "w32n.h"

namespace w32n_detail {

using mac_t = std::array<uint8_t, 6>;

// Whether a received frame passes the NDIS packet filter `filter`. pkttype is
// the kernel's classification (PACKET_HOST, PACKET_BROADCAST, ...); dst the
// frame's destination address; multicast the adapter's multicast list.
bool packet_passes(uint32_t filter, uint8_t pkttype, const uint8_t* dst, const std::vector<mac_t>& multicast);

struct pending_read {
    uint8_t* buffer = nullptr;   // header + frame room
    uint32_t capacity = 0;       // frame room in bytes
    DWORD* bytes = nullptr;      // the caller's byte cell, may be null
    OVERLAPPED* overlapped = nullptr;
};

// Outstanding reads, completed strictly in issue order. Every write into a
// caller's buffer happens under the queue's lock, so a cancel that has
// returned can never be followed by a write into the withdrawn buffer.
class read_queue {
public:
    // Queues a read; false after shut().
    bool push(const pending_read& read);
    // Withdraws every outstanding read into buffer; true when there was one.
    bool cancel(const void* buffer);
    // Withdraws everything and refuses further reads; wakes waiters.
    void shut();
    bool is_shut();
    // Blocks until a read is outstanding (true) or the queue is shut (false).
    bool wait_pending();
    // Completes the oldest read with a frame of wire_length bytes of which
    // `stored` are at frame (cut to the read's capacity), then sets its event.
    // False when no read is outstanding (the frame is not consumed).
    bool complete_front(const uint8_t* frame, uint32_t stored, uint32_t wire_length);
    struct frame_ref {
        const uint8_t* data;
        uint32_t stored;
        uint32_t wire_length;
    };
    // The completion side in batches. Blocks until a read is outstanding and
    // every frame published before has been taken (true), or the queue is
    // shut (false).
    bool wait_wanted();
    // Hands frames out in order: to the outstanding reads first, the rest to
    // reads as they are issued (push completes such a read at once, without
    // waking the completion side). One hold of the lock, events set
    // together. The frames stay untouched until wait_wanted returns next.
    void publish(const frame_ref* frames, size_t count);
    size_t size();

private:
    static void withdraw(const pending_read& read);
    // Writes the frame into the read's buffer and marks it done (lock held).
    static void fill(const pending_read& read, const frame_ref& frame);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<pending_read> reads_;
    // Published frames not yet taken; only while no read is outstanding.
    std::vector<frame_ref> ready_;
    size_t next_ready_ = 0;
    bool shut_ = false;
};

}  // namespace w32n_detail
