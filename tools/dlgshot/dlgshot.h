// Dialog snapshots: programs register a factory per dialog name; the tool
// opens the dialog offscreen (OnInitDialog runs as usual, message boxes are
// answered by the test hooks), grabs it to a PNG and closes it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "afxwin.h"

namespace dlgshot {

using Factory = std::function<std::unique_ptr<CDialog>()>;

void Register(const std::string& name, Factory factory);
std::vector<std::string> Names();
// 0 on success; 2 unknown name, 3 the dialog did not open, 4 the file was not written.
int Shoot(const std::string& name, const std::string& pngPath);
// Command line: "<name> <out.png>", "--all <folder>" or "--list".
int Main(int argc, char** argv);

// Registers at static initialisation: static dlgshot::Registrar r("name", [] { ... });
struct Registrar {
    Registrar(const std::string& name, Factory factory) { Register(name, std::move(factory)); }
};

} // namespace dlgshot
