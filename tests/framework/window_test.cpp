// Windows, message maps and dialogs, driven through the real dialog manager
// with a template of the test program's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

#include "framework/framework.h"
#include "test_resource.h"
#include "memory_canvas.h"

namespace {

const UINT WM_TEST_RUN = WM_APP;
const UINT WM_TEST_ANSWER = WM_APP + 1;
const UINT WM_TEST_COUNT = WM_APP + 2;
const UINT WM_TEST_THROW = WM_APP + 3;
const UINT WM_TEST_ANSWER_BOX = WM_APP + 4;

struct BoxSearch {
  HWND hOwner;
  HWND hBox;
};

// A message box of this thread: owned by hOwner, or by no window.
BOOL CALLBACK FindOwnedBox(HWND hWnd, LPARAM lParam) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(lParam);
  char szClass[16];
  ::GetClassNameA(hWnd, szClass, sizeof szClass);
  HWND hOwner = ::GetWindow(hWnd, GW_OWNER);
  if (lstrcmpA(szClass, "#32770") == 0 && hWnd != search->hOwner &&
      (hOwner == search->hOwner || hOwner == NULL)) {
    search->hBox = hWnd;
    return FALSE;
  }
  return TRUE;
}

class OwnerDrawButton : public CButton {
 public:
  int m_nDraws = 0;
  void DrawItem(LPDRAWITEMSTRUCT) override { ++m_nDraws; }
};

// The test dialog: its map lists button 1 and a few messages of its own and
// leaves everything else (IDCANCEL, WM_INITDIALOG, colours) to CDialog's.
class TestDlg : public CDialog {
 public:
  explicit TestDlg(CWnd* pParent = NULL) : CDialog(IDD_TEST, pParent) {}

  int m_nRadio = -1;
  CString m_strText;
  CWnd m_edit;
  int m_nGo = 0;
  int m_nCancel = 0;
  int m_nCount = 0;
  std::function<void(TestDlg&)> m_onInit;  // runs inside OnInitDialog
  std::function<void(TestDlg&)> m_onRun;   // runs once the dialog is up

  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Radio(pDX, IDC_RADIO_A, m_nRadio);
    DDX_Text(pDX, IDC_TEXT, m_strText);
    DDX_Control(pDX, IDC_EDIT, m_edit);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (m_onInit) m_onInit(*this);
    if (m_onRun) PostMessage(WM_TEST_RUN);
    return TRUE;
  }
  void OnCancel() override {
    ++m_nCancel;
    CDialog::OnCancel();
  }

 protected:
  void OnGo() { ++m_nGo; }
  LRESULT OnRun(WPARAM, LPARAM) {
    m_onRun(*this);
    return 0;
  }
  LRESULT OnAnswer(WPARAM wParam, LPARAM) { return 40 + static_cast<LRESULT>(wParam); }
  LRESULT OnCount(WPARAM, LPARAM) { return ++m_nCount; }
  LRESULT OnThrow(WPARAM, LPARAM) { throw std::runtime_error("handler failed"); }
  // Reads the caption of the message box that this dialog owns and presses
  // its OK button.
  LRESULT OnAnswerBox(WPARAM, LPARAM) {
    BoxSearch search = {m_hWnd, NULL};
    ::EnumThreadWindows(::GetCurrentThreadId(), FindOwnedBox, reinterpret_cast<LPARAM>(&search));
    if (search.hBox == NULL) return 0;
    char szCaption[64];
    ::GetWindowTextA(search.hBox, szCaption, sizeof szCaption);
    m_strBoxCaption = szCaption;
    NoteBoxColours(search.hBox);
    ::PostMessageA(search.hBox, WM_COMMAND, IDOK, 0);
    return 0;
  }
  // The colour the box draws its background in, and the one behind its
  // message, each the colour of most of the pixels of what it draws.
  void NoteBoxColours(HWND hBox) {
    RECT rc;
    ::GetClientRect(hBox, &rc);
    MemoryCanvas box(rc.right, rc.bottom, RGB(255, 0, 255));
    ::SendMessageA(hBox, WM_PRINT, reinterpret_cast<WPARAM>(box.hdc()), PRF_CLIENT | PRF_ERASEBKGND);
    m_crBoxBackground = MostOf(box.Pixels());
    HWND hText = ::GetDlgItem(hBox, 0xFFFF);
    ::GetClientRect(hText, &rc);
    MemoryCanvas text(rc.right, rc.bottom, RGB(255, 0, 255));
    ::SendMessageA(hText, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(text.hdc()), PRF_CLIENT);
    m_crBoxTextBackground = MostOf(text.Pixels());
  }
  static COLORREF MostOf(const std::vector<COLORREF>& pixels) {
    std::map<COLORREF, size_t> counts;
    for (COLORREF c : pixels) ++counts[c];
    auto most = std::max_element(counts.begin(), counts.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    return most == counts.end() ? CLR_INVALID : most->first;
  }

 public:
  CString m_strBoxCaption;
  COLORREF m_crBoxBackground = CLR_INVALID;
  COLORREF m_crBoxTextBackground = CLR_INVALID;

 protected:

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDlg, CDialog)
  ON_BN_CLICKED(IDOK, &TestDlg::OnGo)
  ON_MESSAGE(WM_TEST_RUN, &TestDlg::OnRun)
  ON_MESSAGE(WM_TEST_ANSWER, &TestDlg::OnAnswer)
  ON_MESSAGE(WM_TEST_COUNT, &TestDlg::OnCount)
  ON_MESSAGE(WM_TEST_THROW, &TestDlg::OnThrow)
  ON_MESSAGE(WM_TEST_ANSWER_BOX, &TestDlg::OnAnswerBox)
