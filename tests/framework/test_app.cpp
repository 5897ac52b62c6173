// The application object of the test program, initialised the way the
// entry point would do it.
#include "framework/winapp.h"
#include "test_app.h"

namespace {

TestApp<CWinApp> theApp(" \t args");

}  // namespace
