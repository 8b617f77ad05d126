// CSaveReportsDlg: writes one report file per device of the console's
// selection (or of its whole table) into a chosen folder. The reports are
// written by the report worker; its progress reaches the dialog's controls
// on the GUI thread. "Exit" during a run stops the run and keeps the dialog
// open until it has ended.
#pragma once

#include <deque>
#include <mutex>
#include <string>

#include <tunedeck/LaunchBlock.h>

#include "ReportDlgBase.h"
#include "ReportWorker.h"

class CSaveReportsDlg : public CReportDlgBase, private CReportWorker::Sink {
public:
    explicit CSaveReportsDlg(CWnd* pParent = nullptr);
    ~CSaveReportsDlg() override;

    // The callbacks and settings of the launch block, and its all-devices flag.
    void SetBlock(const LaunchBlock& block);
    // Starts the worker; 0 or LAUNCH_LOAD_FAILED.
    int StartWorker() { return m_worker.Start(); }
    CReportWorker& Worker() { return m_worker; }
    bool Busy() const override { return m_busy; }

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

protected:
    afx_msg void OnWrite();
    afx_msg LRESULT OnReportEvent(WPARAM, LPARAM);
    afx_msg void OnDestroy();

private:
    struct Event {
        enum Kind { RANGE, STEP, FINISHED } kind = FINISHED;
        int value = 0;
        std::string text;
    };
    // Called on the worker thread: queued for the GUI thread.
    void OnRange(int steps) override { Post({Event::RANGE, steps, {}}); }
    void OnProgress(const char* text) override { Post({Event::STEP, 0, text}); }
    void OnFinished(int result) override { Post({Event::FINISHED, result, {}}); }
    void Post(Event event);

    bool m_busy = false; // GUI thread only
    bool m_allDevices = false;
    std::mutex m_eventLock;
    std::deque<Event> m_events;
    HWND m_window = nullptr; // under m_eventLock: where the events go
    CReportWorker m_worker;  // last: stopped before the queue goes

    DECLARE_MESSAGE_MAP()
};
