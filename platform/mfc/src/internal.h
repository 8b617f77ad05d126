// Internals of the dialog layer: the per-window record kept beside each
// widget, the Qt widgets behind the controls, and the dispatch helpers.
#pragma once

#include <QAbstractTableModel>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "afxcmn.h"
#include "afxdlgs.h"
#include "mfc/qt_resources.h"
#include "mfc/resources.h"

namespace mfc::detail {

enum class Kind {
    Window,
    Dialog,
    Static,
    Button,
    Edit,
    Combo,
    ListBox,
    ListView,
    Header,
    IpAddress,
    Progress,
    Animate
};

struct DialogState;

// One per window of the layer, a child object of its widget.
class WindowData : public QObject {
public:
    WindowData(QWidget* w, Kind kind, int id, DWORD style, DWORD exStyle);
    ~WindowData() override;

    QWidget* w;
    Kind kind;
    int id;
    DWORD style;
    DWORD exStyle;
    CWnd* permanent = nullptr;     // attached object with a message map (dialog, DDX_Control member)
    std::unique_ptr<CWnd> wrapper; // typed wrapper handed out by FromHandle
    std::vector<CWnd*> attached;   // every CWnd whose m_hWnd is this window
    std::map<UINT_PTR, QTimer*> timers;
    int quiet = 0;    // >0 while the layer itself changes the control
    std::string text; // statics: the text as set (with '&')
    HICON icons[2] = {nullptr, nullptr};
    HBITMAP bitmap = nullptr;
    DialogState* dialog = nullptr; // Kind::Dialog
};

struct Quiet {
    explicit Quiet(WindowData* d) : d_(d)
    {
        if (d_)
            ++d_->quiet;
    }
    ~Quiet()
    {
        if (d_)
            --d_->quiet;
    }
    WindowData* d_;
};

WindowData* DataOf(HWND h);
WindowData* DataOf(const QWidget* w);
inline HWND HandleOf(const QWidget* w) { return reinterpret_cast<HWND>(const_cast<QWidget*>(w)); }
QWidget* Live(HWND h);
void Attach(CWnd* wnd, WindowData* d);
void Detach(CWnd* wnd);
WindowData* NearestData(QWidget* w);  // the widget's own record or its nearest ancestor's
WindowData* DialogDataOf(QWidget* w); // the record of the dialog the widget belongs to
std::unique_ptr<CWnd> MakeWrapper(Kind kind);
QWidget* CreateControlWidget(const std::string& cls, const std::string& text, int id, DWORD style, DWORD exStyle,
                             const QRect& px, QWidget* parent, DialogState* st);

bool OnGuiThread();
// Runs f on the GUI thread and waits for it, as SendMessage from another
// thread does. The wait is a std::promise, so race checkers see the hand-over.
template <class F> auto OnGui(F&& f) -> decltype(f())
{
    using R = decltype(f());
    if (OnGuiThread())
        return f();
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                f();
                done.set_value();
            },
            Qt::QueuedConnection);
        finished.wait();
    } else {
        R r{};
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                r = f();
                done.set_value();
            },
            Qt::QueuedConnection);
        finished.wait();
        return r;
    }
}

// Message delivery on the GUI thread.
LRESULT Send(HWND h, UINT msg, WPARAM w, LPARAM l);
LRESULT ControlProc(WindowData* d, UINT msg, WPARAM w, LPARAM l);
// WM_COMMAND with a notification code from a control to its dialog.
void NotifyCommand(QWidget* control, UINT code);
// WM_NOTIFY from a control to its dialog (hwndFrom/idFrom filled in).
LRESULT NotifyParent(QWidget* control, NMHDR* hdr, UINT code);

// Text conversions.
inline QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline QString Q(const char* s) { return QString::fromUtf8(s ? s : ""); }
inline std::string S(const QString& q) { return q.toStdString(); }
std::string StripMnemonic(const std::string& s);
int CopyOut(const std::string& s, char* buf, int max); // GetWindowText-style copy; returns length copied

// Wait cursor bookkeeping (suspended across modal dialogs).
int SuspendWaitCursors();
void ResumeWaitCursors(int n);

// Key handling shared by the application filter and the tests.
void EnsureKeyFilter();
UINT VirtualKeyOf(int qtKey);
int QtKeyOf(UINT vk);

