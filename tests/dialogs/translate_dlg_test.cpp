// The Translate Linebreaks dialog, driven as a user drives it: the dialog
// runs modally on the test's thread while a driver thread clicks its buttons,
// presses keys, reads its texts and answers its message boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "memory_canvas.h"
#include "dialog_template.h"
#include "dialogs/translate_dlg.h"
#include "framework/winapp.h"
#include "resources/resource.h"
#include "support.h"
#include "ui_support.h"
#include "test_app.h"

namespace {

TestApp<CWinApp> theApp;

const char kCaption[] = "Translate Linebreaks";
const char kAppName[] = "Quenlat";
const std::string kLf = "a\nb\n";
const std::string kCrLf = "a\r\nb\r\n";
// First CR-LF, then a lone LF: automatic mode reads it as CR-LF.
const std::string kMixed = "a\r\nb\n";

// Tells the driver where the bar stands; the answer is read on the dialog's
// own thread.
const UINT WM_TEST_BAR_POS = WM_APP + 1;
// Holds a running batch (see BatchHold); lParam points to the hold.
const UINT WM_TEST_HOLD = WM_APP + 2;
// The number of the file whose turn to handle a message brought the cancel
// command during a batch; 0 before one came.
const UINT WM_TEST_CANCEL_AT = WM_APP + 3;

// The file number of a status line "File N: path", or 0.
int FileNumber(const std::string& status) {
  return status.compare(0, 5, "File ") == 0 ? std::atoi(status.c_str() + 5) : 0;
}

// Keeps the batch at a file, known from the status line. The driver posts
// WM_TEST_HOLD; the batch handles it between files like any waiting message,
// and the dialog's thread stays in the handler, with the state of that
// moment noted, until the driver releases it.
struct BatchHold {
  BatchHold()
      : hHeld(::CreateEventA(NULL, FALSE, FALSE, NULL)),
        hRelease(::CreateEventA(NULL, FALSE, FALSE, NULL)) {}
  ~BatchHold() {
    ::SetEvent(hRelease);
    ::CloseHandle(hHeld);
    ::CloseHandle(hRelease);
  }
  // Asks the batch of hDlg to stop at the next file it comes to.
  void Post(HWND hDlg) { ::PostMessageA(hDlg, WM_TEST_HOLD, 0, reinterpret_cast<LPARAM>(this)); }
  bool WaitHeld() { return ::WaitForSingleObject(hHeld, ui::kTimeoutMs) == WAIT_OBJECT_0; }
  void Release() { ::SetEvent(hRelease); }

  HANDLE hHeld;
  HANDLE hRelease;
  std::string status;  // the status line while held
  int barPos = -1;
};

class TestTranslateDlg : public CTranslateDlg {
 public:
  using CTranslateDlg::CTranslateDlg;

