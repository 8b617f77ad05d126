// Templates of the report dialogs: Save Reports (the selected devices) and
// Save Report (the open device).
#include <afxcmn.h>
#include <afxwin.h>

#include "Templates.h"
#include "resource.h"

mfc::DlgTemplate SaveReportsTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "Save Reports";
    t.cx = 260;
    t.cy = 110;
    t.items = {
        LText("Report Directory", IDC_STATIC, 7, 9, 60, 8),
        EditText(IDC_REPORT_FOLDER, 70, 7, 130, 12).With(WS_TABSTOP | WS_BORDER),
        PushButton("Browse", IDC_BROWSE, 205, 6, 48, 14, WS_TABSTOP),
        AutoCheckBox("Report All", IDC_REPORT_ALL, 70, 26, 80, 10, WS_TABSTOP),
        LText("Status:", IDC_STATIC, 7, 45, 30, 8),
        LText("Idle", IDC_REPORT_STATUS, 40, 45, 213, 8),
        Control("", IDC_REPORT_PROGRESS, PROGRESS_CLASS, WS_BORDER, 7, 60, 246, 12),
        PushButton("Write", IDC_WRITE, 7, 89, 50, 14, WS_TABSTOP),
        PushButton("Exit", IDCANCEL, 203, 89, 50, 14, WS_TABSTOP),
    };
    return t;
}

mfc::DlgTemplate SaveReportTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "Save Report";
    t.cx = 260;
    t.cy = 110;
    t.items = {
        LText("Directory", IDC_STATIC, 7, 9, 40, 8),
        EditText(IDC_REPORT_FOLDER, 50, 7, 150, 12).With(WS_TABSTOP | WS_BORDER),
        PushButton("Browse", IDC_BROWSE, 205, 6, 48, 14, WS_TABSTOP),
        LText("File", IDC_STATIC, 7, 27, 40, 8),
        EditText(IDC_REPORT_FILE, 50, 25, 150, 12).With(WS_TABSTOP | WS_BORDER),
        LText("Status:", IDC_STATIC, 7, 45, 30, 8),
        LText("Idle", IDC_REPORT_STATUS, 40, 45, 213, 8),
        Control("", IDC_REPORT_PROGRESS, PROGRESS_CLASS, WS_BORDER, 7, 60, 246, 12),
        PushButton("Write", IDC_WRITE, 7, 89, 50, 14, WS_TABSTOP),
        PushButton("Exit", IDCANCEL, 203, 89, 50, 14, WS_TABSTOP),
    };
    return t;
}
