// What the console tool's runs learn of a file before they act on it, and
// the sentences they report about a file they cannot act on.
#ifndef QUENLAT_CLI_FILE_SCAN_H
#define QUENLAT_CLI_FILE_SCAN_H

#include <cstdint>
#include <string>

#include "convert/convert.h"
#include "convert/scan.h"
#include "convert/translate.h"
#include "options.h"
#include "convert/folder.h"
#include "platform.h"

// What reading a file found.
struct Scan {
  bool changes = false;  // the mode would change the file
  Direction direction = DirectionLfToCrLf;  // what it is converted with
  bool binary = false;   // a NUL byte, outside UTF-16 text with its byte-order mark
  Encoding encoding = EncodingBytes;  // what the file is read and converted in
  uint64_t size = 0;
  LinebreakCounts counts;  // when full
};

// Opens the file at path (resolved) into file and reads it. With full,
// reads it all and fills the counts. Otherwise stops once the file proves
// binary (unless forced: it is skipped then), or once the mode proves to
// change it and settles the direction: the conversion then reads on from
// there, and (but for force) skips the file if the rest holds a NUL byte.
// The error, if any.
std::error_code ScanFile(const std::string& path, const CliOptions& options, bool full,
                         SourceFile& file, Scan* scan);

// Whether the rest of the open file, after what ScanFile read of it, holds
// a NUL byte that makes it binary. A read error counts as none.
bool RestHoldsNul(SourceFile& file, const Scan& scan);

// What a --check line says the mode would do.
const char* EffectText(ModeEffect effect);

// The line --check prints for the file at path: its line-break counts, what
// it holds, and effect, what the mode would do.
std::string CheckLine(const std::string& path, const LinebreakCounts& counts, const char* effect,
                      Encoding encoding = EncodingBytes);

// What stops a name from being read as a file, or nullptr when nothing does
// (a missing file included: its open says why).
const char* RefusalOf(PathKind kind);

// Why the write probe failed: the error's sentence where the error says
// something, the probe's own sentence where it does not.
const char* ProbeSentence(std::error_code error);

#endif
