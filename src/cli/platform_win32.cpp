#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "convert/file.h"
#include "convert/file_win32.h"
#include "convert/folder.h"
#include "platform.h"
#include "win32/file_query.h"
#include "win32/version_data.h"
#include "win32/wide_text.h"

namespace {

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// Where the last part of a path starts: after its drive and its last separator.
size_t LastPartStart(const std::string& path) {
  size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  size_t slash = path.find_last_of("\\/");
  return slash != std::string::npos && slash + 1 > start ? slash + 1 : start;
}

// The name the system is given for path, made absolute against the start-up
// folder as the engine makes it.
std::error_code SystemPath(const std::string& path, std::wstring* wide) {
  return SystemName(IsVerbatim(path) ? path : ResolvePath(path), wide);
}

}  // namespace

bool StandardErrorIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

bool StandardInputIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return 80;
}

// Read back from the version resource linked into this program.
bool ReadProgramVersion(std::string* name, std::string* version, std::string* copyright) {
  // The program's own path in UTF-16: in ANSI a folder's name outside the
  // code page would name no file, or another one.
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(NULL, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return false;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.data(), &handle);
  if (size == 0) return false;
  std::vector<char> data(size);
  if (!GetFileVersionInfoW(path.data(), handle, size, data.data())) return false;
  // An empty entry counts as missing: the tool would print nothing there.
  const auto entry = [&data](const char* entryName, std::string* value) {
    return LookUpVersionString(data.data(), 0, entryName, value) == kVersionStringFound &&
           !value->empty();
  };
  return entry("ProductName", name) && entry("ProductVersion", version) &&
         entry("LegalCopyright", copyright);
}

std::error_code ReadStandardInput(void* buf, size_t n, size_t* got) {
  return ReadSome(GetStdHandle(STD_INPUT_HANDLE), buf, n, got);
}

std::error_code WriteStandardOutput(const void* buf, size_t n) {
  return WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), buf, n);
}

namespace {

typedef int(WINAPI* CompareOrdinal)(const wchar_t*, int, const wchar_t*, int, BOOL);

// Windows Vista's comparison of names as the file systems make them, without
// case; nullptr before it.
CompareOrdinal CompareOrdinalFunction() {
  static const CompareOrdinal compare = reinterpret_cast<CompareOrdinal>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "CompareStringOrdinal")));
  return compare;
}

// The number of units of the character at s[i]: 2 for a surrogate pair.
size_t CharacterUnits(const std::wstring& s, size_t i) {
  return i + 1 < s.size() && s[i] >= 0xD800 && s[i] <= 0xDBFF && s[i + 1] >= 0xDC00 &&
                 s[i + 1] <= 0xDFFF
             ? 2
             : 1;
}

// Whether the characters of a units at a and b units at b are one letter
// without regard to case.
bool SameCharacter(const wchar_t* a, size_t an, const wchar_t* b, size_t bn) {
  if (an == bn && std::equal(a, a + an, b)) return true;
  if (CompareOrdinal compare = CompareOrdinalFunction())
    return compare(a, static_cast<int>(an), b, static_cast<int>(bn), TRUE) == CSTR_EQUAL;
  if (an != 1 || bn != 1) return false;
  wchar_t x = *a, y = *b;
  CharUpperBuffW(&x, 1);
  CharUpperBuffW(&y, 1);
  return x == y;
}

// Whether name matches pattern, where '*' stands for any characters and '?'
// for one, letters compared without case.
bool Matches(const std::wstring& pattern, const std::wstring& name) {
  // "*.*" has always meant every name, those without a dot too.
  if (pattern == L"*.*") return true;
  size_t p = 0, n = 0;
  size_t starP = std::wstring::npos, starN = 0;  // after the last '*', and where it stands
  while (n < name.size()) {
    const size_t nu = CharacterUnits(name, n);
    if (p < pattern.size() && pattern[p] == L'*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pattern.size()) {
      const size_t pu = CharacterUnits(pattern, p);
      if (pattern[p] == L'?' || SameCharacter(&pattern[p], pu, &name[n], nu)) {
        p += pu;
        n += nu;
        continue;
      }
    }
    if (starP == std::wstring::npos) return false;
    // The last '*' takes one more character.
    p = starP;
    starN += CharacterUnits(name, starN);
    n = starN;
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

}  // namespace

std::vector<std::string> ExpandWildcards(std::vector<std::string> args) {
  std::vector<std::string> result;
  for (const std::string& arg : args) {
    const size_t start = LastPartStart(arg);
    std::wstring folder, pattern;
    if (arg.find_first_of("*?", start) == std::string::npos ||
        SystemPath(start > 0 ? arg.substr(0, start) : ".", &folder) ||
        !WideFromUtf8(arg.substr(start), &pattern)) {
      result.push_back(arg);
      continue;
    }
    // Hidden and system files are left out, as the system's own commands do.
    std::vector<std::string> names;
    ListFolder(folder, [&](const WIN32_FIND_DATAW& data) {
      if (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) return;
      if (Matches(pattern, data.cFileName))
        names.push_back(Utf8FromWide(data.cFileName, wcslen(data.cFileName)));
    });
    if (names.empty()) {
      result.push_back(arg);  // reported as missing, under the name given
      continue;
    }
    std::sort(names.begin(), names.end(), NameLess);
    for (const std::string& name : names) result.push_back(arg.substr(0, start) + name);
  }
  return result;
}

// Windows gives a console program its standard handles as they are: nothing
// to prepare.
void PrepareProcess() {}

bool HoldsWildcard(const std::string& path) {
  return path.find_first_of("*?", IsVerbatim(path) ? 4 : 0) != std::string::npos;
}

std::FILE* OpenForReading(const std::string& path, std::error_code* error) {
  std::wstring wide;
  if ((*error = SystemPath(path, &wide))) return nullptr;
  std::FILE* f = _wfopen(wide.c_str(), L"rb");
  if (!f) *error = LastSystemError();
  return f;
}

std::error_code WriteText(std::FILE* stream, const std::string& text) {
  const DWORD which = stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  std::wstring wide;
  if ((stream == stdout || stream == stderr) && IsConsole(which) && WideFromUtf8(text, &wide)) {
    std::fflush(stream);
    HANDLE console = GetStdHandle(which);
    for (size_t at = 0; at < wide.size();) {
      DWORD written = 0;
      const DWORD n = static_cast<DWORD>(std::min<size_t>(wide.size() - at, 8192));
      if (!WriteConsoleW(console, wide.data() + at, n, &written, nullptr)) return LastSystemError();
      if (written == 0) return Errno(EIO);
      at += written;
    }
    return {};
  }
  errno = 0;
  if (std::fputs(text.c_str(), stream) != EOF) return {};
  return Errno(errno != 0 ? errno : EIO);
}
