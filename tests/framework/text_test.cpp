// The string helpers, the string list and the names the application object
// derives from its executable.
#include <gtest/gtest.h>

#include <string>

#include "framework/text.h"
#include "framework/winapp.h"

namespace {

TEST(StringHelpers, AppendsChainLeftToRight) {
  CString str("x");
  CString& result = str << "File " << 12UL << ": " << "C:\\a&b.txt";
  EXPECT_EQ(&str, &result);
  EXPECT_STREQ("xFile 12: C:\\a&b.txt", str);
}

TEST(StringHelpers, NumbersAppendAsUnsignedDecimal) {
  struct Case {
    int value;
    const char* text;
  } cases[] = {{0, "0"}, {1, "1"}, {-1, "4294967295"}, {2147483647, "2147483647"},
               {-2147483647 - 1, "2147483648"}};
  for (const Case& c : cases) {
    CString str;
    str << c.value;
    EXPECT_STREQ(c.text, str) << c.value;
  }
  CString str;
  str << 4294967295UL << " " << 7u;
  EXPECT_STREQ("4294967295 7", str);
}

TEST(StringHelpers, FormatStringReplacesAndCounts) {
  CString str("old text");
  EXPECT_EQ(3, FormatString(str, "%d%%", 33));
  EXPECT_STREQ("33%", str);
  EXPECT_EQ(4, FormatString(str, "%d%%", 100));
  EXPECT_STREQ("100%", str);
  // Longer output is cut at the buffer's end rather than overrunning it.
  std::string longText(600, 'a');
  EXPECT_EQ(511, FormatString(str, "%s", longText.c_str()));
  EXPECT_EQ(511, str.GetLength());
}

TEST(StringClass, BufferAndParts) {
  CString str("abc");
  char* buffer = str.GetBuffer(10);
  lstrcpyA(buffer, "0123456789");
  str.ReleaseBuffer();
  EXPECT_EQ(10, str.GetLength());
  str.GetBuffer(0)[4] = '\0';
  str.ReleaseBuffer();
  EXPECT_STREQ("0123", str);
  EXPECT_STREQ("01", str.Left(2));
  EXPECT_STREQ("23", str.Mid(2));
  EXPECT_STREQ("3", str.Right(1));
  EXPECT_STREQ("", str.Mid(9));
  CString spaced(" \t\r\n\v\fword \t");
  spaced.TrimLeft();
  EXPECT_STREQ("word \t", spaced);
  EXPECT_TRUE(CString(nullptr).IsEmpty());
  EXPECT_TRUE(CString("a") + "b" == "ab");
}

TEST(StringList, KeepsOrderAndCount) {
  CStringList list;
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(NULL, list.GetHeadPosition());
  const char* paths[] = {"a.txt", "b.txt", "a.txt", ""};
  for (const char* path : paths) list.AddTail(path);
  EXPECT_EQ(4, list.GetCount());
  int i = 0;
  for (POSITION pos = list.GetHeadPosition(); pos != NULL; ++i) {
    ASSERT_LT(i, 4);
    EXPECT_STREQ(paths[i], list.GetNext(pos));
  }
  EXPECT_EQ(4, i);
  EXPECT_STREQ("a.txt", list.GetHead());
  list.RemoveAll();
  EXPECT_EQ(0, list.GetCount());
  EXPECT_EQ(NULL, list.GetHeadPosition());
  list.AddTail("again");
  EXPECT_STREQ("again", list.GetTail());
}

TEST(AppNames, ProfileNameFollowsTheExecutable) {
  struct Case {
    const char* path;
    const char* profile;
  } cases[] = {
      {"C:\\Program Files\\Quenlat\\QUENLAT.EXE", "QUENLAT.INI"},
      {"C:\\tools\\convert.v2.exe", "convert.v2.INI"},
      {"/usr/local/bin/prog.exe", "prog.INI"},
      {"C:prog.exe", "prog.INI"},
      {"QUENLAT.EXE", "QUENLAT.INI"},
      // A dot in a folder's name is not the file's extension.
      {"C:\\my.tools\\prog", "prog.INI"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.profile, ProfileNameFromPath(c.path)) << c.path;
  EXPECT_STREQ("QUENLAT", ExeNameFromPath("C:\\x\\QUENLAT.EXE"));
}

TEST(AppNames, InitialisationFixesNameProfileAndCommandLine) {
  CWinApp* app = AfxGetApp();
  ASSERT_NE(nullptr, app);
  EXPECT_STREQ("Framework Test", app->m_pszAppName);  // string 57344
  EXPECT_STREQ("Framework Test", AfxGetAppName());
  EXPECT_STREQ("framework_test", app->m_pszExeName);
  EXPECT_STREQ("framework_test.INI", app->m_pszProfileName);
  EXPECT_STREQ("args", app->m_lpCmdLine);
  EXPECT_EQ(::GetModuleHandleA(NULL), AfxGetInstanceHandle());
}

TEST(AppNames, NameFallsBackToTheExecutable) {
  // A module without string 57344: its base name stands in.
  CWinApp* app = AfxGetApp();
  HINSTANCE own = app->m_hInstance;
  app->m_hInstance = ::GetModuleHandleA("kernel32.dll");
  app->SetNamesFromModule();
  EXPECT_STREQ("kernel32", app->m_pszAppName);
  EXPECT_STREQ("kernel32.INI", app->m_pszProfileName);
  app->m_hInstance = own;
  app->SetNamesFromModule();
  EXPECT_STREQ("Framework Test", app->m_pszAppName);
}

}  // namespace
