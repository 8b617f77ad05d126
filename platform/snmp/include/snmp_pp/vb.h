// Vb: one variable binding, an Oid and a value.
#pragma once

#include <memory>

#include "snmp_pp/address.h"
#include "snmp_pp/values.h"

class Vb {
public:
    Vb() = default;
    explicit Vb(const Oid& oid) : oid_(oid) {}
    Vb(const Vb& other);
    Vb& operator=(const Vb& other);
    Vb(Vb&&) = default;
    Vb& operator=(Vb&&) = default;
    ~Vb() = default;

    void set_oid(const Oid& oid) { oid_ = oid; }
    void get_oid(Oid& oid) const { oid = oid_; }
    const Oid& get_oid() const { return oid_; }
    const char* get_printable_oid() const { return oid_.get_printable(); }

    void set_value(const SnmpSyntax& value);
    // Takes the value over (no copy); null clears it.
    void set_value(std::unique_ptr<SnmpSyntax> value);
    void set_value(int value) { set_value(SnmpInt32(value)); }
    void set_value(long value) { set_value(SnmpInt32(value)); }
    void set_value(unsigned long value) { set_value(SnmpUInt32(value)); }
    void set_value(const char* text) { set_value(OctetStr(text)); }
    void set_value(const unsigned char* data, unsigned long length) { set_value(OctetStr(data, length)); }
    void set_null();
    // Marks the binding with an exception syntax (noSuchObject,
    // noSuchInstance, endOfMibView); the value is dropped.
    void set_exception_status(int syntax);

    // Each returns SNMP_CLASS_SUCCESS, or SNMP_CLASS_INVALID when the value is
    // absent or of another kind.
    int get_value(SnmpSyntax& value) const;    // same class family
    int get_value(int& value) const;           // INTEGER only
    int get_value(long& value) const;          // INTEGER only
    int get_value(unsigned int& value) const;  // unsigned 32-bit kinds only
    int get_value(unsigned long& value) const; // unsigned 32-bit kinds only
    // OCTET STRING (and Opaque): copies at most max_length octets (one less
    // with add_null_byte, which then appends a 0); length gets the count copied.
    int get_value(unsigned char* data, unsigned long& length, unsigned long max_length,
                  bool add_null_byte = false) const;

    // The value's syntax; sNMP_SYNTAX_NULL without a value.
    int get_syntax() const;
    // The value's printable form; "" without a value.
    const char* get_printable_value() const;
    bool valid() const { return oid_.valid() && (!value_ || value_->valid()); }
    // The value, or null.
    const SnmpSyntax* value() const { return value_.get(); }

private:
    Oid oid_;
    std::unique_ptr<SnmpSyntax> value_;
    int exception_ = 0;
};
