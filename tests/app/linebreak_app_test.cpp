// The application object: the command line's tokens, and start-up with a
// command line run the way the entry point runs it.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/linebreak_app.h"
#include "resources/resource.h"
#include "support.h"
#include "ui_support.h"

namespace {

std::vector<std::string> Entries(const CStringList& list) {
  std::vector<std::string> entries;
  for (POSITION pos = list.GetHeadPosition(); pos != NULL;) entries.push_back(list.GetNext(pos).GetString());
  return entries;
}

TEST(SplitCommandLine, WhiteSpaceOutsideQuotesSeparatesAndNothingElseIsSpecial) {
  struct Case {
    const char* line;
    std::vector<std::string> tokens;
  } cases[] = {
      {"a.txt b.txt", {"a.txt", "b.txt"}},
      {"a.txt\t\tb.txt\r\nc.txt", {"a.txt", "b.txt", "c.txt"}},
      {" \t\v\f lead  and\rtrail \v\f ", {"lead", "and", "trail"}},
      // As the shell passes paths with blanks: each quoted path is one entry.
      {"\"C:\\My Files\\a.txt\" \"D:\\x y\\b.txt\"", {"C:\\My Files\\a.txt", "D:\\x y\\b.txt"}},
      {"a\" \"b \"c\td\"e", {"a b", "c\tde"}},
      {"\"C:\\\" x", {"C:\\", "x"}},
      {"\"a b\r\nc", {"a b\r\nc"}},
      {"\"\" \"\"\"\" a.txt \"", {"a.txt"}},
      // White space that is no separator stays inside a token.
      {"a.txt\fb.txt x\vy", {"a.txt\fb.txt", "x\vy"}},
      {"same.txt same.txt", {"same.txt", "same.txt"}},
      {"*.txt ..\\up.txt nowhere\\x", {"*.txt", "..\\up.txt", "nowhere\\x"}},
      {"", {}},
      {" \t\r\n", {}},
  };
  CLinebreakApp app;
  for (const Case& c : cases) {
    CStringList list;
    EXPECT_TRUE(app.SplitCommandLine(c.line, &list));
    EXPECT_EQ(c.tokens, Entries(list)) << c.line;
  }
}

TEST(SplitCommandLine, AppendsToWhatTheListHolds) {
  CLinebreakApp app;
  CStringList list;
  list.AddTail("first");
  app.SplitCommandLine("second third", &list);
  EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), Entries(list));
}

TEST(SplitCommandLine, DoubleByteCharactersStayWhole) {
  struct Case {
    const char* line;
    UINT codePage;
    std::vector<std::string> tokens;
  } cases[] = {
      // 0x95 0x5C is one Shift-JIS character whose second byte is '\'.
      {"\x95\x5C.txt \x95\x5C\\b.txt", 932, {"\x95\x5C.txt", "\x95\x5C\\b.txt"}},
      // After a lead byte even a blank is the second byte of its character...
      {"a\x81 b c", 932, {"a\x81 b", "c"}},
      {"\x81\t\x81\tb", 932, {"\x81\t\x81\tb"}},
      // ...but not in a single-byte code page.
      {"a\x81 b c", 1252, {"a\x81", "b", "c"}},
      // Quotes around a path whose character ends in '\' still close it.
      {"\"\x95\x5C \x95\x5C\" c", 932, {"\x95\x5C \x95\x5C", "c"}},
      // A lead byte at the very end is a character of its own.
      {"a \x81", 932, {"a", "\x81"}},
  };
  CLinebreakApp app;
  for (const Case& c : cases) {
    CStringList list;
    app.SplitCommandLine(c.line, &list, c.codePage);
    EXPECT_EQ(c.tokens, Entries(list)) << c.line << " in code page " << c.codePage;
  }
}

// The whole run as the entry point makes it, with the dialog closed by the
// user: the look of the dialogs, the dialog for the command line with no
// owner, exit code 0.
TEST(StartUp, CommandLineOpensTheDialogWithNoOwnerAndTheRunEndsWithZero) {
  ScratchDir scratch;
  std::string cmdLine = " \t" + (scratch / "a.txt") + "\t\t" + (scratch / "b.txt");
  CLinebreakApp app;
  DWORD threadId = ::GetCurrentThreadId();
  auto check = [&](HWND hDlg) {
    EXPECT_EQ("2 file(s) to convert...", ui::ItemText(hDlg, IDC_STATUS));
    EXPECT_EQ(nullptr, ::GetWindow(hDlg, GW_OWNER));
    EXPECT_EQ(nullptr, app.m_pMainWnd);

    // Grey dialogs with black text.
    HDC hDC = ::CreateCompatibleDC(NULL);
    DWORD_PTR brush = 0;
    ::SendMessageTimeoutA(hDlg, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(hDC),
                          reinterpret_cast<LPARAM>(hDlg), SMTO_NORMAL, 5000, &brush);
    LOGBRUSH logBrush = {};
    ASSERT_NE(0, ::GetObjectA(reinterpret_cast<HBRUSH>(brush), sizeof logBrush, &logBrush));
    EXPECT_EQ(RGB(192, 192, 192), logBrush.lbColor);
    ::SendMessageTimeoutA(hDlg, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hDC),
                          reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, IDC_STATUS)), SMTO_NORMAL,
                          5000, &brush);
    EXPECT_EQ(RGB(192, 192, 192), ::GetBkColor(hDC));
    EXPECT_EQ(RGB(0, 0, 0), ::GetTextColor(hDC));
    ::DeleteDC(hDC);
  };
  std::thread driver([&] {
    HWND hDlg = ui::WaitForDialog("Translate Linebreaks", threadId);
    if (hDlg == NULL) return;
    check(hDlg);
    ui::Click(hDlg, IDCANCEL);
    if (!ui::WaitUntil([&] { return !::IsWindow(hDlg); }, 5000)) ui::ForceClose(hDlg);
  });
  EXPECT_EQ(0, AfxWinMain(::GetModuleHandleA(NULL), NULL, &cmdLine[0], SW_SHOW));
  driver.join();
}

}  // namespace
