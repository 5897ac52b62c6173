#include <gtest/gtest.h>

#include <string>

#include "file.h"
#include "support.h"

namespace {

// A sparse file past 4 GiB: offsets and sizes must not wrap at 32 bits.
TEST(LargeFile, SparseFileOverFourGiB) {
  ScratchDir scratch(StartupFolder());  // the system's temporary folder may be small
  const std::string path = scratch / "sparse.txt";
  const uint64_t size = (uint64_t(4) << 30) + (uint64_t(256) << 20);
  const uint64_t middle = uint64_t(4) << 30;
  WriteAt(path, 0, "head\r\n");
  WriteAt(path, middle - 1, "\r\nmid\r\n");
  SetSize(path, size);
  WriteAt(path, size - 6, "tail\r\n");

  CollectingReporter reporter;
  ASSERT_TRUE(ConvertWithMode(path, ModeAutomatic, reporter));
  EXPECT_EQ(SizeOf(path), size - 4);
  EXPECT_EQ(ReadAt(path, 0, 5), "head\n");
  EXPECT_EQ(ReadAt(path, middle - 3, 6), std::string("\0\nmid\n", 6));
  EXPECT_EQ(ReadAt(path, size - 9, 5), "tail\n");
}

}  // namespace
