// The main device dialog: bundle list, conductor state, in-place bundle
// number edit and the buttons that open the other dialogs.
#include "ManagementDlg.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AdvancedDlg.h"
#include "DialogCommon.h"
#include "GenericSnmpDlg.h"
#include "ReceiverDlg.h"
#include "SaveReportDlg.h"
#include "TransmitterDlg.h"
#include "resource.h"

using namespace mib;

namespace {

enum Column { COL_BUNDLE = 0, COL_TYPE = 1, COL_NUMBER = 2, COL_STATUS = 3 };
constexpr int kColumnWidth = 70;
constexpr int kListItems = 64;
constexpr int kBundleEditChars = 5;
constexpr int32_t kBundleMax = 65535;

// Up to 8 characters of text as a decimal number with an optional sign;
// false for anything else, an empty text included.
bool ParseBundle(const char* text, long& value)
{
    char head[9] = {};
    std::strncpy(head, text, 8);
    const char* p = head;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (!*p)
        return false;
    long v = 0;
    for (; *p; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
        v = v * 10 + (*p - '0');
    }
    value = negative ? -v : v;
    return true;
}

} // namespace

BEGIN_MESSAGE_MAP(CManagementDlg, CDialog)
ON_BN_CLICKED(IDC_CONFIGURE, &CManagementDlg::OnConfigure)
ON_BN_CLICKED(IDC_ADVANCED, &CManagementDlg::OnAdvanced)
ON_BN_CLICKED(IDC_REPORT, &CManagementDlg::OnReport)
ON_BN_CLICKED(IDC_SNMP, &CManagementDlg::OnSnmp)
ON_BN_CLICKED(IDC_REFRESH, &CManagementDlg::OnRefresh)
ON_NOTIFY(NM_DBLCLK, IDC_BUNDLE_LIST, &CManagementDlg::OnDblClkList)
ON_NOTIFY(LVN_BEGINLABELEDIT, IDC_BUNDLE_LIST, &CManagementDlg::OnBeginLabelEdit)
ON_NOTIFY(LVN_ENDLABELEDIT, IDC_BUNDLE_LIST, &CManagementDlg::OnEndLabelEdit)
END_MESSAGE_MAP()

CManagementDlg::CManagementDlg(CWnd* pParent) : CDialog(IDD_MANAGEMENT, pParent), m_mib(std::make_unique<CDeviceMib>())
{
    RegisterTunedeckResources();
    m_block.DeviceMib = m_mib.get();
}

CManagementDlg::~CManagementDlg() = default;

void CManagementDlg::SetBlock(const LaunchBlock& block)
{
    m_block = block;
    m_block.DeviceMib = m_mib.get();
}

bool CManagementDlg::SetDeviceIp(const char* ip)
{
    if (!ip || strnlen(ip, LAUNCH_IP_MAX) >= LAUNCH_IP_MAX)
        return false;
    std::strcpy(m_ip, ip);
    m_block.IpAddress = m_ip;
    return true;
}

