// The allocator: which address to hand to a device that has none.
#include <scoutline/ip_history.h>

namespace qm::vx {

qm::ip_address_t ip_history_t::suggest(const assignment_item_t& item)
{
    std::lock_guard guard(lock);
    const uint32_t start = range_start.number;
    const uint32_t end = range_end.number;

    // A device coming back gets its old address while that lies in the range.
    auto remembered = by_mac.find(item.mac);
    if (remembered != by_mac.end()) {
        const uint32_t a = remembered->second.number;
        auto s = state.find(remembered->second);
        if (a >= start && a <= end && (s == state.end() || s->second != ip_state_own))
            return remembered->second;
    }

    qm::ip_address_t none;
    // A range whose end lies below its start is empty. So is the whole address
    // space: its size does not fit 32 bits and comes out as 0.
    if (end < start || uint32_t(end - start + 1) == 0)
        return none;
    const uint64_t n = uint64_t(end) - start + 1;
    const uint64_t offset = uint32_t(cursor.number - start);

    auto state_of = [&](uint32_t candidate) {
        qm::ip_address_t ip;
        ip.assign_number(candidate);
        auto s = state.find(ip);
        return s == state.end() ? ip_state_free : s->second;
    };
    // First every free address from the cursor on, then those only the
    // history file says are in use.
    for (int32_t wanted : {ip_state_free, ip_state_from_file}) {
        for (uint64_t i = 0; i < n; ++i) {
            const uint32_t candidate = uint32_t(start + (i + offset) % n);
            if (state_of(candidate) == wanted) {
                qm::ip_address_t result;
                result.assign_number(candidate);
                cursor.assign_number(candidate + 1);
                return result;
            }
        }
    }
    return none;
}

} // namespace qm::vx
