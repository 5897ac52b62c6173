#include "translate.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(__SSE2__)
const size_t kLanes = 16;

// Bit i is set when p[i] equals a or b.
inline unsigned MatchMask(const unsigned char* p, __m128i a, __m128i b) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b))));
}

inline void Copy16(unsigned char* out, const unsigned char* p) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
#endif

// Copies bytes from *p to *out until one equals a or b (left at *p) or end is
// reached. May write up to LinebreakTranslator::kSlack bytes past the copy.
inline void CopyUntil(const unsigned char*& p, const unsigned char* end, unsigned char*& out,
                      unsigned char a, unsigned char b) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(static_cast<char>(a));
  const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
  while (end - p >= static_cast<ptrdiff_t>(kLanes)) {
    unsigned mask = MatchMask(p, va, vb);
    Copy16(out, p);
    if (mask != 0) {
      unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
      p += k;
      out += k;
      return;
    }
    p += kLanes;
    out += kLanes;
  }
#endif
  while (p < end && *p != a && *p != b) *out++ = *p++;
}

}  // namespace

const unsigned char* FindEither(const unsigned char* p, const unsigned char* end,
                                unsigned char a, unsigned char b) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(static_cast<char>(a));
  const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
  for (; end - p >= static_cast<ptrdiff_t>(kLanes); p += kLanes) {
    unsigned mask = MatchMask(p, va, vb);
    if (mask != 0) return p + __builtin_ctz(mask);
  }
#endif
  while (p < end && *p != a && *p != b) ++p;
  return p;
}

LinebreakTranslator::LinebreakTranslator(Direction direction)
    : direction_(direction), lastWasCr_(false), held_(-1) {}

size_t LinebreakTranslator::Translate(const unsigned char* in, size_t n, unsigned char* out) {
  if (n == 0) return 0;
  unsigned char* const start = out;
  const unsigned char* p = in;
  const unsigned char* const end = in + n;

  if (direction_ == DirectionLfToCrLf) {
    for (;;) {
      CopyUntil(p, end, out, kLF, kLF);
      if (p == end) break;
      bool afterCr = p > in ? p[-1] == kCR : lastWasCr_;
      if (!afterCr) *out++ = kCR;
      *out++ = kLF;
      ++p;
    }
    lastWasCr_ = end[-1] == kCR;
    return static_cast<size_t>(out - start);
  }

  // Direction 2: settle the byte held back from the previous block.
  if (held_ == kCR) {
    if (*p == kLF) {
      *out++ = kLF;
      ++p;
    } else {
      *out++ = kCR;
    }
  } else if (held_ == kEndOfText) {
    *out++ = kEndOfText;  // something follows it, so it is an ordinary byte
  }
  held_ = -1;

  for (;;) {
    CopyUntil(p, end, out, kCR, kEndOfText);
    if (p == end) break;
    if (p + 1 == end) {
      held_ = *p;
      break;
    }
    if (*p == kCR && p[1] == kLF) {
      *out++ = kLF;
      p += 2;
    } else {
      *out++ = *p++;
    }
  }
  return static_cast<size_t>(out - start);
}

size_t LinebreakTranslator::Finish(unsigned char* out) {
  size_t produced = 0;
  if (direction_ == DirectionCrLfToLf && held_ == kCR) out[produced++] = kCR;
  // A held 0x1A is the last byte of the stream: the old end-of-text mark, dropped.
  held_ = -1;
  lastWasCr_ = false;
  return produced;
}
