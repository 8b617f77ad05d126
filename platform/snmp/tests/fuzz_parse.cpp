// Text parsers and printable forms on arbitrary input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "snmp_pp/snmp_pp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    Oid oid(text.c_str());
    if (oid.valid()) {
        // A valid identifier prints back to text that parses to the same numbers.
        Oid again(oid.get_printable());
        if (!again.valid() || again != oid)
            __builtin_trap();
    }
    GenAddress address(text.c_str());
    if (address.valid()) {
        GenAddress again(address.get_printable());
        if (!again.valid() || std::memcmp(again.octets(), address.octets(), 4) != 0 || again.port() != address.port())
            __builtin_trap();
    }
    OctetStr octets(data, static_cast<unsigned long>(size));
    const std::string printable = octets.get_printable();
    if (size > 0 && printable.empty())
        __builtin_trap();
    Vb vb(oid);
    vb.set_value(octets);
    unsigned char buf[32];
    unsigned long len = 0;
    vb.get_value(buf, len, sizeof buf, true);
    if (len >= sizeof buf)
        __builtin_trap();
    return 0;
}
