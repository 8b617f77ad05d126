// CGenericSnmpDlg: reads and writes any variable of the open device by OID,
// past the model's cache. The variable table offers the device's variables
// by group and fills in the OID template, its type and whether it is
// read-only; "Form OID" puts the bundle and channel numbers in place of the
// template's X and Y.
#pragma once

#include <afxwin.h>

#include <string>

#include <tunedeck/LaunchBlock.h>

#include "DeviceMib.h"

class CGenericSnmpDlg : public CDialog {
public:
    explicit CGenericSnmpDlg(const LaunchBlock& block, CWnd* pParent = nullptr);

    BOOL OnInitDialog() override;

    int Group() const { return m_group; }

protected:
    CComboBox* Combo(int id) { return static_cast<CComboBox*>(GetDlgItem(id)); }
    CComboBox* VariableCombo(int group);
    void ShowGroup(int group);
    void ApplySelection();
    // The OID edit with X and Y replaced; false (and a message) when a
    // number is not valid.
    bool FormOid(std::string& oid);
    // The value kind of the Type combo, or -1 when nothing is chosen.
    int Kind();
    void Read(const std::string& oid, int kind);
    void Write(const std::string& oid, int kind);

    afx_msg void OnGroup();
    afx_msg void OnVariable(UINT id);
    afx_msg void OnResetOid();
    afx_msg void OnReadOnly();
    afx_msg void OnFormOid();
    afx_msg void OnGet();
    afx_msg void OnPut();

    LaunchBlock m_block;
    CDeviceMib* m_mib;
    int m_group = 0;

    DECLARE_MESSAGE_MAP()
};
