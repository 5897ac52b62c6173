// The built quenlat-cli, run as a separate process in a scratch folder: its
// conversions, texts on both streams, exit statuses and what it leaves on disk.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_posix.h"
#endif

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "run.h"
#include "support.h"
#include "version.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Files;  // name, content

struct CliCase {
  const char* name;
  Files before;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
  Files after;  // files whose content must then be this
};

const std::string kTryHelp =
    "Usage: quenlat-cli [--auto | --to-crlf | --to-lf] [OPTION]... [--] [FILE]...\n"
    "Try 'quenlat-cli --help' for more.\n";
const std::string kMissing = "File or directory does not exist";
const std::string kFolder = "This is a folder; --recursive converts the files in it";
const std::string kSkipped = "binary file skipped; --force converts it";
// A PNG's first bytes: CR, LF, 0x1A and NUL bytes.
const std::string kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);

// A text file of about size bytes whose only NUL byte is its last, well
// past the first block the tool reads to decide what to do.
std::string NulAtTheEnd(size_t size) {
  std::string text = "x\r\n";
  while (text.size() < size) text += "a line of text\r\n";
  return text + std::string(1, '\0');
}

const CliCase kCases[] = {
    {"automatic_toggles_each_file",
     {{"lf.txt", "a\nb\n"}, {"crlf.txt", "a\r\nb\r\n"}},
     {"lf.txt", "crlf.txt"}, 0, "2 files converted.\n", "",
     {{"lf.txt", "a\r\nb\r\n"}, {"crlf.txt", "a\nb\n"}}},
    // The first CR decides, however far after a lone LF it comes.
    {"automatic_first_cr_after_a_lone_lf",
     {{"f", "x\n" + std::string(1000, 'y') + "\r\nz\n"}}, {"f"}, 0, "1 files converted.\n", "",
     {{"f", "x\n" + std::string(1000, 'y') + "\nz\n"}}},
    {"to_crlf_never_doubles_a_cr",
     {{"f", "x\r\ny\nz\r"}}, {"--to-crlf", "f"}, 0, "1 files converted.\n", "",
     {{"f", "x\r\ny\r\nz\r"}}},
    {"to_lf_keeps_what_follows_0x1a",
     {{"f", "a\x1a" "b\r\nc\r\n\x1a"}}, {"--to-lf", "f"}, 0, "1 files converted.\n", "",
     {{"f", "a\x1a" "b\nc\n"}}},
    {"last_mode_wins",
     {{"f", "a\r\nb\n"}}, {"--to-lf", "--auto", "--to-crlf", "f"}, 0, "1 files converted.\n", "",
     {{"f", "a\r\nb\r\n"}}},
    {"quiet_prints_no_summary",
     {{"f", "a\n"}}, {"f", "--quiet"}, 0, "", "", {{"f", "a\r\n"}}},
    {"empty_file", {{"f", ""}}, {"f"}, 0, "1 files converted.\n", "", {{"f", ""}}},
    {"failure_in_the_middle_stops_nothing",
     {{"a", "1\n"}, {"c", "3\n"}}, {"--to-crlf", "a", "missing", "c"}, 1,
     "2 files converted.\n",
     "quenlat-cli: missing: " + kMissing + "\n1 failed.\n",
     {{"a", "1\r\n"}, {"c", "3\r\n"}}},
    {"quiet_keeps_errors",
     {}, {"--quiet", "x", "y"}, 1, "",
     "quenlat-cli: x: " + kMissing + "\nquenlat-cli: y: " + kMissing + "\n2 failed.\n",
     {}},
    // Once a file's folder is current, a later relative path still means the
    // folder where the run started.
    {"relative_paths_keep_their_meaning",
     {{"d1/f.txt", "one\n"}, {"d2/f.txt", "two\n"}}, {"d1/f.txt", "d2/f.txt"}, 0,
     "2 files converted.\n", "", {{"d1/f.txt", "one\r\n"}, {"d2/f.txt", "two\r\n"}}},
    {"double_dash_ends_the_options",
     {{"-x", "a\n"}, {"--to-lf", "b\n"}}, {"--to-crlf", "--", "-x", "--to-lf"}, 0,
     "2 files converted.\n", "", {{"-x", "a\r\n"}, {"--to-lf", "b\r\n"}}},
    {"a_file_named_dash_by_its_path",
     {{"-", "a\n"}}, {"./-"}, 0, "1 files converted.\n", "", {{"-", "a\r\n"}}},

    // One conversion per file: in automatic mode a second one would undo it.
    {"same_file_by_two_names",
     {{"a.txt", "x\n"}, {"d/b.txt", "y\r\n"}}, {"a.txt", "./a.txt", "d/b.txt", "d/../a.txt"}, 0,
     "4 files converted.\n",
     "quenlat-cli: ./a.txt: already done (the same file as a.txt)\n"
     "quenlat-cli: d/../a.txt: already done (the same file as a.txt)\n",
     {{"a.txt", "x\r\n"}, {"d/b.txt", "y\n"}}},
    // The walk reads the folder only once the file named before it is
    // done: it meets no temporary file, nor a folder of them, of that file.
    {"file_named_before_its_folder_is_walked",
     {{"d/a", "1\n"}, {"d/b", "2\n"}}, {"--to-crlf", "d/a", "-r", "d/"}, 0,
     "3 files converted.\n", "quenlat-cli: d/a: already done (the same file as d/a)\n",
     {{"d/a", "1\r\n"}, {"d/b", "2\r\n"}}},
    {"same_name_in_two_folders",
     {{"d1/f", "1\n"}, {"d2/f", "2\n"}}, {"d1/f", "d2/f", "d1/f"}, 0, "3 files converted.\n",
     "quenlat-cli: d1/f: already done (the same file as d1/f)\n",
     {{"d1/f", "1\r\n"}, {"d2/f", "2\r\n"}}},

    {"binary_file_is_skipped",
     {{"p.png", kPng}, {"t", "a\n"}}, {"p.png", "t"}, 0, "1 files converted. 1 skipped.\n",
     "quenlat-cli: p.png: " + kSkipped + "\n", {{"p.png", kPng}, {"t", "a\r\n"}}},
    {"a_nul_anywhere_makes_a_file_binary",
     {{"late", std::string(300000, 'a') + "\r\n" + std::string(1, '\0')}},
     {"--to-lf", "late"}, 0, "0 files converted. 1 skipped.\n",
     "quenlat-cli: late: " + kSkipped + "\n",
     {{"late", std::string(300000, 'a') + "\r\n" + std::string(1, '\0')}}},
    // Found while the new content is written: it is dropped, in a batch and
    // alone (a file too large for a batch).
    {"a_nul_after_the_first_block_makes_a_file_binary",
     {{"late", NulAtTheEnd(3 << 19)}, {"big", NulAtTheEnd(9 << 20)}, {"t", "a\r\n"}},
     {"--to-lf", "late", "big", "t"}, 0, "1 files converted. 2 skipped.\n",
     "quenlat-cli: late: " + kSkipped + "\nquenlat-cli: big: " + kSkipped + "\n",
     {{"late", NulAtTheEnd(3 << 19)}, {"big", NulAtTheEnd(9 << 20)}, {"t", "a\n"}}},
    {"binary_file_that_would_not_change_is_skipped_too",
     {{"z", std::string("a\0b", 3)}}, {"z"}, 0, "0 files converted. 1 skipped.\n",
     "quenlat-cli: z: " + kSkipped + "\n", {}},
    {"force_converts_a_binary_file",
     {{"p.png", kPng}}, {"--force", "--to-lf", "p.png"}, 0, "1 files converted.\n", "",
     {{"p.png", std::string("\x89PNG\n\x1a\n\0\0\0\rIHDR", 15)}}},
    {"check_marks_a_binary_file",
     {{"p.png", kPng}}, {"--check", "p.png"}, 0,
     "p.png: 1 CR-LF, 1 LF, 1 CR, 0x1A yes, NUL yes: binary\n", "", {}},
    {"check_with_force_tells_the_change",
     {{"p.png", kPng}}, {"--check", "--force", "p.png"}, 1,
     "p.png: 1 CR-LF, 1 LF, 1 CR, 0x1A yes, NUL yes: to LF\n", "", {}},

    {"files_from_a_list_after_the_arguments",
     {{"a", "1\n"}, {"b c", "2\n"}, {"d", "3\n"}, {"list", "b c\r\n\nd\n"}},
     {"--check", "--files-from", "list", "a"}, 1,
     "a: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n"
     "b c: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n"
     "d: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n", "", {}},
    {"files_from_a_list_of_nul_terminated_names",
     {{"a b", "1\n"}, {"b", "2\n"}, {"list", std::string("a b\0b\0", 6)}},
     {"--to-crlf", "-0", "--files-from=list"}, 0, "2 files converted.\n", "",
     {{"a b", "1\r\n"}, {"b", "2\r\n"}}},
#ifndef _WIN32
    // Such a name is taken whole: a line break, a CR and a blank at its end
    // are part of it. The names a split or a trim would make are decoys.
    {"nul_terminated_names_keep_breaks_and_blanks",
     {{"a\nb", "1\n"}, {"c\r", "2\n"}, {"d ", "3\n"},
      {"a", "x\n"}, {"b", "x\n"}, {"c", "x\n"}, {"d", "x\n"},
      {"list", std::string("a\nb\0c\r\0d \0", 10)}},
     {"--to-crlf", "-0", "--files-from", "list"}, 0, "3 files converted.\n", "",
     {{"a\nb", "1\r\n"}, {"c\r", "2\r\n"}, {"d ", "3\r\n"},
      {"a", "x\n"}, {"b", "x\n"}, {"c", "x\n"}, {"d", "x\n"}}},
#endif
    {"files_from_a_missing_list_converts_nothing",
     {{"a", "1\n"}}, {"a", "--files-from", "none"}, 1, "",
     "quenlat-cli: none: " + kMissing + "\n", {{"a", "1\n"}}},
    {"files_from_needs_a_name", {{"a", "1\n"}}, {"a", "--files-from"}, 2, "",
     "quenlat-cli: option '--files-from' needs a file\n" + kTryHelp, {{"a", "1\n"}}},
    {"dash_with_other_files", {{"a", "1\n"}}, {"a", "-"}, 2, "",
     "quenlat-cli: '-' (standard input) cannot be given with other files\n" + kTryHelp,
     {{"a", "1\n"}}},

    {"check_lists_counts_and_changes_nothing",
     {{"lf", "a\nb\n"}, {"crlf", "a\r\nb\r\n"}, {"odd", std::string("\r\0x\r\n\x1a\n", 7)}},
     {"--check", "lf", "crlf", "odd"}, 1,
     "lf: 0 CR-LF, 2 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n"
     "crlf: 2 CR-LF, 0 LF, 0 CR, 0x1A no, NUL no: to LF\n"
     "odd: 1 CR-LF, 1 LF, 1 CR, 0x1A yes, NUL yes: binary\n",
     "", {{"lf", "a\nb\n"}, {"crlf", "a\r\nb\r\n"}, {"odd", std::string("\r\0x\r\n\x1a\n", 7)}}},
    {"check_passes_when_nothing_would_change",
     {{"lf", "a\nb\n"}, {"plain", "abc"}}, {"--to-lf", "--check", "lf", "plain"}, 0,
     "lf: 0 CR-LF, 2 LF, 0 CR, 0x1A no, NUL no: unchanged\n"
     "plain: 0 CR-LF, 0 LF, 0 CR, 0x1A no, NUL no: unchanged\n",
     "", {}},
    // UTF-16 with its mark: counted and converted in units, named by --check.
    {"check_names_utf16",
     {{"le", std::string("\xFF\xFE" "a\0\r\0\n\0", 8)}, {"be", std::string("\xFE\xFF\0\n", 4)}},
     {"--check", "le", "be"}, 1,
     "le: UTF-16LE, 1 CR-LF, 0 LF, 0 CR, 0x1A no, NUL no: to LF\n"
     "be: UTF-16BE, 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n",
     "", {}},
    {"utf16_converted_in_units",
     {{"le", std::string("\xFF\xFE\x0D\x0A\n\0", 6)}}, {"le"}, 0, "1 files converted.\n", "",
     {{"le", std::string("\xFF\xFE\x0D\x0A\r\0\n\0", 8)}}},
    {"check_sees_a_final_0x1a",
     {{"f", "a\x1a"}}, {"--check", "--to-lf", "f"}, 1,
     "f: 0 CR-LF, 0 LF, 0 CR, 0x1A yes, NUL no: to LF\n", "", {{"f", "a\x1a"}}},
    {"check_reports_a_folder",
     {{"d/f", "x\n"}}, {"--check", "d"}, 1, "",
     "quenlat-cli: d: " + kFolder + "\n1 failed.\n", {{"d/f", "x\n"}}},
    {"a_folder_without_recursive_is_refused",
     {{"d/f", "x\n"}}, {"d"}, 1, "0 files converted.\n",
     "quenlat-cli: d: " + kFolder + "\n1 failed.\n", {{"d/f", "x\n"}}},
    {"check_reports_a_missing_file",
     {{"lf", "a\n"}}, {"--check", "--to-crlf", "none", "lf"}, 1,
     "lf: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n",
     "quenlat-cli: none: File or directory does not exist\n1 failed.\n", {}},

    {"unknown_option", {{"f", "a\n"}}, {"--to-unix", "f"}, 2, "",
     "quenlat-cli: unknown option '--to-unix'\n" + kTryHelp, {{"f", "a\n"}}},
    {"short_option_is_unknown", {{"f", "a\n"}}, {"f", "-q"}, 2, "",
     "quenlat-cli: unknown option '-q'\n" + kTryHelp, {{"f", "a\n"}}},
    // Standard input is no terminal here: the tool is a filter of no bytes.
    {"no_files_filters_standard_input", {{"f", "a\n"}}, {"--to-lf"}, 0, "", "", {{"f", "a\n"}}},
};

