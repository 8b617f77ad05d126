// The main device dialog's template, and the registration of them all.
#include <afxcmn.h>
#include <afxwin.h>
#include <mfc/resources.h>

#include <mutex>

#include "Templates.h"
#include "resource.h"

mfc::DlgTemplate ManagementTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "Veltrix Management";
    t.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.cx = 276;
    t.cy = 176;
    t.items = {
        LText("IP Address", IDC_STATIC, 7, 9, 40, 8),
        Control("", IDC_DEVICE_IP, WC_IPADDRESS, WS_TABSTOP, 50, 7, 100, 13),
        RText("", IDC_VERSION_TEXT, 160, 9, 50, 8),
        Control("", IDC_BUNDLE_LIST, WC_LISTVIEW,
                LVS_REPORT | LVS_SHOWSELALWAYS | LVS_EDITLABELS | WS_BORDER | WS_TABSTOP, 7, 26, 203, 126),
        CheckBox("Conductor", IDC_CONDUCTOR, 7, 158, 80, 10),
        PushButton("Configure", IDC_CONFIGURE, 219, 26, 50, 14, WS_TABSTOP),
        PushButton("Advanced", IDC_ADVANCED, 219, 46, 50, 14, WS_TABSTOP),
        PushButton("Report", IDC_REPORT, 219, 66, 50, 14, WS_TABSTOP),
        PushButton("SNMP", IDC_SNMP, 219, 86, 50, 14, WS_TABSTOP),
        PushButton("Refresh", IDC_REFRESH, 219, 118, 50, 14, WS_TABSTOP),
        DefPushButton("OK", IDOK, 219, 155, 50, 14, WS_TABSTOP),
    };
    return t;
}

void RegisterTunedeckResources()
{
    static std::once_flag once;
    std::call_once(once, [] {
        mfc::RegisterDialogTemplate(IDD_MANAGEMENT, ManagementTemplate());
        mfc::RegisterDialogTemplate(IDD_TRANSMITTER, TransmitterTemplate());
        mfc::RegisterDialogTemplate(IDD_RECEIVER, ReceiverTemplate());
        mfc::RegisterDialogTemplate(IDD_ADVANCED, AdvancedTemplate());
        mfc::RegisterDialogTemplate(IDD_GENERIC_SNMP, GenericSnmpTemplate());
        mfc::RegisterDialogTemplate(IDD_SAVE_REPORTS, SaveReportsTemplate());
        mfc::RegisterDialogTemplate(IDD_SAVE_REPORT, SaveReportTemplate());
    });
}
