#include "dlgshot.h"

#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "mfc/qt_resources.h"
#include "mfc/test_hooks.h"

namespace dlgshot {
namespace {
std::map<std::string, Factory>& Table()
{
    static std::map<std::string, Factory> t;
    return t;
}
} // namespace

void Register(const std::string& name, Factory factory) { Table()[name] = std::move(factory); }

std::vector<std::string> Names()
{
    std::vector<std::string> out;
    for (const auto& e : Table())
        out.push_back(e.first);
    return out;
}

int Shoot(const std::string& name, const std::string& pngPath)
{
    auto it = Table().find(name);
    if (it == Table().end())
        return 2;
    mfc::test::ScopedHooks hooks; // no box or picker may block an unattended run
    std::unique_ptr<CDialog> dlg = it->second();
    if (!dlg)
        return 3;
    bool saved = false;
    bool opened = false;
    CDialog* target = dlg.get();
    mfc::test::ScriptModal([target](CDialog& d) { return &d == target; },
                           [&](CDialog& d) {
                               opened = true;
                               QDialog* q = mfc::DialogWidgetOf(d);
                               if (q) {
                                   QApplication::processEvents();
                                   saved = q->grab().save(QString::fromStdString(pngPath), "PNG");
                               }
                               d.EndDialog(IDCANCEL);
                           });
    INT_PTR rc = dlg->DoModal();
    if (rc == -1 || !opened)
        return 3;
    return saved ? 0 : 4;
}

int Main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int s_argc;
    s_argc = argc;
    std::unique_ptr<QApplication> app;
    if (!qApp)
        app = std::make_unique<QApplication>(s_argc, argv);
    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const auto& n : Names())
            std::printf("%s\n", n.c_str());
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--all") {
        int worst = 0;
        for (const auto& n : Names()) {
            int rc = Shoot(n, std::string(argv[2]) + "/" + n + ".png");
            if (rc)
                std::fprintf(stderr, "dlgshot: %s: failed (%d)\n", n.c_str(), rc);
            worst = std::max(worst, rc);
        }
        return worst;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <dialog> <out.png> | --all <folder> | --list\n", argv[0]);
        return 1;
    }
    int rc = Shoot(argv[1], argv[2]);
    if (rc == 2)
        std::fprintf(stderr, "dlgshot: no dialog named \"%s\"\n", argv[1]);
    else if (rc)
        std::fprintf(stderr, "dlgshot: %s: failed (%d)\n", argv[1], rc);
    return rc;
}

} // namespace dlgshot
