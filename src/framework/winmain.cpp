// The program's entry point. Kept apart from the framework library so that
// test programs, which have their own main, can link the framework.
#include <windows.h>

#include "framework/winapp.h"

namespace {

// The system's command line after the program's name, as the C runtime finds
// lpCmdLine: the name ends at the closing double quote when it starts with
// one, otherwise at the first blank.
LPCWSTR ArgumentsW() {
  LPCWSTR p = ::GetCommandLineW();
  if (p == NULL) return L"";
  if (*p == L'"') {
    ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p > L' ') ++p;
  }
  return p;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow) {
  AfxSetWideCommandLine(ArgumentsW());
  return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
