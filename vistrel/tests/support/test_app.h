// Test support for the console: one offscreen Qt application with the
// console's application object, a private settings file beside the test
// program, message boxes watched the way a user would answer them.
#pragma once

#include <gtest/gtest.h>

#include "box_watcher.h"

#include <functional>
#include <string>
#include <vector>

class CVistrelApp;
class CVistrelDlg;

namespace vistrel_test {

// The application object of the test program (resources loaded).
CVistrelApp& App();

// Replaces "vistrel.ini" beside the test program with the given text, and
// removes it and "vistrel.log" again at scope end.
class ScopedIni {
public:
    explicit ScopedIni(const std::string& text = std::string());
    ~ScopedIni();
    ScopedIni(const ScopedIni&) = delete;
    ScopedIni& operator=(const ScopedIni&) = delete;

    static std::string Path();
    static std::string Read(); // the file's whole text now
};


// Runs the main dialog modally with `script` inside its loop, then ends it.
void RunMainDialog(const std::function<void(CVistrelDlg&)>& script);

// Registers an in-process server library (its DllRegisterServer) in the
// current user registry, where the console finds it.
void RegisterServerLibrary(const char* path);

// Runs the Qt event loop until pred holds or about `ms` milliseconds passed.
bool PumpUntil(const std::function<bool()>& pred, int ms = 10000);

} // namespace vistrel_test
