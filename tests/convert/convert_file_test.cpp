#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

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
    EXPECT_TRUE(ConvertWithMode(path, c.mode, reporter_));
    EXPECT_EQ(ReadBytes(path), c.expected);
    EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"file.txt"});
  }
  EXPECT_TRUE(reporter_.reports.empty());
}

TEST_F(ConvertFileTest, AutomaticModeTogglesBackAndForth) {
  const std::string path = scratch_ / "toggle.txt";
  WriteBytes(path, "a\nb\n");
  ASSERT_TRUE(ConvertWithMode(path, ModeAutomatic, reporter_));
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\n");
  ASSERT_TRUE(ConvertWithMode(path, ModeAutomatic, reporter_));
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
  ASSERT_TRUE(ConvertWithMode(path, ModeCrLfToLf, reporter_));
  EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(ConvertFileTest, RelativePathsMeanTheStartupDirectory) {
  // A file below the start-up directory, and a decoy with the same relative
  // name below the directory that is current when the conversion runs.
  ScratchDir near(StartupFolder());
  ScratchDir elsewhere;
  const std::string name = near.path().substr(StartupFolder().size());
  WriteBytes(near / "f.txt", "a\n");
  const std::string saved = CurrentFolder();
  EnterFolder(elsewhere.path());
  MakeFolder(elsewhere.path() + name);
  WriteBytes(elsewhere.path() + name + "f.txt", "decoy\n");

  EXPECT_TRUE(ConvertWithMode(name + "f.txt", ModeLfToCrLf, reporter_));
  EXPECT_EQ(CurrentFolder(), elsewhere.path());  // the current folder stays as it is
  EXPECT_TRUE(ConvertWithMode(name + "f.txt", ModeCrLfToLf, reporter_));
  EnterFolder(saved);

  EXPECT_EQ(ReadBytes(near / "f.txt"), "a\n");
  EXPECT_EQ(ReadBytes(elsewhere.path() + name + "f.txt"), "decoy\n");
  EXPECT_TRUE(reporter_.reports.empty());
}

// The current folder is never changed, whichever folder was current before
// each file and whichever folders the files are in.
TEST_F(ConvertFileTest, CurrentFolderStaysAsItIs) {
  ScratchDir other;
  WriteBytes(scratch_ / "a.txt", "a\n");
  WriteBytes(scratch_ / "b.txt", "b\n");
  WriteBytes(other / "c.txt", "c\n");
  const std::string saved = CurrentFolder();
  const struct {
    std::string path;
    std::string enterBefore;  // made current before it, unless empty
  } kSteps[] = {
      {scratch_ / "a.txt", ""},
      {scratch_ / "b.txt", ""},
      {other / "c.txt", other.path()},
      {scratch_ / "a.txt", ""},
      {scratch_ / "b.txt", scratch_.path()},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.path);
    if (!step.enterBefore.empty()) EnterFolder(step.enterBefore);
    const std::string before = CurrentFolder();
    EXPECT_TRUE(ConvertWithMode(step.path, ModeLfToCrLf, reporter_));
    EXPECT_EQ(CurrentFolder(), before);
  }
  EnterFolder(saved);
  EXPECT_EQ(ReadBytes(scratch_ / "b.txt"), "b\r\n");
  EXPECT_TRUE(reporter_.reports.empty());
}

// The caller's open file is read from its start wherever the caller left it,
// and is closed when the conversion returns.
TEST_F(ConvertFileTest, ReadsThroughTheCallersOpenFile) {
  const std::string longer = std::string(kFileBlockSize, 'x') + "\r\n";
  const std::optional<Direction> kByMode;
  const struct {
    const char* name;
    std::string input;
    TranslationMode mode;
    std::optional<Direction> direction;  // decided by the caller's scan
    bool scanned;                        // the caller has read its first block
    std::string expected;
  } kCases[] = {
      {"unread", "a\nb\n", ModeLfToCrLf, kByMode, false, "a\r\nb\r\n"},
      {"read_to_the_end", "a\r\nb\r\n", ModeCrLfToLf, kByMode, true, "a\nb\n"},
      {"automatic_after_a_pair", "a\r\nb\n", ModeAutomatic, kByMode, true, "a\nb\n"},
      {"automatic_unread", "a\nb\r", ModeAutomatic, kByMode, false, "a\r\nb\r"},
      {"more_than_a_block", longer, ModeCrLfToLf, kByMode, true,
       std::string(kFileBlockSize, 'x') + "\n"},
      // A decided direction wins over the mode, and nothing else decides it.
      {"direction_over_mode", "a\r\nb\n", ModeAutomatic, DirectionLfToCrLf, true,
       "a\r\nb\r\n"},
      {"direction_unread", "a\r\nb\n", ModeLfToCrLf, DirectionCrLfToLf, false, "a\nb\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch_ / "file.txt";
    WriteBytes(path, c.input);
    SourceFile source;
    ASSERT_EQ(source.Open(path), std::error_code());
    if (c.scanned) {
      LinebreakScanner scanner;
      ASSERT_EQ(source.ReadInto(scanner, [](const LinebreakScanner&) { return true; }), std::error_code());
    }
    ConvertOptions options;
    options.reporter = &reporter_;
    options.mode = c.mode;
    options.direction = c.direction;
    options.source = &source;
    EXPECT_TRUE(ConvertFileInPlace(path, options));
    EXPECT_FALSE(source.IsOpen());
    EXPECT_EQ(ReadBytes(path), c.expected);
    EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"file.txt"});
  }
  EXPECT_TRUE(reporter_.reports.empty());
}