 protected:
  LRESULT OnBarPos(WPARAM, LPARAM) { return m_pProgress != NULL ? m_pProgress->GetPos() : -1; }
  LRESULT OnHold(WPARAM, LPARAM lParam) {
    BatchHold* hold = reinterpret_cast<BatchHold*>(lParam);
    CString strStatus;
    GetDlgItemText(IDC_STATUS, strStatus);
    hold->status = strStatus.GetString();
    hold->barPos = m_pProgress != NULL ? static_cast<int>(m_pProgress->GetPos()) : -1;
    ::SetEvent(hold->hHeld);
    ::WaitForSingleObject(hold->hRelease, ui::kTimeoutMs);
    return 0;
  }
  void OnCancel() override {
    if (m_bBusy && m_nCancelAt == 0) {
      CString strStatus;
      GetDlgItemText(IDC_STATUS, strStatus);
      m_nCancelAt = FileNumber(strStatus.GetString());
    }
    CTranslateDlg::OnCancel();
  }
  LRESULT OnCancelAt(WPARAM, LPARAM) { return m_nCancelAt; }
  int m_nCancelAt = 0;

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestTranslateDlg, CTranslateDlg)
  ON_MESSAGE(WM_TEST_BAR_POS, &TestTranslateDlg::OnBarPos)
  ON_MESSAGE(WM_TEST_HOLD, &TestTranslateDlg::OnHold)
  ON_MESSAGE(WM_TEST_CANCEL_AT, &TestTranslateDlg::OnCancelAt)
END_MESSAGE_MAP()

LRESULT BarPos(HWND hDlg) {
  DWORD_PTR pos = static_cast<DWORD_PTR>(-2);
  ::SendMessageTimeoutA(hDlg, WM_TEST_BAR_POS, 0, 0, SMTO_NORMAL, 5000, &pos);
  return static_cast<LRESULT>(pos);
}

// Waits for the next message box that the dialog owns, one that is not
// hPrevious (which may still be on its way out).
HWND NextBox(HWND hDlg, HWND hPrevious = NULL) {
  if (hPrevious != NULL) ui::WaitUntil([&] { return !::IsWindow(hPrevious); });
  return ui::WaitForOwnedBox(hDlg, kAppName);
}

class TranslateDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedProfile = theApp.m_pszProfileName;
    theApp.SetProfileName(Profile().c_str());
  }
  void TearDown() override { theApp.SetProfileName(m_savedProfile); }

  std::string Profile() const { return m_scratch / "QUENLAT.INI"; }
  // The stored mode, or -99 when there is none.
  int StoredMode() const {
    return static_cast<int>(::GetPrivateProfileIntA("Options", "TransMode", -99, Profile().c_str()));
  }
  std::string File(const std::string& name, const std::string& content) {
    std::string path = m_scratch / name;
    WriteBytes(path, content);
    return path;
  }

  // Runs the dialog for the files on this thread while drive works it from
  // another; drive must leave the dialog closed. Returns the dialog's result.
  INT_PTR Run(const std::vector<std::string>& files, const std::function<void(HWND)>& drive) {
    CStringList list;
    for (const std::string& f : files) list.AddTail(f.c_str());
    TestTranslateDlg dlg(&list);
    return ui::RunAndDrive(kCaption, [&] { return dlg.DoModal(); }, drive);
  }

  ScratchDir m_scratch;
  CString m_savedProfile;
};

// --- The template

TEST(TranslateTemplate, HasTheDesignedControlsInTabAndGroupOrder) {
  // Popup, visible, caption, system menu, modal frame, font; placed by centring.
  const ExpectedDialog dialog = {0x90C800C0u, 0, 0, 229, 118, kCaption, 8, "MS Sans Serif"};
  const ExpectedControl controls[] = {
      {IDOK, "Button", "Convert", 174, 6, 49, 14, 0x50030001},  // default push, group, tab stop
      {IDCANCEL, "Button", "Cancel", 174, 23, 49, 14, 0x50010000},
      {1002, "Button", "Automatic (toggle)", 13, 19, 139, 10, 0x50030009},  // auto radio, group
      {1003, "Button", "Always map LF to CR-LF", 13, 32, 139, 10, 0x50000009},
      {1006, "Button", "Always map CR-LF to LF", 13, 45, 139, 10, 0x50000009},
      {0xFFFF, "Button", "Translation", 5, 5, 156, 56, 0x50000007},  // group boxes
      {0xFFFF, "Button", "Progress", 5, 65, 219, 47, 0x50000007},
      {1005, "ProgressBar", "User1", 12, 91, 205, 14, 0x50000000},
      // No word wrap, no '&' prefix, starts the next group.
      {1007, "Static", "Static", 12, 80, 205, 8, 0x5002008C},
  };
  ExpectDialogTemplate(IDD_TRANSLATE, dialog, controls);
}

// --- The dialog

