// The configuration entry point: opens the device named in the launch block
// and runs the main device dialog for it.
#include <tunedeck/LaunchBlock.h>

#include <cstring>

#include "ManagementDlg.h"

namespace {

// Everything before the dialog runs; LAUNCH_OK when it may be shown.
int PrepareDevice(CManagementDlg& dlg, const LaunchBlock& block)
{
    dlg.SetBlock(block);
    if (!block.GetFirst)
        return LAUNCH_NO_GETFIRST;
    if (!block.GetNext)
        return LAUNCH_NO_GETNEXT;
    const char* ip = block.IpAddress;
    if (!ip || !*ip || std::strcmp(ip, "0.0.0.0") == 0)
        return LAUNCH_NO_IP;
    if (!dlg.SetDeviceIp(ip))
        return LAUNCH_NO_IP;

    CDeviceMib& mib = dlg.Mib();
    mib.SetRetries(block.Retries);
    mib.SetTimeout(block.Timeout / 10);  // hundredths of a second
    mib.SetDelay(static_cast<uint32_t>(block.Delay));
    mib.SetReadCommunity(block.ReadCommunity);
    mib.SetWriteCommunity(block.WriteCommunity);
    if (mib.Open(dlg.DeviceIp()) != 0)
        return LAUNCH_NOT_INITIALIZED;

    dlg.MarkInitialized();
    const unsigned char* mac = nullptr;
    if (mib.Get(mib::ifPhysAddress, &mac) != 0)
        return LAUNCH_NO_MAC;
    dlg.SetMac(mac + 2);
    return LAUNCH_OK;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int RunTunedeck(LaunchBlock* block)
{
    static const LaunchBlock empty{};
    CManagementDlg dlg;
    const int result = PrepareDevice(dlg, block ? *block : empty);
    if (result != LAUNCH_OK)
        return result;
    dlg.DoModal();
    return LAUNCH_OK;
}
