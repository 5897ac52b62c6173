// Reads a dialog template resource (the classic DLGTEMPLATE format that the
// resource compiler writes for DIALOG) into plain values, so that a test can
// compare it with its design.
#ifndef QUENLAT_TESTS_DIALOG_TEMPLATE_H
#define QUENLAT_TESTS_DIALOG_TEMPLATE_H

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

struct DialogControl {
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
  WORD id;
  std::string cls;  // predefined classes by name: "Button", "Static", ...
  std::string text;
};

struct DialogTemplate {
  bool found = false;
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string caption;
  WORD fontSize = 0;
  std::string fontName;
  std::vector<DialogControl> controls;
};

// Template nId of the running program's resources.
inline DialogTemplate ReadDialogTemplate(WORD nId) {
  DialogTemplate t;
  HRSRC hRes = ::FindResourceA(NULL, MAKEINTRESOURCEA(nId), MAKEINTRESOURCEA(5));
  if (hRes == NULL) return t;
  const BYTE* base = static_cast<const BYTE*>(::LockResource(::LoadResource(NULL, hRes)));
  const BYTE* p = base;
  auto word = [&] {
    WORD w;
    std::memcpy(&w, p, sizeof w);
    p += sizeof w;
    return w;
  };
  auto dword = [&] {
    DWORD d = word();
    return d | static_cast<DWORD>(word()) << 16;
  };
  auto text = [&] {
    std::string s;
    for (WORD c; (c = word()) != 0;) s += static_cast<char>(c);
    return s;
  };
  auto nameOrOrdinal = [&]() -> std::string {
    WORD first;
    std::memcpy(&first, p, sizeof first);
    if (first != 0xFFFF) return text();
    word();
    switch (WORD ordinal = word()) {
      case 0x80: return "Button";
      case 0x81: return "Edit";
      case 0x82: return "Static";
      default: return "#" + std::to_string(ordinal);
    }
  };
  t.found = true;
  t.style = dword();
  t.exStyle = dword();
  WORD count = word();
  t.x = static_cast<short>(word());
  t.y = static_cast<short>(word());
  t.cx = static_cast<short>(word());
  t.cy = static_cast<short>(word());
  nameOrOrdinal();  // menu
  nameOrOrdinal();  // class
  t.caption = text();
  if (t.style & DS_SETFONT) {
    t.fontSize = word();
    t.fontName = text();
  }
  for (WORD i = 0; i < count; ++i) {
    while ((p - base) % 4 != 0) ++p;
    DialogControl c;
    c.style = dword();
    c.exStyle = dword();
    c.x = static_cast<short>(word());
    c.y = static_cast<short>(word());
    c.cx = static_cast<short>(word());
    c.cy = static_cast<short>(word());
    c.id = word();
    c.cls = nameOrOrdinal();
    c.text = nameOrOrdinal();
    p += word();  // creation data
    t.controls.push_back(c);
  }
  return t;
}

// What a test expects of a dialog: its frame and its controls, in template
// order (which is also the tab and group order). The extended styles are 0.
struct ExpectedControl {
  WORD id;
  const char* cls;
  const char* text;
  short x, y, cx, cy;
  DWORD style;
};

struct ExpectedDialog {
  DWORD style;
  short x, y, cx, cy;
  const char* caption;
  WORD fontSize;
  const char* fontName;
};

// Compares template nId with its design, control by control.
template <size_t N>
void ExpectDialogTemplate(WORD nId, const ExpectedDialog& dialog,
                          const ExpectedControl (&controls)[N]) {
  const DialogTemplate t = ReadDialogTemplate(nId);
  ASSERT_TRUE(t.found) << "no dialog template " << nId;
  EXPECT_EQ(dialog.style, t.style);
  EXPECT_EQ(0u, t.exStyle);
  EXPECT_EQ(dialog.x, t.x);
  EXPECT_EQ(dialog.y, t.y);
  EXPECT_EQ(dialog.cx, t.cx);
  EXPECT_EQ(dialog.cy, t.cy);
  EXPECT_EQ(dialog.caption, t.caption);
  EXPECT_EQ(dialog.fontSize, t.fontSize);
  EXPECT_EQ(dialog.fontName, t.fontName);
  ASSERT_EQ(N, t.controls.size());
  for (size_t i = 0; i < N; ++i) {
    const ExpectedControl& e = controls[i];
    const DialogControl& c = t.controls[i];
    SCOPED_TRACE(e.text);
    EXPECT_EQ(e.id, c.id);
    EXPECT_STRCASEEQ(e.cls, c.cls.c_str());
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(e.style, c.style);
    EXPECT_EQ(0u, c.exStyle);
    EXPECT_EQ(e.x, c.x);
    EXPECT_EQ(e.y, c.y);
    EXPECT_EQ(e.cx, c.cx);
    EXPECT_EQ(e.cy, c.cy);
  }
}

#endif
