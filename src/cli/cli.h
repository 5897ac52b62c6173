// quenlat-cli: the engine's conversion for scripts, one file after another,
// with the batch dialog's rules, texts and probe.
#ifndef QUENLAT_CLI_CLI_H
#define QUENLAT_CLI_CLI_H

#include <string>
#include <vector>

#include "convert/translate.h"

// Exit statuses.
enum {
  kExitSuccess = 0,  // every file converted (with --check: none would change)
  kExitFailure = 1,  // some file failed (with --check: or would change)
  kExitUsage = 2,    // unknown option, or no files
};

struct CliOptions {
  TranslationMode mode = ModeAutomatic;  // the last of --auto, --to-crlf, --to-lf wins
  bool check = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> files;  // in the order given
};

// The usage text for --help, and its first line, shown after a usage error.
extern const char kUsage[];
extern const char kUsageLine[];

// Reads the arguments that follow the program's name. Options may stand
// anywhere before "--"; everything after it, and every argument that does not
// begin with '-' (or is "-" alone), is a file. False for a usage error, with
// *error saying what was wrong.
bool ParseOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error);

// Converts each file in place, in order, as the batch dialog does: the write
// probe first, files that the mode would not change left untouched, failures
// reported on standard error without stopping the run, the summary at the end.
// Returns the exit status.
int ConvertFiles(const CliOptions& options);

// Changes nothing: prints one line per file with its line-break counts and
// what the mode would do. Returns the exit status.
int CheckFiles(const CliOptions& options);

#endif
