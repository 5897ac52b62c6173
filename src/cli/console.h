// What the console tool writes: its reports on standard error, the text it
// prints on standard output, and the progress line shown at a terminal.
#ifndef QUENLAT_CLI_CONSOLE_H
#define QUENLAT_CLI_CONSOLE_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/convert.h"

// Writes "quenlat-cli: TEXT" and a line break on standard error: the one way
// the tool reports anything there but its closing count of failures.
void PrintReport(const std::string& text);

// name as it is printed: control characters (C0, DEL and C1, that is U+0080
// to U+009F) and bytes that are no valid UTF-8 as \n, \t or \xNN for each
// byte, and (where '\' is no separator) a backslash doubled, so that the
// name stays on its line and sends the terminal no command.
std::string PrintableName(const std::string& name);

// Why standard output could not be written (error), in words.
const char* OutputReason(std::error_code error);

// Writes text to standard output. False once standard output has failed;
// after that nothing more is written.
bool PutOutput(const std::string& text);

// Sends what standard output holds on. False once standard output has failed.
bool FlushOutput();

// Notes a failure of standard output unless one is known: why, or where
// why is empty, errno (EIO where that is 0).
void NoteOutputFailure(std::error_code why = std::error_code());

// The first error met writing standard output, empty while there is none. A
// run ends once there is one: what it prints can no longer reach its reader.
std::error_code OutputError();

// One self-updating line on standard error that shows how a run goes, for a
// person at a terminal: it appears once the run has taken half a second, and
// never when standard error is a pipe or a file.
class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Shows that done files of total (0 while not known) are done, with bytes
  // read, and that path is the one now worked on.
  void Update(size_t done, size_t total, uint64_t bytes, const std::string& path);

  // Erases the line, so that other output starts on a clean line.
  void Clear();

 private:
  typedef std::chrono::steady_clock Clock;

  bool enabled_;
  bool shown_;
  Clock::time_point start_;
  Clock::time_point lastDrawn_;
};

// The binary file's sentence: skipped unless forced.
extern const char kBinarySentence[];

// What the console says for an error of the engine's: a binary file found
// late is a skip.
const char* ConsoleReason(std::error_code error);

// Prints "quenlat-cli: PATH: SENTENCE" on standard error. While files wait in
// a batch, whose failures are known only once it is committed, reports are
// held and then printed in the order of the files they are about (each
// file's own in the order made), however the batch ends.
class ConsoleReporter : public ErrorReporter {
 public:
  explicit ConsoleReporter(ProgressLine* progress = nullptr) : progress_(progress) {}

  // The file that the reports without a file's index are about: its place in
  // the run's names.
  void SetCurrent(size_t index) { current_ = index; }

  void ReportFileError(const FileError& error) override;

  // The error of the last ReportFileError, then forgets it.
  std::error_code TakeLastError() {
    const std::error_code error = lastError_;
    lastError_.clear();
    return error;
  }

  // A report about the current file.
  void Report(const std::string& path, const std::string& sentence) {
    ReportAt(current_, path, sentence);
  }

  // A report about the index-th file.
  void ReportAt(size_t index, const std::string& path, const std::string& sentence);

  // Reports wait from now on, until Release.
  void Hold() { holding_ = true; }
  size_t Held() const { return held_.size(); }
  // Prints the reports held about the files before the index-th, in the
  // order of their files (a file's own in the order made). With no index,
  // prints them all, and prints each report at once again.
  void Release(size_t before = SIZE_MAX);

 private:
  struct HeldReport {
    size_t index;
    std::string path;
    std::string sentence;
  };

  void Print(const std::string& path, const std::string& sentence);

  ProgressLine* progress_;
  size_t current_ = 0;
  std::error_code lastError_;
  bool holding_ = false;
  std::vector<HeldReport> held_;
};

#endif
