// Shared steps of the transmitter and receiver dialogs.
#include "BundleDlg.h"

#include <cstdio>

#include "DialogCommon.h"
#include "resource.h"

namespace {

constexpr int kBundleChars = 15;
constexpr int kSubMapChars = 2;
constexpr uint32_t kBundleMax = 65535;

} // namespace

BEGIN_MESSAGE_MAP(CBundleDlg, CDialog)
ON_BN_CLICKED(IDC_APPLY, &CBundleDlg::OnApply)
ON_BN_CLICKED(IDC_REFRESH, &CBundleDlg::OnRefresh)
END_MESSAGE_MAP()

CBundleDlg::CBundleDlg(LPCTSTR templateName, const LaunchBlock& block, int x, CWnd* pParent)
    : CDialog(templateName, pParent), m_block(block), m_mib(block.DeviceMib), m_x(x)
{}

BOOL CBundleDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    char title[64];
    std::snprintf(title, sizeof title, TitleFormat(), m_x + 1);
    SetWindowText(title);
    m_channels = m_mib ? ChannelCount() : 0;
    for (int y = 0; y < mib::kChannels; ++y) {
        auto* edit = static_cast<CEdit*>(GetDlgItem(IDC_SUBMAP_FIRST + y));
        edit->LimitText(kSubMapChars);
        edit->EnableWindow(y < m_channels);
        GetDlgItem(IDC_SUBFORMAT_FIRST + y)->EnableWindow(y < m_channels);
    }
    PrepareControls();
    if (!m_mib || !ReadWithRetry())
        EndDialog(IDCANCEL);
    return TRUE;
}

bool CBundleDlg::ReadWithRetry()
{
    CWaitCursor wait;
    return RetryLoop(*this, kReadRetryText, [this] { return ReadAll(); }) == 0;
}

int CBundleDlg::ReadBundleNumber()
{
    int32_t bundle = 0;
    const int result = m_mib->Get(BundleRow(), &bundle, m_x);
    if (result == 0)
        SetItemNumber(*this, IDC_BUNDLE_NUMBER, bundle);
    return result;
}

int CBundleDlg::ReadSubMap(int y, int row)
{
    int32_t value = 0;
    const int result = m_mib->Get(row, &value, m_x, y);
    if (result == 0)
        SetItemNumber(*this, IDC_SUBMAP_FIRST + y, value);
    return result;
}

bool CBundleDlg::ValidateAndStore()
{
    uint32_t bundle = 0;
    if (!GetItemNumber(*this, IDC_BUNDLE_NUMBER, kBundleChars, bundle) || bundle > kBundleMax) {
        MessageBox("Invalid Bundle Number", "Value Error", MB_OK | MB_ICONERROR);
        return false;
    }
    m_mib->Set(BundleRow(), static_cast<int32_t>(bundle), m_x);

    const int subMapRow = BundleRow() == mib::txBundle ? mib::txSubMap : mib::rxSubMap;
    for (int y = 0; y < m_channels; ++y) {
        uint32_t value = 0;
        if (!GetItemNumber(*this, IDC_SUBMAP_FIRST + y, kSubMapChars, value) || !SubMapAccepted(value)) {
            char text[64];
            std::snprintf(text, sizeof text, "Invalid Value : %s,Channel %d", "SubMap", y + 1);
            MessageBox(text, "Value Error", MB_OK | MB_ICONERROR);
            return false;
        }
        m_mib->Set(subMapRow, static_cast<int32_t>(value), m_x, y);
    }
    StoreOwnFields();
    return true;
}

int CBundleDlg::WriteWithRetry()
{
    CWaitCursor wait;
    return RetryLoop(*this, kWriteRetryText, [this] {
        const int result = m_mib->Write(BundleRow(), false, m_x);
        return result != 0 ? result : WriteBundleSettings();
    });
}

void CBundleDlg::OnApply()
{
    if (ValidateAndStore())
        WriteWithRetry();
}

void CBundleDlg::OnOK()
{
    if (ValidateAndStore() && WriteWithRetry() == 0)
        EndDialog(IDOK);
}

void CBundleDlg::OnRefresh()
{
    if (!ReadWithRetry())
        EndDialog(IDCANCEL);
}
