// CManagementDlg: the dialog shown for one device. It lists the device's
// transmitter and receiver bundles with their bundle numbers and status,
// lets the user change a bundle number in place, shows whether the device is
// the network's conductor, and opens the bundle, advanced, report and SNMP
// dialogs. It owns the device's model and hands its launch block copy to
// every dialog it opens.
#pragma once

#include <afxcmn.h>
#include <afxwin.h>

#include <cstdint>
#include <memory>

#include <tunedeck/LaunchBlock.h>

#include "DeviceMib.h"

class CManagementDlg : public CDialog {
public:
    // A bundle number outside 0..65535 read from the device.
    static constexpr int kInvalidBundle = 0x801;

    explicit CManagementDlg(CWnd* pParent = nullptr);
    ~CManagementDlg() override;

    // Set up by the launcher before the dialog runs.
    void SetBlock(const LaunchBlock& block);
    const LaunchBlock& Block() const { return m_block; }
    CDeviceMib& Mib() { return *m_mib; }
    // The device's IP text (fewer than LAUNCH_IP_MAX characters); false when
    // it does not fit.
    bool SetDeviceIp(const char* ip);
    const char* DeviceIp() const { return m_ip; }
    // The device's MAC address from the first six bytes of its
    // ifPhysAddress; block word 1 then points at the 12-digit form.
    void SetMac(const unsigned char bytes[6]);
    const char* Mac() const { return m_mac; }
    const char* MacColon() const { return m_macColon; }
    void MarkInitialized() { m_initialized = true; }

    BOOL OnInitDialog() override;
    // Reads the list's values afresh, offering a retry; 0 or the failure.
    int ReadAll();

protected:
    // The dialogs the buttons open, each modal with the block copy.
    virtual INT_PTR RunTransmitterDialog(int x);
    virtual INT_PTR RunReceiverDialog(int x);
    virtual INT_PTR RunAdvancedDialog();
    virtual INT_PTR RunReportDialog();
    virtual INT_PTR RunSnmpDialog();

    afx_msg void OnConfigure();
    afx_msg void OnAdvanced();
    afx_msg void OnReport();
    afx_msg void OnSnmp();
    afx_msg void OnRefresh();
    afx_msg void OnDblClkList(NMHDR* pNMHDR, LRESULT* pResult);
    afx_msg void OnBeginLabelEdit(NMHDR* pNMHDR, LRESULT* pResult);
    afx_msg void OnEndLabelEdit(NMHDR* pNMHDR, LRESULT* pResult);

    CListCtrl* List();
    int RefreshValues();
    void ShowNumber(int row, int column, int32_t value);
    // The list row of a bundle: the bundle row (txBundle or rxBundle) and x.
    bool BundleOfRow(int item, int& row, int& x);
    int WriteBundle(int row, int x);

    LaunchBlock m_block{};
    std::unique_ptr<CDeviceMib> m_mib;
    bool m_initialized = false;
    char m_ip[LAUNCH_IP_MAX] = {};
    char m_mac[13] = {};
    char m_macColon[18] = {};
    int m_editItem = -1;
    int32_t m_editOld = 0;

    DECLARE_MESSAGE_MAP()
};
