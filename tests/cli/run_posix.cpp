#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "run.h"
#include "support.h"

const char kConsoleNewline[] = "\n";

bool CanUseTerminal() { return true; }

Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& cwd, const Input& input) {
  ScratchDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  std::string inPath = "/dev/null";
  if (input.kind == Input::Bytes) {
    inPath = capture / "in";
    WriteBytes(inPath, input.bytes);
  }
  int terminal = -1;
  if (input.kind == Input::Terminal) {
    terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return Outcome();
    inPath = ptsname(terminal);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  Outcome outcome;
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(inPath.c_str(), O_RDONLY | O_NOCTTY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    outcome.status = WEXITSTATUS(status);
  }
  if (terminal >= 0) close(terminal);
  outcome.out = ReadBytes(outPath);
  outcome.err = ReadBytes(errPath);
  return outcome;
}

int64_t ModificationTime(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void SetOldModificationTime(const std::string& path) {
  timeval times[2] = {{946684800, 0}, {946684800, 0}};  // 2000-01-01
  utimes(path.c_str(), times);
}

bool MakeSymbolicLink(const std::string& target, const std::string& link) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

bool MakeHardLink(const std::string& target, const std::string& link) {
  return ::link(target.c_str(), link.c_str()) == 0;
}
