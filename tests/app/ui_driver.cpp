// Drives a dialog of another program from the command line, for scripts:
//   quenlat_ui_driver CAPTION COMMAND...
// waits for the visible dialog with that caption that a QUENLAT.EXE shows
// (the tests that run beside it show dialogs of the same caption in their
// own processes), then runs the commands in order:
//   click ID       clicks button ID
//   text ID TEXT   waits until control ID shows TEXT
//   rect           prints the dialog's window rectangle as WxH+X+Y
// Exit code 0 when every command succeeded, 1 on a time-out, 2 on bad usage.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui_support.h"

namespace {

// The dialog with caption that some running QUENLAT.EXE shows, or NULL.
HWND FindProgramDialog(const char* caption) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return NULL;
  HWND hFound = NULL;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more && hFound == NULL;
       more = ::Process32Next(snapshot, &entry)) {
    if (::lstrcmpiA(entry.szExeFile, "QUENLAT.EXE") == 0) {
      hFound = ui::FindDialog(caption, 0, entry.th32ProcessID);
    }
  }
  ::CloseHandle(snapshot);
  return hFound;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quenlat_ui_driver CAPTION [click ID | text ID TEXT | rect]...\n");
    return 2;
  }
  HWND hDlg = NULL;
  ui::WaitUntil([&] { return (hDlg = FindProgramDialog(argv[1])) != NULL; });
  if (hDlg == NULL) {
    std::fprintf(stderr, "no dialog \"%s\"\n", argv[1]);
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "click") == 0 && i + 1 < argc) {
      ui::Click(hDlg, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "text") == 0 && i + 2 < argc) {
      int id = std::atoi(argv[i + 1]);
      if (!ui::WaitForItemText(hDlg, id, argv[i + 2])) {
        std::fprintf(stderr, "control %d shows \"%s\", not \"%s\"\n", id,
                     ui::ItemText(hDlg, id).c_str(), argv[i + 2]);
        return 1;
      }
      i += 2;
    } else if (std::strcmp(argv[i], "rect") == 0) {
      RECT rc;
      ::GetWindowRect(hDlg, &rc);
      std::printf("%ldx%ld+%ld+%ld\n", rc.right - rc.left, rc.bottom - rc.top, rc.left, rc.top);
      std::fflush(stdout);
    } else {
      std::fprintf(stderr, "unknown command \"%s\"\n", argv[i]);
      return 2;
    }
  }
  return 0;
}
