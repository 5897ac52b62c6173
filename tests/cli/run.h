// Running the built console tool as a separate process, as a script would.
#ifndef QUENLAT_TESTS_CLI_RUN_H
#define QUENLAT_TESTS_CLI_RUN_H

#include <cstdint>
#include <string>
#include <vector>

struct Outcome {
  int status = -1;  // the exit status, or -1 when the program could not run
  std::string out;  // what it wrote to standard output
  std::string err;  // and to standard error
};

// What a program run gets on its standard input.
struct Input {
  enum Kind {
    Nothing,   // an empty stream that is no terminal (the null device)
    Bytes,     // a file holding bytes
    Terminal,  // a terminal (POSIX only: see CanUseTerminal)
  };
  Kind kind = Nothing;
  std::string bytes;
};

inline Input InputOf(const std::string& bytes) {
  Input input;
  input.kind = Input::Bytes;
  input.bytes = bytes;
  return input;
}

// Whether this platform's tests can give a program a terminal for input.
bool CanUseTerminal();

// Runs program with args in the folder cwd, with input on its standard input;
// standard output and error are files, as when a script redirects them.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& cwd, const Input& input = Input());

// The line end that a console program of this platform writes for "\n".
extern const char kConsoleNewline[];

// The file's last-modification time in the system's units, and a way to set it
// to a day long past.
int64_t ModificationTime(const std::string& path);
void SetOldModificationTime(const std::string& path);

// Makes a symbolic link at link pointing to target; false where the platform's
// tests cannot (Windows).
bool MakeSymbolicLink(const std::string& target, const std::string& link);

// Gives the file at target a second name, link; false where the platform
// cannot.
bool MakeHardLink(const std::string& target, const std::string& link);

#endif
