// The main dialog's "Update Firmware" command.
#pragma once

#include <afxcmn.h>

#include <string>

// Updates the firmware of the list's selected devices, in the order of the
// selection, from the firmware folder, and tells the user how it ended.
void UpdateFirmware(CWnd& owner, CListCtrl& list, const std::string& folder);
