#include "translate.h"

#include <cstring>

#if defined(__SSE2__)
#include "byte_class.h"
using namespace byte_class;
#endif

#include "utf16_units.h"

namespace {

// Copies bytes from *p to *out until one equals a or b (left at *p) or end is
// reached. May write up to LinebreakTranslator::kSlack bytes past the copy.
inline void CopyUntil(const unsigned char*& p, const unsigned char* end, unsigned char*& out,
                      unsigned char a, unsigned char b) {
#if defined(__SSE2__)
  const __m128i va = Splat(a);
  const __m128i vb = Splat(b);
  while (end - p >= static_cast<ptrdiff_t>(kLanes)) {
    const __m128i v = Load(p);
    unsigned mask = EitherMask(v, va, vb);
    Store(out, v);
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

#if defined(__SSE2__)
// Typical text has at most one line break in 16 bytes. The loops below take
// such stretches 16 bytes at a time without a branch per line, which the copy
// to the next break (one mispredicted branch per line) cannot; stretches with
// more breaks take one step per break. They stop while kFastTail bytes are
// left, so that the loads after the 16 bytes stay inside the block, and the
// stores past the result stay inside LinebreakTranslator::kSlack.
const ptrdiff_t kFastTail = 48;

// Direction 1 from p, where crBefore tells whether the byte before p is a CR.
void LfToCrLfFast(const unsigned char*& p, const unsigned char* end, unsigned char*& out,
                  bool crBefore) {
  const __m128i lfs = Splat(kLF);
  const __m128i crs = Splat(kCR);
  unsigned carry = crBefore ? 1 : 0;
  while (end - p >= kFastTail) {
    const __m128i v = Load(p);
    const unsigned lf = EqualMask(v, lfs);
    const unsigned cr = EqualMask(v, crs);
    const unsigned bare = lf & ~((cr << 1) | carry);  // LFs that get a CR
    if ((bare & (bare - 1)) == 0) {
      // Bytes before the LF, the CR, then from the LF on (or, with no bare LF,
      // the 16 bytes and scratch that the next step overwrites).
      const unsigned k = static_cast<unsigned>(__builtin_ctz(bare | 0x10000u));
      Store(out, v);
      out[k] = kCR;
      Store(out + k + 1, Load(p + k));
      out += bare != 0 ? 17 : 16;
    } else {
      // Short lines: each CR goes in where the bytes before it end.
      Store(out, v);
      unsigned added = 0;
      for (unsigned m = bare; m != 0; m &= m - 1, ++added) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
        out[k + added] = kCR;
        Store(out + k + added + 1, Load(p + k));
      }
      out += 16 + added;
    }
    carry = cr >> 15;
    p += 16;
  }
}

// Direction 2 from p, which does not follow a held-back byte. Far from the end
// of the block, a 0x1A is an ordinary byte and a CR is dropped or kept by the
// byte after it alone.
void CrLfToLfFast(const unsigned char*& p, const unsigned char* end, unsigned char*& out) {
  const __m128i lfs = Splat(kLF);
  const __m128i crs = Splat(kCR);
  while (end - p >= kFastTail) {
    const __m128i v = Load(p);
    // The CRs that an LF follows (the 16th byte's LF, if any, is the next one's first).
    const unsigned pair = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(v, crs), _mm_cmpeq_epi8(Load(p + 1), lfs))));
    Store(out, v);
    if ((pair & (pair - 1)) == 0) {
      // Bytes before the CR, then from the LF on (with no pair, scratch).
      const unsigned k = static_cast<unsigned>(__builtin_ctz(pair | 0x10000u));
      Store(out + k, Load(p + k + 1));
      out += pair != 0 ? 15 : 16;
    } else {
      // Short lines: the bytes after each CR move up over it.
      unsigned dropped = 0;
      for (unsigned m = pair; m != 0; m &= m - 1, ++dropped) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
        Store(out + k - dropped, Load(p + k + 1));
      }
      out += 16 - dropped;
    }
    p += 16;
  }
}
#endif

}  // namespace

const unsigned char* FindEither(const unsigned char* p, const unsigned char* end,
                                unsigned char a, unsigned char b) {
#if defined(__SSE2__)
  const __m128i va = Splat(a);
  const __m128i vb = Splat(b);
  for (; end - p >= static_cast<ptrdiff_t>(kLanes); p += kLanes) {
    unsigned mask = EitherMask(Load(p), va, vb);
    if (mask != 0) return p + __builtin_ctz(mask);
  }
#endif
  while (p < end && *p != a && *p != b) ++p;
  return p;
}

