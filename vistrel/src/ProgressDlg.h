// The progress dialog of one firmware job: its status text and percentage,
// polled every 100 ms, and a Cancel that asks the job to cancel. It closes
// by itself on the fifth tick that finds the job finished.
#pragma once

#include <afxcmn.h>

#include <flashkit/flashkit_com.h>

#include <memory>
#include <string>

class CProgressDlg : public CDialog {
public:
    // The job stays the caller's; the dialog only polls it.
    CProgressDlg(std::string title, Ijob* job, CWnd* parent = nullptr);
    ~CProgressDlg() override;

    BOOL OnInitDialog() override;
    // Enter does not close the dialog: only the job's end does.
    void OnOK() override;
    // The button, Esc and the close box: disable Cancel and ask the job to
    // cancel; the dialog stays until the job has ended.
    void OnCancel() override;

protected:
    afx_msg void OnTimer(UINT_PTR id);

private:
    void Tick();

    std::string title;
    Ijob* job;
    UINT_PTR timer = 0;
    std::unique_ptr<CAnimateCtrl> animation;
    int finishedTicks = 0;

    DECLARE_MESSAGE_MAP()
};
