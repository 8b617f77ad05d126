#include "server.h"

#include <qm/bstr.h>

namespace flashkit {

qm::ip_address_t parse_address(BSTR text)
{
    qm::ip_address_t address;
    const std::string dotted = text_of(text);
    if (dotted.find('\0') != std::string::npos || !address.parse(dotted))
        throw qm::exception_t("invalid IP address");
    return address;
}

std::string text_of(BSTR text) { return qm::bstr_to_string(_bstr_t(text, true)); }

BSTR new_text(const std::string& text)
{
    BSTR out = qm::string_to_bstr(text);
    if (!out)
        throw std::bad_alloc();
    return out;
}

} // namespace flashkit
