// The configuration entry point: opens the device named in the launch block
// and runs the main device dialog for it.
#include <tunedeck/LaunchBlock.h>

#include "LaunchDevice.h"
#include "ManagementDlg.h"

extern "C" __attribute__((visibility("default"))) int RunTunedeck(LaunchBlock* block)
{
    static const LaunchBlock empty{};
    CManagementDlg dlg;
    const int result = PrepareManagementDlg(dlg, block ? *block : empty);
    if (result != LAUNCH_OK)
        return result;
    dlg.DoModal(); // whatever the dialog ends with, the launch succeeded
    return LAUNCH_OK;
}
