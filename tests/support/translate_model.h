// The line-break rules one unit at a time, as plainly as they can be written:
// the reference that the block translator is checked against.
#ifndef QUENLAT_TESTS_TRANSLATE_MODEL_H
#define QUENLAT_TESTS_TRANSLATE_MODEL_H

#include <string>
#include <vector>

#include "convert/translate.h"

// What translating the whole stream in in the given direction must give.
inline std::string TranslateModel(const std::string& in, Direction direction,
                                  Encoding encoding = EncodingBytes) {
  // The stream as units; a UTF-16 stream of odd size keeps its last byte apart.
  const size_t width = encoding == EncodingBytes ? 1 : 2;
  const bool bigEndian = encoding == EncodingUtf16Be;
  std::vector<unsigned> units;
  for (size_t i = 0; i + width <= in.size(); i += width) {
    unsigned a = static_cast<unsigned char>(in[i]);
    unsigned b = width == 2 ? static_cast<unsigned char>(in[i + 1]) : 0;
    units.push_back(width == 1 ? a : bigEndian ? a << 8 | b : b << 8 | a);
  }
  const std::string tail = in.substr(units.size() * width);
  std::string out;
  const auto put = [&](unsigned u) {
    if (width == 1) {
      out += static_cast<char>(u);
    } else {
      out += static_cast<char>(bigEndian ? u >> 8 : u & 0xFF);
      out += static_cast<char>(bigEndian ? u & 0xFF : u >> 8);
    }
  };
  for (size_t i = 0; i < units.size(); ++i) {
    unsigned u = units[i];
    if (direction == DirectionLfToCrLf) {
      if (u == 0x0A && (i == 0 || units[i - 1] != 0x0D)) put(0x0D);
      put(u);
    } else if (u == 0x0D && i + 1 < units.size() && units[i + 1] == 0x0A) {
      put(0x0A);
      ++i;
    } else if (u == 0x1A && i + 1 == units.size() && (i == 0 || units[i - 1] != 0x1A)) {
      // the end-of-text mark: dropped
    } else {
      put(u);
    }
  }
  return out + tail;
}

#endif
