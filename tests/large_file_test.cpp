#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "file.h"
#include "support.h"

namespace {

void PutAt(int fd, off_t at, const std::string& bytes) {
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
}

std::string GetAt(int fd, off_t at, size_t n) {
  std::string bytes(n, '\0');
  bytes.resize(static_cast<size_t>(pread(fd, &bytes[0], n, at)));
  return bytes;
}

// A sparse file past 4 GiB: offsets and sizes must not wrap at 32 bits.
TEST(LargeFile, SparseFileOverFourGiB) {
  ScratchDir scratch(StartupDirectory());  // /tmp may be a small tmpfs
  const std::string path = scratch / "sparse.txt";
  const off_t size = (off_t(4) << 30) + (off_t(256) << 20);
  const off_t middle = off_t(4) << 30;
  {
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    PutAt(fd, 0, "head\r\n");
    PutAt(fd, middle - 1, "\r\nmid\r\n");
    ASSERT_EQ(ftruncate(fd, size), 0);
    PutAt(fd, size - 6, "tail\r\n");
    close(fd);
  }
  CollectingReporter reporter;
  ASSERT_TRUE(ConvertFile(path, ModeAutomatic, reporter));
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(lseek(fd, 0, SEEK_END), size - 4);
  EXPECT_EQ(GetAt(fd, 0, 5), "head\n");
  EXPECT_EQ(GetAt(fd, middle - 3, 6), std::string("\0\nmid\n", 6));
  EXPECT_EQ(GetAt(fd, size - 9, 5), "tail\n");
  close(fd);
}

}  // namespace
