// Common controls of the dialog layer.
#pragma once

#include "afxwin.h"
#include "mfc/commctrl.h"
