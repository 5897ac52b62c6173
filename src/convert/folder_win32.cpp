// Folders on Windows: a walk's folders are not held open; each is known by
// its path, and its entries are read and examined through paths.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>

#include "file_win32.h"
#include "folder.h"
#include "win32/file_query.h"
#include "win32/wide_text.h"

const char kPathSeparator = '\\';

namespace {

// True when a name the system listed holds a separator: joined to its folder
// it would name another file.
bool HoldsSeparator(const wchar_t* name) { return wcspbrk(name, L"\\/") != nullptr; }

}  // namespace

std::error_code ListFolder(std::wstring name,
                           const std::function<void(const WIN32_FIND_DATAW&)>& take) {
  // "X:" is drive X's current folder, not its root.
  if (name.empty() || (name.back() != L'\\' && name.back() != L':')) name += L'\\';
  name += L'*';
  WIN32_FIND_DATAW data;
  // The basic level leaves out short names, which are never matched anyway;
  // systems before Windows 7 know only the standard one.
  HANDLE find = FindFirstFileExW(name.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, 0);
  if (find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
    find = FindFirstFileExW(name.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                            nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return LastSystemError();
  do {
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
    if (HoldsSeparator(data.cFileName)) continue;
    take(data);
  } while (FindNextFileW(find, &data));
  const DWORD error = GetLastError();
  FindClose(find);
  if (error == ERROR_NO_MORE_FILES) return {};
  SetLastError(error);
  return LastSystemError();
}

PathKind KindOf(const std::string& path, FileIdentity* identity, bool* identified,
                std::error_code* error) {
  if (identified) *identified = false;
  if (NamesDeviceNamespace(path)) return PathOther;
  std::wstring name;
  if (std::error_code named = SystemName(ResolvePath(path), &name)) {
    if (error) *error = named;
    return PathMissing;
  }
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (identity) {
    // One open tells the kind and the identity: a lookup by name is the
    // dearest part of a small file's conversion under Wine.
    OwnedHandle h(CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (h.Valid()) {
      FileTimes times;
      if (QueryFileTimes(h.Get(), &times)) attributes = times.attributes;
      if (QuickIdentityOfHandle(h.Get(), identity) && identified) *identified = true;
    }
  }
  // What cannot be opened may still be looked at.
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (error) *error = LastSystemError();
    return PathMissing;
  }
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathFolder : PathFile;
}

std::error_code ReadFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  std::wstring name;
  if (std::error_code error = SystemName(ResolvePath(folder), &name)) return error;
  entries->clear();
  std::error_code error = ListFolder(name, [entries](const WIN32_FIND_DATAW& data) {
    PathKind kind = PathFile;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or a link to a folder is not followed.
      kind = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? PathOther : PathFolder;
    }
    entries->push_back({Utf8FromWide(data.cFileName, wcslen(data.cFileName)), kind, {}});
  });
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return NameLess(a.name, b.name); });
  return error;
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

WalkFolder::WalkFolder() {}

WalkFolder::~WalkFolder() {}

std::error_code WalkFolder::Open(const std::string& path) {
  path_ = path;
  std::error_code error;
  const PathKind kind = KindOf(path, nullptr, nullptr, &error);
  if (kind == PathFolder) return {};
  return kind == PathMissing && error ? error : Errno(ENOTDIR);
}

std::error_code WalkFolder::OpenIn(const WalkFolder&, const std::string&, const std::string& path) {
  return Open(path);
}

bool WalkFolder::Identity(FileIdentity* identity) const { return IdentityOf(path_, identity); }

std::error_code WalkFolder::Read(std::vector<FolderEntry>* entries) const {
  return ReadFolder(path_, entries);
}

// No entry here is a link to a file: the system follows such links itself.
bool WalkFolder::LinkLeadsInto(const std::string&, const WalkFolder&) const { return true; }

std::string WalkFolder::ResolvedPath() const { return path_; }

// Only a walk's links, which there are none of here, are checked with it.
bool PathLiesIn(const std::string&, const std::string&) { return true; }

// The engine marks no temporary file here: none is told apart.
bool WalkFolder::HoldsTempFileOfAConversion(const std::string&) const { return false; }

bool IsTempFileOfAConversion(const std::string&) { return false; }
