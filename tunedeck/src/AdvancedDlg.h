// CAdvancedDlg: the device-wide settings of the open device: persistence,
// name, location, contact, conductor priority, the serial bridge, the audio
// mode rate, the processor and tag modes, with the interface byte order, the
// network mask and the free processor cycles shown. Every field is checked
// before anything is stored for writing; a new mode rate first converts the
// transmitters' channel formats.
#pragma once

#include <afxwin.h>

#include <optional>

#include <tunedeck/LaunchBlock.h>

#include "DeviceMib.h"

class CAdvancedDlg : public CDialog {
public:
    explicit CAdvancedDlg(const LaunchBlock& block, CWnd* pParent = nullptr);

    BOOL OnInitDialog() override;
    void OnOK() override;

    int Platform() const { return m_platform; }
    bool ModeRateWritable() const { return m_rateWritable; }

protected:
    int ReadAll();
    bool ReadWithRetry();
    int ReadText(int row, int id);
    int ReadMac(int row, int id);
    // Proc Mode, HMI Mode, TagEnable, NetMask, FreeCycles: a missing variable
    // shows "N.A." and leaves the field out.
    int ReadOptional(int row, int id, bool& available);
    bool ValidateAndStore();
    // Shows a validation message and puts the focus on the field; false.
    bool Invalid(int id, const char* text);
    int WriteOnce();
    int WriteWithRetry();
    CComboBox* RateCombo();
    int RatePosition(int32_t code) const;

    afx_msg void OnApply();
    afx_msg void OnRefresh();

    LaunchBlock m_block;
    CDeviceMib* m_mib;
    int m_platform = 0;
    int m_offered = 0;          // mode rates in the combo
    bool m_rateWritable = true; // the mode rate is stored and written
    bool m_rateMissing = false;
    bool m_persistence = true;
    bool m_procMode = true;
    bool m_tagMode = true;
    bool m_hmiMode = true;
    bool m_netMask = true;
    bool m_freeCycles = true;
    // A new mode rate chosen and checked, applied by the next write.
    std::optional<int32_t> m_newRate;

    DECLARE_MESSAGE_MAP()
};
