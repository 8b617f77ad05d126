// The SNMP access settings and console feature switches kept under
// HKEY_CURRENT_USER "SOFTWARE\Quillon\Tunedeck", shared by the options program
// and the console.
#pragma once

#include "prefwell/RegTable.h"

// Feature bits of "Switches" and "SwitchMask".
#define SWITCH_CONFIG 0x01
#define SWITCH_REPORT 0x02
#define SWITCH_ADVANCED 0x04
#define SWITCH_SNMP 0x08
#define SWITCH_23MS 0x10

#define REG_SETTINGS_KEY "SOFTWARE\\Quillon\\Tunedeck"
#define REG_COMMUNITY_MAX 63 // characters, without the terminator

class CRegSettings {
public:
    CRegSettings();
    ~CRegSettings();
    CRegSettings(const CRegSettings&) = delete;
    CRegSettings& operator=(const CRegSettings&) = delete;

    // Reads all values; on failure the defaults are set (Adapter, AutoAssign
    // and Reservation keep what was read). Returns the read's result.
    REGRESULT Load();
    // Writes all values (all or nothing).
    REGRESULT Save();
    // Creates the (empty) key.
    REGRESULT CreateKey();

    int GetRetries() const;
    void SetRetries(int value);
    int GetTimeout() const;
    void SetTimeout(int value);
    int GetDelay() const;
    void SetDelay(int value);
    int GetSwitches() const;
    void SetSwitches(int value);
    int GetSwitchMask() const;

    // Copies a text of at most 63 characters with its terminator and returns
    // the bytes copied; a longer text is ignored and 63 returned.
    int SetReadCommunity(LPCSTR text);
    int SetWriteCommunity(LPCSTR text);
    // Copies the community with its terminator when `capacity` holds both and
    // is at least 63; otherwise `dest` gets an empty text.
    void GetReadCommunity(LPSTR dest, int capacity) const;
    void GetWriteCommunity(LPSTR dest, int capacity) const;

private:
    char m_readCommunity[REG_COMMUNITY_MAX + 1];
    char m_writeCommunity[REG_COMMUNITY_MAX + 1];
    CRegTable* m_table;
    // This store's own copy of the value table: its text rows point into the
    // buffers above.
    RegEntry m_entries[10];
    RegKeyTable m_keyTable;

    void SetDefaults();
};
