#include "FolderPicker.h"

#include <shlobj.h>

#include <vector>

int CALLBACK CFolderPicker::Callback(HWND hwnd, UINT msg, LPARAM lParam, LPARAM data)
{
    auto* self = reinterpret_cast<CFolderPicker*>(data);
    if (msg == BFFM_INITIALIZED) {
        // Start at the initial folder, without a trailing separator.
        std::string initial = self->m_initial;
        while (initial.size() > 1 && initial.back() == '/')
            initial.pop_back();
        if (!initial.empty())
            SendMessage(hwnd, BFFM_SETSELECTION, TRUE, reinterpret_cast<LPARAM>(initial.c_str()));
        if (!self->m_title.empty())
            SetWindowText(hwnd, self->m_title.c_str());
    } else if (msg == BFFM_SELCHANGED) {
        if (self->m_status && lParam)
            SendMessage(hwnd, BFFM_SETSTATUSTEXT, 0, lParam);
        SendMessage(hwnd, BFFM_ENABLEOK, 0, TRUE);
    }
    return 0;
}

int CFolderPicker::Browse(CWnd* owner)
{
    std::vector<char> display(MAX_PATH, 0);
    std::vector<char> rootBlock;
    BROWSEINFOA info{};
    info.hwndOwner = owner ? owner->GetSafeHwnd() : nullptr;
    if (!m_root.empty()) {
        rootBlock.assign(m_root.begin(), m_root.end());
        rootBlock.push_back(0);
        info.pidlRoot = reinterpret_cast<PCIDLIST_ABSOLUTE>(rootBlock.data());
    }
    info.pszDisplayName = display.data();
    info.lpszTitle = m_instruction.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | (m_status ? BIF_STATUSTEXT : 0);
    info.lpfn = &CFolderPicker::Callback;
    info.lParam = reinterpret_cast<LPARAM>(this);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
    if (!chosen)
        return 0;
    std::vector<char> path(MAX_PATH, 0);
    const BOOL ok = SHGetPathFromIDListA(chosen, path.data());
    ILFree(chosen);
    if (!ok)
        return 0;
    m_path = path.data();
    return 1;
}
