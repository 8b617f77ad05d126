#include "PrefwellApp.h"

#include "PrefwellDlg.h"
#include "resource.h"

CPrefwellApp::CPrefwellApp() : CWinApp("Prefwell") {}

BOOL CPrefwellApp::InitInstance()
{
    Enable3dControls();
    RegisterPrefwellResources();
    CPrefwellDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
