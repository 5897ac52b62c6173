// The About box: its template, the texts it computes (as tables through the
// functions that compute them, and in the real dialog), and the icon
// button's pixels on a memory device context.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "controls/icon_button.h"
#include "dialog_template.h"
#include "dialogs/about_dlg.h"
#include "framework/winapp.h"
#include "resources/drop_about.h"
#include "resources/version.h"
#include "ui_support.h"
#include "memory_canvas.h"
#include "test_app.h"

namespace {

TestApp<CWinApp> theApp;

TEST(AboutTemplate, IsTheDesignedBox) {
  // Popup, caption, system menu, modal frame, font.
  const ExpectedDialog dialog = {0x80C800C0u, 80, 40, 213, 95, "About...", 8, "Helv"};
  const ExpectedControl controls[] = {
      {1022, "Button", "", 5, 5, 48, 40, 0x5800000B},  // owner-drawn, disabled
      {1008, "Static", "App Name", 65, 5, 140, 8, 0x50000000},
      {1006, "Static", "Version", 65, 15, 140, 8, 0x50000000},
      {1007, "Static", "Copyright message", 65, 25, 140, 8, 0x50000000},
      {105, "Static", "Debug or release", 65, 35, 140, 8, 0x50000080},  // no prefix
      {104, "Static", "", 67, 45, 99, 8, 0x50000081},                   // centred, no prefix
      {IDCANCEL, "Button", "Close", 168, 60, 40, 14, 0x50010001},       // default, tab stop
      {0xFFFF, "Static", "", 5, 55, 202, 1, 0x50000004},                // black rectangle
      {0xFFFF, "Static", "Memory Usage:", 5, 63, 63, 8, 0x50000000},
      {101, "Static", "(Avail mem)", 77, 63, 72, 8, 0x50000000},
      {0xFFFF, "Static", "Processor:", 5, 71, 63, 8, 0x50000000},
      {106, "Static", "(Processor)", 77, 71, 72, 8, 0x50000000},
      {0xFFFF, "Static", "Disk Space:", 5, 79, 63, 8, 0x50000000},
      // Up to the Close button's left edge, below it.
      {102, "Static", "(Disk space)", 77, 79, 91, 8, 0x50000000},
  };
  ExpectDialogTemplate(IDD_ABOUT, dialog, controls);
}

// --- The lines, through the functions that compute them

TEST(AboutLines, BuildKindFromTheFileFlagsAsStored) {
  struct Case {
    DWORD flags;
    const char* text;
  } cases[] = {
      {0, "Release Build"},
      {VS_FF_DEBUG, "Debug Build"},
      {VS_FF_PRERELEASE, "Prerelease Build"},
      {VS_FF_DEBUG | VS_FF_PRERELEASE, "Debug Prerelease Build"},
      {VS_FF_PATCHED, "Build"},
      {VS_FF_PRIVATEBUILD | VS_FF_SPECIALBUILD, "Build"},
      {VS_FF_DEBUG | VS_FF_PATCHED, "Debug Build"},
      {0xFFFFFFFF, "Debug Prerelease Build"},
  };
  for (const Case& c : cases) {
    VS_FIXEDFILEINFO info = {};
    info.dwFileFlagsMask = 0;  // the flags are read as stored, not masked
    info.dwFileFlags = c.flags;
    EXPECT_STREQ(c.text, BuildKindText(&info)) << std::hex << c.flags;
  }
  EXPECT_STREQ("", BuildKindText(NULL)) << "no version data: nothing to tell";
}

TEST(AboutLines, MemoryIsTheShareNotInUse) {
  struct Case {
    DWORD load;
    const char* text;
  } cases[] = {{0, "100% Free"}, {37, "63% Free"}, {99, "1% Free"}, {100, "0% Free"}};
  for (const Case& c : cases) EXPECT_STREQ(c.text, MemoryText(c.load)) << c.load;
}

TEST(AboutLines, ProcessorNames) {
  struct Case {
    DWORD type;
    const char* text;
  } cases[] = {
      {386, "Intel 80386"}, {486, "Intel 80486"},   {586, "Intel Pentium"}, {4000, "MIPS R4000"},
      {21064, "Alpha 21064"}, {0, "Unknown"},       {8664, "Unknown"},      {587, "Unknown"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.text, ProcessorText(c.type)) << c.type;
}

TEST(AboutLines, DiskSpaceIn64BitsWithTruncatedQuotients) {
  struct Case {
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    const char* text;
  } cases[] = {
      {8, 512, 1000000, 2000000, "4000000 KB Free (50%)"},
      {8, 512, 2000000, 2000000, "8000000 KB Free (100%)"},
      {8, 512, 1, 3, "4 KB Free (33%)"},
      {8, 512, 2, 3, "8 KB Free (66%)"},
      {1, 512, 1, 1, "0 KB Free (100%)"},  // half a kilobyte
      {8, 512, 0, 5, "0 KB Free (0%)"},
      // Past 32 bits: bytes, kilobytes and the percentage's product.
      {8, 4096, 0xFFFFFFFF, 0xFFFFFFFF, "137438953440 KB Free (100%)"},
      {128, 4096, 0x80000000, 0xFFFFFFFF, "1099511627776 KB Free (50%)"},
      // No clusters in total: no percentage to give.
      {8, 512, 0, 0, "0 KB Free"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.text, DiskSpaceText(c.sectorsPerCluster, c.bytesPerSector, c.freeClusters,
                                       c.totalClusters))
        << c.freeClusters << " of " << c.totalClusters;
  }
}

// --- The icon button's pixels

const COLORREF kBackground = RGB(0, 128, 128);
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kDarkGrey = RGB(64, 64, 64);

TEST(IconButton, DrawsTheIconAtTwiceItsSizeInAFrameWithAShadow) {
  ASSERT_EQ(32, ::GetSystemMetrics(SM_CXICON));
  ASSERT_EQ(32, ::GetSystemMetrics(SM_CYICON));
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, NULL, "parent", WS_POPUP, 0, 0, 200, 200, NULL, NULL));
  CIconButton button;
  RECT rc = {10, 10, 20, 20};
  ASSERT_TRUE(button.Create("BUTTON", "", WS_CHILD | BS_OWNERDRAW, rc, &parent, IDC_ABOUT_ICON));
  button.SizeToIcon();
  RECT rcClient, rcWindow;
  button.GetClientRect(&rcClient);
  EXPECT_EQ(72, rcClient.right);
  EXPECT_EQ(72, rcClient.bottom);
  button.GetWindowRect(&rcWindow);
  POINT topLeft = {rcWindow.left, rcWindow.top};
  ::ScreenToClient(parent.m_hWnd, &topLeft);
  EXPECT_EQ(10, topLeft.x) << "the button keeps its place";
  EXPECT_EQ(10, topLeft.y);

