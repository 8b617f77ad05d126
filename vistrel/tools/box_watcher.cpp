#include "box_watcher.h"

#include <QPushButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

void WatchMessageBoxes(std::FILE* out, std::function<bool(int box, bool appeared)> answer)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [out, answer = std::move(answer)] {
        static QMessageBox* seen = nullptr;
        static int boxes = 0;
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        const bool appeared = box != seen;
        if (appeared) {
            seen = box;
            ++boxes;
            std::fprintf(out, "box: %s: %s\n", box->windowTitle().toStdString().c_str(),
                         box->text().toStdString().c_str());
            std::fflush(out);
        }
        if (answer && !answer(boxes, appeared))
            return;
        seen = nullptr;
        if (QAbstractButton* button = box->defaultButton())
            button->click();
        else
            box->accept();
    });
    timer->start(20);
}
