#include "AboutDlg.h"

#include "resource.h"

#include <windows.h>

#include <vector>

namespace {

std::string VersionString(const void* block, const char* name)
{
    void* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(block, path.c_str(), &value, &length) || !value)
        return std::string();
    return static_cast<const char*>(value);
}

} // namespace

std::string AboutText()
{
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(program, &handle);
    if (size == 0)
        return std::string();
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(program, handle, size, block.data()))
        return std::string();
    std::string text = VersionString(block.data(), "InternalName") + " Version " +
        VersionString(block.data(), "ProductVersion") + VersionString(block.data(), "SpecialBuild") + "\r\n";
    text += VersionString(block.data(), "LegalCopyright") + "\r\n";
    text += VersionString(block.data(), "Comments") + "\r\n";
    text += std::string("Built on ") + __DATE__ + " at " + __TIME__;
    text += "\r\n \r\nPlease Refer to the PDF manual installed\r\nwith this program for usage instructions.";
    return text;
}

CAboutDlg::CAboutDlg(CWnd* parent) : CDialog(IDD_ABOUTBOX, parent) {}

BOOL CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CWaitCursor wait;
    animation.Create(WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY, CRect(10, 10, 82, 98), this,
                     IDC_ANIMATION);
    animation.Open(IDR_ANIMATION);
    if (CWnd* box = GetDlgItem(IDC_ABOUT_TEXT))
        box->SetWindowText(AboutText().c_str());
    return TRUE;
}
