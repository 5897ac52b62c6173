// What the console tool needs from the system beyond the engine's file layer
// (convert/file.h, convert/folder.h): the console, the standard streams, the
// program's version data and wildcards.
// platform_posix.cpp and platform_win32.cpp supply it. Every operation that
// can fail returns its error, in the engine's numbers (convert/error.h).
#ifndef QUENLAT_CLI_PLATFORM_H
#define QUENLAT_CLI_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

// Makes the process ready before anything is opened or written. On POSIX a
// standard descriptor (0 to 2) that is closed is opened on the null device,
// so that no file opened later takes its number and receives the tool's
// output; and a write to a pipe whose reader is gone fails (EPIPE) instead of
// ending the process.
void PrepareProcess();

// True when standard error is an interactive terminal (not a pipe or a file).
bool StandardErrorIsTerminal();

// True when standard input is an interactive terminal (not a pipe or a file).
bool StandardInputIsTerminal();

// The width of the terminal behind standard error in characters; 80 when the
// system does not say.
int TerminalColumns();

// The program's product name, version and copyright, as its version data
// holds them. False when they cannot be read.
bool ReadProgramVersion(std::string* name, std::string* version, std::string* copyright);

// Reads up to n bytes of standard input, returning as soon as some have come
// (a pipe's short reads included); *got is 0 at the end. Bytes are never
// translated. The error of a read, if any.
std::error_code ReadStandardInput(void* buf, size_t n, size_t* got);

// Writes all n bytes to standard output, untranslated. The error, if any.
std::error_code WriteStandardOutput(const void* buf, size_t n);

// The file arguments as the program works on them. On Windows, where the
// shell leaves patterns to the program, an argument holding '*' or '?' in its
// last part becomes the names in its folder that match it, in name order, or
// stays as it is when none does: '*' stands for any characters, '?' for one,
// letters match without case, "*.*" matches every name, and hidden and system
// files are left out ("." and ".." too). Elsewhere the shell has done that,
// and args come back unchanged.
std::vector<std::string> ExpandWildcards(std::vector<std::string> args);

// True when path holds a '*' or '?' that no file's name can hold: on Windows
// (outside a \\?\ prefix) a pattern that matched nothing; never elsewhere.
bool HoldsWildcard(const std::string& path);

// Opens the file at path for reading bytes, as fopen does, the name taken as
// it is (on Windows in UTF-16, relative to the start-up folder). nullptr with
// *error set when it cannot.
std::FILE* OpenForReading(const std::string& path, std::error_code* error);

// Writes text (UTF-8) to stream, stdout or stderr: on a Windows console as
// characters, elsewhere as its bytes. The error, if any.
std::error_code WriteText(std::FILE* stream, const std::string& text);

#endif
