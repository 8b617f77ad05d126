// The report entry point: the Save Reports dialog for the console's selection,
// with its report worker.
#include <tunedeck/LaunchBlock.h>

#include "SaveReportsDlg.h"

extern "C" __attribute__((visibility("default"))) int RunVeltrixReport(LaunchBlock* block)
{
    if (!block)
        return LAUNCH_NO_GETFIRST;
    block->AllDevices = 0; // "Report All" starts cleared
    CSaveReportsDlg dlg;
    dlg.SetBlock(*block);
    const int result = dlg.StartWorker();
    if (result != LAUNCH_OK)
        return result;
    dlg.DoModal();
    return LAUNCH_OK;
}
