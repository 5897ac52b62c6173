// The built quenlat-cli, run as a separate process in a scratch folder: its
// conversions, texts on both streams, exit statuses and what it leaves on disk.
#include <gtest/gtest.h>

#include <string>
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
    "Usage: quenlat-cli [--auto | --to-crlf | --to-lf] [--check] [--quiet] [--] FILE...\n"
    "Try 'quenlat-cli --help' for more.\n";

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
     "quenlat-cli: missing: This file cannot be opened for writing\n1 failed.\n",
     {{"a", "1\r\n"}, {"c", "3\r\n"}}},
    {"quiet_keeps_errors",
     {}, {"--quiet", "x", "y"}, 1, "",
     "quenlat-cli: x: This file cannot be opened for writing\n"
     "quenlat-cli: y: This file cannot be opened for writing\n2 failed.\n",
     {}},
    // Once a file's folder is current, a later relative path still means the
    // folder where the run started.
    {"relative_paths_keep_their_meaning",
     {{"d1/f.txt", "one\n"}, {"d2/f.txt", "two\n"}}, {"d1/f.txt", "d2/f.txt"}, 0,
     "2 files converted.\n", "", {{"d1/f.txt", "one\r\n"}, {"d2/f.txt", "two\r\n"}}},
    {"double_dash_ends_the_options",
     {{"-x", "a\n"}, {"--to-lf", "b\n"}}, {"--to-crlf", "--", "-x", "--to-lf"}, 0,
     "2 files converted.\n", "", {{"-x", "a\r\n"}, {"--to-lf", "b\r\n"}}},
    {"single_dash_is_a_file",
     {{"-", "a\n"}}, {"-"}, 0, "1 files converted.\n", "", {{"-", "a\r\n"}}},

    {"check_lists_counts_and_changes_nothing",
     {{"lf", "a\nb\n"}, {"crlf", "a\r\nb\r\n"}, {"odd", std::string("\r\0x\r\n\x1a\n", 7)}},
     {"--check", "lf", "crlf", "odd"}, 1,
     "lf: 0 CR-LF, 2 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n"
     "crlf: 2 CR-LF, 0 LF, 0 CR, 0x1A no, NUL no: to LF\n"
     "odd: 1 CR-LF, 1 LF, 1 CR, 0x1A yes, NUL yes: to CR-LF\n",
     "", {{"lf", "a\nb\n"}, {"crlf", "a\r\nb\r\n"}, {"odd", std::string("\r\0x\r\n\x1a\n", 7)}}},
    {"check_passes_when_nothing_would_change",
     {{"lf", "a\nb\n"}, {"plain", "abc"}}, {"--to-lf", "--check", "lf", "plain"}, 0,
     "lf: 0 CR-LF, 2 LF, 0 CR, 0x1A no, NUL no: unchanged\n"
     "plain: 0 CR-LF, 0 LF, 0 CR, 0x1A no, NUL no: unchanged\n",
     "", {}},
    {"check_sees_a_final_0x1a",
     {{"f", "a\x1a"}}, {"--check", "--to-lf", "f"}, 1,
     "f: 0 CR-LF, 0 LF, 0 CR, 0x1A yes, NUL no: to LF\n", "", {{"f", "a\x1a"}}},
    {"check_reports_a_folder",
     {{"d/f", "x\n"}}, {"--check", "d"}, 1, "",
     "quenlat-cli: d: Permission Denied\n1 failed.\n", {{"d/f", "x\n"}}},
    {"check_reports_a_missing_file",
     {{"lf", "a\n"}}, {"--check", "--to-crlf", "none", "lf"}, 1,
     "lf: 0 CR-LF, 1 LF, 0 CR, 0x1A no, NUL no: to CR-LF\n",
     "quenlat-cli: none: File or directory does not exist\n1 failed.\n", {}},

    {"unknown_option", {{"f", "a\n"}}, {"--to-unix", "f"}, 2, "",
     "quenlat-cli: unknown option '--to-unix'\n" + kTryHelp, {{"f", "a\n"}}},
    {"short_option_is_unknown", {{"f", "a\n"}}, {"f", "-q"}, 2, "",
     "quenlat-cli: unknown option '-q'\n" + kTryHelp, {{"f", "a\n"}}},
    {"no_files", {}, {"--to-lf", "--quiet"}, 2, "", "quenlat-cli: no files given\n" + kTryHelp, {}},
    {"nothing_at_all", {}, {}, 2, "", "quenlat-cli: no files given\n" + kTryHelp, {}},
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

// A failure inside the conversion reports the engine's path and sentence:
// on a full disk, the temporary file and "No space left on device".
TEST_F(CliTest, FullDiskReportsTheTemporaryFile) {
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
  const std::string prefix = "quenlat-cli: " + work.path() + "tmp";
  const std::string suffix = ConsoleText(": No space left on device\n1 failed.\n");
  EXPECT_EQ(outcome.err.substr(0, prefix.size()), prefix) << outcome.err;
  ASSERT_GE(outcome.err.size(), suffix.size());
  EXPECT_EQ(outcome.err.substr(outcome.err.size() - suffix.size()), suffix);
  EXPECT_EQ(ReadBytes(work / "big.txt"), content);
  EXPECT_EQ(ReadBytes(scratch_ / "ok.txt"), "a\r\n");
  EXPECT_EQ(ListFolder(work.path()), std::vector<std::string>{"big.txt"});
}

// One run over files that fail in different ways, between good ones: each
// good file is converted, each bad one gets its line and keeps its content,
// no temporary file is left, and the status says that some failed.
TEST_F(CliTest, BatchWithFaultyFiles) {
  const std::string kProbe = "This file cannot be opened for writing";
  const std::string kDenied = "Permission Denied";
  struct Item {
    std::string arg;
    std::string sentence;  // empty for a file that converts
  };
  std::vector<Item> items;
  Files unchanged;

  Put("good1.txt", "1\n");
  items.push_back({"good1.txt", ""});
  items.push_back({"missing.txt", kProbe});
  MakeFolder(scratch_ / "folder");
  items.push_back({"folder", kProbe});
  Put("readonly.txt", "r\n");
  if (MakeReadOnly(scratch_ / "readonly.txt")) {
    items.push_back({"readonly.txt", kProbe});
    unchanged.push_back({"readonly.txt", "r\n"});
  }
  Put("good2.txt", "2\n");
  items.push_back({"good2.txt", ""});
  items.push_back({std::string(300, 'n'), kProbe});  // a name longer than any system takes
  // A file whose folder takes no new file. On POSIX the file itself may be
  // written: the probe passes and the conversion cannot make its temporary
  // file. The Windows build finds one on a read-only filesystem.
  const std::string locked = FileInReadOnlyFolder(scratch_);
#ifdef _WIN32
  if (!locked.empty()) items.push_back({locked, kProbe});
#else
  if (!locked.empty()) items.push_back({locked, kDenied});
#endif
  // Files held open by another program: without write sharing the probe
  // fails; with it, the replace does (after the tool's brief wait).
  Put("held-read.txt", "h\n");
  Put("held-read-write.txt", "h\n");
  unchanged.push_back({"held-read.txt", "h\n"});
  unchanged.push_back({"held-read-write.txt", "h\n"});
  HeldByOtherProcess heldRead(scratch_ / "held-read.txt", Sharing::Read);
  HeldByOtherProcess heldReadWrite(scratch_ / "held-read-write.txt", Sharing::ReadWrite);
  if (heldRead.ok()) items.push_back({"held-read.txt", kProbe});
  if (heldReadWrite.ok()) items.push_back({"held-read-write.txt", kDenied});
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

}  // namespace
