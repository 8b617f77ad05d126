// Strings, clipboard, file and folder pickers, the wait cursor.
#include <QClipboard>
#include <QGuiApplication>
#include <cstring>

#include "qt_app.h"
#include "shlobj.h"

TEST(CString, SubsetBehavesAsTheProgramsExpect)
{
    CString s;
    EXPECT_TRUE(s.IsEmpty());
    s.Format("%d device(s) successfully updated. \r\n", 3);
    EXPECT_EQ(s.GetLength(), 36);
    EXPECT_EQ(s.Left(1), "3");
    EXPECT_EQ(s.Mid(2, 6), "device");
    EXPECT_EQ(s.Mid(100), "");
    EXPECT_EQ(s.Right(2), "\r\n");
    EXPECT_EQ(s.Left(-3), "");
    EXPECT_EQ(s.Find(" -- [ "), -1);
    EXPECT_EQ(s.Find('d'), 2);
    EXPECT_EQ(s.Find('d', 3), 27);
    CString t("  Mixed Case\t ");
    t.TrimLeft();
    t.TrimRight();
    EXPECT_EQ(t, "Mixed Case");
    t.MakeUpper();
    EXPECT_EQ(t, "MIXED CASE");
    EXPECT_EQ(t.CompareNoCase("mixed case"), 0);
    EXPECT_LT(CString("abc").Compare("abd"), 0);
    EXPECT_STREQ(static_cast<const char*>(t), "MIXED CASE");
    char* buf = t.GetBuffer(64);
    std::strcpy(buf, "rewritten");
    t.ReleaseBuffer();
    EXPECT_EQ(t, "rewritten");
    EXPECT_EQ(t.GetLength(), 9);
    buf = t.GetBuffer(3);
    t.ReleaseBuffer(3);
    EXPECT_EQ(t, "rew");
    CString big;
    big.Format("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(big.GetLength(), 5000);
    EXPECT_EQ(CString("a") + "b" + CString("c"), "abc");
    CString r("a.b.c");
    EXPECT_EQ(r.Replace(".", "::"), 2);
    EXPECT_EQ(r, "a::b::c");
    EXPECT_EQ(r.ReverseFind(':'), 5);
}

TEST(Clipboard, TextGoesThroughAsGivenAndTheClipboardOwnsTheBlock)
{
    TestApp();
    const char text[] = "\"MAC\",\"IP\",\r\n\"00:01\",\"10.0.0.1\",\r\n";
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_FALSE(OpenClipboard(nullptr)); // already open
    ASSERT_TRUE(EmptyClipboard());
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, sizeof(text) + 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), sizeof(text) + 1);
    std::memcpy(GlobalLock(h), text, sizeof(text));
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(SetClipboardData(CF_TEXT, h), h);
    ASSERT_TRUE(CloseClipboard());
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), text);
    EXPECT_FALSE(EmptyClipboard()); // closed
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));
    HANDLE got = GetClipboardData(CF_TEXT);
    ASSERT_NE(got, nullptr);
    EXPECT_STREQ(static_cast<const char*>(GlobalLock(got)), text);
    GlobalUnlock(got);
    CloseClipboard();
}

TEST(FileDialogs, FilePickerHookSeesLinuxPathsAndAnswers)
{
    mfc::test::ScopedHooks hooks;
    mfc::test::PushFileAnswer(std::string("/opt/fw/DataBase.ini"));
    mfc::test::PushFileAnswer(std::nullopt);
    CFileDialog open(TRUE, "*.ini", "/home/u/firmware\\database.ini", OFN_HIDEREADONLY,
                     "firmware database files (database.ini)|database.ini||");
    ASSERT_EQ(open.DoModal(), IDOK);
    EXPECT_EQ(open.GetPathName(), "/opt/fw/DataBase.ini");
    EXPECT_EQ(open.GetFileName(), "DataBase.ini");
    EXPECT_EQ(open.GetFileExt(), "ini");
    EXPECT_EQ(open.GetFolderPath(), "/opt/fw");
    ASSERT_EQ(mfc::test::PickerLog().size(), 1u);
    EXPECT_EQ(mfc::test::PickerLog()[0].initial, "/home/u/firmware/database.ini");
    EXPECT_EQ(mfc::test::PickerLog()[0].filter, "firmware database files (database.ini)|database.ini||");
    CFileDialog again(TRUE);
    EXPECT_EQ(again.DoModal(), IDCANCEL);
}

namespace {
int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM lp, LPARAM data)
{
    if (msg == BFFM_INITIALIZED) {
        SendMessage(hwnd, BFFM_SETSELECTIONA, TRUE, data);
        SetWindowText(hwnd, "Select Save Directory");
    } else if (msg == BFFM_SELCHANGED) {
        char path[MAX_PATH];
        SendMessage(hwnd, BFFM_ENABLEOK, 0, SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lp), path) || true);
    }
    return 0;
}
} // namespace

TEST(FileDialogs, FolderBrowserRunsItsCallbackAndReturnsAPath)
{
    mfc::test::ScopedHooks hooks;
    TestApp();
    mfc::test::PushFolderAnswer(std::string("/tmp/reports"));
    char display[MAX_PATH] = {};
    std::string initial = "/tmp/start";
    BROWSEINFOA bi{};
    bi.pszDisplayName = display;
    bi.lpszTitle = " ";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    bi.lpfn = &BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(initial.c_str());
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderA(&bi);
    ASSERT_NE(pidl, nullptr);
    char path[MAX_PATH];
    ASSERT_TRUE(SHGetPathFromIDListA(pidl, path));
    EXPECT_STREQ(path, "/tmp/reports");
    EXPECT_STREQ(display, "reports");
    ILFree(pidl);
    ASSERT_EQ(mfc::test::PickerLog().size(), 1u);
    EXPECT_TRUE(mfc::test::PickerLog()[0].folder);
    EXPECT_EQ(mfc::test::PickerLog()[0].initial, "/tmp/start"); // set by the callback
    EXPECT_EQ(mfc::test::PickerLog()[0].title, "Select Save Directory");
    EXPECT_EQ(SHBrowseForFolderA(&bi), nullptr); // no answer queued: cancelled
}

TEST(WaitCursor, IsTakenDownWhileAModalDialogRuns)
{
    mfc::test::ScopedHooks hooks;
    TestApp();
    mfc::DlgTemplate t;
    t.caption = "Busy";
    t.cx = 50;
    t.cy = 30;
    mfc::RegisterDialogTemplate(990, t);
    CDialog dlg(990);
    bool cursorInDialog = true;
    {
        CWaitCursor wait;
        EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
        mfc::test::ScriptModal(990, [&](CDialog& d) {
            cursorInDialog = QGuiApplication::overrideCursor() != nullptr;
            d.EndDialog(IDOK);
        });
        dlg.DoModal();
        EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    }
    EXPECT_FALSE(cursorInDialog);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
