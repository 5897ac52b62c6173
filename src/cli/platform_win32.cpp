#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "convert/convert.h"
#include "platform.h"
#include "win32/file_query.h"
#include "win32/version_data.h"
#include "win32/wide_text.h"

const char kPathSeparator = '\\';

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Sets errno from the last Windows error, with the numbers of the file layer.
bool Fail() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      errno = EPIPE;
      break;
    default:
      errno = EIO;
  }
  return false;
}

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Where the last part of a path starts: after its drive and its last separator.
size_t LastPartStart(const std::string& path) {
  size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  size_t slash = path.find_last_of("\\/");
  return slash != std::string::npos && slash + 1 > start ? slash + 1 : start;
}

// The length of a \\?\ or \??\ prefix that path begins with, or 0. What
// follows one is taken by the system as it is.
size_t VerbatimPrefix(const std::string& path) {
  if (path.size() >= 4 && path[0] == '\\' && (path[1] == '\\' || path[1] == '?') &&
      path[2] == '?' && path[3] == '\\')
    return 4;
  return 0;
}

// The parts of path from start on, each '.' dropped and each ".." taking the
// part before it (never one before keep), appended to *out with '\\' between
// them. A part that ends in a dot or a space keeps it.
void AppendParts(const std::string& path, size_t start, size_t keep, std::string* out) {
  size_t i = start;
  while (i < path.size()) {
    size_t end = i;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string part = path.substr(i, end - i);
    if (part == "..") {
      size_t cut = out->find_last_of('\\');
      out->resize(cut != std::string::npos && cut >= keep ? cut : keep);
    } else if (!part.empty() && part != ".") {
      if (!out->empty() && out->back() != '\\') *out += '\\';
      *out += part;
    }
    i = end + 1;
  }
}

// The name the system is given for path: made absolute against the start-up
// folder, in UTF-16, and after \\?\ where it is a drive path or a share, so
// that a long path and a name that ends in a dot or a space are taken as they
// are, never as another file. False (the last error set) when path names
// nothing: the start-up folder is gone, or path is no UTF-8.
bool SystemPath(const std::string& path, std::wstring* wide) {
  std::string full = VerbatimPrefix(path) ? path : ResolvePath(path);
  if (full.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (!VerbatimPrefix(full)) {
    std::string clean;
    if (full.size() >= 3 && full[1] == ':' && IsSeparator(full[2])) {
      clean = "\\\\?\\" + full.substr(0, 2);
      AppendParts(full, 3, clean.size(), &clean);
      if (clean.size() == 6) clean += '\\';  // the drive's root
      full = clean;
    } else if (full.size() >= 3 && IsSeparator(full[0]) && IsSeparator(full[1]) &&
               full[2] != '.' && full[2] != '?') {
      // \\server\share\...: the share is the root.
      const size_t server = full.find_first_of("\\/", 2);
      size_t share = server == std::string::npos ? server : full.find_first_of("\\/", server + 1);
      if (share == std::string::npos) share = full.size();
      clean = "\\\\?\\UNC\\" + full.substr(2, share - 2);
      std::replace(clean.begin(), clean.end(), '/', '\\');
      AppendParts(full, share + 1, clean.size(), &clean);
      full = clean;
    }
  }
  if (!WideFromUtf8(full, wide)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  return true;
}

// Whether path names one of the system's devices or volumes rather than a
// file in a folder: a \\.\ path, or a \\?\ or \??\ path that names no drive
// path (X:\...) or share (UNC\...). Even opening one may act on the device.
bool NamesDevice(const std::string& path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '.' &&
      IsSeparator(path[3]))
    return true;
  const size_t prefix = VerbatimPrefix(path);
  if (!prefix) return false;
  const std::string rest = path.substr(prefix);
  const bool drive = rest.size() >= 3 && rest[1] == ':' && IsSeparator(rest[2]);
  const bool share = rest.size() >= 4 && (rest[0] | 0x20) == 'u' && (rest[1] | 0x20) == 'n' &&
                     (rest[2] | 0x20) == 'c' && IsSeparator(rest[3]);
  return !drive && !share;
}

// True when a name the system listed holds a separator: joined to its folder
// it would name another file.
bool HoldsSeparator(const wchar_t* name) { return wcspbrk(name, L"\\/") != nullptr; }

// Lists the entries of the folder that wide names (\\?\ form), long names
// only, calling take for each; false (the last error set) when the folder
// cannot be read.
template <typename Take>
bool ListFolder(std::wstring wide, Take take) {
  // "X:" is drive X's current folder, not its root.
  if (wide.empty() || (wide.back() != L'\\' && wide.back() != L':')) wide += L'\\';
  wide += L'*';
  WIN32_FIND_DATAW data;
  // The basic level leaves out short names, which are never matched anyway;
  // systems before Windows 7 know only the standard one.
  HANDLE find = FindFirstFileExW(wide.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, 0);
  if (find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
    find = FindFirstFileExW(wide.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                            nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
    if (HoldsSeparator(data.cFileName)) continue;
    take(data);
  } while (FindNextFileW(find, &data));
  const DWORD error = GetLastError();
  FindClose(find);
  SetLastError(error);
  return error == ERROR_NO_MORE_FILES;
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

bool ReadStandardInput(void* buf, size_t n, size_t* got) {
  DWORD read = 0;
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, static_cast<DWORD>(n), &read, nullptr)) {
    if (GetLastError() != ERROR_BROKEN_PIPE) return Fail();
    read = 0;  // the writing end of a pipe was closed: the end of the input
  }
  *got = read;
  return true;
}

bool WriteStandardOutput(const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(out, p, static_cast<DWORD>(n), &written, nullptr)) return Fail();
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    p += written;
    n -= written;
  }
  return true;
}

