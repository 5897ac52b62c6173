// The files a run has done, by quick identity: each found again among many,
// past the index's growth, and only under a name that is that very file.
#include <gtest/gtest.h>

#include <string>

#include "done_set.h"
#include "support.h"

namespace {

FileIdentity Identity(uint64_t volume, uint64_t index) {
  FileIdentity identity;
  identity.volume = volume;
  identity.index = index;
  return identity;
}

TEST(DoneSet, FindsTheFileUnderItsLatestName) {
  ScratchDir folder;
  const std::string a = folder / "a", b = folder / "b", gone = folder / "gone";
  const std::string aAgain = folder / ("." + std::string(1, folder.path().back()) + "a");
  WriteBytes(a, "a\n");
  WriteBytes(b, "b\n");
  // Two files with one quick identity (Windows' file index without its
  // volume), many others around them on two volumes, each index growth
  // rehashing them all.
  const FileIdentity shared = Identity(7, 42);
  DoneSet done;
  std::string name;
  EXPECT_FALSE(done.Find(shared, a, &name));
  for (uint64_t i = 0; i < 5000; ++i) done.Add(Identity(i % 2, i), gone + std::to_string(i));
  done.Add(shared, a);
  for (uint64_t i = 5000; i < 10000; ++i) done.Add(Identity(i % 2, i), gone + std::to_string(i));
  done.Add(shared, b);
  done.Add(shared, aAgain);  // a again, by another spelling

  ASSERT_TRUE(done.Find(shared, b, &name));
  EXPECT_EQ(name, b);
  ASSERT_TRUE(done.Find(shared, a, &name));
  EXPECT_EQ(name, aAgain);
  // The same index on another volume is another file.
  EXPECT_FALSE(done.Find(Identity(8, 42), a, &name));
  // Files that are no longer there are no one's.
  EXPECT_FALSE(done.Find(Identity(1, 4999), gone + "4999", &name));
}

}  // namespace
