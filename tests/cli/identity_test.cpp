// What tells two files apart: a file's identity, with made-up device (or
// volume) and inode (or file index) numbers.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "convert/file.h"

namespace {

TEST(FileIdentity, BothNumbersTellFilesApart) {
  const uint64_t kHigh = uint64_t(1) << 40;  // past 32 bits, where a narrowing would cut
  const FileIdentity ids[] = {
      {1, 7},  {2, 7},          // one index on two volumes
      {1, 8},                   // another index on the first
      {kHigh + 1, 7}, {1, kHigh + 7},  // only the high bits differ from {1, 7}
      {0, 0},  {UINT64_MAX, UINT64_MAX}, {7, 1},  // the numbers swapped
#ifdef _WIN32
      // 128-bit ids (ReFS) whose lower halves are those of {1, 7}.
      {1, 7, 1}, {1, 7, kHigh}, {2, 7, 1},
#endif
  };
  const size_t n = sizeof ids / sizeof ids[0];
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      const bool same = !(ids[i] < ids[j]) && !(ids[j] < ids[i]);
      EXPECT_EQ(ids[i] == ids[j], same);
      EXPECT_EQ(same, i == j) << "{" << ids[i].volume << ", " << ids[i].index << "} and {"
                              << ids[j].volume << ", " << ids[j].index << "}";
    }
  }
  // An order a set can keep: each identity once, found again.
  const std::set<FileIdentity> kept(ids, ids + n);
  EXPECT_EQ(kept.size(), n);
  for (const FileIdentity& id : ids) EXPECT_EQ(kept.count(id), 1u);
}

}  // namespace
