// The whole framework in one include.
#ifndef QUENLAT_FRAMEWORK_FRAMEWORK_H
#define QUENLAT_FRAMEWORK_FRAMEWORK_H

#include "framework/button.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "framework/msgmap.h"
#include "framework/object.h"
#include "framework/text.h"
#include "framework/winapp.h"
#include "framework/wnd.h"

#endif
