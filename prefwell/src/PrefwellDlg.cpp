#include "PrefwellDlg.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"

#include <win32/registry.h>

namespace {

// Feature check boxes in the order they are shown.
const struct {
    int id;
    int bit;
} kSwitchBoxes[] = {
    {IDC_ENABLE_CONFIG, SWITCH_CONFIG},     {IDC_ENABLE_SNMP, SWITCH_SNMP}, {IDC_ENABLE_REPORT, SWITCH_REPORT},
    {IDC_ENABLE_ADVANCED, SWITCH_ADVANCED}, {IDC_ENABLE_23MS, SWITCH_23MS},
};

void SetDlgItemNumber(CWnd& dlg, int id, int value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    dlg.SetDlgItemText(id, text);
}

int GetDlgItemNumber(const CWnd& dlg, int id)
{
    char text[8]; // up to 7 characters
    dlg.GetDlgItemText(id, text, sizeof text);
    return atoi(text);
}

// Lines of the settings file that could not be read are kept in it as they
// stand; the user is told once which they are, so they can be mended.
void ShowRegistryNotices(CWnd& dlg)
{
    static size_t shown = 0;
    const std::vector<std::string> notices = vx_registry_notices();
    if (notices.size() <= shown)
        return;
    std::string text = "Some lines of the settings file could not be read. They are kept as they stand:";
    for (size_t i = shown; i < notices.size(); ++i)
        text += "\n" + notices[i];
    shown = notices.size();
    dlg.MessageBox(text.c_str(), "Warning", MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

BEGIN_MESSAGE_MAP(CPrefwellDlg, CDialog)
ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CPrefwellDlg::CPrefwellDlg(CWnd* pParent)
    : CDialog(IDD_PREFWELL_DIALOG, pParent),
      m_hIcon(::LoadIcon(AfxGetInstanceHandle(), MAKEINTRESOURCE(IDR_MAINFRAME))),
      m_settings(new CRegSettings), m_values{}
{}

// The icon is a shared resource icon: not destroyed.
CPrefwellDlg::~CPrefwellDlg() { delete m_settings; }

BOOL CPrefwellDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    SendDlgItemMessage(IDC_READ_COMMUNITY, EM_LIMITTEXT, REG_COMMUNITY_MAX);
    SendDlgItemMessage(IDC_WRITE_COMMUNITY, EM_LIMITTEXT, REG_COMMUNITY_MAX);
    SendDlgItemMessage(IDC_TIMEOUT, EM_LIMITTEXT, 5);
    SendDlgItemMessage(IDC_RETRIES, EM_LIMITTEXT, 5);
    SendDlgItemMessage(IDC_HOLDOFF, EM_LIMITTEXT, 5);

    LoadValues();
    for (const auto& box : kSwitchBoxes)
        if (m_values.SwitchMask & box.bit)
            GetDlgItem(box.id)->ShowWindow(SW_SHOW);
    ShowValues();
    ShowRegistryNotices(*this);
    return TRUE;
}

void CPrefwellDlg::LoadValues()
{
    // A failed load leaves the defaults in the store; a missing key is created
    // so that the first save can succeed.
    if (m_settings->Load() == REGERR_OPEN)
        m_settings->CreateKey();
    memset(&m_values, 0, sizeof m_values);
    m_values.Retries = m_settings->GetRetries();
    m_values.Timeout = m_settings->GetTimeout();
    m_values.Delay = m_settings->GetDelay();
    m_values.Switches = m_settings->GetSwitches();
    m_values.SwitchMask = m_settings->GetSwitchMask();
    m_settings->GetReadCommunity(m_values.readCommunity, sizeof m_values.readCommunity);
    m_settings->GetWriteCommunity(m_values.writeCommunity, sizeof m_values.writeCommunity);
}

void CPrefwellDlg::ShowValues()
{
    SetDlgItemText(IDC_READ_COMMUNITY, m_values.readCommunity);
    SetDlgItemText(IDC_WRITE_COMMUNITY, m_values.writeCommunity);
    SetDlgItemNumber(*this, IDC_RETRIES, m_values.Retries);
    int timeout = m_values.Timeout;
    CheckTimeout(timeout);
    SetDlgItemNumber(*this, IDC_TIMEOUT, timeout);
    SetDlgItemNumber(*this, IDC_HOLDOFF, m_values.Delay);
    for (const auto& box : kSwitchBoxes)
        if (m_values.Switches & box.bit)
            CheckDlgButton(box.id, BST_CHECKED);
}

void CPrefwellDlg::ReadValues()
{
    GetDlgItemText(IDC_READ_COMMUNITY, m_values.readCommunity, sizeof m_values.readCommunity);
    GetDlgItemText(IDC_WRITE_COMMUNITY, m_values.writeCommunity, sizeof m_values.writeCommunity);
    m_values.Retries = GetDlgItemNumber(*this, IDC_RETRIES);
    m_values.Timeout = GetDlgItemNumber(*this, IDC_TIMEOUT);
    m_values.Delay = GetDlgItemNumber(*this, IDC_HOLDOFF);

    if (CheckTimeout(m_values.Timeout)) {
        char text[64];
        snprintf(text, sizeof text, "Timeout value is invalid\nChanged to %d", m_values.Timeout);
        MessageBox(text, "Warning", MB_OK);
    }
    SetDlgItemNumber(*this, IDC_TIMEOUT, m_values.Timeout);

    // Hidden boxes still hold the loaded bits; bits without a box are kept.
    for (const auto& box : kSwitchBoxes) {
        if (IsDlgButtonChecked(box.id) == BST_CHECKED)
            m_values.Switches |= box.bit;
        else
            m_values.Switches &= ~box.bit;
    }
}

void CPrefwellDlg::OnOK()
{
    ReadValues();
    m_settings->SetRetries(m_values.Retries);
    m_settings->SetTimeout(m_values.Timeout);
    m_settings->SetDelay(m_values.Delay);
    m_settings->SetSwitches(m_values.Switches);
    m_settings->SetReadCommunity(m_values.readCommunity);
    m_settings->SetWriteCommunity(m_values.writeCommunity);
    if (m_settings->Save() != 0)
        MessageBox("Registry Write Unsuccessful", "Error", MB_OK);
    CDialog::OnOK();
}

BOOL CPrefwellDlg::CheckTimeout(int& value)
{
    if (value < 0) {
        value = 1000;
        return TRUE;
    }
    long long rounded = (static_cast<long long>(value) + 5) / 10 * 10;
    if (rounded > INT_MAX)
        rounded -= 10; // the largest multiple of 10 that fits
    if (rounded >= 150) {
        value = static_cast<int>(rounded);
        return FALSE;
    }
    value = 150;
    return TRUE;
}

HCURSOR CPrefwellDlg::OnQueryDragIcon() { return m_hIcon; }
