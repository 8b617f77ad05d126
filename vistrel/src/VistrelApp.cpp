#include "VistrelApp.h"

#include "ComFailure.h"
#include "IniFile.h"
#include "VistrelDlg.h"
#include "resource.h"

#include <scoutline/com/interfaces.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

// One box for every settings file that could not be written, after the last
// of the writes at the end (the options are written when the main dialog's
// object goes).
void ReportUnsavedSettings()
{
    std::map<std::string, std::vector<std::string>> reasons; // per file, each reason once
    for (const IniWriteFailure& failure : TakeIniWriteFailures()) {
        auto& list = reasons[failure.path];
        if (std::find(list.begin(), list.end(), failure.reason) == list.end())
            list.push_back(failure.reason);
    }
    for (const auto& [path, list] : reasons) {
        std::string text = "Settings could not be saved in " + path + ".";
        for (const std::string& reason : list)
            text += "\n" + reason;
        AfxMessageBox(text.c_str(), MB_OK | MB_ICONEXCLAMATION);
    }
}

} // namespace

BEGIN_MESSAGE_MAP(CVistrelApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CVistrelApp::CVistrelApp() : CWinApp("Vistrel")
{
    const std::string logPath = GetProgramDirectory() + "vistrel.log";
    if (ReadIniInt("Configuration", "veltrixmon log", 0))
        ConsoleLog().file_name = logPath;
    CoInitialize(nullptr);
}

CVistrelApp::~CVistrelApp() { CoUninitialize(); }

BOOL CVistrelApp::InitInstance()
{
    AfxEnableControlContainer();
    Enable3dControlsStatic();
    LoadResources();
    {
        CVistrelDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }
    ReportUnsavedSettings();
    return FALSE;
}

void CVistrelApp::LoadResources()
{
    RegisterVistrelVersion();
    RegisterVistrelResources();
    scoutline::register_interface_tables();
    accelerators = LoadAcceleratorsA(AfxGetInstanceHandle(), MAKEINTRESOURCE(IDR_ACCELERATORS));
}

BOOL CVistrelApp::ProcessMessageFilter(int code, LPMSG message)
{
    if (code >= 0 && m_pMainWnd && accelerators &&
        TranslateAcceleratorA(m_pMainWnd->GetSafeHwnd(), accelerators, message))
        return TRUE;
    return CWinApp::ProcessMessageFilter(code, message);
}

void RegisterVistrelVersion()
{
    static const VX_VERSION_STRING strings[] = {
        {"InternalName", "Vistrel"},
        {"ProductVersion", "1.0"},
        {"SpecialBuild", ""},
        {"LegalCopyright", "Copyright (C) Quillon"},
        {"Comments", "Veltrix network management console"},
        {"FileDescription", "Veltrix(tm) Discovery"},
    };
    vx_set_version_info(1, 0, 0, 0, strings, sizeof strings / sizeof strings[0]);
}
