// The Qt side of the layer, for programs that register artwork and for tools
// that look at the widgets (tests, the dialog snapshot tool).
#pragma once

#include <QIcon>
#include <QPixmap>

#include "mfc/wnd.h"

class QWidget;
class QDialog;

namespace mfc {
void RegisterIcon(UINT id, const QIcon& icon);
void RegisterBitmap(UINT id, const QPixmap& pixmap);
QIcon IconOf(HICON hIcon);
QPixmap PixmapOf(HBITMAP hBitmap);
HICON MakeIcon(const QIcon& icon);     // owned by the caller (DestroyIcon)
HBITMAP MakeBitmap(const QPixmap& pm); // owned by the caller (DeleteObject)
// The widget behind a window handle, or null when it no longer exists.
QWidget* WidgetOf(HWND hWnd);
// The open Qt dialog of a CDialog (null outside DoModal).
QDialog* DialogWidgetOf(const CDialog& dlg);
// The width a window needs for a window manager's title bar to show
// `caption` whole.
int CaptionWidth(const std::string& caption);
// The font a dialog template's face and size map to.
QFont DialogFont(const std::string& face, int pointSize);
} // namespace mfc