// Dialogs.
class VxDialog;
struct DialogState {
    CDialog* owner = nullptr;
    QPointer<VxDialog> dlg;
    QWidget* client = nullptr;
    std::vector<QPointer<QWidget>> controls; // creation order
    QFont font;
    SIZE base{8, 16};
    int result = IDCANCEL;
    bool ended = false;
    bool inLoop = false;
    bool initialised = false;
    UINT defId = IDOK;
    std::unique_ptr<CMenu> menu;
    class QMenuBar* menuBar = nullptr;
};
class VxDialog : public QDialog {
public:
    VxDialog(QWidget* parent, DialogState* st) : QDialog(parent), st_(st) {}
    DialogState* st_;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
};
QWidget* FindControl(DialogState* st, int id);
std::vector<QWidget*> RadioGroupOf(DialogState* st, QWidget* radio);
void RebuildMenuBar(DialogState* st);

// Menus.
struct MenuData;
bool IsMenu(HMENU h);

// Image lists and icons.
struct ImageListData {
    int cx = 16, cy = 16;
    std::vector<QIcon> icons;
};
bool IsImageList(HIMAGELIST h);
struct IconData {
    QIcon icon;
};
struct BitmapData {
    QPixmap pixmap;
};

// List view.
class ListModel : public QAbstractTableModel {
public:
    struct Row {
        std::vector<std::string> text;
        int image = -1;
        LPARAM data = 0;
    };
    struct Col {
        std::string text;
        int fmt = LVCFMT_LEFT;
    };
    std::vector<Row> rows;
    std::vector<Col> cols;
    HIMAGELIST small = nullptr;

    int rowCount(const QModelIndex& p = QModelIndex()) const override;
    int columnCount(const QModelIndex& p = QModelIndex()) const override;
    QVariant data(const QModelIndex& idx, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& idx) const override;
    const std::string& Cell(int r, int c) const;
    bool SetCell(int r, int c, const std::string& s);
    void InsertCol(int at, Col col);
    void RemoveCol(int at);
    void InsertRow(int at, Row row);
    void RemoveRow(int at);
    void Clear();
    void Permute(const std::vector<int>& order); // order[newRow] = oldRow
    void ImagesChanged();
};

class VxHeader;
class VxListView : public QTreeView {
public:
    VxListView(QWidget* parent, DWORD style);
    ListModel* model_ = nullptr;
    VxHeader* header_ = nullptr;
    DWORD exStyle_ = 0;
    QPointer<QLineEdit> editor_;
    int editRow_ = -1;
    bool ending_ = false;
    bool skipClick_ = false;

    int RowAt(const QPoint& viewportPos) const;
    int ColumnHint(int c) { return sizeHintForColumn(c); }
    bool IsSelected(int row) const;
    void BeginEdit(int row);
    void EndEdit(bool commit);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;
};

class VxHeader : public QHeaderView {
public:
    explicit VxHeader(VxListView* list);
    std::vector<int> pending_; // sections resized by the user's drag
    bool dragging_ = false;    // the left button went down on the header

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
};

// IP address control.
class VxIpEdit : public QWidget {
public:
    explicit VxIpEdit(QWidget* parent);
    QLineEdit* field[4];
    int Count() const;
    DWORD Value() const;
    void SetValue(DWORD v);
    void Clear();
    void SetRange(int i, int lo, int hi);
    // What a reader of the address sees: a field out of its range is told
    // first (a read inside the control's own notification is not).
    void CheckFields();

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void Enter(int i, bool advanced); // focus field i with its text selected
    // A typed value out of the field's range: the user is told the range, the
    // field takes the nearest bound and the focus, its text selected. False then.
    bool CheckField(int i);
    int advanced_ = -1; // field entered by the auto-advance, nothing typed there yet
    int lo_[4] = {0, 0, 0, 0};
    int hi_[4] = {255, 255, 255, 255};
    bool notifying_ = false;
};

// Busy animation.
class VxAnimate : public QWidget {
public:
    explicit VxAnimate(QWidget* parent);
    QTimer timer;
    int frame = 0;
    bool open = false;

protected:
    void paintEvent(QPaintEvent*) override;
};

// Multi-line edit: Enter goes to the dialog unless ES_WANTRETURN.
class VxTextEdit : public QPlainTextEdit {
public:
    VxTextEdit(QWidget* parent, DWORD style) : QPlainTextEdit(parent), style_(style) {}
    DWORD style_;

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

// Test-hook state shared by the hook functions and the layer.
struct Hooks {
    bool installed = false;
};
Hooks& HookState();
bool RunModalScript(CDialog& dlg); // queues the matching script; true when one was found
bool AnswerMessageBox(const std::string& text, const std::string& caption, UINT type, int* answer);
bool AnswerFile(bool folder, bool open, const std::string& title, const std::string& initial, const std::string& filter,
                std::string* path, bool* ok);
bool AnswerPopup(const std::vector<std::string>& items, int x, int y, UINT* id);
void RecordModal(CDialog& dlg);

} // namespace mfc::detail
