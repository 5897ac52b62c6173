// The console tool killed with SIGKILL at random moments while it converts a
// large file, again and again: whenever it dies, the file holds its old or its
// new content, whole, with its permissions; the files beside it are untouched;
// at most one temporary file is left over. And killed while it finds that
// another program wrote to the file during its conversion: what was written
// is never lost.
//
// QUENLAT_CRASH_SEED=N repeats a campaign's moments (the seed is printed);
// QUENLAT_CRASH_KILLS=N sets the number of kills.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "child_posix.h"
#include "run.h"
#include "support.h"

namespace {

const size_t kFileSize = size_t(100) << 20;
const int kDefaultKills = 100;
// The file that another program writes to: small enough to be written
// without a flush on the way (kBackgroundFlushBytes), so the first flush of
// a file's data is that of its whole new content.
const size_t kChangedFileSize = size_t(300) << 10;
const int kDefaultChangedKills = 40;
const mode_t kFileMode = 0640;  // not what a new file gets, so a lost mode shows
const char kName[] = "big.txt";

typedef std::chrono::steady_clock Clock;

// At least size bytes of printable lines of 20 to 68 characters (45 bytes a
// line on average) with CR-LF breaks, the same every time.
std::string CrLfLines(size_t size) {
  std::string text;
  text.reserve(size + 128);
  uint64_t state = 0x9e3779b97f4a7c15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  while (text.size() < size) {
    uint64_t r = next();
    size_t length = 20 + r % 49;
    for (size_t i = 0; i < length; ++i) {
      if (i % 8 == 0) r = next();
      text += static_cast<char>(' ' + (r >> (8 * (i % 8))) % 95);
    }
    text += "\r\n";
  }
  return text;
}

std::string WithoutCr(const std::string& crlf) {
  std::string lf;
  lf.reserve(crlf.size());
  for (char c : crlf) {
    if (c != '\r') lf += c;
  }
  return lf;
}

// Whether the file at path holds exactly these bytes.
bool Holds(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool same = fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == bytes.size();
  std::vector<char> buf(std::min<size_t>(4 << 20, bytes.size() + 1));
  for (size_t at = 0; same && at < bytes.size();) {
    ssize_t got = read(fd, buf.data(), buf.size());
    if (got <= 0 || static_cast<size_t>(got) > bytes.size() - at ||
        std::memcmp(buf.data(), bytes.data() + at, static_cast<size_t>(got)) != 0) {
      same = false;
    } else {
      at += static_cast<size_t>(got);
    }
  }
  close(fd);
  return same;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool OnTmpfs(const std::string& folder) {
  struct statfs fs;
  return statfs(folder.c_str(), &fs) == 0 &&
         (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
}

uint64_t Setting(const char* name, uint64_t fallback) {
  const char* value = getenv(name);
  return value && *value ? strtoull(value, nullptr, 10) : fallback;
}

// Kills the child seconds after from, and waits for it: its wait status.
int KillAfter(pid_t pid, Clock::time_point from, double seconds) {
  const Clock::time_point when =
      from + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
  timespec ts;
  ts.tv_sec = static_cast<time_t>(since.count() / 1000000000);
  ts.tv_nsec = static_cast<long>(since.count() % 1000000000);
  // steady_clock is CLOCK_MONOTONIC on Linux.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
  kill(pid, SIGKILL);
  return WaitChild(pid);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The median of the last few runs' times: the machine's load changes while a
// campaign goes on.
double RecentRun(const std::vector<double>& runs) {
  return Median(std::vector<double>(runs.end() - std::min<size_t>(runs.size(), 5), runs.end()));
}

// The campaign's seed, printed with its settings.
uint64_t CampaignSeed(int kills, const std::string& what) {
  const uint64_t seed = Setting("QUENLAT_CRASH_SEED", std::random_device()() ^
                                                          static_cast<uint64_t>(time(nullptr)));
  std::printf("crash campaign: QUENLAT_CRASH_SEED=%" PRIu64 ", %d kills, %s\n", seed, kills,
              what.c_str());
  std::fflush(stdout);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  return seed;
}

// Kills the child and waits for it, unless it was waited for already (pid
// then 0): a test that stops early leaves no tool stopped behind it.
struct ChildGuard {
  pid_t pid = 0;
  ~ChildGuard() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    WaitChild(pid);
  }
};

// The names made in a folder from when the object is made on.
class NewNames {
 public:
  explicit NewNames(const std::string& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0 && inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~NewNames() {
    if (fd_ >= 0) close(fd_);
  }
  NewNames(const NewNames&) = delete;
  NewNames& operator=(const NewNames&) = delete;

  // Waits until a name that starts with prefix is made, while the process
  // pid runs (it is not waited for) and for at most seconds. False when the
  // process ended first, the time ran out, or names cannot be watched here.
  bool WaitFor(const std::string& prefix, pid_t pid, double seconds) {
    const Clock::time_point end =
        Clock::now() +
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    alignas(inotify_event) char buf[64 * 1024];
    while (fd_ >= 0 && Clock::now() < end) {
      pollfd p = {fd_, POLLIN, 0};
      poll(&p, 1, 10);
      for (ssize_t got; (got = read(fd_, buf, sizeof buf)) > 0;) {
        for (ssize_t at = 0; at < got;) {
          const inotify_event* e = reinterpret_cast<const inotify_event*>(buf + at);
          if (e->len > 0 && std::string(e->name).compare(0, prefix.size(), prefix) == 0)
            return true;
          at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
      }
      siginfo_t info = {};
      if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid)
        return false;
    }
    return false;
  }

 private:
  int fd_;
};

struct Bystander {
  std::string name;
  std::string content;
  mode_t mode;
  int64_t time = 0;  // recorded once written
};

class CrashTest : public ::testing::Test {
 protected:
  // The folder of the file, on the disk of the build tree: a tmpfs would
  // neither flush nor take the time a disk takes.
  CrashTest() : scratch_(CurrentFolder()), file_(scratch_ / kName) {}

  void SetUp() override {
    ASSERT_FALSE(OnTmpfs(scratch_.path())) << scratch_.path() << " is not on a disk";
    bystanders_ = {{"notes.txt", "one\r\ntwo\r\n", 0644},
                   {"run.sh", "#!/bin/sh\necho hi\n", 0755},
                   {"empty", "", 0600},
                   {std::string(kName) + ".orig", "old\r\n", 0644}};
    for (Bystander& b : bystanders_) {
      WriteBytes(scratch_ / b.name, b.content);
      chmod((scratch_ / b.name).c_str(), b.mode);
      SetOldModificationTime(scratch_ / b.name);
      b.time = ModificationTime(scratch_ / b.name);
    }
  }

  // Gives the file these CR-LF lines, and what Inspect expects.
  void PutFile(const std::string& crlf) {
    formA_ = crlf;
    formB_ = WithoutCr(formA_);
    WriteBytes(file_, formA_);
    chmod(file_.c_str(), kFileMode);
    holdsA_ = true;
  }

  // Starts the tool on the file in the direction that changes it; the time
  // it started is in *started. With atDataFlush, the tool does that when it
  // flushes a file's data (see at_data_flush.c).
  pid_t Start(Clock::time_point* started, const std::string& atDataFlush = "") {
    std::vector<std::string> args = {holdsA_ ? "--to-lf" : "--to-crlf", kName};
    std::string program = QUENLAT_CLI;
    if (!atDataFlush.empty()) {
      args.insert(args.begin(), {"LD_PRELOAD=" QUENLAT_AT_DATA_FLUSH,
                                 "QUENLAT_AT_DATA_FLUSH=" + atDataFlush,
                                 "ASAN_OPTIONS=verify_asan_link_order=0", program});
      program = "/usr/bin/env";
    }
    pid_t pid = StartChild(program, args, scratch_.path(), "", errors_ / "err");
    *started = Clock::now();
    return pid;
  }

  // Checks the folder after a run that ended however it ended; *holdsA_
  // becomes what the file now holds, *tempLeft whether a temporary file or
  // folder was left (it is deleted).
  void Inspect(bool* tempLeft) {
    std::vector<std::string> expected = {kName};
    for (const Bystander& b : bystanders_) expected.push_back(b.name);
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> names = ListFolder(scratch_.path());
    std::vector<std::string> extra;
    std::set_difference(names.begin(), names.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    ASSERT_TRUE(std::includes(names.begin(), names.end(), expected.begin(), expected.end()))
        << "the file or a file beside it is gone";
    // A killed run may leave its temporary file, beside the file or in a
    // folder of temporary files ("tmp..." too); that folder may be left
    // empty beside the temporary file of a try made after it.
    int files = 0, folders = 0;
    for (const std::string& name : extra) {
      const std::string path = scratch_ / name;
      ASSERT_EQ(name.substr(0, 3), "tmp") << "left over: " << name;
      struct stat st;
      ASSERT_EQ(lstat(path.c_str(), &st), 0) << name;
      if (S_ISDIR(st.st_mode)) {
        ++folders;
        for (const std::string& inner : ListFolder(path)) {
          ASSERT_EQ(inner.substr(0, 3), "tmp") << "left over: " << name << "/" << inner;
          ASSERT_EQ(unlink((path + "/" + inner).c_str()), 0);
          ++files;
        }
        ASSERT_EQ(rmdir(path.c_str()), 0) << name;
      } else {
        ++files;
        ASSERT_EQ(unlink(path.c_str()), 0) << name;
      }
    }
    ASSERT_LE(files, 1) << "more than one temporary file left over";
    ASSERT_LE(folders, 1) << "more than one folder of temporary files left over";
    *tempLeft = !extra.empty();

    if (Holds(file_, formA_)) {
      holdsA_ = true;
    } else if (Holds(file_, formB_)) {
      holdsA_ = false;
    } else {
      FAIL() << "the file holds neither its old nor its new content (" << SizeOf(file_)
             << " bytes)";
    }
    ASSERT_EQ(ModeOf(file_), kFileMode) << "the file's permissions changed";
    for (const Bystander& b : bystanders_) {
      ASSERT_EQ(ReadBytes(scratch_ / b.name), b.content) << b.name;
      ASSERT_EQ(ModificationTime(scratch_ / b.name), b.time) << b.name;
      ASSERT_EQ(ModeOf(scratch_ / b.name), b.mode) << b.name;
    }
  }

  // Checks the folder after a run that ended with this wait status, started
  // when the file held its CR-LF form or not (wasA): a run that exited must
  // have converted it and left nothing, any other was killed. *finished
  // tells which, *tempLeft as Inspect.
  void InspectEnd(int status, bool wasA, bool* finished, bool* tempLeft) {
    Inspect(tempLeft);
    if (HasFailure()) return;
    *finished = WIFEXITED(status);
    if (*finished) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << ReadBytes(errors_ / "err");
      EXPECT_NE(holdsA_, wasA) << "a finished run did not convert the file";
      EXPECT_FALSE(*tempLeft) << "a finished run left a temporary file";
    } else {
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    }
  }

  // One run left alone: it must convert the file and leave nothing else.
  // Returns how long it took in seconds.
  double RunWhole() {
    const bool wasA = holdsA_;
    Clock::time_point started;
    pid_t pid = Start(&started);
    EXPECT_GT(pid, 0);
    int status = pid > 0 ? WaitChild(pid) : -1;
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadBytes(errors_ / "err");
    bool tempLeft = false;
    Inspect(&tempLeft);
    EXPECT_FALSE(tempLeft);
    EXPECT_NE(holdsA_, wasA) << "the file was not converted";
    return seconds;
  }

  ScratchDir scratch_;
  ScratchDir errors_;  // the tool's standard error, kept apart from its folder
  const std::string file_;
  std::string formA_;  // the file's CR-LF form
  std::string formB_;  // and its LF form
  bool holdsA_ = true;
  std::vector<Bystander> bystanders_;
};

TEST_F(CrashTest, KilledAtAnyMomentTheFileIsOldOrNewAndWhole) {
  PutFile(CrLfLines(kFileSize));
  const int kills = static_cast<int>(Setting("QUENLAT_CRASH_KILLS", kDefaultKills));
  const uint64_t seed = CampaignSeed(kills, std::to_string(formA_.size()) + "-byte file");
  std::mt19937_64 random(seed);

  // How long a whole run takes, measured again now and then: the machine's
  // load changes while the campaign goes on.
  std::vector<double> wholeRuns;
  for (int i = 0; i < 2; ++i) {
    wholeRuns.push_back(RunWhole());
    if (HasFailure()) return;
  }

  int landed = 0, old = 0, converted = 0, tempLeft = 0, finished = 0;
  for (int k = 0; k < kills; ++k) {
    if (k > 0 && k % 10 == 0) {
      wholeRuns.push_back(RunWhole());
      if (HasFailure()) return;
    }
    const double run = RecentRun(wholeRuns);
    // Half the kills anywhere in the run or a little after it; a quarter in
    // its first sixteenth, where the file is probed and scanned and the
    // temporary file made; a quarter about its end, where the file is
    // replaced and the folder flushed.
    double from = 0, to = 1.1 * run;
    if (k % 4 == 1) from = 0.75 * run;
    if (k % 4 == 3) to = run / 16;
    const double delay = std::uniform_real_distribution<double>(from, to)(random);
    SCOPED_TRACE("kill " + std::to_string(k) + " after " + std::to_string(delay) +
                 " s, seed " + std::to_string(seed));

    const bool wasA = holdsA_;
    Clock::time_point started;
    pid_t pid = Start(&started);
    ASSERT_GT(pid, 0);
    const int status = KillAfter(pid, started, delay);

    bool ended = false, left = false;
    InspectEnd(status, wasA, &ended, &left);
    if (HasFailure()) return;
    if (ended) {
      ++finished;
    } else {
      ++landed;
      if (holdsA_ == wasA) {
        ++old;
      } else {
        ++converted;
      }
      if (left) ++tempLeft;
    }
  }

  std::printf(
      "crash campaign: QUENLAT_CRASH_SEED=%" PRIu64 ": %d kills, a whole run %.3f s; "
      "%d landed during a run (old content %d, new content %d, temporary file left %d), "
      "%d after the run had finished\n",
      seed, kills, Median(wholeRuns), landed, old, converted, tempLeft, finished);
  EXPECT_GT(landed * 2, kills) << "most kills came after the run had ended";
  EXPECT_GT(old, 0) << "no kill found the file with its old content";
  EXPECT_GT(converted, 0) << "no kill found the file with its new content";
}


// The tool stopped where it flushes the new content of a file it has read
// whole; then another program appends a line to the file; then the tool goes
// on and is killed at a random moment, or is killed before it goes on, or
// finishes. The line is never lost: the file holds its old content with the
// line or the conversion of both, never the conversion of the old content
// alone; a run that finishes converted both.
TEST_F(CrashTest, KilledWhileTheFileIsWrittenToNothingWrittenIsLost) {
  const std::string before = CrLfLines(kChangedFileSize);
  const std::string line = "written meanwhile\r\n";
  const int kills = static_cast<int>(Setting("QUENLAT_CRASH_KILLS", kDefaultChangedKills));
  const uint64_t seed = CampaignSeed(kills, std::to_string(before.size()) + "-byte file");
  std::mt19937_64 random(seed);

  // How long the tool takes from going on to its end (the rest of the try
  // that finds the change, the next try, the replace), measured in the runs
  // left to finish. The start of a small file's run, before the stop, is
  // mostly the program's start.
  std::vector<double> rests;
  int whileStopped = 0, landed = 0, old = 0, converted = 0, finished = 0;
  for (int k = 0; k < kills; ++k) {
    // A fifth of the runs left to finish, the first among them; a fifth
    // killed before they go on; the others killed up to about twice that
    // rest's time after they went on.
    const bool letFinish = k % 5 == 0, killStopped = k % 5 == 1;
    const double delay =
        letFinish ? 0 : std::uniform_real_distribution<double>(0, 2 * RecentRun(rests))(random);
    SCOPED_TRACE("run " + std::to_string(k) +
                 (killStopped ? " killed while stopped"
                              : letFinish ? " left to finish"
                                          : " killed " + std::to_string(delay) +
                                                " s after it went on") +
                 ", seed " + std::to_string(seed));

    PutFile(before);
    Clock::time_point started;
    ChildGuard child;
    child.pid = Start(&started, "stop");
    ASSERT_GT(child.pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, WUNTRACED), child.pid);
    ASSERT_TRUE(WIFSTOPPED(status)) << "the tool never flushed the new content: status "
                                    << status << ", " << ReadBytes(errors_ / "err");
    // The stopped tool holds a read lease on the file where the system
    // grants one: an open for writing starts its break and then waits until
    // the tool, going on or killed, lets it go.
    int fd = open(file_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    const bool held = fd < 0 && errno == EWOULDBLOCK;
    if (held) kill(child.pid, killStopped ? SIGKILL : SIGCONT);
    if (held) fd = open(file_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0) << strerror(errno);
    EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    close(fd);
    formA_ = before + line;
    formB_ = WithoutCr(formA_);
    if (!killStopped && !held) kill(child.pid, SIGCONT);
    const Clock::time_point wentOn = Clock::now();
    status = letFinish ? WaitChild(child.pid)
                       : KillAfter(child.pid, wentOn, killStopped ? 0 : delay);
    child.pid = 0;
    if (letFinish) rests.push_back(std::chrono::duration<double>(Clock::now() - wentOn).count());

    bool ended = false, left = false;
    InspectEnd(status, true, &ended, &left);
    if (HasFailure()) return;
    if (ended) {
      ++finished;
    } else {
      ASSERT_FALSE(letFinish) << "status " << status;
      if (killStopped) {
        ++whileStopped;
        EXPECT_TRUE(holdsA_) << "the file was replaced before the tool went on";
      } else {
        ++landed;
        if (holdsA_) {
          ++old;
        } else {
          ++converted;
        }
      }
    }
  }

  std::printf(
      "crash campaign: QUENLAT_CRASH_SEED=%" PRIu64 ": %d runs, %.4f s from going on to the "
      "end; %d killed while stopped, %d killed after they went on (old content and the line %d, "
      "both converted %d), %d finished\n",
      seed, kills, Median(rests), whileStopped, landed, old, converted, finished);
}

// The tool converts 2,000 small files in one run, in batches, and is killed
// at random moments of it, again and again: whenever it dies, every file
// holds its old or its new content, whole, with its permissions; the files
// beside them are untouched; what is left over is at most two batches'
// temporary files. Then the same command, run again, converts the rest and
// leaves nothing, and the direction turns.
class ManyFilesCrashTest : public ::testing::Test {
 protected:
  static constexpr int kFiles = 2000;
  static constexpr size_t kMostLeftOver = 256;  // two batches of temporary files

  ManyFilesCrashTest() : scratch_(CurrentFolder()) {}

  void SetUp() override {
    ASSERT_FALSE(OnTmpfs(scratch_.path())) << scratch_.path() << " is not on a disk";
    const mode_t kModes[] = {0644, 0640, 0600};
    for (int i = 0; i < kFiles; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%04d.txt", i);
      File f;
      f.name = name;
      // 1 to 8 KiB, and each file its own.
      f.crlf = "file " + std::to_string(i) + "\r\n" + CrLfLines(1024 + (i * 7919) % 7169);
      f.lf = WithoutCr(f.crlf);
      f.mode = kModes[i % 3];
      WriteBytes(scratch_ / f.name, f.crlf);
      chmod((scratch_ / f.name).c_str(), f.mode);
      names_.push_back(f.name);
      files_.push_back(std::move(f));
    }
    bystanders_ = {{"notes.md", "one\r\ntwo\r\n", 0644}, {"tmp.keep", "mine\r\n", 0600}};
    for (Bystander& b : bystanders_) {
      WriteBytes(scratch_ / b.name, b.content);
      chmod((scratch_ / b.name).c_str(), b.mode);
      SetOldModificationTime(scratch_ / b.name);
      b.time = ModificationTime(scratch_ / b.name);
    }
  }

  pid_t Start(Clock::time_point* started) {
    std::vector<std::string> args = {toLf_ ? "--to-lf" : "--to-crlf", "--quiet"};
    args.insert(args.end(), names_.begin(), names_.end());
    pid_t pid = StartChild(QUENLAT_CLI, args, scratch_.path(), "", errors_ / "err");
    *started = Clock::now();
    return pid;
  }

  // Checks the folder after a run that ended however it ended: *converted
  // gets how many files hold the form of the run's direction, *leftOver how
  // many temporary files were left (they are deleted).
  void Inspect(int* converted, size_t* leftOver) {
    std::vector<std::string> expected = names_;
    for (const Bystander& b : bystanders_) expected.push_back(b.name);
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> names = ListFolder(scratch_.path());
    std::vector<std::string> extra;
    std::set_difference(names.begin(), names.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    ASSERT_TRUE(std::includes(names.begin(), names.end(), expected.begin(), expected.end()))
        << "a file or a file beside them is gone";
    for (const std::string& name : extra) {
      ASSERT_EQ(name.substr(0, 3), "tmp") << "left over: " << name;
      ASSERT_EQ(unlink((scratch_ / name).c_str()), 0) << name << " is not a file";
    }
    ASSERT_LE(extra.size(), kMostLeftOver) << "more than two batches' temporary files left over";
    *leftOver = extra.size();

    *converted = 0;
    for (const File& f : files_) {
      const std::string path = scratch_ / f.name;
      const bool lf = Holds(path, f.lf);
      ASSERT_TRUE(lf || Holds(path, f.crlf))
          << f.name << " holds neither its old nor its new content (" << SizeOf(path)
          << " bytes)";
      ASSERT_EQ(ModeOf(path), f.mode) << f.name << "'s permissions changed";
      if (lf == toLf_) ++*converted;
    }
    for (const Bystander& b : bystanders_) {
      ASSERT_EQ(ReadBytes(scratch_ / b.name), b.content) << b.name;
      ASSERT_EQ(ModificationTime(scratch_ / b.name), b.time) << b.name;
      ASSERT_EQ(ModeOf(scratch_ / b.name), b.mode) << b.name;
    }
  }

  // One run left alone: it converts every file that is not yet converted and
  // leaves nothing; the direction then turns. How long it took, in seconds.
  double RunWhole() {
    Clock::time_point started;
    pid_t pid = Start(&started);
    EXPECT_GT(pid, 0);
    int status = pid > 0 ? WaitChild(pid) : -1;
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadBytes(errors_ / "err");
    int converted = 0;
    size_t leftOver = 0;
    Inspect(&converted, &leftOver);
    EXPECT_EQ(converted, kFiles);
    EXPECT_EQ(leftOver, 0u);
    toLf_ = !toLf_;
    return seconds;
  }

  struct File {
    std::string name, crlf, lf;
    mode_t mode;
  };

  ScratchDir scratch_;
  ScratchDir errors_;
  std::vector<File> files_;
  std::vector<std::string> names_;
  std::vector<Bystander> bystanders_;
  bool toLf_ = true;  // the direction of the next run
};

TEST_F(ManyFilesCrashTest, KilledAtAnyMomentEveryFileIsOldOrNewAndWhole) {
  const int kills = static_cast<int>(Setting("QUENLAT_CRASH_KILLS", 30));
  const uint64_t seed = CampaignSeed(kills, std::to_string(kFiles) + " files of 1 to 8 KiB");
  std::mt19937_64 random(seed);

  std::vector<double> wholeRuns;
  for (int i = 0; i < 2; ++i) {
    wholeRuns.push_back(RunWhole());
    if (HasFailure()) return;
  }

  // Each kill is aimed from the moment the run makes its first temporary
  // file, when its work on the files has begun: how long a run takes to get
  // there, and then to end, varies with the machine's load. A kill that came
  // after the run had ended is not counted, and the next ones are aimed
  // earlier.
  int landed = 0, partly = 0, finished = 0;
  size_t mostLeftOver = 0;
  double reach = 1.1;  // of the rest of a whole run, after its first temporary file
  for (int k = 0; landed < kills && k < 3 * kills; ++k) {
    if (k > 0 && k % 10 == 0) {
      wholeRuns.push_back(RunWhole());
      if (HasFailure()) return;
    }
    const double run = RecentRun(wholeRuns);
    Clock::time_point started;
    ChildGuard child;
    NewNames made(scratch_.path());
    child.pid = Start(&started);
    ASSERT_GT(child.pid, 0);
    Clock::time_point from = started;
    if (made.WaitFor("tmp", child.pid, 10 * run)) from = Clock::now();
    const double rest =
        std::max(0.0, run - std::chrono::duration<double>(from - started).count()) * reach;
    // Three kills in four anywhere in the rest of a run or a little after
    // it, the fourth about its end, where the last batches are flushed and
    // replaced.
    const double delay =
        std::uniform_real_distribution<double>(k % 4 == 1 ? 0.7 * rest : 0, rest)(random);
    SCOPED_TRACE("kill " + std::to_string(k) + " " + std::to_string(delay) +
                 " s after the first temporary file, seed " + std::to_string(seed));
    const int status = KillAfter(child.pid, from, delay);
    child.pid = 0;

    int converted = 0;
    size_t leftOver = 0;
    Inspect(&converted, &leftOver);
    if (HasFailure()) return;
    mostLeftOver = std::max(mostLeftOver, leftOver);
    if (WIFEXITED(status)) {
      ++finished;
      EXPECT_EQ(WEXITSTATUS(status), 0) << ReadBytes(errors_ / "err");
      EXPECT_EQ(converted, kFiles) << "a finished run left files unconverted";
      EXPECT_EQ(leftOver, 0u) << "a finished run left temporary files";
      toLf_ = !toLf_;
      reach *= 0.8;
    } else {
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
      ++landed;
      if (converted > 0 && converted < kFiles) ++partly;
      RunWhole();
      if (HasFailure()) return;
    }
  }

  std::printf(
      "crash campaign: QUENLAT_CRASH_SEED=%" PRIu64 ": %d kills, a whole run of %d files "
      "%.3f s; %d landed during a run (%d with some files converted and some not, at most %zu "
      "temporary files left), %d after the run had finished\n",
      seed, kills, kFiles, Median(wholeRuns), landed, partly, mostLeftOver, finished);
  EXPECT_EQ(landed, kills) << "too many kills came after the run had ended";
  EXPECT_GT(partly, 0) << "no kill came between the first file converted and the last";
}

// The tool interrupted while a batch of files waits for its flush: it dies
// of the signal it was sent, and leaves no temporary file; each file holds
// its old or its new content. A file of another user gets a named
// temporary file from its start (root only), which the tool deletes as it
// dies; the others have no name yet.
TEST(InterruptTest, InterruptedBatchLeavesNoTemporaryFile) {
  const struct {
    int signal;
    uid_t owner;  // 0: the files are this process's
  } kCases[] = {{SIGINT, 0}, {SIGTERM, 0}, {SIGHUP, 65534}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.owner ? ", another user's files" : ""));
    if (c.owner != 0 && geteuid() != 0) continue;  // only root gives files away
    ScratchDir scratch(CurrentFolder());
    std::vector<std::string> args = {"LD_PRELOAD=" QUENLAT_AT_DATA_FLUSH,
                                     "QUENLAT_AT_DATA_FLUSH=stop",
                                     "ASAN_OPTIONS=verify_asan_link_order=0", QUENLAT_CLI, "--to-lf"};
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
      names.push_back("f" + std::to_string(i) + ".txt");
      WriteBytes(scratch / names.back(), "a\r\n");
      if (c.owner != 0) {
        ASSERT_EQ(chmod((scratch / names.back()).c_str(), 0666), 0);
        ASSERT_EQ(chown((scratch / names.back()).c_str(), c.owner, c.owner), 0);
      }
      args.push_back(names.back());
    }
    ChildGuard child;
    child.pid = StartChild("/usr/bin/env", args, scratch.path(), "", "");
    ASSERT_GT(child.pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, WUNTRACED), child.pid);
    ASSERT_TRUE(WIFSTOPPED(status)) << "the tool never flushed: status " << status;
    kill(child.pid, c.signal);
    kill(child.pid, SIGCONT);
    status = WaitChild(child.pid);
    child.pid = 0;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "status " << status;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(ListFolder(scratch.path()), names);
    for (const std::string& name : names) {
      const std::string now = ReadBytes(scratch / name);
      EXPECT_TRUE(now == "a\r\n" || now == "a\n") << name;
    }
  }
}

}  // namespace
