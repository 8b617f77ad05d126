// The advanced dialog.
#include "AdvancedDlg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DialogCommon.h"
#include "NumberText.h"
#include "SubFormat.h"
#include "resource.h"

using namespace mib;

namespace {

constexpr int kTextChars = 60;
constexpr int kPriorityChars = 3;
constexpr int kFormatChars = 4;
constexpr int kBaudChars = 6;
constexpr int kPeriodChars = 5;
constexpr int kMacChars = 17;
constexpr int kModeChars = 2; // Proc Mode and TagEnable: their first characters
constexpr uint32_t kPriorityLimit = 256;
constexpr uint32_t kFormatStored = 32;
constexpr uint32_t kBaudLimit = 115201;
constexpr uint32_t kOverloaded = 0xFFFF0000u;

const char kUpdateRetryText[] = "Could Not Update Values\n    Retry?";
const char kNotAvailable[] = "N.A.";

// The first five digits of the value's decimal form.
int PlatformOf(int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    text[5] = 0;
    return std::atoi(text);
}

} // namespace

BEGIN_MESSAGE_MAP(CAdvancedDlg, CDialog)
ON_BN_CLICKED(IDC_APPLY, &CAdvancedDlg::OnApply)
ON_BN_CLICKED(IDC_REFRESH, &CAdvancedDlg::OnRefresh)
END_MESSAGE_MAP()

CAdvancedDlg::CAdvancedDlg(const LaunchBlock& block, CWnd* pParent)
    : CDialog(IDD_ADVANCED, pParent), m_block(block), m_mib(block.DeviceMib)
{}

CComboBox* CAdvancedDlg::RateCombo() { return static_cast<CComboBox*>(GetDlgItem(IDC_MODE_RATE)); }

BOOL CAdvancedDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_mib) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    CWaitCursor wait;
    int32_t value = 0;
    m_platform = m_mib->Get(firmwareHardwarePlatform, &value) == 0 ? PlatformOf(value) : 0;
    if (m_mib->Get(modeRateControl, &value) != 0) {
        MessageBox("Could Not Initialize Advanced Dialog", "Error", MB_OK | MB_ICONERROR);
        EndDialog(IDCANCEL);
        return TRUE;
    }
    // Writing the current rate back tells whether the device lets it change.
    m_rateWritable = m_mib->Write(modeRateControl, true) == 0;
    m_offered = m_block.Switches & LAUNCH_SWITCH_23MS ? kModeRateCount : kModeRateBasic;

    const struct {
        int id, chars;
    } limits[] = {{IDC_NAME, kTextChars},
                  {IDC_LOCATION, kTextChars},
                  {IDC_CONTACT, kTextChars},
                  {IDC_COND_PRIORITY, kPriorityChars},
                  {IDC_SERIAL_FORMAT, kFormatChars},
                  {IDC_SERIAL_BAUD, kBaudChars},
                  {IDC_SERIAL_PPERIOD, kPeriodChars},
                  {IDC_SERIAL_RXMAC, kMacChars},
                  {IDC_SERIAL_TXMAC, kMacChars}};
    for (const auto& l : limits)
        static_cast<CEdit*>(GetDlgItem(l.id))->LimitText(l.chars);
    if (!ReadWithRetry())
        EndDialog(IDCANCEL);
    return TRUE;
}

int CAdvancedDlg::RatePosition(int32_t code) const
{
    for (int i = 0; i < m_offered; ++i)
        if (kModeRates[i].code == code)
            return i;
    return -1;
}

bool CAdvancedDlg::ReadWithRetry()
{
    CWaitCursor wait;
    return RetryLoop(*this, kUpdateRetryText, [this] { return ReadAll(); }) == 0;
}

int CAdvancedDlg::ReadText(int row, int id)
{
    const char* text = nullptr;
    const int result = m_mib->Get(row, &text);
    if (result == 0)
        SetDlgItemText(id, text);
    return result;
}

