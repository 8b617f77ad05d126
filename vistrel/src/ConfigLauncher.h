// The launcher of the configuration library: fills the launch block from the
// shared registry settings, finds the first usable device of the selection
// through the two selection callbacks, loads the library by name, calls one of
// its entry points and frees it again; the result code becomes a message.
#pragma once

#include <prefwell/RegSettings.h>
#include <tunedeck/LaunchBlock.h>

#include <memory>

class ConfigLauncher {
public:
    // Reads the settings key afresh (its defaults when it cannot be read) and
    // fills the block from it.
    ConfigLauncher();
    ~ConfigLauncher();
    ConfigLauncher(const ConfigLauncher&) = delete;
    ConfigLauncher& operator=(const ConfigLauncher&) = delete;

    void SetGetFirst(LaunchSelectFn callback) { block.GetFirst = callback; }
    void SetGetNext(LaunchSelectFn callback) { block.GetNext = callback; }

    // "RunTunedeck" when the Config switch is set, else LAUNCH_NOT_ENABLED
    // without loading anything.
    int Configure();
    // "RunVeltrixReport".
    int Report();
    // Finds the first usable device, then loads the library, calls the entry
    // point with the block and frees the library; the result code.
    int Run(const char* entryName);

    // The message shown for a non-zero result code.
    static const char* ErrorText(int code);

    const LaunchBlock& Block() const { return block; }

    // Test seam: the library path that Run loads instead of "Tunedeck.dll";
    // null restores the name.
    static void UseLibrary(const char* path);

private:
    std::unique_ptr<CRegSettings> settings;
    LaunchBlock block{};
    // What the block's community words point at (at most 63 characters).
    char writeCommunity[REG_COMMUNITY_MAX + 1] = {};
    char readCommunity[REG_COMMUNITY_MAX + 1] = {};
};
