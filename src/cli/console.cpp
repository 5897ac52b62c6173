#include "console.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "convert/folder.h"
#include "platform.h"

void PrintReport(const std::string& text) {
  WriteText(stderr, "quenlat-cli: " + text + "\n");
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

const char* OutputReason(std::error_code error) {
  if (error.category() != std::generic_category()) return ErrorReason(error);
  switch (error.value()) {
    case EPIPE: return "its reader has gone (broken pipe)";
    case EBADF: return "not open for writing";
    default: return ErrorReason(error);
  }
}

namespace {

std::error_code outputError;

}  // namespace

std::error_code OutputError() { return outputError; }

void NoteOutputFailure(std::error_code why) {
  if (!outputError) outputError = why ? why : Errno(errno != 0 ? errno : EIO);
}

bool PutOutput(const std::string& text) {
  if (outputError) return false;
  errno = 0;
  const std::error_code error = WriteText(stdout, text);
  if (error || std::ferror(stdout)) NoteOutputFailure(error);
  return !outputError;
}

bool FlushOutput() {
  if (outputError) return false;
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) NoteOutputFailure();
  return !outputError;
}

namespace {

// One less than the terminal's width, so that the line never wraps.
size_t LineWidth() {
  int columns = TerminalColumns();
  return columns > 1 ? static_cast<size_t>(columns - 1) : 1;
}

}  // namespace

ProgressLine::ProgressLine()
    : enabled_(StandardErrorIsTerminal()), shown_(false), start_(Clock::now()), lastDrawn_(start_) {}

void ProgressLine::Update(size_t done, size_t total, uint64_t bytes, const std::string& path) {
  if (!enabled_) return;
  Clock::time_point now = Clock::now();
  if (now - start_ < std::chrono::milliseconds(500)) return;
  if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;

  char counts[96];
  if (total != 0) {
    std::snprintf(counts, sizeof counts, "%lu/%lu files, %.1f MiB: ",
                  static_cast<unsigned long>(done), static_cast<unsigned long>(total),
                  static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(counts, sizeof counts, "%lu files, %.1f MiB: ", static_cast<unsigned long>(done),
                  static_cast<double>(bytes) / (1024.0 * 1024.0));
  }
  std::string text = counts;
  const std::string current = PrintableName(path);
  size_t width = LineWidth();
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

void ProgressLine::Clear() {
  if (!shown_) return;
  FlushOutput();
  std::fprintf(stderr, "\r%s\r", std::string(LineWidth(), ' ').c_str());
  std::fflush(stderr);
  shown_ = false;
}

const char kBinarySentence[] = "binary file skipped; --force converts it";

const char* ConsoleReason(std::error_code error) {
  return error == kErrorBinaryFound ? kBinarySentence : ErrorReason(error);
}

void ConsoleReporter::ReportFileError(const FileError& error) {
  lastError_ = error.code;
  Report(error.path, ConsoleReason(error.code));
}

void ConsoleReporter::ReportAt(size_t index, const std::string& path,
                               const std::string& sentence) {
  if (holding_) {
    held_.push_back({index, path, sentence});
  } else {
    Print(path, sentence);
  }
}

void ConsoleReporter::Release(size_t before) {
  std::stable_sort(held_.begin(), held_.end(),
                   [](const HeldReport& a, const HeldReport& b) { return a.index < b.index; });
  size_t n = 0;
  for (; n < held_.size() && held_[n].index < before; ++n) Print(held_[n].path, held_[n].sentence);
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
  if (before == SIZE_MAX) holding_ = false;
}

void ConsoleReporter::Print(const std::string& path, const std::string& sentence) {
  if (progress_) progress_->Clear();
  FlushOutput();
  PrintReport(PrintableName(path) + ": " + sentence);
}
