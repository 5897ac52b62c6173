// Names between the programs' UTF-8 and the system's UTF-16. A lone
// surrogate (valid in a Windows file name, though no character) is carried
// as the three bytes UTF-8 would give its code point, so that every name the
// system hands out comes back to it unchanged.
#ifndef QUENLAT_WIN32_WIDE_TEXT_H
#define QUENLAT_WIN32_WIDE_TEXT_H

#include <string>

// The UTF-16 form of text. False, with *wide unspecified, when text is not
// such UTF-8 (a stray or missing continuation byte, an overlong form, a code
// point above U+10FFFF): such a name can name no file.
bool WideFromUtf8(const std::string& text, std::wstring* wide);

// The UTF-8 form of the n units at wide (lone surrogates as said above).
std::string Utf8FromWide(const wchar_t* wide, size_t n);
inline std::string Utf8FromWide(const std::wstring& wide) {
  return Utf8FromWide(wide.data(), wide.size());
}

#endif
