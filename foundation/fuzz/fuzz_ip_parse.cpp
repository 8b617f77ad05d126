// Strict IPv4 parse against a straightforward reference: accepted exactly when
// the text is four parts joined by three dots, each part empty only at the end,
// every part within a byte, and the text within the length limit.
#include "qm/address.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool reference(const std::string& text, int base, uint8_t out[4])
{
    std::string scanned = text.substr(0, text.find('\0'));
    if (text.empty() || text.size() > (base == 1 ? 11u : 15u))
        return false;
    unsigned long long parts[4] = {0, 0, 0, 0};
    int dots = 0;
    bool need_digit = true;
    for (char c : scanned) {
        int v = (c >= '0' && c <= '9') ? c - '0'
            : (c >= 'a' && c <= 'f')   ? c - 'a' + 10
            : (c >= 'A' && c <= 'F')   ? c - 'A' + 10
                                       : -1;
        if (v >= 0 && v < (base == 1 ? 16 : 10)) {
            parts[dots] = parts[dots] * (base == 1 ? 16 : 10) + v;
            if (parts[dots] > 255)
                return false;
            need_digit = false;
        } else if (c == '.' && !need_digit && dots < 3) {
            ++dots;
            need_digit = true;
        } else {
            return false;
        }
    }
    if (dots != 3)
        return false;
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(parts[i]);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    int base = data[0] & 1;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    qm::ip_address_t address;
    address.assign_number(0x01020304);
    uint8_t expected[4];
    bool ok = reference(text, base, expected);
    if (address.parse(text, base) != ok)
        std::abort();
    uint32_t number =
        ok ? (uint32_t(expected[0]) << 24 | uint32_t(expected[1]) << 16 | uint32_t(expected[2]) << 8 | expected[3]) : 0;
    if (address.number != number || address.to_string().empty())
        std::abort();
    for (int i = 0; i < 4; ++i)
        if (address.bytes[i] != (ok ? expected[i] : 0))
            std::abort();
    return 0;
}
