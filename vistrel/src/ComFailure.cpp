#include "ComFailure.h"

#include <afxwin.h>

#include <qm/console.h>

#include <cstdio>
#include <unistd.h>

namespace {

bool fatal_in_progress = false;

[[noreturn]] void leave()
{
    qm::console().flush();
    std::fflush(nullptr);
    _exit(1);
}

} // namespace

LogFile& ConsoleLog()
{
    static LogFile log;
    return log;
}

std::string ComErrorText(const _com_error& error)
{
    const _bstr_t description = error.Description();
    if (description.length() != 0)
        return static_cast<const char*>(description);
    return error.ErrorMessage();
}

bool FatalErrorInProgress() { return fatal_in_progress; }

void ReportComError(const _com_error& error, std::string text)
{
    const std::string message = text + ComErrorText(error);
    if (fatal_in_progress) {
        ConsoleLog().Write(message);
        leave();
    }
    fatal_in_progress = true;
    if (CWnd* main = AfxGetMainWnd(); main && main->GetSafeHwnd())
        main->KillTimer(1);
    ConsoleLog().Write(message);
    AfxMessageBox(message.c_str(), MB_OK);
    leave();
}