TEST_F(TranslateDlgTest, EmptyListConvertsNothingAndRelabelsTheButtons) {
  INT_PTR result = Run({}, [&](HWND hDlg) {
    EXPECT_EQ("0 file(s) to convert...", ui::ItemText(hDlg, IDC_STATUS));
    EXPECT_EQ("Convert", ui::ItemText(hDlg, IDOK));
    EXPECT_EQ("Cancel", ui::ItemText(hDlg, IDCANCEL));
    EXPECT_EQ(::GetDlgItem(hDlg, IDOK), ui::FocusOf(hDlg));
    // No profile yet: automatic mode.
    EXPECT_EQ(BST_CHECKED, ui::CheckState(hDlg, IDC_MODE_AUTOMATIC));
    EXPECT_EQ(0, BarPos(hDlg));
    EXPECT_FALSE(Exists(Profile()));

    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDOK));
    EXPECT_EQ("0 files converted.", ui::ItemText(hDlg, IDC_STATUS));
    EXPECT_EQ("Again", ui::ItemText(hDlg, IDOK));
    EXPECT_EQ("Close", ui::ItemText(hDlg, IDCANCEL));
    EXPECT_TRUE(ui::IsItemEnabled(hDlg, IDOK));
    EXPECT_EQ(0, StoredMode());
    ui::ClickAndWait(hDlg, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
}

TEST_F(TranslateDlgTest, OneFileConvertsAndAgainInAutomaticModeTogglesItBack) {
  std::string path = File("one.txt", kLf);
  INT_PTR result = Run({path}, [&](HWND hDlg) {
    EXPECT_EQ("1 file(s) to convert...", ui::ItemText(hDlg, IDC_STATUS));
    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDOK));
    EXPECT_EQ("1 files converted.", ui::ItemText(hDlg, IDC_STATUS));
    EXPECT_EQ(100, BarPos(hDlg));
    EXPECT_EQ(kCrLf, ReadBytes(path));

    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDOK));
    EXPECT_EQ("1 files converted.", ui::ItemText(hDlg, IDC_STATUS));
    EXPECT_EQ(kLf, ReadBytes(path));
    // Escape, with no batch running, closes the dialog.
    ui::PressKey(hDlg, VK_ESCAPE);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ((std::vector<std::string>{"QUENLAT.INI", "one.txt"}), ListFolder(m_scratch.path()));
}

TEST_F(TranslateDlgTest, FailedFileAnsweredYesLeavesTheBarAndTheBatchGoesOn) {
  std::string first = File("first.txt", kLf);
  std::string second = File("second.txt", kLf);
  std::string third = File("third.txt", kLf);
  ReplaceBlocked blocked(second);  // the probe passes, the conversion fails
  ASSERT_TRUE(blocked.ok());
  // With the program's grey, which its message boxes take as well.
  theApp.SetDialogBkColor();
  const COLORREF kGrey = RGB(192, 192, 192);
  Run({first, second, third}, [&](HWND hDlg) {
    ui::Click(hDlg, IDOK);
    HWND hError = NextBox(hDlg);
    ASSERT_NE(nullptr, hError);
    // A file in use by another program gets the general sentence.
    EXPECT_EQ(second + "\n\nError: An error has occurred!", ui::BoxText(hError));
    EXPECT_EQ("stop", ui::BoxIcon(hError));
    EXPECT_EQ("OK", ui::BoxButtons(hError));
    EXPECT_EQ(kGrey, ui::DrawnBackground(hError));
    EXPECT_EQ(33, BarPos(hDlg));
    ui::Click(hError, IDOK);

    HWND hQuestion = NextBox(hDlg, hError);
    ASSERT_NE(nullptr, hQuestion);
    EXPECT_EQ("Conversion Failed. Continue batch?", ui::BoxText(hQuestion));
    EXPECT_EQ("exclamation", ui::BoxIcon(hQuestion));
    EXPECT_EQ("Yes No", ui::BoxButtons(hQuestion));
    EXPECT_EQ(kGrey, ui::DrawnBackground(hQuestion));
    EXPECT_EQ(33, BarPos(hDlg));
    ui::Click(hQuestion, IDYES);

    EXPECT_TRUE(ui::WaitForItemText(hDlg, IDC_STATUS, "2 files converted."));
    EXPECT_EQ(100, BarPos(hDlg));
    EXPECT_EQ(kGrey, ui::DrawnBackground(hDlg));
    ui::ClickAndWait(hDlg, IDCANCEL);
  });
  theApp.ReleaseLook();
  EXPECT_EQ(kCrLf, ReadBytes(first));
  EXPECT_EQ(kLf, ReadBytes(second));
  EXPECT_EQ(kCrLf, ReadBytes(third));
}