// text as UTF-16 units (each character its own unit), with the mark first.
std::string Utf16(const std::string& text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) {
    bytes += bigEndian ? '\0' : c;
    bytes += bigEndian ? c : '\0';
  }
  return bytes;
}

// A file that begins with a UTF-16 mark and has an even size is converted in
// units, the mark kept; everything else is bytes.
TEST_F(ConvertFileTest, Utf16FilesAreConvertedInUnits) {
  const std::string le = "\xFF\xFE";
  // Little-endian unit 0A0D: its bytes are CR LF, and no unit is a CR.
  const std::string unitOfCrLfBytes = le + std::string("\x0D\x0A" "x\0\n\0", 6);
  std::string pairAtEdge = Utf16(std::string(kFileBlockSize / 2 - 2, 'x') + "\r\ny\r\n", true);
  const struct {
    const char* name;
    std::string input;
    TranslationMode mode;
    std::string expected;
  } kCases[] = {
      {"le_automatic_pairs", Utf16("a\r\nb\r\n", false), ModeAutomatic, Utf16("a\nb\n", false)},
      {"be_automatic_lone_lf", Utf16("a\nb\n", true), ModeAutomatic, Utf16("a\r\nb\r\n", true)},
      {"automatic_looks_at_the_first_000d_unit", unitOfCrLfBytes, ModeAutomatic,
       le + std::string("\x0D\x0A" "x\0\r\0\n\0", 8)},
      {"lone_cr_stays", Utf16("a\rb\n", false), ModeLfToCrLf, Utf16("a\rb\r\n", false)},
      {"final_001a_dropped", Utf16("a\r\n\x1a", true), ModeCrLfToLf, Utf16("a\n", true)},
      {"pair_across_blocks", pairAtEdge, ModeCrLfToLf,
       Utf16(std::string(kFileBlockSize / 2 - 2, 'x') + "\ny\n", true)},
      // An odd size or another mark: bytes.
      {"odd_size_is_bytes", le + "a\r\n", ModeCrLfToLf, le + "a\n"},
      {"utf8_mark_is_bytes", "\xEF\xBB\xBF" "a\n", ModeLfToCrLf, "\xEF\xBB\xBF" "a\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch_ / "u.txt";
    WriteBytes(path, c.input);
    EXPECT_TRUE(ConvertWithMode(path, c.mode, reporter_));
    EXPECT_TRUE(ReadBytes(path) == c.expected);
    // The same through a file the caller opened and scanned in its encoding.
    WriteBytes(path, c.input);
    SourceFile source;
    ASSERT_EQ(source.Open(path), std::error_code());
    LinebreakScanner scanner(source.TextEncoding());
    ASSERT_EQ(source.ReadInto(scanner), std::error_code());
    ConvertOptions options;
    options.reporter = &reporter_;
    options.direction = ResolveDirection(c.mode, scanner.Finish().firstCrIsCrLf);
    options.source = &source;
    EXPECT_TRUE(ConvertFileInPlace(path, options));
    EXPECT_TRUE(ReadBytes(path) == c.expected);
  }
  EXPECT_TRUE(reporter_.reports.empty());
}

TEST(ErrorText, PathBlankLineAndSentence) {
  EXPECT_EQ(FileErrorText("C:\\a.txt", Errno(ENOENT)), "C:\\a.txt\n\nFile or directory does not exist");
  EXPECT_STREQ(ErrorSentence(Errno(EACCES)), "Permission Denied");
  EXPECT_STREQ(ErrorSentence(Errno(ENOSPC)), "No space left on device");
  EXPECT_STREQ(ErrorSentence(Errno(EIO)), "Error: An error has occurred!");
  EXPECT_STREQ(ErrorSentence(std::error_code()), "Error: An error has occurred!");
}

// The console tool names what the system says exactly; the dialog keeps its
// four sentences for the same errors.
TEST(ErrorText, ExactReasonsForTheConsoleOnly) {
  const std::string general = "Error: An error has occurred!", denied = "Permission Denied";
  const struct {
    std::error_code error;
    const char* reason;
    std::string sentence;
  } cases[] = {
      {Errno(EROFS), "read-only file system", denied},
      {Errno(EBUSY), "device or resource busy (a mount point?)", general},
      {Errno(ENAMETOOLONG), "name too long for the system", general},
      {Errno(EISDIR), "is a folder", general},
#ifdef ETXTBSY
      {Errno(ETXTBSY), "in use by a running program", general},
#endif
      {Errno(EACCES), "Permission Denied", denied},
      {Errno(EIO), "Error: An error has occurred!", general},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(ErrorReason(c.error), c.reason) << c.error;
    EXPECT_EQ(ErrorSentence(c.error), c.sentence) << c.error;
  }
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
  void ExpectOneReport(const std::string& path, std::error_code error) {
    ASSERT_EQ(reporter_.reports.size(), 1u);
    EXPECT_EQ(reporter_.reports[0].first, path);
    EXPECT_EQ(reporter_.reports[0].second, error) << ErrorSentence(reporter_.reports[0].second);
  }
  // In every mode: the conversion fails with one report of error for path,
  // the file keeps content and its folder holds just listing.
  void ExpectRefusedInEveryMode(const std::string& path, std::error_code error,
                                const std::string& content,
                                const std::vector<std::string>& listing);
};

const TranslationMode kModes[] = {ModeAutomatic, ModeLfToCrLf, ModeCrLfToLf};

void ConvertFailureTest::ExpectRefusedInEveryMode(const std::string& path, std::error_code error,
                                                  const std::string& content,
                                                  const std::vector<std::string>& listing) {
  for (TranslationMode mode : kModes) {
    for (bool opened : {false, true}) {
      SCOPED_TRACE(std::to_string(mode) + (opened ? " through the caller's open file" : ""));
      reporter_.reports.clear();
      SourceFile source;
      if (opened) {
        ASSERT_EQ(source.Open(path), std::error_code());
      }
      EXPECT_FALSE(ConvertWithMode(path, mode, reporter_, nullptr, &source));
      EXPECT_FALSE(source.IsOpen());
      ExpectOneReport(path, error);
      EXPECT_EQ(ReadBytes(path), content);
      EXPECT_EQ(ListFolder(FolderOf(path)), listing);
    }
  }
}

// The file or its folder is missing: never there, or gone between the check
// that the file can be written and the conversion.
TEST_F(ConvertFailureTest, MissingFileOrFolder) {
  const struct {
    const char* name;
    const char* file;
    bool thereAtProbe;
  } kCases[] = {
      {"file_never_there", "missing.txt", false},
      {"folder_never_there", "nowhere/f.txt", false},
      {"file_gone_after_probe", "gone.txt", true},
  };
  for (const auto& c : kCases) {
    for (TranslationMode mode : kModes) {
      SCOPED_TRACE(std::string(c.name) + " in mode " + std::to_string(mode));
      reporter_.reports.clear();
      const std::string path = scratch_ / c.file;
      if (c.thereAtProbe) {
        WriteBytes(path, "a\n");
        ASSERT_TRUE(ProbeWritable(path));
        ASSERT_EQ(RemoveFile(path), std::error_code());
      }
      EXPECT_FALSE(ConvertWithMode(path, mode, reporter_));
      ExpectOneReport(path, Errno(ENOENT));
      EXPECT_TRUE(ListFolder(scratch_.path()).empty());
    }
  }
}

// What a file that cannot be opened is reported with: on Windows the file is
// held open by another program, which the report says; on POSIX its
// permissions refuse.
#ifdef _WIN32
const std::error_code kLocked = kErrorHeld;
#else
const std::error_code kLocked = Errno(EACCES);
#endif

TEST_F(ConvertFailureTest, UnreadableFile) {
  const std::string path = scratch_ / "locked.txt";
  WriteBytes(path, "a\nb\n");
  for (TranslationMode mode : {ModeAutomatic, ModeLfToCrLf}) {
    reporter_.reports.clear();
    {
      Unreadable locked(path);
      EXPECT_FALSE(ConvertWithMode(path, mode, reporter_));
    }
    ExpectOneReport(path, kLocked);
    EXPECT_EQ(ReadBytes(path), "a\nb\n");
    EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"locked.txt"});
  }
}

