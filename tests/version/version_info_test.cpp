// The version reader on real program files: QUENLAT.EXE and the fixture
// programs, all built next to this test (the full fixture has two
// translations, an entry of length 0 and build flags set; the others lack a
// translation table or a fixed record), a file without version data, a copy
// of the data that fails, and the message boxes of the ErrorMessages switch.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "framework/winapp.h"
#include "ui_support.h"
#include "version/version_info.h"
#include "win32/module_path.h"
#include "version_entries.h"
#include "test_app.h"

// The reader's copies of version data come here first (the linker's
// --wrap); while g_bCopyFails is set they fail as a file that changed
// between the size query and the copy would.
bool g_bCopyFails = false;

extern "C" BOOL WINAPI __real_GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                                  LPVOID lpData);
extern "C" BOOL WINAPI __wrap_GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                                  LPVOID lpData) {
  if (g_bCopyFails) {
    ::SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return FALSE;
  }
  return __real_GetFileVersionInfoA(lptstrFilename, dwHandle, dwLen, lpData);
}

namespace {

TestApp<CWinApp> theApp;

class CopiesFail {
 public:
  CopiesFail() { g_bCopyFails = true; }
  ~CopiesFail() { g_bCopyFails = false; }
};

// Opens the reader's data block to the test.
class ReaderProbe : public CVersionInfo {
 public:
  HGLOBAL Data() const { return m_hVersionData; }
  UINT LockCount() const { return ::GlobalFlags(m_hVersionData) & GMEM_LOCKCOUNT; }
};

std::string TestDirectory() {
  std::string path = ModuleFilePath(NULL);
  return path.substr(0, path.find_last_of('\\') + 1);
}

std::string FixturePath() { return TestDirectory() + "version_fixture.exe"; }
std::string NoTranslationPath() { return TestDirectory() + "version_fixture_no_translation.exe"; }
std::string EmptyTranslationPath() { return TestDirectory() + "version_fixture_empty_translation.exe"; }
std::string NoFixedRecordPath() { return TestDirectory() + "version_fixture_no_fixed.exe"; }

std::string TempFile(const char* name, const std::string& content) {
  char szDir[MAX_PATH];
  ::GetTempPathA(sizeof szDir, szDir);
  std::string path = std::string(szDir) + name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// Each test starts from a scratch profile; WithSwitch writes the
// ErrorMessages entry (NULL: no entry).
class Version : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strSavedProfile = theApp.m_pszProfileName;
    m_profile = TempFile("quenlat_version_test.ini", "");
    theApp.SetProfileName(m_profile.c_str());
  }
  void TearDown() override {
    theApp.SetProfileName(m_strSavedProfile);
    ::DeleteFileA(m_profile.c_str());
  }
  void WithSwitch(const char* value) {
    std::ofstream(m_profile, std::ios::binary)
        << (value != NULL ? std::string("[Debug]\r\nErrorMessages=") + value + "\r\n" : "");
  }

  std::string m_profile;
  CString m_strSavedProfile;
};

TEST(VersionBlockName, LanguageFirstInLowerCaseHex) {
  struct Case {
    DWORD translation;
    const char* name;
  } cases[] = {
      {0x04B00809, "080904b0"},
      {0x04E40409, "040904e4"},
      {0x00000000, "00000000"},
      {0x0001000A, "000a0001"},
      {0xFFFFFFFF, "ffffffff"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.name, VersionBlockName(c.translation)) << std::hex << c.translation;
  }
}

TEST_F(Version, TheProgramsOwnFile) {
  ReaderProbe reader;
  std::string program = TestDirectory() + "QUENLAT.EXE";
  ASSERT_TRUE(reader.LoadFromFile(program.c_str())) << reader.GetLastErrorText();
  ASSERT_NE(nullptr, reader.GetFixedInfo());
  EXPECT_EQ(0u, reader.GetFixedInfo()->dwFileFlags);

  for (const VersionEntry& e : kProgramVersionEntries) {
    CString value;
    EXPECT_TRUE(reader.GetString(value, e.name, 0)) << e.name << ": " << reader.GetLastErrorText();
    if (e.value != NULL) {
      EXPECT_STREQ(e.value, value) << e.name;
    } else {
      EXPECT_FALSE(value.IsEmpty()) << e.name;
    }
  }
  CString value("unchanged");
  EXPECT_FALSE(reader.GetString(value, "ProductName", 1));
  EXPECT_STREQ("Language index out of range", reader.GetLastErrorText());
  EXPECT_FALSE(reader.GetString(value, "Comments", 0));
  EXPECT_STREQ("Version entry [\\StringFileInfo\\080904b0\\Comments] not present",
               reader.GetLastErrorText());
  EXPECT_STREQ("unchanged", value);
  EXPECT_EQ(1u, reader.LockCount());
}

