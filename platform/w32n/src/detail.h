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
    uint8_t* buffer = nullptr; // header + frame room
    uint32_t capacity = 0;     // frame room in bytes
    DWORD* bytes = nullptr;    // the caller's byte cell, may be null
    OVERLAPPED* overlapped = nullptr;
};

// Where the read queue takes frames from: called only under the queue's
// lock, so an implementation needs no lock of its own for its position.
class frame_source {
public:
    struct frame_ref {
        const uint8_t* data;
        uint32_t stored;      // bytes at data
        uint32_t wire_length; // the frame's full length
    };
    // The oldest waiting frame that passes the adapter's filter (frames that
    // do not are dropped on the way); false when none is waiting. The frame
    // stays in place until pop.
    virtual bool peek(frame_ref& frame) = 0;
    // Gives the frame last peeked back.
    virtual void pop() = 0;

protected:
    ~frame_source() = default;
};

// Outstanding reads, completed strictly in issue order. Every write into a
// caller's buffer happens under the queue's lock, so a cancel that has
// returned can never be followed by a write into the withdrawn buffer.
//
// With a frame source, a read issued while frames wait is completed at once
// (with the older outstanding reads first), in the issuing thread and without
// waking anyone; only reads that find nothing wait for the completion side.
class read_queue {
public:
    using frame_ref = frame_source::frame_ref;

    explicit read_queue(frame_source* source = nullptr) : source_(source) {}

    // Queues a read, then completes what the source holds; false after shut().
    bool push(const pending_read& read);
    // Withdraws every outstanding read into buffer; true when there was one.
    bool cancel(const void* buffer);
    // Withdraws everything and refuses further reads; wakes waiters.
    void shut();
    bool is_shut();
    // Blocks until a read is outstanding (true) or the queue is shut (false).
    bool wait_pending();
    // Completes outstanding reads, oldest first, with the frames the source
    // holds; returns how many reads are still outstanding.
    size_t pump();
    // Completes the oldest read with a frame of wire_length bytes of which
    // `stored` are at frame (cut to the read's capacity), then sets its event.
    // False when no read is outstanding (the frame is not consumed).
    bool complete_front(const uint8_t* frame, uint32_t stored, uint32_t wire_length);
    size_t size();

private:
    static void withdraw(const pending_read& read);
    // Writes the frame into the read's buffer and marks it done (lock held).
    static void fill(const pending_read& read, const frame_ref& frame);
    // pump with the lock held.
    void pump_locked();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<pending_read> reads_;
    frame_source* const source_;
    bool shut_ = false;
};

} // namespace w32n_detail