std::string ConsoleText(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') {
      result += kConsoleNewline;
    } else {
      result += c;
    }
  }
  return result;
}

Outcome RunIn(const ScratchDir& folder, const std::vector<std::string>& args) {
  return RunProgram(HostPath(QUENLAT_CLI), args, folder.path());
}

void Put(const ScratchDir& folder, const std::string& name, const std::string& content) {
  size_t slash = name.find('/');
  if (slash != std::string::npos) MakeFolder(folder / name.substr(0, slash));
  WriteBytes(folder / name, content);
}

TEST(Cli, Table) {
  for (const CliCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir folder;
    for (const auto& f : c.before) Put(folder, f.first, f.second);
    Outcome outcome = RunIn(folder, c.args);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.out, ConsoleText(c.out));
    EXPECT_EQ(outcome.err, ConsoleText(c.err));
    for (const auto& f : c.after) EXPECT_EQ(ReadBytes(folder / f.first), f.second) << f.first;
    for (const std::string& name : ListFolder(folder.path())) {
      EXPECT_NE(name.substr(0, 3), "tmp") << "a temporary file was left behind";
    }
  }
}

class CliTest : public ::testing::Test {
 protected:
  Outcome Run(const std::vector<std::string>& args) { return RunIn(scratch_, args); }
  void Put(const std::string& name, const std::string& content) {
    ::Put(scratch_, name, content);
  }

  ScratchDir scratch_;
};

TEST_F(CliTest, HelpAndVersion) {
  Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.substr(0, 28), "Usage: quenlat-cli [--auto |");
  EXPECT_NE(help.out.find("--check"), std::string::npos);
  EXPECT_EQ(help.err, "");

  Outcome version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, ConsoleText("quenlat-cli (" QUENLAT_PRODUCT_NAME ") " QUENLAT_PRODUCT_VERSION
                                     "\n" QUENLAT_COPYRIGHT "\n"));
}

TEST_F(CliTest, UnchangedFileKeepsItsTime) {
  Put("lf.txt", "a\nb\n");
  Put("crlf.txt", "a\r\nb\r\n");
  SetOldModificationTime(scratch_ / "lf.txt");
  SetOldModificationTime(scratch_ / "crlf.txt");
  const int64_t old = ModificationTime(scratch_ / "lf.txt");

  Outcome outcome = Run({"--to-lf", "lf.txt", "crlf.txt"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, ConsoleText("2 files converted.\n"));
  EXPECT_EQ(ModificationTime(scratch_ / "lf.txt"), old);
  EXPECT_NE(ModificationTime(scratch_ / "crlf.txt"), old);  // this one was rewritten
  EXPECT_EQ(ReadBytes(scratch_ / "crlf.txt"), "a\nb\n");
}

#ifndef _WIN32
// A binary file that may not be written is skipped, not refused, also when
// its NUL byte comes after the first block the tool reads: the rest is read
// for one before the refusal is reported.
TEST_F(CliTest, ABinaryFileThatMayNotBeWrittenIsSkipped) {
  const std::string content = NulAtTheEnd(3 << 19);
  Put("late", content);
  const std::string path = scratch_ / "late";
  // Read-only for a user; immutable for root, whom the bits do not stop.
  int flags = 0;
  bool immutable = false;
  if (!MakeReadOnly(path)) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    immutable = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                ioctl(fd, FS_IOC_SETFLAGS, &(flags |= FS_IMMUTABLE_FL)) == 0;
    close(fd);
    if (!immutable) GTEST_SKIP() << "cannot make a file that may not be written here";
  }
  Outcome outcome = Run({"--to-lf", "late"});
  if (immutable) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    flags &= ~FS_IMMUTABLE_FL;
    if (fd >= 0) (void)ioctl(fd, FS_IOC_SETFLAGS, &flags), close(fd);
  }
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "0 files converted. 1 skipped.\n");
  EXPECT_EQ(outcome.err, "quenlat-cli: late: " + kSkipped + "\n");
  EXPECT_TRUE(ReadBytes(path) == content);
}

