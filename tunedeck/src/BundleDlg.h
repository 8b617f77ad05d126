// CBundleDlg: what the transmitter and receiver dialogs share. Each edits one
// bundle x of the open device (the model is word 6 of the launch block): its
// bundle number and per channel its SubMap. The dialog reads through the
// cache, validates every field before storing it there and writes only the
// changed cells.
#pragma once

#include <afxwin.h>

#include <tunedeck/LaunchBlock.h>

#include "DeviceMib.h"

class CBundleDlg : public CDialog {
public:
    CBundleDlg(LPCTSTR templateName, const LaunchBlock& block, int x, CWnd* pParent);

    BOOL OnInitDialog() override;
    void OnOK() override;

    int Bundle() const { return m_x; }
    int Channels() const { return m_channels; }

protected:
    // The dialog's part of the model: title format, bundle row, SubMap range.
    virtual const char* TitleFormat() const = 0;
    virtual int BundleRow() const = 0;
    virtual bool SubMapAccepted(uint32_t value) const = 0;
    virtual int ChannelCount() const = 0;
    // Fills the dialog's own controls before the first read.
    virtual void PrepareControls() {}
    // Reads every value into the controls; 0 or the first failure.
    virtual int ReadAll() = 0;
    // Stores what the bundle and SubMap edits leave to the dialog.
    virtual void StoreOwnFields() {}
    virtual int WriteBundleSettings() = 0;

    // Read all with the retry question; false when the user gave up.
    bool ReadWithRetry();
    // Validate and store: the bundle number, the SubMaps, then StoreOwnFields.
    // Shows the first invalid field's message; false then.
    bool ValidateAndStore();
    // Write all with the retry question; 0 or the failure.
    int WriteWithRetry();
    int ReadBundleNumber();
    int ReadSubMap(int y, int row);

    afx_msg void OnApply();
    afx_msg void OnRefresh();

    LaunchBlock m_block;
    CDeviceMib* m_mib;
    int m_x;
    int m_channels = 0;

    DECLARE_MESSAGE_MAP()
};
