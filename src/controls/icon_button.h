// CIconButton: an owner-drawn button that shows the application's icon at
// twice its size, inside a black frame with a dark grey drop shadow.
#ifndef QUENLAT_CONTROLS_ICON_BUTTON_H
#define QUENLAT_CONTROLS_ICON_BUTTON_H

#include <windows.h>

#include "framework/button.h"

class CDC;

class CIconButton : public CButton {
 public:
  CIconButton() {}

  // Makes the button twice an icon plus 8 pixels wide and high (72 x 72
  // with 32 x 32 icons), keeping its place.
  void SizeToIcon();

  // Draws the frame (a black outline W - 4 by H - 4 from the corner), the
  // shadow (4 pixels along the right and bottom edges, from 4 pixels in) and
  // the icon with what lay behind it, each pixel as a 2 x 2 block from
  // (2, 2). The top-right and bottom-left 4 x 4 corners are left alone, and
  // every drawing gives the same pixels. Nothing is drawn when the icon,
  // the bitmap or the memory context cannot be had.
  void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

 protected:
  // Erases nothing: the frame and the icon cover what is needed.
  BOOL OnEraseBkgnd(CDC* pDC);

  DECLARE_MESSAGE_MAP()
};

#endif
