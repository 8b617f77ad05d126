#include "qm/bstr.h"

#include <windows.h>

#include <new>

namespace qm {

std::string bstr_to_string(const _bstr_t& text)
{
    if (!text.GetBSTR())
        return std::string();
    try {
        return com::utf16_to_utf8(com::bstr_view(text.GetBSTR()));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        throw wapi::exception_t("qm::bstr_to_string");
    }
}

BSTR string_to_bstr(const char* text)
{
    BSTR result = nullptr;
    try {
        std::u16string wide = com::utf8_to_utf16(text ? text : "");
        result = SysAllocString(wide.c_str());
    } catch (const std::bad_alloc&) {
        result = nullptr;
    }
    if (!result) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        throw wapi::exception_t("qm::string_to_bstr");
    }
    return result;
}

BSTR string_to_bstr(const std::string& text) { return string_to_bstr(text.c_str()); }

} // namespace qm
