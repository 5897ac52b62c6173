// What a converted file keeps beyond its content on Windows: its hidden,
// system and not-indexed flags and its creation time; the new content is
// marked for archiving. Each is checked where the system keeps it on a file
// at all: Wine keeps the hidden and system flags, but neither the not-indexed
// flag nor a creation time that a program sets.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "file.h"
#include "support.h"

namespace {

FILETIME CreationTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftCreationTime;
}

uint64_t Ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

TEST(MetadataWin32, KeepsFlagsAndCreationTime) {
  const DWORD kFlags =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const struct {
    const char* name;
    DWORD flags;
  } kCases[] = {
      {"hidden", FILE_ATTRIBUTE_HIDDEN},
      {"system", FILE_ATTRIBUTE_SYSTEM},
      {"not_indexed", FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
      {"hidden_and_system", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {"none", 0},
  };
  bool someTimeKept = false;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    CollectingReporter reporter;
    const std::string path = scratch / "f.txt";
    WriteBytes(path, "a\n");
    // A creation time long past, as a file made years before its conversion has.
    FILETIME created;
    SYSTEMTIME day = {2001, 2, 6, 3, 4, 5, 6, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&day, &created));
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileTime(h, &created, nullptr, nullptr));
    CloseHandle(h);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), c.flags ? c.flags : FILE_ATTRIBUTE_NORMAL));
    if ((GetFileAttributesA(path.c_str()) & kFlags) != c.flags) {
      std::printf("%s: the system keeps no such flag on a file\n", c.name);
      continue;
    }
    const bool timeKept = Ticks(CreationTime(path)) == Ticks(created);
    someTimeKept = someTimeKept || timeKept;

    ASSERT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter));
    EXPECT_EQ(ReadBytes(path), "a\r\n");
    const DWORD after = GetFileAttributesA(path.c_str());
    EXPECT_EQ(after & kFlags, c.flags);
    EXPECT_TRUE(after & FILE_ATTRIBUTE_ARCHIVE);
    if (timeKept) {
      EXPECT_EQ(Ticks(CreationTime(path)), Ticks(created));
    }
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
  if (!someTimeKept) std::printf("the system keeps no creation time that a program sets\n");
}

}  // namespace
