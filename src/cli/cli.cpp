#include "cli.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "convert/convert.h"
#include "convert/scan.h"
#include "platform.h"

const char kUsageLine[] =
    "Usage: quenlat-cli [--auto | --to-crlf | --to-lf] [--check] [--quiet] [--] FILE...\n";

const char kUsage[] =
    "Usage: quenlat-cli [--auto | --to-crlf | --to-lf] [--check] [--quiet] [--] FILE...\n"
    "Converts the line breaks of each FILE in place, one after another.\n"
    "\n"
    "  --auto      Automatic (toggle): a file whose first CR is followed by LF\n"
    "              gets LF breaks, any other file CR-LF breaks (the default)\n"
    "  --to-crlf   Always map LF to CR-LF\n"
    "  --to-lf     Always map CR-LF to LF\n"
    "  --check     change nothing: print each file's CR-LF, lone LF and lone CR\n"
    "              counts, whether it holds 0x1A or NUL, and what the mode would do\n"
    "  --quiet     print no summary\n"
    "  --help      print this text\n"
    "  --version   print the version\n"
    "  --          ends the options: every argument after it is a file\n"
    "\n"
    "Exit status: 0 when every file was converted (with --check: none would\n"
    "change), 1 when some file failed (with --check: or would change), 2 for a\n"
    "usage error.\n";

bool ParseOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error) {
  bool optionsEnd = false;
  for (const std::string& arg : args) {
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      options->files.push_back(arg);
    } else if (arg == "--") {
      optionsEnd = true;
    } else if (arg == "--auto") {
      options->mode = ModeAutomatic;
    } else if (arg == "--to-crlf") {
      options->mode = ModeLfToCrLf;
    } else if (arg == "--to-lf") {
      options->mode = ModeCrLfToLf;
    } else if (arg == "--check") {
      options->check = true;
    } else if (arg == "--quiet") {
      options->quiet = true;
    } else if (arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      *error = "unknown option '" + arg + "'";
      return false;
    }
  }
  if (options->files.empty() && !options->help && !options->version) {
    *error = "no files given";
    return false;
  }
  return true;
}

namespace {

// One self-updating line on standard error that shows how a run goes, for a
// person at a terminal: it appears once the run has taken half a second, and
// never when standard error is a pipe or a file.
class ProgressLine {
 public:
  explicit ProgressLine(size_t total)
      : enabled_(StandardErrorIsTerminal()),
        shown_(false),
        total_(total),
        start_(Clock::now()),
        lastDrawn_(start_) {}
  ~ProgressLine() { Clear(); }

  bool enabled() const { return enabled_; }

  void Update(size_t done, uint64_t bytes, const std::string& current) {
    if (!enabled_) return;
    Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500)) return;
    if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;

    char counts[96];
    std::snprintf(counts, sizeof counts, "%lu/%lu files, %.1f MiB: ",
                  static_cast<unsigned long>(done), static_cast<unsigned long>(total_),
                  static_cast<double>(bytes) / (1024.0 * 1024.0));
    std::string text = counts;
    size_t width = Width();
    if (text.size() + current.size() <= width) {
      text += current;
    } else if (text.size() + 3 < width) {
      text += "..." + current.substr(current.size() - (width - text.size() - 3));
    }
    text.resize(width, ' ');  // also covers what a longer line left
    std::fprintf(stderr, "\r%s\r", text.c_str());
    std::fflush(stderr);
    shown_ = true;
  }

  // Erases the line, so that other output starts on a clean line.
  void Clear() {
    if (!shown_) return;
    std::fflush(stdout);
    std::fprintf(stderr, "\r%s\r", std::string(Width(), ' ').c_str());
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  typedef std::chrono::steady_clock Clock;

  // One less than the terminal's width, so that the line never wraps.
  static size_t Width() {
    int columns = TerminalColumns();
    return columns > 1 ? static_cast<size_t>(columns - 1) : 1;
  }

  bool enabled_;
  bool shown_;
  size_t total_;
  Clock::time_point start_;
  Clock::time_point lastDrawn_;
};

// Prints "quenlat-cli: PATH: SENTENCE" on standard error.
class ConsoleReporter : public ErrorReporter {
 public:
  explicit ConsoleReporter(ProgressLine& progress) : progress_(progress) {}

  void ReportFileError(const std::string& path, int error) override {
    Report(path, ErrorSentence(error));
  }

  void Report(const std::string& path, const char* sentence) {
    progress_.Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "quenlat-cli: %s: %s\n", path.c_str(), sentence);
  }

 private:
  ProgressLine& progress_;
};

const char kProbeSentence[] = "This file cannot be opened for writing";

