// QUENLAT.EXE as a user starts it, with files on its command line or bare,
// driven from this process through its windows.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support.h"
#include "ui_support.h"
#include "version_entries.h"
#include "win32/module_path.h"
#include "win32/wide_text.h"

namespace {

const int kStatusId = 1007;

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('\\') + 1); }

std::string ThisFolder() { return Folder(ModuleFilePath(NULL)); }

std::string Program() { return ThisFolder() + "QUENLAT.EXE"; }

std::string ProfilePath() {
  char dir[MAX_PATH];
  UINT n = ::GetWindowsDirectoryA(dir, sizeof dir);
  return std::string(dir, n) + "\\QUENLAT.INI";
}

// A run of QUENLAT.EXE; killed if a test leaves it running.
class QuenlatRun {
 public:
  // arguments and folder in UTF-8; the program gets them in UTF-16, as
  // Explorer starts it.
  QuenlatRun(const std::string& arguments, const std::string& folder,
             const std::string& exe = Program())
      : m_info() {
    std::wstring cmdLine, program, where;
    if (!WideFromUtf8("\"" + exe + "\" " + arguments, &cmdLine) ||
        !WideFromUtf8(exe, &program) || !WideFromUtf8(folder, &where)) {
      return;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    m_started = ::CreateProcessW(program.c_str(), &cmdLine[0], NULL, NULL, FALSE, 0, NULL,
                                 where.c_str(), &startup, &m_info) != FALSE;
  }
  ~QuenlatRun() {
    if (!m_started) return;
    if (::WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(m_info.hProcess, 99);
    }
    ::CloseHandle(m_info.hThread);
    ::CloseHandle(m_info.hProcess);
  }
  bool started() const { return m_started; }
  HWND Dialog(const char* caption = "Translate Linebreaks") const {
    return ui::WaitForDialog(caption, 0, m_info.dwProcessId);
  }
  // The exit code, or -1 while the program is still running after the time.
  long ExitCode() const {
    DWORD code = 0;
    if (::WaitForSingleObject(m_info.hProcess, ui::kTimeoutMs) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(m_info.hProcess, &code)) {
      return -1;
    }
    return static_cast<long>(code);
  }

 private:
  PROCESS_INFORMATION m_info;
  bool m_started = false;
};

TEST(QuenlatExe, ConvertsTheFilesOnItsCommandLineAndExitsWithZero) {
  ScratchDir scratch;
  MakeFolder(scratch / "other");
  std::string first = scratch / "other\\first.txt";
  WriteBytes(first, "a\nb\n");
  WriteBytes(scratch / "second.txt", "c\r\nd\r\n");
  ::DeleteFileA(ProfilePath().c_str());

  // The relative path names a file in the folder the program starts in,
  // even after the first file has taken the program into another folder.
  QuenlatRun run(first + " second.txt", scratch.path());
  ASSERT_TRUE(run.started()) << Program();
  HWND hDlg = run.Dialog();
  ASSERT_NE(nullptr, hDlg);
  EXPECT_EQ(nullptr, ::GetWindow(hDlg, GW_OWNER));
  EXPECT_EQ("2 file(s) to convert...", ui::ItemText(hDlg, kStatusId));
  ui::Click(hDlg, IDOK);
  EXPECT_TRUE(ui::WaitForItemText(hDlg, kStatusId, "2 files converted."));
  ui::Click(hDlg, IDCANCEL);
  EXPECT_EQ(0, run.ExitCode());

  EXPECT_EQ("a\r\nb\r\n", ReadBytes(first));
  EXPECT_EQ("c\nd\n", ReadBytes(scratch / "second.txt"));
  EXPECT_EQ((std::vector<std::string>{"first.txt"}), ListFolder(scratch / "other"));
  std::string profile = ReadBytes(ProfilePath());
  EXPECT_NE(std::string::npos, profile.find("[Options]")) << profile;
  EXPECT_NE(std::string::npos, profile.find("TransMode=0")) << profile;
}

// Explorer's Send To (and a drop on the program's icon) quotes each path
// that holds a blank.
TEST(QuenlatExe, ConvertsQuotedPathsWithBlanksAsSendToPassesThem) {
  ScratchDir scratch;
  MakeFolder(scratch / "My Files");
  const std::string first = scratch / "My Files\\first one.txt";
  // A name that no ANSI code page holds whole.
  const std::string second = scratch / "\xC5\x8Csaka  \xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";
  WriteBytes(first, "a\r\nb\r\n");
  WriteBytes(second, "c\nd\n");
  QuenlatRun run("\"" + first + "\" \"" + second + "\"", scratch.path());
  ASSERT_TRUE(run.started()) << Program();
  HWND hDlg = run.Dialog();
  ASSERT_NE(nullptr, hDlg);
  EXPECT_EQ("2 file(s) to convert...", ui::ItemText(hDlg, kStatusId));
  ui::Click(hDlg, IDOK);
  EXPECT_TRUE(ui::WaitForItemText(hDlg, kStatusId, "2 files converted."));
  ui::Click(hDlg, IDCANCEL);
  EXPECT_EQ(0, run.ExitCode());
  EXPECT_EQ("a\nb\n", ReadBytes(first));
  EXPECT_EQ("c\r\nd\r\n", ReadBytes(second));
  EXPECT_EQ((std::vector<std::string>{"first one.txt"}), ListFolder(scratch / "My Files"));
}

TEST(QuenlatExe, ClosedWithoutConvertingItChangesNothingAndExitsWithZero) {
  ScratchDir scratch;
  WriteBytes(scratch / "a.txt", "a\n");
  ::DeleteFileA(ProfilePath().c_str());
  QuenlatRun run("a.txt missing.txt", scratch.path());
  ASSERT_TRUE(run.started());
  HWND hDlg = run.Dialog();
  ASSERT_NE(nullptr, hDlg);
  EXPECT_EQ("2 file(s) to convert...", ui::ItemText(hDlg, kStatusId));
  ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
  EXPECT_EQ(0, run.ExitCode());
  EXPECT_EQ("a\n", ReadBytes(scratch / "a.txt"));
  EXPECT_FALSE(Exists(ProfilePath()));
}

// Also from a folder whose name the code page cannot hold, where the version
// is read from the program's file found by its UTF-16 name.
TEST(QuenlatExe, StartedBareItShowsTheMainWindowAndItsAboutBox) {
  ScratchDir scratch;
  const std::string elsewhere = scratch / "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82\xD1\x8B";
  MakeFolder(elsewhere);
  std::wstring from, to;
  ASSERT_TRUE(WideFromUtf8(Program(), &from) && WideFromUtf8(elsewhere + "\\QUENLAT.EXE", &to));
  ASSERT_TRUE(::CopyFileW(from.c_str(), to.c_str(), TRUE));
  for (const std::string& exe : {Program(), elsewhere + "\\QUENLAT.EXE"}) {
    SCOPED_TRACE(exe);
    ::DeleteFileA(ProfilePath().c_str());
    QuenlatRun run("", scratch.path(), exe);
    ASSERT_TRUE(run.started());
    HWND hMain = run.Dialog("Quenlat");
    ASSERT_NE(nullptr, hMain);
    EXPECT_EQ("Auto Minimize", ui::ItemText(hMain, 1000));
    // First run: the option is on, so the window opens minimised.
    EXPECT_TRUE(ui::WaitUntil([&] { return ::IsIconic(hMain) != FALSE; }, 5000));
    EXPECT_EQ(BST_CHECKED, ui::CheckState(hMain, 1000));

    ui::Click(hMain, 1008);
    HWND hAbout = run.Dialog("About Quenlat");
    ASSERT_NE(nullptr, hAbout);
    EXPECT_EQ(hMain, ::GetWindow(hAbout, GW_OWNER));
    EXPECT_EQ("Quenlat", ui::ItemText(hAbout, 1008));
    EXPECT_EQ("Version 1.1", ui::ItemText(hAbout, 1006));
    EXPECT_NE("", ui::ItemText(hAbout, 1007));
    EXPECT_EQ("Release Build", ui::ItemText(hAbout, 105));
    ui::Click(hAbout, IDCANCEL);
    EXPECT_TRUE(ui::WaitUntil([&] { return !::IsWindow(hAbout); }));

    ::PostMessageA(hMain, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, run.ExitCode());
    EXPECT_FALSE(Exists(ProfilePath())) << "opening and closing writes nothing";
  }
}

// The application manifest, as the system reads it when the program starts.
TEST(QuenlatExe, CarriesAManifestForTheRightsOfItsUserTodaysWindowsAndTheSystemsDpi) {
  HMODULE hExe = ::LoadLibraryExA(Program().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, hExe);
  HRSRC hRes = ::FindResourceA(hExe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(nullptr, hRes);
  const char* pData = static_cast<const char*>(::LockResource(::LoadResource(hExe, hRes)));
  std::string manifest(pData, ::SizeofResource(hExe, hRes));
  ::FreeLibrary(hExe);
  for (const char* part : {
           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
           "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
           "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
           "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
           "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10 and 11
           ">true</dpiAware>", ">system</dpiAwareness>"}) {
    EXPECT_NE(std::string::npos, manifest.find(part)) << part;
  }
  // The classic controls: no visual styles, so no dependency at all.
  EXPECT_EQ(std::string::npos, manifest.find("<dependency")) << manifest;

  // The system reads it as it does when it starts the program: it is well
  // formed, asks for the user's own rights and for the system's DPI.
  ACTCTXA actCtx = {};
  actCtx.cbSize = sizeof actCtx;
  actCtx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  const std::string program = Program();
  actCtx.lpSource = program.c_str();
  actCtx.lpResourceName = MAKEINTRESOURCEA(1);
  HANDLE hActCtx = ::CreateActCtxA(&actCtx);
  ASSERT_NE(INVALID_HANDLE_VALUE, hActCtx) << ::GetLastError();
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel = {};
  SIZE_T size = 0;
  ASSERT_TRUE(::QueryActCtxW(0, hActCtx, NULL, RunlevelInformationInActivationContext, &runLevel,
                             sizeof runLevel, &size));
  EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, runLevel.RunLevel);
  EXPECT_EQ(0u, runLevel.UiAccess);
  typedef BOOL(WINAPI * QuerySettingsFn)(DWORD, HANDLE, PCWSTR, PCWSTR, PWSTR, SIZE_T, SIZE_T*);
  QuerySettingsFn querySettings = reinterpret_cast<QuerySettingsFn>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW")));
  if (querySettings != NULL) {
    struct Setting {
      const wchar_t* nameSpace;
      const wchar_t* name;
      const wchar_t* value;
    } settings[] = {
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true"},
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"system"},
    };
    for (const Setting& setting : settings) {
      wchar_t value[64] = L"";
      EXPECT_TRUE(querySettings(0, hActCtx, setting.nameSpace, setting.name, value, 64, &size));
      EXPECT_STREQ(setting.value, value);
    }
  }
  ::ReleaseActCtx(hActCtx);
}