int CAdvancedDlg::ReadMac(int row, int id)
{
    const unsigned char* octets = nullptr;
    const int result = m_mib->Get(row, &octets);
    if (result == 0) {
        const unsigned char* b = octets + 2;
        char text[24];
        std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
        SetDlgItemText(id, text);
    }
    return result;
}

int CAdvancedDlg::ReadOptional(int row, int id, bool& available)
{
    char text[32] = {};
    int result = 0;
    if (row == ipAdEntNetMask) {
        const unsigned char* octets = nullptr;
        result = m_mib->Get(row, &octets);
        if (result == 0)
            std::snprintf(text, sizeof text, "%d.%d.%d.%d", octets[2], octets[3], octets[4], octets[5]);
    } else {
        int32_t value = 0;
        result = m_mib->Get(row, &value, 0, 0);
        if (result == 0) {
            if (row == miMonHMIMode)
                std::snprintf(text, sizeof text, "%s", value == 1 ? "Intel" : "Motorola");
            else if (row == firmwareFreeCycles && static_cast<uint32_t>(value) >= kOverloaded)
                std::snprintf(text, sizeof text, "Overloaded");
            else if (row == firmwareFreeCycles)
                std::snprintf(text, sizeof text, "%d.%d%%", value / 10, value % 10);
            else
                std::snprintf(text, sizeof text, "%d", value);
        }
    }
    if (result != 0 && result != SNMPS_NOT_AVAILABLE)
        return result;
    available = result == 0;
    if (!available) {
        m_mib->MarkNotAvailable(row, true);
        std::snprintf(text, sizeof text, "%s", kNotAvailable);
    }
    SetDlgItemText(id, text);
    const bool editable = available && (id == IDC_PROC_MODE || id == IDC_TAG_ENABLE);
    static_cast<CEdit*>(GetDlgItem(id))->SetReadOnly(!editable);
    return 0;
}

int CAdvancedDlg::ReadAll()
{
    for (int row : {flashPersistEnable, sysName, sysLocation, sysContact, condPriority, serialFormat, serialBaud,
                    serialPPeriod, serialRxMAC, serialTxMAC, modeRateControl, procMode, miMonHMIMode, procGroup,
                    ipAdEntNetMask, firmwareFreeCycles})
        m_mib->MarkValid(row, false);

    int32_t value = 0;
    int result = m_mib->Get(flashPersistEnable, &value);
    if (result != 0 && result != SNMPS_NOT_AVAILABLE)
        return result;
    m_persistence = result == 0;
    GetDlgItem(IDC_PERSISTENCE)->EnableWindow(m_persistence);
    CheckDlgButton(IDC_PERSISTENCE, m_persistence && value ? BST_CHECKED : BST_UNCHECKED);

    if ((result = ReadText(sysName, IDC_NAME)) != 0 || (result = ReadText(sysLocation, IDC_LOCATION)) != 0 ||
        (result = ReadText(sysContact, IDC_CONTACT)) != 0)
        return result;
    if ((result = m_mib->Get(condPriority, &value)) != 0)
        return result;
    SetItemNumber(*this, IDC_COND_PRIORITY, value);
    if ((result = m_mib->Get(serialFormat, &value)) != 0)
        return result;
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    SetDlgItemText(IDC_SERIAL_FORMAT, text);
    if ((result = m_mib->Get(serialBaud, &value)) != 0)
        return result;
    SetItemNumber(*this, IDC_SERIAL_BAUD, value);
    if ((result = m_mib->Get(serialPPeriod, &value)) != 0)
        return result;
    SetItemNumber(*this, IDC_SERIAL_PPERIOD, value);
    if ((result = ReadMac(serialRxMAC, IDC_SERIAL_RXMAC)) != 0 ||
        (result = ReadMac(serialTxMAC, IDC_SERIAL_TXMAC)) != 0)
        return result;

    bool replaced = false;
    CComboBox* combo = RateCombo();
    combo->ResetContent();
    for (int i = 0; i < m_offered; ++i)
        combo->AddString(kModeRates[i].text);
    result = m_mib->Get(modeRateControl, &value);
    m_rateMissing = result == SNMPS_NOT_AVAILABLE;
    if (m_rateMissing) {
        combo->SetCurSel(combo->AddString(kNotAvailable));
    } else if (result != 0) {
        return result;
    } else {
        int position = RatePosition(value);
        if (position < 0 || (Is96k(value) && Is48kOnly(m_platform))) {
            position = 0;
            replaced = true;
        }
        combo->SetCurSel(position);
    }
    combo->EnableWindow(m_rateWritable && !m_rateMissing);

    const struct {
        int row, id;
        bool& available;
    } optional[] = {{procMode, IDC_PROC_MODE, m_procMode},
                    {miMonHMIMode, IDC_HMI_MODE, m_hmiMode},
                    {procGroup, IDC_TAG_ENABLE, m_tagMode},
                    {ipAdEntNetMask, IDC_NETMASK, m_netMask},
                    {firmwareFreeCycles, IDC_FREE_CYCLES, m_freeCycles}};
    for (const auto& o : optional)
        if ((result = ReadOptional(o.row, o.id, o.available)) != 0)
            return result;

    if (replaced)
        MessageBox(kDefaultsChangedText, "Warning!", MB_OK | MB_ICONWARNING);
    return 0;
}

