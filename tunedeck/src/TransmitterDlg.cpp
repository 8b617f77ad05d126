// The transmitter bundle dialog.
#include "TransmitterDlg.h"

#include <string>

#include "DialogCommon.h"
#include "SubFormat.h"
#include "resource.h"

using namespace mib;

namespace {

constexpr int kSubCountMax = 8;
constexpr int kMaxUnicastMax = 4;
constexpr int kDefaultResolution = 1;  // 20 bit
constexpr int kDefaultUnicastMode = 5; // "Never Multicast"
constexpr int kDefaultMaxUnicast = 1;  // "2"

// Combo position of a SubFormat's resolution, or -1 for a code the
// transmitter does not know.
int ResolutionPosition(int32_t subFormat)
{
    const int index = FindSubFormat(subFormat, kSubFormatBasic);
    if (index < 0)
        return -1;
    const int32_t resolution = kSubFormats[index].code & kResolutionMask;
    for (int i = 0; i < kResolutionCount; ++i)
        if (kResolutions[i] == resolution)
            return i;
    return -1;
}

} // namespace

BEGIN_MESSAGE_MAP(CTransmitterDlg, CBundleDlg)
ON_BN_CLICKED(IDC_CLEAR_ALL, &CTransmitterDlg::OnClearAll)
ON_BN_CLICKED(IDC_ALL_SAME, &CTransmitterDlg::OnAllSame)
ON_CBN_SELCHANGE(IDC_SUBFORMAT_FIRST, &CTransmitterDlg::OnFirstFormat)
END_MESSAGE_MAP()

CTransmitterDlg::CTransmitterDlg(const LaunchBlock& block, int x, CWnd* pParent)
    : CBundleDlg(IDD_TRANSMITTER, block, x, pParent)
{}

void CTransmitterDlg::PrepareControls()
{
    for (int i = 0; i <= kSubCountMax; ++i)
        Combo(IDC_SUBCOUNT)->AddString(std::to_string(i).c_str());
    for (const CodeText& mode : kUnicastModes)
        Combo(IDC_UNICAST_MODE)->AddString(mode.text);
    for (int i = 1; i <= kMaxUnicastMax; ++i)
        Combo(IDC_MAX_UNICAST)->AddString(std::to_string(i).c_str());
    for (int y = 0; y < kChannels; ++y)
        for (const char* text : kResolutionTexts)
            Combo(IDC_SUBFORMAT_FIRST + y)->AddString(text);
}

int CTransmitterDlg::ReadAll()
{
    m_mib->MarkValid(modeRateControl, false);
    for (int row : {txSubCount, txUnicastMode, txMaxUnicast})
        m_mib->MarkValid(row, false, m_x);
    for (int y = 0; y < m_channels; ++y) {
        m_mib->MarkValid(txSubFormat, false, m_x, y);
        m_mib->MarkValid(txSubMap, false, m_x, y);
    }

    int result = ReadBundleNumber();
    if (result != 0)
        return result;
    result = m_mib->Get(modeRateControl, &m_modeRate);
    if (result != 0)
        return result;

    bool replaced = false;
    bool allSame = true;
    for (int y = 0; y < m_channels; ++y) {
        int32_t subFormat = 0;
        result = m_mib->Get(txSubFormat, &subFormat, m_x, y);
        if (result != 0)
            return result;
        int position = ResolutionPosition(subFormat);
        if (position < 0) {
            position = kDefaultResolution;
            replaced = true;
        }
        Combo(IDC_SUBFORMAT_FIRST + y)->SetCurSel(position);
        allSame = allSame && position == Combo(IDC_SUBFORMAT_FIRST)->GetCurSel();
        result = ReadSubMap(y, txSubMap);
        if (result != 0)
            return result;
    }
    CheckDlgButton(IDC_ALL_SAME, allSame ? BST_CHECKED : BST_UNCHECKED);
    ApplyAllSame();

    int32_t value = 0;
    result = m_mib->Get(txSubCount, &value, m_x);
    if (result != 0)
        return result;
    if (value < 0 || value > kSubCountMax) {
        value = kSubCountMax;
        replaced = true;
    }
    Combo(IDC_SUBCOUNT)->SetCurSel(value);

    result = m_mib->Get(txUnicastMode, &value, m_x);
    if (result != 0)
        return result;
    int position = kDefaultUnicastMode;
    for (int i = 0; i < kUnicastModeCount; ++i)
        if (kUnicastModes[i].code == value)
            position = i;
    replaced = replaced || kUnicastModes[position].code != value;
    Combo(IDC_UNICAST_MODE)->SetCurSel(position);

    result = m_mib->Get(txMaxUnicast, &value, m_x);
    if (result != 0)
        return result;
    if (value < 1 || value > kMaxUnicastMax) {
        value = kDefaultMaxUnicast + 1;
        replaced = true;
    }
    Combo(IDC_MAX_UNICAST)->SetCurSel(value - 1);

    if (replaced)
        MessageBox(kDefaultsChangedText, "Warning!", MB_OK | MB_ICONWARNING);
    return 0;
}

void CTransmitterDlg::StoreOwnFields()
{
    for (int y = 0; y < m_channels; ++y) {
        const int position = Combo(IDC_SUBFORMAT_FIRST + y)->GetCurSel();
        const int32_t resolution = kResolutions[position >= 0 ? position : kDefaultResolution];
        m_mib->Set(txSubFormat, ComposeSubFormat(resolution, m_modeRate), m_x, y);
    }
    const int subCount = Combo(IDC_SUBCOUNT)->GetCurSel();
    const int unicastMode = Combo(IDC_UNICAST_MODE)->GetCurSel();
    const int maxUnicast = Combo(IDC_MAX_UNICAST)->GetCurSel();
    if (subCount >= 0)
        m_mib->Set(txSubCount, subCount, m_x);
    if (unicastMode >= 0)
        m_mib->Set(txUnicastMode, kUnicastModes[unicastMode].code, m_x);
    if (maxUnicast >= 0)
        m_mib->Set(txMaxUnicast, maxUnicast + 1, m_x);
}

void CTransmitterDlg::ApplyAllSame()
{
    const bool same = IsDlgButtonChecked(IDC_ALL_SAME) == BST_CHECKED;
    const int first = Combo(IDC_SUBFORMAT_FIRST)->GetCurSel();
    for (int y = 1; y < m_channels; ++y) {
        if (same)
            Combo(IDC_SUBFORMAT_FIRST + y)->SetCurSel(first);
        GetDlgItem(IDC_SUBFORMAT_FIRST + y)->EnableWindow(!same);
    }
}

void CTransmitterDlg::OnClearAll()
{
    for (int y = 0; y < kChannels; ++y)
        SetDlgItemText(IDC_SUBMAP_FIRST + y, "0");
}

void CTransmitterDlg::OnAllSame() { ApplyAllSame(); }

void CTransmitterDlg::OnFirstFormat()
{
    if (IsDlgButtonChecked(IDC_ALL_SAME) == BST_CHECKED)
        ApplyAllSame();
}
