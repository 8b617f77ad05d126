// Registers the options dialog with the dialog snapshot tool as "prefwell".
#include <dlgshot.h>

#include "PrefwellDlg.h"
#include "resource.h"

namespace {
dlgshot::Registrar prefwell("prefwell", [] {
    RegisterPrefwellResources();
    return std::make_unique<CPrefwellDlg>();
});
} // namespace
