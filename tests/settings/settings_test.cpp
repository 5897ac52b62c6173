// The settings store: yes/no words, integer and text entries, all read
// afresh from the profile file and written to it at once.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/profile_app.h"
#include "settings/settings.h"
#include "test_app.h"

namespace {

TestApp<CProfileApp> theApp;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Each test works on its own scratch profile file, written by hand where a
// test needs particular content.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[MAX_PATH];
    ::GetTempPathA(sizeof dir, dir);
    m_path = std::string(dir) + "quenlat_settings_test.ini";
    ::DeleteFileA(m_path.c_str());
    m_savedName = theApp.m_pszProfileName;
    theApp.SetProfileName(m_path.c_str());
  }
  void TearDown() override {
    ::DeleteFileA(m_path.c_str());
    theApp.SetProfileName(m_savedName);
  }
  void WriteProfile(const std::string& text) {
    std::ofstream(m_path, std::ios::binary) << text;
  }

  std::string m_path;
  CString m_savedName;
};

TEST_F(Settings, BoolWordsReadWithTheirDefaults) {
  struct Case {
    const char* line;  // the entry as it stands in the file; NULL: missing
    BOOL defaultValue;
    BOOL expected;
  } cases[] = {
      {"AutoMinimize=YES", FALSE, 1}, {"AutoMinimize=On", FALSE, 1},
      {"AutoMinimize=1", FALSE, 1},   {"AutoMinimize=yes", FALSE, 1},
      {"AutoMinimize=No", TRUE, 0},   {"AutoMinimize=OFF", TRUE, 0},
      {"AutoMinimize=0", TRUE, 0},    {"AutoMinimize=true", TRUE, 0},
      {"AutoMinimize=2", TRUE, 0},    {"AutoMinimize=", TRUE, TRUE},
      {"AutoMinimize=", FALSE, FALSE}, {NULL, TRUE, TRUE},
      {NULL, 7, 7},  // the caller's default comes back unchanged
  };
  for (const Case& c : cases) {
    WriteProfile(std::string("[Options]\r\n") + (c.line ? c.line : "Other=1") + "\r\n");
    EXPECT_EQ(c.expected, theApp.GetProfileBool("Options", "AutoMinimize", c.defaultValue))
        << (c.line ? c.line : "(missing)") << ", default " << c.defaultValue;
  }
}

TEST_F(Settings, BoolWordsWrittenInLowerCase) {
  EXPECT_TRUE(theApp.WriteProfileBool("Options", "AutoMinimize", FALSE));
  EXPECT_NE(std::string::npos, ReadFile(m_path).find("AutoMinimize=no"));
  EXPECT_FALSE(theApp.GetProfileBool("Options", "AutoMinimize", TRUE));
  EXPECT_TRUE(theApp.WriteProfileBool("Options", "AutoMinimize", 42));
  std::string content = ReadFile(m_path);
  EXPECT_NE(std::string::npos, content.find("[Options]"));
  EXPECT_NE(std::string::npos, content.find("AutoMinimize=yes"));
  EXPECT_EQ(std::string::npos, content.find("AutoMinimize=no"));
  EXPECT_TRUE(theApp.GetProfileBool("Options", "AutoMinimize", FALSE));
}

TEST_F(Settings, LookupLowerCasesInPlaceAndMatchesWholeWords) {
  struct Case {
    const char* word;
    int value;
    const char* after;
  } cases[] = {{"YeS", 1, "yes"}, {"ON", 1, "on"},   {"1", 1, "1"},     {"NO", 0, "no"},
               {"off", 0, "off"}, {"0", 0, "0"},     {"yes ", 0, "yes "}, {"y", 0, "y"},
               {"", 0, ""},       {"TRUE", 0, "true"}};
  for (const Case& c : cases) {
    CString text(c.word);
    EXPECT_EQ(c.value, LookupBoolWord(text)) << c.word;
    EXPECT_STREQ(c.after, text) << c.word;
  }
}

TEST(IsSwitchOn, OnlyOnAndOneInAnyCase) {
  struct Case {
    const char* text;
    BOOL on;
  } cases[] = {
      {"on", TRUE},   {"ON", TRUE},   {"On", TRUE},  {"1", TRUE},     {"", FALSE},
      {"yes", FALSE}, {"true", FALSE}, {"0", FALSE}, {"off", FALSE},  {" on", FALSE},
      {"on ", FALSE}, {"11", FALSE},   {"onn", FALSE},
  };
  for (const Case& c : cases) {
    CString text(c.text);
    EXPECT_EQ(c.on, IsSwitchOn(text)) << '"' << c.text << '"';
  }
  CString mixed("OnE");
  IsSwitchOn(mixed);
  EXPECT_STREQ("one", mixed);  // lower-cased in place
}

TEST_F(Settings, IntegerEntries) {
  EXPECT_EQ(0, theApp.GetProfileInt("Options", "TransMode", 0));
  EXPECT_EQ(5, theApp.GetProfileInt("Options", "TransMode", 5));
  EXPECT_TRUE(theApp.WriteProfileInt("Options", "TransMode", -1));
  EXPECT_NE(std::string::npos, ReadFile(m_path).find("TransMode=-1"));
  EXPECT_EQ(-1, theApp.GetProfileInt("Options", "TransMode", 0));
  // A change by hand shows at the next read.
  WriteProfile("[Options]\r\nTransMode=2\r\n");
  EXPECT_EQ(2, theApp.GetProfileInt("Options", "TransMode", 0));
}

TEST_F(Settings, TextEntries) {
  EXPECT_STREQ("", theApp.GetProfileString("Debug", "ErrorMessages"));
  EXPECT_STREQ("dflt", theApp.GetProfileString("Debug", "ErrorMessages", "dflt"));
  EXPECT_TRUE(theApp.WriteProfileString("Debug", "ErrorMessages", "On"));
  EXPECT_STREQ("On", theApp.GetProfileString("Debug", "ErrorMessages", "dflt"));
  // A long value is cut at 4095 characters.
  WriteProfile("[Debug]\r\nErrorMessages=" + std::string(5000, 'x') + "\r\n");
  CString value = theApp.GetProfileString("Debug", "ErrorMessages");
  EXPECT_EQ(4095, value.GetLength());
}

TEST_F(Settings, FailedWritesReportFalse) {
  theApp.SetProfileName("Z:\\no\\such\\folder\\anywhere\\x.ini");
  EXPECT_FALSE(theApp.WriteProfileBool("Options", "AutoMinimize", TRUE));
  EXPECT_FALSE(theApp.WriteProfileInt("Options", "TransMode", 1));
  EXPECT_TRUE(theApp.GetProfileBool("Options", "AutoMinimize", TRUE));
}

TEST(SettingsPlace, TheProgramsProfileLiesInTheWindowsDirectory) {
  EXPECT_STREQ("settings_test.INI", theApp.m_pszProfileName);
  char dir[MAX_PATH];
  ::GetWindowsDirectoryA(dir, sizeof dir);
  std::string path = std::string(dir) + "\\settings_test.INI";
  ::DeleteFileA(path.c_str());
  EXPECT_TRUE(theApp.WriteProfileBool("Options", "AutoMinimize", FALSE));
  EXPECT_NE(std::string::npos, ReadFile(path).find("AutoMinimize=no"));
  EXPECT_TRUE(::DeleteFileA(path.c_str()));
  EXPECT_EQ(0, theApp.ExitInstance());
  EXPECT_TRUE(theApp.InitInstance());
}

}  // namespace