  // The icon over the background, at its own size, as the reference.
  HICON hIcon = ::LoadIconA(::GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
  ASSERT_NE(nullptr, hIcon);
  MemoryCanvas icon(32, 32, kBackground);
  ::DrawIcon(icon.hdc(), 0, 0, hIcon);
  int nIconPixels = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) nIconPixels += icon.Pixel(x, y) != kBackground;
  }
  ASSERT_GT(nIconPixels, 200) << "the icon has a picture";

  MemoryCanvas canvas(72, 72, kBackground);
  DRAWITEMSTRUCT dis = {ODT_BUTTON, IDC_ABOUT_ICON, 0, ODA_DRAWENTIRE, ODS_DISABLED,
                        button.m_hWnd, canvas.hdc(), rcClient, 0};
  button.DrawItem(&dis);
  std::vector<COLORREF> first = canvas.Pixels();

  for (int y = 0; y < 72; ++y) {
    for (int x = 0; x < 72; ++x) {
      COLORREF expected;
      if (x >= 68 && y < 4) {
        expected = kBackground;  // corner left unpainted
      } else if (x < 4 && y >= 68) {
        expected = kBackground;  // the other corner
      } else if (x >= 68 || y >= 68) {
        expected = kDarkGrey;  // shadow strips
      } else if (x == 0 || y == 0 || x == 67 || y == 67) {
        expected = kBlack;  // outline
      } else if (x == 1 || y == 1 || x == 66 || y == 66) {
        expected = kWhite;  // inside the outline, the context's own brush
      } else {
        expected = icon.Pixel((x - 2) / 2, (y - 2) / 2);  // each pixel as 2 x 2
      }
      ASSERT_EQ(expected, canvas.Pixel(x, y)) << "at " << x << ", " << y;
    }
  }

  // The next drawing starts from the last one and gives the same pixels.
  button.DrawItem(&dis);
  EXPECT_EQ(first, canvas.Pixels());
  // Erasing is left out: the button paints all it needs.
  EXPECT_EQ(TRUE, button.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.hdc())));
  EXPECT_EQ(first, canvas.Pixels());
  parent.DestroyWindow();
}

// --- The dialog

