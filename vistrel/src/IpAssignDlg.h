// The IP Assignment dialog: a new IPv4 address for one device, with a
// warning when it lies outside the adapter's network.
#pragma once

#include <afxcmn.h>

#include <qm/address.h>

#include <string>

class CIpAssignDlg : public CDialog {
public:
    CIpAssignDlg(const std::string& device, const std::string& ip, const qm::ip_address_t& network,
                 const qm::ip_address_t& mask, CWnd* parent = nullptr);

    // The accepted address (after OK).
    qm::ip_address_t NewAddress() const { return address; }

    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    qm::ip_address_t address;
    std::string title;
    CIPAddressCtrl* addressControl = nullptr;
    qm::ip_address_t network;
    qm::ip_address_t mask;
};
