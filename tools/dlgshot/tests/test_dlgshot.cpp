// The snapshot of the sample dialog is a PNG of the dialog's size.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cstdlib>
#include <filesystem>

#include "dlgshot.h"
#include "mfc/resources.h"

namespace {
QApplication* App()
{
    static int argc = 1;
    static char name[] = "test_dlgshot";
    static char* argv[] = {name, nullptr};
    if (!qApp) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        new QApplication(argc, argv);
    }
    return static_cast<QApplication*>(qApp);
}
} // namespace

TEST(DlgShot, SampleDialogRendersToAPngOfItsSize)
{
    App();
    auto dir = std::filesystem::temp_directory_path() / ("dlgshot_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string png = (dir / "sample.png").string();
    ASSERT_EQ(dlgshot::Shoot("sample", png), 0);
    QImage img(QString::fromStdString(png));
    ASSERT_FALSE(img.isNull());
    RECT px = mfc::DluToPixels(RECT{0, 0, 220, 130});
    EXPECT_EQ(img.width(), px.right);
    EXPECT_EQ(img.height(), px.bottom);
    // Not a blank image: the controls drew something.
    QRgb first = img.pixel(0, 0);
    bool varied = false;
    for (int y = 0; y < img.height() && !varied; y += 3)
        for (int x = 0; x < img.width() && !varied; x += 3)
            varied = img.pixel(x, y) != first;
    EXPECT_TRUE(varied);
    EXPECT_EQ(dlgshot::Shoot("no-such-dialog", png), 2);
    std::filesystem::remove_all(dir);
}