void CManagementDlg::SetMac(const unsigned char bytes[6])
{
    std::snprintf(m_mac, sizeof m_mac, "%02X%02X%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                  bytes[5]);
    std::snprintf(m_macColon, sizeof m_macColon, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    m_block.MacAddress = m_mac;
}

CListCtrl* CManagementDlg::List() { return static_cast<CListCtrl*>(GetDlgItem(IDC_BUNDLE_LIST)); }

BOOL CManagementDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_initialized) {
        MessageBox("Dialog has not been initialized", "Error", MB_OK | MB_ICONERROR);
        EndDialog(IDCANCEL);
        return TRUE;
    }
    SetWindowText("Veltrix Configuration");
    SetDlgItemText(IDC_VERSION_TEXT, "(.42)");

    const int switches = m_block.Switches;
    GetDlgItem(IDC_SNMP)->ShowWindow(switches & LAUNCH_SWITCH_SNMP ? SW_SHOW : SW_HIDE);
    GetDlgItem(IDC_REPORT)->ShowWindow(switches & LAUNCH_SWITCH_REPORT ? SW_SHOW : SW_HIDE);
    GetDlgItem(IDC_ADVANCED)->ShowWindow(switches & LAUNCH_SWITCH_ADVANCED ? SW_SHOW : SW_HIDE);

    unsigned a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(m_ip, "%u.%u.%u.%u", &a, &b, &c, &d) == 4)
        static_cast<CIPAddressCtrl*>(GetDlgItem(IDC_DEVICE_IP))
            ->SetAddress(static_cast<BYTE>(a), static_cast<BYTE>(b), static_cast<BYTE>(c), static_cast<BYTE>(d));

    CListCtrl* list = List();
    list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
    list->SetItemCount(kListItems);
    list->InsertColumn(COL_BUNDLE, "Bundle", LVCFMT_LEFT, kColumnWidth);
    list->InsertColumn(COL_TYPE, "Type", LVCFMT_LEFT, kColumnWidth);
    list->InsertColumn(COL_NUMBER, "Number", LVCFMT_LEFT, kColumnWidth);
    list->InsertColumn(COL_STATUS, "Status", LVCFMT_LEFT, kColumnWidth);
    const int transmitters = m_mib->GetTransmitterCount();
    const int receivers = m_mib->GetReceiverCount();
    for (int i = 0; i < transmitters + receivers; ++i) {
        const bool tx = i < transmitters;
        const int item = list->InsertItem(i, "");
        list->SetItemText(item, COL_TYPE, tx ? "Tx" : "Rx");
        ShowNumber(item, COL_NUMBER, (tx ? i : i - transmitters) + 1);
    }

    if (ReadAll() != 0)
        EndDialog(IDCANCEL);
    return TRUE;
}

void CManagementDlg::ShowNumber(int item, int column, int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    List()->SetItemText(item, column, text);
}

int CManagementDlg::ReadAll()
{
    CWaitCursor wait;
    for (int x = 0; x < m_mib->GetReceiverCount(); ++x) {
        m_mib->MarkValid(rxStatus, false, x);
        m_mib->MarkValid(rxBundle, false, x);
    }
    for (int x = 0; x < m_mib->GetTransmitterCount(); ++x) {
        m_mib->MarkValid(txBundle, false, x);
        m_mib->MarkValid(txReceivers, false, x);
    }
    for (;;) {
        const int result = RefreshValues();
        if (result == 0)
            return 0;
        if (result == kInvalidBundle) {
            if (MessageBox("Invalid Values Detected!!\nDo you wish to restore factory defaults?", "Error",
                           MB_YESNO | MB_ICONERROR) == IDYES) {
                m_mib->Set(flashPersistEnable, 0);
                // Only a write the device took is reported as done.
                while (m_mib->Write(flashPersistEnable, true) != 0) {
                    if (MessageBox(kWriteRetryText, "Error", MB_YESNO | MB_ICONERROR) != IDYES)
                        return result;
                }
                MessageBox("Persistence Disabled\nPlease reset device to restore defaults", nullptr,
                           MB_OK | MB_ICONINFORMATION);
            }
            return result;
        }
        if (MessageBox(kReadRetryText, "Error", MB_YESNO | MB_ICONERROR) != IDYES)
            return result;
    }
}

int CManagementDlg::RefreshValues()
{
    const int transmitters = m_mib->GetTransmitterCount();
    const int receivers = m_mib->GetReceiverCount();
    // Batch reads first; a failed batch leaves its cells to the single reads below.
    const struct {
        int row;
        int count;
    } batches[] = {{txBundle, transmitters}, {txReceivers, transmitters}, {rxStatus, receivers}, {rxBundle, receivers}};
    for (const auto& batch : batches) {
        m_mib->ClearBatch();
        for (int x = 0; x < batch.count; ++x)
            m_mib->Queue(batch.row, true, x);
        m_mib->RunBatch();
    }

    for (int i = 0; i < transmitters + receivers; ++i) {
        const bool tx = i < transmitters;
        const int x = tx ? i : i - transmitters;
        int32_t bundle = 0;
        const int result = m_mib->Get(tx ? txBundle : rxBundle, &bundle, x);
        if (result != 0)
            return result;
        if (bundle < 0 || bundle > kBundleMax)
            return kInvalidBundle;
        ShowNumber(i, COL_BUNDLE, bundle);
        int32_t status = 0;
        m_mib->Get(tx ? txReceivers : rxStatus, &status, x);
        ShowNumber(i, COL_STATUS, status);
    }
    int32_t conductor = 0;
    m_mib->Get(condStatus, &conductor);
    CheckDlgButton(IDC_CONDUCTOR, conductor ? BST_CHECKED : BST_UNCHECKED);
    return 0;
}

