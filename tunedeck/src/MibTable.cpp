// The device variable table.
#include "MibTable.h"

#include "SnmpSession.h"

namespace mib {

namespace {
constexpr int O = STORE_OCTETS, T = STORE_TEXT, I = STORE_INTEGER;
} // namespace

#define E "1.3.6.1.4.1.2680.1.1"

const RowDef kRows[RowCount] = {
    {I, 16, 8, KIND_INTEGER, E ".7.2.1.2", 0},                // 0 txSubMap
    {I, 16, 8, KIND_INTEGER, E ".7.2.1.3", 0},                // 1 txSubFormat
    {I, 16, 1, KIND_INTEGER, E ".7.1.1.2", 0},                // 2 txBundle
    {I, 16, 1, KIND_INTEGER, E ".7.1.1.5", 0},                // 3 txSubCount
    {I, 16, 1, KIND_INTEGER, E ".7.1.1.10", 0},               // 4 txUnicastMode
    {I, 16, 1, KIND_INTEGER, E ".7.1.1.11", 0},               // 5 txMaxUnicast
    {I, 16, 1, KIND_INTEGER, E ".7.1.1.7", 0},                // 6 txDropouts
    {I, 16, 1, KIND_INTEGER, E ".7.1.1.9", 0},                // 7 txReceivers
    {I, 16, 8, KIND_INTEGER, E ".6.2.1.2", 0},                // 8 rxSubMap
    {I, 16, 8, KIND_INTEGER, E ".6.2.1.3", 0},                // 9 rxSubFormat
    {I, 16, 1, KIND_INTEGER, E ".6.1.1.2", 0},                // 10 rxBundle
    {I, 16, 1, KIND_INTEGER, E ".6.1.1.7", 0},                // 11 rxDropouts
    {I, 16, 1, KIND_INTEGER, E ".6.1.1.6", 0},                // 12 rxStatus
    {I, 1, 1, KIND_INTEGER, E ".3.6.1.0", 0},                 // 13 modeRateControl
    {I, 1, 1, KIND_INTEGER, E ".3.6.2.0", 0},                 // 14 modeRateStatus
    {I, 1, 1, KIND_INTEGER, E ".2.7.0", 0},                   // 15 flashPersistEnable
    {I, 1, 1, KIND_INTEGER, E ".3.3.0", 0},                   // 16 errorCode
    {I, 1, 1, KIND_INTEGER, E ".3.4.0", 0},                   // 17 errorCount
    {I, 1, 1, KIND_INTEGER, E ".1.9.0", 0},                   // 18 firmwareHardwarePlatform
    {I, 1, 1, KIND_INTEGER, E ".1.10.0", 0},                  // 19 firmwareHardwareVersion
    {I, 1, 1, KIND_INTEGER, E ".4.2.0", 0},                   // 20 condPriority
    {I, 1, 1, KIND_INTEGER, E ".4.4.0", 0},                   // 21 condStatus
    {I, 1, 1, KIND_INTEGER, E ".5.12.0", 0},                  // 22 audioSSIFormat
    {I, 64, 1, KIND_INTEGER, E ".5.2.1.5", 0},                // 23 audioMap
    {I, 16, 1, KIND_INTEGER, E ".6.1.1.8", 0},                // 24 rxDelay
    {I, 1, 1, KIND_INTEGER, E ".8.1.0", 0},                   // 25 syncConductorClock
    {I, 1, 1, KIND_INTEGER, E ".8.2.0", 0},                   // 26 syncPerformerClock
    {I, 1, 1, KIND_INTEGER, E ".8.4.0", 0},                   // 27 syncBuddyLinkControl
    {I, 1, 1, KIND_INTEGER, E ".8.5.0", 0},                   // 28 syncStatus
    {I, 1, 1, KIND_INTEGER, E ".9.3.1.0", 0},                 // 29 ifmCurrentIF
    {I, 2, 1, KIND_INTEGER, E ".9.3.3.1.2", 0},               // 30 ifmtStatus
    {I, 1, 1, KIND_INTEGER, E ".9.3.4.0", 0},                 // 31 ifmSwitchMode
    {I, 1, 1, KIND_INTEGER, E ".10.1.1.0", 0},                // 32 serialFormat
    {I, 1, 1, KIND_INTEGER, E ".10.1.2.0", 0},                // 33 serialBaud
    {I, 1, 1, KIND_INTEGER, E ".10.1.3.0", 0},                // 34 serialPPeriod
    {O, 1, 1, KIND_OCTETS, E ".10.1.4.0", 8},                 // 35 serialRxMAC
    {O, 1, 1, KIND_OCTETS, E ".10.1.7.0", 8},                 // 36 serialTxMAC
    {I, 1, 1, KIND_INTEGER, "1.3.6.1.2.1.2.2.1.6.0", 0},      // 37 interface address as an integer
    {I, 1, 1, KIND_INTEGER, E ".1.2.0", 0},                   // 38 firmwareMajorVersion
    {I, 1, 1, KIND_INTEGER, E ".1.2.0", 0},                   // 39 firmwareMajorVersion (second row)
    {I, 1, 1, KIND_INTEGER, E ".9.1.4.0", 0},                 // 40 miMonHMIMode
    {I, 1, 1, KIND_INTEGER, "1.3.6.1.4.1.2680.1.4.1.1.0", 0}, // 41 procMode
    {I, 1, 1, KIND_INTEGER, "1.3.6.1.4.1.2680.1.4.1.0", 0},   // 42 processor group scalar
    {I, 1, 1, KIND_INTEGER, E ".1.11.0", 0},                  // 43 firmwareFreeCycles
    {T, 1, 1, KIND_TEXT, "1.3.6.1.2.1.1.6.0", 60},            // 44 sysLocation
    {T, 1, 1, KIND_TEXT, "1.3.6.1.2.1.1.5.0", 60},            // 45 sysName
    {T, 1, 1, KIND_TEXT, "1.3.6.1.2.1.1.1.0", 78},            // 46 sysDescr
    {T, 1, 1, KIND_TIMETICKS, "1.3.6.1.2.1.1.3.0", 32},       // 47 sysUpTime
    {O, 1, 1, KIND_OCTETS, "1.3.6.1.2.1.4.20.1.3.0", 6},      // 48 ipAdEntNetMask instance 0
    {O, 1, 1, KIND_OCTETS, "1.3.6.1.2.1.2.2.1.6.1", 8},       // 49 ifPhysAddress of interface 1
    {T, 1, 1, KIND_TEXT, "1.3.6.1.2.1.1.4.0", 60},            // 50 sysContact
    {I, 16, 1, KIND_INTEGER, E ".6.1.1.9", 0},                // 51 rxMinDelay
    {T, 1, 1, KIND_TEXT, "1.3.6.1.2.1.1.1.0", 78},            // 52 sysDescr (second row)
};

#undef E

} // namespace mib
