#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform.h"
#include "win32/file_query.h"
#include "win32/module_path.h"
#include "win32/version_data.h"

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

// Where the last part of a path starts: after its drive and its last separator.
size_t LastPartStart(const std::string& path) {
  size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  size_t slash = path.find_last_of("\\/");
  return slash != std::string::npos && slash + 1 > start ? slash + 1 : start;
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
  std::vector<char> data;
  if (!ReadVersionData(ModuleFilePath(NULL), &data)) return false;
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
  HANDLE h = CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = IdentityOfHandle(h, full, identity);
  CloseHandle(h);
  return ok;
}

}  // namespace

PathKind KindOf(const std::string& path, FileIdentity* identity, bool* identified) {
  if (identified) *identified = false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Fail();
    return PathMissing;
  }
  if (identity && IdentityOfPath(path, false, identity) && identified) *identified = true;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathFolder : PathFile;
}

bool ReadFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  const bool bare = folder.empty() || LastPartStart(folder) == folder.size();
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((bare ? folder + "*" : folder + kPathSeparator + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return Fail();
  entries->clear();
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    PathKind kind = PathFile;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or a link to a folder is not followed.
      kind = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? PathOther : PathFolder;
    }
    entries->push_back({name, kind});
  } while (FindNextFileA(find, &data));
  const bool ok = GetLastError() == ERROR_NO_MORE_FILES || Fail();
  FindClose(find);
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

std::vector<std::string> ExpandWildcards(std::vector<std::string> args) {
  std::vector<std::string> result;
  for (const std::string& arg : args) {
    const size_t start = LastPartStart(arg);
    if (arg.find_first_of("*?", start) == std::string::npos) {
      result.push_back(arg);
      continue;
    }
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(arg.c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
      } while (FindNextFileA(find, &data));
      FindClose(find);
    }
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
