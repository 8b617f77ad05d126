// The Save Report dialog of the main device dialog.
#include "SaveReportDlg.h"

#include <cstring>
#include <string>
#include <vector>

#include "DeviceMib.h"
#include "ReportFile.h"
#include "ReportWorker.h"
#include "resource.h"

namespace {

// sysName texts this long or longer do not name the file.
constexpr size_t kNameLimit = 260;

} // namespace

BEGIN_MESSAGE_MAP(CSaveReportDlg, CReportDlgBase)
ON_BN_CLICKED(IDC_WRITE, &CSaveReportDlg::OnWrite)
END_MESSAGE_MAP()

CSaveReportDlg::CSaveReportDlg(const LaunchBlock& block, CWnd* pParent)
    : CReportDlgBase(IDD_SAVE_REPORT, pParent), m_block(block)
{}

BOOL CSaveReportDlg::OnInitDialog()
{
    CReportDlgBase::OnInitDialog();
    const char* sysName = nullptr;
    std::string name = m_block.MacAddress ? m_block.MacAddress : "";
    if (m_block.DeviceMib && m_block.DeviceMib->Get(mib::sysName, &sysName) == 0 && sysName[0] &&
        strnlen(sysName, kNameLimit) < kNameLimit && sysName[0] != ' ') {
        // Only a name inside the chosen folder.
        const std::string safe = SafeFileName(sysName);
        if (!safe.empty())
            name = safe;
    }
    SetDlgItemText(IDC_REPORT_FILE, (name + ".csv").c_str());
    return TRUE;
}

void CSaveReportDlg::OnWrite()
{
    std::vector<char> file(CReportWriter::kTextMax + 2, 0);
    GetDlgItemText(IDC_REPORT_FILE, file.data(), static_cast<int>(file.size()));
    SetRange(CReportWorker::kStepsPerDevice);
    m_writer.SetIpAddress(m_block.IpAddress);
    m_writer.SetFolder(Folder().c_str());
    m_writer.SetFileName(file.data());
    m_writer.SetModel(m_block.DeviceMib);
    m_writer.SetProgress([this](const char* text) { Step(text); });
    CWaitCursor wait;
    ShowResult(m_writer.WriteReport(0));
}
