// Variable bindings and Pdus.
#include <cstring>

#include "snmp_pp/snmp_pp.h"

Vb::Vb(const Vb& other) : oid_(other.oid_), exception_(other.exception_)
{
    if (other.value_)
        value_.reset(other.value_->clone());
}

Vb& Vb::operator=(const Vb& other)
{
    if (this != &other) {
        oid_ = other.oid_;
        value_.reset(other.value_ ? other.value_->clone() : nullptr);
        exception_ = other.exception_;
    }
    return *this;
}

void Vb::set_value(const SnmpSyntax& value)
{
    value_.reset(value.clone());
    exception_ = 0;
}

void Vb::set_value(std::unique_ptr<SnmpSyntax> value)
{
    value_ = std::move(value);
    exception_ = 0;
}

void Vb::set_null()
{
    value_.reset();
    exception_ = 0;
}

void Vb::set_exception_status(int syntax)
{
    value_.reset();
    exception_ = syntax;
}

int Vb::get_syntax() const
{
    if (exception_)
        return exception_;
    return value_ ? value_->get_syntax() : sNMP_SYNTAX_NULL;
}

const char* Vb::get_printable_value() const { return value_ ? value_->get_printable() : ""; }

int Vb::get_value(SnmpSyntax& value) const
{
    if (!value_ || !value_->valid())
        return SNMP_CLASS_INVALID;
    return value.assign(*value_) ? SNMP_CLASS_SUCCESS : SNMP_CLASS_INVALID;
}

int Vb::get_value(int& value) const
{
    long v;
    const int status = get_value(v);
    if (status == SNMP_CLASS_SUCCESS)
        value = static_cast<int>(v);
    return status;
}

int Vb::get_value(long& value) const
{
    auto* i = dynamic_cast<const SnmpInt32*>(value_.get());
    if (!i)
        return SNMP_CLASS_INVALID;
    value = static_cast<long>(*i);
    return SNMP_CLASS_SUCCESS;
}

int Vb::get_value(unsigned int& value) const
{
    unsigned long v;
    const int status = get_value(v);
    if (status == SNMP_CLASS_SUCCESS)
        value = static_cast<unsigned int>(v);
    return status;
}

int Vb::get_value(unsigned long& value) const
{
    auto* u = dynamic_cast<const SnmpUInt32*>(value_.get());
    if (!u)
        return SNMP_CLASS_INVALID;
    value = static_cast<unsigned long>(*u);
    return SNMP_CLASS_SUCCESS;
}

int Vb::get_value(unsigned char* data, unsigned long& length, unsigned long max_length, bool add_null_byte) const
{
    auto* o = dynamic_cast<const OctetStr*>(value_.get());
    if (!o || !data) {
        length = 0;
        return SNMP_CLASS_INVALID;
    }
    unsigned long room = max_length;
    if (add_null_byte) {
        if (room == 0) {
            length = 0;
            return SNMP_CLASS_INVALID;
        }
        --room;
    }
    length = o->len() < room ? o->len() : room;
    if (length)
        std::memcpy(data, o->data(), length);
    if (add_null_byte)
        data[length] = 0;
    return SNMP_CLASS_SUCCESS;
}

Pdu& Pdu::operator+=(const Vb& vb)
{
    if (vbs_.size() < PDU_MAX_VBS)
        vbs_.push_back(vb);
    return *this;
}

bool Pdu::get_vb(Vb& vb, int i) const
{
    if (i < 0 || i >= get_vb_count())
        return false;
    vb = vbs_[static_cast<size_t>(i)];
    return true;
}

bool Pdu::set_vb(const Vb& vb, int i)
{
    if (i < 0 || i >= get_vb_count())
        return false;
    vbs_[static_cast<size_t>(i)] = vb;
    return true;
}

bool Pdu::get_vblist(Vb* vbs, int count) const
{
    if (count < 0 || count > get_vb_count() || (count && !vbs))
        return false;
    for (int i = 0; i < count; ++i)
        vbs[i] = vbs_[static_cast<size_t>(i)];
    return true;
}

bool Pdu::set_vblist(const Vb* vbs, int count)
{
    if (count < 0 || count > PDU_MAX_VBS || (count && !vbs))
        return false;
    vbs_.assign(vbs, vbs + count);
    return true;
}

void Pdu::set_vblist(std::vector<Vb>&& vbs)
{
    if (vbs.size() > PDU_MAX_VBS)
        vbs.resize(PDU_MAX_VBS);
    vbs_ = std::move(vbs);
}

bool Pdu::trim(int n)
{
    if (n < 0 || n > get_vb_count())
        return false;
    vbs_.resize(vbs_.size() - static_cast<size_t>(n));
    return true;
}

void Pdu::clear()
{
    vbs_.clear();
    error_status_ = 0;
    error_index_ = 0;
    request_id_ = 0;
}

bool Pdu::valid() const
{
    for (const Vb& vb : vbs_)
        if (!vb.valid())
            return false;
    return true;
}
