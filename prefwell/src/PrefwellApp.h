// The options program's application object.
#pragma once

#include <afxwin.h>

class CPrefwellApp : public CWinApp {
public:
    CPrefwellApp();
    // Runs the options dialog; returns FALSE so the program ends with it.
    BOOL InitInstance() override;
};
