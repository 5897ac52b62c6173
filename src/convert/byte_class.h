// Byte classes sixteen bytes at a time, with SSE2: the steps that the
// translator and the scanner share. Include it only where the compiler
// targets SSE2 (__SSE2__); the code without it takes a byte at a time.
#ifndef QUENLAT_CONVERT_BYTE_CLASS_H
#define QUENLAT_CONVERT_BYTE_CLASS_H

#include <emmintrin.h>

#include <cstddef>

namespace byte_class {

const size_t kLanes = 16;

// The sixteen bytes at p; p need not be aligned.
inline __m128i Load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Stores sixteen bytes at out; out need not be aligned.
inline void Store(unsigned char* out, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

// c in every lane.
inline __m128i Splat(unsigned char c) { return _mm_set1_epi8(static_cast<char>(c)); }

// Bit i is set when lane i of v equals lane i of c.
inline unsigned EqualMask(__m128i v, __m128i c) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, c)));
}

// Bit i is set when lane i of v equals lane i of a or of b.
inline unsigned EitherMask(__m128i v, __m128i a, __m128i b) {
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b))));
}

}  // namespace byte_class

#endif
