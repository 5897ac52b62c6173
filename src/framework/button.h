// CButton: a push button, check box, radio button or owner-drawn button.
#ifndef QUENLAT_FRAMEWORK_BUTTON_H
#define QUENLAT_FRAMEWORK_BUTTON_H

#include <windows.h>

#include "framework/wnd.h"

class CButton : public CWnd {
 public:
  CButton() {}

  // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE (BM_GETCHECK).
  int GetCheck() const;
  void SetCheck(int nCheck);

  // Draws an owner-drawn button (BS_OWNERDRAW) for each WM_DRAWITEM that its
  // parent receives for it; the default draws nothing.
  virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);

  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

#endif
