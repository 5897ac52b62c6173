#include "cli.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "convert/convert.h"
#include "convert/scan.h"
#include "convert/translate.h"
#include "platform.h"
#include "stream_filter.h"

const char kUsageLine[] =
    "Usage: quenlat-cli [--auto | --to-crlf | --to-lf] [OPTION]... [--] [FILE]...\n";

const char kUsage[] =
    "Usage: quenlat-cli [--auto | --to-crlf | --to-lf] [OPTION]... [--] [FILE]...\n"
    "Converts the line breaks of each FILE in place, one after another. With no\n"
    "FILE and standard input not a terminal, or with FILE -, converts standard\n"
    "input to standard output.\n"
    "\n"
    "  --auto             Automatic (toggle): a file whose first CR is followed by\n"
    "                     LF gets LF breaks, any other file CR-LF breaks (the default)\n"
    "  --to-crlf          Always map LF to CR-LF\n"
    "  --to-lf            Always map CR-LF to LF\n"
    "  --check            change nothing: print each file's CR-LF, lone LF and lone\n"
    "                     CR counts, whether it holds 0x1A or NUL, and what the mode\n"
    "                     would do (\"binary\" for a file that is skipped)\n"
    "  -r, --recursive    convert the files in each FILE that is a folder, and in\n"
    "                     its folders (not .git, .svn or .hg; links to folders are\n"
    "                     not followed, links to files only into the FILE)\n"
    "  --follow-links     with -r, also follow links to files outside the FILE\n"
    "  --files-from LIST  then the files named in LIST, one a line (- reads the\n"
    "                     names from standard input)\n"
    "  -0, --null         the names in LIST end with a NUL byte, not a line break\n"
    "  --force            also convert binary files (a NUL byte, outside UTF-16 text\n"
    "                     with a byte-order mark), which are otherwise skipped,\n"
    "                     and on Windows sparse files, filling their holes\n"
    "  --quiet            print no summary\n"
    "  --help             print this text\n"
    "  --version          print the version\n"
    "  --                 ends the options: every argument after it is a file\n"
    "\n"
    "Exit status: 0 when every file was converted or skipped (with --check: none\n"
    "would change), 1 when some file failed (with --check: or would change), 2\n"
    "for a usage error.\n";

bool ParseOptions(const std::vector<std::string>& args, bool inputIsTerminal, CliOptions* options,
                  std::string* error) {
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
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
    } else if (arg == "--force") {
      options->force = true;
    } else if (arg == "--recursive" || arg == "-r") {
      options->recursive = true;
    } else if (arg == "--follow-links") {
      options->followLinks = true;
    } else if (arg == "--null" || arg == "-0") {
      options->nullSeparated = true;
    } else if (arg == "--files-from" || arg.compare(0, 13, "--files-from=") == 0) {
      if (arg.size() > 12) {
        options->filesFrom = arg.substr(13);
      } else if (i + 1 < args.size()) {
        options->filesFrom = args[++i];
      } else {
        *error = "option '--files-from' needs a file";
        return false;
      }
      if (options->filesFrom.empty()) {
        *error = "option '--files-from' needs a file";
        return false;
      }
      options->hasFilesFrom = true;
    } else if (arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      *error = "unknown option '" + arg + "'";
      return false;
    }
  }
  if (options->help || options->version) return true;
  bool dash = false;
  for (const std::string& file : options->files) dash = dash || file == "-";
  if (dash) {
    if (options->files.size() > 1 || options->hasFilesFrom) {
      *error = "'-' (standard input) cannot be given with other files";
      return false;
    }
    options->files.clear();
    options->filter = true;
  } else if (options->files.empty() && !options->hasFilesFrom) {
    if (inputIsTerminal) {
      *error = "no files given";
      return false;
    }
    options->filter = true;
  }
  return true;
}