bool CManagementDlg::BundleOfRow(int item, int& row, int& x)
{
    CListCtrl* list = List();
    if (item < 0 || item >= list->GetItemCount())
        return false;
    const CString type = list->GetItemText(item, COL_TYPE);
    x = std::atoi(list->GetItemText(item, COL_NUMBER)) - 1;
    row = std::strcmp(type, "Rx") == 0 ? rxBundle : txBundle;
    return true;
}

void CManagementDlg::OnConfigure()
{
    CWaitCursor wait;
    CListCtrl* list = List();
    if (list->GetSelectedCount() != 1) {
        MessageBox("One selection (only) required");
        return;
    }
    const int item = list->GetNextItem(-1, LVNI_SELECTED);
    int row = 0, x = 0;
    if (!BundleOfRow(item, row, x))
        return;
    if (row == rxBundle)
        RunReceiverDialog(x);
    else
        RunTransmitterDialog(x);
    int32_t bundle = 0;
    if (m_mib->Get(row, &bundle, x) == 0)
        ShowNumber(item, COL_BUNDLE, bundle);
}

void CManagementDlg::OnDblClkList(NMHDR*, LRESULT* pResult)
{
    OnConfigure();
    *pResult = 0;
}

void CManagementDlg::OnAdvanced() { RunAdvancedDialog(); }

void CManagementDlg::OnReport() { RunReportDialog(); }

void CManagementDlg::OnSnmp() { RunSnmpDialog(); }

void CManagementDlg::OnRefresh()
{
    if (ReadAll() != 0)
        EndDialog(IDCANCEL);
}

void CManagementDlg::OnBeginLabelEdit(NMHDR* pNMHDR, LRESULT* pResult)
{
    auto* info = reinterpret_cast<NMLVDISPINFO*>(pNMHDR);
    CListCtrl* list = List();
    if (CEdit* edit = list->GetEditControl())
        edit->LimitText(kBundleEditChars);
    m_editItem = info->item.iItem;
    m_editOld = std::atoi(list->GetItemText(m_editItem, COL_BUNDLE));
    *pResult = FALSE;
}

int CManagementDlg::WriteBundle(int row, int x)
{
    for (;;) {
        const int result = m_mib->Write(row, false, x);
        if (result == 0)
            return 0;
        if (MessageBox("Could Not Write Bundle; Retry?\n", "Error", MB_YESNO | MB_ICONERROR) != IDYES)
            return result;
    }
}

void CManagementDlg::OnEndLabelEdit(NMHDR* pNMHDR, LRESULT* pResult)
{
    auto* info = reinterpret_cast<NMLVDISPINFO*>(pNMHDR);
    const int item = m_editItem;
    *pResult = FALSE; // the cell shows what this handler decides
    int row = 0, x = 0;
    if (!BundleOfRow(item, row, x))
        return;
    if (info->item.pszText) {
        long number = 0;
        const bool parsed = ParseBundle(info->item.pszText, number);
        if (parsed && number == m_editOld) {
            // unchanged
        } else if (!parsed || number < 0 || number > kBundleMax) {
            MessageBox("Invalid Bundle Number", "Error", MB_OK | MB_ICONERROR);
        } else {
            m_mib->Set(row, static_cast<int32_t>(number), x);
            if (WriteBundle(row, x) == 0)
                m_editOld = static_cast<int32_t>(number);
        }
    }
    ShowNumber(item, COL_BUNDLE, m_editOld);
}

INT_PTR CManagementDlg::RunTransmitterDialog(int x)
{
    CTransmitterDlg dlg(m_block, x, this);
    return dlg.DoModal();
}

INT_PTR CManagementDlg::RunReceiverDialog(int x)
{
    CReceiverDlg dlg(m_block, x, this);
    return dlg.DoModal();
}

INT_PTR CManagementDlg::RunAdvancedDialog()
{
    CAdvancedDlg dlg(m_block, this);
    return dlg.DoModal();
}

INT_PTR CManagementDlg::RunReportDialog()
{
    CSaveReportDlg dlg(m_block, this);
    return dlg.DoModal();
}

INT_PTR CManagementDlg::RunSnmpDialog()
{
    CGenericSnmpDlg dlg(m_block, this);
    return dlg.DoModal();
}