TEST_F(ConvertFailureTest, FolderWhereNoFileCanBeMade) {
  const std::string path = FileInReadOnlyFolder(scratch_);
  if (path.empty()) GTEST_SKIP() << "no read-only filesystem was mounted (needs root)";
  ExpectRefusedInEveryMode(path, Errno(EACCES), "a\r\nb\r\n", {"file.txt"});
}

// n bytes of line repeated, the last one cut short.
std::string Lines(const std::string& line, size_t n) {
  std::string text;
  text.reserve(n + line.size());
  while (text.size() < n) text += line;
  text.resize(n);
  return text;
}

// The size of what LF to CR-LF makes of the first n bytes of text without CRs.
uint64_t CrLfSize(const std::string& text, size_t n) {
  return n + static_cast<uint64_t>(std::count(text.begin(), text.begin() + n, '\n'));
}

const uint64_t kPage = 4096;  // tmpfs counts its space in pages

uint64_t WholePages(uint64_t bytes) { return (bytes + kPage - 1) / kPage * kPage; }

// The disk fills up while the new content is written, at each of the writes a
// conversion makes. What could not be written is the temporary file: the
// report names it.
TEST_F(ConvertFailureTest, FullDisk) {
  const std::string fs = SmallFilesystem();
  if (fs.empty()) GTEST_SKIP() << "no small filesystem was mounted (needs root)";
  const size_t kBlock = kFileBlockSize;
  const std::string small = Lines("line\n", 40000);
  const std::string big = Lines("line\n", 2 * kBlock + kBlock / 2);
  // CR-LF lines whose new content fills exactly 80 pages, and a last CR that
  // the translator holds back until the end: only that byte finds no room.
  const std::string endsInCr = Lines("line\r\n", 6 * 80 * kPage / 5) + "\r";
  const struct {
    const char* name;
    const std::string& content;
    TranslationMode mode;
    uint64_t free;
  } kCases[] = {
      {"small_file", small, ModeLfToCrLf, 8 * kPage},
      {"first_block", big, ModeLfToCrLf, 16 * kPage},
      {"after_the_first_block", big, ModeLfToCrLf, WholePages(CrLfSize(big, kBlock)) + 16 * kPage},
      {"last_partial_block", big, ModeLfToCrLf,
       WholePages(CrLfSize(big, 2 * kBlock)) + 16 * kPage},
      {"held_back_last_byte", endsInCr, ModeCrLfToLf, 80 * kPage},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    reporter_.reports.clear();
    ScratchDir work(fs);
    const std::string path = work / "big.txt";
    WriteBytes(path, c.content);
    {
      FreeSpaceLeft room(fs, c.free);
      ASSERT_TRUE(room.ok()) << "cannot leave " << c.free << " bytes free in " << fs;
      EXPECT_FALSE(ConvertWithMode(path, c.mode, reporter_));
    }
    ASSERT_EQ(reporter_.reports.size(), 1u);
    // The user's file is named, not the temporary file.
    EXPECT_EQ(reporter_.reports[0], std::make_pair(path, Errno(ENOSPC)));
    EXPECT_TRUE(ReadBytes(path) == c.content) << "the file was changed";
    EXPECT_EQ(ListFolder(work.path()), std::vector<std::string>{"big.txt"});
  }
}

