// CSnmpSession: the library's only road to a device. A small SNMPv1 manager
// holding one agent address, the two communities, retries and time-out, and
// one pending batch of at most 16 variables whose answers are written
// straight into destinations the caller supplied. Every operation returns an
// integer result code; nothing is thrown or shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Pdu;
class Vb;

// Value kinds: the caller's vocabulary, each with its SNMP type and the form
// of its destination.
enum SnmpValueKind {
    KIND_OCTETS = 0,    // OCTET STRING; counted bytes: 16-bit length (high byte 0), then the bytes
    KIND_TEXT = 1,      // OCTET STRING; zero-terminated text
    KIND_INTEGER = 2,   // INTEGER; 32-bit signed integer
    KIND_IPADDRESS = 3, // IpAddress; dotted text
    KIND_TIMETICKS = 5, // TimeTicks; printable text
};

// Result codes (0 is success).
enum SnmpSessionResult {
    SNMPS_OK = 0,
    SNMPS_NO_FORM = 2, // a response value has no destination form
    SNMPS_BAD_ADDRESS = 0x8001,
    SNMPS_BAD_OID = 0x8002,
    SNMPS_BAD_KIND = 0x8003,
    SNMPS_TEXT_TOO_LONG = 0x8004, // a setter's text has 128 or more characters
    SNMPS_NULL_TEXT = 0x8005,
    SNMPS_FAILED = 0x8007,        // time-out, transport, any agent error but noSuchName
    SNMPS_NOT_AVAILABLE = 0x8009, // noSuchName: the device lacks the variable
    SNMPS_END_OF_MIB = 0x8100,
    SNMPS_NO_INSTANCE = 0x8101,
    SNMPS_NO_OBJECT = 0x8102,
    SNMPS_NO_VB = 0x8103,
    SNMPS_EMPTY_BATCH = 0x8104,
    SNMPS_NO_BATCH = 0x8105,
    SNMPS_BATCH_FULL = 0x8106,
    SNMPS_BAD_VALUE = 0x8107,
};

// Flags of AddVariable.
enum SnmpAddFlag {
    ADD_PLAIN = 0x01,
    ADD_VALUE = 0x02,     // carry the value at the destination (SET)
    ADD_NEW_BATCH = 0x80, // start a new batch, dropping any pending one
};

class CSnmpSession {
public:
    static constexpr int kBatchMax = 16;
    static constexpr size_t kTextMax = 127;

    CSnmpSession();
    ~CSnmpSession();
    CSnmpSession(const CSnmpSession&) = delete;
    CSnmpSession& operator=(const CSnmpSession&) = delete;

    void SetRetries(int retries) { m_retries = retries; }
    // Hundredths of a second.
    void SetTimeout(int timeout) { m_timeout = timeout; }
    int SetReadCommunity(const char* text) { return SetText(m_readCommunity, text); }
    int SetWriteCommunity(const char* text) { return SetText(m_writeCommunity, text); }
    int SetAddress(const char* text) { return SetText(m_address, text); }
    int SetOid(const char* text) { return SetText(m_oid, text); }
    int SetValueKind(int kind);

    int GetRetries() const { return m_retries; }
    int GetTimeout() const { return m_timeout; }
    // The raw status of the last failed request.
    int GetLastStatus() const { return m_lastStatus; }
    int GetBatchCount() const { return m_count; }

    // Adds the variable named by the OID text and value kind set before to the
    // batch. The destination holds `size` bytes; every answer stored into it
    // stays inside them. maximum: characters of text or bytes of octets
    // (0 = as many as the destination holds).
    int AddVariable(void* dest, size_t size, int flags, int maximum);
    // Drops a pending batch without sending it.
    void DiscardBatch();
    int ExecuteGet() { return Execute(false); }
    int ExecuteSet() { return Execute(true); }

    // One-variable requests. A SET sends the value at `value` and stores the
    // agent's echo back into it.
    int SetOneValue(const char* oid, int kind, void* value, size_t size);
    int SetOneInteger(const char* oid, int kind, int32_t value);
    int GetOne(const char* oid, int kind, void* dest, size_t size, int maximum = 0);
    // Batches: BeginBatch starts a new one, AddToBatch adds to it.
    int BeginBatch(const char* oid, int kind, void* dest, size_t size, int maximum = 0);
    int AddToBatch(const char* oid, int kind, void* dest, size_t size, int maximum = 0);

private:
    struct Entry {
        int asnType = 0;
        int kind = 0;
        int maximum = 0;
        void* dest = nullptr;
        size_t size = 0;
    };

    static int SetText(std::string& field, const char* text);
    int Prepare(const char* oid, int kind);
    int Execute(bool set);
    int ValueFromText(const Entry& e, Vb& vb) const;
    int StoreValue(const Entry& e, const Vb& vb, int maximum);

    int m_retries = 1;
    int m_timeout = 100;
    int m_asnType = 2;
    int m_kind = 0;
    unsigned short m_port = 161;
    int m_lastStatus = 0;
    std::string m_readCommunity = "tagrok";
    std::string m_writeCommunity = "quenmil";
    std::string m_oid = "1.3.6.1.2.1.1.1.0";
    std::string m_address = "0.0.0.0.";
    std::unique_ptr<Pdu> m_pdu;
    std::unique_ptr<Vb> m_vb;
    int m_count = 0;
    Entry m_entries[kBatchMax];
};
