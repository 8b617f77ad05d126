// Common dialogs of the dialog layer (file dialog; folder picker in shlobj.h).
#pragma once

#include "afxwin.h"
#include "mfc/dialogs.h"
