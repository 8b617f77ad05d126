// Pdu: the variable bindings of one request or answer, with the agent's
// error status and index.
#pragma once

#include <vector>

#include "snmp_pp/vb.h"

class Pdu {
public:
    Pdu() = default;
    Pdu(const Vb* vbs, int count) { set_vblist(vbs, count); }

    // Appends a binding; a Pdu that already holds PDU_MAX_VBS is left as it is.
    Pdu& operator+=(const Vb& vb);
    // Copies binding i out; false when i is out of range.
    bool get_vb(Vb& vb, int i) const;
    // Replaces binding i; false when i is out of range.
    bool set_vb(const Vb& vb, int i);
    int get_vb_count() const { return static_cast<int>(vbs_.size()); }
    // Binding i in place, 0 <= i < get_vb_count() (no copy).
    const Vb& vb(int i) const { return vbs_[static_cast<size_t>(i)]; }
    // Takes the bindings over (at most PDU_MAX_VBS are kept).
    void set_vblist(std::vector<Vb>&& vbs);
    bool get_vblist(Vb* vbs, int count) const;
    bool set_vblist(const Vb* vbs, int count);
    // Drops the last n bindings.
    bool trim(int n = 1);
    void clear();

    int get_error_status() const { return error_status_; }
    int get_error_index() const { return error_index_; }
    void set_error_status(int status) { error_status_ = status; }
    void set_error_index(int index) { error_index_ = index; }
    unsigned long get_request_id() const { return request_id_; }
    void set_request_id(unsigned long id) { request_id_ = id; }
    bool valid() const;

private:
    std::vector<Vb> vbs_;
    int error_status_ = 0;
    int error_index_ = 0;
    unsigned long request_id_ = 0;
};