// A file that keeps its content is never opened for writing, not even to see
// whether it could be: programs that watch files would take that for a save.
TEST_F(CliTest, NothingThatStaysIsOpenedForWriting) {
  Put("lf.txt", "a\nb\n");
  Put("crlf.txt", "a\r\nb\r\n");
  const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watcher, 0);
  ASSERT_GE(inotify_add_watch(watcher, (scratch_ / "lf.txt").c_str(), IN_CLOSE_WRITE | IN_MODIFY), 0);
  ASSERT_GE(inotify_add_watch(watcher, (scratch_ / "crlf.txt").c_str(), IN_CLOSE_WRITE | IN_MODIFY),
            0);

  EXPECT_EQ(Run({"--to-lf", "lf.txt"}).status, 0);
  EXPECT_EQ(Run({"--check", "--to-lf", "crlf.txt"}).status, 1);  // it would change
  char events[4096];
  EXPECT_EQ(read(watcher, events, sizeof events), -1) << "a file was opened for writing";
  close(watcher);
  EXPECT_EQ(ReadBytes(scratch_ / "crlf.txt"), "a\r\nb\r\n");
}
#endif

// A link is followed: its target is checked and converted in its own folder,
// and the link stays a link.
TEST_F(CliTest, SymbolicLinkIsFollowed) {
  MakeFolder(scratch_ / "real");
  Put("real/t.txt", "a\r\n");
  if (!MakeSymbolicLink("real/t.txt", scratch_ / "link.txt")) GTEST_SKIP() << "no symbolic links";
  Outcome check = Run({"--check", "link.txt"});
  EXPECT_EQ(check.out, "link.txt: 1 CR-LF, 0 LF, 0 CR, 0x1A no, NUL no: to LF\n");
  Outcome outcome = Run({"link.txt"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(ReadBytes(scratch_ / "real/t.txt"), "a\n");
  EXPECT_EQ(ListFolder(scratch_.path()), (std::vector<std::string>{"link.txt", "real"}));
  EXPECT_EQ(ListFolder(scratch_ / "real"), std::vector<std::string>{"t.txt"});
}

// What is not a regular file gets its own reason, in a conversion and in a
// check, and the run goes on with the next file.
TEST_F(CliTest, SpecialFilesAreNotRegularFiles) {
#ifdef _WIN32
  const std::vector<std::string> special = {"NUL", "con.txt", "sub\\COM1", "\\\\.\\C:"};
#else
  // Made here, never the system's own devices: a fault must not harm the machine.
  const std::vector<SpecialFile> made = MakeSpecialFiles(scratch_.path());
  std::vector<std::string> special;
  for (const SpecialFile& m : made) special.push_back(m.name);
  if (special.empty()) GTEST_SKIP() << "no special file could be made";
#endif
  Put("ok.txt", "a\n");
  for (bool check : {true, false}) {
    SCOPED_TRACE(check ? "check" : "convert");
    std::vector<std::string> args = {"--to-crlf"};
    if (check) args.push_back("--check");
    std::string err;
    for (const std::string& path : special) {
      args.push_back(path);
      err += "quenlat-cli: " + path + ": This is not a regular file\n";
    }
    args.push_back("ok.txt");
    err += std::to_string(special.size()) + " failed.\n";
    Outcome outcome = Run(args);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, ConsoleText(err));
    EXPECT_EQ(outcome.out, ConsoleText(check ? "ok.txt: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n"
                                             : "1 files converted.\n"));
  }
  EXPECT_EQ(ReadBytes(scratch_ / "ok.txt"), "a\r\n");
#ifndef _WIN32
  for (const SpecialFile& m : made) EXPECT_EQ(FileTypeOf(scratch_ / m.name), m.type) << m.name;
#endif
}

#ifndef _WIN32
// A relative path never names a file outside the folder the run started in:
// not when that folder was removed before the run (then it names nothing),
// nor when its path is longer than the system's limit (then it still names
// the file there).
TEST_F(CliTest, RelativePathsWithoutTheStartupFolderName) {
  const std::string name = "quenlat-decoy-" + std::to_string(getpid()) + ".txt";
  const std::string decoy = "/" + name;
  WriteBytes(decoy, "a\n");
  if (ReadBytes(decoy) != "a\n") GTEST_SKIP() << "cannot write " << decoy;
  MakeFolder(scratch_ / "start");
  Outcome removed = RunProgram(
      "/bin/sh", {"-c", "cd \"$1\" && rmdir \"$1\" && exec \"$2\" --to-crlf \"$3\"", "sh",
                  scratch_ / "start", HostPath(QUENLAT_CLI), name},
      scratch_.path());
  const std::string decoyAfter = ReadBytes(decoy);
  unlink(decoy.c_str());
  EXPECT_EQ(decoyAfter, "a\n");
  EXPECT_EQ(removed.status, 1);
  EXPECT_EQ(removed.out, "0 files converted.\n");
  EXPECT_EQ(removed.err, "quenlat-cli: " + name + ": File or directory does not exist\n1 failed.\n");

  // 25 folders of 200 characters below the scratch folder: more than PATH_MAX.
  // This process makes them and enters each in turn, then comes back.
  const std::string saved = CurrentFolder();
  EnterFolder(scratch_.path());
  const std::string level(200, 'd');
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(mkdir(level.c_str(), 0700), 0);
    ASSERT_EQ(chdir(level.c_str()), 0);
  }
  WriteBytes("f.txt", "a\n");
  Outcome deep = RunProgram("/bin/sh", {"-c", "\"$1\" --to-crlf f.txt && exec \"$1\" --check f.txt",
                                        "sh", HostPath(QUENLAT_CLI)}, ".");
  const std::string deepAfter = ReadBytes("f.txt");
  EnterFolder(saved);
  RunProgram("/bin/rm", {"-rf", level}, scratch_.path());
  EXPECT_EQ(deepAfter, "a\r\n");
  EXPECT_EQ(deep.out, "1 files converted.\nf.txt: 1 CR-LF, 0 LF, 0 CR, 0x1A no, NUL no: to LF\n");
  EXPECT_EQ(deep.err, "");
  EXPECT_EQ(deep.status, 1);  // the check: the file would change back
}

// Writes all of bytes to the descriptor fd; false when it cannot.
bool WriteAll(int fd, const std::string& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const ssize_t w = write(fd, bytes.data() + at, bytes.size() - at);
    if (w <= 0) return false;
    at += static_cast<size_t>(w);
  }
  return true;
}