Encoding DetectEncoding(const unsigned char* start, size_t n, unsigned long long size) {
  if (n < 2 || size % 2 != 0) return EncodingBytes;
  if (start[0] == 0xFF && start[1] == 0xFE) return EncodingUtf16Le;
  if (start[0] == 0xFE && start[1] == 0xFF) return EncodingUtf16Be;
  return EncodingBytes;
}

LinebreakTranslator::LinebreakTranslator(Direction direction, Encoding encoding)
    : direction_(direction),
      encoding_(encoding),
      lastWasCr_(false),
      held_(-1),
      heldAfterEot_(false),
      lastWasEot_(false),
      odd_(-1) {}

size_t LinebreakTranslator::Translate(const unsigned char* in, size_t n, unsigned char* out) {
  if (n == 0) return 0;
  if (encoding_ != EncodingBytes) return TranslateUnits(in, n, out);
  unsigned char* const start = out;
  const unsigned char* p = in;
  const unsigned char* const end = in + n;

  if (direction_ == DirectionLfToCrLf) {
#if defined(__SSE2__)
    LfToCrLfFast(p, end, out, lastWasCr_);
#endif
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
  const bool eotBefore = lastWasEot_;
  lastWasEot_ = end[-1] == kEndOfText;
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

#if defined(__SSE2__)
  CrLfToLfFast(p, end, out);
#endif
  for (;;) {
    CopyUntil(p, end, out, kCR, kEndOfText);
    if (p == end) break;
    if (p + 1 == end) {
      held_ = *p;
      heldAfterEot_ = p > in ? p[-1] == kEndOfText : eotBefore;
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

namespace {

// Writes the unit u in the stream's byte order.
inline unsigned char* PutUnit(unsigned char* out, unsigned u, bool bigEndian) {
  out[0] = static_cast<unsigned char>(bigEndian ? u >> 8 : u);
  out[1] = static_cast<unsigned char>(bigEndian ? u : u >> 8);
  return out + 2;
}

}  // namespace

// UTF-16 text is rare next to byte text, and its breaks are whole units:
// one unit at a time is plain and fast enough.
size_t LinebreakTranslator::TranslateUnits(const unsigned char* in, size_t n,
                                           unsigned char* out) {
  const bool bigEndian = encoding_ == EncodingUtf16Be;
  unsigned char* const start = out;
  const unsigned char* p = in;
  const unsigned char* const end = in + n;
  for (unsigned u; NextUnit(p, end, odd_, bigEndian, &u);) {
    if (direction_ == DirectionLfToCrLf) {
      if (u == kLF && !lastWasCr_) out = PutUnit(out, kCR, bigEndian);
      out = PutUnit(out, u, bigEndian);
      lastWasCr_ = u == kCR;
      continue;
    }
    // Direction 2 holds every CR and 0x1A back until the unit after it is known.
    const bool afterEot = held_ == kEndOfText;
    if (held_ >= 0) {
      const bool pair = held_ == kCR && u == kLF;
      held_ = -1;
      if (pair) {
        out = PutUnit(out, kLF, bigEndian);
        continue;
      }
      out = PutUnit(out, afterEot ? kEndOfText : kCR, bigEndian);
    }
    if (u == kCR || u == kEndOfText) {
      held_ = static_cast<int>(u);
      heldAfterEot_ = afterEot;
    } else {
      out = PutUnit(out, u, bigEndian);
    }
  }
  return static_cast<size_t>(out - start);
}

size_t LinebreakTranslator::Finish(unsigned char* out) {
  const bool bigEndian = encoding_ == EncodingUtf16Be;
  size_t produced = 0;
  // A held 0x1A is the last unit of the stream: the old end-of-text mark,
  // dropped, unless it follows another, which a run before kept.
  bool keep = held_ == kCR || (held_ == kEndOfText && heldAfterEot_);
  if (direction_ == DirectionCrLfToLf && keep) {
    if (encoding_ == EncodingBytes) {
      out[produced++] = static_cast<unsigned char>(held_);
    } else {
      produced += static_cast<size_t>(PutUnit(out, static_cast<unsigned>(held_), bigEndian) - out);
    }
  }
  // A UTF-16 stream of odd size: its last byte is no unit, and stays.
  if (odd_ >= 0) out[produced++] = static_cast<unsigned char>(odd_);
  held_ = -1;
  heldAfterEot_ = false;
  lastWasEot_ = false;
  lastWasCr_ = false;
  odd_ = -1;
  return produced;
}
