// The line-break translation rules, as a pure function over blocks of bytes.
// No I/O happens here: the file layer feeds blocks in and writes blocks out.
#ifndef QUENLAT_CONVERT_TRANSLATE_H
#define QUENLAT_CONVERT_TRANSLATE_H

#include <cstddef>

// What the user chooses: a signed integer, stored as "Options"/"TransMode".
// -1 means no choice was made; any value other than the three below is
// converted as ModeLfToCrLf. A plain int and no enum, by the program's
// design: the dialog's radio group gives -1 when no button is checked, and
// a stored value may be any number, each of which must be kept and taken.
typedef int TranslationMode;
enum {
  ModeAutomatic = 0,  // direction 2 if the file's first CR is followed by LF, else 1
  ModeLfToCrLf = 1,
  ModeCrLfToLf = 2,
};

// What one file is converted with, resolved from the mode.
enum Direction {
  DirectionLfToCrLf = 1,
  DirectionCrLfToLf = 2,
};

const unsigned char kCR = 0x0D;
const unsigned char kLF = 0x0A;
const unsigned char kEndOfText = 0x1A;  // Ctrl-Z

// The units a stream's text is made of. The rules below are the same for
// each; in UTF-16 they apply to whole 16-bit units (the unit 000D is a CR, a
// byte 0D inside another unit is not), in the byte order the stream has.
enum Encoding {
  EncodingBytes,
  EncodingUtf16Le,  // begins with FF FE
  EncodingUtf16Be,  // begins with FE FF
};

// The encoding of a stream of size bytes whose first n bytes are at start:
// UTF-16 when it begins with a UTF-16 byte-order mark and its size is even,
// bytes otherwise (a UTF-8 mark is ordinary bytes). The mark stays part of the
// stream and is copied like any other unit.
Encoding DetectEncoding(const unsigned char* start, size_t n, unsigned long long size);

// Translates a stream cut into blocks of any size. The result is the same
// however the stream is cut: a CR at the end of one block pairs with an LF at
// the start of the next, a UTF-16 unit may be split between blocks, and a 0x1A
// whose fate depends on what follows is held back until that is known.
// In units of the stream's encoding:
//
// Direction 1: every LF not already preceded by CR becomes CR LF; every other
// unit, a CR-LF pair, a lone CR and 0x1A included, is copied as it stands.
// Direction 2: every CR-LF pair becomes LF; a 0x1A that is the very last unit
// of the stream is dropped, unless the unit before it is a 0x1A too (so that a
// second run changes nothing); every other unit is copied.
class LinebreakTranslator {
 public:
  // Extra room that Translate and Finish may scribble past their result.
  static const size_t kSlack = 16;

  explicit LinebreakTranslator(Direction direction, Encoding encoding = EncodingBytes);

  // The size an output buffer must have for a block of n input bytes: every
  // unit may double, and units held back from earlier blocks come out too.
  static size_t OutputCapacity(size_t n) { return 2 * n + 4 + kSlack; }

  // Translates the next n bytes of the stream into out, which has at least
  // OutputCapacity(n) bytes, and returns how many bytes it produced.
  size_t Translate(const unsigned char* in, size_t n, unsigned char* out);

  // Ends the stream: writes what was held back into out (at least
  // OutputCapacity(0) bytes) and returns how many bytes that was. The
  // translator can then start a new stream.
  size_t Finish(unsigned char* out);

 private:
  size_t TranslateUnits(const unsigned char* in, size_t n, unsigned char* out);

  Direction direction_;
  Encoding encoding_;
  bool lastWasCr_;     // direction 1: the unit before this block is a CR
  int held_;           // direction 2: the unit held back (CR or 0x1A), or -1
  bool heldAfterEot_;  // the unit before the held one is a 0x1A
  bool lastWasEot_;    // direction 2, bytes: the byte before this block is a 0x1A
  int odd_;            // UTF-16: the first byte of a unit that the next block ends, or -1
};

// Returns the first byte in [p, end) that equals a or b, or end.
const unsigned char* FindEither(const unsigned char* p, const unsigned char* end,
                                unsigned char a, unsigned char b);

#endif
