// The options program's dialog template and icon.
#include <afxwin.h>
#include <mfc/qt_resources.h>

#include <QColor>
#include <QPainter>
#include <QPixmap>

#include "resource.h"

namespace {

// Three sliders on a blue tile.
QPixmap DrawIcon(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 32.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2a, 0x5d, 0xa8));
    p.drawRoundedRect(QRectF(1 * u, 1 * u, 30 * u, 30 * u), 5 * u, 5 * u);
    const qreal knobs[3] = {20, 10, 16};
    for (int i = 0; i < 3; ++i) {
        const qreal y = (9 + 7 * i) * u;
        p.setBrush(QColor(0xdc, 0xe6, 0xf5));
        p.drawRect(QRectF(6 * u, y - 1 * u, 20 * u, 2 * u));
        p.setBrush(QColor(0xf5, 0xb7, 0x2e));
        p.drawEllipse(QPointF(knobs[i] * u, y), 3 * u, 3 * u);
    }
    return pm;
}

mfc::DlgTemplate PrefwellTemplate()
{
    using namespace mfc::rc;
    const DWORD edit = ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
    mfc::DlgTemplate t;
    t.caption = "Vistrel Configuration Function Options";
    t.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    t.cx = 232;
    t.cy = 124;
    t.items = {
        LText("Read Community", IDC_STATIC, 7, 9, 62, 8),
        EditText(IDC_READ_COMMUNITY, 72, 7, 153, 12, edit),
        LText("Write Community", IDC_STATIC, 7, 25, 62, 8),
        EditText(IDC_WRITE_COMMUNITY, 72, 23, 153, 12, edit),
        LText("Timeout", IDC_STATIC, 7, 43, 62, 8),
        EditText(IDC_TIMEOUT, 72, 41, 40, 12, edit),
        LText("Retries", IDC_STATIC, 7, 59, 62, 8),
        EditText(IDC_RETRIES, 72, 57, 40, 12, edit),
        LText("Holdoff", IDC_STATIC, 7, 75, 62, 8),
        EditText(IDC_HOLDOFF, 72, 73, 40, 12, edit),
        AutoCheckBox("Enable Config", IDC_ENABLE_CONFIG, 130, 41, 95, 10, WS_TABSTOP).Hidden(),
        AutoCheckBox("Enable Report", IDC_ENABLE_REPORT, 130, 53, 95, 10, WS_TABSTOP).Hidden(),
        AutoCheckBox("Enable Advanced", IDC_ENABLE_ADVANCED, 130, 65, 95, 10, WS_TABSTOP).Hidden(),
        AutoCheckBox("Enable SNMP", IDC_ENABLE_SNMP, 130, 77, 95, 10, WS_TABSTOP).Hidden(),
        AutoCheckBox("Enable 2/3 mS", IDC_ENABLE_23MS, 130, 89, 95, 10, WS_TABSTOP).Hidden(),
        DefPushButton("OK", IDOK, 119, 103, 50, 14, WS_TABSTOP),
        PushButton("Cancel", IDCANCEL, 175, 103, 50, 14, WS_TABSTOP),
    };
    return t;
}

} // namespace

void RegisterPrefwellResources()
{
    QIcon icon;
    icon.addPixmap(DrawIcon(16));
    icon.addPixmap(DrawIcon(32));
    mfc::RegisterIcon(IDR_MAINFRAME, icon);
    mfc::RegisterDialogTemplate(IDD_PREFWELL_DIALOG, PrefwellTemplate());
}