// The start-up folder renamed while the tool runs, and a decoy folder made
// under its old name: the names read after that still mean the files of the
// folder the run started in, never the decoy's.
TEST_F(CliTest, StartupFolderRenamedWithADecoyInItsPlace) {
  Put("start/first.txt", "1\n");
  Put("start/f.txt", "a\n");
  ScratchDir capture;
  int feed[2];
  ASSERT_EQ(pipe2(feed, O_CLOEXEC), 0);
  const pid_t pid = StartChild(QUENLAT_CLI, {"--to-crlf", "--files-from", "-"},
                               scratch_ / "start", capture / "out", capture / "err", feed[0]);
  close(feed[0]);
  ASSERT_GT(pid, 0);
  // The names go one at a time: once the tool has read the first, it runs
  // and knows its start-up folder.
  bool consumed = WriteAll(feed[1], "first.txt\n");
  for (int waited = 0; consumed; ++waited) {
    int left = 0;
    if (ioctl(feed[1], FIONREAD, &left) != 0 || left == 0) break;
    if (waited == 10000) consumed = false;  // 10 s
    usleep(1000);
  }
  const bool moved = rename((scratch_ / "start").c_str(), (scratch_ / "moved").c_str()) == 0;
  Put("start/f.txt", "decoy\n");
  WriteAll(feed[1], "f.txt\n");
  close(feed[1]);
  const int status = WaitChild(pid);
  ASSERT_TRUE(consumed) << "the tool did not read its first name";
  ASSERT_TRUE(moved);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadBytes(capture / "err");
  EXPECT_EQ(ReadBytes(capture / "out"), "2 files converted.\n");
  EXPECT_EQ(ReadBytes(scratch_ / "start/f.txt"), "decoy\n");
  EXPECT_EQ(ReadBytes(scratch_ / "moved/f.txt"), "a\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "moved/first.txt"), "1\r\n");
}
#endif

// A file with another name (a hard link): the name given gets the new
// content, the other keeps the old, and the tool says so.
TEST_F(CliTest, HardLinkKeepsTheOldContent) {
  Put("a.txt", "1\n");
  ASSERT_TRUE(MakeHardLink(scratch_ / "a.txt", scratch_ / "b.txt"));
  Outcome outcome = Run({"a.txt"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, ConsoleText("1 files converted.\n"));
  EXPECT_EQ(outcome.err, ConsoleText("quenlat-cli: a.txt: has 2 names; only this one is converted\n"));
  EXPECT_EQ(ReadBytes(scratch_ / "a.txt"), "1\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "b.txt"), "1\n");
  // Now a file of one name each: nothing more is said.
  outcome = Run({"b.txt"});
  EXPECT_EQ(outcome.err, "");
}

// A run of more files than a batch holds, with failures, skips and notes
// between them and a file too large for a batch: every report comes in the
// order of the files, the summary counts them all, each file is converted
// once and nothing is left beside them.
TEST_F(CliTest, ManyFilesReportInTheirOrder) {
  std::vector<std::string> args = {"--to-crlf"};
  std::string err;
  std::vector<std::pair<std::string, std::string>> after;
  std::string big;
  while (big.size() < (9 << 20)) big += "a line of a file too large for a batch\n";
  for (int i = 0; i < 300; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    if (i == 3 || i == 150 || i == 299) {
      args.push_back("missing" + std::to_string(i));
      err += "quenlat-cli: " + args.back() + ": File or directory does not exist\n";
      continue;
    }
    args.push_back(i == 250 ? "./f10.txt" : name);
    if (i == 250) {
      err += "quenlat-cli: ./f10.txt: already done (the same file as f10.txt)\n";
    } else if (i == 200) {
      Put(name, kPng);
      after.push_back({name, kPng});
      err += "quenlat-cli: " + name + ": " + kSkipped + "\n";
    } else if (i == 160) {
      Put(name, big);
      std::string converted;
      for (char c : big) converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
      after.push_back({name, converted});
    } else {
      Put(name, std::to_string(i) + "\n");
      after.push_back({name, std::to_string(i) + "\r\n"});
    }
    if (i == 140) {
      ASSERT_TRUE(MakeHardLink(scratch_ / name, scratch_ / "link"));
      err += "quenlat-cli: " + name + ": has 2 names; only this one is converted\n";
    }
  }
  Outcome outcome = Run(args);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, ConsoleText("296 files converted. 1 skipped.\n"));
  EXPECT_EQ(outcome.err, ConsoleText(err + "3 failed.\n"));
  for (const auto& f : after) EXPECT_TRUE(ReadBytes(scratch_ / f.first) == f.second) << f.first;
  EXPECT_EQ(ReadBytes(scratch_ / "link"), "140\n");
  EXPECT_EQ(ListFolder(scratch_.path()).size(), after.size() + 1) << "a file was left behind";
}

#ifndef _WIN32
// A process allowed few open files still converts a run of many, in smaller
// batches: each file of a batch holds its temporary file open.
TEST_F(CliTest, FewOpenFilesAllowedStillConvertEveryFile) {
  std::vector<std::string> args = {"-c", "ulimit -n 40 && exec \"$0\" \"$@\"", QUENLAT_CLI,
                                   "--to-lf"};
  for (int i = 0; i < 300; ++i) {
    Put("f" + std::to_string(i), std::to_string(i) + "\r\n");
    args.push_back("f" + std::to_string(i));
  }
  Outcome outcome = RunProgram("/bin/sh", args, scratch_.path());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "300 files converted.\n");
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(ReadBytes(scratch_ / ("f" + std::to_string(i))), std::to_string(i) + "\n") << i;
  }
  EXPECT_EQ(ListFolder(scratch_.path()).size(), 300u) << "a temporary file was left behind";
}
#endif

// The progress line is for a person at a terminal: with standard error a
// file it never appears, however long the run takes.
TEST_F(CliTest, NoProgressLineWithoutATerminal) {
  Put("big", "");
  SetSize(scratch_ / "big", uint64_t(128) << 20);  // a hole: slow enough to read
  Put("a.txt", "a\n");
  Put("b.txt", "b\n");
  Outcome outcome = Run({"--check", "--to-lf", "big", "a.txt", "b.txt"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
}

#ifndef _WIN32
// Files that pass the write probe but cannot be read (written to by a user
// who may not read them) count as failed.
TEST_F(CliTest, FileThatCannotBeReadIsCounted) {
  const std::string folder = scratch_ / "shared";
  MakeFolder(folder);
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  WriteBytes(folder + "/w.txt", "a\n");
  WriteBytes(folder + "/ok.txt", "a\n");
  ASSERT_EQ(chmod((folder + "/w.txt").c_str(), 0200), 0);
  ASSERT_EQ(chown((folder + "/w.txt").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown((folder + "/ok.txt").c_str(), 65534, 65534), 0);
  Outcome outcome = RunProgram("/usr/bin/setpriv",
                               {"--reuid=65534", "--regid=65534", "--clear-groups",
                                HostPath(QUENLAT_CLI), "w.txt", "ok.txt"},
                               folder);
  if (outcome.status == 127) GTEST_SKIP() << "cannot run as another user";
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "1 files converted.\n");
  EXPECT_EQ(outcome.err, "quenlat-cli: w.txt: Permission Denied\n1 failed.\n");
}

// A folder whose renames cannot be flushed at the end of the run is named,
// and the run fails though every file was converted.
TEST_F(CliTest, FailedFolderFlushFailsTheRun) {
  Put("f.txt", "a\n");
  Outcome outcome = RunProgram("/usr/bin/env",
                               {"LD_PRELOAD=" QUENLAT_FAIL_FOLDER_FSYNC,
                                "ASAN_OPTIONS=verify_asan_link_order=0", HostPath(QUENLAT_CLI),
                                "f.txt"},
                               scratch_.path());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "1 files converted.\n");
  EXPECT_EQ(outcome.err, "quenlat-cli: " + scratch_.path() + ": Error: An error has occurred!\n");
  EXPECT_EQ(ReadBytes(scratch_ / "f.txt"), "a\r\n");
}

// A file that another program writes to during each try of its conversion
// (here: whenever the tool flushes a new content in its folder) is left
// with all that was written to it, and counts as failed; the files before
// and after it are converted.
TEST_F(CliTest, FileChangedDuringEveryTryIsLeftAsWritten) {
  Put("one.txt", "1\r\n");
  Put("busy/log.txt", "a\r\nb\r\n");
  Put("two.txt", "2\r\n");
  Outcome outcome = RunProgram(
      "/usr/bin/env",
      {"LD_PRELOAD=" QUENLAT_AT_DATA_FLUSH, "QUENLAT_AT_DATA_FLUSH=append=" + scratch_ / "busy/log.txt",
       "ASAN_OPTIONS=verify_asan_link_order=0", HostPath(QUENLAT_CLI), "--to-lf", "one.txt",
       "busy/log.txt", "two.txt"},
      scratch_.path());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "2 files converted.\n");
  EXPECT_EQ(outcome.err, "quenlat-cli: busy/log.txt: changed while it was converted\n1 failed.\n");
  const std::string added = "added meanwhile\r\n";
  EXPECT_EQ(ReadBytes(scratch_ / "busy/log.txt"), "a\r\nb\r\n" + added + added + added);
  EXPECT_EQ(ListFolder(scratch_ / "busy"), std::vector<std::string>{"log.txt"});
  EXPECT_EQ(ReadBytes(scratch_ / "one.txt"), "1\n");
  EXPECT_EQ(ReadBytes(scratch_ / "two.txt"), "2\n");
}

// Someone who may write the folder puts a symbolic link to another file in
// the place of every temporary file's name the moment it appears: nothing
// is ever written through the link, no link is left, and the file holds its
// old or its new content. The same for a file of another user, whose
// temporary file has a name from its start.
TEST_F(CliTest, TemporaryNameSwappedForALinkNeverWritesThroughIt) {
  const struct {
    const char* name;
    uid_t owner;  // 0: the file is this process's
  } kCases[] = {{"own_file", 0}, {"another_users_file", 65534}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.owner != 0 && geteuid() != 0) continue;  // only root gives a file away
    ScratchDir scratch;
    ::Put(scratch, "victim/secret", "not yours\n");
    ::Put(scratch, "f.txt", "a\r\nb\r\n");
    if (c.owner != 0) {
      ASSERT_EQ(chmod((scratch / "f.txt").c_str(), 0666), 0);
      ASSERT_EQ(chown((scratch / "f.txt").c_str(), c.owner, c.owner), 0);
    }
    Outcome outcome = RunProgram(
        "/usr/bin/env",
        {"LD_PRELOAD=" QUENLAT_SWAP_TEMP, "QUENLAT_SWAP_TEMP_TO=" + scratch / "victim/secret",
         "ASAN_OPTIONS=verify_asan_link_order=0", HostPath(QUENLAT_CLI), "--to-lf", "f.txt"},
        scratch.path());
    EXPECT_EQ(ReadBytes(scratch / "victim/secret"), "not yours\n") << outcome.err;
    const std::string now = ReadBytes(scratch / "f.txt");
    EXPECT_TRUE(now == "a\r\nb\r\n" || now == "a\nb\n") << now;
    EXPECT_EQ(ListFolder(scratch.path()), (std::vector<std::string>{"f.txt", "victim"}));
    EXPECT_EQ(ListFolder(scratch / "victim"), std::vector<std::string>{"secret"});
  }
}

