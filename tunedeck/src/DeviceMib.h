// CDeviceMib: the one object through which the dialogs and reports read and
// write a device. It owns the SNMP session and serves the 53 device
// variables (MibTable.h), each with a cache cell per instance carrying valid,
// changed and not-available marks, so that a dialog reads a device once, lets
// the user edit the cached values and writes back only what changed.
// Requests to the device are spaced by the pacing delay. Used by one thread
// at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MibTable.h"
#include "Pacer.h"
#include "SnmpSession.h"

// Result codes beside the session's.
enum DeviceMibResult {
    MIB_OK = 0,
    MIB_NO_ROW = -1,       // row outside 0..52
    MIB_X_RANGE = 0xD0001, // bundle (or entry) index out of range
    MIB_Y_RANGE = 0xD0002, // channel index out of range
    MIB_NOT_OPEN = 0xD0003,
};

class CDeviceMib {
public:
    static constexpr uint32_t kMaxDelay = 80;

    CDeviceMib();
    CDeviceMib(const CDeviceMib&) = delete;
    CDeviceMib& operator=(const CDeviceMib&) = delete;

    // Settings, forwarded to the session.
    void SetTimeout(int hundredths) { m_session.SetTimeout(hundredths); }
    void SetRetries(int retries) { m_session.SetRetries(retries); }
    int SetReadCommunity(const char* text) { return m_session.SetReadCommunity(text); }
    int SetWriteCommunity(const char* text) { return m_session.SetWriteCommunity(text); }
    // Milliseconds between requests, at most kMaxDelay; 0 = no spacing.
    void SetDelay(uint32_t ms);
    uint32_t GetDelay() const { return m_pacer.GetDelay(); }
    CSnmpSession& Session() { return m_session; }

    // Opens the device: clears every cell and counts its receiver and
    // transmitter bundles.
    int Open(const char* address);
    bool IsOpen() const { return m_open; }
    const std::string& Address() const { return m_address; }

    int GetReceiverCount() const { return m_open ? m_receivers : 0; }
    int GetTransmitterCount() const { return m_open ? m_transmitters : 0; }
    // Channels of bundle x: kChannels while open and x is a bundle, else 0.
    int GetTxChannels(int x) const;
    int GetRxChannels(int x) const;
    int GetAudioMapSize() const { return m_open ? m_audioMapSize : 0; }

    // The cached value, read from the device first when the cell is not
    // valid. Integer rows give the integer; text rows the zero-terminated
    // text; octet rows the counted bytes (16-bit length, high byte 0, then
    // the bytes). Another row kind than the overload's gives MIB_NO_ROW.
    int Get(int row, int32_t* value, int x = 0, int y = 0);
    int Get(int row, const char** text);
    int Get(int row, const unsigned char** octets);

    // Changes the cached value and marks it changed; sends nothing.
    int Set(int row, int32_t value, int x = 0, int y = 0);
    int Set(int row, const char* text);
    int Set(int row, const unsigned char* octets);

    // Reads the variable now; without force a valid cell is left alone.
    int Read(int row, bool force, int x = 0, int y = 0);
    // Writes the variable now; without force only a changed cell.
    int Write(int row, bool force, int x = 0, int y = 0);

    // Up to 16 reads collected into one GET.
    void ClearBatch();
    int Queue(int row, bool force, int x = 0, int y = 0);
    int RunBatch();

    int MarkValid(int row, bool valid, int x = 0, int y = 0);
    int MarkNotAvailable(int row, bool notAvailable, int x = 0, int y = 0);
    // The marks of a cell, for callers that decide by them.
    int IsValid(int row, bool* valid, int x = 0, int y = 0);
    int IsChanged(int row, bool* changed, int x = 0, int y = 0);

    // Bundle settings: txSubCount, txUnicastMode, txMaxUnicast, then per
    // channel txSubMap and txSubFormat; receivers per channel rxSubMap and
    // rxSubFormat. The first failure ends the walk.
    int WriteTransmitter(int x, bool force);
    int WriteReceiver(int x, bool force);

    // Free OIDs, past the cache.
    int SnmpSetValue(const char* oid, int kind, void* value, size_t size);
    int SnmpSetInteger(const char* oid, int kind, int32_t value);
    int SnmpGet(const char* oid, int kind, void* dest, size_t size, int maximum = 0);

private:
    struct Cell {
        int32_t value = 0;
        std::vector<unsigned char> data; // text and octet rows: the buffer
        bool valid = false;
        bool changed = false;
        bool notAvailable = false;
    };
    struct RowState {
        int dim1 = 1; // indexes allowed now
        int dim2 = 1;
        std::vector<Cell> cells;
    };

    int Locate(int row, int x, int y, Cell*& cell);
    std::string OidOf(int row, int x, int y) const;
    // Maximum characters (text) or bytes (octets) a read of the row may store.
    static int ReadMaximum(int row);
    int ReadCell(int row, Cell& cell, const std::string& oid, bool force);
    int WriteCell(int row, Cell& cell, const std::string& oid, bool force);
    int CountBundles(int row, int& count);
    void ResetRows();

    CSnmpSession m_session;
    CPacer m_pacer;
    bool m_open = false;
    int m_receivers = 0;
    int m_transmitters = 0;
    int m_audioMapSize = 0;
    std::string m_address;
    RowState m_rows[mib::RowCount];
    std::vector<Cell*> m_queued;
};
