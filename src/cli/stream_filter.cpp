#include "stream_filter.h"

#include <algorithm>

namespace {

bool StartsWithByteOrderMark(const unsigned char* p, size_t n) {
  return n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF));
}

}  // namespace

bool IsBinaryContent(bool hasNul, const unsigned char* first, size_t firstSize, uint64_t size) {
  return hasNul && DetectEncoding(first, firstSize, size) == EncodingBytes;
}

StreamFilter::StreamFilter(TranslationMode mode, bool force, Sink sink, size_t window)
    : mode_(mode),
      sink_(std::move(sink)),
      window_(std::max<size_t>(window, 2)),
      textKnown_(force),
      checkLate_(!force),
      translator_(DirectionLfToCrLf) {}

bool StreamFilter::Feed(const unsigned char* in, size_t n) {
  switch (state_) {
    case Passing:
      return Emit(in, n);
    case Translating:
      return Translate(in, n, heldFrom_);
    case Holding:
      held_.insert(held_.end(), in, in + n);
      return Decide(false);
  }
  return false;
}

bool StreamFilter::Finish() {
  if (state_ == Holding && !Decide(true)) return false;
  if (state_ != Translating) return true;
  out_.resize(LinebreakTranslator::OutputCapacity(0));
  return Emit(out_.data(), translator_.Finish(out_.data()));
}

size_t StreamFilter::FindUnit(const unsigned char* p, size_t n, unsigned a, unsigned b) const {
  if (encoding_ == EncodingBytes) {
    return static_cast<size_t>(FindEither(p, p + n, static_cast<unsigned char>(a),
                                          static_cast<unsigned char>(b)) - p);
  }
  for (size_t i = 0; i + 1 < n; i += 2) {
    const unsigned unit = encoding_ == EncodingUtf16Le ? p[i] | (p[i + 1] << 8)
                                                       : (p[i] << 8) | p[i + 1];
    if (unit == a || unit == b) return i;
  }
  return n;
}

bool StreamFilter::Decide(bool atEnd) {
  const unsigned char* held = held_.data();
  const size_t size = held_.size();
  if (!encodingKnown_) {
    // Nothing has gone out yet: held_ starts at the stream's first byte.
    if (size < 2 && !atEnd) return true;
    encodingKnown_ = true;
    if (StartsWithByteOrderMark(held, size)) {
      encoding_ = held[0] == 0xFF ? EncodingUtf16Le : EncodingUtf16Be;
      textKnown_ = true;
      checkLate_ = false;
    }
  }
  if (!textKnown_) {
    if (FindEither(held, held + std::min(size, window_), 0, 0) != held + std::min(size, window_)) {
      state_ = Passing;
      const bool ok = Emit(held, size);
      held_.clear();
      return ok;
    } else if (size >= window_ || atEnd) {
      textKnown_ = true;
    } else {
      return true;
    }
  }

  Direction direction = mode_ == ModeCrLfToLf ? DirectionCrLfToLf : DirectionLfToCrLf;
  if (mode_ == ModeAutomatic) {
    // Only a CR within the window counts; after it the stream is taken as
    // one without CR.
    const size_t unit = encoding_ == EncodingBytes ? 1 : 2;
    const size_t limit = heldFrom_ < window_ ? std::min<uint64_t>(size, window_ - heldFrom_) : 0;
    const size_t cr = FindUnit(held, limit, kCR, kCR);
    bool known = atEnd;
    if (cr < limit && cr + 2 * unit <= size) {
      known = true;
      if (FindUnit(held + cr + unit, unit, kLF, kLF) == 0) direction = DirectionCrLfToLf;
    } else if (cr >= limit && heldFrom_ + size >= window_) {
      known = true;
    }
    if (!known) {
      // Units before the first LF or CR come out the same either way; a
      // unit's first byte waits for its second.
      size_t same = FindUnit(held, size, kLF, kCR);
      if (same >= size) same = size - size % unit;
      if (!Emit(held, same)) return false;
      held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(same));
      heldFrom_ += same;
      return true;
    }
  }
  translator_ = LinebreakTranslator(direction, encoding_);
  state_ = Translating;
  std::vector<unsigned char> rest;
  rest.swap(held_);
  return Translate(rest.data(), rest.size(), heldFrom_);
}

bool StreamFilter::Translate(const unsigned char* in, size_t n, uint64_t offset) {
  heldFrom_ = offset + n;  // from here on, the offset of the next byte
  if (checkLate_) {
    const size_t start = offset >= window_ ? 0 : std::min<uint64_t>(n, window_ - offset);
    if (FindEither(in + start, in + n, 0, 0) != in + n) {
      lateNul_ = true;
      checkLate_ = false;
    }
  }
  out_.resize(LinebreakTranslator::OutputCapacity(n));
  return Emit(out_.data(), translator_.Translate(in, n, out_.data()));
}
