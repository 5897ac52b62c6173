// The console tool's command line: what it asks for, the table of its
// options, and the help text printed from that table.
#ifndef QUENLAT_CLI_OPTIONS_H
#define QUENLAT_CLI_OPTIONS_H

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

// One option of the command line.
struct OptionSpec {
  const char* longName;   // without its "--"; "" for "--" itself
  char shortName;         // its letter after one '-', or 0 for none
  const char* argument;   // the argument's name in the help, nullptr when it takes none
  const char* missing;    // what the usage error says it needs, when it takes an argument
  const char* help;       // its lines in the help, separated by '\n'
  // What it does to the options, given its argument (empty when it takes
  // none). nullptr for "--", which ends the options.
  void (*action)(CliOptions* options, const std::string& argument);
};

// Every option, in the order the help lists them.
extern const OptionSpec kOptionTable[];
extern const size_t kOptionCount;

// The first line of the help, also shown after a usage error.
extern const char kUsageLine[];

// The text of --help: the usage line, what the tool does, one entry for
// each option of the table (its names, then its help lines in a column),
// and the exit statuses.
std::string HelpText();

// Reads the arguments that follow the program's name. Options may stand
// anywhere before "--"; everything after it, and every argument that does not
// begin with '-', is a file. Short options may be bundled after one '-'
// ("-r0"); one that takes an argument takes the rest of its bundle, or the
// next argument. A long option takes its argument after '=' or as the next
// argument. "-" alone, or no file and no list while standard input is not a
// terminal (inputIsTerminal false), makes the run a filter. False for a usage
// error, with *error saying what was wrong.
bool ParseOptions(const std::vector<std::string>& args, bool inputIsTerminal, CliOptions* options,
                  std::string* error);

#endif
