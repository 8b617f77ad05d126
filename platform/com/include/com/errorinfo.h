// Per-thread error objects.
#pragma once

#include "com/unknown.h"

// Replaces the calling thread's error object (null clears it); reserved must be 0.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands the calling thread's error object to the caller and clears it;
// S_FALSE with a null result when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
// A new, empty error object.
HRESULT CreateErrorInfo(ICreateErrorInfo** info);

namespace com {
// Builds an error object (guid, source, description) and makes it the
// thread's current one.
HRESULT set_error_info(REFGUID guid, const std::u16string& source, const std::u16string& description);
} // namespace com