TEST_F(TranslateDlgTest, NoStopsTheBatchAfterTheModeIsStoredAndAgainRunsAfresh) {
  std::string missing = m_scratch / "not&here.txt";
  std::string other = File("other.txt", kCrLf);
  INT_PTR result = Run({missing, other}, [&](HWND hDlg) {
    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDC_MODE_CRLF_TO_LF));
    ui::Click(hDlg, IDOK);
    HWND hQuestion = NextBox(hDlg);
    ASSERT_NE(nullptr, hQuestion);
    EXPECT_EQ(missing + "\n\nThis file cannot be opened for writing. Continue batch?",
              ui::BoxText(hQuestion));
    EXPECT_EQ("exclamation", ui::BoxIcon(hQuestion));
    EXPECT_EQ("Yes No", ui::BoxButtons(hQuestion));
    EXPECT_EQ("File 1: " + missing, ui::ItemText(hDlg, IDC_STATUS));
    // Stored before the first file.
    EXPECT_EQ(2, StoredMode());
    ui::Click(hQuestion, IDNO);

    EXPECT_TRUE(ui::WaitForItemText(hDlg, IDOK, "Again"));
    EXPECT_EQ("Batch cancelled.", ui::ItemText(hDlg, IDC_STATUS));
    EXPECT_EQ("Close", ui::ItemText(hDlg, IDCANCEL));
    EXPECT_EQ(kCrLf, ReadBytes(other));

    // A No is not a cancel: the next run converts both.
    WriteBytes(missing, kCrLf);
    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDOK));
    EXPECT_EQ("2 files converted.", ui::ItemText(hDlg, IDC_STATUS));
    // The close box closes the dialog when no batch runs.
    ::PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(kLf, ReadBytes(missing));
  EXPECT_EQ(kLf, ReadBytes(other));
}

// Each file as a letter: 'C' converted, 'L' as it was, '?' anything else.
std::string States(const std::vector<std::string>& files, const std::string& original,
                   const std::string& converted) {
  std::string states;
  for (const std::string& f : files) {
    std::string content = ReadBytes(f);
    states += content == converted ? 'C' : content == original ? 'L' : '?';
  }
  return states;
}

// The batch is held at a file while the user acts, so that the act comes
// while files wait, however fast they convert. The file being converted is
// finished; the batch stops before the file whose turn to handle a message
// brings the cancel command: the next one for a click or a key, and one
// more for the close box, which the dialog manager answers with a posted
// Cancel (later if other messages wait first).
TEST_F(TranslateDlgTest, CancelClickEscapeAndCloseBoxStopABatchBeforeTheNextFile) {
  struct Way {
    const char* name;
    std::function<void(HWND)> act;
    int filesToArrive;  // files whose turn comes before the command arrives
  } ways[] = {
      {"Cancel clicked", [](HWND hDlg) { ui::Click(hDlg, IDCANCEL); }, 1},
      {"Escape pressed", [](HWND hDlg) { ui::PressKey(hDlg, VK_ESCAPE); }, 1},
      {"close box", [](HWND hDlg) { ::PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0); }, 2},
  };
  const int kFiles = 8;
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    ScratchDir folder(m_scratch.path());
    std::vector<std::string> files;
    for (int i = 0; i < kFiles; ++i) {
      files.push_back(folder / ("f" + std::to_string(i) + ".txt"));
      WriteBytes(files.back(), kLf);
    }
    INT_PTR result = Run(files, [&](HWND hDlg) {
      BatchHold hold;
      ui::Click(hDlg, IDOK);
      hold.Post(hDlg);
      ASSERT_TRUE(hold.WaitHeld());
      const int held = FileNumber(hold.status);
      ASSERT_GE(held, 1) << hold.status;
      ASSERT_LE(held, kFiles - 2) << hold.status;
      EXPECT_EQ("File " + std::to_string(held) + ": " + files[held - 1], hold.status);
      // Running: Convert is disabled and the focus is on Cancel.
      EXPECT_FALSE(ui::IsItemEnabled(hDlg, IDOK));
      EXPECT_EQ(::GetDlgItem(hDlg, IDCANCEL), ui::FocusOf(hDlg));
      way.act(hDlg);
      hold.Release();

      ASSERT_TRUE(ui::WaitForItemText(hDlg, IDOK, "Again"));
      EXPECT_EQ("Batch cancelled.", ui::ItemText(hDlg, IDC_STATUS));
      EXPECT_EQ("Close", ui::ItemText(hDlg, IDCANCEL));
      EXPECT_TRUE(ui::IsItemEnabled(hDlg, IDOK));
      const int cancelAt = static_cast<int>(::SendMessageA(hDlg, WM_TEST_CANCEL_AT, 0, 0));
      EXPECT_GE(cancelAt, held + way.filesToArrive);
      ASSERT_GE(cancelAt, 1);
      // Converted up to the file before the one that brought the command.
      const std::string states = std::string(cancelAt - 1, 'C') + std::string(kFiles - cancelAt + 1, 'L');
      EXPECT_EQ(states, States(files, kLf, kCrLf));

      // The dialog stays cancelled: "Again" converts nothing.
      ASSERT_TRUE(ui::ClickAndWait(hDlg, IDOK));
      EXPECT_EQ("Batch cancelled.", ui::ItemText(hDlg, IDC_STATUS));
      EXPECT_EQ(states, States(files, kLf, kCrLf));
      ui::ClickAndWait(hDlg, IDCANCEL);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(files.size(), ListFolder(folder.path()).size()) << "no temporary file is left";
  }
}

