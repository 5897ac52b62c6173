#include "ui_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace ui {

namespace {

const UINT kSendTimeoutMs = 5000;

std::string ClassOf(HWND hWnd) {
  char szClass[64] = "";
  ::GetClassNameA(hWnd, szClass, sizeof szClass);
  return szClass;
}

struct DialogSearch {
  const char* caption;
  DWORD processId;
  HWND hFound;
};

BOOL CALLBACK MatchDialog(HWND hWnd, LPARAM lParam) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(lParam);
  if (search->processId != 0) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(hWnd, &processId);
    if (processId != search->processId) return TRUE;
  }
  if (ClassOf(hWnd) == "#32770" && ::IsWindowVisible(hWnd) && Text(hWnd) == search->caption) {
    search->hFound = hWnd;
    return FALSE;
  }
  return TRUE;
}

struct BoxSearch {
  HWND hOwner;
  const char* caption;
  HWND hFound;
};

BOOL CALLBACK MatchBox(HWND hWnd, LPARAM lParam) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(lParam);
  if (::GetWindow(hWnd, GW_OWNER) == search->hOwner && ClassOf(hWnd) == "#32770" &&
      ::IsWindowVisible(hWnd) && Text(hWnd) == search->caption) {
    search->hFound = hWnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectStatic(HWND hWnd, LPARAM lParam) {
  std::string* longest = reinterpret_cast<std::string*>(lParam);
  if (ClassOf(hWnd) == "Static") {
    std::string text = Text(hWnd);
    if (text.size() > longest->size()) *longest = text;
  }
  return TRUE;
}

struct BoxParts {
  HICON hIcon;
  std::string buttons;
};

BOOL CALLBACK CollectBoxParts(HWND hWnd, LPARAM lParam) {
  BoxParts* parts = reinterpret_cast<BoxParts*>(lParam);
  if (!::IsWindowVisible(hWnd)) return TRUE;
  std::string cls = ClassOf(hWnd);
  if (cls == "Static" && (::GetWindowLongA(hWnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    DWORD_PTR icon = 0;
    ::SendMessageTimeoutA(hWnd, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &icon);
    parts->hIcon = reinterpret_cast<HICON>(icon);
  } else if (cls == "Button") {
    static const struct {
      int id;
      const char* name;
    } names[] = {{IDOK, "OK"},       {IDCANCEL, "Cancel"}, {IDABORT, "Abort"}, {IDRETRY, "Retry"},
                 {IDIGNORE, "Ignore"}, {IDYES, "Yes"},       {IDNO, "No"}};
    std::string name = "?";
    for (const auto& n : names) {
      if (n.id == ::GetDlgCtrlID(hWnd)) name = n.name;
    }
    parts->buttons += (parts->buttons.empty() ? "" : " ") + name;
  }
  return TRUE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& ready, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (ready()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

HWND FindDialog(const char* caption, DWORD threadId, DWORD processId) {
  DialogSearch search = {caption, processId, NULL};
  if (threadId != 0) {
    ::EnumThreadWindows(threadId, MatchDialog, reinterpret_cast<LPARAM>(&search));
  } else {
    ::EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
  }
  return search.hFound;
}

HWND WaitForDialog(const char* caption, DWORD threadId, DWORD processId, int timeoutMs) {
  HWND hFound = NULL;
  WaitUntil([&] { return (hFound = FindDialog(caption, threadId, processId)) != NULL; },
            timeoutMs);
  return hFound;
}

HWND FindOwnedBox(HWND hOwner, const char* caption) {
  BoxSearch search = {hOwner, caption, NULL};
  ::EnumThreadWindows(::GetWindowThreadProcessId(hOwner, NULL), MatchBox,
                      reinterpret_cast<LPARAM>(&search));
  return search.hFound;
}

HWND WaitForOwnedBox(HWND hOwner, const char* caption, int timeoutMs) {
  HWND hFound = NULL;
  WaitUntil([&] { return (hFound = FindOwnedBox(hOwner, caption)) != NULL; }, timeoutMs);
  return hFound;
}

std::string Text(HWND hWnd) {
  std::vector<char> buffer(4096);
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutA(hWnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &length)) {
    return std::string();
  }
  return std::string(buffer.data(), length < buffer.size() ? length : buffer.size() - 1);
}

std::string ItemText(HWND hDlg, int id) { return Text(::GetDlgItem(hDlg, id)); }

std::string BoxText(HWND hBox) {
  std::string longest;
  ::EnumChildWindows(hBox, CollectStatic, reinterpret_cast<LPARAM>(&longest));
  return longest;
}

std::string BoxIcon(HWND hBox) {
  BoxParts parts = {NULL, ""};
  ::EnumChildWindows(hBox, CollectBoxParts, reinterpret_cast<LPARAM>(&parts));
  if (parts.hIcon == NULL) return "none";
  // The system's icons are shared: every load gives the same handle.
  static const struct {
    LPCSTR id;
    const char* name;
  } icons[] = {{IDI_HAND, "stop"},
               {IDI_EXCLAMATION, "exclamation"},
               {IDI_QUESTION, "question"},
               {IDI_ASTERISK, "information"}};
  for (const auto& icon : icons) {
    if (::LoadIconA(NULL, icon.id) == parts.hIcon) return icon.name;
  }
  return "other";
}

COLORREF DrawnBackground(HWND hWnd) {
  RECT rc;
  if (!::GetClientRect(hWnd, &rc) || rc.right <= 0 || rc.bottom <= 0) return CLR_INVALID;
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = rc.right;
  bmi.bmiHeader.biHeight = -rc.bottom;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* pBits = NULL;
  HDC hDC = ::CreateCompatibleDC(NULL);
  HBITMAP hBitmap = ::CreateDIBSection(hDC, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
  HGDIOBJ hOld = ::SelectObject(hDC, hBitmap);
  ::SendMessageTimeoutA(hWnd, WM_PRINT, reinterpret_cast<WPARAM>(hDC), PRF_CLIENT | PRF_ERASEBKGND,
                        SMTO_ABORTIFHUNG, kSendTimeoutMs, NULL);
  ::GdiFlush();
  std::map<DWORD, size_t> counts;
  const DWORD* pPixels = static_cast<const DWORD*>(pBits);
  for (LONG i = 0; i < rc.right * rc.bottom; ++i) ++counts[pPixels[i] & 0xFFFFFF];
  ::SelectObject(hDC, hOld);
  ::DeleteObject(hBitmap);
  ::DeleteDC(hDC);
  DWORD most = 0;
  size_t mostCount = 0;
  for (const auto& c : counts) {
    if (c.second > mostCount) {
      most = c.first;
      mostCount = c.second;
    }
  }
  return RGB((most >> 16) & 0xFF, (most >> 8) & 0xFF, most & 0xFF);
}

std::string BoxButtons(HWND hBox) {
  BoxParts parts = {NULL, ""};
  ::EnumChildWindows(hBox, CollectBoxParts, reinterpret_cast<LPARAM>(&parts));
  return parts.buttons;
}

bool WaitForItemText(HWND hDlg, int id, const std::string& text, int timeoutMs) {
  return WaitUntil([&] { return ItemText(hDlg, id) == text; }, timeoutMs);
}

LRESULT CheckState(HWND hDlg, int id) {
  DWORD_PTR state = 0;
  ::SendMessageTimeoutA(::GetDlgItem(hDlg, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &state);
  return static_cast<LRESULT>(state);
}

bool IsItemEnabled(HWND hDlg, int id) { return ::IsWindowEnabled(::GetDlgItem(hDlg, id)) != FALSE; }

HWND FocusOf(HWND hWnd) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(hWnd, NULL), &info)) return NULL;
  return info.hwndFocus;
}

void Click(HWND hDlg, int id) { ::PostMessageA(::GetDlgItem(hDlg, id), BM_CLICK, 0, 0); }

bool ClickAndWait(HWND hDlg, int id, int timeoutMs) {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutA(::GetDlgItem(hDlg, id), BM_CLICK, 0, 0, SMTO_NORMAL,
                               static_cast<UINT>(timeoutMs), &result) != 0;
}

void PressKey(HWND hDlg, UINT vk) {
  HWND hTarget = FocusOf(hDlg);
  if (hTarget == NULL) hTarget = hDlg;
  UINT scan = ::MapVirtualKeyA(vk, 0);
  ::PostMessageA(hTarget, WM_KEYDOWN, vk, 1 | (scan << 16));
  ::PostMessageA(hTarget, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}

namespace {

struct OwnedWindows {
  HWND hOwner;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOwned(HWND hWnd, LPARAM lParam) {
  OwnedWindows* owned = reinterpret_cast<OwnedWindows*>(lParam);
  if (::GetWindow(hWnd, GW_OWNER) == owned->hOwner) owned->found.push_back(hWnd);
  return TRUE;
}

}  // namespace

void ForceClose(HWND hDlg, int timeoutMs) {
  WaitUntil(
      [&] {
        if (!::IsWindow(hDlg)) return true;
        OwnedWindows owned = {hDlg, {}};
        ::EnumThreadWindows(::GetWindowThreadProcessId(hDlg, NULL), CollectOwned,
                            reinterpret_cast<LPARAM>(&owned));
        for (HWND hBox : owned.found) {
          ::PostMessageA(hBox, WM_COMMAND, ::GetDlgItem(hBox, IDNO) != NULL ? IDNO : IDOK, 0);
        }
        ::PostMessageA(hDlg, WM_COMMAND, IDCANCEL, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return false;
      },
      timeoutMs);
}

INT_PTR RunAndDrive(const char* caption, const std::function<INT_PTR()>& run,
                    const std::function<void(HWND)>& drive) {
  DWORD threadId = ::GetCurrentThreadId();
  std::thread driver([&] {
    HWND hWnd = WaitForDialog(caption, threadId);
    if (hWnd == NULL) {
      ADD_FAILURE() << "\"" << caption << "\" did not appear";
      return;
    }
    drive(hWnd);
    if (!WaitUntil([&] { return !::IsWindow(hWnd); }, 5000)) {
      ADD_FAILURE() << "\"" << caption << "\" was left open";
      ForceClose(hWnd);
    }
  });
  INT_PTR result = run();
  driver.join();
  return result;
}

}  // namespace ui