TEST_F(Version, TranslationsEntriesAndTheFixedRecordOfAFile) {
  ReaderProbe reader;
  ASSERT_TRUE(reader.LoadFromFile(FixturePath().c_str())) << reader.GetLastErrorText();
  EXPECT_EQ(1u, reader.LockCount());

  const VS_FIXEDFILEINFO* pInfo = reader.GetFixedInfo();
  ASSERT_NE(nullptr, pInfo);
  EXPECT_EQ(0xFEEF04BDu, pInfo->dwSignature);
  EXPECT_EQ(0x00020003u, pInfo->dwFileVersionMS);
  EXPECT_EQ(0x00040005u, pInfo->dwFileVersionLS);
  EXPECT_EQ(0x3u, pInfo->dwFileFlags);  // as stored, not masked

  struct Case {
    const char* name;
    UINT language;
    BOOL found;
    const char* value;  // what the out text holds afterwards
    const char* error;  // the kept text after a failure
  } cases[] = {
      {"ProductName", 0, TRUE, "Fixture", ""},
      {"ProductName", 1, TRUE, "Fixture (US)", ""},
      {"Comments", 0, TRUE, "", ""},  // present with length 0
      {"Comments", 1, FALSE, "unchanged",
       "Version entry [\\StringFileInfo\\040904e4\\Comments] not present"},
      {"ProductName", 2, FALSE, "unchanged", "Language index out of range"},
      {"ProductName", 0xFFFFFFFF, FALSE, "unchanged", "Language index out of range"},
  };
  for (const Case& c : cases) {
    ReaderProbe fresh;
    ASSERT_TRUE(fresh.LoadFromFile(FixturePath().c_str()));
    CString value("unchanged");
    EXPECT_EQ(c.found, fresh.GetString(value, c.name, c.language) != FALSE)
        << c.name << ' ' << c.language;
    EXPECT_STREQ(c.value, value) << c.name << ' ' << c.language;
    EXPECT_STREQ(c.error, fresh.GetLastErrorText()) << c.name << ' ' << c.language;
    EXPECT_EQ(1u, fresh.LockCount()) << "each query releases its own lock";
  }
}

TEST_F(Version, AFileWithoutVersionData) {
  std::string path = TempFile("quenlat_no_version.txt", "just text\r\n");
  ReaderProbe reader;
  EXPECT_FALSE(reader.LoadFromFile(path.c_str()));
  EXPECT_EQ(path + " does not contain version information",
            std::string(reader.GetLastErrorText()));
  EXPECT_EQ(nullptr, reader.GetFixedInfo());
  EXPECT_EQ(nullptr, reader.Data());
  CString value("unchanged");
  EXPECT_FALSE(reader.GetString(value, "ProductName", 0));
  EXPECT_STREQ("No version info loaded", reader.GetLastErrorText());
  EXPECT_STREQ("unchanged", value);

  // After a good load, a failed one leaves the earlier data in place.
  ASSERT_TRUE(reader.LoadFromFile(FixturePath().c_str()));
  HGLOBAL hData = reader.Data();
  const VS_FIXEDFILEINFO* pInfo = reader.GetFixedInfo();
  EXPECT_FALSE(reader.LoadFromFile(path.c_str()));
  EXPECT_FALSE(reader.LoadFromFile("Z:\\no\\such\\file.exe"));
  EXPECT_STREQ("Z:\\no\\such\\file.exe does not contain version information",
               reader.GetLastErrorText());
  EXPECT_EQ(hData, reader.Data());
  EXPECT_EQ(pInfo, reader.GetFixedInfo());
  EXPECT_EQ(1u, reader.LockCount());
  EXPECT_TRUE(reader.GetString(value, "ProductName", 0));
  EXPECT_STREQ("Fixture", value);
  ::DeleteFileA(path.c_str());
}

