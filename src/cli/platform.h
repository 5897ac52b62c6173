// What the console tool needs from the system beyond the engine's file layer.
// platform_posix.cpp and platform_win32.cpp supply it.
#ifndef QUENLAT_CLI_PLATFORM_H
#define QUENLAT_CLI_PLATFORM_H

#include <string>

// True when standard error is an interactive terminal (not a pipe or a file).
bool StandardErrorIsTerminal();

// The width of the terminal behind standard error in characters; 80 when the
// system does not say.
int TerminalColumns();

// The program's product name, version and copyright, as its version data
// holds them. False when they cannot be read.
bool ReadProgramVersion(std::string* name, std::string* version, std::string* copyright);

#endif
