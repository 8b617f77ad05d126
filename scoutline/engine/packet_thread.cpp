// The receive thread: ten reads kept outstanding on the adapter, waited for
// strictly round-robin, every completed frame handed to the parser.
#include <scoutline/adapter.h>
#include <scoutline/frames.h>
#include <scoutline/threads.h>

#include <qm/console.h>
#include <qm/handle.h>
#include <qm/log_file.h>

#include <w32n.h>
#include <windows.h>

#include <cstring>
#include <ostream>
#include <sstream>

namespace qm::vx {

namespace {

struct read_slot_t {
    uint8_t buffer[receive_buffer_size];
    OVERLAPPED overlapped;
    DWORD bytes = 0;
    qm::wapi::handle_t event;
    bool outstanding = false;
};

void set_capacity(uint8_t* buffer)
{
    const uint32_t capacity = receive_frame_capacity;
    std::memcpy(buffer + receive_capacity_offset, &capacity, sizeof capacity);
}

void issue_read(int32_t handle, read_slot_t& slot)
{
    std::memset(slot.buffer, 0, sizeof slot.buffer);
    set_capacity(slot.buffer);
    std::memset(&slot.overlapped, 0, sizeof slot.overlapped);
    slot.overlapped.hEvent = slot.event.get();
    slot.bytes = 0;
    W32N_PacketRead(handle, slot.buffer, &slot.bytes, &slot.overlapped, 0);
    slot.outstanding = true;
}

void cancel_read(int32_t handle, read_slot_t& slot)
{
    if (slot.outstanding)
        W32N_CancelPacketRead(handle, slot.buffer);
    slot.outstanding = false;
}

// The ten buffers and their events, released when the thread ends. Every read
// still outstanding is withdrawn first, so the library never writes into a
// buffer that is gone.
struct working_set_t {
    explicit working_set_t(int32_t handle) : handle(handle)
    {
        for (auto& slot : slots) {
            slot.event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
            if (!slot.event.valid())
                throw qm::exception_t("Can not create event for overlapped");
        }
    }
    ~working_set_t()
    {
        for (auto& slot : slots)
            cancel_read(handle, slot);
    }

    int32_t handle;
    read_slot_t slots[packet_thread_t::buffer_count];
};

} // namespace

void packet_thread_t::thread_function()
{
    LogFile& log = server_log();
    log.WriteCategory("packet thread start", "Packet thread starting");
    const int32_t handle = adapter->get_handle();
    try {
        auto set = std::make_unique<working_set_t>(handle);
        for (auto& slot : set->slots)
            issue_read(handle, slot);

        qm::tick_timer_t rate_timer;
        uint32_t packets = 0;
        int max_busy = 0;

        try {
            while (adapter->is_running()) {
                for (int i = 0; i < buffer_count; ++i) {
                    read_slot_t& slot = set->slots[i];
                    qm::tick_timer_t wait_timer;
                    if (wait_for_objects(slot.event.get(), wait_ms)) {
                        slot.outstanding = false;
                        adapter->parse_frame(slot.buffer, slot.bytes);
                        ++packets;
                    } else {
                        cancel_read(handle, slot);
                        if (wait_timer.elapsed() >= 1000) {
                            log.WriteCategory("network down",
                                              "No veltrix packet received, probably the network is down");
                        } else {
                            log.WriteCategory("st_timeout", "bad timeout of wait_for_object");
                            qm::sleep(100);
                        }
                    }

                    int busy = 0;
                    for (int j = 0; j < buffer_count; ++j)
                        if (j != i && WaitForSingleObject(set->slots[j].event.get(), 0) == WAIT_OBJECT_0)
                            ++busy;
                    if (busy > max_busy) {
                        max_busy = busy;
                        log.Write("count = [" + std::to_string(busy) + "]");
                    }
                    if (busy == buffer_count - 1)
                        log.WriteCategory("grab buffer", "*** Packet grab buffer is exhausted!!!");
                    else
                        log.WriteCategory("grab buffer available", "*** Packet grab buffer is available");

                    ResetEvent(slot.event.get());
                    issue_read(handle, slot);
                }
                if (packets >= 100) {
                    const double rate = rate_timer.elapsed() / packets;
                    packets = 0;
                    rate_timer.restart();
                    if (rate < 10.0) {
                        std::ostringstream text;
                        text << "packet rate(ms/packet) = [" << rate << "]";
                        log.WriteCategory("rate", text.str());
                    }
                }
            }
        } catch (const qm::exception_t&) {
            qm::console() << "packet_thread_t shutting down..." << std::endl;
        }
    } catch (const qm::exception_t&) {
        qm::console() << "packet_thread_t shutting down..." << std::endl;
    }
    log.Write("Packet thread exiting...");
}

} // namespace qm::vx
