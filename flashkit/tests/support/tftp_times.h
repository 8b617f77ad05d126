// Test support: the TFTP time-outs of the tests. An exchange that must
// succeed waits as long as only a fault makes it wait, so that a sanitizer
// build on a crowded machine is slower, never failed. Where a test needs a
// time-out to happen (the device is silent, or drops a packet on purpose)
// the wait is brief; where the transfer must still succeed, the retries make
// giving up a fault's doing: load then only adds resends, which the devices
// and the client take as repeats.
#pragma once

#include <cstdint>

namespace vx::test {

// Per packet, for an exchange that must succeed.
inline constexpr int32_t tftp_patient_ms = 10000;
// Per packet, where the device is silent or scripted to drop a packet.
inline constexpr int32_t tftp_brief_ms = 100;
// Resends for a brief wait that must still end in success: over ten seconds
// of silence before the transfer gives up.
inline constexpr int32_t tftp_brief_retries = 100;

} // namespace vx::test
