// The checks and set-up before the main device dialog runs: the launch
// block's callbacks and IP text, the model's settings, the device opened and
// its MAC address read.
#pragma once

#include <tunedeck/LaunchBlock.h>

class CManagementDlg;

// LAUNCH_OK when the dialog may be shown, else the launch result code.
int PrepareManagementDlg(CManagementDlg& dlg, const LaunchBlock& block);
