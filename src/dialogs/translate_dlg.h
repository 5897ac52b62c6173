// The Translate Linebreaks dialog (template IDD_TRANSLATE): shows how many
// files wait, lets the user choose the translation mode and, on Convert,
// converts the files one after another with a status line, a percentage bar,
// a live Cancel button and a question after each file that fails. Afterwards
// its buttons read "Again" and "Close".
//
// The mode is read from the profile ("Options"/"TransMode", default 0) when
// the dialog opens and written there each time a batch starts. Between files
// the batch handles at most one waiting window message, which is how Cancel,
// Escape and the close box reach a running batch; they then stop it before
// the next file. A cancelled batch stays cancelled: every later run of the
// same dialog stops before its first file.
#ifndef QUENLAT_DIALOGS_TRANSLATE_DLG_H
#define QUENLAT_DIALOGS_TRANSLATE_DLG_H

#include <string>

#include "controls/progress_bar.h"
#include "convert/convert.h"
#include "framework/dialog.h"
#include "framework/text.h"

class CTranslateDlg : public CDialog, public ErrorReporter {
 public:
  // A dialog for the files of pFileList (paths in UTF-8), read from head to
  // tail and never changed; the list must outlive the dialog. Registers the "ProgressBar"
  // window class that the template needs.
  explicit CTranslateDlg(const CStringList* pFileList, CWnd* pParent = NULL);
  ~CTranslateDlg() override;

  // Converts the file at pszPath (UTF-8) in place with the mode m_nTransMode. TRUE
  // on success; on failure the user has seen the error (ReportFileError).
  BOOL ConvertFile(LPCSTR pszPath);
  // Shows the path (in the ANSI code page's closest form), a blank line and
  // the sentence for error in a message box
  // owned by the dialog, captioned with the application's name, with an OK
  // button and the stop icon; returns when the user has dismissed it.
  void ReportFileError(const FileError& error) override;

 protected:
  // The radio group of IDC_MODE_AUTOMATIC and m_nTransMode.
  void DoDataExchange(CDataExchange* pDX) override;
  // Reads the mode from the profile into the radio buttons, centres the
  // dialog on the screen and shows the number of files to convert.
  BOOL OnInitDialog() override;
  // Cancel, Escape and the close box: during a batch, asks it to stop;
  // otherwise closes the dialog.
  void OnCancel() override;
  // Button 1 ("Convert", later "Again"): runs the batch over the whole list.
  void OnConvert();

  int m_nTransMode;               // TranslationMode; -1 when no button is checked
  const CStringList* m_pFileList; // not owned
  CProgressBar* m_pProgress;      // control IDC_PROGRESS; owned by its window
  BOOL m_bCancel;                 // the user asked to stop; never cleared
  BOOL m_bBusy;                   // a batch runs

  DECLARE_MESSAGE_MAP()

 private:
  void SetStatus(LPCSTR pszText);
  // A Yes/No question owned by the dialog; TRUE for Yes.
  BOOL AskToContinue(LPCSTR pszQuestion);
};

#endif
