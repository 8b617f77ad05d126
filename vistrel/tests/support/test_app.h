// Test support for the console: one offscreen Qt application with the
// console's application object, a private settings file beside the test
// program, message boxes watched the way a user would answer them.
#pragma once

#include <gtest/gtest.h>

#include "box_watcher.h"

#include <com/ptr.h>
#include <scoutline/com/interfaces.h>

#include <functional>
#include <string>
#include <vector>

class CListCtrl;
class CVistrelApp;
class CVistrelDlg;
class CWnd;
class PollView;

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
// One tick of the main dialog's refresh timer.
void Tick(CVistrelDlg& dialog);
// What that tick does to a poll view: the walk, the devices' changes, the rows.
void Tick(PollView& view);

// The registered discovery server's adapter object, reached as the console
// reaches it: through the manager.
CComPtr<Icom_adapter> AdapterObject(const std::string& name = "eth0");

// Registers an in-process server library (its DllRegisterServer) in the
// current user registry, where the console finds it.
void RegisterServerLibrary(const char* path);

// Runs the Qt event loop until pred holds or about `ms` milliseconds passed
// (by default a bound only a fault reaches).
bool PumpUntil(const std::function<bool()>& pred, int ms = 60000);

// What a user sees of a dialog's controls.
std::string ItemText(CWnd& dialog, int id);
bool Enabled(CWnd& dialog, int id);
std::vector<std::string> ListBoxEntries(CWnd& dialog, int id);

// The message boxes shown since the last call, as "caption: text".
std::vector<std::string> TakeBoxes();

// The row whose text in `column` is `text`, -1 if none; the text of another
// column of that row ("" if none).
int RowOf(CListCtrl* list, int column, const std::string& text);
std::string CellOf(CListCtrl* list, int keyColumn, const std::string& key, int column);
// The texts of a column, row by row.
std::vector<std::string> ColumnTexts(CListCtrl* list, int column);

// Runs body on a report list control in a modal host dialog.
void WithListControl(const std::function<void(CListCtrl*)>& body);

} // namespace vistrel_test
