// Targets: where a request goes, with its version, retries, time-out and
// communities.
#pragma once

#include "snmp_pp/address.h"
#include "snmp_pp/values.h"

enum snmp_version { version1 = 0, version2c = 1 };

// Port used for an address that carries none.
#define SNMP_DEFAULT_PORT 161

class SnmpTarget {
public:
    virtual ~SnmpTarget() = default;

    bool valid() const { return address_.valid(); }
    bool set_address(const Address& address);
    void get_address(GenAddress& address) const { address = GenAddress(address_); }
    const UdpAddress& address() const { return address_; }
    // Time-out of one attempt in hundredths of a second.
    void set_timeout(unsigned long hundredths) { timeout_ = hundredths; }
    unsigned long get_timeout() const { return timeout_; }
    // Attempts after the first one.
    void set_retry(int retries) { retries_ = retries < 0 ? 0 : retries; }
    int get_retry() const { return retries_; }
    void set_version(snmp_version version) { version_ = version; }
    snmp_version get_version() const { return version_; }

protected:
    SnmpTarget() = default;
    explicit SnmpTarget(const Address& address) { set_address(address); }

private:
    UdpAddress address_;
    unsigned long timeout_ = 100;
    int retries_ = 1;
    snmp_version version_ = version1;
};

// Community-based target: the read community goes with get and get-next,
// the write community with set.
class CTarget : public SnmpTarget {
public:
    CTarget() = default;
    explicit CTarget(const Address& address) : SnmpTarget(address) {}
    CTarget(const Address& address, const char* read_community, const char* write_community)
        : SnmpTarget(address), read_(read_community), write_(write_community)
    {}
    CTarget(const Address& address, const OctetStr& read_community, const OctetStr& write_community)
        : SnmpTarget(address), read_(read_community), write_(write_community)
    {}

    void set_readcommunity(const OctetStr& community) { read_ = community; }
    void set_writecommunity(const OctetStr& community) { write_ = community; }
    void get_readcommunity(OctetStr& community) const { community = read_; }
    void get_writecommunity(OctetStr& community) const { community = write_; }
    const OctetStr& readcommunity() const { return read_; }
    const OctetStr& writecommunity() const { return write_; }

private:
    OctetStr read_{"public"};
    OctetStr write_{"public"};
};
