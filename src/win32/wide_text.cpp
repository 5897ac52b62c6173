#include "win32/wide_text.h"

bool WideFromUtf8(const std::string& text, std::wstring* wide) {
  wide->clear();
  wide->reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      wide->push_back(static_cast<wchar_t>(c));
      ++i;
      continue;
    }
    size_t length;
    unsigned long code, least;
    if ((c & 0xE0) == 0xC0) {
      length = 2, code = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, code = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, code = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (n - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      code = (code << 6) | (t & 0x3F);
    }
    if (code < least || code > 0x10FFFF) return false;
    // A pair of surrogates written one by one would come back as the
    // character they make: two texts for one name. Lone ones travel alone.
    if (code >= 0xDC00 && code <= 0xDFFF && !wide->empty() && wide->back() >= 0xD800 &&
        wide->back() <= 0xDBFF)
      return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      wide->push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      wide->push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
    } else {
      wide->push_back(static_cast<wchar_t>(code));
    }
    i += length;
  }
  return true;
}

std::string Utf8FromWide(const wchar_t* wide, size_t n) {
  std::string text;
  text.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    unsigned long code = static_cast<unsigned short>(wide[i]);
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < n) {
      const unsigned long low = static_cast<unsigned short>(wide[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (code < 0x80) {
      text.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      text.push_back(static_cast<char>(0xC0 | (code >> 6)));
      text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      text.push_back(static_cast<char>(0xE0 | (code >> 12)));
      text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      text.push_back(static_cast<char>(0xF0 | (code >> 18)));
      text.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return text;
}