namespace {

// The length of the valid UTF-8 sequence at p[0, n), or 0 when none starts
// there (a stray byte, an overlong form, a surrogate, past U+10FFFF).
size_t Utf8SequenceLength(const unsigned char* p, size_t n) {
  const unsigned char c = p[0];
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (n < length || p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

void AppendEscaped(unsigned char c, std::string* to) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02x", c);
  *to += hex;
}

}  // namespace

std::string PrintableName(const std::string& name) {
  std::string result;
  result.reserve(name.size());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(name.data());
  const size_t n = name.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c >= 0x80) {
      // A terminal takes C1 controls (U+0080 to U+009F, as C2 80 to C2 9F)
      // and, in some encodings, stray bytes as commands: both are escaped.
      const size_t length = Utf8SequenceLength(p + i, n - i);
      if (length == 0 || (length == 2 && c == 0xC2 && p[i + 1] <= 0x9F)) {
        const size_t escaped = length == 0 ? 1 : 2;
        for (size_t k = 0; k < escaped; ++k) AppendEscaped(p[i + k], &result);
        i += escaped;
      } else {
        result.append(name, i, length);
        i += length;
      }
      continue;
    }
    if (c == '\n') {
      result += "\\n";
    } else if (c == '\t') {
      result += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      AppendEscaped(c, &result);
    } else if (c == '\\' && kPathSeparator != '\\') {
      result += "\\\\";
    } else {
      result += static_cast<char>(c);
    }
    ++i;
  }
  return result;
}

namespace {

// The first error met writing standard output, 0 while there is none. A run
// ends once it is set: what it prints can no longer reach its reader.
int outputError = 0;

// Notes a failure of standard output (errno says why) unless one is known.
void NoteOutputFailure() {
  if (outputError == 0) outputError = errno != 0 ? errno : EIO;
}

// Writes text to standard output. False once standard output has failed.
bool PutOutput(const std::string& text) {
  if (outputError != 0) return false;
  errno = 0;
  if (!WriteText(stdout, text) || std::ferror(stdout)) NoteOutputFailure();
  return outputError == 0;
}

// Sends what standard output holds on. False once standard output has failed.
bool FlushOutput() {
  if (outputError != 0) return false;
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) NoteOutputFailure();
  return outputError == 0;
}

}  // namespace

