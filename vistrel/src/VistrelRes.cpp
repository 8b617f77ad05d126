// The console's resources: dialog templates, the menu bar, the accelerator
// table and the icons (drawn here).
#include "FirmwareResource.h"
#include "resource.h"

#include <afxcmn.h>
#include <mfc/qt_resources.h>

#include <QColor>
#include <QPainter>
#include <QPixmap>

namespace {

// Three linked stations on a dark tile.
QPixmap DrawMainIcon(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 32.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x3b, 0x5c));
    p.drawRoundedRect(QRectF(1 * u, 1 * u, 30 * u, 30 * u), 5 * u, 5 * u);
    p.setPen(QPen(QColor(0x9f, 0xc5, 0xe8), 2 * u));
    const QPointF a(9 * u, 10 * u), b(23 * u, 10 * u), c(16 * u, 23 * u);
    p.drawLine(a, b);
    p.drawLine(b, c);
    p.drawLine(c, a);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4c, 0xc3, 0x5a));
    for (const QPointF& at : {a, b, c})
        p.drawEllipse(at, 4 * u, 4 * u);
    return pm;
}

// A status lamp: green for a device that answers, grey-red for a dead one.
QPixmap DrawLamp(int size, const QColor& fill)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(fill.darker(160), size / 16.0));
    p.setBrush(fill);
    p.drawEllipse(QRectF(size * 0.15, size * 0.15, size * 0.7, size * 0.7));
    return pm;
}

QIcon Sizes(QPixmap (*draw)(int))
{
    QIcon icon;
    icon.addPixmap(draw(16));
    icon.addPixmap(draw(32));
    return icon;
}

mfc::DlgTemplate MainTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "Veltrix(tm) Discovery";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN |
        WS_VISIBLE;
    t.exStyle = WS_EX_APPWINDOW;
    t.cx = 422;
    t.cy = 278;
    t.menu = IDR_MAIN_MENU;
    t.items = {
        Control("", IDC_DEVICE_LIST, WC_LISTVIEW, LVS_REPORT | LVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP, 0, 0, 422,
                266),
        LText("", IDC_STATUS_SPARE, 0, 267, 257, 10, SS_SUNKEN),
        LText("Devices:", IDC_DEVICE_COUNT, 259, 267, 56, 10, SS_SUNKEN),
        LText("Active:", IDC_ACTIVE_COUNT, 317, 267, 54, 10, SS_SUNKEN),
        LText("Dead:", IDC_DEAD_COUNT, 373, 267, 47, 10, SS_SUNKEN),
    };
    return t;
}

mfc::DlgTemplate AboutTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "About Veltrix Discovery";
    t.cx = 214;
    t.cy = 93;
    t.items = {
        DefPushButton("OK", IDOK, 157, 72, 50, 14, WS_TABSTOP),
        EditText(IDC_ABOUT_TEXT, 66, 7, 141, 57, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_BORDER),
    };
    return t;
}

