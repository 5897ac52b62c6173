// Resource numbers of QUENLAT.EXE, shared by the resource script and the code.
#ifndef QUENLAT_RESOURCES_RESOURCE_H
#define QUENLAT_RESOURCES_RESOURCE_H

// The application's name (the framework reads it as kAppNameStringId).
#define IDS_APP_TITLE 57344

// The Translate Linebreaks dialog.
#define IDD_TRANSLATE 105
#define IDC_MODE_AUTOMATIC 1002   // first of the radio group: mode 0
#define IDC_MODE_LF_TO_CRLF 1003  // mode 1
#define IDC_PROGRESS 1005         // the "ProgressBar" control
#define IDC_MODE_CRLF_TO_LF 1006  // mode 2
#define IDC_STATUS 1007           // the status line

#endif
