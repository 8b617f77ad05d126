// Command targets, message maps, windows, dialogs, the application object and
// dialog data exchange. Windows are Qt widgets; an HWND is the widget's address
// and is checked against the live widgets before use.
#pragma once

#include <memory>

#include "mfc/cstring.h"
#include "mfc/winui.h"

class CCmdTarget;
class CWnd;
class CMenu;
class CDataExchange;

namespace mfc {
// One message-map entry. `fn` adapts the stored member function to a uniform
// call: (object, wParam, lParam, control id) -> result.
using MsgThunk = LRESULT (*)(CCmdTarget*, WPARAM, LPARAM, UINT);
struct MsgMapEntry {
    UINT message; // WM_COMMAND, WM_NOTIFY, WM_TIMER, ... (0 ends the table)
    UINT code;    // notification code for WM_COMMAND / WM_NOTIFY
    UINT idFirst;
    UINT idLast;
    MsgThunk fn;
};
struct MsgMap {
    const MsgMap* (*base)();
    const MsgMapEntry* entries;
};
} // namespace mfc

// Geometry helpers
class CPoint : public POINT {
public:
    CPoint() : POINT{0, 0} {}
    CPoint(int x_, int y_) : POINT{x_, y_} {}
    CPoint(POINT p) : POINT(p) {}
    bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
    bool operator!=(const CPoint& o) const { return !(*this == o); }
};
class CSize : public SIZE {
public:
    CSize() : SIZE{0, 0} {}
    CSize(int cx_, int cy_) : SIZE{cx_, cy_} {}
};
class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
    bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    void SetRect(int l, int t, int r, int b)
    {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void OffsetRect(int dx, int dy)
    {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    void DeflateRect(int dx, int dy)
    {
        left += dx;
        right -= dx;
        top += dy;
        bottom -= dy;
    }
    void InflateRect(int dx, int dy) { DeflateRect(-dx, -dy); }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
    bool operator==(const CRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Runs the handler of a command (nCode = notification code, 0 for menus and
    // accelerators) from this object's message map chain. TRUE when handled.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo);

    void BeginWaitCursor();
    void EndWaitCursor();
    void RestoreWaitCursor();

    // The first entry in the map chain for (message, code, id), or null.
    const mfc::MsgMapEntry* FindMessageEntry(UINT message, UINT code, UINT id) const;

protected:
    static const mfc::MsgMap* GetThisMessageMap();
    virtual const mfc::MsgMap* GetMessageMap() const;
};

#define afx_msg

#define DECLARE_MESSAGE_MAP()                                                                                          \
protected:                                                                                                             \
    static const ::mfc::MsgMap* GetThisMessageMap();                                                                   \
    const ::mfc::MsgMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                                         \
    const ::mfc::MsgMap* theClass::GetMessageMap() const { return GetThisMessageMap(); }                               \
    const ::mfc::MsgMap* theClass::GetThisMessageMap()                                                                 \
    {                                                                                                                  \
        typedef theClass ThisClass;                                                                                    \
        typedef baseClass TheBaseClass;                                                                                \
        static_cast<void>(static_cast<ThisClass*>(nullptr));                                                           \
        static const ::mfc::MsgMapEntry _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                              \
    {                                                                                                                  \
        0, 0, 0, 0, nullptr                                                                                            \
    }                                                                                                                  \
    }                                                                                                                  \
    ;                                                                                                                  \
    static const ::mfc::MsgMap messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};                   \
    return &messageMap;                                                                                                \
    }

#define MFC_THIS(t) static_cast<ThisClass*>(t)

// Handlers are named by member pointer, e.g. ON_COMMAND(ID_X, &CMyDlg::OnX).
#define ON_COMMAND(id, memberFxn)                                                                                      \
    {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id), [](CCmdTarget* t, WPARAM, LPARAM, UINT) -> LRESULT { \
         (MFC_THIS(t)->*(memberFxn))();                                                                                \
         return 0;                                                                                                     \
     }},
#define ON_COMMAND_RANGE(id, idLast, memberFxn)                                                                        \
    {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(idLast),                                                  \
     [](CCmdTarget* t, WPARAM, LPARAM, UINT i) -> LRESULT {                                                            \
         (MFC_THIS(t)->*(memberFxn))(i);                                                                               \
         return 0;                                                                                                     \
     }},
#define ON_CONTROL(code, id, memberFxn)                                                                                \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id),                                \
     [](CCmdTarget* t, WPARAM, LPARAM, UINT) -> LRESULT {                                                              \
         (MFC_THIS(t)->*(memberFxn))();                                                                                \
         return 0;                                                                                                     \
     }},
