// Reading UTF-16 units from a stream cut into blocks of any size: the step
// that the translator and the scanner share.
#ifndef QUENLAT_CONVERT_UTF16_UNITS_H
#define QUENLAT_CONVERT_UTF16_UNITS_H

// Takes the next unit from p (advancing it) into *unit, in the given byte
// order. odd carries the first byte of a unit that a block ended with into the
// next block: -1 when there is none. False when [p, end) holds no further
// whole unit; a byte left over is then kept in odd.
inline bool NextUnit(const unsigned char*& p, const unsigned char* end, int& odd, bool bigEndian,
                     unsigned* unit) {
  unsigned first, second;
  if (odd >= 0) {
    if (p == end) return false;
    first = static_cast<unsigned>(odd);
    second = *p++;
    odd = -1;
  } else if (end - p >= 2) {
    first = p[0];
    second = p[1];
    p += 2;
  } else {
    if (p < end) odd = *p++;
    return false;
  }
  *unit = bigEndian ? first << 8 | second : second << 8 | first;
  return true;
}

#endif
