#include "StatusPictures.h"

#include <afxdlgs.h>
#include <mfc/qt_resources.h>

#include <QColor>
#include <QPainter>
#include <QPixmap>

CStatusPictures::CStatusPictures()
{
    // A filled circle: green, yellow, red.
    const QColor colours[kCount] = {QColor(0, 170, 0), QColor(230, 180, 0), QColor(200, 0, 0)};
    for (int i = 0; i < kCount; ++i) {
        QPixmap pixmap(12, 12);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colours[i]);
        painter.drawEllipse(1, 1, 10, 10);
        painter.end();
        m_bitmaps[i] = mfc::MakeBitmap(pixmap);
    }
}

CStatusPictures::~CStatusPictures()
{
    for (HBITMAP bitmap : m_bitmaps)
        if (bitmap)
            DeleteObject(bitmap);
}

int CStatusPictures::StateOf(HBITMAP bitmap) const
{
    for (int i = 0; i < kCount; ++i)
        if (bitmap && bitmap == m_bitmaps[i])
            return i;
    return -1;
}
