// Dialog templates of the firmware update: Select Firmware Version and the
// progress of one firmware job.
#include "FirmwareResource.h"

#include <afxcmn.h>

namespace {

mfc::DlgTemplate SelectVersionTemplate()
{
    using namespace mfc::rc;
    const DWORD radio = WS_TABSTOP;
    mfc::DlgTemplate t;
    t.caption = "Select Firmware Version";
    t.cx = 230;
    t.cy = 236;
    t.items = {
        GroupBox("Current Firmware Version", IDC_STATIC, 5, 5, 220, 25),
        LText("", IDC_CURRENT_VERSION, 12, 16, 206, 9, SS_NOPREFIX),
        GroupBox("Compatible Firmware Versions", IDC_STATIC, 5, 34, 220, 92),
        ListBox(IDC_VERSION_LIST, 12, 45, 206, 76, LBS_SORT | LBS_NOTIFY | WS_VSCROLL),
        AutoCheckBox("Apply to all devices with this Firmware Version", IDC_APPLY_TO_ALL, 7, 130, 216, 10),
        AutoCheckBox("Show all Firmware Versions", IDC_SHOW_ALL_VERSIONS, 7, 143, 216, 10).Hidden(),

        GroupBox("Boot Update", IDC_BOOT_GROUP, 5, 156, 70, 54).Hidden().With(WS_GROUP),
        AutoRadioButton("If necessary", IDC_BOOT_IF_NECESSARY, 10, 167, 62, 10, radio | WS_GROUP).Hidden(),
        AutoRadioButton("If different", IDC_BOOT_IF_DIFFERENT, 10, 180, 62, 10).Hidden(),
        AutoRadioButton("Unconditionally", IDC_BOOT_ALWAYS, 10, 193, 62, 10).Hidden(),

        GroupBox("Code Update", IDC_CODE_GROUP, 80, 156, 70, 54).Hidden().With(WS_GROUP),
        AutoRadioButton("If different", IDC_CODE_IF_DIFFERENT, 85, 167, 62, 10, radio | WS_GROUP).Hidden(),
        AutoRadioButton("Unconditionally", IDC_CODE_ALWAYS, 85, 180, 62, 10).Hidden(),

        GroupBox("Config Update", IDC_CONFIG_GROUP, 155, 156, 70, 54).Hidden().With(WS_GROUP),
        AutoRadioButton("Never", IDC_CONFIG_NEVER, 160, 165, 62, 10, radio | WS_GROUP).Hidden(),
        AutoRadioButton("If different", IDC_CONFIG_IF_DIFFERENT, 160, 175, 62, 10).Hidden(),
        AutoRadioButton("Unconditionally", IDC_CONFIG_ALWAYS, 160, 185, 62, 10).Hidden(),
        AutoRadioButton("Automatic", IDC_CONFIG_AUTOMATIC, 160, 195, 62, 10).Hidden(),

        DefPushButton("&Update", IDC_UPDATE_VERSION, 120, 216, 50, 14, WS_GROUP),
        PushButton("&Cancel", IDCANCEL, 175, 216, 50, 14),
    };
    return t;
}

// The busy animation takes the pixel rectangle (5, 5)-(93, 77) at the left.
mfc::DlgTemplate ProgressTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.cx = 230;
    t.cy = 70;
    t.items = {
        LText("", IDC_PROGRESS_STATUS, 68, 8, 155, 26, SS_NOPREFIX),
        Control("", IDC_PROGRESS_BAR, PROGRESS_CLASS, WS_BORDER, 68, 38, 155, 9),
        PushButton("Cancel", IDCANCEL, 173, 50, 50, 14),
    };
    return t;
}

} // namespace

void RegisterFirmwareResources()
{
    mfc::RegisterDialogTemplate(IDD_SELECT_VERSION, SelectVersionTemplate());
    mfc::RegisterDialogTemplate(IDD_FIRMWARE_PROGRESS, ProgressTemplate());
}
