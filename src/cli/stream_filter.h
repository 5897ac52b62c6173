// Converting a stream that can be read only once (a pipe), in constant
// memory, with the same byte rules as a file.
#ifndef QUENLAT_CLI_STREAM_FILTER_H
#define QUENLAT_CLI_STREAM_FILTER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "convert/translate.h"

// True when a file of size bytes that begins with first (firstSize of its
// bytes) is taken for a binary file: it holds a NUL byte (hasNul) and is not
// UTF-16 text with a byte-order mark (FF FE or FE FF) and an even length.
bool IsBinaryContent(bool hasNul, const unsigned char* first, size_t firstSize, uint64_t size);

// Converts a stream given in pieces of any size and hands the result to a
// sink; the output is the same however the stream is cut. A stream that
// begins with a UTF-16 byte-order mark is converted in 16-bit units, as a
// file is (a unit may be split between pieces); its first two bytes are held
// until both have come. Automatic mode
// decides at the first CR, as for a file; until then only the bytes from the
// first LF on are held back. Unless forced, the first window bytes decide
// whether the stream is binary (a NUL among them, outside a stream that
// begins with a UTF-16 byte-order mark); a binary stream is passed through
// unchanged. At most window bytes and one piece are held at a time: a stream
// whose first CR does not come within the first window bytes is converted as
// one without CR.
class StreamFilter {
 public:
  // Receives output; returns false when it cannot take it (the sink keeps why).
  typedef std::function<bool(const unsigned char*, size_t)> Sink;

  static const size_t kDefaultWindow = 1024 * 1024;

  StreamFilter(TranslationMode mode, bool force, Sink sink, size_t window = kDefaultWindow);

  // The next n bytes of the stream. False when the sink failed.
  bool Feed(const unsigned char* in, size_t n);
  // Ends the stream: what is held back goes out. False when the sink failed.
  bool Finish();

  // After Finish: the stream was taken for binary and passed through.
  bool passedThrough() const { return state_ == Passing; }
  // A NUL came after the window, in a stream already being converted.
  bool lateNul() const { return lateNul_; }

 private:
  enum State { Holding, Translating, Passing };

  // Decides what it can from held_; atEnd when no byte follows.
  bool Decide(bool atEnd);
  bool Translate(const unsigned char* in, size_t n, uint64_t offset);
  // The offset of the first whole unit in p[0, n) that is a or b; n when none.
  size_t FindUnit(const unsigned char* p, size_t n, unsigned a, unsigned b) const;
  bool Emit(const unsigned char* p, size_t n) { return n == 0 || sink_(p, n); }

  TranslationMode mode_;
  Sink sink_;
  size_t window_;
  State state_ = Holding;
  std::vector<unsigned char> held_;  // the stream's bytes from offset heldFrom_ on
  uint64_t heldFrom_ = 0;
  bool encodingKnown_ = false;  // its first two bytes have been seen
  Encoding encoding_ = EncodingBytes;
  bool textKnown_;     // the stream is known not to be binary
  bool checkLate_ = true;  // NULs past the window are still looked for
  bool lateNul_ = false;
  LinebreakTranslator translator_;
  std::vector<unsigned char> out_;
};

#endif
