// Test support of the GUI test programs: their one offscreen Qt application,
// and the library loaded by name with one entry point, as the console loads it
// (TUNEDECK_LIB names the built library).
#pragma once

#include <windows.h>

#include <QApplication>
#include <gtest/gtest.h>

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