#define ON_CONTROL_RANGE(code, id, idLast, memberFxn)                                                                  \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(idLast),                            \
     [](CCmdTarget* t, WPARAM, LPARAM, UINT i) -> LRESULT {                                                            \
         (MFC_THIS(t)->*(memberFxn))(i);                                                                               \
         return 0;                                                                                                     \
     }},
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_BN_DOUBLECLICKED(id, memberFxn) ON_CONTROL(BN_DOUBLECLICKED, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ON_CONTROL(EN_CHANGE, id, memberFxn)
#define ON_EN_KILLFOCUS(id, memberFxn) ON_CONTROL(EN_KILLFOCUS, id, memberFxn)
#define ON_CBN_SELCHANGE(id, memberFxn) ON_CONTROL(CBN_SELCHANGE, id, memberFxn)
#define ON_CBN_EDITCHANGE(id, memberFxn) ON_CONTROL(CBN_EDITCHANGE, id, memberFxn)
#define ON_LBN_SELCHANGE(id, memberFxn) ON_CONTROL(LBN_SELCHANGE, id, memberFxn)
#define ON_LBN_DBLCLK(id, memberFxn) ON_CONTROL(LBN_DBLCLK, id, memberFxn)
#define ON_NOTIFY(code, id, memberFxn)                                                                                 \
    {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id),                                 \
     [](CCmdTarget* t, WPARAM, LPARAM l, UINT) -> LRESULT {                                                            \
         LRESULT r = 0;                                                                                                \
         (MFC_THIS(t)->*(memberFxn))(reinterpret_cast<NMHDR*>(l), &r);                                                 \
         return r;                                                                                                     \
     }},
#define ON_NOTIFY_RANGE(code, id, idLast, memberFxn)                                                                   \
    {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(idLast),                             \
     [](CCmdTarget* t, WPARAM, LPARAM l, UINT i) -> LRESULT {                                                          \
         LRESULT r = 0;                                                                                                \
         (MFC_THIS(t)->*(memberFxn))(i, reinterpret_cast<NMHDR*>(l), &r);                                              \
         return r;                                                                                                     \
     }},
#define ON_MESSAGE(message, memberFxn)                                                                                 \
    {static_cast<UINT>(message), 0, 0, 0,                                                                              \
     [](CCmdTarget* t, WPARAM w, LPARAM l, UINT) -> LRESULT { return (MFC_THIS(t)->*(memberFxn))(w, l); }},
#define ON_WM_TIMER()                                                                                                  \
    {WM_TIMER, 0, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM, UINT) -> LRESULT {                                         \
         MFC_THIS(t)->OnTimer(static_cast<UINT_PTR>(w));                                                               \
         return 0;                                                                                                     \
     }},
#define ON_WM_CLOSE()                                                                                                  \
    {WM_CLOSE, 0, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM, UINT) -> LRESULT {                                           \
         MFC_THIS(t)->OnClose();                                                                                       \
         return 0;                                                                                                     \
     }},
#define ON_WM_DESTROY()                                                                                                \
    {WM_DESTROY, 0, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM, UINT) -> LRESULT {                                         \
         MFC_THIS(t)->OnDestroy();                                                                                     \
         return 0;                                                                                                     \
     }},
#define ON_WM_PAINT()                                                                                                  \
    {WM_PAINT, 0, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM, UINT) -> LRESULT {                                           \
         MFC_THIS(t)->OnPaint();                                                                                       \
         return 0;                                                                                                     \
     }},
#define ON_WM_QUERYDRAGICON()                                                                                          \
    {WM_QUERYDRAGICON, 0, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM, UINT) -> LRESULT {                                   \
         return reinterpret_cast<LRESULT>(MFC_THIS(t)->OnQueryDragIcon());                                             \
     }},
#define ON_WM_SYSCOMMAND()                                                                                             \
    {WM_SYSCOMMAND, 0, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l, UINT) -> LRESULT {                                  \
         MFC_THIS(t)->OnSysCommand(static_cast<UINT>(w), l);                                                           \
         return 0;                                                                                                     \
     }},
#define ON_WM_SIZE()                                                                                                   \
    {WM_SIZE, 0, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l, UINT) -> LRESULT {                                        \
         MFC_THIS(t)->OnSize(static_cast<UINT>(w), LOWORD(l), HIWORD(l));                                              \
         return 0;                                                                                                     \
     }},
