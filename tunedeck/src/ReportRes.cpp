// Templates of the report dialogs: Save Reports (the selected devices) and
// Save Report (the open device).
#include <afxcmn.h>
#include <afxwin.h>

#include "Templates.h"
#include "resource.h"

namespace {

// The folder, status, progress and buttons of both; `second` the line
// between the folder and the status.
mfc::DlgTemplate ReportTemplate(const char* caption, const char* folder, mfc::DlgItem second,
                                std::vector<mfc::DlgItem> more)
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = caption;
    t.cx = 260;
    t.cy = 110;
    t.items = {
        LText(folder, IDC_STATIC, 7, 9, 60, 8),
        EditText(IDC_REPORT_FOLDER, 70, 7, 130, 12).With(WS_TABSTOP | WS_BORDER),
        PushButton("Browse", IDC_BROWSE, 205, 6, 48, 14, WS_TABSTOP),
    };
    t.items.insert(t.items.end(), more.begin(), more.end());
    t.items.push_back(second);
    t.items.insert(t.items.end(),
                   {
                       LText("Status:", IDC_STATIC, 7, 45, 30, 8),
                       LText("Idle", IDC_REPORT_STATUS, 40, 45, 213, 8),
                       Control("", IDC_REPORT_PROGRESS, PROGRESS_CLASS, WS_BORDER, 7, 60, 246, 12),
                       PushButton("Write", IDC_WRITE, 7, 89, 50, 14, WS_TABSTOP),
                       PushButton("Exit", IDCANCEL, 203, 89, 50, 14, WS_TABSTOP),
                   });
    return t;
}

} // namespace

mfc::DlgTemplate SaveReportsTemplate()
{
    using namespace mfc::rc;
    return ReportTemplate("Save Reports", "Report Directory",
                          AutoCheckBox("Report All", IDC_REPORT_ALL, 70, 26, 80, 10, WS_TABSTOP), {});
}

mfc::DlgTemplate SaveReportTemplate()
{
    using namespace mfc::rc;
    return ReportTemplate("Save Report", "Directory",
                          EditText(IDC_REPORT_FILE, 70, 25, 130, 12).With(WS_TABSTOP | WS_BORDER),
                          {LText("File", IDC_STATIC, 7, 27, 60, 8)});
}
