// The console's application object: the log and COM for the process, the
// keyboard accelerators, and the main dialog run modally.
#pragma once

#include <afxwin.h>

class CVistrelApp : public CWinApp {
public:
    // Fixes the log's path (written only when "veltrixmon log" is set) and
    // makes the GUI thread a single-threaded apartment.
    CVistrelApp();
    ~CVistrelApp() override;

    // Runs the main dialog; returns FALSE so the program ends with it.
    BOOL InitInstance() override;
    // Version information, templates, menus, icons, the servers' interface
    // tables and the accelerator table.
    void LoadResources();
    // The three accelerators for the main dialog's own modal loop.
    BOOL ProcessMessageFilter(int code, LPMSG message) override;

    HACCEL Accelerators() const { return accelerators; }

private:
    HACCEL accelerators = nullptr;

    DECLARE_MESSAGE_MAP()
};

// Registers the program's version strings (the About box reads them).
void RegisterVistrelVersion();