#define ON_WM_CONTEXTMENU()                                                                                            \
    {WM_CONTEXTMENU, 0, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l, UINT) -> LRESULT {                                 \
         MFC_THIS(t)->OnContextMenu(CWnd::FromHandle(reinterpret_cast<HWND>(w)),                                       \
                                    CPoint(GET_X_LPARAM(l), GET_Y_LPARAM(l)));                                         \
         return 0;                                                                                                     \
     }},

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    CWnd();
    ~CWnd() override;

    // The object attached to the window, else a wrapper of the control's class
    // owned by the window (valid while the window lives). Null for a dead handle.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);
    HWND GetSafeHwnd() const;
    operator HWND() const { return GetSafeHwnd(); }
    BOOL Attach(HWND hWnd);
    HWND Detach();
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    virtual BOOL DestroyWindow();

    // Creates a child control of the given window class ("Button", "Edit",
    // "Static", "ComboBox", "ListBox", "SysListView32", ...) at a pixel rectangle.
    BOOL CreateControl(LPCTSTR lpszClass, LPCTSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParent, UINT nID,
                       DWORD dwExStyle = 0);

    void SetWindowText(LPCTSTR lpszString);
    int GetWindowText(LPTSTR lpszString, int nMaxCount) const;
    void GetWindowText(CString& rString) const;
    int GetWindowTextLength() const;

    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    BOOL IsZoomed() const;
    CWnd* SetFocus();
    static CWnd* GetFocus();
    CWnd* GetDlgItem(int nID) const;
    int GetDlgCtrlID() const;
    int SetDlgCtrlID(int nID);
    CWnd* GetParent() const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;

    void GetWindowRect(LPRECT lpRect) const;
    void GetClientRect(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const;
    void ScreenToClient(LPRECT lpRect) const;
    void ClientToScreen(LPPOINT lpPoint) const;
    void ClientToScreen(LPRECT lpRect) const;
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE);
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    void CenterWindow(CWnd* pAlternateOwner = nullptr);
    void Invalidate(BOOL bErase = TRUE);
    void UpdateWindow();
    void SetRedraw(BOOL bRedraw = TRUE);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Periods are clamped to USER_TIMER_MINIMUM..USER_TIMER_MAXIMUM; setting an
    // id again replaces its timer. Timers keep running under nested modal loops.
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
    BOOL KillTimer(UINT_PTR nIDEvent);
    int MessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption = nullptr, UINT nType = MB_OK);

    void SetDlgItemText(int nID, LPCTSTR lpszString);
    int GetDlgItemText(int nID, LPTSTR lpStr, int nMaxCount) const;
    int GetDlgItemText(int nID, CString& rString) const;
    UINT GetDlgItemInt(int nID, BOOL* lpTrans = nullptr, BOOL bSigned = TRUE) const;
    void SetDlgItemInt(int nID, UINT nValue, BOOL bSigned = TRUE);
    void CheckDlgButton(int nIDButton, UINT nCheck);
    UINT IsDlgButtonChecked(int nIDButton) const;
    void CheckRadioButton(int nIDFirstButton, int nIDLastButton, int nIDCheckButton);
    int GetCheckedRadioButton(int nIDFirstButton, int nIDLastButton);

    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    HICON GetIcon(BOOL bBigIcon) const;
    CMenu* GetMenu() const;
    void DrawMenuBar();

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT);
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // Default handlers, called by derived handlers for the default behaviour.
    afx_msg void OnTimer(UINT_PTR nIDEvent);
    afx_msg void OnClose();
    afx_msg void OnDestroy();
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnSize(UINT nType, int cx, int cy);
    afx_msg void OnContextMenu(CWnd* pWnd, CPoint point);

    DECLARE_MESSAGE_MAP()
};

// Free Win32 window functions over the same windows.
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
LRESULT SendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL SetWindowText(HWND hWnd, LPCSTR lpString);
int GetWindowText(HWND hWnd, LPSTR lpString, int nMaxCount);
BOOL EnableWindow(HWND hWnd, BOOL bEnable);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL IsWindow(HWND hWnd);
int MessageBox(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
BOOL MessageBeep(UINT uType);
BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint);
BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint);
BOOL MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT uFlags);
// Batched moves: applied together by EndDeferWindowPos.
struct HDWP__;
typedef HDWP__* HDWP;
HDWP BeginDeferWindowPos(int nNumWindows);
HDWP DeferWindowPos(HDWP hWinPosInfo, HWND hWnd, HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT uFlags);
BOOL EndDeferWindowPos(HDWP hWinPosInfo);
inline LRESULT SendMessageA(HWND h, UINT m, WPARAM w, LPARAM l) { return SendMessage(h, m, w, l); }
inline BOOL PostMessageA(HWND h, UINT m, WPARAM w, LPARAM l) { return PostMessage(h, m, w, l); }
inline BOOL SetWindowTextA(HWND h, LPCSTR s) { return SetWindowText(h, s); }
inline int MessageBoxA(HWND h, LPCSTR t, LPCSTR c, UINT u) { return MessageBox(h, t, c, u); }

