// An in-process SNMPv1 agent behind the SNMP layer's exchange hook: a table
// of values by OID text, SNMPv1 answers (one unknown variable fails the
// whole request with noSuchName), and a log of every request.
#pragma once

#include <snmp_pp/snmp_pp.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tdtest {

class FakeAgent {
public:
    struct Request {
        int type = 0; // VX_SNMP_GET or VX_SNMP_SET
        std::vector<std::string> oids;
        std::vector<std::string> values; // printable values of a SET
        std::string community;
        int retries = 0;
        unsigned long timeout = 0;
    };

    FakeAgent()
    {
        vx_snmp_test::set_exchange_hook(
            [this](int type, Pdu& pdu, const CTarget& target) { return Exchange(type, pdu, target); });
    }
    ~FakeAgent() { vx_snmp_test::set_exchange_hook(nullptr); }
    FakeAgent(const FakeAgent&) = delete;
    FakeAgent& operator=(const FakeAgent&) = delete;

    void Put(const std::string& oid, const SnmpSyntax& value) { values_[oid].reset(value.clone()); }
    void PutInt(const std::string& oid, long value) { Put(oid, SnmpInt32(value)); }
    void PutText(const std::string& oid, const std::string& text) { Put(oid, OctetStr(text.c_str())); }
    void PutOctets(const std::string& oid, const std::vector<unsigned char>& bytes)
    {
        Put(oid, OctetStr(bytes.data(), static_cast<unsigned long>(bytes.size())));
    }
    void Remove(const std::string& oid) { values_.erase(oid); }
    long Int(const std::string& oid) const
    {
        auto it = values_.find(oid);
        auto* v = it == values_.end() ? nullptr : dynamic_cast<const SnmpInt32*>(it->second.get());
        return v ? static_cast<long>(*v) : -99999;
    }

    // Every request answers with this status instead (0 = answer normally).
    int failWith = 0;
    // Rewrites an answer before it is returned (vbs, status).
    std::function<int(int type, Pdu& pdu)> override;

    std::vector<Request> log;
    int Gets() const { return Count(VX_SNMP_GET); }
    int Sets() const { return Count(VX_SNMP_SET); }

private:
    int Count(int type) const
    {
        int n = 0;
        for (const Request& r : log)
            n += r.type == type;
        return n;
    }

    int Exchange(int type, Pdu& pdu, const CTarget& target)
    {
        Request r;
        r.type = type;
        OctetStr community;
        if (type == VX_SNMP_SET)
            target.get_writecommunity(community);
        else
            target.get_readcommunity(community);
        r.community.assign(reinterpret_cast<const char*>(community.data()), community.len());
        r.retries = target.get_retry();
        r.timeout = target.get_timeout();
        for (int i = 0; i < pdu.get_vb_count(); ++i) {
            Vb vb;
            pdu.get_vb(vb, i);
            r.oids.push_back(vb.get_printable_oid());
            r.values.push_back(vb.get_printable_value());
        }
        log.push_back(r);
        if (failWith)
            return failWith;
        if (override)
            return override(type, pdu);

        for (int i = 0; i < pdu.get_vb_count(); ++i) {
            Vb vb;
            pdu.get_vb(vb, i);
            const std::string oid = vb.get_printable_oid();
            auto it = values_.find(oid);
            if (it == values_.end()) {
                pdu.set_error_status(SNMP_ERROR_NO_SUCH_NAME);
                pdu.set_error_index(i + 1);
                return SNMP_ERROR_NO_SUCH_NAME;
            }
            if (type == VX_SNMP_SET) {
                if (!vb.value() || vb.get_syntax() != it->second->get_syntax()) {
                    pdu.set_error_status(SNMP_ERROR_BAD_VALUE);
                    pdu.set_error_index(i + 1);
                    return SNMP_ERROR_BAD_VALUE;
                }
                it->second.reset(vb.value()->clone());
            }
            vb.set_value(*it->second);
            pdu.set_vb(vb, i);
        }
        return SNMP_CLASS_SUCCESS;
    }

    std::map<std::string, std::unique_ptr<SnmpSyntax>> values_;
};

} // namespace tdtest
