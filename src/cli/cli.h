// quenlat-cli: the engine's conversion for scripts, one file after another,
// with the batch dialog's rules, texts and probe; and a filter from standard
// input to standard output. The program's main only hands RunCli its
// arguments.
#ifndef QUENLAT_CLI_CLI_H
#define QUENLAT_CLI_CLI_H

#include <string>
#include <vector>

#include "options.h"

// Runs the tool on the arguments that follow the program's name (in UTF-8):
// reads the options, then prints the help or the version, filters standard
// input, checks or converts the files. Returns the exit status.
int RunCli(std::vector<std::string> args);

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

#endif
