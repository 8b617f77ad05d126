// Templates of the transmitter and receiver dialogs: a bundle edit and eight
// channel rows.
#include <afxcmn.h>
#include <afxwin.h>

#include <string>

#include "Templates.h"
#include "resource.h"

namespace {

constexpr short kRowTop = 56;
constexpr short kRowStep = 14;
constexpr int kRows = 8;

short RowY(int i) { return static_cast<short>(kRowTop + i * kRowStep); }

// "Bundle" edit, channel headings and the channel numbers.
void AddCommon(mfc::DlgTemplate& t, const char* third)
{
    using namespace mfc::rc;
    t.items.push_back(LText("Bundle", IDC_STATIC, 7, 9, 40, 8));
    t.items.push_back(EditText(IDC_BUNDLE_NUMBER, 50, 7, 50, 12).With(WS_TABSTOP | WS_BORDER));
    t.items.push_back(LText("Channel", IDC_STATIC, 7, 44, 30, 8));
    t.items.push_back(LText("SubMap", IDC_STATIC, 45, 44, 40, 8));
    t.items.push_back(LText(third, IDC_STATIC, 90, 44, 60, 8));
    for (int i = 0; i < kRows; ++i)
        t.items.push_back(CText(std::to_string(i + 1), IDC_STATIC, 7, static_cast<short>(RowY(i) + 2), 20, 8));
}

void AddButtons(mfc::DlgTemplate& t, short y)
{
    using namespace mfc::rc;
    t.items.push_back(PushButton("Apply", IDC_APPLY, 7, y, 50, 14, WS_TABSTOP));
    t.items.push_back(PushButton("Refresh", IDC_REFRESH, 62, y, 50, 14, WS_TABSTOP));
    t.items.push_back(DefPushButton("OK", IDOK, 138, y, 50, 14, WS_TABSTOP));
    t.items.push_back(PushButton("Cancel", IDCANCEL, 193, y, 50, 14, WS_TABSTOP));
}

} // namespace

mfc::DlgTemplate TransmitterTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "Transmitter Settings";
    t.cx = 250;
    t.cy = 200;
    AddCommon(t, "SubFormat");
    t.items.push_back(LText("SubCount", IDC_STATIC, 120, 9, 45, 8));
    t.items.push_back(ComboBox(IDC_SUBCOUNT, 170, 7, 50, 120).With(WS_TABSTOP));
    t.items.push_back(LText("UnicastMode", IDC_STATIC, 7, 26, 42, 8));
    t.items.push_back(ComboBox(IDC_UNICAST_MODE, 50, 24, 90, 100).With(WS_TABSTOP));
    t.items.push_back(LText("MaxUnicast", IDC_STATIC, 150, 26, 40, 8));
    t.items.push_back(ComboBox(IDC_MAX_UNICAST, 195, 24, 40, 80).With(WS_TABSTOP));
    for (int i = 0; i < kRows; ++i) {
        t.items.push_back(EditText(IDC_SUBMAP_FIRST + i, 45, RowY(i), 30, 12).With(WS_TABSTOP | WS_BORDER));
        t.items.push_back(ComboBox(IDC_SUBFORMAT_FIRST + i, 90, RowY(i), 50, 80).With(WS_TABSTOP));
    }
    t.items.push_back(AutoCheckBox("All Same", IDC_ALL_SAME, 160, RowY(0), 60, 10, WS_TABSTOP));
    t.items.push_back(PushButton("Clear All", IDC_CLEAR_ALL, 160, RowY(1) + 4, 50, 14, WS_TABSTOP));
    AddButtons(t, 180);
    return t;
}

mfc::DlgTemplate ReceiverTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "Receiver Settings";
    t.cx = 250;
    t.cy = 200;
    AddCommon(t, "SubFormat");
    for (int i = 0; i < kRows; ++i) {
        t.items.push_back(EditText(IDC_SUBMAP_FIRST + i, 45, RowY(i), 30, 12).With(WS_TABSTOP | WS_BORDER));
        t.items.push_back(LText("", IDC_SUBFORMAT_FIRST + i, 90, static_cast<short>(RowY(i) + 2), 100, 8));
        t.items.push_back(Control("", IDC_PICTURE_FIRST + i, "Static", SS_BITMAP, 200, RowY(i), 12, 12));
    }
    AddButtons(t, 180);
    return t;
}