namespace {

// The identity of what h is open on; with full, its volume too.
bool IdentityOfHandle(HANDLE h, bool full, FileIdentity* identity) {
  // The index alone costs a tenth of GetFileInformationByHandle under Wine.
  // A file system that answers 0 for every file tells nothing: such a file
  // has no identity, and is never taken for another.
  identity->high = 0;
  if (!full && QueryFileIndex(h, &identity->index)) {
    identity->volume = 0;
    return identity->index != 0;
  }
  // The 128-bit id where the system has it: ReFS numbers files beyond 64 bits.
  if (QueryFileId(h, &identity->volume, &identity->index, &identity->high))
    return identity->index != 0 || identity->high != 0;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return identity->index != 0;
}

bool IdentityOfPath(const std::string& path, bool full, FileIdentity* identity) {
  std::wstring wide;
  if (!SystemPath(path, &wide)) return false;
  HANDLE h = CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = IdentityOfHandle(h, full, identity);
  CloseHandle(h);
  return ok;
}

}  // namespace

PathKind KindOf(const std::string& path, FileIdentity* identity, bool* identified) {
  if (identified) *identified = false;
  if (NamesDevice(path)) return PathOther;
  std::wstring wide;
  if (!SystemPath(path, &wide)) {
    Fail();
    return PathMissing;
  }
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (identity) {
    // One open tells the kind and the identity: a lookup by name is the
    // dearest part of a small file's conversion under Wine.
    HANDLE h = CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      FileTimes times;
      if (QueryFileTimes(h, &times)) attributes = times.attributes;
      if (IdentityOfHandle(h, false, identity) && identified) *identified = true;
      CloseHandle(h);
    }
  }
  // What cannot be opened may still be looked at.
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Fail();
    return PathMissing;
  }
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathFolder : PathFile;
}

bool ReadFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  std::wstring wide;
  if (!SystemPath(folder, &wide)) return Fail();
  entries->clear();
  const bool ok = ListFolder(wide, [entries](const WIN32_FIND_DATAW& data) {
    PathKind kind = PathFile;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or a link to a folder is not followed.
      kind = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? PathOther : PathFolder;
    }
    entries->push_back({Utf8FromWide(data.cFileName, wcslen(data.cFileName)), kind});
  });
  if (!ok) Fail();
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return NameLess(a.name, b.name); });
  return ok;
}

bool NameLess(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return x < y;
  }
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
  return IdentityOfPath(path, true, identity);
}

bool SameFile(const std::string& a, const std::string& b) {
  FileIdentity x, y;
  return IdentityOf(a, &x) && IdentityOf(b, &y) && !(x < y) && !(y < x);
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
        !SystemPath(start > 0 ? arg.substr(0, start) : ".", &folder) ||
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
  return path.find_first_of("*?", VerbatimPrefix(path)) != std::string::npos;
}

std::FILE* OpenForReading(const std::string& path) {
  std::wstring wide;
  if (!SystemPath(path, &wide)) {
    Fail();
    return nullptr;
  }
  std::FILE* f = _wfopen(wide.c_str(), L"rb");
  if (!f) Fail();
  return f;
}

bool WriteText(std::FILE* stream, const std::string& text) {
  const DWORD which = stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  std::wstring wide;
  if ((stream == stdout || stream == stderr) && IsConsole(which) && WideFromUtf8(text, &wide)) {
    std::fflush(stream);
    HANDLE console = GetStdHandle(which);
    for (size_t at = 0; at < wide.size();) {
      DWORD written = 0;
      const DWORD n = static_cast<DWORD>(std::min<size_t>(wide.size() - at, 8192));
      if (!WriteConsoleW(console, wide.data() + at, n, &written, nullptr)) return Fail();
      if (written == 0) {
        errno = EIO;
        return false;
      }
      at += written;
    }
    return true;
  }
  return std::fputs(text.c_str(), stream) != EOF;
}

bool ListText(std::string* bytes) {
  // Windows' editors and shells mark their UTF-8 too.
  if (bytes->compare(0, 3, "\xEF\xBB\xBF") == 0) bytes->erase(0, 3);
  if (bytes->size() < 2) return true;
  const unsigned char b0 = static_cast<unsigned char>((*bytes)[0]);
  const unsigned char b1 = static_cast<unsigned char>((*bytes)[1]);
  const bool little = b0 == 0xFF && b1 == 0xFE, big = b0 == 0xFE && b1 == 0xFF;
  if (!little && !big) return true;
  // Half a unit at the end: the last name would lose its last character and
  // might name another file.
  if (bytes->size() % 2 != 0) {
    errno = EILSEQ;
    return false;
  }
  std::wstring wide;
  wide.reserve(bytes->size() / 2 - 1);
  for (size_t i = 2; i < bytes->size(); i += 2) {
    const unsigned char a = static_cast<unsigned char>((*bytes)[i]);
    const unsigned char b = static_cast<unsigned char>((*bytes)[i + 1]);
    wide.push_back(static_cast<wchar_t>(little ? a | (b << 8) : (a << 8) | b));
  }
  *bytes = Utf8FromWide(wide);
  return true;
}