TEST_F(TranslateDlgTest, AgainKeepsTheBarWhereItStoodUntilAFileConverts) {
  std::vector<std::string> files = {File("a.txt", kLf), File("b.txt", kLf), File("c.txt", kLf)};
  Run(files, [&](HWND hDlg) {
    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDOK));
    EXPECT_EQ(100, BarPos(hDlg));

    // The first file of the next run fails: the bar still shows the last run.
    RemoveFile(files[0]);
    ui::Click(hDlg, IDOK);
    HWND hQuestion = NextBox(hDlg);
    ASSERT_NE(nullptr, hQuestion);
    EXPECT_EQ(100, BarPos(hDlg));
    ui::Click(hQuestion, IDYES);
    EXPECT_TRUE(ui::WaitForItemText(hDlg, IDC_STATUS, "2 files converted."));
    EXPECT_EQ(100, BarPos(hDlg));
    ui::ClickAndWait(hDlg, IDCANCEL);
  });
}

// The columns of a canvas that hold a pixel other than the background.
std::vector<bool> InkColumns(const MemoryCanvas& canvas, int width, int height, COLORREF background) {
  std::vector<bool> ink(width, false);
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height && !ink[x]; ++y) ink[x] = canvas.Pixel(x, y) != background;
  }
  return ink;
}

