// Counting a stream's line breaks, and telling whether a mode would change it.
// Pure code like the translator: blocks go in, counts come out, no I/O.
#ifndef QUENLAT_CONVERT_SCAN_H
#define QUENLAT_CONVERT_SCAN_H

#include <cstddef>
#include <cstdint>

#include "translate.h"

// What a stream holds, as far as the translation rules care, counted in the
// units of its encoding.
struct LinebreakCounts {
  uint64_t crLf = 0;    // CR-LF pairs
  uint64_t loneLf = 0;  // LF not preceded by CR
  uint64_t loneCr = 0;  // CR not followed by LF (also one at the very end)
  bool hasEndOfText = false;   // some unit is 0x1A
  bool hasNul = false;         // some unit is 0
  bool dropsEndOfText = false;  // the last unit is a 0x1A that follows none: direction 2 drops it
  bool firstCrIsCrLf = false;  // the first CR is followed by LF (automatic mode's test)
};

// What a mode does to a stream.
enum ModeEffect {
  EffectUnchanged,  // the output would equal the input
  EffectToCrLf,     // direction 1 would change it
  EffectToLf,       // direction 2 would change it
};

// Counts a stream cut into blocks of any size; the result is the same however
// it is cut.
class LinebreakScanner {
 public:
  explicit LinebreakScanner(Encoding encoding = EncodingBytes);

  // Counts the next n bytes of the stream.
  void Feed(const unsigned char* in, size_t n);

  // Ends the stream and returns its counts. The scanner can then start a new one.
  LinebreakCounts Finish();

  // True as soon as the bytes seen so far prove that mode changes the stream,
  // which no later byte can undo. False settles nothing: EffectOf the counts
  // from Finish does.
  bool WillChange(TranslationMode mode) const;

  // True as soon as the bytes seen so far settle the direction mode gives
  // the stream: at once for the fixed modes, and in automatic mode once the
  // first CR and the byte after it have been seen. Before that, Finish
  // settles it.
  bool DirectionSettled(TranslationMode mode) const;
  // The direction mode gives the stream, once DirectionSettled.
  Direction DirectionFor(TranslationMode mode) const;

  // True once a NUL unit has been seen.
  bool HasNul() const { return counts_.hasNul; }

 private:
  void FeedUnits(const unsigned char* in, size_t n);

  Encoding encoding_;
  LinebreakCounts counts_;
  uint64_t crs_;         // every CR seen; lone ones are those not in a pair
  bool lastWasCr_;       // the previous block ended with a CR
  bool firstCrOpen_;     // the first CR ended a block: its follower is not known yet
  bool crSeen_;
  int lastUnit_;         // the stream's last unit so far, or -1
  int unitBefore_;       // the unit before that, or -1
  int odd_;              // UTF-16: the first byte of a unit that the next block ends, or -1
};

// The direction a mode gives a stream whose first CR is (or is not) followed
// by LF: automatic mode takes direction 2 for such a stream, 1 otherwise.
Direction ResolveDirection(TranslationMode mode, bool firstCrIsCrLf);

// What mode does to a stream with these final counts.
ModeEffect EffectOf(const LinebreakCounts& counts, TranslationMode mode);

#endif