bool CAdvancedDlg::Invalid(int id, const char* text)
{
    MessageBox(text, "Error", MB_OK | MB_ICONERROR);
    GotoDlgCtrl(GetDlgItem(id));
    return false;
}

bool CAdvancedDlg::ValidateAndStore()
{
    // Nothing is written here: every field is checked, and stored in the
    // cache, before the write sends anything.
    m_newRate.reset();
    if (m_persistence)
        m_mib->Set(flashPersistEnable, IsDlgButtonChecked(IDC_PERSISTENCE) == BST_CHECKED ? 1 : 0);
    for (const auto& [row, id] :
         {std::pair{sysName, IDC_NAME}, {sysLocation, IDC_LOCATION}, {sysContact, IDC_CONTACT}}) {
        char text[kTextChars + 1] = {};
        GetDlgItemText(id, text, sizeof text);
        m_mib->Set(row, text);
    }

    uint32_t number = 0;
    if (!GetItemNumber(*this, IDC_COND_PRIORITY, kPriorityChars, number) || number >= kPriorityLimit)
        return Invalid(IDC_COND_PRIORITY, "Invalid Conductor Priority Value");
    m_mib->Set(condPriority, static_cast<int32_t>(number));
    if (!GetItemNumber(*this, IDC_SERIAL_FORMAT, kFormatChars, number))
        return Invalid(IDC_SERIAL_FORMAT, "Invalid Serial Format Value");
    if (number < kFormatStored)
        m_mib->Set(serialFormat, static_cast<int32_t>(number));
    if (!GetItemNumber(*this, IDC_SERIAL_BAUD, kBaudChars, number) || number >= kBaudLimit)
        return Invalid(IDC_SERIAL_BAUD, "Invalid Baud Value");
    m_mib->Set(serialBaud, static_cast<int32_t>(number));
    if (!GetItemNumber(*this, IDC_SERIAL_PPERIOD, kPeriodChars, number))
        return Invalid(IDC_SERIAL_PPERIOD, "Invalid Serial PPeriod Value");
    m_mib->Set(serialPPeriod, static_cast<int32_t>(number));

    const struct {
        int row, id;
        const char* message;
    } macs[] = {{serialRxMAC, IDC_SERIAL_RXMAC, "Invalid Rx MAC format\nExample: 01:60:2B:FD:00:00"},
                {serialTxMAC, IDC_SERIAL_TXMAC, "Invalid Tx MAC format\nExample: 01:60:2B:FD:00:00"}};
    for (const auto& m : macs) {
        char text[kMacChars + 1] = {};
        GetDlgItemText(m.id, text, sizeof text);
        unsigned char octets[8] = {6, 0};
        if (!ParseMac(text, octets + 2))
            return Invalid(m.id, m.message);
        m_mib->Set(m.row, octets);
    }

    std::optional<int32_t> newRate;
    if (m_rateWritable && !m_rateMissing) {
        int32_t current = 0;
        if (m_mib->Get(modeRateControl, &current) != 0)
            return Invalid(IDC_MODE_RATE, "Read Error");
        const int position = RateCombo()->GetCurSel();
        if (position >= 0 && position < m_offered) {
            const int32_t chosen = kModeRates[position].code;
            if (Is96k(chosen) && Is48kOnly(m_platform)) {
                const int shown = RatePosition(current);
                RateCombo()->SetCurSel(shown >= 0 ? shown : 0);
                return Invalid(IDC_MODE_RATE, "Invalid Mode Rate Value");
            }
            if (chosen != current)
                newRate = chosen;
        }
    }

    const struct {
        bool available;
        int row, id;
        uint32_t low, high;
        const char* message;
    } modes[] = {{m_procMode, procMode, IDC_PROC_MODE, 1, 2, "Invalid Processor Mode"},
                 {m_tagMode, procGroup, IDC_TAG_ENABLE, 0, 1, "Invalid Tag Mode"}};
    for (const auto& m : modes) {
        if (!m.available)
            continue;
        int32_t current = 0;
        if (m_mib->Get(m.row, &current) != 0)
            return Invalid(m.id, "Read Error");
        if (!GetItemNumber(*this, m.id, kModeChars, number) || number < m.low || number > m.high)
            return Invalid(m.id, m.message);
        m_mib->Set(m.row, static_cast<int32_t>(number));
    }
    m_newRate = newRate;
    return true;
}

