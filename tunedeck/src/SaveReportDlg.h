// CSaveReportDlg: writes the report of the open device, through the main
// dialog's model, into a chosen folder and file, on the GUI thread.
#pragma once

#include <tunedeck/LaunchBlock.h>

#include "ReportDlgBase.h"
#include "ReportWriter.h"

class CSaveReportDlg : public CReportDlgBase {
public:
    explicit CSaveReportDlg(const LaunchBlock& block, CWnd* pParent = nullptr);

    BOOL OnInitDialog() override;
    void OnOK() override {}

protected:
    afx_msg void OnWrite();

    LaunchBlock m_block;
    CReportWriter m_writer;

    DECLARE_MESSAGE_MAP()
};
