// The application object of the test program, initialised the way the
// entry point would do it.
#include "framework/winapp.h"

namespace {

class TestApp : public CWinApp {
 public:
  TestApp() { AfxWinInit(::GetModuleHandleA(NULL), NULL, const_cast<LPSTR>(" \t args"), SW_SHOW); }
};

TestApp theApp;

}  // namespace
