// Driving real windows the way a user does, from another thread or another
// process: finding a dialog and the message boxes it owns, reading control
// texts, clicking buttons and pressing keys. Every wait has a timeout, so a
// broken program makes a test fail instead of hang.
#ifndef QUENLAT_TESTS_UI_SUPPORT_H
#define QUENLAT_TESTS_UI_SUPPORT_H

#include <windows.h>

#include <functional>
#include <string>

namespace ui {

const int kTimeoutMs = 20000;

// Polls ready every 10 ms until it returns true (then true) or the time is up.
bool WaitUntil(const std::function<bool()>& ready, int timeoutMs = kTimeoutMs);

// A visible dialog window (class "#32770") with the caption: of the thread
// when threadId is not 0, else of the process when processId is not 0, else
// any. NULL when there is none.
HWND FindDialog(const char* caption, DWORD threadId, DWORD processId = 0);
HWND WaitForDialog(const char* caption, DWORD threadId, DWORD processId = 0,
                   int timeoutMs = kTimeoutMs);

// A message box (class "#32770") with the caption, owned by hOwner.
HWND FindOwnedBox(HWND hOwner, const char* caption);
HWND WaitForOwnedBox(HWND hOwner, const char* caption, int timeoutMs = kTimeoutMs);

// A window's text (WM_GETTEXT, answered within the timeout), "" on failure.
std::string Text(HWND hWnd);
std::string ItemText(HWND hDlg, int id);
// The message of a message box: its longest static text.
std::string BoxText(HWND hBox);
bool WaitForItemText(HWND hDlg, int id, const std::string& text, int timeoutMs = kTimeoutMs);
// The icon a message box shows: "stop", "exclamation", "question",
// "information", "other" or "none".
std::string BoxIcon(HWND hBox);
// The colour of most of the pixels that a window draws of its client area
// and background (WM_PRINT); CLR_INVALID when it cannot be had.
COLORREF DrawnBackground(HWND hWnd);
// The visible buttons of a message box, in creation order, e.g. "Yes No".
std::string BoxButtons(HWND hBox);

// BM_GETCHECK of a dialog's button.
LRESULT CheckState(HWND hDlg, int id);
bool IsItemEnabled(HWND hDlg, int id);
// The window with the keyboard focus in hWnd's thread, or NULL.
HWND FocusOf(HWND hWnd);

// Clicks button id of hDlg (a posted BM_CLICK) and returns at once.
void Click(HWND hDlg, int id);
// Clicks button id and returns once the click has been handled; only for
// clicks that open no message box.
bool ClickAndWait(HWND hDlg, int id, int timeoutMs = kTimeoutMs);
// Presses and releases a key on the window that has the focus in hDlg's
// thread (posted WM_KEYDOWN, WM_KEYUP).
void PressKey(HWND hDlg, UINT vk);

// Runs run, which shows a modal window captioned caption on this thread,
// while drive works that window from another thread; drive must leave it
// closed. A window that does not appear, or is left open, fails the test (and
// is closed). Returns run's result.
INT_PTR RunAndDrive(const char* caption, const std::function<INT_PTR()>& run,
                    const std::function<void(HWND)>& drive);

// Ends a dialog that a failed test left open: answers its message boxes with
// No or OK and asks it to close, until it is gone or the time is up.
void ForceClose(HWND hDlg, int timeoutMs = kTimeoutMs);

}  // namespace ui

#endif
