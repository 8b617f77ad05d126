// The generic SNMP dialog's variable table. The OIDs of the system group, of
// the variables the device model reads and of the rows the dialog documents
// are the devices' own. The rows marked "inferred" have their OID inferred
// from the position of their neighbours in the devices' tree (group E.g,
// scalars E.g.N.0, bundle tables E.g.1.1.(N+1).X, channel tables
// E.g.2.1.C.X.Y); their type and access follow the variable's meaning.
#include "SnmpVarTable.h"

#include <cstring>

namespace snmpvars {

namespace {
constexpr int32_t O = TYPE_OCTETS, T = TYPE_TEXT, I = TYPE_INTEGER, A = TYPE_IPADDRESS;
constexpr int32_t RO = ACCESS_READ_ONLY, RW = 0;
} // namespace

#define SYS "1.3.6.1.2.1.1"
#define E "1.3.6.1.4.1.2680.1.1"
#define P "1.3.6.1.4.1.2680.1.4.1"

const MibVariable kTable[kGroups][kRowsPerGroup] = {
    {
        {"sysDescr", SYS ".1.0", T, RO},
        {"sysObjectID", SYS ".2.0", T, RO},
        {"sysUpTime", SYS ".3.0", I, RO},
        {"sysContact", SYS ".4.0", T, RW},
        {"sysUpName", SYS ".5.0", T, RW},
        {"sysLocation", SYS ".6.0", T, RW},
        {"sysServices", SYS ".7.0", I, RO},
    },
    {
        {"firmwareProtocolVersion", E ".1.1.0", I, RO}, // inferred
        {"firmwareMajorVersion", E ".1.2.0", I, RO},
        {"firmwareMinorVersion", E ".1.3.0", I, RO}, // inferred
        {"firmwareBootVersion", E ".1.4.0", I, RO},  // inferred
        {"firmwareMfgId", E ".1.5.0", I, RO},        // inferred
        {"firmwareMfgProductId", E ".1.6.0", I, RO}, // inferred
        {"firmwareMfgVersion", E ".1.7.0", I, RO},   // inferred
        {"firmwareRestart", E ".1.8.0", I, RW},      // inferred
        {"firmwareHardwarePlatform", E ".1.9.0", I, RO},
        {"firmwareHardwareVersion", E ".1.10.0", I, RO},
        {"firmwareFreeCycles", E ".1.11.0", I, RO},
    },
    {
        {"flashTotalSize", E ".2.1.0", I, RO},       // inferred
        {"flashSectorSize", E ".2.2.0", I, RO},      // inferred
        {"flashPersistSequence", E ".2.3.0", I, RO}, // inferred
        {"flashPersistType", E ".2.4.0", I, RO},     // inferred
        {"flashPersistSize", E ".2.5.0", I, RO},     // inferred
        {"flashPersistStores", E ".2.6.0", I, RO},   // inferred
        {"flashPersistEnable", E ".2.7.0", I, RW},
        {"flashPersistAck", E ".2.8.0", I, RO}, // inferred
    },
    {
        {"errorPOST", E ".3.1.0", I, RO},  // inferred
        {"errorImage", E ".3.2.0", I, RO}, // inferred
        {"errorCode", E ".3.3.0", I, RO},
        {"errorCount", E ".3.4.0", I, RO},
        {"errorDisplay", E ".3.5.0", I, RO}, // inferred
    },
    {
        {"modeRateControl", E ".3.6.1.0", I, RW},
        {"modeRateStatus", E ".3.6.2.0", I, RO},
    },
    {
        {"condRate", E ".4.1.0", I, RO}, // inferred
        {"condPriority", E ".4.2.0", I, RW},
        {"condGap", E ".4.3.0", I, RO}, // inferred
        {"condStatus", E ".4.4.0", I, RO},
        {"condInfoPriority", E ".4.5.0", I, RO},   // inferred
        {"condInfoMAC", E ".4.6.0", O, RO},        // inferred
        {"condInfoLastChange", E ".4.7.0", I, RO}, // inferred
        {"condInfoChanges", E ".4.8.0", I, RO},    // inferred
    },
    {
        {"audioMeterDropouts", E ".5.1.0", I, RO},   // inferred
        {"audioAllowedChannels", E ".5.3.0", I, RO}, // inferred
        {"audioRxChannels", E ".5.4.0", I, RO},      // inferred
        {"audioTxChannels", E ".5.5.0", I, RO},      // inferred
        {"audioMeterDecay", E ".5.6.0", I, RW},      // inferred
        {"audioMeterMap", E ".5.2.1.2.X", I, RW},    // inferred
        {"audioMeterPeaks", E ".5.2.1.3.X", O, RO},  // inferred
        {"audioMeters", E ".5.2.1.4.X", O, RO},
        {"audioMeterPeaksRaw", E ".5.2.1.6.X", O, RO}, // inferred
        {"audioMetersRaw", E ".5.2.1.7.X", O, RO},     // inferred
        {"audioLoopSrc", E ".5.7.0", I, RW},           // inferred
        {"audioLoopDst", E ".5.8.0", I, RW},           // inferred
        {"audioOutputs", E ".5.9.0", I, RO},           // inferred
        {"audioMap", E ".5.2.1.5.X", I, RO},
        {"audioDupSrc", E ".5.10.0", I, RW}, // inferred
        {"audioDupDst", E ".5.11.0", I, RW}, // inferred
        {"audioSSIFormat", E ".5.12.0", I, RW},
    },
    {
        {"rxBundle", E ".6.1.1.2.X", I, RW},
        {"rxSourceMAC", E ".6.1.1.3.X", O, RW},
        {"rxPriority", E ".6.1.1.4.X", I, RW},     // inferred
        {"rxBuddyExclude", E ".6.1.1.5.X", I, RW}, // inferred
        {"rxStatus", E ".6.1.1.6.X", I, RO},
        {"rxDropouts", E ".6.1.1.7.X", I, RO},
        {"rxDelay", E ".6.1.1.8.X", I, RW},
        {"rxMinDelay", E ".6.1.1.9.X", I, RO},
        {"rxSubMap", E ".6.2.1.2.X.Y", I, RW},
        {"rxSubFormat", E ".6.2.1.3.X.Y", I, RW},
    },
    {
        {"txBundle", E ".7.1.1.2.X", I, RW},
        {"txDestinationMAC", E ".7.1.1.3.X", O, RW}, // inferred
        {"txPriority", E ".7.1.1.4.X", I, RW},       // inferred
        {"txSubCount", E ".7.1.1.5.X", I, RW},
        {"txBuddyExclude", E ".7.1.1.6.X", I, RW}, // inferred
        {"txDropouts", E ".7.1.1.7.X", I, RO},
        {"txPosition", E ".7.1.1.8.X", I, RO}, // inferred
        {"txReceivers", E ".7.1.1.9.X", I, RO},
        {"txUnicastMode", E ".7.1.1.10.X", I, RW},
        {"txMaxUnicast", E ".7.1.1.11.X", I, RW},
        {"txSubMap", E ".7.2.1.2.X.Y", I, RW},
        {"txSubFormat", E ".7.2.1.3.X.Y", I, RW},
    },
    {
        {"syncConductorClock", E ".8.1.0", I, RO},
        {"syncPerformerClock", E ".8.2.0", I, RO},
        {"syncInternalTrim", E ".8.3.0", I, RW}, // inferred
        {"syncBuddyLinkControl", E ".8.4.0", I, RW},
        {"syncStatus", E ".8.5.0", I, RO},
        {"syncCounter", E ".8.6.0", I, RO}, // inferred
        {"syncNTime", E ".8.6.0", T, RO},
    },
    {
        {"miMonDirty", E ".9.1.1.0", I, RO},     // inferred
        {"miMonSNMPDirty", E ".9.1.2.0", I, RO}, // inferred
        {"miMonHMIDirty", E ".9.1.3.0", I, RO},  // inferred
        {"miMonHMIMode", E ".9.1.4.0", I, RO},
        {"ipMonStaticIP", E ".9.2.1.0", A, RW},
        {"ipMonCurrentIP", E ".9.2.2.0", A, RO},         // inferred
        {"ipMonStaticSubnetMask", E ".9.2.3.0", A, RW},  // inferred
        {"ipMonCurrentSubnetMask", E ".9.2.4.0", A, RO}, // inferred
        {"ifmCurrentIF", E ".9.3.1.0", I, RO},
        {"ifmLastChange", E ".9.3.2.0", I, RO}, // inferred
        {"ifmtStatus", E ".9.3.3.1.2.X", I, RO},
        {"ifmtLastChange", E ".9.3.3.1.3.X", I, RO}, // inferred
        {"ifmSwitchMode", E ".9.3.4.0", I, RW},
    },
    {
        {"serialFormat", E ".10.1.1.0", I, RW},
        {"serialBaud", E ".10.1.2.0", I, RW},
        {"serialPPeriod", E ".10.1.3.0", I, RW},
        {"serialRxMAC", E ".10.1.4.0", O, RW},
        {"serialTxPriority", E ".10.1.5.0", I, RW}, // inferred
        {"serialTxChannel", E ".10.1.6.0", I, RW},  // inferred
        {"serialTxMAC", E ".10.1.7.0", O, RW},
    },
    {
        {"procMode", P ".1.0", I, RW},
        {"procStatus", P ".2.0", I, RO},     // inferred
        {"procFreeCycles", P ".3.0", I, RO}, // inferred
    },
};

#undef SYS
#undef E
#undef P

const char* const kGroupNames[kGroups] = {"System",    "Firmware", "Flash",     "Errors",       "Mode",
                                          "Conductor", "Audio",    "Receivers", "Transmitters", "Sync",
                                          "Monitor",   "Bridge",   "Proc"};

int RowCount(int group)
{
    int rows = 0;
    while (rows < kRowsPerGroup && kTable[group][rows].name[0])
        ++rows;
    return rows;
}

const char* ComboText(int group, int row)
{
    // Where the combo spells a variable otherwise than the table's name.
    static const struct {
        const char* name;
        const char* text;
    } spellings[] = {
        {"sysUpName", "sysName"},
        {"firmwareMfgId", "firmwareMfgID"},
        {"firmwareMfgProductId", "firmwareMfgProductID"},
        {"errorPOST", "errorPOSTResults"},
        {"errorImage", "errorIndicators"},
        {"syncInternalTrim", "syncClockTrim"},
        {"ipMonCurrentIP", "ipMonCurentIP"},
        {"ifmCurrentIF", "ifmCurrentIf"},
        {"serialTxChannel", "serialTxBundle"},
    };
    const char* name = kTable[group][row].name;
    for (const auto& s : spellings)
        if (std::strcmp(name, s.name) == 0)
            return s.text;
    return name;
}

} // namespace snmpvars
