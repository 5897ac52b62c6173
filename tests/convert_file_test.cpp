#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "file.h"
#include "support.h"

namespace {

struct FileCase {
  const char* name;
  std::string input;
  TranslationMode mode;
  std::string expected;
};

const FileCase kFileCases[] = {
    {"empty_automatic", "", ModeAutomatic, ""},
    {"empty_to_crlf", "", ModeLfToCrLf, ""},
    {"empty_to_lf", "", ModeCrLfToLf, ""},
    {"automatic_lf_file", "a\nb\n", ModeAutomatic, "a\r\nb\r\n"},
    {"automatic_crlf_file", "a\r\nb\r\n", ModeAutomatic, "a\nb\n"},
    // The first CR decides.
    {"automatic_first_cr_pairs", "x\ny\r\n", ModeAutomatic, "x\ny\n"},
    {"automatic_first_cr_alone", "x\ry\r\n", ModeAutomatic, "x\ry\r\n"},
    {"automatic_only_cr_is_last", "x\ny\r", ModeAutomatic, "x\r\ny\r"},
    // Detection reads raw bytes: a pair after a 0x1A still counts.
    {"automatic_pair_after_eot", "a\x1a" "b\r\nc\x1a", ModeAutomatic, "a\x1a" "b\nc"},
    {"to_crlf_keeps_pairs", "a\r\nb\nc\r", ModeLfToCrLf, "a\r\nb\r\nc\r"},
    {"to_lf_keeps_text_after_eot", "a\x1a" "b\r\n", ModeCrLfToLf, "a\x1a" "b\n"},
    // Values that name no mode convert as LF to CR-LF.
    {"no_mode_chosen", "a\r\nb\n", -1, "a\r\nb\r\n"},
    {"unknown_mode", "a\n", 5, "a\r\n"},
};

class ConvertFileTest : public ::testing::Test {
 protected:
  ScratchDir scratch_;
  CollectingReporter reporter_;
};

TEST_F(ConvertFileTest, ConvertsInPlaceAndLeavesNothingBehind) {
  for (const FileCase& c : kFileCases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch_ / "file.txt";
    WriteBytes(path, c.input);
    EXPECT_TRUE(ConvertFile(path, c.mode, reporter_));
    EXPECT_EQ(ReadBytes(path), c.expected);
    EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"file.txt"});
  }
  EXPECT_TRUE(reporter_.reports.empty());
}

TEST_F(ConvertFileTest, AutomaticModeTogglesBackAndForth) {
  const std::string path = scratch_ / "toggle.txt";
  WriteBytes(path, "a\nb\n");
  ASSERT_TRUE(ConvertFile(path, ModeAutomatic, reporter_));
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\n");
  ASSERT_TRUE(ConvertFile(path, ModeAutomatic, reporter_));
  EXPECT_EQ(ReadBytes(path), "a\nb\n");
}

