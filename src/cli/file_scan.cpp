#include "file_scan.h"

#include <cstring>

#include "console.h"
#include "stream_filter.h"

namespace {

const char kProbeSentence[] = "This file cannot be opened for writing";
const char kFolderSentence[] = "This is a folder; --recursive converts the files in it";
const char kNotFileSentence[] = "This is not a regular file";

// Whether the open file, whose scan has met a NUL byte, is binary: UTF-16
// text with its byte-order mark is not.
bool IsBinaryFile(const SourceFile& file, uint64_t size) {
  size_t n = 0;
  const unsigned char* first = file.First(&n);
  return IsBinaryContent(true, first, n, size);
}


// What a --check line says of the encoding: nothing for bytes.
const char* EncodingText(Encoding encoding) {
  switch (encoding) {
    case EncodingUtf16Le: return "UTF-16LE, ";
    case EncodingUtf16Be: return "UTF-16BE, ";
    default: return "";
  }
}

}  // namespace

const char* ProbeSentence(std::error_code error) {
  if (error == kErrorNotRegularFile) return kNotFileSentence;
  // Where the system says exactly why, its reason; its general failure says
  // no more than the probe's own sentence.
  const char* reason = ErrorReason(error);
  return std::strcmp(reason, ErrorSentence(std::error_code())) == 0 ? kProbeSentence : reason;
}

const char* RefusalOf(PathKind kind) {
  switch (kind) {
    case PathFolder: return kFolderSentence;
    case PathOther: return kNotFileSentence;
    default: return nullptr;
  }
}

std::error_code ScanFile(const std::string& path, const CliOptions& options, bool full,
                         SourceFile& file, Scan* scan) {
  if (std::error_code error = file.Open(path, true)) return error;
  scan->size = file.Size();
  const TranslationMode mode = options.mode;
  const auto settled = [mode](const LinebreakScanner& s) {
    return s.WillChange(mode) && s.DirectionSettled(mode);
  };
  scan->encoding = file.TextEncoding();
  LinebreakScanner scanner(scan->encoding);
  std::error_code error;
  if (full) {
    error = file.ReadInto(scanner);
  } else if (options.force) {
    error = file.ReadInto(scanner, settled);
  } else {
    const auto stop = [&settled](const LinebreakScanner& s) { return s.HasNul() || settled(s); };
    error = file.ReadInto(scanner, stop);
    if (!error && scanner.HasNul()) {
      scan->binary = IsBinaryFile(file, scan->size);
      if (scan->binary) return {};  // skipped whatever else it holds
      error = file.ReadInto(scanner, settled);
    }
  }
  if (error) return error;
  if (!full && settled(scanner)) {
    scan->changes = true;
    scan->direction = scanner.DirectionFor(mode);
    return {};
  }
  scan->counts = scanner.Finish();
  if (full && scan->counts.hasNul) scan->binary = IsBinaryFile(file, scan->size);
  scan->changes = EffectOf(scan->counts, mode) != EffectUnchanged;
  scan->direction = ResolveDirection(mode, scan->counts.firstCrIsCrLf);
  return {};
}

bool RestHoldsNul(SourceFile& file, const Scan& scan) {
  if (scan.encoding != EncodingBytes) return false;  // UTF-16 text is never binary
  LinebreakScanner rest;
  return !file.ReadInto(rest, [](const LinebreakScanner& s) { return s.HasNul(); }) &&
         rest.HasNul();
}

const char* EffectText(ModeEffect effect) {
  switch (effect) {
    case EffectToCrLf: return "to CR-LF";
    case EffectToLf: return "to LF";
    default: return "unchanged";
  }
}

std::string CheckLine(const std::string& path, const LinebreakCounts& counts, const char* effect,
                      Encoding encoding) {
  return PrintableName(path) + ": " + EncodingText(encoding) + std::to_string(counts.crLf) +
         " CR-LF, " +
         std::to_string(counts.loneLf) + " LF, " + std::to_string(counts.loneCr) + " CR, 0x1A " +
         (counts.hasEndOfText ? "yes" : "no") + ", NUL " + (counts.hasNul ? "yes" : "no") + ": " +
         effect + "\n";
}

