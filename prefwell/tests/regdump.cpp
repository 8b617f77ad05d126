// Prints the stored settings as one line (used by the tests as a second process).
#include <cstdio>

#include "prefwell/RegSettings.h"

int main()
{
    CRegSettings settings;
    unsigned result = settings.Load();
    char rd[64], wr[64];
    settings.GetReadCommunity(rd, sizeof rd);
    settings.GetWriteCommunity(wr, sizeof wr);
    std::printf("load=%04x retries=%d timeout=%d delay=%d switches=%#x mask=%#x rd=%s wr=%s\n", result,
                settings.GetRetries(), settings.GetTimeout(), settings.GetDelay(), settings.GetSwitches(),
                settings.GetSwitchMask(), rd, wr);
    return result == 0 ? 0 : 1;
}
