// quenlat-cli: the engine's conversion for scripts, one file after another,
// with the batch dialog's rules, texts and probe; and a filter from standard
// input to standard output.
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
  bool force = false;      // binary files are converted too
  bool recursive = false;  // folders given are walked
  bool followLinks = false;  // a walk follows links to files wherever they lead
  bool nullSeparated = false;  // the names in filesFrom end with NUL, not a line break
  bool hasFilesFrom = false;
  std::string filesFrom;   // "-" for standard input
  bool filter = false;     // standard input is converted to standard output
  bool help = false;
  bool version = false;
  std::vector<std::string> files;  // in the order given
};

// The usage text for --help, and its first line, shown after a usage error.
extern const char kUsage[];
extern const char kUsageLine[];

// Reads the arguments that follow the program's name. Options may stand
// anywhere before "--"; everything after it, and every argument that does not
// begin with '-', is a file. "-" alone, or no file and no list while standard
// input is not a terminal (inputIsTerminal false), makes the run a filter.
// False for a usage error, with *error saying what was wrong.
bool ParseOptions(const std::vector<std::string>& args, bool inputIsTerminal, CliOptions* options,
                  std::string* error);

// Converts each file in place, in order, as the batch dialog does: the write
// probe first, files that the mode would not change left untouched, failures
// reported on standard error without stopping the run, the summary at the end.
// The files are those given, then those of the list; with recursive, a folder
// stands for the files in it. Binary files are skipped unless forced, and a
// file named twice is converted once. In a walk, a symbolic link to a file is
// followed only when the file lies in the folder walked (unless
// followLinks), and an entry that cannot be examined fails. A failed write to
// standard output ends the run with an error. Returns the exit status.
int ConvertFiles(CliOptions options);

// Changes nothing: prints one line per file with its line-break counts and
// what the mode would do. Opens no file for writing. Returns the exit status.
int CheckFiles(CliOptions options);

// Converts standard input to standard output (with check: prints its line
// instead). Returns the exit status.
int FilterStandardInput(const CliOptions& options);

// Why standard output could not be written (error), in words.
const char* OutputReason(int error);

// name as it is printed: control characters (C0, DEL and C1, that is U+0080
// to U+009F) and bytes that are no valid UTF-8 as \n, \t or \xNN for each
// byte, and (where '\' is no separator) a backslash doubled, so that the
// name stays on its line and sends the terminal no command.
std::string PrintableName(const std::string& name);

#endif
