#include "child_posix.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace {

int OpenOutput(const std::string& path) {
  return open(path.empty() ? "/dev/null" : path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
}

}  // namespace

pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                 const std::string& cwd, const std::string& outPath, const std::string& errPath,
                 int input) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // The child writes its error number here when it cannot start the program;
  // a successful exec closes the pipe empty.
  int started[2];
  if (pipe2(started, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid < 0) {
    close(started[0]);
    close(started[1]);
    return -1;
  }
  if (pid > 0) {
    close(started[1]);
    int error = 0;
    ssize_t got;
    do {
      got = read(started[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(started[0]);
    if (got == 0) return pid;
    WaitChild(pid);
    return -1;
  }

  // Only async-signal-safe calls from here on.
  close(started[0]);
  int in = input >= 0 ? input : open("/dev/null", O_RDONLY);
  int out = OpenOutput(outPath);
  int err = OpenOutput(errPath);
  if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) {
    int error = errno;
    (void)!write(started[1], &error, sizeof error);
    _exit(127);
  }
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  // A program that root starts gets every capability of the bounding set
  // back, so the override goes from that set; without root this fails and
  // changes nothing.
  prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
  prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
  prctl(PR_CAPBSET_DROP, CAP_FOWNER, 0, 0, 0);
  execv(program.c_str(), argv.data());
  int error = errno;
  (void)!write(started[1], &error, sizeof error);
  _exit(127);
}

int WaitChild(pid_t pid) {
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, 0) == pid) return status;
    if (errno != EINTR) return -1;
  }
}