const char* OutputReason(int error) {
  switch (error) {
    case EPIPE: return "its reader has gone (broken pipe)";
    case EBADF: return "not open for writing";
    default: return ErrorReason(error);
  }
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

  void Update(size_t done, uint64_t bytes, const std::string& path) {
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
    const std::string current = PrintableName(path);
    size_t width = Width();
    if (text.size() + current.size() <= width) {
      text += current;
    } else if (text.size() + 3 < width) {
      size_t from = current.size() - (width - text.size() - 3);
      while (from < current.size() && (current[from] & 0xC0) == 0x80) ++from;  // whole characters
      text += "..." + current.substr(from);
    }
    text.resize(width, ' ');  // also covers what a longer line left
    WriteText(stderr, "\r" + text + "\r");
    std::fflush(stderr);
    shown_ = true;
  }

  // Erases the line, so that other output starts on a clean line.
  void Clear() {
    if (!shown_) return;
    FlushOutput();
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

const char kBinarySentence[] = "binary file skipped; --force converts it";

// What the console says for an error of the engine's: a binary file found
// late is a skip.
const char* ConsoleReason(int error) {
  return error == kErrorBinaryFound ? kBinarySentence : ErrorReason(error);
}

// Prints "quenlat-cli: PATH: SENTENCE" on standard error. While files wait in
// a batch, whose failures are known only once it is committed, reports are
// held and then printed in the order of the files they are about.
class ConsoleReporter : public ErrorReporter {
 public:
  explicit ConsoleReporter(ProgressLine* progress = nullptr) : progress_(progress) {}

  // The file that the reports without a file's index are about: its index in
  // the run's names.
  void SetCurrent(size_t index) { current_ = index; }

  void ReportFileError(const std::string& path, int error) override {
    lastError_ = error;
    Report(path, ConsoleReason(error));
  }

  // The error of the last ReportFileError, then forgets it.
  int TakeLastError() {
    const int error = lastError_;
    lastError_ = 0;
    return error;
  }

  void Report(const std::string& path, const std::string& sentence) {
    ReportAt(current_, path, sentence);
  }

  // A report about the index-th file.
  void ReportAt(size_t index, const std::string& path, const std::string& sentence) {
    if (holding_) {
      held_.push_back({index, path, sentence});
    } else {
      Print(path, sentence);
    }
  }

  // Reports wait from now on, until Release.
  void Hold() { holding_ = true; }
  size_t Held() const { return held_.size(); }
  // Prints the reports held about the files before the index-th, in the
  // order of their files (a file's own in the order made). With no index,
  // prints them all, and prints each report at once again.
  void Release(size_t before = SIZE_MAX) {
    std::stable_sort(held_.begin(), held_.end(),
                     [](const HeldReport& a, const HeldReport& b) { return a.index < b.index; });
    size_t n = 0;
    for (; n < held_.size() && held_[n].index < before; ++n) Print(held_[n].path, held_[n].sentence);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
    if (before == SIZE_MAX) holding_ = false;
  }

 private:
  struct HeldReport {
    size_t index;
    std::string path;
    std::string sentence;
  };

  void Print(const std::string& path, const std::string& sentence) {
    if (progress_) progress_->Clear();
    FlushOutput();
    WriteText(stderr, "quenlat-cli: " + PrintableName(path) + ": " + sentence + "\n");
  }

  ProgressLine* progress_;
  size_t current_ = 0;
  int lastError_ = 0;
  bool holding_ = false;
  std::vector<HeldReport> held_;
};

// Hands the engine's reports about one file of a batch to the console's
// reporter with that file's index.
class FileReporter : public ErrorReporter {
 public:
  FileReporter(ConsoleReporter* to, size_t index) : to_(to), index_(index) {}
  void ReportFileError(const std::string& path, int error) override {
    binary_ = binary_ || error == kErrorBinaryFound;
    to_->ReportAt(index_, path, ConsoleReason(error));
  }
  // Whether the engine found the file binary and skipped it.
  bool Binary() const { return binary_; }

 private:
  ConsoleReporter* to_;
  size_t index_;
  bool binary_ = false;
};

const char kProbeSentence[] = "This file cannot be opened for writing";
const char kFolderSentence[] = "This is a folder; --recursive converts the files in it";
const char kNotFileSentence[] = "This is not a regular file";
// Why the write probe failed: the error's sentence where the error says
// something, the probe's own sentence where it does not.
const char* ProbeSentence(int error) {
  if (error == kErrorNotRegularFile) return kNotFileSentence;
  // Where the system says exactly why, its reason; its general failure says
  // no more than the probe's own sentence.
  const char* reason = ErrorReason(error);
  return std::strcmp(reason, ErrorSentence(0)) == 0 ? kProbeSentence : reason;
}

// In a Worklist's errors: a link that a walk found and did not follow. It is
// named, and is no failure.
const int kLinkNotFollowed = -1;
const char kLinkSentence[] = "points outside the folder, not followed";

// The names a run works on, and the errors met while gathering them. Kept
// lean: a run may be given hundreds of thousands of names.
struct Worklist {
  std::vector<std::string> paths;
  // By index in paths: why that name cannot be worked on (an error number),
  // or kLinkNotFollowed.
  std::map<size_t, int> errors;
  // By index in paths: a link that a walk followed because it led into this
  // folder (its path resolved). Checked again when its file's turn comes, as
  // the link may have been changed meanwhile.
  std::map<size_t, std::string> linksInto;
  // By index in paths: a walk's file whose name begins as a temporary
  // file's, looked at again when its turn comes: another run's is left out.
  std::set<size_t> tempNamed;

  void AddError(const std::string& path, int error) {
    errors[paths.size()] = error;
    paths.push_back(path);
  }
  int ErrorAt(size_t i) const {
    auto found = errors.find(i);
    return found == errors.end() ? 0 : found->second;
  }
};

bool IsVersionControlFolder(const std::string& name) {
  return name == ".git" || name == ".svn" || name == ".hg";
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '/' || last == kPathSeparator || (kPathSeparator == '\\' && last == ':'))
    return folder + name;
  return folder + kPathSeparator + name;
}

// What a walk carries from folder to folder.
struct WalkState {
  const WalkFolder* root;  // the folder named
  std::string rootPath;    // its path resolved
  bool followLinks;
  Worklist* work;
  std::set<FileIdentity> walked;
};

// Adds the regular files of folder (at path) in name order, then those of
// each of its folders in turn. A folder met again (a folder mounted inside
// itself) is not walked twice. An entry that cannot be examined, or a folder
// that cannot be opened or read, is added as an error; a link to a file
// outside the folder named, unless links are followed, as a note.
void Walk(const WalkFolder& folder, const std::string& path, WalkState* walk) {
  Worklist* work = walk->work;
  FileIdentity identity;
  if (folder.Identity(&identity) && !walk->walked.insert(identity).second) return;
  std::vector<FolderEntry> entries;
  if (!folder.Read(&entries)) {
    work->AddError(path, errno);
    return;
  }
  for (const FolderEntry& e : entries) {
    // A .git file stands for a repository kept elsewhere (a worktree, a
    // submodule): left out as a .git folder is.
    if (e.name == ".git") continue;
    // Another run's temporary file, or one that was and is gone: not a
    // user's file, and not missing.
    const bool tempNamed = e.name.compare(0, 3, "tmp") == 0;
    if (tempNamed && (e.error != 0 || e.kind == PathFile) &&
        folder.HoldsTempFileOfAConversion(e.name))
      continue;
    if (e.error != 0) {
      work->AddError(JoinPath(path, e.name), e.error);
    } else if (e.kind == PathFile) {
      if (e.link && !walk->followLinks) {
        if (!folder.LinkLeadsInto(e.name, *walk->root)) {
          work->AddError(JoinPath(path, e.name), kLinkNotFollowed);
          continue;
        }
        work->linksInto[work->paths.size()] = walk->rootPath;
      }
      if (tempNamed) work->tempNamed.insert(work->paths.size());
      work->paths.push_back(JoinPath(path, e.name));
    }
  }
  for (const FolderEntry& e : entries) {
    if (e.kind != PathFolder || IsVersionControlFolder(e.name)) continue;
    const std::string sub = JoinPath(path, e.name);
    WalkFolder child;
    if (int error = child.OpenIn(folder, e.name, sub)) {
      work->AddError(sub, error);
      continue;
    }
    Walk(child, sub, walk);
  }
}

// Whether the index-th name is a link that a walk followed into its folder
// and that now leads out of it: target is what it leads to now.
bool LinkLeftItsFolder(const Worklist& work, size_t index, const std::string& target) {
  const auto link = work.linksInto.find(index);
  return link != work.linksInto.end() && !PathLiesIn(target, link->second);
}

// Whether the index-th name, found by a walk, has become another run's
// temporary file or gone as one does since: it is left out without a word.
bool TempFileMeanwhile(const Worklist& work, size_t index, const std::string& target) {
  return work.tempNamed.count(index) != 0 && IsTempFileOfAConversion(target);
}

// Reports what gathering found about the index-th name, if anything: true
// when the name is done with then (*failed counts it when it failed).
bool ReportGathered(const Worklist& work, size_t index, ConsoleReporter* reporter,
                    unsigned long* failed) {
  const int error = work.ErrorAt(index);
  if (error == 0) return false;
  if (error == kLinkNotFollowed) {
    reporter->Report(work.paths[index], kLinkSentence);
  } else {
    reporter->ReportFileError(work.paths[index], error);
    ++*failed;
  }
  return true;
}

// Reads the names of a list file: lines (a CR before the LF dropped) or
// NUL-terminated names; empty ones are left out. False with errno set.
bool ReadNameList(const std::string& list, bool nullSeparated, std::vector<std::string>* names) {
  std::FILE* f = nullptr;
  if (list != "-") {
    f = OpenForReading(list);
    if (!f) return false;
  }
  std::string text;
  std::vector<char> buf(64 * 1024);
  bool ok = true;
  for (;;) {
    size_t got = 0;
    if (f) {
      got = std::fread(buf.data(), 1, buf.size(), f);
      if (got == 0 && std::ferror(f)) ok = false;
    } else if (!ReadStandardInput(buf.data(), buf.size(), &got)) {
      ok = false;
    }
    if (got == 0) break;
    text.append(buf.data(), got);
  }
  const int error = errno;
  if (f) std::fclose(f);
  errno = error;
  if (!ok || !ListText(&text)) return false;
  const char end = nullSeparated ? '\0' : '\n';
  for (size_t start = 0; start < text.size();) {
    size_t stop = text.find(end, start);
    if (stop == std::string::npos) stop = text.size();
    size_t length = stop - start;
    if (!nullSeparated && length > 0 && text[stop - 1] == '\r') --length;
    if (length > 0) names->push_back(text.substr(start, length));
    start = stop + 1;
  }
  return true;
}

// The names the run works on: the arguments (patterns expanded where the
// shell leaves that to the program), then the list's names; with recursive, a
// folder's files instead of the folder. False when the list cannot be read,
// which has been reported. Takes the names of options.files.
bool Gather(CliOptions& options, Worklist* work) {
  std::vector<std::string> names = ExpandWildcards(std::move(options.files));
  if (options.hasFilesFrom && !ReadNameList(options.filesFrom, options.nullSeparated, &names)) {
    ConsoleReporter().Report(options.filesFrom == "-" ? "standard input" : options.filesFrom,
                             errno == EILSEQ ? "a UTF-16 list that ends in half a character"
                                             : ErrorReason(errno));
    return false;
  }
  if (!options.recursive) {
    work->paths = std::move(names);
  } else {
    WalkState walk{nullptr, std::string(), options.followLinks, work, {}};
    for (std::string& name : names) {
      if (KindOf(name) == PathFolder) {
        WalkFolder root;
        if (int error = root.Open(name)) {
          work->AddError(name, error);
          continue;
        }
        walk.root = &root;
        walk.rootPath = root.ResolvedPath();
        Walk(root, name, &walk);
      } else {
        work->paths.push_back(std::move(name));
      }
    }
  }
  for (size_t i = 0; i < work->paths.size(); ++i) {
    if (HoldsWildcard(work->paths[i])) work->errors[i] = ENOENT;
  }
  return true;
}

// What stops a name from being read as a file, or nullptr when nothing does
// (a missing file included: its open says why).
const char* RefusalOf(PathKind kind) {
  switch (kind) {
    case PathFolder: return kFolderSentence;
    case PathOther: return kNotFileSentence;
    default: return nullptr;
  }
}

// What reading a file found.
struct Scan {
  bool changes = false;  // the mode would change the file
  Direction direction = DirectionLfToCrLf;  // what it is converted with
  bool binary = false;   // a NUL byte, outside UTF-16 text with its byte-order mark
  Encoding encoding = EncodingBytes;  // what the file is read and converted in
  uint64_t size = 0;
  LinebreakCounts counts;  // when full
};

// Whether the open file, whose scan has met a NUL byte, is binary: UTF-16
// text with its byte-order mark is not.
bool IsBinaryFile(const SourceFile& file, uint64_t size) {
  size_t n = 0;
  const unsigned char* first = file.First(&n);
  return IsBinaryContent(true, first, n, size);
}

// Opens the file at path (resolved) into file and reads it. With full,
// reads it all and fills the counts. Otherwise stops once the file proves
// binary (unless forced: it is skipped then), or once the mode proves to
// change it and settles the direction: the conversion then reads on from
// there, and (but for force) skips the file if the rest holds a NUL byte.
// 0 or the error number.
int ScanFile(const std::string& path, const CliOptions& options, bool full, SourceFile& file,
             Scan* scan) {
  if (int error = file.Open(path, true)) return error;
  scan->size = file.Size();
  const TranslationMode mode = options.mode;
  const auto settled = [mode](const LinebreakScanner& s) {
    return s.WillChange(mode) && s.DirectionSettled(mode);
  };
  scan->encoding = file.TextEncoding();
  LinebreakScanner scanner(scan->encoding);
  int error = 0;
  if (full) {
    error = file.Scan(scanner);
  } else if (options.force) {
    error = file.Scan(scanner, settled);
  } else {
    const auto stop = [&settled](const LinebreakScanner& s) { return s.HasNul() || settled(s); };
    error = file.Scan(scanner, stop);
    if (error == 0 && scanner.HasNul()) {
      scan->binary = IsBinaryFile(file, scan->size);
      if (scan->binary) return 0;  // skipped whatever else it holds
      error = file.Scan(scanner, settled);
    }
  }
  if (error != 0) return error;
  if (!full && settled(scanner)) {
    scan->changes = true;
    scan->direction = scanner.DirectionFor(mode);
    return 0;
  }
  scan->counts = scanner.Finish();
  if (full && scan->counts.hasNul) scan->binary = IsBinaryFile(file, scan->size);
  scan->changes = EffectOf(scan->counts, mode) != EffectUnchanged;
  scan->direction = ResolveDirection(mode, scan->counts.firstCrIsCrLf);
  return 0;
}

// Whether the rest of the open file, after what ScanFile read of it, holds
// a NUL byte that makes it binary. A read error counts as none.
bool RestHoldsNul(SourceFile& file, const Scan& scan) {
  if (scan.encoding != EncodingBytes) return false;  // UTF-16 text is never binary
  LinebreakScanner rest;
  return file.Scan(rest, [](const LinebreakScanner& s) { return s.HasNul(); }) == 0 &&
         rest.HasNul();
}

const char* EffectText(ModeEffect effect) {
  switch (effect) {
    case EffectToCrLf: return "to CR-LF";
    case EffectToLf: return "to LF";
    default: return "unchanged";
  }
}

}  // namespace

