#include "update_check.h"

#include <algorithm>

namespace flashkit {

IDispatch* make_update_check(const uint8_t flags[8])
{
    CComObject<Cupdate_check>* object = nullptr;
    if (FAILED(CComObject<Cupdate_check>::CreateInstance(&object)))
        throw std::bad_alloc();
    std::copy(flags, flags + 8, object->flags);
    object->AddRef();
    return static_cast<Iupdate_check*>(object);
}

} // namespace flashkit
