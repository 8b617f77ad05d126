#include "box_watcher.h"

#include <QPushButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

void WatchMessageBoxes(std::FILE* out, int answerAfterMs)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [out, answerAfterMs] {
        static QMessageBox* seen = nullptr;
        static QElapsedTimer up;
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box != seen) {
            seen = box;
            up.start();
            std::fprintf(out, "box: %s: %s\n", box->windowTitle().toStdString().c_str(),
                         box->text().toStdString().c_str());
            std::fflush(out);
        }
        if (up.elapsed() < answerAfterMs)
            return;
        seen = nullptr;
        if (QAbstractButton* button = box->defaultButton())
            button->click();
        else
            box->accept();
    });
    timer->start(20);
}
