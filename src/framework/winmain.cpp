// The program's entry point. Kept apart from the framework library so that
// test programs, which have their own main, can link the framework.
#include <windows.h>

#include "framework/winapp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow) {
  return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