int CAdvancedDlg::WriteOnce()
{
    int result = 0;
    if (m_newRate) {
        // The transmitters' channels change to the new rate before the rate does.
        for (int x = 0; x < m_mib->GetTransmitterCount(); ++x) {
            for (int y = 0; y < m_mib->GetTxChannels(x); ++y) {
                int32_t subFormat = 0;
                if ((result = m_mib->Get(txSubFormat, &subFormat, x, y)) != 0)
                    return result;
                m_mib->Set(txSubFormat, RecomposeSubFormat(subFormat, *m_newRate), x, y);
                if ((result = m_mib->Write(txSubFormat, false, x, y)) != 0)
                    return result;
            }
        }
        m_mib->Set(modeRateControl, *m_newRate);
        m_newRate.reset();
    }
    for (int row : {flashPersistEnable, sysName, sysLocation, sysContact, condPriority, serialBaud, serialPPeriod,
                    serialRxMAC, serialTxMAC, serialFormat})
        if ((result = m_mib->Write(row, false)) != 0)
            return result;
    if (m_rateWritable) {
        if ((result = m_mib->Write(modeRateControl, false)) != 0)
            return result;
        for (int x = 0; x < m_mib->GetTransmitterCount(); ++x)
            for (int y = 0; y < m_mib->GetTxChannels(x); ++y)
                if ((result = m_mib->Write(txSubFormat, false, x, y)) != 0)
                    return result;
    }
    if (m_procMode && (result = m_mib->Write(procMode, false)) != 0)
        return result;
    if (m_tagMode && (result = m_mib->Write(procGroup, false)) != 0)
        return result;
    return 0;
}

int CAdvancedDlg::WriteWithRetry()
{
    CWaitCursor wait;
    return RetryLoop(*this, kWriteRetryText, [this] { return WriteOnce(); });
}

void CAdvancedDlg::OnApply()
{
    if (ValidateAndStore())
        WriteWithRetry();
}

void CAdvancedDlg::OnOK()
{
    if (!ValidateAndStore())
        return;
    WriteWithRetry();
    EndDialog(IDOK);
}

void CAdvancedDlg::OnRefresh()
{
    if (!ReadWithRetry())
        EndDialog(IDCANCEL);
}
