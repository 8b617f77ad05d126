// The About box: the program's version lines and where to find the manual.
#pragma once

#include <afxcmn.h>

#include <string>

// The About text from the program's version information; empty when the
// program has none.
std::string AboutText();

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CWnd* parent = nullptr);
    BOOL OnInitDialog() override;

private:
    CAnimateCtrl animation;
};