TEST_F(ConvertFailureTest, ReplaceThatFails) {
  const std::string path = scratch_ / "held.txt";
  WriteBytes(path, "a\nb\n");
  {
    ReplaceBlocked blocked(path);
    if (!blocked.ok()) GTEST_SKIP() << "cannot arrange a failing replace here (needs root)";
    EXPECT_FALSE(ConvertWithMode(path, ModeLfToCrLf, reporter_));
  }
  ExpectOneReport(path, kLocked);
  EXPECT_EQ(ReadBytes(path), "a\nb\n");
  EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"held.txt"});
}

// Another program holds the file open. Without write sharing the probe fails;
// with it the probe passes, but without delete sharing the file cannot be
// replaced while it is open: the conversion waits briefly, then gives up.
// Both say that the file is in use.
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
      std::error_code error;
      EXPECT_EQ(ProbeWritable(path, &error), c.probeOk);
      EXPECT_EQ(error, c.probeOk ? std::error_code() : kErrorHeld);
      EXPECT_FALSE(ConvertWithMode(path, ModeLfToCrLf, reporter_));
    }
    ExpectOneReport(path, kErrorHeld);
    EXPECT_EQ(ReadBytes(path), "a\nb\n");
    EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"held.txt"});
    EXPECT_TRUE(ProbeWritable(path));  // let go once the helper is gone
  }
}

