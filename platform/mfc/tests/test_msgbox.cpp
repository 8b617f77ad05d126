// Message boxes through the test hook: texts, captions and styles recorded,
// scripted answers used in order, default buttons otherwise.
#include <QTest>

#include "mfc/qt_resources.h"
#include "qt_app.h"

using mfc::test::MessageBoxLog;

TEST(MessageBox, HookRecordsAndAnswersInOrder)
{
    mfc::test::ScopedHooks hooks;
    CWinApp app("Vistrel Test");
    mfc::test::PushMessageBoxAnswer(IDNO);
    mfc::test::PushMessageBoxAnswer(IDCANCEL);
    EXPECT_EQ(::MessageBox(nullptr, "Could Not Read All Values\n    Retry?", "Error", MB_YESNO), IDNO);
    EXPECT_EQ(AfxMessageBox("New IP address may be unreachable.", 305), IDCANCEL);
    // Queue empty: the default button answers.
    EXPECT_EQ(AfxMessageBox("done"), IDOK);
    EXPECT_EQ(::MessageBox(nullptr, "q", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(::MessageBox(nullptr, "q", "c", MB_OKCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(::MessageBox(nullptr, "q", "c", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(::MessageBox(nullptr, "q", nullptr, MB_OK), IDOK);
    CWnd none;
    EXPECT_EQ(none.MessageBox("from a window"), IDOK);

    auto& log = MessageBoxLog();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0].text, "Could Not Read All Values\n    Retry?");
    EXPECT_EQ(log[0].caption, "Error");
    EXPECT_EQ(log[0].type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(log[0].answer, IDNO);
    EXPECT_EQ(log[1].caption, "Vistrel Test"); // AfxMessageBox: the application title
    EXPECT_EQ(log[1].type, 305u);
    EXPECT_EQ(log[6].caption, "Error");        // Win32 box without caption
    EXPECT_EQ(log[7].caption, "Vistrel Test"); // CWnd::MessageBox without caption
    EXPECT_EQ(log[7].text, "from a window");
}

TEST(MessageBox, WithoutHookARealBoxRunsAndMapsItsButtons)
{
    // An offscreen box, answered by pressing its default button.
    int answer = 0;
    QTimer::singleShot(50, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QCoreApplication::sendEvent(box->focusWidget() ? box->focusWidget() : box, &enter);
        }
    });
    answer = ::MessageBox(nullptr, "Really?", "Question", MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION);
    EXPECT_EQ(answer, IDNO);
}

TEST(MessageBox, ARealBoxIsWideEnoughForItsCaption)
{
    const struct {
        const char* text;
        const char* caption;
    } boxes[] = {
        {"Invalid Selection", "ERROR"},
        {"Done.", "A caption far longer than the text of its box"},
    };
    for (const auto& b : boxes) {
        int width = 0;
        QTimer::singleShot(0, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                width = box->width();
                QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Return);
            }
        });
        EXPECT_EQ(::MessageBox(nullptr, b.text, b.caption, MB_OK), IDOK);
        EXPECT_GE(width, mfc::CaptionWidth(b.caption)) << b.caption;
    }
}