END_MESSAGE_MAP()

HWND Item(CWnd& dlg, int id) { return ::GetDlgItem(dlg.m_hWnd, id); }

TEST(MessageMap, OwnEntriesComeFirstAndTheRestFallsToTheBase) {
  TestDlg dlg;
  bool openAfterButton1 = false;
  dlg.m_onRun = [&](TestDlg& d) {
    EXPECT_EQ(42, d.SendMessage(WM_TEST_ANSWER, 2));
    // Button 1 runs the dialog's own handler; it does not close the dialog.
    d.SendDlgItemMessage(IDOK, BM_CLICK);
    openAfterButton1 = ::IsWindow(d.m_hWnd) && d.m_nGo == 1;
    // Button 2 is not in the dialog's map: CDialog's cancel command ends it.
    ::PostMessageA(Item(d, IDCANCEL), BM_CLICK, 0, 0);
  };
  EXPECT_EQ(IDCANCEL, dlg.DoModal());
  EXPECT_TRUE(openAfterButton1);
  EXPECT_EQ(1, dlg.m_nGo);
  EXPECT_EQ(1, dlg.m_nCancel);
  EXPECT_EQ(NULL, dlg.m_hWnd);
}

TEST(MessageMap, AnExceptionDoesNotLeaveTheWindowProcedure) {
  TestDlg dlg;
  dlg.m_onRun = [](TestDlg& d) {
    EXPECT_EQ(0, d.SendMessage(WM_TEST_THROW));
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(IDOK, dlg.DoModal());
}

TEST(DataExchange, RadioGroupBothWays) {
  TestDlg dlg;
  dlg.m_nRadio = 1;
  dlg.m_onInit = [](TestDlg& d) {
    // The framework's initialisation has already moved the member in.
    EXPECT_EQ(BST_CHECKED, d.IsDlgButtonChecked(IDC_RADIO_B));
    struct Case {
      int value;
      UINT a, b, c;
      int readBack;
    } cases[] = {
        {0, BST_CHECKED, BST_UNCHECKED, BST_UNCHECKED, 0},
        {1, BST_UNCHECKED, BST_CHECKED, BST_UNCHECKED, 1},
        // The group box between B and C does not count.
        {2, BST_UNCHECKED, BST_UNCHECKED, BST_CHECKED, 2},
        {5, BST_UNCHECKED, BST_UNCHECKED, BST_UNCHECKED, -1},
        {-1, BST_UNCHECKED, BST_UNCHECKED, BST_UNCHECKED, -1},
    };
    for (const Case& c : cases) {
      d.m_nRadio = c.value;
      d.UpdateData(FALSE);
      EXPECT_EQ(c.a, d.IsDlgButtonChecked(IDC_RADIO_A)) << c.value;
      EXPECT_EQ(c.b, d.IsDlgButtonChecked(IDC_RADIO_B)) << c.value;
      EXPECT_EQ(c.c, d.IsDlgButtonChecked(IDC_RADIO_C)) << c.value;
      d.m_nRadio = 99;
      d.UpdateData(TRUE);
      EXPECT_EQ(c.readBack, d.m_nRadio) << c.value;
    }
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(IDOK, dlg.DoModal());
}

TEST(DataExchange, TextAndControlAttachment) {
  TestDlg dlg;
  dlg.m_strText = "a&b";
  OwnerDrawButton button;
  HWND hEdit = NULL;
  dlg.m_onInit = [&](TestDlg& d) {
    CString shown;
    d.GetDlgItemText(IDC_TEXT, shown);
    EXPECT_STREQ("a&b", shown);
    d.SetDlgItemText(IDC_TEXT, "changed");
    d.UpdateData(TRUE);
    EXPECT_STREQ("changed", d.m_strText);

    // DDX_Control attached the edit field to the member.
    hEdit = Item(d, IDC_EDIT);
    EXPECT_EQ(hEdit, d.m_edit.m_hWnd);
    EXPECT_EQ(&d.m_edit, CWnd::FromHandlePermanent(hEdit));

    // A subclassed item is found as its object; WM_DRAWITEM reaches it.
    EXPECT_TRUE(button.SubclassDlgItem(IDC_OWNERDRAW, &d));
    EXPECT_FALSE(button.SubclassDlgItem(IDC_OWNERDRAW, &d));
    EXPECT_EQ(&button, d.GetDlgItem(IDC_OWNERDRAW));
  };
  dlg.m_onRun = [&](TestDlg& d) {
    button.Invalidate();
    button.UpdateWindow();
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(IDOK, dlg.DoModal());
  EXPECT_GT(button.m_nDraws, 0);
  // The window's end detached both objects.
  EXPECT_EQ(NULL, dlg.m_edit.m_hWnd);
  EXPECT_EQ(NULL, button.m_hWnd);
  EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hEdit));
}

TEST(Windows, TemporaryObjectsForWindowsWithoutOne) {
  TestDlg dlg;
  dlg.m_onRun = [](TestDlg& d) {
    HWND hText = Item(d, IDC_TEXT);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hText));
    CWnd* pText = d.GetDlgItem(IDC_TEXT);
    ASSERT_NE(nullptr, pText);
    EXPECT_EQ(hText, pText->m_hWnd);
    EXPECT_EQ(pText, d.GetDlgItem(IDC_TEXT));
    EXPECT_EQ(nullptr, d.GetDlgItem(4711));
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(IDOK, dlg.DoModal());
}