// Another program holds the file open and lets it go about 300 ms after the
// conversion has made its new content, as a scanner or an indexer does: the
// replace waits that long for it and then succeeds.
TEST_F(ConvertFailureTest, FileHeldBrieflyByAnotherProcess) {
  const std::string path = scratch_ / "held.txt";
  WriteBytes(path, "a\nb\n");
  HeldByOtherProcess held(path, Sharing::ReadWrite);
  if (!held.ok()) GTEST_SKIP() << "no share modes here";
  std::thread release([this, &held] {
    // The temporary file is there: the replace comes next.
    for (int waited = 0; waited < 5000; waited += 5) {
      const std::vector<std::string> names = ListFolder(scratch_.path());
      if (std::any_of(names.begin(), names.end(),
                      [](const std::string& n) { return n.compare(0, 3, "tmp") == 0; }))
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    held.Release();
  });
  const bool converted = ConvertWithMode(path, ModeLfToCrLf, reporter_);
  release.join();
  EXPECT_TRUE(converted);
  EXPECT_TRUE(reporter_.reports.empty());
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\n");
  EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"held.txt"});
}

// A read-only file cannot be opened for writing. Windows never replaces one
// either: the conversion fails and the file keeps its content and attribute.
// (On POSIX the folder's permissions decide whether a file may be replaced.)
TEST_F(ConvertFailureTest, ReadOnlyFile) {
  const std::string path = scratch_ / "ro.txt";
  WriteBytes(path, "a\nb\n");
  if (!MakeReadOnly(path)) GTEST_SKIP() << "this process may write read-only files";
  std::error_code error;
  EXPECT_FALSE(ProbeWritable(path, &error));
  EXPECT_EQ(error, Errno(EACCES));
#ifdef _WIN32
  ExpectRefusedInEveryMode(path, Errno(EACCES), "a\nb\n", {"ro.txt"});
  EXPECT_FALSE(ProbeWritable(path));  // still read-only
#endif
}

// A folder named where a file is expected: it is not opened, the report names
// it (not a temporary file), and nothing is made in it or beside it.
TEST_F(ConvertFailureTest, FolderInsteadOfAFile) {
  const std::string folder = scratch_ / "dir";
  MakeFolder(folder);
  WriteBytes(scratch_ / "dir/inner.txt", "x\n");
  const char separator = scratch_.path().back();
  for (const std::string& path : {folder, folder + separator}) {
    for (TranslationMode mode : kModes) {
      SCOPED_TRACE(path + " in mode " + std::to_string(mode));
      reporter_.reports.clear();
      std::error_code error;
      EXPECT_FALSE(ProbeWritable(path, &error));
      EXPECT_EQ(error, Errno(EACCES));
      EXPECT_FALSE(ConvertWithMode(path, mode, reporter_));
      ExpectOneReport(path, Errno(EACCES));
      EXPECT_EQ(ListFolder(scratch_.path()), std::vector<std::string>{"dir"});
      EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"inner.txt"});
    }
  }
}

// Makes folders below base (which ends in a separator) until their path, with
// its final separator, is length characters long, and returns that path.
std::string DeepFolder(const std::string& base, size_t length) {
  std::string path = base;
  while (path.size() < length) {
    const size_t left = length - path.size();
    path += std::string(left <= 201 ? left - 1 : 150, 'd') + base.back();
    MakeFolder(path);
  }
  return path;
}

// What a path or name longer than the system takes is reported with.
const std::error_code kTooLong = Errno(ENAMETOOLONG);

