// Window timers: they keep firing while a nested modal dialog or a message box
// runs, ids replace each other, periods are clamped, and they die with the
// window.
#include <QElapsedTimer>

#include "qt_app.h"

namespace {
enum { IDD_MAIN = 600, IDD_CHILD = 601 };

void Templates()
{
    mfc::DlgTemplate t;
    t.caption = "Timers";
    t.cx = 100;
    t.cy = 50;
    t.items = {DefPushButton("OK", IDOK, 5, 5, 40, 14)};
    mfc::RegisterDialogTemplate(IDD_MAIN, t);
    t.caption = "Child";
    mfc::RegisterDialogTemplate(IDD_CHILD, t);
}

class TimerDlg : public CDialog {
public:
    explicit TimerDlg(UINT id = IDD_MAIN) : CDialog(id) { Templates(); }
    std::map<UINT_PTR, int> ticks;
    std::function<void(UINT_PTR)> onTick;

protected:
    afx_msg void OnTimer(UINT_PTR id)
    {
        ++ticks[id];
        if (onTick)
            onTick(id);
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TimerDlg, CDialog)
ON_WM_TIMER()
END_MESSAGE_MAP()
} // namespace

TEST(Timers, KeepFiringUnderNestedModalDialog)
{
    mfc::test::ScopedHooks hooks;
    TimerDlg main;
    TimerDlg child(IDD_CHILD);
    int mainTicksInChild = 0;
    bool ended = false;
    mfc::test::ScriptModal(IDD_MAIN, [&](CDialog& d) {
        EXPECT_EQ(d.SetTimer(1, 20), 1u);
        EXPECT_EQ(child.DoModal(), 3);
        d.EndDialog(IDOK);
    });
    mfc::test::ScriptModal(IDD_CHILD, [&](CDialog& d) {
        d.SetTimer(2, 20);
        int before = main.ticks[1];
        child.onTick = [&, before](UINT_PTR id) {
            if (id != 2)
                return;
            mainTicksInChild = main.ticks[1] - before;
            if (mainTicksInChild >= 3 && !ended) {
                ended = true;
                child.KillTimer(2);
                d.EndDialog(3);
            }
        };
    });
    EXPECT_EQ(main.DoModal(), IDOK);
    EXPECT_GE(mainTicksInChild, 3);
}

TEST(Timers, SameIdReplacesPeriodIsClampedKillStopsAndWindowEndStopsAll)
{
    mfc::test::ScopedHooks hooks;
    TimerDlg dlg;
    mfc::test::ScriptModal(IDD_MAIN, [&](CDialog& d) {
        d.SetTimer(5, 100000);
        d.SetTimer(5, 0); // replaces the first; 0 ms becomes the 10 ms minimum
        d.SetTimer(6, 15);
        EXPECT_FALSE(d.KillTimer(99));
        // Ticks come at most once per 10 ms (not a busy loop); a loaded
        // machine only makes them fewer, so they are waited for.
        QElapsedTimer t;
        t.start();
        while (dlg.ticks[5] < 3 && t.elapsed() < 30000)
            mfc::test::Pump(20);
        const int five = dlg.ticks[5];
        EXPECT_GE(five, 3);
        EXPECT_LE(five, t.elapsed() / 10 + 1) << t.elapsed() << " ms";
        EXPECT_TRUE(d.KillTimer(6));
        int six = dlg.ticks[6];
        mfc::test::Pump(60);
        EXPECT_EQ(dlg.ticks[6], six);
        d.EndDialog(IDOK);
    });
    dlg.DoModal();
    int after = dlg.ticks[5];
    mfc::test::Pump(60);
    EXPECT_EQ(dlg.ticks[5], after);
    EXPECT_EQ(dlg.SetTimer(1, 10), 0u); // no window any more
}

TEST(Timers, TimerKeepsRunningWhileAMessageBoxIsUp)
{
    // With no hook the box is real: a timer in the dialog closes it.
    TimerDlg dlg;
    int ticksDuringBox = 0;
    int answer = 0;
    mfc::test::ScriptModal(IDD_MAIN, [&](CDialog& d) {
        d.SetTimer(1, 15);
        dlg.onTick = [&](UINT_PTR) {
            ++ticksDuringBox;
            if (ticksDuringBox == 3) {
                if (QWidget* box = QApplication::activeModalWidget()) {
                    QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
                }
            }
        };
        answer = d.MessageBox("Waiting", "Box", MB_OKCANCEL);
        dlg.onTick = nullptr;
        d.EndDialog(IDOK);
    });
    dlg.DoModal();
    EXPECT_GE(ticksDuringBox, 3);
    EXPECT_EQ(answer, IDCANCEL);
}
