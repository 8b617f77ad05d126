// The device variables that the generic SNMP dialog offers, by group: each
// with its OID template ('X' the bundle number, 'Y' the channel number), its
// type and whether it is read-only.
#pragma once

#include <cstdint>

namespace snmpvars {

constexpr int kGroups = 13;
constexpr int kRowsPerGroup = 64;

enum Type { TYPE_OCTETS = 0, TYPE_TEXT = 1, TYPE_INTEGER = 2, TYPE_IPADDRESS = 3 };
constexpr int32_t ACCESS_READ_ONLY = 1;

// One row; an empty name marks an unused row.
struct MibVariable {
    char name[64];
    char oid[128];
    int32_t type;
    int32_t access;
};
static_assert(sizeof(MibVariable) == 200);

extern const MibVariable kTable[kGroups][kRowsPerGroup];
extern const char* const kGroupNames[kGroups];

// Rows used in a group: they come first.
int RowCount(int group);
// The text the dialog shows for a row (its name, or the combo's own
// spelling where the two differ).
const char* ComboText(int group, int row);

} // namespace snmpvars
