#include "app/main_window.h"

// The drop window does not exist yet: a start without arguments ends at once.
void RunMainDropWindow() {}
