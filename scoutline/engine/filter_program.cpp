// The sixteen-instruction receive filter program.
#include <scoutline/filter_program.h>

namespace qm::vx {

const bpf_instruction_t receive_filter_program[receive_filter_length] = {
    {0x28, 0, 0, 12},         // 0: load halfword at 12 (EtherType)
    {0x15, 0, 11, 0x8819},    // 1: 0x8819 -> 2, else 13
    {0x30, 0, 0, 15},         // 2: load byte at 15
    {0x15, 0, 11, 2},         // 3: 2 -> 4, else drop
    {0x30, 0, 0, 14},         // 4: load byte at 14
    {0x15, 8, 0, 1},          // 5: 1 -> accept, else 6
    {0x15, 0, 8, 0},          // 6: 0 -> 7, else drop
    {0x28, 0, 0, 16},         // 7: load halfword at 16
    {0x54, 0, 0, 0xFC},       // 8: and 0xFC
    {0x15, 0, 5, 4},          // 9: 4 -> 10, else drop
    {0x28, 0, 0, 18},         // 10: load halfword at 18
    {0x54, 0, 0, 0xFF01},     // 11: and 0xFF01
    {0x15, 1, 2, 0},          // 12: 0 -> accept, else drop
    {0x15, 0, 1, 0x0806},     // 13: ARP -> accept, else drop
    {0x06, 0, 0, 0xFFFFFFFF}, // 14: accept the whole frame
    {0x06, 0, 0, 0},          // 15: drop
};

} // namespace qm::vx