// Opens the file at path into file and reads it through scanner, to its end
// or until enough is true. 0, or the error number with file closed.
int ScanFile(const std::string& path, LinebreakScanner& scanner, SourceFile& file,
             const std::function<bool(const LinebreakScanner&)>& enough = nullptr) {
  int error = file.Open(path);
  if (error == 0) error = file.Scan(scanner, enough);
  if (error != 0) file.Close();
  return error;
}

void PrintSummary(const CliOptions& options, unsigned long converted, unsigned long failed) {
  if (!options.quiet) std::printf("%lu files converted.\n", converted);
  std::fflush(stdout);
  if (failed > 0) std::fprintf(stderr, "%lu failed.\n", failed);
}

const char* EffectText(ModeEffect effect) {
  switch (effect) {
    case EffectToCrLf: return "to CR-LF";
    case EffectToLf: return "to LF";
    default: return "unchanged";
  }
}

}  // namespace

int ConvertFiles(const CliOptions& options) {
  ProgressLine progress(options.files.size());
  ConsoleReporter reporter(progress);
  // Each folder's renames are flushed once, at the end, rather than after
  // every file: many small files then cost one flush each, not two.
  DeferredFolderSync folders;
  unsigned long converted = 0;
  unsigned long failed = 0;
  bool unflushed = false;
  uint64_t bytes = 0;
  SourceFile file;  // the conversion reads through it too: one open per file
  ConvertOptions convert;
  convert.reporter = &reporter;
  convert.deferred = &folders;
  convert.source = &file;
  // The scan stops once the bytes read prove that the mode changes the file
  // and settle the direction it is converted in.
  const TranslationMode mode = options.mode;
  const auto settled = [mode](const LinebreakScanner& scanner) {
    return scanner.WillChange(mode) && scanner.DirectionSettled(mode);
  };

  for (size_t i = 0; i < options.files.size(); ++i) {
    const std::string& path = options.files[i];
    progress.Update(i, bytes, path);
    if (!ProbeWritable(path)) {
      reporter.Report(path, kProbeSentence);
      ++failed;
      continue;
    }

    // A file that the mode would not change is not rewritten: it keeps its
    // times, and nothing is written to the disk for it.
    LinebreakScanner scanner;
    if (int error = ScanFile(path, scanner, file, settled)) {
      reporter.ReportFileError(path, error);
      ++failed;
      continue;
    }
    const uint64_t size = progress.enabled() ? file.Size() : 0;
    bool changes = true;
    if (settled(scanner)) {
      convert.direction = scanner.DirectionFor(mode);
    } else {
      const LinebreakCounts counts = scanner.Finish();
      changes = EffectOf(counts, mode) != EffectUnchanged;
      convert.direction = ResolveDirection(mode, counts.firstCrIsCrLf);
    }
    if (changes && !ConvertFile(path, convert)) {
      ++failed;
      continue;
    }
    file.Close();
    ++converted;
    bytes += size;
  }
  std::string folder;
  if (int error = folders.Flush(&folder)) {
    reporter.ReportFileError(folder, error);
    unflushed = true;
  }
  progress.Clear();
  PrintSummary(options, converted, failed);
  return failed > 0 || unflushed ? kExitFailure : kExitSuccess;
}

int CheckFiles(const CliOptions& options) {
  ProgressLine progress(options.files.size());
  ConsoleReporter reporter(progress);
  unsigned long failed = 0;
  unsigned long changing = 0;
  uint64_t bytes = 0;
  SourceFile file;

  for (size_t i = 0; i < options.files.size(); ++i) {
    const std::string& path = options.files[i];
    progress.Update(i, bytes, path);
    LinebreakScanner scanner;
    if (int error = ScanFile(path, scanner, file)) {
      reporter.ReportFileError(path, error);
      ++failed;
      continue;
    }
    const LinebreakCounts counts = scanner.Finish();
    const ModeEffect effect = EffectOf(counts, options.mode);
    if (effect != EffectUnchanged) ++changing;
    if (progress.enabled()) bytes += file.Size();
    file.Close();

    progress.Clear();
    std::string line = path + ": " + std::to_string(counts.crLf) + " CR-LF, " +
                       std::to_string(counts.loneLf) + " LF, " + std::to_string(counts.loneCr) +
                       " CR, 0x1A " + (counts.hasEndOfText ? "yes" : "no") + ", NUL " +
                       (counts.hasNul ? "yes" : "no") + ": " + EffectText(effect) + "\n";
    std::fputs(line.c_str(), stdout);
  }
  progress.Clear();
  std::fflush(stdout);
  if (failed > 0) std::fprintf(stderr, "%lu failed.\n", failed);
  return failed > 0 || changing > 0 ? kExitFailure : kExitSuccess;
}