int ConvertFiles(CliOptions options) {
  Worklist work;
  if (!Gather(options, &work)) return kExitFailure;
  const std::vector<std::string>& paths = work.paths;
  ProgressLine progress(paths.size());
  ConsoleReporter reporter(&progress);
  // Each folder's renames are flushed once, at the end, rather than after
  // every file: many small files then cost one flush each, not two.
  DeferredFolderSync folders;
  // The files dealt with, by quick identity, with the index of the name they
  // were given: a second name for one of them (another spelling, a link) is
  // not converted again, which in automatic mode would turn it back.
  std::multimap<FileIdentity, size_t> done;
  unsigned long converted = 0;
  unsigned long failed = 0;
  unsigned long skipped = 0;
  bool unflushed = false;
  uint64_t bytes = 0;
  SourceFile file;  // the conversion reads through it too: one open per file
  ConvertOptions convert;
  convert.reporter = &reporter;
  convert.deferred = &folders;
  convert.fillSparse = options.force;
  convert.source = &file;
  // The scan stops once it knows what to do: the conversion looks at the
  // rest for a NUL byte.
  convert.skipBinary = !options.force;

  // Small files wait in a batch whose new content is flushed to the disk at
  // once: flushing each file on its own would cost most of the run.
  ConversionBatch batch;
  struct Waiting {
    size_t index;
    std::string target;
    FileIdentity identity;  // the old content's, while it waits
    bool identified;
    uint64_t names;
    FileReporter reporter;  // the engine's reports about it
    std::optional<FileIdentity> made;  // its new content's, once it has it
  };
  std::deque<Waiting> waiting;  // in the order added; a deque keeps each in place
  // A file converted: counted, and its new identity kept for the names that
  // follow (an older identity may go on naming the old content through a
  // hard link).
  // made is the new content's identity where the engine told it.
  const auto convertedFile = [&](size_t index, const std::string& target, uint64_t names,
                                 const std::optional<FileIdentity>& made) {
    if (names > 1) {
      reporter.ReportAt(index, paths[index],
                        "has " + std::to_string(names) + " names; only this one is converted");
    }
    FileIdentity identity;
    bool identified = false;
    if (made) {
      identity = *made;
      identified = true;
    } else {
      KindOf(target, &identity, &identified);
    }
    if (identified) done.emplace(identity, index);
    ++converted;
  };
  // Where the engine tells the new content's identity.
  const auto keepMade = [](std::optional<FileIdentity>* made) {
    return [made](uint64_t volume, uint64_t index) {
      FileIdentity identity;
      identity.volume = volume;
      identity.index = index;
      *made = identity;
    };
  };
  const auto finished = [&](bool ok) {
    if (ok) {
      convertedFile(waiting.front().index, waiting.front().target, waiting.front().names,
                    waiting.front().made);
    } else if (waiting.front().reporter.Binary()) {
      ++skipped;
    } else {
      ++failed;
    }
    waiting.pop_front();
  };
  // The reports about the files before the first that waits can be printed.
  const auto release = [&] {
    if (waiting.empty()) {
      reporter.Release();
    } else {
      reporter.Release(waiting.front().index);
    }
  };
  const auto commit = [&] {
    batch.Commit(finished);
    release();
  };

  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    progress.Update(i, bytes, path);
    reporter.SetCurrent(i);
    // The reports held for a batch stay few, however many files fail.
    if (reporter.Held() >= ConversionBatch::kMaxFiles) commit();
    if (outputError != 0) break;
    if (ReportGathered(work, i, &reporter, &failed)) continue;
    const std::string target = ResolvePath(path);
    if (TempFileMeanwhile(work, i, target)) continue;
    if (LinkLeftItsFolder(work, i, target)) {
      reporter.Report(path, kLinkSentence);
      continue;
    }
    FileIdentity identity;
    bool identified = false;
    const PathKind kind = KindOf(target, &identity, &identified);
    if (const char* refusal = RefusalOf(kind)) {
      reporter.Report(path, refusal);
      ++failed;
      continue;
    }
    if (identified) {
      // A file that waits in the batch is done once the batch is; it may
      // then be another file.
      for (const Waiting& w : waiting) {
        if (w.identified && !(w.identity < identity) && !(identity < w.identity)) {
          commit();
          KindOf(target, &identity, &identified);
          break;
        }
      }
      size_t same = paths.size();
      for (auto seen = done.equal_range(identity); seen.first != seen.second; ++seen.first) {
        if (SameFile(target, ResolvePath(paths[seen.first->second]))) same = seen.first->second;
      }
      if (same < paths.size()) {
        reporter.Report(path, "already done (the same file as " + PrintableName(paths[same]) + ")");
        ++converted;
        continue;
      }
    }
    int error = 0;
    // The resolved path from here on: it resolves to itself.
    if (kind == PathMissing && !ProbeWritable(target, &error)) {
      reporter.Report(path, ProbeSentence(error));
      ++failed;
      continue;
    }

    // The file is read before anything is written: a binary file is skipped,
    // and one that the mode would not change is not rewritten (it keeps its
    // times, and nothing is written to the disk for it).
    Scan scan;
    if ((error = ScanFile(target, options, false, file, &scan)) != 0) {
      file.Close();
      reporter.ReportFileError(path, error);
      ++failed;
      continue;
    }
    if (scan.binary && !options.force) {
      file.Close();
      reporter.Report(path, kBinarySentence);
      ++skipped;
      continue;
    }
    if (!file.ProbeWritable(&error)) {
      // A binary file is skipped before its probe is looked at, as one
      // whose NUL byte the scan met: the rest of it is read for one.
      const bool binary = !options.force && RestHoldsNul(file, scan);
      file.Close();
      if (binary) {
        reporter.Report(path, kBinarySentence);
        ++skipped;
      } else {
        reporter.Report(path, ProbeSentence(error));
        ++failed;
      }
      continue;
    }
    bytes += scan.size;
    if (!scan.changes) {
      file.Close();
      if (identified) done.emplace(identity, i);
      ++converted;
      continue;
    }
    convert.direction = scan.direction;
    const uint64_t names = file.Names();
    if (!batch.Takes(scan.size)) {
      batch.Send(finished);
      release();
    }
    if (!batch.Takes(scan.size)) {
      commit();
      // Too large for a batch: converted alone, after the files before it.
      reporter.TakeLastError();
      std::optional<FileIdentity> made;
      ConvertOptions alone = convert;
      alone.replaced = keepMade(&made);
      if (ConvertFile(path, alone)) {
        convertedFile(i, target, names, made);
      } else if (reporter.TakeLastError() == kErrorBinaryFound) {
        ++skipped;
      } else {
        ++failed;
      }
      continue;
    }
    waiting.push_back({i, target, identity, identified, names, FileReporter(&reporter, i), {}});
    ConvertOptions batched = convert;
    batched.reporter = &waiting.back().reporter;
    batched.replaced = keepMade(&waiting.back().made);
    reporter.Hold();
    if (!batch.Add(path, batched)) {
      if (waiting.back().reporter.Binary()) {
        ++skipped;
      } else {
        ++failed;
      }
      waiting.pop_back();
    }
  }
  commit();
  std::string folder;
  if (int flushError = folders.Flush(&folder)) {
    reporter.ReportFileError(folder, flushError);
    unflushed = true;
  }
  progress.Clear();
  if (!options.quiet && outputError == 0) {
    errno = 0;
    const int printed =
        skipped > 0 ? std::printf("%lu files converted. %lu skipped.\n", converted, skipped)
                    : std::printf("%lu files converted.\n", converted);
    if (printed < 0 || std::ferror(stdout)) NoteOutputFailure();
  }
  if (!FlushOutput()) {
    reporter.Report("standard output", OutputReason(outputError));
    return kExitFailure;
  }
  if (failed > 0) std::fprintf(stderr, "%lu failed.\n", failed);
  return failed > 0 || unflushed ? kExitFailure : kExitSuccess;
}

