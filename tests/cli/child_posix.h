// Starting the built console tool as a child process that a test may kill or
// measure, for the crash and load tests (Linux only).
#ifndef QUENLAT_TESTS_CLI_CHILD_POSIX_H
#define QUENLAT_TESTS_CLI_CHILD_POSIX_H

#include <sys/types.h>

#include <string>
#include <vector>

// Starts program with args in the folder cwd, with the descriptor input as its
// standard input (-1: none, an empty stream); standard output and error go to
// the files outPath and errPath (an empty path discards the stream). When the
// tests run as root, the child loses root's override of file permissions, as
// this test process did: an unwritable file or folder then stops it as it
// stops a user. Returns once the program has been loaded, with the child's id;
// -1 when it could not be started.
pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                 const std::string& cwd, const std::string& outPath, const std::string& errPath,
                 int input = -1);

// Waits for the child to end and returns its wait status (see waitpid), or -1.
int WaitChild(pid_t pid);

#endif
