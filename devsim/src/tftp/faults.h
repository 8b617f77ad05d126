// Fault switches of one device's TFTP server. The simulator sets them from
// the device's switches (tftp-silent, tftp-drop=N, ...; see faults.cpp).
#pragma once

namespace devsim::tftp {

struct faults_t {
    bool silent = false;         // answers nothing at all
    unsigned drop = 0;           // the N-th packet sent from now is lost (counts down to it, once)
    unsigned duplicate = 0;      // the N-th packet sent from now goes out twice (once)
    unsigned stop_after = 0;     // every transfer goes silent after N data blocks
    bool refuse_writes = false;  // write requests get ERROR 2
    bool corrupt_writes = false; // a write stores one byte of its first block wrong
};

} // namespace devsim::tftp
