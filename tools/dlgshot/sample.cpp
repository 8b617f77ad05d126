// A small dialog that shows most control kinds, registered as "sample".
#include "afxcmn.h"
#include "dlgshot.h"

namespace {
using namespace mfc::rc;
enum { IDD_SAMPLE = 30000, IDC_NAME = 1000, IDC_KIND, IDC_LIST, IDC_IP, IDC_BAR, IDC_FLAG };

class SampleDlg : public CDialog {
public:
    SampleDlg() : CDialog(IDD_SAMPLE)
    {
        mfc::DlgTemplate t;
        t.caption = "Sample";
        t.cx = 220;
        t.cy = 130;
        t.items = {
            GroupBox("Device", IDC_STATIC, 5, 3, 210, 60),
            LText("&Name:", IDC_STATIC, 12, 16, 40, 8),
            EditText(IDC_NAME, 55, 14, 100, 12),
            LText("&Kind:", IDC_STATIC, 12, 32, 40, 8),
            ComboBox(IDC_KIND, 55, 30, 100, 60),
            AutoCheckBox("Enable Auto Assignment", IDC_FLAG, 12, 47, 120, 10),
            Control("", IDC_IP, WC_IPADDRESS, WS_TABSTOP, 160, 14, 50, 12),
            Control("", IDC_LIST, WC_LISTVIEW, LVS_REPORT | WS_BORDER | WS_TABSTOP, 5, 68, 150, 55),
            Control("", IDC_BAR, PROGRESS_CLASS, 0, 160, 68, 55, 8),
            DefPushButton("OK", IDOK, 165, 92, 50, 14),
            PushButton("Cancel", IDCANCEL, 165, 110, 50, 14),
        };
        mfc::RegisterDialogTemplate(IDD_SAMPLE, t);
    }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        SetDlgItemText(IDC_NAME, "alder-01");
        auto* kind = static_cast<CComboBox*>(GetDlgItem(IDC_KIND));
        kind->AddString("Transmitter");
        kind->AddString("Receiver");
        kind->SetCurSel(0);
        CheckDlgButton(IDC_FLAG, BST_CHECKED);
        static_cast<CIPAddressCtrl*>(GetDlgItem(IDC_IP))->SetAddress(10, 9, 0, 7);
        auto* list = static_cast<CListCtrl*>(GetDlgItem(IDC_LIST));
        list->SetExtendedStyle(LVS_EX_FULLROWSELECT);
        list->InsertColumn(0, "MAC Address", LVCFMT_LEFT, 110);
        list->InsertColumn(1, "IP Address", LVCFMT_LEFT, 90);
        list->InsertItem(0, "00:0d:1e:00:00:01");
        list->SetItemText(0, 1, "10.9.0.7");
        static_cast<CProgressCtrl*>(GetDlgItem(IDC_BAR))->SetPos(40);
        return TRUE;
    }
};

dlgshot::Registrar sample("sample", [] { return std::make_unique<SampleDlg>(); });
} // namespace