namespace {

// What a --check line says of the encoding: nothing for bytes.
const char* EncodingText(Encoding encoding) {
  switch (encoding) {
    case EncodingUtf16Le: return "UTF-16LE, ";
    case EncodingUtf16Be: return "UTF-16BE, ";
    default: return "";
  }
}

std::string CheckLine(const std::string& path, const LinebreakCounts& counts, const char* effect,
                      Encoding encoding = EncodingBytes) {
  return PrintableName(path) + ": " + EncodingText(encoding) + std::to_string(counts.crLf) +
         " CR-LF, " +
         std::to_string(counts.loneLf) + " LF, " + std::to_string(counts.loneCr) + " CR, 0x1A " +
         (counts.hasEndOfText ? "yes" : "no") + ", NUL " + (counts.hasNul ? "yes" : "no") + ": " +
         effect + "\n";
}

}  // namespace

int CheckFiles(CliOptions options) {
  Worklist work;
  if (!Gather(options, &work)) return kExitFailure;
  const std::vector<std::string>& paths = work.paths;
  ProgressLine progress(paths.size());
  ConsoleReporter reporter(&progress);
  unsigned long failed = 0;
  unsigned long changing = 0;
  uint64_t bytes = 0;
  SourceFile file;

  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    progress.Update(i, bytes, path);
    if (ReportGathered(work, i, &reporter, &failed)) continue;
    const std::string target = ResolvePath(path);
    if (TempFileMeanwhile(work, i, target)) continue;
    if (LinkLeftItsFolder(work, i, target)) {
      reporter.Report(path, kLinkSentence);
      continue;
    }
    if (const char* refusal = RefusalOf(KindOf(target))) {
      reporter.Report(path, refusal);
      ++failed;
      continue;
    }
    Scan scan;
    const int error = ScanFile(target, options, true, file, &scan);
    file.Close();
    if (error != 0) {
      reporter.ReportFileError(path, error);
      ++failed;
      continue;
    }
    const char* effect = "binary";
    if (!scan.binary || options.force) {
      const ModeEffect modeEffect = EffectOf(scan.counts, options.mode);
      if (modeEffect != EffectUnchanged) ++changing;
      effect = EffectText(modeEffect);
    }
    bytes += scan.size;

    progress.Clear();
    if (!PutOutput(CheckLine(path, scan.counts, effect, scan.encoding))) break;
  }
  progress.Clear();
  if (!FlushOutput()) {
    reporter.Report("standard output", OutputReason(outputError));
    return kExitFailure;
  }
  if (failed > 0) std::fprintf(stderr, "%lu failed.\n", failed);
  return failed > 0 || changing > 0 ? kExitFailure : kExitSuccess;
}