TEST(Dialogs, NoParentMeansOwnedByTheMainWindow) {
  CWinApp* app = AfxGetApp();
  TestDlg outer;
  HWND innerOwner = NULL;
  BOOL outerEnabledDuring = TRUE;
  BOOL outerEnabledAfter = FALSE;
  outer.m_onRun = [&](TestDlg& d) {
    TestDlg inner;
    inner.m_onInit = [&](TestDlg& i) {
      innerOwner = ::GetWindow(i.m_hWnd, GW_OWNER);
      outerEnabledDuring = d.IsWindowEnabled();
      i.EndDialog(IDOK);
    };
    inner.DoModal();
    outerEnabledAfter = d.IsWindowEnabled();
    HWND hOuter = d.m_hWnd;
    d.EndDialog(IDCANCEL);
    EXPECT_EQ(hOuter, innerOwner);
  };
  app->m_pMainWnd = &outer;
  outer.DoModal();
  EXPECT_NE(HWND(NULL), innerOwner);
  EXPECT_FALSE(outerEnabledDuring);
  EXPECT_TRUE(outerEnabledAfter);
  // The registration went with the window.
  EXPECT_EQ(nullptr, app->m_pMainWnd);
}

TEST(Dialogs, PumpStepHandlesOneMessageWithTheDialogKeys) {
  TestDlg dlg;
  int maxStep = 0;
  dlg.m_onRun = [&](TestDlg& d) {
    d.PostMessage(WM_TEST_COUNT);
    d.PostMessage(WM_TEST_COUNT);
    for (int i = 0; i < 100 && d.m_nCount < 2; ++i) {
      int before = d.m_nCount;
      ASSERT_TRUE(AfxGetApp()->PumpMessage());
      if (d.m_nCount - before > maxStep) maxStep = d.m_nCount - before;
    }
    EXPECT_EQ(2, d.m_nCount);
    // Escape on a control goes through the dialog manager to the cancel
    // command.
    ::PostMessageA(Item(d, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
    for (int i = 0; i < 100 && d.m_nCancel == 0; ++i) AfxGetApp()->PumpMessage();
    EXPECT_EQ(1, d.m_nCancel);
  };
  EXPECT_EQ(IDCANCEL, dlg.DoModal());
  EXPECT_EQ(1, maxStep);
}

TEST(Windows, MessageBoxesCarryTheApplicationsName) {
  TestDlg dlg;
  dlg.m_onRun = [](TestDlg& d) {
    d.PostMessage(WM_TEST_ANSWER_BOX);
    EXPECT_EQ(IDOK, d.MessageBox("text"));
    EXPECT_STREQ("Framework Test", d.m_strBoxCaption);
    d.m_strBoxCaption.Empty();
    d.PostMessage(WM_TEST_ANSWER_BOX);
    EXPECT_EQ(IDOK, d.MessageBox("text", "Other", MB_OK | MB_ICONSTOP));
    EXPECT_STREQ("Other", d.m_strBoxCaption);
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(IDOK, dlg.DoModal());
}

TEST(Windows, Centring) {
  TestDlg dlg;
  dlg.m_onRun = [](TestDlg& d) {
    RECT screen;
    ::GetWindowRect(::GetDesktopWindow(), &screen);
    RECT work;
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    struct Case {
      CWnd* pOver;
      RECT area;
    } cases[] = {{CWnd::GetDesktopWindow(), screen}, {NULL, work}};
    for (const Case& c : cases) {
      d.SetWindowPos(NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      d.CenterWindow(c.pOver);
      RECT rc;
      d.GetWindowRect(&rc);
      EXPECT_NEAR((c.area.left + c.area.right) / 2, (rc.left + rc.right) / 2, 1);
      EXPECT_NEAR((c.area.top + c.area.bottom) / 2, (rc.top + rc.bottom) / 2, 1);
    }
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(IDOK, dlg.DoModal());
}

// Message boxes are dialogs of the program too: with the dialog colours set
// they take them, through either way of opening one.
TEST(Dialogs, MessageBoxesTakeTheApplicationColours) {
  const COLORREF kGrey = RGB(192, 192, 192);
  CWinApp* app = AfxGetApp();
  app->SetDialogBkColor();
  TestDlg dlg;
  dlg.m_onRun = [&](TestDlg& d) {
    struct Way {
      const char* name;
      std::function<int()> open;
    } ways[] = {
        {"CWnd::MessageBox", [&] { return d.MessageBox("A question of colour", NULL, MB_OK | MB_ICONSTOP); }},
        {"AfxMessageBox", [] { return AfxMessageBox("A question of colour", MB_OK | MB_ICONEXCLAMATION); }},
    };
    for (const Way& way : ways) {
      d.m_crBoxBackground = d.m_crBoxTextBackground = CLR_INVALID;
      d.PostMessage(WM_TEST_ANSWER_BOX);
      EXPECT_EQ(IDOK, way.open()) << way.name;
      EXPECT_EQ(kGrey, d.m_crBoxBackground) << way.name;
      EXPECT_EQ(kGrey, d.m_crBoxTextBackground) << way.name;
    }
    d.EndDialog(IDOK);
  };
  dlg.DoModal();
  app->ReleaseLook();

  // Without them, the system's colours.
  TestDlg plain;
  plain.m_onRun = [](TestDlg& d) {
    d.PostMessage(WM_TEST_ANSWER_BOX);
    d.MessageBox("A question of colour");
    EXPECT_EQ(::GetSysColor(COLOR_3DFACE), d.m_crBoxBackground);
    d.EndDialog(IDOK);
  };
  plain.DoModal();
}

TEST(Dialogs, ApplicationColours) {
  CWinApp* app = AfxGetApp();
  app->SetDialogBkColor();
  TestDlg dlg;
  dlg.m_onRun = [&](TestDlg& d) {
    HDC hDC = ::CreateCompatibleDC(NULL);
    LRESULT brush = reinterpret_cast<LRESULT>(app->m_hDlgBkBrush);
    EXPECT_EQ(brush, d.SendMessage(WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(hDC),
                                   reinterpret_cast<LPARAM>(d.m_hWnd)));
    ::SetBkColor(hDC, RGB(1, 2, 3));
    ::SetTextColor(hDC, RGB(4, 5, 6));
    EXPECT_EQ(brush, d.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hDC),
                                   reinterpret_cast<LPARAM>(Item(d, IDC_TEXT))));
    EXPECT_EQ(RGB(192, 192, 192), ::GetBkColor(hDC));
    EXPECT_EQ(RGB(0, 0, 0), ::GetTextColor(hDC));
    EXPECT_EQ(brush, d.SendMessage(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(hDC),
                                   reinterpret_cast<LPARAM>(Item(d, IDOK))));
    // Edit fields keep the system's colours.
    EXPECT_NE(brush, d.SendMessage(WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(hDC),
                                   reinterpret_cast<LPARAM>(Item(d, IDC_EDIT))));
    EXPECT_NE(brush, d.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hDC),
                                   reinterpret_cast<LPARAM>(Item(d, IDC_EDIT))));
    ::DeleteDC(hDC);
    d.EndDialog(IDOK);
  };
  dlg.DoModal();
  app->ReleaseLook();
}

// Records the first message and the end of its window.
class ProbeWnd : public CWnd {
 public:
  UINT m_nFirstMessage = 0;
  int m_nPostNcDestroy = 0;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (m_nFirstMessage == 0) m_nFirstMessage = message;
    return CWnd::WindowProc(message, wParam, lParam);
  }
  void PostNcDestroy() override { ++m_nPostNcDestroy; }
};

TEST(Windows, CreateAttachesBeforeTheFirstMessage) {
  ProbeWnd wnd;
  RECT rect = {0, 0, 50, 40};
  ASSERT_TRUE(wnd.Create(NULL, "probe", WS_POPUP, rect, NULL, 0));
  EXPECT_TRUE(wnd.m_nFirstMessage == WM_GETMINMAXINFO || wnd.m_nFirstMessage == WM_NCCREATE)
      << wnd.m_nFirstMessage;
  char szClass[32];
  ::GetClassNameA(wnd.m_hWnd, szClass, sizeof szClass);
  EXPECT_STREQ("QuenlatWnd", szClass);
  HWND hWnd = wnd.m_hWnd;
  EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(hWnd));
  EXPECT_TRUE(wnd.DestroyWindow());
  EXPECT_EQ(NULL, wnd.m_hWnd);
  EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hWnd));
  EXPECT_EQ(1, wnd.m_nPostNcDestroy);
}

}  // namespace
