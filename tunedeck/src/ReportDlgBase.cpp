#include "ReportDlgBase.h"

#include <vector>

#include "FolderPicker.h"
#include "ReportFile.h"
#include "ReportWriter.h"
#include "resource.h"

namespace {

// Longest folder that "Browse" takes.
constexpr size_t kBrowsedMax = 127;

} // namespace

BEGIN_MESSAGE_MAP(CReportDlgBase, CDialog)
ON_BN_CLICKED(IDC_BROWSE, &CReportDlgBase::OnBrowse)
END_MESSAGE_MAP()

CReportDlgBase::CReportDlgBase(LPCTSTR templateName, CWnd* pParent) : CDialog(templateName, pParent) {}

BOOL CReportDlgBase::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetDlgItemText(IDC_REPORT_FOLDER, DefaultReportFolder().c_str());
    SetDlgItemText(IDC_REPORT_STATUS, "Idle");
    return TRUE;
}

CProgressCtrl* CReportDlgBase::Progress() { return static_cast<CProgressCtrl*>(GetDlgItem(IDC_REPORT_PROGRESS)); }

std::string CReportDlgBase::Folder()
{
    std::vector<char> text(CReportFile::kPathMax + 1, 0);
    GetDlgItemText(IDC_REPORT_FOLDER, text.data(), static_cast<int>(text.size()));
    return text.data();
}

void CReportDlgBase::SetRange(int steps)
{
    Progress()->SetRange32(0, steps);
    Progress()->SetStep(1);
    Progress()->SetPos(0);
}

void CReportDlgBase::Step(const char* text)
{
    SetDlgItemText(IDC_REPORT_STATUS, text);
    Progress()->StepIt();
}

void CReportDlgBase::ShowResult(int result)
{
    MessageBeep(MB_OK);
    const char* text = "Report Generation Error";
    if (result == 0)
        text = "Done";
    else if (result == CReportWriter::kUserAbort)
        text = "User Abort";
    SetDlgItemText(IDC_REPORT_STATUS, text);
}

void CReportDlgBase::OnBrowse()
{
    if (Busy())
        return;
    CFolderPicker picker;
    picker.SetWindowTitle("Select Save Directory");
    picker.SetInstruction(" ");
    picker.SetInitialFolder(Folder().c_str());
    if (picker.Browse(this) && picker.Path().size() <= kBrowsedMax)
        SetDlgItemText(IDC_REPORT_FOLDER, picker.Path().c_str());
}
