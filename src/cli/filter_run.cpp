#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli.h"
#include "console.h"
#include "convert/scan.h"
#include "file_scan.h"
#include "platform.h"
#include "stream_filter.h"

int FilterStandardInput(const CliOptions& options) {
  ConsoleReporter reporter;
  const size_t kBlock = 64 * 1024;
  std::unique_ptr<unsigned char[]> buf(new unsigned char[kBlock]);
  std::error_code readError;

  if (options.check) {
    // Read as bytes and, from a UTF-16 mark on, as units too: the length,
    // known at the end only, tells which it is.
    LinebreakScanner bytes;
    std::optional<LinebreakScanner> units;
    bool nul = false;
    unsigned char first[2] = {0, 0};
    uint64_t size = 0;
    for (;;) {
      size_t got = 0;
      if (std::error_code error = ReadStandardInput(buf.get(), kBlock, &got)) {
        reporter.ReportFileError({"standard input", error});
        return kExitFailure;
      }
      if (got == 0) break;
      size_t firstTaken = 0;
      for (; firstTaken < got && size + firstTaken < 2; ++firstTaken)
        first[size + firstTaken] = buf[firstTaken];
      if (size < 2 && size + got >= 2) {
        const Encoding marked = DetectEncoding(first, 2, 2);
        if (marked != EncodingBytes) {
          units.emplace(marked);
          units->Feed(first, 2);
        }
      }
      if (units && size + firstTaken >= 2) units->Feed(buf.get() + firstTaken, got - firstTaken);
      nul = nul || FindEither(buf.get(), buf.get() + got, 0, 0) != buf.get() + got;
      bytes.Feed(buf.get(), got);
      size += got;
    }
    const Encoding encoding = DetectEncoding(first, size < 2 ? size : 2, size);
    const LinebreakCounts counts = encoding == EncodingBytes ? bytes.Finish() : units->Finish();
    const ModeEffect effect = EffectOf(counts, options.mode);
    const bool binary = !options.force && IsBinaryContent(nul, first, size < 2 ? size : 2, size);
    PutOutput(CheckLine("-", counts, binary ? "binary" : EffectText(effect), encoding));
    if (!FlushOutput()) {
      reporter.Report("standard output", OutputReason(OutputError()));
      return kExitFailure;
    }
    return !binary && effect != EffectUnchanged ? kExitFailure : kExitSuccess;
  }

  std::error_code writeError;
  StreamFilter filter(options.mode, options.force,
                      [&writeError](const unsigned char* p, size_t n) {
                        writeError = WriteStandardOutput(p, n);
                        return !writeError;
                      });
  bool written = true;
  for (;;) {
    size_t got = 0;
    if ((readError = ReadStandardInput(buf.get(), kBlock, &got))) break;
    if (got == 0) break;
    if (!(written = filter.Feed(buf.get(), got))) break;
  }
  // What was read goes out even when the input failed: the output then ends
  // where the input did.
  if (written) written = filter.Finish();
  if (!written) {
    reporter.Report("standard output", OutputReason(writeError));
    return kExitFailure;
  }
  if (readError) {
    reporter.ReportFileError({"standard input", readError});
    return kExitFailure;
  }
  if (filter.passedThrough()) {
    reporter.Report("-", "binary input passed through unchanged; --force converts it");
  }
  if (filter.lateNul()) {
    reporter.Report("-", "a NUL byte came after the first MiB, which was converted as text");
    return kExitFailure;
  }
  return kExitSuccess;
}