TEST_F(ConvertFileTest, BlockBoundariesDoNotMatter) {
  // CR-LF pairs and a final 0x1A placed across the file layer's block edges.
  std::string input(3 * kFileBlockSize + 7, 'x');
  std::string expected;
  for (size_t edge : {kFileBlockSize, 2 * kFileBlockSize}) {
    input[edge - 1] = '\r';
    input[edge] = '\n';
  }
  input.back() = '\x1a';
  for (size_t i = 0; i < input.size(); ++i) {
    if (input[i] == '\r' && input[i + 1] == '\n') continue;
    if (i + 1 == input.size()) continue;
    expected += input[i];
  }
  const std::string path = scratch_ / "big.txt";
  WriteBytes(path, input);
  ASSERT_TRUE(ConvertFile(path, ModeCrLfToLf, reporter_));
  EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(ConvertFileTest, RelativePathsMeanTheStartupDirectory) {
  // A file below the start-up directory, and a decoy with the same relative
  // name below the directory that is current when the conversion runs.
  ScratchDir near(StartupDirectory());
  ScratchDir elsewhere;
  const std::string name = near.path().substr(StartupDirectory().size() + 1);
  WriteBytes(near / "f.txt", "a\n");
  const std::string saved = CurrentFolder();
  EnterFolder(elsewhere.path());
  MakeFolder(elsewhere.path() + name);
  WriteBytes(elsewhere.path() + name + "f.txt", "decoy\n");

  EXPECT_TRUE(ConvertFile(name + "f.txt", ModeLfToCrLf, reporter_));
  EXPECT_EQ(CurrentFolder(), near.path());  // the file's folder becomes current
  EXPECT_TRUE(ConvertFile(name + "f.txt", ModeCrLfToLf, reporter_));
  EnterFolder(saved);

  EXPECT_EQ(ReadBytes(near / "f.txt"), "a\n");
  EXPECT_EQ(ReadBytes(elsewhere.path() + name + "f.txt"), "decoy\n");
  EXPECT_TRUE(reporter_.reports.empty());
}

TEST(ErrorText, PathBlankLineAndSentence) {
  EXPECT_EQ(FileErrorText("C:\\a.txt", ENOENT), "C:\\a.txt\n\nFile or directory does not exist");
  EXPECT_STREQ(ErrorSentence(EACCES), "Permission Denied");
  EXPECT_STREQ(ErrorSentence(ENOSPC), "No space left on device");
  EXPECT_STREQ(ErrorSentence(EIO), "Error: An error has occurred!");
  EXPECT_STREQ(ErrorSentence(0), "Error: An error has occurred!");
}

TEST(FolderLength, DrivesSeparatorsAndDoubleByteCharacters) {
  EXPECT_EQ(FolderLength("C:\\dir\\f.txt"), 7u);
  EXPECT_EQ(FolderLength("C:f.txt"), 2u);
  EXPECT_EQ(FolderLength("/tmp/x/f"), 7u);
  EXPECT_EQ(FolderLength("dir/sub\\f"), 8u);
  EXPECT_EQ(FolderLength("f.txt"), 0u);
  EXPECT_EQ(FolderLength(""), 0u);
  // In code page 932, 0x95 0x5C is one character whose second byte is '\'.
  auto isLead932 = [](unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); };
  EXPECT_EQ(FolderLength("C:\\d\\\x95\x5C.txt", isLead932), 5u);
  EXPECT_EQ(FolderLength("C:\\d\\\x95\x5C.txt"), 7u);
}

// --- Failures: each reports the right path and sentence once, leaves the file
// byte for byte as it was, and leaves no temporary file.

class ConvertFailureTest : public ConvertFileTest {
 protected:
  void ExpectOneReport(const std::string& path, int error) {
    ASSERT_EQ(reporter_.reports.size(), 1u);
    EXPECT_EQ(reporter_.reports[0].first, path);
    EXPECT_EQ(reporter_.reports[0].second, error) << ErrorSentence(reporter_.reports[0].second);
  }
};

TEST_F(ConvertFailureTest, MissingFile) {
  for (TranslationMode mode : {ModeAutomatic, ModeLfToCrLf, ModeCrLfToLf}) {
    reporter_.reports.clear();
    EXPECT_FALSE(ConvertFile(scratch_ / "missing.txt", mode, reporter_));
    ExpectOneReport(scratch_ / "missing.txt", ENOENT);
    EXPECT_TRUE(ListFolder(scratch_.path()).empty());
  }
}

TEST_F(ConvertFailureTest, MissingFolder) {
  EXPECT_FALSE(ConvertFile(scratch_ / "nowhere/f.txt", ModeLfToCrLf, reporter_));
  ExpectOneReport(scratch_ / "nowhere/f.txt", ENOENT);
}

TEST_F(ConvertFailureTest, UnreadableFile) {
  const std::string path = scratch_ / "locked.txt";
  WriteBytes(path, "a\nb\n");
  for (TranslationMode mode : {ModeAutomatic, ModeLfToCrLf}) {
    reporter_.reports.clear();
    {
      Unreadable locked(path);
      EXPECT_FALSE(ConvertFile(path, mode, reporter_));
    }
    ExpectOneReport(path, EACCES);
    EXPECT_EQ(ReadBytes(path), "a\nb\n");
    EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"locked.txt"});
  }
}

