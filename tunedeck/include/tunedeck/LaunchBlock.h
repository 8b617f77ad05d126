// The launch block that the console fills and passes to the configuration and
// report library, the library's two entry points and their result codes.
// Both sides include this header; the layout below is checked at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

class CDeviceMib;

// Selection callback of the console: GetFirst restarts the walk over the
// console's devices, GetNext continues it. On result 0 *ip points at the
// device's IP text, which stays owned by the console and needs to last only
// until the next call. all: 1 = every device of the console's table, else the
// selected ones. RunVeltrixReport calls them from its report worker thread
// (twice per run: to count, then to write) while the caller's thread runs the
// report dialog's event loop.
typedef int (*LaunchSelectFn)(const char** ip, int all);

// Results of the selection callbacks.
enum LaunchSelectResult {
    LAUNCH_SELECT_DEVICE = 0,   // a device, its IP text handed out
    LAUNCH_SELECT_END = 4,      // no more devices
    LAUNCH_SELECT_NO_IP = 5,    // the device's IP address is "0.0.0.0"
    LAUNCH_SELECT_OFF_LINE = 6, // the device is off line
};

// Bits of LaunchBlock::Switches (the "Switches" registry value).
enum LaunchSwitch {
    LAUNCH_SWITCH_CONFIG = 0x01,   // the console offers Configure
    LAUNCH_SWITCH_REPORT = 0x02,   // the main device dialog shows "Report"
    LAUNCH_SWITCH_ADVANCED = 0x04, // ... "Advanced"
    LAUNCH_SWITCH_SNMP = 0x08,     // ... "SNMP"
    LAUNCH_SWITCH_23MS = 0x10,     // the 2/3 mS rates are offered
};

// Thirteen words in this order; pointer-sized where a word holds a pointer.
// Owned by the console for the duration of a call; the library copies what
// it keeps.
struct LaunchBlock {
    const char* IpAddress;      // 0: IP text of the device, fewer than 64 characters
    const char* MacAddress;     // 1: set by RunTunedeck in its own copy only
    const char* WriteCommunity; // 2: at most 63 characters
    const char* ReadCommunity;  // 3: at most 63 characters
    LaunchSelectFn GetFirst;    // 4
    LaunchSelectFn GetNext;     // 5
    CDeviceMib* DeviceMib;      // 6: set by RunTunedeck in its own copy only
    int32_t Timeout;            // 7: registry "Timeout"; RunTunedeck takes it as milliseconds,
                                //    RunVeltrixReport as hundredths of a second
    int32_t Retries;            // 8: registry "Retries"
    int32_t Delay;              // 9: milliseconds between requests to a device
    int32_t AllDevices;         // 10: 1 = every device of the console's table
    int32_t Switches;           // 11: LaunchSwitch bits
    int32_t Reserved;           // 12: set and read by neither side
};

static_assert(std::is_standard_layout_v<LaunchBlock> && std::is_trivially_copyable_v<LaunchBlock>);
static_assert(offsetof(LaunchBlock, IpAddress) == 0 * sizeof(void*));
static_assert(offsetof(LaunchBlock, MacAddress) == 1 * sizeof(void*));
static_assert(offsetof(LaunchBlock, WriteCommunity) == 2 * sizeof(void*));
static_assert(offsetof(LaunchBlock, ReadCommunity) == 3 * sizeof(void*));
static_assert(offsetof(LaunchBlock, GetFirst) == 4 * sizeof(void*));
static_assert(offsetof(LaunchBlock, GetNext) == 5 * sizeof(void*));
static_assert(offsetof(LaunchBlock, DeviceMib) == 6 * sizeof(void*));
static_assert(offsetof(LaunchBlock, Timeout) == 7 * sizeof(void*));
static_assert(offsetof(LaunchBlock, Retries) == 7 * sizeof(void*) + 1 * sizeof(int32_t));
static_assert(offsetof(LaunchBlock, Delay) == 7 * sizeof(void*) + 2 * sizeof(int32_t));
static_assert(offsetof(LaunchBlock, AllDevices) == 7 * sizeof(void*) + 3 * sizeof(int32_t));
static_assert(offsetof(LaunchBlock, Switches) == 7 * sizeof(void*) + 4 * sizeof(int32_t));
static_assert(offsetof(LaunchBlock, Reserved) == 7 * sizeof(void*) + 5 * sizeof(int32_t));
static_assert(sizeof(LaunchBlock) == 7 * sizeof(void*) + 6 * sizeof(int32_t));

// Result codes of the entry points. The console produces 1, 2, 4, 5, 8, 9
// and 11 itself; the library returns 0, 1, 3, 5, 7, 8 and 9.
enum LaunchResult {
    LAUNCH_OK = 0,
    LAUNCH_LOAD_FAILED = 1,       // library not loaded, or the report worker did not start
    LAUNCH_NO_ENTRY = 2,          // entry point missing
    LAUNCH_NOT_INITIALIZED = 3,   // the device could not be opened
    LAUNCH_INVALID_SELECTION = 4, // no usable device selected
    LAUNCH_NO_IP = 5,             // IP text missing, empty, too long or "0.0.0.0"
    LAUNCH_OFF_LINE = 6,
    LAUNCH_NO_MAC = 7, // the device's MAC address could not be read
    LAUNCH_NO_GETFIRST = 8,
    LAUNCH_NO_GETNEXT = 9,
    LAUNCH_NO_CONFIG_OBJECT = 10,
    LAUNCH_NOT_ENABLED = 11,
};

// IP texts of this many characters or more are refused (LAUNCH_NO_IP).
constexpr size_t LAUNCH_IP_MAX = 64;

// The entry points, exported by name: the console finds them with these names.
// Each runs its modal dialog on the caller's GUI thread and returns when it closes.
typedef int (*LaunchEntryFn)(LaunchBlock* block);
extern "C" int RunTunedeck(LaunchBlock* block);
extern "C" int RunVeltrixReport(LaunchBlock* block);
