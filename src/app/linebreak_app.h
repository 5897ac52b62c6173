// The application: CLinebreakApp and its start-up.
//
// Start-up sets the look of all dialogs (three-dimensional controls, grey
// dialog colours), then runs exactly one modal dialog: with file paths on the
// command line the Translate Linebreaks dialog for them, with no owner;
// otherwise the main drop window. It returns FALSE, so no message loop of the
// framework's runs, and the process ends with exit code 0 once that dialog
// has closed.
#ifndef QUENLAT_APP_LINEBREAK_APP_H
#define QUENLAT_APP_LINEBREAK_APP_H

#include "app/profile_app.h"
#include "framework/text.h"

class CLinebreakApp : public CProfileApp {
 public:
  // The application's name comes from the resources.
  CLinebreakApp();
  ~CLinebreakApp() override;

  // Start-up, as described above. Always FALSE.
  BOOL InitInstance() override;

  // Appends each token of pszCmdLine at the tail of pList, in order, without
  // clearing it first. Tokens are separated by runs of white space (codes 9
  // to 13 and 32) and end at a space, tab, carriage return or line feed
  // outside double quotes, which are dropped (an unclosed one runs to the
  // end); nothing else is special, and no token is empty. The
  // text is in code page nCodePage: the second byte of a double-byte
  // character is never taken for white space or a separator. Always TRUE.
  BOOL SplitCommandLine(LPCSTR pszCmdLine, CStringList* pList, UINT nCodePage = CP_ACP);
  // The same for a command line in UTF-16, split by the same rule; each token
  // is appended in UTF-8, the form in which the batch takes file names, so
  // that every name stays exactly as given. Always TRUE.
  BOOL SplitCommandLine(LPCWSTR pszCmdLine, CStringList* pList);
};

#endif
