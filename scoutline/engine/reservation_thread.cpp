// The reservation sender: a multicast reservation request every 1666 ms.
#include <scoutline/adapter.h>
#include <scoutline/frames.h>
#include <scoutline/threads.h>

#include <qm/console.h>

#include <ostream>

namespace qm::vx {

void reservation_thread_t::thread_function()
{
    uint8_t request[reservation_request_size];
    build_reservation_request(request, adapter->get_own_mac(), adapter->get_ip());
    try {
        while (adapter->is_running()) {
            qm::console() << "Send Res. Request thread starting" << std::endl;
            adapter->packet_send(request, reservation_request_size);
            sleep(period_ms);
        }
    } catch (const qm::exception_t&) {}
    qm::console() << "reservation_thread_t shutting down..." << std::endl;
}

} // namespace qm::vx
