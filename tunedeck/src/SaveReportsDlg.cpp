// The Save Reports dialog.
#include "SaveReportsDlg.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include "resource.h"

namespace {

const UINT WM_REPORT_EVENT = WM_APP + 1;

// Serves, on the GUI thread, the calls that other threads wait for there:
// their SendMessage and list view calls, queued to the application object.
void ServeSentMessages()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        QCoreApplication::sendPostedEvents(app, QEvent::MetaCall);
}

} // namespace

BEGIN_MESSAGE_MAP(CSaveReportsDlg, CReportDlgBase)
ON_BN_CLICKED(IDC_WRITE, &CSaveReportsDlg::OnWrite)
ON_MESSAGE(WM_REPORT_EVENT, &CSaveReportsDlg::OnReportEvent)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CSaveReportsDlg::CSaveReportsDlg(CWnd* pParent) : CReportDlgBase(IDD_SAVE_REPORTS, pParent), m_worker(*this)
{
    RegisterTunedeckResources();
    // The worker's selection callbacks read the console's list through the
    // GUI thread; a stop there (the dialog going) serves them while it waits.
    m_worker.SetWaitService(ServeSentMessages);
}

CSaveReportsDlg::~CSaveReportsDlg() { m_worker.Stop(); }

void CSaveReportsDlg::SetBlock(const LaunchBlock& block)
{
    m_worker.TakeSettings(block);
    m_allDevices = block.AllDevices == 1;
}

BOOL CSaveReportsDlg::OnInitDialog()
{
    CReportDlgBase::OnInitDialog();
    CheckDlgButton(IDC_REPORT_ALL, m_allDevices ? BST_CHECKED : BST_UNCHECKED);
    std::lock_guard<std::mutex> hold(m_eventLock);
    m_window = GetSafeHwnd();
    return TRUE;
}

void CSaveReportsDlg::OnDestroy()
{
    {
        std::lock_guard<std::mutex> hold(m_eventLock);
        m_window = nullptr;
        m_events.clear();
    }
    CReportDlgBase::OnDestroy();
}

void CSaveReportsDlg::OnOK()
{
    // Enter writes nothing: "Write" does.
}

void CSaveReportsDlg::OnCancel()
{
    if (m_busy) {
        m_worker.Abort();
        return;
    }
    CReportDlgBase::OnCancel();
}

void CSaveReportsDlg::OnWrite()
{
    if (m_busy || !m_worker.Running())
        return;
    m_allDevices = IsDlgButtonChecked(IDC_REPORT_ALL) == BST_CHECKED;
    m_busy = true;
    m_worker.Run(Folder(), m_allDevices);
}

void CSaveReportsDlg::Post(Event event)
{
    HWND window = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_eventLock);
        if (!m_window)
            return;
        m_events.push_back(std::move(event));
        window = m_window;
    }
    // Posted without the lock: a window gone meanwhile takes no message.
    ::PostMessage(window, WM_REPORT_EVENT, 0, 0);
}

LRESULT CSaveReportsDlg::OnReportEvent(WPARAM, LPARAM)
{
    for (;;) {
        Event event;
        {
            std::lock_guard<std::mutex> hold(m_eventLock);
            if (m_events.empty())
                return 0;
            event = std::move(m_events.front());
            m_events.pop_front();
        }
        switch (event.kind) {
        case Event::RANGE:
            SetRange(event.value);
            break;
        case Event::STEP:
            Step(event.text.c_str());
            break;
        case Event::FINISHED:
            ShowResult(event.value);
            m_busy = false;
            break;
        }
    }
}