TEST_F(Version, DataThatCannotBeUsed) {
  ReaderProbe reader;
  ASSERT_TRUE(reader.LoadFromFile(FixturePath().c_str()));
  HGLOBAL hData = reader.Data();
  const VS_FIXEDFILEINFO* pInfo = reader.GetFixedInfo();
  struct Case {
    const char* kind;
    std::string path;
    bool copyFails;
    std::string error;
  } cases[] = {
      {"no fixed record", NoFixedRecordPath(), false,
       "Couldn't find fixed info block in " + NoFixedRecordPath()},
      {"the copy fails", NoTranslationPath(), true,
       "Failed to load version resource for " + NoTranslationPath()},
  };
  for (const Case& c : cases) {
    std::unique_ptr<CopiesFail> fails(c.copyFails ? new CopiesFail : nullptr);
    EXPECT_FALSE(reader.LoadFromFile(c.path.c_str())) << c.kind;
    EXPECT_EQ(c.error, std::string(reader.GetLastErrorText())) << c.kind;
    // The earlier data is still held, and still answers.
    EXPECT_EQ(hData, reader.Data()) << c.kind;
    EXPECT_EQ(pInfo, reader.GetFixedInfo()) << c.kind;
    EXPECT_EQ(1u, reader.LockCount()) << c.kind;
  }
  CString value;
  EXPECT_TRUE(reader.GetString(value, "ProductName", 0));
  EXPECT_STREQ("Fixture", value);

  // No translation table, or an empty one: the data loads, but no entry
  // can be named.
  for (const std::string& path : {NoTranslationPath(), EmptyTranslationPath()}) {
    ReaderProbe bare;
    ASSERT_TRUE(bare.LoadFromFile(path.c_str())) << bare.GetLastErrorText();
    value = "unchanged";
    EXPECT_FALSE(bare.GetString(value, "ProductName", 0)) << path;
    EXPECT_STREQ("There are no info blocks", bare.GetLastErrorText()) << path;
    EXPECT_STREQ("unchanged", value) << path;
    EXPECT_EQ(1u, bare.LockCount()) << path;
  }
}

// Presses OK on the message boxes of this thread (captioned with the
// application's name) and keeps their texts.
std::vector<std::string> g_boxTexts;

BOOL CALLBACK AnswerBox(HWND hWnd, LPARAM) {
  char szClass[16];
  char szCaption[128];
  ::GetClassNameA(hWnd, szClass, sizeof szClass);
  ::GetWindowTextA(hWnd, szCaption, sizeof szCaption);
  if (lstrcmpA(szClass, "#32770") != 0 || lstrcmpA(szCaption, AfxGetAppName()) != 0 ||
      !::IsWindowVisible(hWnd)) {
    return TRUE;
  }
  // The text, then what the box offers.
  char szText[512];
  ::GetDlgItemTextA(hWnd, 0xFFFF, szText, sizeof szText);
  g_boxTexts.push_back(std::string(szText) + " | " + ui::BoxIcon(hWnd) + " | " + ui::BoxButtons(hWnd));
  ::PostMessageA(hWnd, WM_COMMAND, IDOK, 0);
  return FALSE;
}

void CALLBACK AnswerBoxes(HWND, UINT, UINT_PTR, DWORD) {
  ::EnumThreadWindows(::GetCurrentThreadId(), AnswerBox, 0);
}

TEST_F(Version, TheSwitchShowsEveryFailure) {
  std::string path = TempFile("quenlat_no_version.txt", "");
  struct Case {
    const char* value;  // NULL: no entry
    bool shown;
  } cases[] = {{"ON", true}, {"On", true}, {"1", true},
               {"yes", false}, {"true", false}, {NULL, false}};
  UINT_PTR timer = ::SetTimer(NULL, 0, 20, AnswerBoxes);
  for (const Case& c : cases) {
    WithSwitch(c.value);
    g_boxTexts.clear();
    {
      CVersionInfo reader;
      CString value;
      reader.GetString(value, "ProductName", 0);
      reader.LoadFromFile(path.c_str());
      ASSERT_TRUE(reader.LoadFromFile(FixturePath().c_str()));
      reader.GetString(value, "ProductName", 7);
      reader.GetString(value, "Missing", 0);
      reader.LoadFromFile(NoFixedRecordPath().c_str());
      {
        CopiesFail fails;
        reader.LoadFromFile(FixturePath().c_str());
      }
      CVersionInfo bare;
      ASSERT_TRUE(bare.LoadFromFile(NoTranslationPath().c_str()));
      bare.GetString(value, "ProductName", 0);
    }
    std::vector<std::string> expected;
    if (c.shown) {
      for (const std::string& text :
           {std::string("No version info loaded"), path + " does not contain version information",
            std::string("Language index out of range"),
            std::string("Version entry [\\StringFileInfo\\080904b0\\Missing] not present"),
            "Couldn't find fixed info block in " + NoFixedRecordPath(),
            "Failed to load version resource for " + FixturePath(),
            std::string("There are no info blocks")}) {
        expected.push_back(text + " | exclamation | OK");
      }
    }
    EXPECT_EQ(expected, g_boxTexts) << (c.value ? c.value : "(missing)");
  }
  ::KillTimer(NULL, timer);
  ::DeleteFileA(path.c_str());
}

}  // namespace
