// Resource numbers of the main drop window, the About box and the icon,
// shared by drop_about.rc and the code.
#ifndef QUENLAT_RESOURCES_DROP_ABOUT_H
#define QUENLAT_RESOURCES_DROP_ABOUT_H

// The application's icon: one 32 x 32 image in 16 colours.
#define IDI_APPLICATION_ICON 2

// The main drop window.
#define IDD_DROP 102
#define IDC_AUTO_MINIMIZE 1000  // the "Auto Minimize" check box
#define IDC_ABOUT 1008          // the "About..." button

// The About box.
#define IDD_ABOUT 100
#define IDC_ABOUT_MEMORY 101
#define IDC_ABOUT_DISK_SPACE 102
#define IDC_ABOUT_UNUSED 104  // nothing writes to it
#define IDC_ABOUT_BUILD 105
#define IDC_ABOUT_PROCESSOR 106
#define IDC_ABOUT_VERSION 1006
#define IDC_ABOUT_COPYRIGHT 1007
#define IDC_ABOUT_APP_NAME 1008
#define IDC_ABOUT_ICON 1022  // the owner-drawn icon button

#endif