TEST(AboutDlg, ShowsTheProgramsVersionDataAndTheMachinesFigures) {
  SYSTEM_INFO systemInfo;
  ::GetSystemInfo(&systemInfo);
  struct Way {
    const char* name;
    std::function<void(HWND)> close;
  } ways[] = {
      {"Close", [](HWND hDlg) { ui::Click(hDlg, IDCANCEL); }},
      {"Escape", [](HWND hDlg) { ui::PressKey(hDlg, VK_ESCAPE); }},
      {"close box", [](HWND hDlg) { ::PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    CAboutDlg dlg;
    DWORD threadId = ::GetCurrentThreadId();
    std::thread driver([&] {
      HWND hDlg = ui::WaitForDialog("About Quenlat", threadId);
      ASSERT_NE(nullptr, hDlg);
      EXPECT_EQ("Quenlat", ui::ItemText(hDlg, IDC_ABOUT_APP_NAME));
      EXPECT_EQ("Version 1.1", ui::ItemText(hDlg, IDC_ABOUT_VERSION));
      EXPECT_EQ(QUENLAT_COPYRIGHT, ui::ItemText(hDlg, IDC_ABOUT_COPYRIGHT));
      EXPECT_EQ("Release Build", ui::ItemText(hDlg, IDC_ABOUT_BUILD));
      EXPECT_EQ("", ui::ItemText(hDlg, IDC_ABOUT_UNUSED));
      EXPECT_TRUE(std::regex_match(ui::ItemText(hDlg, IDC_ABOUT_MEMORY),
                                   std::regex("(100|[1-9]?[0-9])% Free")))
          << ui::ItemText(hDlg, IDC_ABOUT_MEMORY);
      EXPECT_EQ(std::string(ProcessorText(systemInfo.dwProcessorType)),
                ui::ItemText(hDlg, IDC_ABOUT_PROCESSOR));
      EXPECT_TRUE(std::regex_match(ui::ItemText(hDlg, IDC_ABOUT_DISK_SPACE),
                                   std::regex("[0-9]+ KB Free \\(([0-9]|[1-9][0-9]|100)%\\)")))
          << ui::ItemText(hDlg, IDC_ABOUT_DISK_SPACE);

      // The whole disk line shows: this disk's, one of today's, and the
      // widest with ten digits and a two-digit share.
      HWND hDisk = ::GetDlgItem(hDlg, IDC_ABOUT_DISK_SPACE);
      RECT rcDisk;
      ::GetClientRect(hDisk, &rcDisk);
      HDC hDC = ::GetDC(hDisk);
      HGDIOBJ hOld = ::SelectObject(hDC, reinterpret_cast<HFONT>(::SendMessageA(hDisk, WM_GETFONT, 0, 0)));
      for (const std::string& line : {ui::ItemText(hDlg, IDC_ABOUT_DISK_SPACE),
                                      std::string("77469168 KB Free (35%)"),
                                      std::string("9999999999 KB Free (99%)")}) {
        SIZE size;
        ::GetTextExtentPoint32A(hDC, line.c_str(), static_cast<int>(line.size()), &size);
        EXPECT_LE(size.cx, rcDisk.right) << line;
      }
      ::SelectObject(hDC, hOld);
      ::ReleaseDC(hDisk, hDC);

      HWND hIcon = ::GetDlgItem(hDlg, IDC_ABOUT_ICON);
      RECT rc;
      ::GetClientRect(hIcon, &rc);
      EXPECT_EQ(72, rc.right);
      EXPECT_EQ(72, rc.bottom);
      EXPECT_FALSE(::IsWindowEnabled(hIcon));
      EXPECT_TRUE(ui::WaitUntil([&] { return ui::FocusOf(hDlg) == ::GetDlgItem(hDlg, IDCANCEL); },
                                5000));
      RECT rcWindow, rcDesktop;
      ::GetWindowRect(hDlg, &rcWindow);
      ::GetWindowRect(::GetDesktopWindow(), &rcDesktop);
      EXPECT_NEAR((rcDesktop.left + rcDesktop.right) / 2, (rcWindow.left + rcWindow.right) / 2, 1);
      EXPECT_NEAR((rcDesktop.top + rcDesktop.bottom) / 2, (rcWindow.top + rcWindow.bottom) / 2, 1);

      way.close(hDlg);
      if (!ui::WaitUntil([&] { return !::IsWindow(hDlg); }, 5000)) {
        ADD_FAILURE() << "the About box was left open";
        ui::ForceClose(hDlg);
      }
    });
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    driver.join();
    EXPECT_STREQ("Quenlat", dlg.m_strAppName);
    EXPECT_EQ(nullptr, dlg.m_btnIcon.m_hWnd) << "released with the dialog";
  }
}

}  // namespace
