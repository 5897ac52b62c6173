// A 32-bit memory bitmap selected into a memory device context, whose pixels
// a drawing test reads directly.
#ifndef QUENLAT_TESTS_MEMORY_CANVAS_H
#define QUENLAT_TESTS_MEMORY_CANVAS_H

#include <windows.h>

#include <vector>

#include "framework/gdi.h"

class MemoryCanvas {
 public:
  // A width x height canvas filled with one colour.
  MemoryCanvas(int width, int height, COLORREF fill) : m_width(width), m_height(height) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    m_dc.CreateCompatibleDC(NULL);
    m_hBitmap = ::CreateDIBSection(m_dc.m_hDC, &bmi, DIB_RGB_COLORS, &m_pBits, NULL, 0);
    m_hOld = m_dc.SelectObject(m_hBitmap);
    CBrush brush(fill);
    RECT all = {0, 0, width, height};
    m_dc.FillRect(&all, brush);
  }
  ~MemoryCanvas() {
    m_dc.SelectObject(m_hOld);
    ::DeleteObject(m_hBitmap);
  }
  MemoryCanvas(const MemoryCanvas&) = delete;
  MemoryCanvas& operator=(const MemoryCanvas&) = delete;

  CDC* dc() { return &m_dc; }
  HDC hdc() const { return m_dc.m_hDC; }

  COLORREF Pixel(int x, int y) const {
    ::GdiFlush();
    DWORD v = static_cast<const DWORD*>(m_pBits)[y * m_width + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }

  // Every pixel, row by row.
  std::vector<COLORREF> Pixels() const {
    std::vector<COLORREF> pixels;
    for (int y = 0; y < m_height; ++y) {
      for (int x = 0; x < m_width; ++x) pixels.push_back(Pixel(x, y));
    }
    return pixels;
  }

 private:
  int m_width;
  int m_height;
  CDC m_dc;
  HBITMAP m_hBitmap;
  HGDIOBJ m_hOld;
  void* m_pBits = nullptr;
};

#endif
