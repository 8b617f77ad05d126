#include "ProgressDlg.h"

#include "ComFailure.h"
#include "FirmwareResource.h"
#include "ServerCalls.h"
#include "resource.h"

namespace {

const UINT_PTR progress_timer = 2;

} // namespace

BEGIN_MESSAGE_MAP(CProgressDlg, CDialog)
ON_WM_TIMER()
END_MESSAGE_MAP()

CProgressDlg::CProgressDlg(std::string title, Ijob* job, CWnd* parent)
    : CDialog(IDD_FIRMWARE_PROGRESS, parent), title(std::move(title)), job(job)
{}

CProgressDlg::~CProgressDlg()
{
    if (timer && GetSafeHwnd())
        KillTimer(progress_timer);
    animation.reset();
}

BOOL CProgressDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(title.c_str());
    static_cast<CProgressCtrl*>(GetDlgItem(IDC_PROGRESS_BAR))->SetRange(0, 100);
    timer = SetTimer(progress_timer, 100);
    animation = std::make_unique<CAnimateCtrl>();
    animation->Create(WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY, CRect(5, 5, 93, 77), this, IDC_ANIMATION);
    animation->Open(IDR_ANIMATION);
    return TRUE;
}

void CProgressDlg::OnTimer(UINT_PTR id)
{
    if (id != progress_timer) {
        CDialog::OnTimer(id);
        return;
    }
    if (FatalErrorInProgress())
        return;
    try {
        Tick();
    } catch (const _com_error& e) {
        ReportComError(e, "COM Flashkit access error(progress).");
    }
}

void CProgressDlg::Tick()
{
    long done = 0;
    CheckCall(job->get_done(&done), job);
    if (done != 0 && finishedTicks++ == 4) {
        KillTimer(progress_timer);
        timer = 0;
        EndDialog(IDOK);
        return;
    }
    if (GetDlgItem(IDCANCEL)->IsWindowEnabled()) {
        BSTR status = nullptr;
        CheckCall(job->get_status(&status), job);
        SetDlgItemText(IDC_PROGRESS_STATUS, TakeText(status).c_str());
        double percent = 0;
        CheckCall(job->get_percent(&percent), job);
        // Truncated; a value outside the bar's range (or not a number) is held at its ends.
        const int position = percent >= 0 ? (percent <= 100 ? static_cast<int>(percent) : 100) : 0;
        static_cast<CProgressCtrl*>(GetDlgItem(IDC_PROGRESS_BAR))->SetPos(position);
    } else {
        SetDlgItemText(IDC_PROGRESS_STATUS, "Canceling . . .");
    }
}

void CProgressDlg::OnOK() {}

void CProgressDlg::OnCancel()
{
    GetDlgItem(IDCANCEL)->EnableWindow(FALSE);
    try {
        CheckCall(job->cancel(), job);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Flashkit access error(progress).");
    }
}
