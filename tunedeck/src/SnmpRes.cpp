// Template of the generic SNMP dialog: one variable combo per group, all at
// one place, only the current group's shown.
#include <afxcmn.h>
#include <afxwin.h>

#include "SnmpVarTable.h"
#include "Templates.h"
#include "resource.h"

mfc::DlgTemplate GenericSnmpTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "Generic SNMP R/W";
    t.cx = 280;
    t.cy = 150;
    auto edit = [](int id, short x, short y, short cx) {
        return EditText(id, x, y, cx, 12).With(WS_TABSTOP | WS_BORDER);
    };
    t.items = {
        LText("Group", IDC_STATIC, 7, 9, 40, 8),
        ComboBox(IDC_GROUP, 50, 7, 90, 150).With(WS_TABSTOP),
        LText("Variable", IDC_STATIC, 7, 27, 40, 8),
    };
    for (int g = 0; g < snmpvars::kGroups; ++g)
        t.items.push_back(ComboBox(IDC_VARIABLE_FIRST + g, 50, 25, 130, 150).With(WS_TABSTOP).Hidden());
    t.items.insert(t.items.end(),
                   {
                       LText("Type", IDC_STATIC, 150, 9, 25, 8),
                       ComboBox(IDC_TYPE, 178, 7, 50, 80).With(WS_TABSTOP),
                       AutoCheckBox("RO", IDC_RO, 236, 8, 30, 10, WS_TABSTOP),
                       LText("OID", IDC_STATIC, 7, 45, 40, 8),
                       edit(IDC_OID, 50, 43, 223),
                       LText("Value", IDC_STATIC, 7, 63, 40, 8),
                       edit(IDC_VALUE, 50, 61, 223),
                       LText("X (xcvr)", IDC_STATIC, 7, 81, 40, 8),
                       edit(IDC_X, 50, 79, 40),
                       LText("Y (chan)", IDC_STATIC, 100, 81, 35, 8),
                       edit(IDC_Y, 138, 79, 40),
                       PushButton("Get", IDC_GET, 7, 104, 50, 14, WS_TABSTOP),
                       PushButton("Put", IDC_PUT, 62, 104, 50, 14, WS_TABSTOP),
                       PushButton("Form OID", IDC_FORM_OID, 117, 104, 50, 14, WS_TABSTOP),
                       PushButton("Reset OID", IDC_RESET_OID, 172, 104, 50, 14, WS_TABSTOP),
                       DefPushButton("OK", IDOK, 223, 129, 50, 14, WS_TABSTOP),
                   });
    return t;
}
