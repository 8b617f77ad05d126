// Test support of the GUI test programs: their one offscreen Qt application,
// the launch block of the test devices, dialog helpers, and the library loaded
// by name with one entry point, as the console loads it (TUNEDECK_LIB names
// the built library).
#pragma once

#include <afxwin.h>
#include <mfc/test_hooks.h>
#include <windows.h>

#include <QApplication>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <tunedeck/LaunchBlock.h>

namespace tdtest {

struct QtEnvironment : ::testing::Environment {
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "tunedeck_test";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
};
inline const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

inline int SelectNone(const char**, int) { return LAUNCH_SELECT_END; }

// The launch block of one test device with the test agents' communities.
inline LaunchBlock TestBlock(const char* ip, int switches = 15)
{
    LaunchBlock b{};
    b.IpAddress = ip;
    b.WriteCommunity = "quenmil";
    b.ReadCommunity = "tagrok";
    b.GetFirst = SelectNone;
    b.GetNext = SelectNone;
    b.Timeout = 10000; // milliseconds: as long as only a fault waits
    b.Retries = 2;
    b.Delay = 10;
    b.Switches = switches;
    return b;
}

inline std::string ItemText(CWnd& d, int id)
{
    CString text;
    d.GetDlgItemText(id, text);
    return static_cast<LPCTSTR>(text);
}

inline std::string ComboText(CWnd& d, int id)
{
    auto* combo = static_cast<CComboBox*>(d.GetDlgItem(id));
    CString text;
    if (combo->GetCurSel() >= 0)
        combo->GetLBText(combo->GetCurSel(), text);
    return static_cast<LPCTSTR>(text);
}

// The message boxes shown since the last call, "text | caption" each.
inline std::vector<std::string> Shown()
{
    std::vector<std::string> texts;
    for (const auto& b : mfc::test::MessageBoxLog())
        texts.push_back(b.text + " | " + b.caption);
    mfc::test::MessageBoxLog().clear();
    return texts;
}

// Runs `script` inside the next modal dialog with that template.
inline void ScriptTemplate(const char* name, mfc::test::ModalScript script)
{
    mfc::test::ScriptModal([name](CDialog& d) { return std::strcmp(d.GetTemplateName(), name) == 0; },
                           std::move(script));
}

#ifdef TUNEDECK_LIB
class LoadedEntry {
public:
    LoadedEntry() = default;
    LoadedEntry(const LoadedEntry&) = delete;
    LoadedEntry& operator=(const LoadedEntry&) = delete;
    ~LoadedEntry()
    {
        if (module)
            FreeLibrary(module);
    }
    bool Load(const char* entry)
    {
        module = LoadLibraryA(TUNEDECK_LIB);
        run = module ? vx_proc_cast<LaunchEntryFn>(GetProcAddress(module, entry)) : nullptr;
        return run != nullptr;
    }
    HMODULE module = nullptr;
    LaunchEntryFn run = nullptr;
};
#endif

} // namespace tdtest
