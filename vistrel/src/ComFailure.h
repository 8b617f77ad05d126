// The console's one policy for failed calls into its servers: the caller's
// text and the server's error text go to the log and a message box, then the
// program ends.
#pragma once

#include <comdef.h>

#include <qm/log_file.h>

#include <string>

// The process-wide console log ("vistrel.log" once logging is switched on).
LogFile& ConsoleLog();

// The error's own text: the server's description when the error carries one,
// else the system text of the HRESULT.
std::string ComErrorText(const _com_error& error);

// Stops the main window's timer, writes text + error text to the log, shows
// it in a message box and leaves the process with status 1, without running
// static destructors under the servers' live threads. A second failure while
// the box is up is logged and ends the process at once (no stacked boxes).
[[noreturn]] void ReportComError(const _com_error& error, std::string text);

// True from the first ReportComError on: timer handlers stand down.
bool FatalErrorInProgress();
