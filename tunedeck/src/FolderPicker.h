// CFolderPicker: the shell's folder browser for file-system folders, opened
// at an initial folder with a window title and an instruction text.
#pragma once

#include <afxwin.h>

#include <string>

class CFolderPicker {
public:
    void SetWindowTitle(const char* title) { m_title = title ? title : ""; }
    void SetInstruction(const char* text) { m_instruction = text ? text : ""; }
    void SetInitialFolder(const char* folder) { m_initial = folder ? folder : ""; }
    void SetRootFolder(const char* folder) { m_root = folder ? folder : ""; }
    // Show the selected folder as the browser's status text.
    void SetShowStatus(bool show) { m_status = show; }

    // 1 with the chosen folder's path in Path(), else 0.
    int Browse(CWnd* owner);
    const std::string& Path() const { return m_path; }

private:
    static int CALLBACK Callback(HWND hwnd, UINT msg, LPARAM lParam, LPARAM data);

    std::string m_title;
    std::string m_instruction = "Open";
    std::string m_initial;
    std::string m_root;
    bool m_status = false;
    std::string m_path;
};