// A umask that takes the owner's write permission from new files (and so
// from the temporary file as it is made) changes nothing: the new content
// is written through the descriptor that made it, and gets the file's mode.
TEST_F(CliTest, UmaskWithoutOwnerWriteStillConverts) {
  Put("f.txt", "a\r\n");
  chmod((scratch_ / "f.txt").c_str(), 0640);
  Outcome outcome = RunProgram(
      "/bin/sh", {"-c", "umask 0222 && exec \"$0\" \"$@\"", HostPath(QUENLAT_CLI), "--to-lf", "f.txt"},
      scratch_.path());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(ReadBytes(scratch_ / "f.txt"), "a\n");
  struct stat st;
  ASSERT_EQ(stat((scratch_ / "f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"f.txt"});
}
#endif

// A failure inside the conversion reports the user's file and the engine's
// sentence: on a full disk, "No space left on device".
TEST_F(CliTest, FullDiskNamesTheUsersFile) {
  const std::string fs = SmallFilesystem();
  if (fs.empty()) GTEST_SKIP() << "no small filesystem was mounted (needs root)";
  ScratchDir work(fs);
  std::string content;
  while (content.size() < 40000) content += "line\n";
  WriteBytes(work / "big.txt", content);
  Put("ok.txt", "a\n");

  Outcome outcome;
  {
    FreeSpaceLeft room(fs, 32 * 1024);
    ASSERT_TRUE(room.ok()) << "cannot fill " << fs;
    outcome = Run({"--to-crlf", work / "big.txt", "ok.txt"});
  }
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, ConsoleText("1 files converted.\n"));
  EXPECT_EQ(outcome.err,
            ConsoleText("quenlat-cli: " + work / "big.txt" + ": No space left on device\n1 failed.\n"));
  EXPECT_EQ(ReadBytes(work / "big.txt"), content);
  EXPECT_EQ(ReadBytes(scratch_ / "ok.txt"), "a\r\n");
  EXPECT_EQ(ListFolder(work.path()), std::vector<std::string>{"big.txt"});
}

// One run over files that fail in different ways, between good ones: each
// good file is converted, each bad one gets its line and keeps its content,
// no temporary file is left, and the status says that some failed.
TEST_F(CliTest, BatchWithFaultyFiles) {
  const std::string kDenied = "Permission Denied";
  // The system's reason where it gives one; the probe's sentence otherwise.
  struct Item {
    std::string arg;
    std::string sentence;  // empty for a file that converts
  };
  std::vector<Item> items;
  Files unchanged;

  Put("good1.txt", "1\n");
  items.push_back({"good1.txt", ""});
  items.push_back({"missing.txt", kMissing});
  items.push_back({"no-folder/missing.txt", kMissing});
  MakeFolder(scratch_ / "folder");
  items.push_back({"folder", kFolder});
  Put("readonly.txt", "r\n");
  if (MakeReadOnly(scratch_ / "readonly.txt")) {
    items.push_back({"readonly.txt", kDenied});
    unchanged.push_back({"readonly.txt", "r\n"});
  }
  Put("good2.txt", "2\n");
  items.push_back({"good2.txt", ""});
  items.push_back({std::string(300, 'n'), "name too long for the system"});  // longer than any system takes
  // A file whose folder takes no new file. On POSIX the file itself may be
  // written: the probe passes and the conversion cannot make its temporary
  // file. The Windows build finds one on a read-only filesystem, where the
  // probe fails.
  const std::string locked = FileInReadOnlyFolder(scratch_);
  if (!locked.empty()) items.push_back({locked, kDenied});
  // Files held open by another program: without write sharing the probe
  // fails; with it, the replace does (after the tool's brief wait). Both
  // say why.
  Put("held-read.txt", "h\n");
  Put("held-read-write.txt", "h\n");
  unchanged.push_back({"held-read.txt", "h\n"});
  unchanged.push_back({"held-read-write.txt", "h\n"});
  HeldByOtherProcess heldRead(scratch_ / "held-read.txt", Sharing::Read);
  HeldByOtherProcess heldReadWrite(scratch_ / "held-read-write.txt", Sharing::ReadWrite);
  if (heldRead.ok()) items.push_back({"held-read.txt", "in use by another program"});
  if (heldReadWrite.ok()) items.push_back({"held-read-write.txt", "in use by another program"});
  Put("good3.txt", "3\n");
  items.push_back({"good3.txt", ""});

  std::vector<std::string> args;
  std::string err;
  unsigned failed = 0;
  for (const Item& item : items) {
    args.push_back(item.arg);
    if (item.sentence.empty()) continue;
    err += "quenlat-cli: " + item.arg + ": " + item.sentence + "\n";
    ++failed;
  }
  err += std::to_string(failed) + " failed.\n";

  Outcome outcome = Run(args);
  heldRead.Release();
  heldReadWrite.Release();
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, ConsoleText("3 files converted.\n"));
  EXPECT_EQ(outcome.err, ConsoleText(err));
  EXPECT_EQ(ReadBytes(scratch_ / "good1.txt"), "1\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "good2.txt"), "2\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "good3.txt"), "3\r\n");
  for (const auto& f : unchanged) EXPECT_EQ(ReadBytes(scratch_ / f.first), f.second) << f.first;
  if (!locked.empty()) {
    EXPECT_EQ(ReadBytes(locked), "a\r\nb\r\n");
  }
  EXPECT_TRUE(ListFolder(scratch_ / "folder").empty());
  for (const std::string& folder : {scratch_.path(), locked.empty() ? "" : FolderOf(locked)}) {
    for (const std::string& name : folder.empty() ? std::vector<std::string>() : ListFolder(folder)) {
      EXPECT_NE(name.substr(0, 3), "tmp") << "a temporary file was left in " << folder;
    }
  }
}

// The filter: standard input to standard output, with the rules of a file.
TEST_F(CliTest, FilterTable) {
  const std::string big(200000, 'x');  // longer than a read from the input
  struct FilterCase {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {"auto_to_lf", {}, "a\nb\r\nc\r\n", 0, "a\nb\nc\n", ""},
      {"auto_to_crlf", {"-"}, "a\nb\rc\r\n", 0, "a\r\nb\rc\r\n", ""},
      {"auto_no_cr_at_all", {}, "a\nb\n", 0, "a\r\nb\r\n", ""},
      {"auto_first_cr_at_the_end", {}, "a\nb\r", 0, "a\r\nb\r", ""},
      {"auto_first_cr_far_in", {}, big + "\n" + big + "\r\n", 0, big + "\n" + big + "\n", ""},
      {"to_crlf", {"--to-crlf"}, "a\r\nb\nc\r", 0, "a\r\nb\r\nc\r", ""},
      {"to_lf_drops_a_final_0x1a", {"--to-lf", "-"}, "a\r\nb\r\r\n\x1a", 0, "a\nb\r\n", ""},
      {"to_lf_a_big_stream", {"--to-lf"}, big + "\r\n" + big + "\r\n", 0, big + "\n" + big + "\n", ""},
      {"empty", {"--to-crlf"}, "", 0, "", ""},
      {"binary_passes_unchanged", {"--to-lf"}, kPng, 0, kPng,
       "quenlat-cli: -: binary input passed through unchanged; --force converts it\n"},
      {"force_converts_binary", {"--to-lf", "--force"}, kPng,
       0, std::string("\x89PNG\n\x1a\n\0\0\0\rIHDR", 15), ""},
      {"check", {"--check", "--to-lf", "-"}, "a\r\nb\n", 1,
       "-: 1 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to LF\n", ""},
      {"check_binary", {"--check"}, kPng, 0,
       "-: 1 CR-LF, 1 LF, 1 CR, 0x1A yes, NUL yes: binary\n", ""},
      // UTF-16 in units, as a file: the 0D 0A bytes inside units are no line
      // break, and automatic mode looks at the first 000D unit.
      {"utf16le_in_units", {}, std::string("\xff\xfe" "\n\r\r\0\n\0", 8), 0,
       std::string("\xff\xfe" "\n\r\n\0", 6), ""},
      {"utf16be_to_crlf", {"--to-crlf"}, std::string("\xfe\xff" "\r\n\0\n", 6), 0,
       std::string("\xfe\xff" "\r\n\0\r\0\n", 8), ""},
      {"check_utf16", {"--check", "--to-lf"}, std::string("\xff\xfe" "\n\r\r\0\n\0", 8), 1,
       "-: UTF-16LE, 1 CR-LF, 0 LF, 0 CR, 0x1A no, NUL no: to LF\n", ""},
      {"check_utf16_odd_length_is_binary", {"--check"}, std::string("\xff\xfe" "\n\0\0", 5), 0,
       "-: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL yes: binary\n", ""},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome outcome = RunProgram(HostPath(QUENLAT_CLI), c.args, scratch_.path(), InputOf(c.input));
    EXPECT_EQ(outcome.status, c.status);
    const bool check = !c.args.empty() && c.args[0] == "--check";
    EXPECT_EQ(outcome.out, check ? ConsoleText(c.out) : c.out);  // the data goes out untranslated
    EXPECT_EQ(outcome.err, ConsoleText(c.err));
  }
  EXPECT_TRUE(ListFolder(scratch_.path()).empty());  // no temporary file
}