// The program's own resources, as the About box and the framework read them.
TEST(QuenlatExe, CarriesItsNameAndVersion) {
  HMODULE hExe = ::LoadLibraryExA(Program().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, hExe);
  char name[64] = "";
  EXPECT_LT(0, ::LoadStringA(hExe, 57344, name, sizeof name));
  EXPECT_STREQ("Quenlat", name);
  ::FreeLibrary(hExe);

  DWORD handle = 0;
  DWORD size = ::GetFileVersionInfoSizeA(Program().c_str(), &handle);
  ASSERT_LT(0u, size);
  std::string data(size, '\0');
  ASSERT_TRUE(::GetFileVersionInfoA(Program().c_str(), handle, size, &data[0]));
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueA(&data[0], "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
  EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
  EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
  EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);
  EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
  EXPECT_EQ(0u, fixed->dwFileFlags);
  EXPECT_EQ(0x00040004u, fixed->dwFileOS);
  EXPECT_EQ(1u, fixed->dwFileType);

  DWORD* translations = NULL;
  ASSERT_TRUE(::VerQueryValueA(&data[0], "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translations), &length));
  ASSERT_EQ(4u, length);
  EXPECT_EQ(0x04B00809u, translations[0]);

  for (const VersionEntry& e : kProgramVersionEntries) {
    char* value = NULL;
    std::string path = std::string("\\StringFileInfo\\080904b0\\") + e.name;
    ASSERT_TRUE(::VerQueryValueA(&data[0], path.c_str(), reinterpret_cast<void**>(&value), &length))
        << e.name;
    if (e.value != NULL) {
      EXPECT_STREQ(e.value, value) << e.name;
    } else {
      EXPECT_STRNE("", value) << e.name;
    }
  }
}

}  // namespace
