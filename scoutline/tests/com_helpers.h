// Small client-side helpers shared by the automation object tests.
#pragma once

#include <com/com.h>

#include <string>

namespace scoutline_test {

// The object's interface I, or null when it has none.
template <class I> CComPtr<I> as(IUnknown* object)
{
    CComPtr<I> p;
    if (object)
        object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&p.p));
    return p;
}

// The text of an out BSTR, which is freed; `when_null` stands for no text at all.
inline std::string take_text(BSTR text, const char* when_null)
{
    std::string s = text ? com::bstr_to_utf8(text) : when_null;
    SysFreeString(text);
    return s;
}

} // namespace scoutline_test