// Names given on standard input, one a line or NUL-terminated.
TEST_F(CliTest, FilesFromStandardInput) {
  Put("a", "1\n");
  Put("b", "2\n");
  Outcome lines = RunProgram(HostPath(QUENLAT_CLI), {"--files-from", "-"}, scratch_.path(),
                             InputOf("a\nb\n"));
  EXPECT_EQ(lines.status, 0);
  EXPECT_EQ(lines.out, ConsoleText("2 files converted.\n"));
  EXPECT_EQ(ReadBytes(scratch_ / "b"), "2\r\n");
  Outcome nul = RunProgram(HostPath(QUENLAT_CLI), {"--null", "--files-from", "-", "--to-lf"},
                           scratch_.path(), InputOf(std::string("a\0b", 3)));
  EXPECT_EQ(nul.status, 0);
  EXPECT_EQ(ReadBytes(scratch_ / "a"), "1\n");
  EXPECT_EQ(ReadBytes(scratch_ / "b"), "2\n");
}

// With no files and a person at the terminal, the tool does not wait for input.
TEST_F(CliTest, NoFilesFromATerminalIsAUsageError) {
  if (!CanUseTerminal()) GTEST_SKIP() << "no terminal to give";
  Input terminal;
  terminal.kind = Input::Terminal;
  Outcome outcome = RunProgram(HostPath(QUENLAT_CLI), {"--to-lf"}, scratch_.path(), terminal);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "quenlat-cli: no files given\n" + kTryHelp);
}

