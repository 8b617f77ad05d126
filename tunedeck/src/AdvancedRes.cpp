// Template of the advanced dialog.
#include <afxcmn.h>
#include <afxwin.h>

#include "Templates.h"
#include "resource.h"

mfc::DlgTemplate AdvancedTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "Advanced Configuration";
    t.cx = 280;
    t.cy = 222;
    auto rowY = [](int i) { return static_cast<short>(24 + 17 * i); };
    auto edit = [](int id, short x, short y, short cx, DWORD style = 0) {
        return EditText(id, x, y, cx, 12).With(WS_TABSTOP | WS_BORDER | style);
    };
    t.items = {
        AutoCheckBox("Persistence", IDC_PERSISTENCE, 7, 7, 80, 10, WS_TABSTOP),
        LText("Name", IDC_STATIC, 7, static_cast<short>(rowY(0) + 2), 66, 8),
        edit(IDC_NAME, 75, rowY(0), 198),
        LText("Location", IDC_STATIC, 7, static_cast<short>(rowY(1) + 2), 66, 8),
        edit(IDC_LOCATION, 75, rowY(1), 198),
        LText("Contact", IDC_STATIC, 7, static_cast<short>(rowY(2) + 2), 66, 8),
        edit(IDC_CONTACT, 75, rowY(2), 198),
        LText("Conductor Priority", IDC_STATIC, 7, static_cast<short>(rowY(3) + 2), 66, 8),
        edit(IDC_COND_PRIORITY, 75, rowY(3), 60),
        LText("Serial Format", IDC_STATIC, 7, static_cast<short>(rowY(4) + 2), 66, 8),
        edit(IDC_SERIAL_FORMAT, 75, rowY(4), 60),
        LText("Serial Baud", IDC_STATIC, 7, static_cast<short>(rowY(5) + 2), 66, 8),
        edit(IDC_SERIAL_BAUD, 75, rowY(5), 60),
        LText("Serial PPeriod", IDC_STATIC, 7, static_cast<short>(rowY(6) + 2), 66, 8),
        edit(IDC_SERIAL_PPERIOD, 75, rowY(6), 60),
        LText("Serial RxMAC", IDC_STATIC, 7, static_cast<short>(rowY(7) + 2), 66, 8),
        edit(IDC_SERIAL_RXMAC, 75, rowY(7), 90),
        LText("SerialTxMAC", IDC_STATIC, 7, static_cast<short>(rowY(8) + 2), 66, 8),
        edit(IDC_SERIAL_TXMAC, 75, rowY(8), 90),
        LText("modeRate Control", IDC_STATIC, 7, static_cast<short>(rowY(9) + 2), 66, 8),
        ComboBox(IDC_MODE_RATE, 75, rowY(9), 100, 100).With(WS_TABSTOP),
        LText("HMI Mode", IDC_STATIC, 175, static_cast<short>(rowY(3) + 2), 48, 8),
        edit(IDC_HMI_MODE, 225, rowY(3), 48, ES_READONLY),
        LText("NetMask", IDC_STATIC, 175, static_cast<short>(rowY(4) + 2), 48, 8),
        edit(IDC_NETMASK, 225, rowY(4), 48, ES_READONLY),
        LText("FreeCycles", IDC_STATIC, 175, static_cast<short>(rowY(5) + 2), 48, 8),
        edit(IDC_FREE_CYCLES, 225, rowY(5), 48, ES_READONLY),
        LText("Proc Mode", IDC_STATIC, 175, static_cast<short>(rowY(6) + 2), 48, 8),
        edit(IDC_PROC_MODE, 225, rowY(6), 48),
        LText("TagEnable", IDC_STATIC, 175, static_cast<short>(rowY(7) + 2), 48, 8),
        edit(IDC_TAG_ENABLE, 225, rowY(7), 48),
        PushButton("Apply", IDC_APPLY, 7, 200, 50, 14, WS_TABSTOP),
        PushButton("Refresh", IDC_REFRESH, 62, 200, 50, 14, WS_TABSTOP),
        DefPushButton("OK", IDOK, 168, 200, 50, 14, WS_TABSTOP),
        PushButton("Cancel", IDCANCEL, 223, 200, 50, 14, WS_TABSTOP),
    };
    return t;
}