// Paths longer than the system takes (PATH_MAX), and a file whose own path
// fits but whose temporary file's would not; on Windows, which takes paths of
// up to 32,767 characters, a longer one, and a name longer than 255. The report names the path
// with the general sentence (the console tool says why), and nothing is made.
TEST_F(ConvertFailureTest, PathTooLong) {
  EXPECT_STREQ(ErrorSentence(kTooLong), "Error: An error has occurred!");
  const std::string base = scratch_.path();
  const std::string deep = DeepFolder(base, PATH_MAX - 4);
  ASSERT_EQ(deep.size(), size_t{PATH_MAX - 4});
  WriteBytes(deep + "a", "a\nb\n");
  std::string overLimit = base;
  while (overLimit.size() <= PATH_MAX) overLimit += std::string("long") + base.back();
  overLimit += "f.txt";
  const struct {
    const char* name;
    std::string path;
    bool probeOk;
    bool converted;
  } kCases[] = {
#ifdef _WIN32
      {"path_over_the_limit", base + std::string(33000, 'n'), false, false},
      {"name_over_the_limit", base + std::string(256, 'n'), false, false},
#else
      {"path_over_the_limit", overLimit, false, false},
#ifdef NAME_MAX
      {"name_over_the_limit", base + std::string(NAME_MAX + 1, 'n'), false, false},
#endif
      // Made and renamed relative to its folder: its full name never counts.
      {"only_the_temporary_file_over_the_limit", deep + "a", true, true},
#endif
  };
  const std::string top = deep.substr(base.size(), deep.find(base.back(), base.size()) - base.size());
  for (const auto& c : kCases) {
    for (TranslationMode mode : kModes) {
      SCOPED_TRACE(std::string(c.name) + " in mode " + std::to_string(mode));
      reporter_.reports.clear();
      EXPECT_EQ(ProbeWritable(c.path), c.probeOk);
      EXPECT_EQ(ConvertWithMode(c.path, mode, reporter_), c.converted);
      if (!c.converted) ExpectOneReport(c.path, kTooLong);
      EXPECT_EQ(ListFolder(base), std::vector<std::string>{top});
      EXPECT_EQ(ListFolder(deep), std::vector<std::string>{"a"});
      if (!c.converted) {
        EXPECT_EQ(ReadBytes(deep + "a"), "a\nb\n");
      }
    }
  }
}

#ifdef _WIN32
// Names that the system's older rules take for other names: a path longer
// than MAX_PATH, one whose temporary file's path would be, a name ending in a
// dot or a space beside the name without it, characters that the ANSI code
// page lacks (beside a look-alike). Each converts its own file and nothing
// else, and leaves nothing behind.
TEST_F(ConvertFailureTest, NamesAreTakenAsTheyAre) {
  const std::string base = scratch_.path();
  const std::string deep = DeepFolder(base, 300);
  const size_t kMaxPath = 260;  // MAX_PATH, the older rules' limit
  const std::string nearLimit = DeepFolder(base, kMaxPath - 4);
  const struct {
    const char* name;
    std::string path;
    std::string decoy;  // a file that must keep its content, if any
  } kCases[] = {
      {"path_of_300_characters", deep + "long.txt", ""},
      {"temporary_file_past_max_path", nearLimit + "a", ""},
      {"name_ending_in_a_dot", base + "b.txt.", base + "b.txt"},
      {"name_ending_in_a_space", base + "c.txt ", base + "c.txt"},
      {"letter_with_a_look_alike", base + "\xC4\x80" "bcd.txt", base + "abcd.txt"},
      {"cyrillic", base + "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt", base + "x.txt"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteBytes(c.path, "a\nb\n");
    if (!c.decoy.empty()) WriteBytes(c.decoy, "x\ny\n");
    const std::vector<std::string> listing = ListFolder(FolderOf(c.path));
    EXPECT_TRUE(ProbeWritable(c.path));
    EXPECT_TRUE(ConvertWithMode(c.path, ModeLfToCrLf, reporter_));
    EXPECT_EQ(ReadBytes(c.path), "a\r\nb\r\n");
    if (!c.decoy.empty()) {
      EXPECT_EQ(ReadBytes(c.decoy), "x\ny\n");
    }
    EXPECT_EQ(ListFolder(FolderOf(c.path)), listing);
  }
  EXPECT_TRUE(reporter_.reports.empty());
}
#endif

TEST_F(ConvertFailureTest, ProbeTellsWhetherAFileCanBeWritten) {
  const std::string path = scratch_ / "p.txt";
  WriteBytes(path, "x\n");
  EXPECT_TRUE(ProbeWritable(path));
  EXPECT_EQ(ReadBytes(path), "x\n");
  std::error_code error;
  EXPECT_FALSE(ProbeWritable(scratch_ / "none.txt", &error));
  EXPECT_EQ(error, Errno(ENOENT));
  EXPECT_FALSE(ProbeWritable(scratch_.path()));  // a folder
}

// Names of things that are not regular files: they are refused before
// anything opens them (a pipe or a device could wait for ever or never end)
// and nothing is made or replaced. On POSIX they are made in scratch, never
// the system's own devices: a fault here must not be able to harm the machine.
std::vector<std::string> SpecialFiles(const ScratchDir& scratch) {
#ifdef _WIN32
  return {"NUL", "con", "Con.txt", scratch / "aux.log", scratch / "COM1", "LPT9.x", "conout$",
          "\\\\.\\C:", "\\\\.\\pipe\\quenlat",
          // The superscript digits name ports too.
          "COM\xC2\xB9", scratch / "lpt\xC2\xB3.txt", "Com\xC2\xB2.log",
          // The system's own prefixes, for anything but a drive's or a share's path.
          "\\\\?\\C:", "\\??\\Z:", "\\\\?\\GLOBALROOT\\Device\\Null", "\\??\\NUL",
          "\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\x.txt",
          "\\\\?\\UNC\\server", "\\\\?\\pipe\\quenlat"};
#else
  std::vector<std::string> paths;
  for (const SpecialFile& made : MakeSpecialFiles(scratch.path())) paths.push_back(scratch / made.name);
  return paths;
#endif
}

TEST_F(ConvertFailureTest, OnlyRegularFiles) {
  const std::vector<std::string> paths = SpecialFiles(scratch_);
  if (paths.empty()) GTEST_SKIP() << "no special file could be made";
  std::vector<unsigned> types;
#ifndef _WIN32
  for (const std::string& path : paths) types.push_back(FileTypeOf(path));
#endif
  const std::vector<std::string> listing = ListFolder(scratch_.path());
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    std::error_code error;
    EXPECT_FALSE(ProbeWritable(path, &error));
    EXPECT_EQ(error, kErrorNotRegularFile);
    SourceFile source;
    EXPECT_EQ(source.Open(path), kErrorNotRegularFile);
    for (TranslationMode mode : kModes) {
      reporter_.reports.clear();
      EXPECT_FALSE(ConvertWithMode(path, mode, reporter_));
      ExpectOneReport(path, kErrorNotRegularFile);
    }
    EXPECT_EQ(ErrorSentence(kErrorNotRegularFile), std::string("Error: An error has occurred!"));
  }
  // Each is still what it was, and nothing was made.
  EXPECT_EQ(ListFolder(scratch_.path()), listing);
#ifndef _WIN32
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(FileTypeOf(paths[i]), types[i]) << paths[i];
#endif
}

