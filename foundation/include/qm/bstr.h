// Conversion between the automation string type and std::string ("ANSI" text
// is UTF-8). Part of the separate vx_foundation_bstr library (needs the COM layer).
#pragma once

#include "qm/exception.h"

#include <comdef.h>

#include <string>

namespace qm {

// A null string gives an empty result; characters that cannot be converted
// become replacement characters.
std::string bstr_to_string(const _bstr_t& text);
// A new BSTR that the caller owns (SysFreeString).
BSTR string_to_bstr(const char* text);
BSTR string_to_bstr(const std::string& text);

} // namespace qm