TEST_F(TranslateDlgTest, TheStatusLineDrawsAnAmpersandAsItIs) {
  // A relative name keeps the line short enough to be drawn whole.
  const std::string name = "quenlat&missing.txt";
  ASSERT_FALSE(Exists(name));
  Run({name}, [&](HWND hDlg) {
    ui::Click(hDlg, IDOK);
    HWND hQuestion = NextBox(hDlg);
    ASSERT_NE(nullptr, hQuestion);
    const std::string status = "File 1: " + name;
    ASSERT_EQ(status, ui::ItemText(hDlg, IDC_STATUS));

    // The line as the control draws it, and the same text drawn with the
    // control's font and no prefix processing.
    HWND hStatus = ::GetDlgItem(hDlg, IDC_STATUS);
    RECT rc;
    ::GetClientRect(hStatus, &rc);
    const COLORREF background = RGB(0, 128, 128);
    MemoryCanvas drawn(rc.right, rc.bottom, background);
    MemoryCanvas expected(rc.right, rc.bottom, background);
    CBrush brush(background);
    ::FillRect(drawn.hdc(), &rc, brush);
    ::SendMessageTimeoutA(hStatus, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(drawn.hdc()), PRF_CLIENT,
                          SMTO_NORMAL, 5000, NULL);
    DWORD_PTR font = 0;
    ::SendMessageTimeoutA(hStatus, WM_GETFONT, 0, 0, SMTO_NORMAL, 5000, &font);
    HGDIOBJ hOld = ::SelectObject(expected.hdc(), reinterpret_cast<HFONT>(font));
    ::SetBkMode(expected.hdc(), TRANSPARENT);
    ::DrawTextA(expected.hdc(), status.c_str(), -1, &rc, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(expected.hdc(), hOld);

    // The control paints its own background; what differs from it is ink.
    std::vector<bool> drawnInk = InkColumns(drawn, rc.right, rc.bottom, drawn.Pixel(rc.right - 1, 0));
    std::vector<bool> expectedInk = InkColumns(expected, rc.right, rc.bottom, background);
    ASSERT_NE(expectedInk.end(), std::find(expectedInk.begin(), expectedInk.end(), true));
    EXPECT_EQ(expectedInk, drawnInk);
    ui::Click(hQuestion, IDNO);
    ASSERT_TRUE(ui::WaitForItemText(hDlg, IDOK, "Again"));
    ui::ClickAndWait(hDlg, IDCANCEL);
  });
}

TEST_F(TranslateDlgTest, StoredModeOutsideTheGroupChecksNoButtonAndIsStoredAsMinusOne) {
  WriteBytes(Profile(), "[Options]\r\nTransMode=5\r\n");
  std::string path = File("mixed.txt", kMixed);
  Run({path}, [&](HWND hDlg) {
    EXPECT_EQ(BST_UNCHECKED, ui::CheckState(hDlg, IDC_MODE_AUTOMATIC));
    EXPECT_EQ(BST_UNCHECKED, ui::CheckState(hDlg, IDC_MODE_LF_TO_CRLF));
    EXPECT_EQ(BST_UNCHECKED, ui::CheckState(hDlg, IDC_MODE_CRLF_TO_LF));
    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDOK));
    EXPECT_EQ("1 files converted.", ui::ItemText(hDlg, IDC_STATUS));
    ui::ClickAndWait(hDlg, IDCANCEL);
  });
  EXPECT_EQ(-1, StoredMode());
  // Not automatic (which would give "a\nb\n"): LF to CR-LF.
  EXPECT_EQ(kCrLf, ReadBytes(path));
}

TEST_F(TranslateDlgTest, EnterOnARadioButtonPressesConvert) {
  std::string path = File("mixed.txt", kMixed);
  Run({path}, [&](HWND hDlg) {
    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDC_MODE_LF_TO_CRLF));
    EXPECT_EQ(::GetDlgItem(hDlg, IDC_MODE_LF_TO_CRLF), ui::FocusOf(hDlg));
    ui::PressKey(hDlg, VK_RETURN);
    EXPECT_TRUE(ui::WaitForItemText(hDlg, IDC_STATUS, "1 files converted."));
    ui::ClickAndWait(hDlg, IDCANCEL);
  });
  EXPECT_EQ(1, StoredMode());
  EXPECT_EQ(kCrLf, ReadBytes(path));
}

