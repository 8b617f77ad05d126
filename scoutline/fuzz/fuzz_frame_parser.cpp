// Raw frames into the frame parser: classification, the ARP reply reader
// and the announcement tag walk must stay within the frame whatever it holds.
#include <scoutline/frames.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace qm::vx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > receive_frame_capacity)
        size = receive_frame_capacity;
    // An exact-size copy, so any read past the frame is caught.
    std::vector<uint8_t> frame(data, data + size);
    const uint8_t* f = frame.data();

    switch (classify_frame(f, size)) {
    case frame_kind_t::arp_reply: {
        qm::mac_address_t mac;
        qm::ip_address_t ip;
        read_arp_reply(f, size, mac, ip);
        break;
    }
    case frame_kind_t::announcement: {
        (void)frame_source(f, size);
        size_t tags = 0;
        const tag_walk_end_t end =
            walk_tags(f, size, announcement_tags_offset, [&](const qm::ip_address_t&) { ++tags; });
        // Every applied tag holds a header and four address bytes inside the frame.
        if (tags != 0 && tags * 6 + announcement_tags_offset > size)
            std::abort();
        (void)end;
        break;
    }
    default:
        break;
    }
    // Tag lists of any offset, as in the reservation request.
    walk_tags(f, size, reservation_tags_offset, [](const qm::ip_address_t&) {});
    return 0;
}