// --- Batches, as the console tool converts many files

// Adds each file to batch as the console tool does (sending the batch when
// it has no room), in the mode of its case, and commits at the end. The
// results of the files added, in the order finished; *sends counts the sends
// that a full batch made.
std::vector<bool> ConvertInBatch(ConversionBatch& batch, const std::vector<std::string>& paths,
                                 const std::vector<TranslationMode>& modes,
                                 ErrorReporter& reporter, int* sends = nullptr) {
  std::vector<bool> finished;
  const auto done = [&finished](bool converted) { finished.push_back(converted); };
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!batch.Takes(SizeOf(paths[i]))) {
      batch.Send(done);
      if (sends) ++*sends;
    }
    ConvertOptions options;
    options.reporter = &reporter;
    options.mode = modes[i];
    batch.Add(paths[i], options);
  }
  batch.Commit(done);
  return finished;
}

// Files of every case in three folders, more than a batch holds, with a
// missing file among them: each converts as alone, the batch is sent when
// full, a file keeps its old content until the batch is committed, and
// nothing is left beside the files.
TEST_F(ConvertFileTest, ABatchConvertsEveryFileAsAloneAndLeavesNothingBehind) {
  const size_t kCases = sizeof kFileCases / sizeof kFileCases[0];
  const size_t kFiles = ConversionBatch::kMaxFiles * 2 + 7;
  std::vector<std::string> paths;
  std::vector<TranslationMode> modes;
  std::vector<const FileCase*> cases;
  for (const char* folder : {"a", "b", "c"}) MakeFolder(scratch_ / folder);
  for (size_t i = 0; i < kFiles; ++i) {
    const FileCase& c = kFileCases[i % kCases];
    paths.push_back(scratch_ / (std::string(1, "abc"[i % 3]) + "/" + std::to_string(i) + ".txt"));
    modes.push_back(c.mode);
    cases.push_back(&c);
    WriteBytes(paths.back(), c.input);
  }
  const std::string missing = scratch_ / "a/missing.txt";
  paths.insert(paths.begin() + 5, missing);
  modes.insert(modes.begin() + 5, ModeAutomatic);
  cases.insert(cases.begin() + 5, nullptr);

  {
    ConversionBatch batch;
    ConvertOptions options;
    options.reporter = &reporter_;
    options.mode = ModeLfToCrLf;
    ASSERT_TRUE(batch.Add(paths[0], options));
    ASSERT_TRUE(batch.Add(paths[3], options));
    EXPECT_EQ(ReadBytes(paths[0]), cases[0]->input) << "converted before the batch was committed";
    EXPECT_EQ(batch.Size(), 2u);
    // The temporary files wait beside the files, on Windows in a folder of
    // their own there; on Linux they have no name until their replace.
    std::vector<std::string> extra;
    for (const std::string& name : ListFolder(scratch_ / "a")) {
      if (name.substr(0, 3) == "tmp") extra.push_back(name);
    }
#ifdef _WIN32
    ASSERT_EQ(extra.size(), 1u);
    extra = ListFolder(scratch_ / ("a/" + extra[0]));
    ASSERT_EQ(extra.size(), 2u);
    EXPECT_EQ(extra[0].substr(0, 3), "tmp");
    EXPECT_EQ(extra[1].substr(0, 3), "tmp");
#else
    EXPECT_EQ(extra, std::vector<std::string>{});
#endif
  }
  EXPECT_EQ(ReadBytes(paths[0]), cases[0]->input) << "a dropped batch converted a file";
  EXPECT_EQ(ListFolder(scratch_ / "a").size(), (kFiles + 2) / 3) << "a dropped batch left a file";

  ConversionBatch batch;
  int sends = 0;
  std::vector<bool> finished = ConvertInBatch(batch, paths, modes, reporter_, &sends);
  EXPECT_EQ(finished, std::vector<bool>(kFiles, true));
  EXPECT_EQ(sends, 2);
  EXPECT_EQ(batch.Size(), 0u);
  ASSERT_EQ(reporter_.reports.size(), 1u);
  EXPECT_EQ(reporter_.reports[0], std::make_pair(missing, Errno(ENOENT)));
  for (size_t i = 0; i < paths.size(); ++i) {
    if (cases[i]) {
      EXPECT_EQ(ReadBytes(paths[i]), cases[i]->expected) << paths[i];
    }
  }
  size_t names = 0;
  for (const char* folder : {"a", "b", "c"}) {
    for (const std::string& name : ListFolder(scratch_ / folder)) {
      EXPECT_NE(name.substr(0, 3), "tmp") << name << " left behind";
      ++names;
    }
  }
  EXPECT_EQ(names, kFiles);
}