TEST_F(ConvertFailureTest, FolderWhereNoFileCanBeMade) {
  const std::string path = FileInReadOnlyFolder(scratch_);
  if (path.empty()) GTEST_SKIP() << "no read-only filesystem was mounted (needs root)";
  EXPECT_FALSE(ConvertFile(path, ModeCrLfToLf, reporter_));
  ExpectOneReport(path, EACCES);
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\n");
  EXPECT_EQ(ListFolder(FolderOf(path)), std::vector<std::string>{"file.txt"});
}

TEST_F(ConvertFailureTest, FullDiskNamesTheTemporaryFile) {
  const std::string folder = SmallFilesystem();
  if (folder.empty()) GTEST_SKIP() << "no small filesystem was mounted (needs root)";
  const std::string path = folder + "big.txt";
  std::string content;
  while (content.size() < 40000) content += "line\n";
  WriteBytes(path, content);
  EXPECT_FALSE(ConvertFile(path, ModeLfToCrLf, reporter_));
  ASSERT_EQ(reporter_.reports.size(), 1u);
  const std::string& reported = reporter_.reports[0].first;
  EXPECT_EQ(reported.substr(0, folder.size() + 3), folder + "tmp");
  EXPECT_EQ(reporter_.reports[0].second, ENOSPC);
  EXPECT_EQ(ReadBytes(path), content);
  EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{".mounted", "big.txt"}));
  RemoveFile(path);
}

TEST_F(ConvertFailureTest, ReplaceThatFails) {
  const std::string path = scratch_ / "held.txt";
  WriteBytes(path, "a\nb\n");
  {
    ReplaceBlocked blocked(path);
    if (!blocked.ok()) GTEST_SKIP() << "cannot arrange a failing replace here (needs root)";
    EXPECT_FALSE(ConvertFile(path, ModeLfToCrLf, reporter_));
  }
  ExpectOneReport(path, EACCES);
  EXPECT_EQ(ReadBytes(path), "a\nb\n");
  EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"held.txt"});
}

// Another program holds the file open. Without write sharing the probe fails;
// with it the probe passes, but no sharing allows the file to be replaced while
// it is open: the conversion waits briefly, then gives up.
TEST_F(ConvertFailureTest, FileHeldByAnotherProcess) {
  const struct {
    const char* name;
    Sharing sharing;
    bool probeOk;
  } kCases[] = {
      {"no_write_sharing", Sharing::Read, false},
      {"no_delete_sharing", Sharing::ReadWrite, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    reporter_.reports.clear();
    const std::string path = scratch_ / "held.txt";
    WriteBytes(path, "a\nb\n");
    {
      HeldByOtherProcess held(path, c.sharing);
      if (!held.ok()) GTEST_SKIP() << "no share modes here";
      errno = 0;
      EXPECT_EQ(ProbeWritable(path), c.probeOk);
      if (!c.probeOk) {
        EXPECT_EQ(errno, EACCES);
      }
      EXPECT_FALSE(ConvertFile(path, ModeLfToCrLf, reporter_));
    }
    ExpectOneReport(path, EACCES);
    EXPECT_EQ(ReadBytes(path), "a\nb\n");
    EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"held.txt"});
    EXPECT_TRUE(ProbeWritable(path));  // let go once the helper is gone
  }
}

TEST_F(ConvertFailureTest, ProbeTellsWhetherAFileCanBeWritten) {
  const std::string path = scratch_ / "p.txt";
  WriteBytes(path, "x\n");
  EXPECT_TRUE(ProbeWritable(path));
  EXPECT_EQ(ReadBytes(path), "x\n");
  errno = 0;
  EXPECT_FALSE(ProbeWritable(scratch_ / "none.txt"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(ProbeWritable(scratch_.path()));  // a folder
}

}  // namespace