mfc::DlgTemplate OptionsTemplate()
{
    using namespace mfc::rc;
    const DWORD ip = WS_TABSTOP | WS_BORDER;
    mfc::DlgTemplate t;
    t.caption = "Options";
    t.cx = 230;
    t.cy = 170;
    t.items = {
        GroupBox("Network Adapter", IDC_STATIC, 5, 5, 220, 32),
        ComboBox(IDC_ADAPTER, 12, 17, 206, 80, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
        GroupBox("IP Address Range", IDC_STATIC, 5, 41, 220, 55),
        LText("Start:", IDC_STATIC, 12, 55, 24, 8),
        Control("", IDC_IP_START, WC_IPADDRESS, ip, 40, 53, 100, 13),
        LText("End:", IDC_STATIC, 12, 71, 24, 8),
        Control("", IDC_IP_END, WC_IPADDRESS, ip, 40, 69, 100, 13),
        PushButton("Default", IDC_RANGE_DEFAULT, 168, 53, 50, 14, WS_TABSTOP),
        AutoCheckBox("Enable Auto Assignment", IDC_AUTO_ASSIGN, 40, 84, 120, 10, WS_TABSTOP),
        GroupBox("Database Location", IDC_STATIC, 5, 100, 220, 44),
        EditText(IDC_FIRMWARE_FOLDER, 12, 112, 206, 12, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP),
        PushButton("Default", IDC_FOLDER_DEFAULT, 113, 127, 50, 13, WS_TABSTOP),
        PushButton("Browser...", IDC_FOLDER_BROWSE, 168, 127, 50, 13, WS_TABSTOP),
        DefPushButton("OK", IDOK, 120, 151, 50, 14, WS_TABSTOP),
        PushButton("Cancel", IDCANCEL, 175, 151, 50, 14, WS_TABSTOP),
    };
    return t;
}

mfc::DlgTemplate ChooserTemplate()
{
    using namespace mfc::rc;
    const DWORD box = LBS_SORT | LBS_EXTENDEDSEL | LBS_NOTIFY | WS_VSCROLL | WS_HSCROLL | WS_BORDER | WS_TABSTOP;
    mfc::DlgTemplate t;
    t.caption = "Column Chooser";
    t.cx = 330;
    t.cy = 182;
    t.items = {
        GroupBox("OID Management", IDC_STATIC, 5, 5, 320, 152),
        LText("Available OID:", IDC_STATIC, 12, 17, 130, 8),
        ListBox(IDC_AVAILABLE_LIST, 12, 27, 133, 104, box),
        PushButton(">", IDC_MOVE_TO_WATCH, 151, 50, 28, 14, WS_TABSTOP),
        PushButton("<", IDC_MOVE_TO_AVAILABLE, 151, 70, 28, 14, WS_TABSTOP),
        LText("Watch list OID:", IDC_STATIC, 185, 17, 130, 8),
        ListBox(IDC_WATCH_LIST, 185, 27, 133, 104, box),
        PushButton("&Edit", IDC_EDIT_COLUMN, 12, 136, 42, 14, WS_TABSTOP),
        PushButton("&Add", IDC_ADD_COLUMN, 58, 136, 42, 14, WS_TABSTOP),
        PushButton("&Delete", IDC_DELETE_COLUMN, 104, 136, 42, 14, WS_TABSTOP),
        PushButton("De&fault", IDC_DEFAULT_COLUMNS, 185, 136, 42, 14, WS_TABSTOP),
        DefPushButton("OK", IDOK, 220, 162, 50, 14, WS_TABSTOP),
        PushButton("Cancel", IDCANCEL, 275, 162, 50, 14, WS_TABSTOP),
    };
    return t;
}

mfc::DlgTemplate ColumnEditTemplate()
{
    using namespace mfc::rc;
    const DWORD edit = ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
    mfc::DlgTemplate t;
    t.caption = "Add oid to the polling list";
    t.cx = 220;
    t.cy = 82;
    t.items = {
        GroupBox("Add a column", IDC_COLUMN_GROUP, 5, 5, 210, 52),
        LText("Object ID:", IDC_STATIC, 12, 20, 50, 8),
        EditText(IDC_COLUMN_OID, 65, 18, 143, 12, edit),
        LText("Column Name:", IDC_STATIC, 12, 38, 50, 8),
        EditText(IDC_COLUMN_NAME, 65, 36, 143, 12, edit),
        DefPushButton("OK", IDOK, 110, 62, 50, 14, WS_TABSTOP),
        PushButton("Cancel", IDCANCEL, 165, 62, 50, 14, WS_TABSTOP),
    };
    return t;
}

mfc::DlgTemplate IpAssignTemplate()
{
    using namespace mfc::rc;
    mfc::DlgTemplate t;
    t.caption = "IP Assignment";
    // Wide enough for the caption "IP Assignment - " and a MAC address.
    t.cx = 200;
    t.cy = 62;
    t.items = {
        GroupBox("Enter IP Address", IDC_STATIC, 5, 5, 190, 32),
        Control("", IDC_NEW_ADDRESS, WC_IPADDRESS, WS_TABSTOP | WS_BORDER, 12, 17, 100, 13),
        DefPushButton("OK", IDOK, 90, 42, 50, 14, WS_TABSTOP),
        PushButton("Cancel", IDCANCEL, 145, 42, 50, 14, WS_TABSTOP),
    };
    return t;
}

void RegisterMainMenu()
{
    using mfc::MenuItem;
    using mfc::MenuPopup;
    mfc::RegisterMenu(IDR_MAIN_MENU,
                      {
                          MenuPopup("&Veltrix",
                                    {
                                        MenuItem("&Update Firmware...", ID_UPDATE_FIRMWARE, MF_GRAYED),
                                        MenuItem("&New IP Address...", ID_NEW_IP_ADDRESS, MF_GRAYED),
                                        MenuItem("&Close", ID_VELTRIX_CLOSE),
                                    }),
                          MenuPopup("&Edit",
                                    {
                                        MenuItem("&Copy\tCtrl+C", ID_EDIT_COPY_ROWS),
                                        mfc::MenuSeparator(),
                                        MenuItem("Select &All\tCtrl+A", ID_EDIT_SELECT_ALL),
                                    }),
                          MenuPopup("&View",
                                    {
                                        MenuItem("&Refresh\tF5", ID_VIEW_REFRESH),
                                        MenuItem("&Column Chooser...", ID_VIEW_COLUMN_CHOOSER),
                                    }),
                          MenuPopup("&Tools",
                                    {
                                        MenuItem("&Options...", ID_TOOLS_OPTIONS),
                                        MenuItem("&Configure...", ID_TOOLS_CONFIGURE, MF_GRAYED),
                                        MenuItem("&Report...", ID_TOOLS_REPORT, MF_GRAYED),
                                    }),
                          MenuPopup("&Help", {MenuItem("&About Veltrix Discovery...", ID_HELP_ABOUT)}, MF_HELP),
                      });
}

} // namespace

void RegisterVistrelResources()
{
    mfc::RegisterIcon(IDR_MAINFRAME, Sizes(DrawMainIcon));
    mfc::RegisterIcon(IDI_ONLINE, QIcon(DrawLamp(16, QColor(0x3c, 0xb3, 0x4a))));
    mfc::RegisterIcon(IDI_OFFLINE, QIcon(DrawLamp(16, QColor(0xb0, 0x5a, 0x55))));
    mfc::RegisterDialogTemplate(IDD_VISTREL_DIALOG, MainTemplate());
    mfc::RegisterDialogTemplate(IDD_ABOUTBOX, AboutTemplate());
    mfc::RegisterDialogTemplate(IDD_OPTIONS, OptionsTemplate());
    mfc::RegisterDialogTemplate(IDD_COLUMN_CHOOSER, ChooserTemplate());
    mfc::RegisterDialogTemplate(IDD_COLUMN_EDIT, ColumnEditTemplate());
    mfc::RegisterDialogTemplate(IDD_IP_ASSIGN, IpAssignTemplate());
    RegisterFirmwareResources();
    RegisterMainMenu();
    mfc::RegisterAccelerators(IDR_ACCELERATORS,
                              {
                                  {FVIRTKEY | FCONTROL, 'A', ID_EDIT_SELECT_ALL},
                                  {FVIRTKEY | FCONTROL, 'C', ID_EDIT_COPY_ROWS},
                                  {FVIRTKEY, VK_F5, ID_VIEW_REFRESH},
                              });
}