// A walk of nested folders: each folder's files in name order, then its
// folders; version-control folders (and a .git file) left out, links to
// folders not followed, links to files only where they lead into the folder
// walked (or with --follow-links), binary files skipped.
TEST_F(CliTest, Recursion) {
  Put("top/b.txt", "b\n");
  Put("top/a.txt", "a\n");
  Put("top/pic.png", kPng);
  MakeFolder(scratch_ / "top/sub");
  MakeFolder(scratch_ / "top/sub/deeper");
  Put("top/sub/deeper/d.txt", "d\n");
  Put("top/sub/c.txt", "c\n");
  Put("top/sub/.git", "gitdir: ../.git/worktrees/sub\n");
  MakeFolder(scratch_ / "top/.git");
  Put("top/.git/config", "g\n");
  MakeFolder(scratch_ / "elsewhere");
  Put("elsewhere/e.txt", "e\n");
  const bool links = MakeSymbolicLink("../elsewhere", scratch_ / "top/link") &&
                     MakeSymbolicLink("../../elsewhere/e.txt", scratch_ / "top/sub/e-link.txt") &&
                     MakeSymbolicLink("../b.txt", scratch_ / "top/sub/in-link.txt");
  const std::string sep = kConsoleNewline[0] == '\r' ? "\\" : "/";
  const std::string lf = ": 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n";
  const std::string outside = "quenlat-cli: top" + sep + "sub" + sep +
                              "e-link.txt: points outside the folder, not followed\n";

  Outcome check = Run({"--check", "-r", "top"});
  std::string expected = "top" + sep + "a.txt" + lf + "top" + sep + "b.txt" + lf + "top" + sep +
                         "pic.png: 1 CR-LF, 1 LF, 1 CR, 0x1A yes, NUL yes: binary\n" + "top" +
                         sep + "sub" + sep + "c.txt" + lf;
  if (links) expected += "top" + sep + "sub" + sep + "in-link.txt" + lf;
  expected += "top" + sep + "sub" + sep + "deeper" + sep + "d.txt" + lf;
  EXPECT_EQ(check.out, ConsoleText(expected));
  EXPECT_EQ(check.err, ConsoleText(links ? outside : ""));

  Outcome outcome = Run({"--recursive", "top/"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, ConsoleText(links ? "5 files converted. 1 skipped.\n"
                                           : "4 files converted. 1 skipped.\n"));
  std::string err = "quenlat-cli: top/pic.png: " + kSkipped + "\n";
  if (links) {
    err += outside + "quenlat-cli: top/sub/in-link.txt: already done (the same file as "
                     "top/b.txt)\n";
  }
  EXPECT_EQ(outcome.err, ConsoleText(err));
  for (const char* name : {"top/a.txt", "top/b.txt", "top/sub/c.txt", "top/sub/deeper/d.txt"})
    EXPECT_EQ(ReadBytes(scratch_ / name).substr(1), "\r\n") << name;
  EXPECT_EQ(ReadBytes(scratch_ / "top/.git/config"), "g\n");
  EXPECT_EQ(ReadBytes(scratch_ / "top/sub/.git"), "gitdir: ../.git/worktrees/sub\n");
  EXPECT_EQ(ReadBytes(scratch_ / "top/pic.png"), kPng);
  EXPECT_EQ(ReadBytes(scratch_ / "elsewhere/e.txt"), "e\n");
  if (!links) return;

  // Asked to, the walk follows the link out of its folder, not the one to a folder.
  outcome = Run({"--follow-links", "--to-crlf", "-r", "top"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "quenlat-cli: top/pic.png: " + kSkipped + "\n" +
                             "quenlat-cli: top/sub/in-link.txt: already done (the same file as "
                             "top/b.txt)\n");
  EXPECT_EQ(ReadBytes(scratch_ / "elsewhere/e.txt"), "e\r\n");
}

// A file named twice through links is converted once; a hard link, which the
// conversion parts from its file, then names other content and is converted too.
TEST_F(CliTest, SameFileThroughLinks) {
  Put("real.txt", "a\n");
  if (!MakeSymbolicLink("real.txt", scratch_ / "soft.txt")) GTEST_SKIP() << "no symbolic links";
  Outcome outcome = Run({"soft.txt", "real.txt"});
  EXPECT_EQ(outcome.out, "2 files converted.\n");
  EXPECT_EQ(outcome.err, "quenlat-cli: real.txt: already done (the same file as soft.txt)\n");
  EXPECT_EQ(ReadBytes(scratch_ / "real.txt"), "a\r\n");

  ASSERT_TRUE(MakeHardLink(scratch_ / "real.txt", scratch_ / "hard.txt"));
  outcome = Run({"real.txt", "hard.txt"});
  EXPECT_EQ(outcome.err, "quenlat-cli: real.txt: has 2 names; only this one is converted\n");
  EXPECT_EQ(ReadBytes(scratch_ / "real.txt"), "a\n");
  EXPECT_EQ(ReadBytes(scratch_ / "hard.txt"), "a\n");
}

#ifndef _WIN32
// Two small filesystems mounted in folders of the scratch folder, each holding
// f.txt made as its first file, so that both have one inode number; unmounted
// when the object goes. ok() false with why() when they cannot be had.
class TwoFilesystems {
 public:
  explicit TwoFilesystems(const ScratchDir& scratch) {
    if (geteuid() != 0) {
      why_ = "mounting needs root";
      return;
    }
    // In a mount namespace of this process's own, the mounts end with it
    // whatever happens to the test.
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      why_ = "no mount namespace of its own";
      return;
    }
    for (const char* name : {"one", "two"}) {
      const std::string folder = scratch / name;
      MakeFolder(folder);
      if (mount("quenlat-test", folder.c_str(), "tmpfs", 0, "size=1m") != 0) {
        why_ = "cannot mount a tmpfs";
        return;
      }
      mounted_.push_back(folder);
    }
    ok_ = true;
  }
  ~TwoFilesystems() {
    for (const std::string& folder : mounted_) umount2(folder.c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  std::vector<std::string> mounted_;
  std::string why_;
  bool ok_ = false;
};

// One inode number on two filesystems names two files: the second is
// converted too, not taken for the first (which the mode leaves as it is,
// and which is then done).
TEST_F(CliTest, OneInodeNumberOnTwoFilesystems) {
  TwoFilesystems filesystems(scratch_);
  if (!filesystems.ok()) GTEST_SKIP() << filesystems.why();
  Put("one/f.txt", "a\r\n");
  Put("two/f.txt", "b\n");
  struct stat one, two;
  ASSERT_EQ(stat((scratch_ / "one/f.txt").c_str(), &one), 0);
  ASSERT_EQ(stat((scratch_ / "two/f.txt").c_str(), &two), 0);
  ASSERT_NE(one.st_dev, two.st_dev);
  if (one.st_ino != two.st_ino) GTEST_SKIP() << "the two files got different inode numbers";
  Outcome outcome = Run({"--to-crlf", "one/f.txt", "two/f.txt"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "2 files converted.\n");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(ReadBytes(scratch_ / "one/f.txt"), "a\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "two/f.txt"), "b\r\n");
}
#endif

// Whatever bytes a name holds, each file's line stays one line.
TEST_F(CliTest, NamesArePrintedSafely) {
  Outcome missing = Run({"m\tx\x01", "--to-lf"});
  const std::string prefix = "quenlat-cli: m\\tx\\x01: ";
  EXPECT_EQ(missing.err.substr(0, prefix.size()), prefix) << missing.err;
#ifndef _WIN32
  const std::string name = "two\nlines\\and\x7f";
  Put(name, "a\n");
  Outcome check = Run({"--check", name});
  EXPECT_EQ(check.out, "two\\nlines\\\\and\\x7f: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n");
  // C1 controls (U+0085, U+009B: a terminal's CSI) and bytes that are no
  // UTF-8 are escaped byte by byte; other characters stay as they are.
  const std::string c1 = "c1\xc2\x85\xc2\x9b" "2J-stray\xff\x80-cut\xe2\x82-ok\xc3\xa9\xe2\x82\xac";
  Put(c1, "a\n");
  check = Run({"--check", c1});
  EXPECT_EQ(check.out, "c1\\xc2\\x85\\xc2\\x9b" "2J-stray\\xff\\x80-cut\\xe2\\x82-ok\xc3\xa9\xe2\x82\xac"
                       ": 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n");
  Outcome convert = Run({name, name});
  EXPECT_EQ(convert.err, "quenlat-cli: two\\nlines\\\\and\\x7f: already done (the same file as "
                         "two\\nlines\\\\and\\x7f)\n");
#endif
}

// A UTF-16 file with its byte-order mark holds NUL bytes and is text; with
// an odd length it cannot be UTF-16, and is binary.
TEST_F(CliTest, Utf16WithByteOrderMarkIsNotBinary) {
  Put("le.txt", std::string("\xff\xfe" "a\0\n\0", 6));
  Put("be.txt", std::string("\xfe\xff" "\0a\0\n", 6));
  Put("odd.txt", std::string("\xff\xfe" "a\0\n", 5));
  Outcome check = Run({"--check", "le.txt", "be.txt", "odd.txt"});
  const std::vector<std::string> lines = {"le.txt", "be.txt", "odd.txt"};
  for (const std::string& name : lines) {
    const size_t at = check.out.find(name + ":");
    ASSERT_NE(at, std::string::npos) << name;
    const size_t end = check.out.find('\n', at);
    const bool binary = check.out.substr(at, end - at).find(": binary") != std::string::npos;
    EXPECT_EQ(binary, name == "odd.txt") << name;
  }
}

#ifdef _WIN32
// The Windows tool expands its own patterns, as the system's console
// programs do: in the last part only, in name order, folders included.
TEST_F(CliTest, WildcardsOnWindows) {
  Put("b.txt", "b\n");
  Put("a.txt", "a\n");
  Put("c.md", "c\n");
  MakeFolder(scratch_ / "sub");
  Put("sub/s.txt", "s\n");
  MakeFolder(scratch_ / "s-folder.txt");
  const std::string lf = ": 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\r\n";

  Outcome check = Run({"--check", "*.txt", "sub\\?.txt", "none*.txt", "su*\\*.txt"});
  EXPECT_EQ(check.out, "a.txt" + lf + "b.txt" + lf + "sub\\s.txt" + lf);
  EXPECT_EQ(check.err, "quenlat-cli: s-folder.txt: " + kFolder + "\r\n"
                       "quenlat-cli: none*.txt: " + kMissing + "\r\n"
                       "quenlat-cli: su*\\*.txt: " + kMissing + "\r\n3 failed.\r\n");
  Outcome walk = Run({"-r", "s*"});
  EXPECT_EQ(walk.out, "1 files converted.\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "sub/s.txt"), "s\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "a.txt"), "a\n");
}

// A walk does not go into a junction or a link to a folder, at any depth,
// without a word; named on the command line, one is walked. The tool's copy
// run here is told by its listing that folders named link... are reparse
// points (Wine makes neither kind).
TEST_F(CliTest, WalkLeavesOutFolderLinks) {
  for (const char* folder : {"top", "top/link", "top/sub", "top/sub/linked", "top/sub/linked/deeper"})
    MakeFolder(scratch_ / folder);
  Put("top/a.txt", "a\n");
  Put("top/link/b.txt", "b\n");
  Put("top/sub/c.txt", "c\n");
  Put("top/sub/linked/d.txt", "d\n");
  Put("top/sub/linked/deeper/e.txt", "e\n");
  const std::string tool = HostPath(QUENLAT_CLI_FOLDER_LINKS);
  Outcome outcome = RunProgram(tool, {"--to-crlf", "-r", "top"}, scratch_.path());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "2 files converted.\r\n");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(ReadBytes(scratch_ / "top/a.txt"), "a\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "top/sub/c.txt"), "c\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "top/link/b.txt"), "b\n");
  EXPECT_EQ(ReadBytes(scratch_ / "top/sub/linked/d.txt"), "d\n");
  EXPECT_EQ(ReadBytes(scratch_ / "top/sub/linked/deeper/e.txt"), "e\n");

  outcome = RunProgram(tool, {"--to-crlf", "-r", "top\\link"}, scratch_.path());
  EXPECT_EQ(outcome.out, "1 files converted.\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "top/link/b.txt"), "b\r\n");
}
#else
// Natively the shell expands patterns; the tool takes '*' as part of a name.
TEST_F(CliTest, NoWildcardsOfItsOwn) {
  Put("*.txt", "star\n");
  Put("a.txt", "a\n");
  Outcome outcome = Run({"*.txt", "?.txt"});
  EXPECT_EQ(outcome.out, "1 files converted.\n");
  EXPECT_EQ(outcome.err, "quenlat-cli: ?.txt: " + kMissing + "\n1 failed.\n");
  EXPECT_EQ(ReadBytes(scratch_ / "*.txt"), "star\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "a.txt"), "a\n");
}
#endif

#ifndef _WIN32
// Another user's writable file in the caller's own folder, converted by the
// caller (the tool started by setpriv as nobody): the owner cannot be kept,
// so the file is not replaced and the tool names the reason.
TEST_F(CliTest, NamesAnOwnerThatCannotBeKept) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make another user's file";
  const std::string kNobody = "65534";
  Put("f.txt", "a\n");
  ASSERT_EQ(chmod((scratch_ / "f.txt").c_str(), 0666), 0);
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0755), 0);
  ASSERT_EQ(chown(scratch_.path().c_str(), 65534, 65534), 0);
  Outcome outcome = RunProgram("/usr/bin/setpriv",
                               {"--reuid=" + kNobody, "--regid=" + kNobody, "--clear-groups",
                                QUENLAT_CLI, "f.txt"},
                               scratch_.path());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "0 files converted.\n");
  EXPECT_EQ(outcome.err, "quenlat-cli: f.txt: cannot keep the file's owner\n1 failed.\n");
  EXPECT_EQ(ReadBytes(scratch_ / "f.txt"), "a\n");
  EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"f.txt"});
}

// With standard input, output and error closed, no file the tool opens takes
// their place: the list on standard input is empty, the reports and the
// summary go nowhere, and the files hold only their new content.
TEST_F(CliTest, ClosedStandardDescriptors) {
  Put("a.txt", "a\n");
  Put("b.txt", "b\n");
  Outcome outcome = RunProgram("/bin/sh",
                               {"-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", HostPath(QUENLAT_CLI),
                                "a.txt", "missing", "b.txt", "--files-from", "-"},
                               scratch_.path());
  EXPECT_EQ(outcome.status, 1);  // the missing file
  EXPECT_EQ(ReadBytes(scratch_ / "a.txt"), "a\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "b.txt"), "b\r\n");
  EXPECT_EQ(ListFolder(scratch_.path()), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// Output that cannot be written fails the run in every mode, with the reason.
TEST_F(CliTest, StandardOutputThatFails) {
  Put("f.txt", "a\n");
  const std::string full = "exec \"$0\" \"$@\" >/dev/full";
  const std::string noSpace = "quenlat-cli: standard output: No space left on device\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string err;
  } cases[] = {
      {{"--to-lf", "f.txt"}, "", noSpace},
      {{"--check", "--to-lf", "f.txt"}, "", noSpace},
      {{"--check", "--to-lf", "-"}, "a\n", noSpace},
      {{"--to-lf", "-"}, "a\n", noSpace},
      {{"--help"}, "", noSpace},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    std::vector<std::string> args = {"-c", full, HostPath(QUENLAT_CLI)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome outcome = RunProgram("/bin/sh", args, scratch_.path(), InputOf(c.input));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, c.err);
  }

  // A reader that goes away: the filter says so and fails, not killed
  // without a word.
  Put("big.txt", std::string(1 << 20, 'x') + "\n");
  Outcome gone = RunProgram(
      "/bin/sh",
      {"-c", "{ \"$0\" --to-crlf - < big.txt; echo $? > status; } | true", HostPath(QUENLAT_CLI)},
      scratch_.path());
  EXPECT_EQ(ReadBytes(scratch_ / "status"), "1\n");
  EXPECT_EQ(gone.err, "quenlat-cli: standard output: its reader has gone (broken pipe)\n");
}

// A walk names every entry it cannot examine, and fails: the tool run as
// another user than the folder's owner, who may list its names but not
// look at what they name.
TEST_F(CliTest, WalkOverAnUnsearchableFolder) {
  MakeFolder(scratch_ / "tree");
  MakeFolder(scratch_ / "tree/locked");
  Put("tree/ok.txt", "a\n");
  Put("tree/locked/hidden.txt", "b\r\n");
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod((scratch_ / "tree").c_str(), 0755), 0);
  ASSERT_EQ(chmod((scratch_ / "tree/locked").c_str(), 0644), 0);
  std::vector<std::string> args = {"--check", "--to-lf", "-r", "tree"};
  std::string program = HostPath(QUENLAT_CLI);
  if (geteuid() == 0) {  // root would look anyway: the tool runs as nobody
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", program});
    program = "/usr/bin/setpriv";
  }
  Outcome outcome = RunProgram(program, args, scratch_.path());
  chmod((scratch_ / "tree/locked").c_str(), 0755);
  if (outcome.status == 127) GTEST_SKIP() << "cannot run as another user";
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "tree/ok.txt: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: unchanged\n");
  EXPECT_EQ(outcome.err, "quenlat-cli: tree/locked/hidden.txt: Permission Denied\n1 failed.\n");
}

