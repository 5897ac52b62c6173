// The application object of a test program, set up as the program's entry
// point would set it up, with the given command line.
#ifndef QUENLAT_TESTS_TEST_APP_H
#define QUENLAT_TESTS_TEST_APP_H

#include <windows.h>

#include "framework/winapp.h"

template <class TBaseApp>
class TestApp : public TBaseApp {
 public:
  explicit TestApp(const char* pszCmdLine = "") {
    AfxWinInit(::GetModuleHandleA(NULL), NULL, const_cast<LPSTR>(pszCmdLine), SW_SHOW);
  }
};

#endif
