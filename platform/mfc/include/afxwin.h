// MFC-shaped dialog layer over Qt 6 Widgets: windows, dialogs, the
// application object, standard controls, menus, message boxes.
#pragma once

#include "mfc/winui.h"
#include "mfc/cstring.h"
#include "mfc/wnd.h"
#include "mfc/controls.h"
#include "mfc/menu.h"
#include "mfc/dialogs.h"
#include "mfc/resources.h"
