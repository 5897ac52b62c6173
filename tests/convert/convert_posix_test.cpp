#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file.h"
#include "support.h"

namespace {

TEST(ConvertPosix, KeepsPermissionBits) {
  ScratchDir scratch;
  CollectingReporter reporter;
  const std::string path = scratch / "script.sh";
  WriteBytes(path, "echo hi\r\n");
  chmod(path.c_str(), 0751);
  ASSERT_TRUE(ConvertWithMode(path, ModeCrLfToLf, reporter));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(ReadBytes(path), "echo hi\n");
}

// A file of another user keeps its owner and group when this process may set
// them (as root).
TEST(ConvertPosix, KeepsOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  ScratchDir scratch;
  CollectingReporter reporter;
  const std::string path = scratch / "theirs.txt";
  WriteBytes(path, "a\r\n");
  ASSERT_EQ(chown(path.c_str(), 12345, 23456), 0);
  ASSERT_TRUE(ConvertWithMode(path, ModeCrLfToLf, reporter));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 12345u);
  EXPECT_EQ(st.st_gid, 23456u);
  EXPECT_EQ(st.st_size, 2);  // converted
}

TEST(ConvertPosix, FollowsASymbolicLinkAndKeepsIt) {
  ScratchDir scratch;
  CollectingReporter reporter;
  MakeFolder(scratch / "real");
  WriteBytes(scratch / "real/target.txt", "a\n");
  ASSERT_EQ(symlink("real/target.txt", (scratch / "link.txt").c_str()), 0);
  ASSERT_TRUE(ConvertWithMode(scratch / "link.txt", ModeLfToCrLf, reporter));
  struct stat st;
  ASSERT_EQ(lstat((scratch / "link.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(scratch / "real/target.txt"), "a\r\n");
  EXPECT_EQ(ListFolder(scratch.path()), (std::vector<std::string>{"link.txt", "real"}));
  EXPECT_EQ(ListFolder(scratch / "real"), std::vector<std::string>{"target.txt"});
}

// A file that waits in a batch is swapped for a symbolic link to another
// file: its name is resolved again, the link's target is converted as any
// link given, and the link stays a link.
TEST(ConvertPosix, FileSwappedForALinkWhileItWaits) {
  ScratchDir scratch;
  CollectingReporter reporter;
  const std::string path = scratch / "f.txt";
  WriteBytes(path, "a\n");
  WriteBytes(scratch / "other.txt", "b\n");
  ConversionBatch batch;
  ConvertOptions options;
  options.reporter = &reporter;
  options.mode = ModeLfToCrLf;
  ASSERT_TRUE(batch.Add(path, options));
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(symlink("other.txt", path.c_str()), 0);
  std::vector<bool> finished;
  batch.Commit([&finished](bool converted) { finished.push_back(converted); });
  EXPECT_EQ(finished, std::vector<bool>{true});
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  EXPECT_EQ(ReadBytes(scratch / "other.txt"), "b\r\n");
  EXPECT_EQ(ListFolder(scratch.path()), (std::vector<std::string>{"f.txt", "other.txt"}));
}

// The folder of a batch's files is moved away and another takes its name:
// the files read from the new one are converted in it, not left failing
// against the folder that the files before them were made in, which a file
// still waiting holds open; the one read before the move is converted where
// it went.
TEST(ConvertPosix, FolderReplacedWhileItsFilesWait) {
  ScratchDir scratch;
  CollectingReporter reporter;
  MakeFolder(scratch / "d");
  WriteBytes(scratch / "d/a.txt", "a\n");
  ConversionBatch batch;
  ConvertOptions options;
  options.reporter = &reporter;
  options.mode = ModeLfToCrLf;
  ASSERT_TRUE(batch.Add(scratch / "d/a.txt", options));
  ASSERT_EQ(rename((scratch / "d").c_str(), (scratch / "moved").c_str()), 0);
  MakeFolder(scratch / "d");
  for (const char* name : {"d/b.txt", "d/c.txt"}) {
    WriteBytes(scratch / name, "b\n");
    ASSERT_TRUE(batch.Add(scratch / name, options));
  }
  std::vector<bool> finished;
  batch.Commit([&finished](bool converted) { finished.push_back(converted); });
  EXPECT_EQ(finished, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(ReadBytes(scratch / "moved/a.txt"), "a\r\n");
  EXPECT_EQ(ReadBytes(scratch / "d/b.txt"), "b\r\n");
  EXPECT_EQ(ReadBytes(scratch / "d/c.txt"), "b\r\n");
  EXPECT_EQ(ListFolder(scratch / "moved"), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(ListFolder(scratch / "d"), (std::vector<std::string>{"b.txt", "c.txt"}));
  EXPECT_TRUE(reporter.reports.empty());
}

TEST(ConvertPosix, ReplacesTheFileInOneStep) {
  // Another program that has the old file open keeps seeing the old content
  // whole; the name moves to the new content at once.
  ScratchDir scratch;
  CollectingReporter reporter;
  const std::string path = scratch / "f.txt";
  WriteBytes(path, "a\nb\n");
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  FILE* reader = fopen(path.c_str(), "rb");
  ASSERT_NE(reader, nullptr);
  ASSERT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter));
  char buf[16] = {};
  EXPECT_EQ(fread(buf, 1, sizeof buf, reader), 4u);
  EXPECT_EQ(std::string(buf), "a\nb\n");
  fclose(reader);
  struct stat after;
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\n");
}

TEST(ConvertPosix, DeferredFolderSyncFlushesTheFoldersAtTheEnd) {
  ScratchDir scratch;
  CollectingReporter reporter;
  DeferredFolderSync deferred;
  MakeFolder(scratch / "a");
  MakeFolder(scratch / "b");
  for (const char* name : {"a/x", "a/y", "b/z"}) {
    WriteBytes(scratch / name, "1\n");
    ASSERT_TRUE(ConvertWithMode(scratch / name, ModeLfToCrLf, reporter, &deferred));
    EXPECT_EQ(ReadBytes(scratch / name), "1\r\n");
  }
  // A folder that is gone by the time of the flush is named; the rest is flushed.
  ASSERT_EQ(unlink((scratch / "b/z").c_str()), 0);
  ASSERT_EQ(rmdir((scratch / "b").c_str()), 0);
  std::optional<FileError> failed = deferred.Flush();
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->code, Errno(ENOENT));
  EXPECT_EQ(failed->path, scratch / "b/");
  EXPECT_FALSE(deferred.Flush());  // flushed folders are forgotten
  EXPECT_TRUE(reporter.reports.empty());
}

// A backslash or a colon is part of a name here, not a separator: the file's
// own folder is the one flushed.
TEST(ConvertPosix, BackslashAndColonAreNameCharacters) {
  ScratchDir scratch;
  CollectingReporter reporter;
  DeferredFolderSync deferred;
  EXPECT_EQ(FolderOf("/a/b\\c"), "/a/");
  EXPECT_EQ(FolderOf("C:x"), "");
  const std::string path = scratch / "back\\slash";
  WriteBytes(path, "1\n");
  ASSERT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter, &deferred));
  EXPECT_EQ(ReadBytes(path), "1\r\n");
  EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"back\\slash"});
  const std::optional<FileError> failed = deferred.Flush();
  EXPECT_FALSE(failed) << failed->path;
}

}  // namespace
