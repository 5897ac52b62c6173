// The line-break rules one byte at a time, as plainly as they can be written:
// the reference that the block translator is checked against.
#ifndef QUENLAT_TESTS_TRANSLATE_MODEL_H
#define QUENLAT_TESTS_TRANSLATE_MODEL_H

#include <string>

#include "convert/translate.h"

// What translating the whole stream in in the given direction must give.
inline std::string TranslateModel(const std::string& in, Direction direction) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (direction == DirectionLfToCrLf) {
      if (c == '\n' && (i == 0 || in[i - 1] != '\r')) out += '\r';
      out += c;
    } else if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n') {
      out += '\n';
      ++i;
    } else if (c == '\x1a' && i + 1 == in.size()) {
      // the end-of-text mark: dropped
    } else {
      out += c;
    }
  }
  return out;
}

#endif
