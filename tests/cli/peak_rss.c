/* peak-rss RESULT PROGRAM [ARG...]
   Runs PROGRAM with the arguments and the standard streams of this process,
   waits for it and writes its peak resident set in KiB, as wait4 reports it,
   to the file RESULT. Exits with the program's exit status; 127 when it could
   not be started, 126 when it did not end by itself.

   Linux counts in a child's peak resident set the memory of the process it
   was forked from. A test that forks the console tool itself would measure
   its own size; forked from this small program, the tool's figure is its own.
   The program runs on one processor only: Linux counts a process's pages per
   processor and adds the counts up lazily, so on two processors the figure
   wandered by 300 KiB from run to run, on one by 20 KiB. */
#define _GNU_SOURCE
#include <sched.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: peak-rss RESULT PROGRAM [ARG...]\n", stderr);
    return 127;
  }
  pid_t pid = fork();
  if (pid < 0) return 127;
  if (pid == 0) {
    int cpu = sched_getcpu();
    if (cpu >= 0) {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(cpu, &one);
      sched_setaffinity(0, sizeof one, &one);
    }
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return 127;
  FILE* result = fopen(argv[1], "w");
  if (!result || fprintf(result, "%ld\n", usage.ru_maxrss) < 0 || fclose(result) != 0) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}
