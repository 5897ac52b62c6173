// QUENLAT.EXE: the one application object. The framework's entry point
// (quenlat_framework_main) initialises it and calls its start-up.
#include "app/linebreak_app.h"

CLinebreakApp theApp;
