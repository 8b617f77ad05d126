// CTransmitterDlg: one transmitter bundle: its bundle number, per channel
// SubMap and resolution, and its SubCount, UnicastMode and MaxUnicast. The
// channels' SubFormats follow the device's mode rate.
#pragma once

#include "BundleDlg.h"

class CTransmitterDlg : public CBundleDlg {
public:
    CTransmitterDlg(const LaunchBlock& block, int x, CWnd* pParent = nullptr);

    int32_t ModeRate() const { return m_modeRate; }

protected:
    const char* TitleFormat() const override { return "Transmitter %d Configuration"; }
    int BundleRow() const override { return mib::txBundle; }
    bool SubMapAccepted(uint32_t value) const override { return value <= 32; }
    int ChannelCount() const override { return m_mib->GetTxChannels(m_x); }
    void PrepareControls() override;
    int ReadAll() override;
    void StoreOwnFields() override;
    int WriteBundleSettings() override { return m_mib->WriteTransmitter(m_x, false); }

    CComboBox* Combo(int id) { return static_cast<CComboBox*>(GetDlgItem(id)); }
    // "All Same": channels 2 to n take channel 1's resolution and are locked.
    void ApplyAllSame();

    afx_msg void OnClearAll();
    afx_msg void OnAllSame();
    afx_msg void OnFirstFormat();

    int32_t m_modeRate = 0;

    DECLARE_MESSAGE_MAP()
};