int FilterStandardInput(const CliOptions& options) {
  ConsoleReporter reporter;
  const size_t kBlock = 64 * 1024;
  std::unique_ptr<unsigned char[]> buf(new unsigned char[kBlock]);
  bool readFailed = false;
  int readError = 0;

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
      if (!ReadStandardInput(buf.get(), kBlock, &got)) {
        reporter.ReportFileError("standard input", errno);
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
          units->Scan(first, 2);
        }
      }
      if (units && size + firstTaken >= 2) units->Scan(buf.get() + firstTaken, got - firstTaken);
      nul = nul || FindEither(buf.get(), buf.get() + got, 0, 0) != buf.get() + got;
      bytes.Scan(buf.get(), got);
      size += got;
    }
    const Encoding encoding = DetectEncoding(first, size < 2 ? size : 2, size);
    const LinebreakCounts counts = encoding == EncodingBytes ? bytes.Finish() : units->Finish();
    const ModeEffect effect = EffectOf(counts, options.mode);
    const bool binary = !options.force && IsBinaryContent(nul, first, size < 2 ? size : 2, size);
    PutOutput(CheckLine("-", counts, binary ? "binary" : EffectText(effect), encoding));
    if (!FlushOutput()) {
      reporter.Report("standard output", OutputReason(outputError));
      return kExitFailure;
    }
    return !binary && effect != EffectUnchanged ? kExitFailure : kExitSuccess;
  }

  int writeError = 0;
  StreamFilter filter(options.mode, options.force,
                      [&writeError](const unsigned char* p, size_t n) {
                        if (WriteStandardOutput(p, n)) return true;
                        writeError = errno;
                        return false;
                      });
  bool written = true;
  for (;;) {
    size_t got = 0;
    if (!ReadStandardInput(buf.get(), kBlock, &got)) {
      readFailed = true;
      readError = errno;
      break;
    }
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
  if (readFailed) {
    reporter.ReportFileError("standard input", readError);
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
