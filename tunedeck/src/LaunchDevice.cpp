#include "LaunchDevice.h"

#include <cstring>

#include "ManagementDlg.h"

int PrepareManagementDlg(CManagementDlg& dlg, const LaunchBlock& block)
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
    mib.SetTimeout(block.Timeout / 10); // the block's unit is milliseconds here
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