// A walk goes on below PATH_MAX through the folders it holds open, and names
// each file whose path the system no longer takes.
TEST_F(CliTest, WalkPastTheLongestPath) {
  const std::string saved = CurrentFolder();
  EnterFolder(scratch_.path());
  MakeFolder("deep");
  WriteBytes("deep/ok.txt", "a\n");
  ASSERT_EQ(chdir("deep"), 0);
  // 20 folders of 200 characters: their path stays below PATH_MAX (4096),
  // that of the file in the last one does not; then one more folder.
  const std::string level(200, 'd'), name = std::string(250, 'f') + ".txt";
  std::string path = "deep";
  for (int i = 0; i < 21; ++i) {
    ASSERT_EQ(mkdir(level.c_str(), 0700), 0);
    ASSERT_EQ(chdir(level.c_str()), 0);
    path += "/" + level;
    if (i == 19) {
      ASSERT_LT(path.size(), 4096u);
      WriteBytes(name, "a\r\n");
    }
    if (i == 20) WriteBytes("g.txt", "a\n");
  }
  EnterFolder(scratch_.path());
  Outcome outcome = Run({"--check", "--to-lf", "-r", "deep"});
  EnterFolder(saved);
  RunProgram("/bin/rm", {"-rf", "deep"}, scratch_.path());
  const std::string at20 = path.substr(0, path.size() - level.size() - 1);
  const std::string tooLong = ": name too long for the system\n";
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "quenlat-cli: " + at20 + "/" + name + tooLong + "quenlat-cli: " + path +
                             "/g.txt" + tooLong + "2 failed.\n");
  EXPECT_EQ(outcome.out.substr(0, 12), "deep/ok.txt:");
}

// A link that led into the walked folder when the walk found it, and out of
// it by the time its file's turn comes (changed while the tool was stopped
// at the flush of a large file before it), is not followed.
TEST_F(CliTest, LinkChangedAfterTheWalkIsNotFollowed) {
  Put("top/a-big.txt", std::string(9 << 20, 'x') + "\n");  // too large for a batch
  Put("top/c.txt", "c\n");
  Put("outside.txt", "o\n");
  const std::string link = scratch_ / "top/b-link.txt";
  ASSERT_EQ(symlink("c.txt", link.c_str()), 0);
  pid_t pid = StartChild("/usr/bin/env",
                         {"LD_PRELOAD=" QUENLAT_AT_DATA_FLUSH, "QUENLAT_AT_DATA_FLUSH=stop",
                          "ASAN_OPTIONS=verify_asan_link_order=0", QUENLAT_CLI, "--to-crlf", "-r",
                          "top"},
                         scratch_.path(), "", scratch_ / "err");
  ASSERT_GT(pid, 0);
  int status = 0;
  const bool stopped = waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
  if (stopped) {
    unlink(link.c_str());
    EXPECT_EQ(symlink("../outside.txt", link.c_str()), 0);
  }
  kill(pid, stopped ? SIGCONT : SIGKILL);
  WaitChild(pid);
  ASSERT_TRUE(stopped) << "the tool never flushed the large file";
  EXPECT_EQ(ReadBytes(scratch_ / "outside.txt"), "o\n");
  EXPECT_EQ(ReadBytes(scratch_ / "top/c.txt"), "c\r\n");
  EXPECT_EQ(ReadBytes(scratch_ / "err"),
            "quenlat-cli: top/b-link.txt: points outside the folder, not followed\n");
}

// Failures that the system explains exactly are named with its reason: a
// file on a read-only file system, a file with another mounted over it.
TEST_F(CliTest, ReasonsOfMountedFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
  MakeFolder(scratch_ / "ro");
  Put("bound.txt", "a\n");
  Put("other.txt", "b\n");
  Outcome mounted = RunProgram(
      "/bin/sh",
      {"-c", "mount -t tmpfs tmpfs ro && printf 'a\\n' > ro/f.txt && mount -o remount,ro ro && "
             "mount --bind other.txt bound.txt"},
      scratch_.path());
  Outcome outcome;
  if (mounted.status == 0) outcome = Run({"ro/f.txt", "bound.txt"});
  RunProgram("/bin/sh", {"-c", "umount bound.txt; umount ro"}, scratch_.path());
  if (mounted.status != 0) GTEST_SKIP() << "cannot mount: " << mounted.err;
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "quenlat-cli: ro/f.txt: read-only file system\n"
            "quenlat-cli: bound.txt: device or resource busy (a mount point?)\n2 failed.\n");
  EXPECT_EQ(ReadBytes(scratch_ / "bound.txt"), "a\n");
}

// A list file that is a folder is named with the reason.
TEST_F(CliTest, FilesFromAFolder) {
  MakeFolder(scratch_ / "list");
  Outcome outcome = Run({"--files-from", "list"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "quenlat-cli: list: is a folder\n");
}

// Two runs over one tree at once, one making every file LF and the other
// CR-LF, again and again: neither reports the other's temporary files (or
// anything else), every file ends whole in one of its two forms, and no
// temporary file is left. Also for another user's files, whose temporary
// files have a name for the whole of their conversion.
TEST_F(CliTest, TwoRunsOverOneTree) {
  const struct {
    const char* name;
    uid_t owner;  // 0: the files are this process's
  } kCases[] = {{"own_files", 0}, {"another_users_files", 65534}};
  const int kFolders = 3, kFiles = 100, kRuns = 8;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.owner != 0 && geteuid() != 0) continue;  // only root gives files away
    ScratchDir scratch;
    std::vector<std::pair<std::string, std::string>> files;  // path, LF content
    for (int f = 0; f < kFolders; ++f) {
      MakeFolder(scratch / ("d" + std::to_string(f)));
      for (int i = 0; i < kFiles; ++i) {
        const std::string path = scratch / ("d" + std::to_string(f) + "/f" + std::to_string(i));
        files.emplace_back(path, "line " + std::to_string(i) + "\nand one more\n");
        WriteBytes(path, files.back().second);
        if (c.owner != 0) {
          ASSERT_EQ(chmod(path.c_str(), 0666), 0);
          ASSERT_EQ(chown(path.c_str(), c.owner, c.owner), 0);
        }
      }
    }
    std::vector<Outcome> outcomes[2];
    const auto runs = [&](int which) {
      for (int run = 0; run < kRuns; ++run) {
        outcomes[which].push_back(
            RunProgram(HostPath(QUENLAT_CLI), {which == 0 ? "--to-lf" : "--to-crlf", "-r", "."},
                       scratch.path()));
      }
    };
    std::thread lf(runs, 0), crlf(runs, 1);
    lf.join();
    crlf.join();
    for (const auto& each : outcomes) {
      for (const Outcome& outcome : each) {
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err.substr(0, 500), "");  // the first few reports
      }
    }
    for (const auto& file : files) {
      std::string crlf;
      for (char ch : file.second) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
      const std::string now = ReadBytes(file.first);
      EXPECT_TRUE(now == file.second || now == crlf) << file.first << ": " << now;
    }
    for (int f = 0; f < kFolders; ++f) {
      EXPECT_EQ(ListFolder(scratch / ("d" + std::to_string(f))).size(), size_t(kFiles))
          << "a temporary file was left";
    }
  }
}
#endif

}  // namespace
