// Test support: the deployer as a client makes it, by its version-independent
// ProgID, in process, queried for its own interface.
#pragma once

#include "com_client.h"

namespace vx::test {

inline CComPtr<Ideployer> create_deployer()
{
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgIDA("Flashkit.deployer", &clsid), S_OK);
    CComPtr<IUnknown> unknown;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
              S_OK);
    return as<Ideployer>(unknown);
}

} // namespace vx::test
