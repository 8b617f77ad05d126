// The device variables: 53 rows, each a storage kind, a shape (scalar, one
// bundle index x, or bundle x and channel y), the session's value kind and
// the OID text. For table rows the OID is a column prefix to which the
// instance is appended.
#pragma once

namespace mib {

enum Row {
    txSubMap = 0,
    txSubFormat = 1,
    txBundle = 2,
    txSubCount = 3,
    txUnicastMode = 4,
    txMaxUnicast = 5,
    txDropouts = 6,
    txReceivers = 7,
    rxSubMap = 8,
    rxSubFormat = 9,
    rxBundle = 10,
    rxDropouts = 11,
    rxStatus = 12,
    modeRateControl = 13,
    modeRateStatus = 14,
    flashPersistEnable = 15,
    errorCode = 16,
    errorCount = 17,
    firmwareHardwarePlatform = 18,
    firmwareHardwareVersion = 19,
    condPriority = 20,
    condStatus = 21,
    audioSSIFormat = 22,
    audioMap = 23,
    rxDelay = 24,
    syncConductorClock = 25,
    syncPerformerClock = 26,
    syncBuddyLinkControl = 27,
    syncStatus = 28,
    ifmCurrentIF = 29,
    ifmtStatus = 30,
    ifmSwitchMode = 31,
    serialFormat = 32,
    serialBaud = 33,
    serialPPeriod = 34,
    serialRxMAC = 35,
    serialTxMAC = 36,
    ifAddressInteger = 37, // the interface address read as an integer
    firmwareMajorVersion = 38,
    firmwareMajorVersion2 = 39, // same OID as row 38, its own cells
    miMonHMIMode = 40,
    procMode = 41,
    procGroup = 42, // the processor group scalar (the tag mode)
    firmwareFreeCycles = 43,
    sysLocation = 44,
    sysName = 45,
    sysDescr = 46,
    sysUpTime = 47,
    ipAdEntNetMask = 48, // instance 0
    ifPhysAddress = 49,  // interface 1: the device's MAC address
    sysContact = 50,
    rxMinDelay = 51,
    sysDescr2 = 52, // same OID as row 46, its own cells
    RowCount = 53,
};

enum Storage { STORE_OCTETS = 0, STORE_TEXT = 1, STORE_INTEGER = 2 };

// Channels per bundle: the second dimension of the channel tables.
constexpr int kChannels = 8;
constexpr int kMaxBundles = 16;

struct RowDef {
    int storage; // Storage
    int dim1;    // 1 = scalar; else the most bundle (or entry) indexes
    int dim2;    // 1, or kChannels for the channel tables
    int kind;    // the session's value kind
    const char* oid;
    int capacity; // text rows: characters; octet rows: bytes with the 2-byte length
};

extern const RowDef kRows[RowCount];

inline bool IsTable(int row) { return kRows[row].dim1 >= 2; }
inline bool IsChannelTable(int row) { return kRows[row].dim2 >= 2; }

} // namespace mib