// What another program does to a file that waits in a batch is not lost: a
// file replaced, a file appended to, a file removed. A batch dropped after
// it was sent leaves every file as it was.
TEST_F(ConvertFileTest, FilesChangedWhileTheyWaitInABatch) {
  const std::string replaced = scratch_ / "replaced.txt";
  const std::string appended = scratch_ / "appended.txt";
  const std::string removed = scratch_ / "removed.txt";
  const std::string untouched = scratch_ / "untouched.txt";
  for (const std::string& path : {replaced, appended, removed, untouched}) WriteBytes(path, "a\n");
  ConvertOptions options;
  options.reporter = &reporter_;
  options.mode = ModeLfToCrLf;
  {
    ConversionBatch batch;
    for (const std::string& path : {replaced, appended, removed, untouched})
      ASSERT_TRUE(batch.Add(path, options));
    batch.Send([](bool) { ADD_FAILURE() << "nothing was sent before"; });
  }
  for (const std::string& path : {replaced, appended, removed, untouched})
    EXPECT_EQ(ReadBytes(path), "a\n");
  EXPECT_EQ(ListFolder(scratch_.path()).size(), 4u);

  ConversionBatch batch;
  for (const std::string& path : {replaced, appended, removed, untouched})
    ASSERT_TRUE(batch.Add(path, options));
  WriteBytes(scratch_ / "new", "b\nc\n");
  RemoveFile(replaced);
  ASSERT_EQ(std::rename((scratch_ / "new").c_str(), replaced.c_str()), 0);
  WriteAt(appended, 2, "more\n");
  RemoveFile(removed);
  std::vector<bool> finished;
  batch.Commit([&finished](bool converted) { finished.push_back(converted); });
  EXPECT_EQ(finished, (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(ReadBytes(replaced), "b\r\nc\r\n");
  EXPECT_EQ(ReadBytes(appended), "a\r\nmore\r\n");
  EXPECT_EQ(ReadBytes(untouched), "a\r\n");
  EXPECT_FALSE(Exists(removed));
  ASSERT_EQ(reporter_.reports.size(), 1u);
  EXPECT_EQ(reporter_.reports[0], std::make_pair(removed, Errno(ENOENT)));
  EXPECT_EQ(ListFolder(scratch_.path()),
            (std::vector<std::string>{"appended.txt", "replaced.txt", "untouched.txt"}));
}

}  // namespace
