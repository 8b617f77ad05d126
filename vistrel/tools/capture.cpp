// vistrel_capture: runs the console unattended, for the demo and the
// end-to-end tests. It is the console program itself (same application
// object and main dialog) plus a monitor that answers message boxes, reports
// what the device list shows, and after a bounded time, or once the expected
// devices are listed, saves a picture of the main window, prints the table
// and closes the console as the user would (settings are saved).
//
//   vistrel_capture [--seconds N] [--expect N] [--filled] [--png FILE] [--table] [--watch]
//
//   --seconds N  close after N seconds at the latest (default 60)
//   --expect N   close once N devices with addresses are listed
//   --filled     ... and every poll cell of them shows a value
//   --png FILE   picture of the main window before closing
//   --table      print the device list as a text table before closing
//   --watch      print "counts ..." and "row ..." lines whenever they change
//
// Message boxes are printed as "box: <caption>: <text>" and answered with
// their default button. Exit status: the console's own (a failed server call
// ends it with 1); otherwise 0, or 3 when --expect was not met in time.
#include "VistrelApp.h"
#include "VistrelDlg.h"
#include "box_watcher.h"
#include "resource.h"

#include <mfc/qt_resources.h>
#include <mfc/test_hooks.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

CVistrelApp theApp;

namespace {

struct options_t {
    int seconds = 60;
    int expect = -1;
    bool filled = false;
    std::string png;
    bool table = false;
    bool watch = false;
};

options_t options;
int result = 0;

bool parse(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--seconds" && more)
            options.seconds = std::atoi(argv[++i]);
        else if (a == "--expect" && more)
            options.expect = std::atoi(argv[++i]);
        else if (a == "--png" && more)
            options.png = argv[++i];
        else if (a == "--filled")
            options.filled = true;
        else if (a == "--table")
            options.table = true;
        else if (a == "--watch")
            options.watch = true;
        else
            return false;
    }
    return true;
}

// The device list as rows of texts; column 0 becomes "up" or "dead".
std::vector<std::vector<std::string>> Rows(CVistrelDlg& d)
{
    CListCtrl* list = d.List();
    const int columns = list->GetHeaderCtrl()->GetItemCount();
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < list->GetItemCount(); ++r) {
        LVITEM item{};
        item.mask = LVIF_IMAGE;
        item.iItem = r;
        list->GetItem(&item);
        std::vector<std::string> row{item.iImage == d.View().OnlineImage() ? "up" : "dead"};
        for (int c = 1; c < columns; ++c)
            row.push_back(list->GetItemText(r, c).str());
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> Headers(CVistrelDlg& d)
{
    std::vector<std::string> headers;
    CHeaderCtrl* header = d.List()->GetHeaderCtrl();
    for (int c = 0; c < header->GetItemCount(); ++c) {
        char text[256] = {};
        HDITEM item{};
        item.mask = HDI_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        header->GetItem(c, &item);
        headers.push_back(c == 0 ? "State" : text);
    }
    return headers;
}

std::string Counts(CVistrelDlg& d)
{
    std::string text;
    for (int id : {IDC_DEVICE_COUNT, IDC_ACTIVE_COUNT, IDC_DEAD_COUNT}) {
        CString cell;
        d.GetDlgItemText(id, cell);
        text += (text.empty() ? "" : "  ") + cell.str();
    }
    return text;
}

void PrintTable(CVistrelDlg& d)
{
    const auto headers = Headers(d);
    const auto rows = Rows(d);
    std::vector<size_t> width(headers.size());
    for (size_t c = 0; c < headers.size(); ++c) {
        width[c] = headers[c].size();
        for (const auto& row : rows)
            width[c] = std::max(width[c], row[c].size());
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (size_t c = 0; c < cells.size(); ++c)
            text += cells[c] + std::string(c + 1 < cells.size() ? width[c] - cells[c].size() + 2 : 0, ' ');
        std::printf("%s\n", text.c_str());
    };
    line(headers);
    for (const auto& row : rows)
        line(row);
    std::printf("%s\n", Counts(d).c_str());
}

// The expected devices are listed with addresses (and values, with --filled).
bool Complete(CVistrelDlg& d)
{
    if (options.expect < 0)
        return false;
    int ready = 0;
    for (const auto& row : Rows(d)) {
        if (row[0] != "up" || row[2].empty() || row[2] == "0.0.0.0")
            continue;
        if (options.filled && std::any_of(row.begin() + 3, row.end(), [](const std::string& c) { return c.empty(); }))
            continue;
        ++ready;
    }
    return ready >= options.expect;
}

void Report(CVistrelDlg& d)
{
    static std::string lastCounts;
    static std::map<std::string, std::string> lastRows;
    const std::string counts = Counts(d);
    if (counts != lastCounts)
        std::printf("counts %s\n", (lastCounts = counts).c_str());
    for (const auto& row : Rows(d)) {
        std::string text;
        for (const auto& cell : row)
            text += " " + (cell.empty() ? std::string("-") : cell);
        if (lastRows[row[1]] != text)
            std::printf("row%s\n", (lastRows[row[1]] = text).c_str());
    }
    std::fflush(stdout);
}

void Finish(CVistrelDlg& d)
{
    if (!options.png.empty()) {
        QDialog* window = mfc::DialogWidgetOf(d);
        if (!window || !window->grab().save(QString::fromStdString(options.png), "PNG")) {
            std::fprintf(stderr, "vistrel_capture: cannot write %s\n", options.png.c_str());
            result = 4;
        }
    }
    if (options.table)
        PrintTable(d);
    std::fflush(stdout);
    d.CloseAndSave();
}

void Monitor(CVistrelDlg& d)
{
    auto* clock = new QElapsedTimer;
    clock->start();
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [&d, clock, timer] {
        if (QApplication::activeModalWidget() != mfc::DialogWidgetOf(d))
            return; // a box or dialog is up: it is answered first
        if (options.watch)
            Report(d);
        const bool complete = Complete(d);
        if (!complete && clock->elapsed() < options.seconds * 1000LL)
            return;
        timer->stop();
        if (!complete && options.expect >= 0)
            result = 3;
        Finish(d);
    });
    timer->start(200);
}

} // namespace

int main(int argc, char** argv)
{
    if (!parse(argc, argv)) {
        std::fprintf(stderr,
                     "usage: vistrel_capture [--seconds N] [--expect N] [--filled] [--png FILE] "
                     "[--table] [--watch]\n");
        return 2;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Boxes are answered from the start: a server that fails while the main
    // dialog is being built shows its fatal box before the dialog exists.
    QApplication application(argc, argv);
    WatchMessageBoxes(stdout);
    mfc::test::ScriptModal<CVistrelDlg>([](CVistrelDlg& d) { Monitor(d); });
    const int code = AfxWinMain(argc, argv);
    return code ? code : result;
}
