// Start-up without arguments: the main drop window.
#ifndef QUENLAT_APP_MAIN_WINDOW_H
#define QUENLAT_APP_MAIN_WINDOW_H

// Runs the main drop window as the application's main window and returns
// when it has closed.
void RunMainDropWindow();

#endif
