#include "scan.h"

#if defined(__SSE2__)
#include "byte_class.h"
#endif

#include "utf16_units.h"

namespace {

// Bit i of each mask is set when byte i of a chunk of up to 16 bytes is that byte.
struct Masks {
  unsigned cr, lf, eot, nul;
};

const size_t kChunk = 16;

inline Masks ScalarMasks(const unsigned char* p, size_t width) {
  Masks m = {0, 0, 0, 0};
  for (size_t i = 0; i < width; ++i) {
    unsigned bit = 1u << i;
    switch (p[i]) {
      case kCR: m.cr |= bit; break;
      case kLF: m.lf |= bit; break;
      case kEndOfText: m.eot |= bit; break;
      case 0: m.nul |= bit; break;
      default: break;
    }
  }
  return m;
}

#if defined(__SSE2__)
inline Masks ChunkMasks(const unsigned char* p) {
  using namespace byte_class;
  const __m128i v = Load(p);
  Masks m = {EqualMask(v, Splat(kCR)), EqualMask(v, Splat(kLF)), EqualMask(v, Splat(kEndOfText)),
             EqualMask(v, Splat(0))};
  return m;
}
#else
inline Masks ChunkMasks(const unsigned char* p) { return ScalarMasks(p, kChunk); }
#endif

inline unsigned Count(unsigned mask) { return static_cast<unsigned>(__builtin_popcount(mask)); }

}  // namespace

LinebreakScanner::LinebreakScanner(Encoding encoding)
    : encoding_(encoding),
      crs_(0),
      lastWasCr_(false),
      firstCrOpen_(false),
      crSeen_(false),
      lastUnit_(-1),
      unitBefore_(-1),
      odd_(-1) {}

void LinebreakScanner::Feed(const unsigned char* in, size_t n) {
  if (n == 0) return;
  if (encoding_ != EncodingBytes) return FeedUnits(in, n);
  for (const unsigned char *p = in, *end = in + n; p < end;) {
    size_t width = static_cast<size_t>(end - p) >= kChunk ? kChunk : static_cast<size_t>(end - p);
    Masks m = width == kChunk ? ChunkMasks(p) : ScalarMasks(p, width);
    p += width;
    if ((m.cr | m.lf | m.eot | m.nul) == 0 && !lastWasCr_) continue;

    // An LF completes a pair when the byte before it, in this chunk or the
    // one before, is a CR.
    unsigned pairs = m.lf & ((m.cr << 1) | (lastWasCr_ ? 1u : 0u));
    counts_.crLf += Count(pairs);
    counts_.loneLf += Count(m.lf) - Count(pairs);
    crs_ += Count(m.cr);
    if (m.eot) counts_.hasEndOfText = true;
    if (m.nul) counts_.hasNul = true;

    if (firstCrOpen_) {
      counts_.firstCrIsCrLf = (m.lf & 1u) != 0;
      firstCrOpen_ = false;
    } else if (!crSeen_ && m.cr) {
      crSeen_ = true;
      unsigned k = static_cast<unsigned>(__builtin_ctz(m.cr));
      if (k + 1 < width) {
        counts_.firstCrIsCrLf = ((m.lf >> (k + 1)) & 1u) != 0;
      } else {
        firstCrOpen_ = true;
      }
    }
    lastWasCr_ = ((m.cr >> (width - 1)) & 1u) != 0;
  }
  unitBefore_ = n >= 2 ? in[n - 2] : lastUnit_;
  lastUnit_ = in[n - 1];
}

// UTF-16 one unit at a time, as the translator takes it.
void LinebreakScanner::FeedUnits(const unsigned char* in, size_t n) {
  const bool bigEndian = encoding_ == EncodingUtf16Be;
  const unsigned char* p = in;
  for (unsigned u; NextUnit(p, in + n, odd_, bigEndian, &u);) {
    if (u == kLF) {
      if (lastWasCr_) {
        ++counts_.crLf;
      } else {
        ++counts_.loneLf;
      }
    } else if (u == kCR) {
      ++crs_;
    } else if (u == kEndOfText) {
      counts_.hasEndOfText = true;
    } else if (u == 0) {
      counts_.hasNul = true;
    }
    if (firstCrOpen_) {
      counts_.firstCrIsCrLf = u == kLF;
      firstCrOpen_ = false;
    } else if (!crSeen_ && u == kCR) {
      crSeen_ = true;
      firstCrOpen_ = true;
    }
    lastWasCr_ = u == kCR;
    unitBefore_ = lastUnit_;
    lastUnit_ = static_cast<int>(u);
  }
}

LinebreakCounts LinebreakScanner::Finish() {
  LinebreakCounts result = counts_;
  result.loneCr = crs_ - counts_.crLf;  // every pair takes exactly one CR
  result.dropsEndOfText = lastUnit_ == kEndOfText && unitBefore_ != kEndOfText;
  if (firstCrOpen_) result.firstCrIsCrLf = false;  // the first CR was the last unit
  *this = LinebreakScanner(encoding_);
  return result;
}

bool LinebreakScanner::WillChange(TranslationMode mode) const {
  switch (mode) {
    case ModeAutomatic:
      // A first CR that pairs selects direction 2, which removes that pair;
      // otherwise direction 1 changes the file exactly when it has a lone LF.
      return counts_.loneLf > 0 || (crSeen_ && !firstCrOpen_ && counts_.firstCrIsCrLf);
    case ModeCrLfToLf:
      return counts_.crLf > 0;
    default:
      return counts_.loneLf > 0;
  }
}

bool LinebreakScanner::DirectionSettled(TranslationMode mode) const {
  return mode != ModeAutomatic || (crSeen_ && !firstCrOpen_);
}

Direction LinebreakScanner::DirectionFor(TranslationMode mode) const {
  return ResolveDirection(mode, counts_.firstCrIsCrLf);
}

Direction ResolveDirection(TranslationMode mode, bool firstCrIsCrLf) {
  if (mode == ModeAutomatic) return firstCrIsCrLf ? DirectionCrLfToLf : DirectionLfToCrLf;
  return mode == ModeCrLfToLf ? DirectionCrLfToLf : DirectionLfToCrLf;
}

ModeEffect EffectOf(const LinebreakCounts& counts, TranslationMode mode) {
  bool toLf = mode == ModeCrLfToLf || (mode == ModeAutomatic && counts.firstCrIsCrLf);
  if (toLf) return counts.crLf > 0 || counts.dropsEndOfText ? EffectToLf : EffectUnchanged;
  return counts.loneLf > 0 ? EffectToCrLf : EffectUnchanged;
}
