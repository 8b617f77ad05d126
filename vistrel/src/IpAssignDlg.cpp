#include "IpAssignDlg.h"

#include "IpValue.h"
#include "resource.h"

CIpAssignDlg::CIpAssignDlg(const std::string& device, const std::string& ip, const qm::ip_address_t& network,
                           const qm::ip_address_t& mask, CWnd* parent)
    : CDialog(IDD_IP_ASSIGN, parent), title("IP Assignment - " + device), network(network), mask(mask)
{
    address.assign_text(ip);
}

BOOL CIpAssignDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    addressControl = static_cast<CIPAddressCtrl*>(GetDlgItem(IDC_NEW_ADDRESS));
    addressControl->SetAddress(address.number);
    SetWindowText(title.c_str());
    return TRUE;
}

void CIpAssignDlg::OnOK()
{
    BYTE b0 = 0, b1 = 0, b2 = 0, b3 = 0;
    addressControl->GetAddress(b0, b1, b2, b3);
    const qm::ip_address_t typed = IpFromBytes(b0, b1, b2, b3);
    if (typed == address) {
        EndDialog(IDCANCEL);
        return;
    }
    qm::ip_address_t reach = mask;
    reach &= typed;
    if (reach != network &&
        MessageBox("New IP address may be unreachable.", title.c_str(),
                   MB_OKCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDOK)
        return;
    address = typed;
    EndDialog(IDOK);
}