namespace mfc::detail {
struct DialogState;
}

class CDialog : public CWnd {
public:
    CDialog();
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    explicit CDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Builds the window from the template, runs OnInitDialog and the modal loop,
    // then destroys the window. Returns the EndDialog value, or -1 when the
    // template does not exist.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    void GotoDlgCtrl(CWnd* pWndCtrl);
    void NextDlgCtrl() const;
    void PrevDlgCtrl() const;
    void SetDefID(UINT nID);
    DWORD GetDefID() const;
    void MapDialogRect(LPRECT lpRect) const;

    UINT GetTemplateID() const { return m_nIDTemplate; }
    const char* GetTemplateName() const;

    CWnd* m_pParentWnd = nullptr;
    UINT m_nIDHelp = 0;

protected:
    UINT m_nIDTemplate = 0;

private:
    friend struct mfc::detail::DialogState;
    std::string m_templateName;
    std::unique_ptr<mfc::detail::DialogState> m_state;

    DECLARE_MESSAGE_MAP()
};

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCTSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    virtual int Run();
    // Called for every key press in a window of this application before the
    // window sees it (code MSGF_DIALOGBOX inside modal dialogs); TRUE eats it.
    virtual BOOL ProcessMessageFilter(int code, LPMSG lpMsg);

    HICON LoadIcon(UINT nIDResource) const;
    HICON LoadIcon(LPCTSTR lpszResourceName) const;
    HICON LoadStandardIcon(LPCTSTR lpszIconName) const;
    BOOL Enable3dControls() { return TRUE; }
    BOOL Enable3dControlsStatic() { return TRUE; }
    void SetRegistryKey(LPCTSTR) {}

    afx_msg void OnHelp();

    CWnd* m_pMainWnd = nullptr;
    LPCTSTR m_pszAppName = nullptr;
    LPCTSTR m_pszExeName = nullptr;
    HINSTANCE m_hInstance = nullptr;
    LPTSTR m_lpCmdLine = nullptr;

private:
    std::string m_appName;
    std::string m_exeName;
    std::string m_cmdLine;
    friend int AfxWinMain(int argc, char** argv);

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
LPCTSTR AfxGetAppName();
inline BOOL AfxEnableControlContainer() { return TRUE; }
// The program's entry: `int main(int argc, char** argv) { return AfxWinMain(argc, argv); }`
// creates the Qt application, runs theApp.InitInstance and, when that returns
// TRUE, the event loop.
int AfxWinMain(int argc, char** argv);
int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// Dialog data exchange
class CUserException {};
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    HWND PrepareCtrl(int nIDC);
    HWND PrepareEditCtrl(int nIDC);
    // Shows nothing itself; puts the focus back on the last prepared control and
    // ends the exchange (UpdateData returns FALSE).
    [[noreturn]] void Fail();
    int m_idLastControl = 0;
    BOOL m_bEditLastControl = FALSE;
};

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
void DDX_Text(CDataExchange* pDX, int nIDC, UINT& value);
void DDX_Text(CDataExchange* pDX, int nIDC, long& value);
void DDX_Text(CDataExchange* pDX, int nIDC, double& value);
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
void DDX_Radio(CDataExchange* pDX, int nIDC, int& value);
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);
void DDX_CBString(CDataExchange* pDX, int nIDC, CString& value);
void DDX_LBIndex(CDataExchange* pDX, int nIDC, int& index);
void DDX_LBString(CDataExchange* pDX, int nIDC, CString& value);
void DDV_MaxChars(CDataExchange* pDX, const CString& value, int nChars);
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);
void DDV_MinMaxUInt(CDataExchange* pDX, UINT value, UINT minVal, UINT maxVal);
void DDV_MinMaxLong(CDataExchange* pDX, long value, long minVal, long maxVal);
void DDV_MinMaxDWord(CDataExchange* pDX, DWORD value, DWORD minVal, DWORD maxVal);
void DDV_MinMaxDouble(CDataExchange* pDX, const double& value, double minVal, double maxVal);

class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    void Restore();

private:
    bool active_ = true;
};
