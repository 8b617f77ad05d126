#include "ConfigLauncher.h"

#include <windows.h>

#include <cstring>
#include <iterator>

namespace {

const char* const libraryName = "Tunedeck.dll";
const char* libraryOverride = nullptr;

const char* const errorTexts[] = {
    "",
    "Could Not Load DLL File",
    "Could Not Get DLL Entry Address.",
    "Class not initialized",
    "Invalid Selection",
    "Selection has no IP address.",
    "Selection is Off Line",
    "No MAC address specified",
    "No GetFirst function specified",
    "No GetNext function specified",
    "No Configuration object specified",
    "This function is not enabled",
};

} // namespace

ConfigLauncher::ConfigLauncher() : settings(std::make_unique<CRegSettings>())
{
    settings->Load(); // on failure the store holds its defaults
    block.Retries = settings->GetRetries();
    block.Timeout = settings->GetTimeout();
    block.Delay = settings->GetDelay();
    settings->GetReadCommunity(readCommunity, sizeof readCommunity);
    block.ReadCommunity = readCommunity;
    settings->GetWriteCommunity(writeCommunity, sizeof writeCommunity);
    block.WriteCommunity = writeCommunity;
    block.Switches = settings->GetSwitches();
    block.AllDevices = 0;
}

ConfigLauncher::~ConfigLauncher() = default;

int ConfigLauncher::Configure()
{
    if (!(block.Switches & LAUNCH_SWITCH_CONFIG))
        return LAUNCH_NOT_ENABLED;
    return Run("RunTunedeck");
}

int ConfigLauncher::Report() { return Run("RunVeltrixReport"); }

int ConfigLauncher::Run(const char* entryName)
{
    if (!block.GetFirst)
        return LAUNCH_NO_GETFIRST;
    if (!block.GetNext)
        return LAUNCH_NO_GETNEXT;

    // The first device of the walk; rows without an address or off line are skipped.
    const char* ip = nullptr;
    for (int r = block.GetFirst(&ip, block.AllDevices); r != LAUNCH_SELECT_DEVICE;
         r = block.GetNext(&ip, block.AllDevices)) {
        if (r == LAUNCH_SELECT_END)
            return LAUNCH_INVALID_SELECTION;
    }
    const size_t length = ip ? strnlen(ip, LAUNCH_IP_MAX) : LAUNCH_IP_MAX;
    if (length >= LAUNCH_IP_MAX)
        return LAUNCH_NO_IP;
    char address[LAUNCH_IP_MAX];
    std::memcpy(address, ip, length + 1);

    HMODULE library = LoadLibraryA(libraryOverride ? libraryOverride : libraryName);
    if (!library)
        return LAUNCH_LOAD_FAILED;
    auto entry = vx_proc_cast<LaunchEntryFn>(GetProcAddress(library, entryName));
    if (!entry) {
        FreeLibrary(library);
        return LAUNCH_NO_ENTRY;
    }
    block.IpAddress = address;
    const int result = entry(&block);
    block.IpAddress = nullptr; // the copy ends with this call
    FreeLibrary(library);
    return result;
}

const char* ConfigLauncher::ErrorText(int code)
{
    if (code > 0 && code < static_cast<int>(std::size(errorTexts)))
        return errorTexts[code];
    return "Initialization Error";
}

void ConfigLauncher::UseLibrary(const char* path) { libraryOverride = path; }
