// regsvr [-u] library.so: registers (or with -u unregisters) an in-process
// server library by calling its DllRegisterServer / DllUnregisterServer.
// Exit code 0 on success, 1 on failure; the HRESULT is printed, and when the
// registry could not be saved, the file and the reason.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <com/activation.h>
#include <win32/registry.h>

int main(int argc, char** argv)
{
    bool unregister = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/u") == 0)
            unregister = true;
        else if (!path)
            path = argv[i];
        else
            path = nullptr, i = argc; // more than one library: usage
    }
    if (!path) {
        std::fprintf(stderr, "usage: regsvr [-u] library.so\n");
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    // A bare name is taken from the current folder, not the library search path.
    std::string file = std::strchr(path, '/') ? path : std::string("./") + path;
    void* lib = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "regsvr: cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    auto fn = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(lib, entry));
    if (!fn) {
        std::fprintf(stderr, "regsvr: %s has no %s\n", path, entry);
        return 1;
    }
    HRESULT hr = fn();
    std::printf("%s %s: 0x%08X\n", entry, path, static_cast<unsigned>(hr));
    if (SUCCEEDED(hr))
        return 0;
    const std::string why = vx_registry_last_save_failure();
    if (!why.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "regsvr: %s\n", why.c_str());
    }
    return 1;
}