// A batch in which a file of every failing kind stands between good files:
// every good file is converted, every bad one brings the right question (and,
// for a failed conversion, the error first), and stays as it was.
TEST_F(TranslateDlgTest, EveryKindOfFailureBetweenGoodFilesLeavesTheBadOnesUntouched) {
  struct Bad {
    const char* kind;
    std::string path;
    // Empty when the probe refuses the file; else the error message's end,
    // and whether it names the temporary file rather than the file.
    std::string error;
    bool namesTemporary;
    std::string content;
  };
  std::vector<Bad> bad;
  bad.push_back({"missing", m_scratch / "missing.txt", "", false, ""});
  bad.push_back({"read-only", File("readonly.txt", kLf), "", false, kLf});
  ASSERT_TRUE(MakeReadOnly(bad.back().path));
  // Held by another program: one that lets nobody write the file, and one
  // that lets the probe through but keeps it from being replaced.
  bad.push_back({"locked", File("locked.txt", kLf), "", false, kLf});
  auto locked = std::make_unique<HeldByOtherProcess>(bad.back().path, Sharing::Read);
  ASSERT_TRUE(locked->ok());
  MakeFolder(m_scratch / "folder.txt");
  bad.push_back({"a folder", m_scratch / "folder.txt", "", false, ""});
  bad.push_back({"path too long", m_scratch / (std::string(MAX_PATH, 'x') + ".txt"), "", false, ""});
  // A device's name, though with an extension and in a folder: never opened.
  bad.push_back({"device name", m_scratch / "NUL.txt", "", false, ""});
  bad.push_back({"replace blocked", File("held.txt", kLf), "\n\nError: An error has occurred!", false, kLf});
  auto held = std::make_unique<HeldByOtherProcess>(bad.back().path, Sharing::ReadWrite);
  ASSERT_TRUE(held->ok());
  std::unique_ptr<FreeSpaceLeft> full;
  if (!SmallFilesystem().empty()) {
    std::string big;
    while (big.size() < 40000) big += "line\n";
    std::string path = SmallFilesystem() + "dialog-big.txt";
    WriteBytes(path, big);
    full = std::make_unique<FreeSpaceLeft>(SmallFilesystem(), 16 * 1024);
    ASSERT_TRUE(full->ok());
    bad.push_back({"disk full", path, "\n\nNo space left on device", true, big});
  }
  if (!FileInReadOnlyFolder(m_scratch).empty()) {
    bad.push_back({"read-only disk", FileInReadOnlyFolder(m_scratch), "", false, kCrLf});
  }

  std::vector<std::string> files, good;
  for (size_t i = 0; i <= bad.size(); ++i) {
    good.push_back(File("good" + std::to_string(i) + ".txt", kLf));
    files.push_back(good.back());
    if (i < bad.size()) files.push_back(bad[i].path);
  }

  Run(files, [&](HWND hDlg) {
    ui::Click(hDlg, IDOK);
    HWND hPrevious = NULL;
    for (size_t i = 0; i < bad.size(); ++i) {
      SCOPED_TRACE(bad[i].kind);
      HWND hBox = NextBox(hDlg, hPrevious);
      ASSERT_NE(nullptr, hBox);
      EXPECT_EQ("File " + std::to_string(2 * i + 2) + ": " + bad[i].path, ui::ItemText(hDlg, IDC_STATUS));
      if (bad[i].error.empty()) {
        EXPECT_EQ(bad[i].path + "\n\nThis file cannot be opened for writing. Continue batch?",
                  ui::BoxText(hBox));
      } else {
        std::string text = ui::BoxText(hBox);
        std::string named = text.substr(0, text.find('\n'));
        if (bad[i].namesTemporary) {
          EXPECT_EQ(FolderOf(bad[i].path) + "tmp", named.substr(0, FolderOf(bad[i].path).size() + 3));
        } else {
          EXPECT_EQ(bad[i].path, named);
        }
        EXPECT_EQ(bad[i].error, text.substr(named.size()));
        ui::Click(hBox, IDOK);
        HWND hError = hBox;
        hBox = NextBox(hDlg, hError);
        ASSERT_NE(nullptr, hBox);
        EXPECT_EQ("Conversion Failed. Continue batch?", ui::BoxText(hBox));
      }
      ui::Click(hBox, IDYES);
      hPrevious = hBox;
    }
    EXPECT_TRUE(ui::WaitForItemText(hDlg, IDC_STATUS, std::to_string(good.size()) + " files converted."));
    EXPECT_EQ(100, BarPos(hDlg));
    ui::ClickAndWait(hDlg, IDCANCEL);
  });

  locked.reset();
  held.reset();
  full.reset();
  for (const std::string& path : good) EXPECT_EQ(kCrLf, ReadBytes(path)) << path;
  for (const Bad& b : bad) {
    EXPECT_EQ(b.content, ReadBytes(b.path)) << b.kind;
    for (const std::string& name : ListFolder(FolderOf(b.path))) {
      EXPECT_NE("tmp", name.substr(0, 3)) << b.kind << ": " << name << " left behind";
    }
  }
  EXPECT_FALSE(Exists(m_scratch / "missing.txt"));
  if (!SmallFilesystem().empty()) RemoveFile(SmallFilesystem() + "dialog-big.txt");
}

}  // namespace
