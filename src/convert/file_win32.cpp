#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "file.h"
#include "win32/file_query.h"
#include "win32/wide_text.h"

namespace {

// Maps a Win32 error to the program's error numbers; the C runtime's own
// table differs between runtimes, so it is not used.
int MapError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return ENOENT;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kErrorHeld;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

// The program's error number for the call that just failed.
int LastError() { return MapError(GetLastError()); }

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Calls of Windows Vista and later, looked up where they are (the build
// targets older headers): null where the system has none.
template <typename Call>
Call Kernel32Call(const char* name) {
  return reinterpret_cast<Call>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}
typedef BOOL(WINAPI* FileInformationCall)(HANDLE, int, void*, DWORD);
typedef DWORD(WINAPI* FinalPathCall)(HANDLE, wchar_t*, DWORD, DWORD);
const FileInformationCall g_getFileInformation =
    Kernel32Call<FileInformationCall>("GetFileInformationByHandleEx");
const FileInformationCall g_setFileInformation =
    Kernel32Call<FileInformationCall>("SetFileInformationByHandle");
const FinalPathCall g_finalPathName = Kernel32Call<FinalPathCall>("GetFinalPathNameByHandleW");
// The classes of information asked for and given.
const int kFileNameInfo = 2;
const int kFileRenameInfoEx = 22;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Whether path starts with "X:\" (or "X:/").
bool IsDriveAbsolute(const std::string& path, size_t at = 0) {
  return path.size() >= at + 3 && IsDriveLetter(path[at]) && path[at + 1] == ':' &&
         IsSeparator(path[at + 2]);
}

// Whether path starts with the system's own prefix, "\\?\" or "\??\": what
// follows is taken by the system as it is, without any clean-up.
bool IsVerbatim(const std::string& path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[3]) &&
         ((IsSeparator(path[1]) && path[2] == '?') || (path[1] == '?' && path[2] == '?'));
}

// Whether path is "\\.\" something: a device, a pipe, a volume.
bool IsDeviceNamespace(const std::string& path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '.' &&
         IsSeparator(path[3]);
}

// Whether the verbatim path names a drive's path ("\\?\X:\...") or a share's
// ("\\?\UNC\server\share..."): the only kinds that lead to a file.
bool VerbatimNamesFilePath(const std::string& path) {
  if (IsDriveAbsolute(path, 4)) return true;
  if (path.size() < 8 || (path.compare(4, 3, "UNC") != 0 && path.compare(4, 3, "unc") != 0) ||
      !IsSeparator(path[7]))
    return false;
  const size_t server = 8;
  size_t end = server;
  while (end < path.size() && !IsSeparator(path[end])) ++end;
  return end > server && end + 1 < path.size() && !IsSeparator(path[end + 1]);
}

// Whether path names one of the system's devices rather than a file: a
// "\\.\" path, a "\\?\" or "\??\" path to anything but a drive's or a
// share's path, or a last part that is a device name (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, the superscript COM¹-COM³ and LPT¹-LPT³, CONIN$,
// CONOUT$), with or without an extension, in any folder. Opening one may
// wait for the device or talk to it.
bool NamesDevice(const std::string& path) {
  if (IsDeviceNamespace(path)) return true;
  if (IsVerbatim(path) && !VerbatimNamesFilePath(path)) return true;
  size_t start = FolderLength(path);
  std::string name = path.substr(start, path.find('.', start) - start);
  while (!name.empty() && (name.back() == ' ' || name.back() == ':')) name.pop_back();
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" ||
      name == "CONOUT$")
    return true;
  if (name.compare(0, 3, "COM") != 0 && name.compare(0, 3, "LPT") != 0) return false;
  const std::string digit = name.substr(3);
  return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// Appends to out the parts of path from start on, separated by '\': empty
// parts and "." left out, ".." taking off the part before it down to keep
// parts (a share's server and name). A name ending in a dot or a space stays
// as it is.
void AppendCleanParts(const std::string& path, size_t start, size_t keep, std::string* out) {
  std::vector<std::string> parts;
  size_t i = start;
  while (i < path.size()) {
    size_t end = i;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::string part = path.substr(i, end - i);
    if (part == "..") {
      if (parts.size() > keep) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = end + 1;
  }
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) *out += '\\';
    *out += parts[k];
  }
}

// The name the system is given for path: an absolute path in the system's
// own form ("\\?\X:\...", "\\?\UNC\server\share\..."), cleaned up as the
// system would but keeping each name exactly, so that long paths work and a
// name that ends in a dot or a space is not taken for another; a verbatim
// path as it is; anything else as it is, for the system to resolve. 0, or
// ENOENT when path is no text the system could hold a name in.
int SystemName(const std::string& path, std::wstring* name) {
  std::string form;
  if (IsVerbatim(path)) {
    form = "\\\\?\\" + path.substr(4);
  } else if (IsDriveAbsolute(path)) {
    form = "\\\\?\\" + path.substr(0, 2) + '\\';
    AppendCleanParts(path, 3, 0, &form);
  } else if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
             !IsSeparator(path[2]) && path[2] != '?' && path[2] != '.') {
    form = "\\\\?\\UNC\\";
    AppendCleanParts(path, 2, 2, &form);
  } else {
    form = path;
  }
  if (!WideFromUtf8(form, name)) return ENOENT;
  // The system's limits, said as such: 32,767 units in all, and 255 in a
  // name (every Windows file system's). Some implementations say no more
  // than that the file is missing.
  if (name->size() > 32767) return ENAMETOOLONG;
  size_t part = 0;
  for (wchar_t c : *name) {
    part = c == L'\\' || c == L'/' ? 0 : part + 1;
    if (part > 255) return ENAMETOOLONG;
  }
  return 0;
}

// The program's form of a name the system handed out: "\\?\X:\..." as
// "X:\...", "\\?\UNC\server\..." as "\\server\...", others as they are.
std::string ProgramName(const wchar_t* name, size_t n) {
  std::string path = Utf8FromWide(name, n);
  if (IsVerbatim(path) && IsDriveAbsolute(path, 4)) return path.substr(4);
  if (IsVerbatim(path) && path.size() > 8 && path.compare(4, 4, "UNC\\") == 0)
    return "\\\\" + path.substr(8);
  return path;
}

// CreateFileW on the system's name for path. The handle, or
// INVALID_HANDLE_VALUE with the program's error number in *error.
HANDLE OpenPath(const std::string& path, DWORD access, DWORD disposition, DWORD flags,
                int* error, SECURITY_ATTRIBUTES* security = nullptr) {
  std::wstring name;
  if ((*error = SystemName(path, &name)) != 0) return INVALID_HANDLE_VALUE;
  HANDLE h = CreateFileW(name.c_str(), access, kShareAll, security, disposition, flags, nullptr);
  *error = h == INVALID_HANDLE_VALUE ? LastError() : 0;
  return h;
}

// GetFileAttributesW for path; INVALID_FILE_ATTRIBUTES when it fails.
DWORD AttributesOf(const std::string& path) {
  std::wstring name;
  return SystemName(path, &name) == 0 ? GetFileAttributesW(name.c_str()) : INVALID_FILE_ATTRIBUTES;
}

std::string CurrentDirectory() {
  std::vector<wchar_t> buf(MAX_PATH + 1);
  for (;;) {
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
    if (n == 0) return std::string();
    if (n < buf.size()) return ProgramName(buf.data(), n);
    buf.resize(n + 1);
  }
}

// Taken before main runs, so before any conversion changes it.
const std::string g_startupDirectory = CurrentDirectory();

int64_t TimeValue(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// The stamp without the volume (0): under Wine, asking for the volume is the
// dearest part of a small file's conversion, and a stamp is only ever compared
// with one of a file at the same path.
int StampOfHandle(HANDLE h, FileStamp* stamp) {
  FileTimes times;
  FileSizes sizes;
  uint64_t index = 0;
  stamp->volume = 0;
  if (QueryFileTimes(h, &times) && QueryFileSizes(h, &sizes) && QueryFileIndex(h, &index)) {
    stamp->index = index;
    stamp->size = static_cast<uint64_t>(sizes.endOfFile);
    stamp->modified = times.lastWrite;
    stamp->changed = times.change;
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return LastError();
  stamp->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->modified = TimeValue(info.ftLastWriteTime);
  stamp->changed = 0;
  return 0;
}

// Whether h is open on a file of a disk volume, not on the volume or the disk
// itself: only a file has a name on its volume.
bool IsFileOnVolume(HANDLE h) {
  if (!g_getFileInformation) return true;  // older systems: the type alone decides
  struct {
    DWORD length;
    wchar_t name[16];
  } name;
  if (g_getFileInformation(h, kFileNameInfo, &name, sizeof name)) return name.length > 0;
  return GetLastError() == ERROR_MORE_DATA;
}

// Opens the file at path with access, a disk file only: a device name is
// refused before any open, anything else that opens (a pipe, a console, a
// volume) after, before any read. The handle, or INVALID_HANDLE_VALUE with
// *error set.
HANDLE OpenDiskFile(const std::string& path, DWORD access, DWORD flags, int* error) {
  if (NamesDevice(path)) {
    *error = kErrorNotRegularFile;
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = OpenPath(path, access, OPEN_EXISTING, flags, error);
  if (h == INVALID_HANDLE_VALUE) return h;
  if (GetFileType(h) != FILE_TYPE_DISK || !IsFileOnVolume(h)) {
    CloseHandle(h);
    *error = kErrorNotRegularFile;
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace

namespace {
HANDLE Handle(const OwnedHandle& h) { return h.Get(); }
}  // namespace

NativeHandle OwnedHandle::Invalid() { return INVALID_HANDLE_VALUE; }

int OwnedHandle::Close() {
  if (!Valid()) return 0;
  return CloseHandle(Release()) ? 0 : LastError();
}

const size_t kFileBlockSize = 256 * 1024;
const bool kWriteInBackground = false;
const bool kFlushInBackground = true;
const unsigned kFlushThreads = 2;

File::File() {}

File::~File() { Close(); }

int File::OpenRead(const std::string& path) {
  Close();
  int error = 0;
  handle_.Reset(OpenDiskFile(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                             &error));
  return error;
}

int File::OpenWriteTruncate(const std::string& path) {
  Close();
  int error = 0;
  handle_.Reset(OpenPath(path, GENERIC_WRITE, TRUNCATE_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, &error));
  return error;
}

int File::OpenWrite(const std::string& path) {
  Close();
  int error = 0;
  handle_.Reset(OpenDiskFile(path, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, &error));
  return error;
}

bool File::IsOpen() const { return handle_.Valid(); }

int File::Read(void* buf, size_t n, size_t* got) {
  DWORD read = 0;
  if (!ReadFile(Handle(handle_), buf, static_cast<DWORD>(n), &read, nullptr)) return LastError();
  *got = read;
  return 0;
}

int File::Write(const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(Handle(handle_), p, static_cast<DWORD>(n), &written, nullptr))
      return LastError();
    if (written == 0) return ENOSPC;
    p += written;
    n -= written;
  }
  return 0;
}

int File::Size(uint64_t* size) {
  LARGE_INTEGER got;
  if (!GetFileSizeEx(Handle(handle_), &got)) return LastError();
  *size = static_cast<uint64_t>(got.QuadPart);
  return 0;
}

int File::Stamp(FileStamp* stamp) { return StampOfHandle(Handle(handle_), stamp); }

int File::Names(uint64_t* names) {
  FileSizes sizes;
  if (QueryFileSizes(Handle(handle_), &sizes)) {
    *names = sizes.links;
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(Handle(handle_), &info)) return LastError();
  *names = info.nNumberOfLinks;
  return 0;
}

int StampOf(const std::string& path, FileStamp* stamp) {
  int error = 0;
  HANDLE h = OpenPath(path, 0, OPEN_EXISTING, 0, &error);
  if (h == INVALID_HANDLE_VALUE) return error;
  error = StampOfHandle(h, stamp);
  CloseHandle(h);
  return error;
}

int File::Seek(uint64_t pos) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(pos);
  return SetFilePointerEx(Handle(handle_), to, nullptr, FILE_BEGIN) ? 0 : LastError();
}

int File::Sync() { return FlushFileBuffers(Handle(handle_)) ? 0 : LastError(); }

int File::Close() { return handle_.Close(); }

// Writers are never refused here (every open shares writing), and nothing
// tells of them but the stamp.
int File::WatchWriters() { return 0; }

bool File::WrittenSinceWatched() { return false; }

std::string FolderOf(const std::string& path) { return path.substr(0, FolderLength(path)); }

const std::string& StartupDirectory() { return g_startupDirectory; }

namespace {

// path made absolute against the start-up directory; empty when that is
// needed and gone.
std::string AbsolutePath(const std::string& path) {
  const std::string& base = g_startupDirectory;
  if (IsVerbatim(path) || IsDeviceNamespace(path)) return path;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return path;  // UNC
  if (path.size() >= 2 && path[1] == ':') {
    if (path.size() >= 3 && IsSeparator(path[2])) return path;
    // "X:name" is relative to drive X's own current directory: only the
    // start-up drive's is known.
    if (base.size() >= 2 && base[1] == ':' && (path[0] | 0x20) == (base[0] | 0x20)) {
      std::string rest = path.substr(2);
      return rest.empty() ? base : AbsolutePath(rest);
    }
    return path;
  }
  // Without the start-up directory a relative path names nothing: the
  // current one is another file's folder by now.
  if (base.empty()) return std::string();
  if (!path.empty() && IsSeparator(path[0])) {
    // Rooted on the start-up directory's drive (or share).
    return base.substr(0, base.size() >= 2 && base[1] == ':' ? 2 : 0) + path;
  }
  std::string absolute = base;
  if (!IsSeparator(absolute.back())) absolute += '\\';
  return absolute + path;
}

}  // namespace

namespace {

// Whether path names the file open as h (the same volume and file index).
bool SameFileAs(HANDLE h, const std::string& path) {
  int error = 0;
  HANDLE other = OpenPath(path, 0, OPEN_EXISTING, 0, &error);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  const bool same = GetFileInformationByHandle(h, &a) && GetFileInformationByHandle(other, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(other);
  return same;
}

}  // namespace

std::string ResolveTarget(const std::string& path) {
  const std::string absolute = AbsolutePath(path);
  if (absolute.empty() || NamesDevice(absolute)) return absolute;
  // The file the name leads to, through any symbolic link on the way: that
  // file is converted in its own folder, and a link stays a link. Where the
  // system cannot say, the name itself.
  int error = 0;
  HANDLE h = OpenPath(absolute, 0, OPEN_EXISTING, 0, &error);
  if (h == INVALID_HANDLE_VALUE) return absolute;
  std::vector<wchar_t> buf(MAX_PATH + 1);
  DWORD n = 0;
  while (g_finalPathName) {
    n = g_finalPathName(h, buf.data(), static_cast<DWORD>(buf.size()),
                        0 /* FILE_NAME_NORMALIZED | VOLUME_NAME_DOS */);
    if (n < buf.size()) break;
    buf.resize(n + 1);
  }
  const std::string final = n > 0 ? ProgramName(buf.data(), n) : std::string();
  const bool usable = IsDriveAbsolute(final) || (final.size() > 2 &&
                                                 final.compare(0, 2, "\\\\") == 0 &&
                                                 !IsVerbatim(final) && !IsDeviceNamespace(final));
  // Not every implementation hands back a name that ends in a dot or a space
  // as it is: the name must lead to the very file that was opened.
  const bool same = usable && (final == absolute || SameFileAs(h, final));
  CloseHandle(h);
  return same ? final : absolute;
}

int ChangeDirectory(const std::string& folder) {
  if (folder.empty()) return 0;
  // Setting the directory again costs the system an open of it, for every
  // file of a batch in one folder. Only an exact match is skipped: the
  // current directory, with or without its separator at the end ("X:" may
  // stand for another directory of drive X).
  const std::string current = CurrentDirectory();
  if (!current.empty() && (folder == current || folder == current + '\\')) return 0;
  std::wstring name;
  if (int error = SystemName(folder, &name)) return error;
  // The system's form of a drive's root needs its separator.
  if (!name.empty() && name.back() != L'\\') name += L'\\';
  return SetCurrentDirectoryW(name.c_str()) ? 0 : LastError();
}

namespace {

// A name part that no other program would choose at the same moment: the
// time, the process and a count, mixed, as eight hexadecimal digits.
std::string UniquePart() {
  static std::atomic<unsigned> count{0};
  static const uint32_t seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  uint32_t x = seed + 0x9e3779b9u * ++count;
  x ^= x >> 16;
  x *= 0x45d9f3bu;
  x ^= x >> 16;
  char hex[16];
  snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(x));
  return hex;
}

}  // namespace

int CreateTempFileIn(const std::string& folder, std::string* name) {
  const std::string base = folder.empty() ? std::string(".\\") : folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = base + "tmp" + UniquePart() + ".tmp";
    int error = 0;
    HANDLE h = OpenPath(candidate, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, &error);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      *name = candidate;
      return 0;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
      return error;
  }
  return MapError(ERROR_ALREADY_EXISTS);
}

int CreateTempFolderFor(const std::string& target, std::string* name) {
  const std::string folder = FolderOf(target);
  const std::string base = folder.empty() ? std::string(".\\") : folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = base + "tmp" + UniquePart();
    std::wstring system;
    if (int error = SystemName(candidate, &system)) return error;
    if (CreateDirectoryW(system.c_str(), nullptr)) {
      *name = candidate + "\\";
      return 0;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return LastError();
  }
  return MapError(ERROR_ALREADY_EXISTS);
}

// Windows gives a process millions of handles.
size_t OpenFilesAllowed() { return SIZE_MAX; }

int RemoveFolder(const std::string& folder) {
  std::wstring name;
  if (int error = SystemName(folder, &name)) return error;
  return RemoveDirectoryW(name.c_str()) ? 0 : LastError();
}

namespace {

// Windows never renames over a read-only file, but not every implementation
// refuses: the rule is kept here, so that a read-only file is never replaced.
bool IsReadOnly(const std::string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Wine shows a file's Unix permission bits to Windows programs only through a
// security descriptor that it makes up from them, and sets them from a
// descriptor that it is given: this program treats it as a platform of its own.
bool UnderWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// The parts info of the file's security descriptor into *sd. 0 or the error.
int ReadSecurity(const std::string& path, SECURITY_INFORMATION info, std::vector<char>* sd) {
  std::wstring name;
  if (int error = SystemName(path, &name)) return error;
  DWORD need = 0;
  sd->resize(256);
  while (!GetFileSecurityW(name.c_str(), info, sd->data(), static_cast<DWORD>(sd->size()), &need)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || need <= sd->size()) return LastError();
    sd->resize(need);
  }
  return 0;
}

// Sets the parts info of the file's security descriptor from sd.
bool WriteSecurity(const std::string& path, SECURITY_INFORMATION info, void* sd) {
  std::wstring name;
  return SystemName(path, &name) == 0 && SetFileSecurityW(name.c_str(), info, sd);
}

PSID OwnerOf(std::vector<char>& sd) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return GetSecurityDescriptorOwner(sd.data(), &owner, &defaulted) ? owner : nullptr;
}

// The security identifier of this process's user; empty when it cannot be had.
std::vector<char> ProcessUser() {
  std::vector<char> sid;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return sid;
  std::vector<char> user(256);
  DWORD need = 0;
  bool ok = GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &need);
  if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    user.resize(need);
    ok = GetTokenInformation(token, TokenUser, user.data(), need, &need);
  }
  CloseHandle(token);
  if (!ok) return sid;
  PSID found = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  sid.resize(GetLengthSid(found));
  if (!CopySid(static_cast<DWORD>(sid.size()), sid.data(), found)) sid.clear();
  return sid;
}

// The rights that the DACL of sd allows sid (denied ones taken off).
ACCESS_MASK RightsOf(std::vector<char>& sd, PSID sid) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted)) return 0;
  if (!present || !dacl) return GENERIC_ALL;  // no DACL: everyone may do everything
  ACCESS_MASK allowed = 0, denied = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || (ace->AceFlags & INHERIT_ONLY_ACE))
      continue;
    if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* a = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
      if (EqualSid(&a->SidStart, sid)) allowed |= a->Mask & ~denied;
    } else if (ace->AceType == ACCESS_DENIED_ACE_TYPE) {
      auto* d = reinterpret_cast<ACCESS_DENIED_ACE*>(ace);
      if (EqualSid(&d->SidStart, sid)) denied |= d->Mask;
    }
  }
  return allowed;
}

// Under Wine: the new file gets no access that target's descriptor does not
// show. Wine's descriptor shows the owner's and everyone's read and write
// (not the group's bits, nor execute, which it folds into read), and it turns
// a descriptor back into permission bits coarsely: rights allowed to the
// owner, when the owner is the caller, become the group's too. So the new
// descriptor names an owner that is not the caller (the anonymous SID, which
// Wine gives the files of other Unix users; Wine keeps the file's real
// owner), allows it the owner's read and write, and everyone read where
// everyone had it: 0600 stays 0600, 0644 stays 0644, 0640 becomes 0600 and
// 0755 becomes 0644.
int CarryWineAccess(const std::string& target, const std::string& temp) {
  std::vector<char> before, after;
  if (ReadSecurity(target, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &before) != 0)
    return kErrorAccessNotKept;
  PSID owner = OwnerOf(before);
  // The owner of every new file, which is this process's user: read once.
  static const std::vector<char> processUser = ProcessUser();
  PSID ours = processUser.empty() ? nullptr : const_cast<char*>(processUser.data());
  if (!ours && ReadSecurity(temp, OWNER_SECURITY_INFORMATION, &after) == 0) ours = OwnerOf(after);
  // Only the caller's own files keep their owner: Wine cannot give a file away.
  if (!owner || !ours || !EqualSid(owner, ours)) return kErrorOwnerNotKept;

  SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID world = nullptr, anonymous = nullptr;
  if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                &world))
    return kErrorAccessNotKept;
  int error = kErrorAccessNotKept;
  if (AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_ANONYMOUS_LOGON_RID, 0, 0, 0, 0, 0, 0,
                               0, &anonymous)) {
    const auto granted = [](ACCESS_MASK rights, bool write) {
      ACCESS_MASK mask = 0;
      if (rights & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) mask |= FILE_GENERIC_READ;
      if (write && (rights & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL)))
        mask |= FILE_GENERIC_WRITE;
      return mask;
    };
    const ACCESS_MASK ownerMask = granted(RightsOf(before, owner), true);
    const ACCESS_MASK worldMask = granted(RightsOf(before, world), false);  // never group write
    char aclBuffer[256];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    SECURITY_DESCRIPTOR sd;
    if (InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) &&
        (!ownerMask || AddAccessAllowedAce(acl, ACL_REVISION, ownerMask, anonymous)) &&
        (!worldMask || AddAccessAllowedAce(acl, ACL_REVISION, worldMask, world)) &&
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorOwner(&sd, anonymous, FALSE) &&
        SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) &&
        WriteSecurity(temp, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sd))
      error = 0;
    FreeSid(anonymous);
  }
  FreeSid(world);
  return error;
}

// On Windows: target's DACL as it is, and its owner where this process may
// set it (otherwise the new file is the caller's, as any new file is).
int CarryWindowsAccess(const std::string& target, const std::string& temp) {
  std::vector<char> sd;
  if (ReadSecurity(target, DACL_SECURITY_INFORMATION, &sd) != 0 ||
      !WriteSecurity(temp, DACL_SECURITY_INFORMATION, sd.data()))
    return kErrorAccessNotKept;
  if (ReadSecurity(target, OWNER_SECURITY_INFORMATION, &sd) == 0)
    WriteSecurity(temp, OWNER_SECURITY_INFORMATION, sd.data());
  return 0;
}

}  // namespace

int CarryMetadata(const std::string& target, const std::string& temp) {
  // Not worth carrying anything over (and the new file would be read-only
  // too, which no one could delete).
  if (IsReadOnly(target)) return EACCES;
  std::wstring targetName, tempName;
  if (int error = SystemName(target, &targetName)) return error;
  if (int error = SystemName(temp, &tempName)) return error;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(targetName.c_str(), GetFileExInfoStandard, &data)) return LastError();
  HANDLE h = CreateFileW(tempName.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  // The new content is new to a backup: it is marked for archiving, whatever
  // target's mark said. Read-only targets are never replaced.
  const DWORD carried =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = (data.dwFileAttributes & carried) | FILE_ATTRIBUTE_ARCHIVE;
  // Both in one call through the handle where the system has it; otherwise
  // the time through the handle and the flags by name.
  const bool together = SetFileBasics(h, TimeValue(data.ftCreationTime), attributes);
  const bool timeKept = together || SetFileTime(h, &data.ftCreationTime, nullptr, nullptr);
  CloseHandle(h);
  if (!timeKept || (!together && !SetFileAttributesW(tempName.c_str(), attributes)))
    return kErrorAttributesNotKept;
  // The access rules last: they may take from this process the right to
  // change the rest.
  return UnderWine() ? CarryWineAccess(target, temp) : CarryWindowsAccess(target, temp);
}

// MOVEFILE_WRITE_THROUGH makes each replace durable by itself: nothing is deferred.
int SyncFolder(const std::string&) { return 0; }

namespace {

// FILE_RENAME_INFO with the flags of FileRenameInfoEx.
struct RenameInfo {
  DWORD flags;
  HANDLE root;
  DWORD length;  // of name, in bytes
  WCHAR name[1];
};
const DWORD kRenameReplaceIfExists = 0x1;
const DWORD kRenamePosixSemantics = 0x2;

// Whether the system may lack FileRenameInfoEx; false once it has refused it.
std::atomic<bool> g_posixRenameTried{true};

// Renames temp over target the way that lets programs that hold target open
// (and allow its deletion) keep their old file, as on POSIX: Windows 10 1809
// on NTFS and later. False when the system refused; the error is left.
bool PosixReplace(const std::wstring& temp, const std::wstring& target) {
  if (!g_posixRenameTried || !g_setFileInformation) return false;
  // The rename takes the system's own form of the name, "\??\" for "\\?\".
  std::wstring name = target;
  if (name.compare(0, 4, L"\\\\?\\") != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  name[1] = L'?';
  HANDLE h = CreateFileW(temp.c_str(), DELETE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_WRITE_THROUGH, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD bytes = static_cast<DWORD>(name.size() * sizeof(WCHAR));
  std::vector<char> buffer(offsetof(RenameInfo, name) + bytes + sizeof(WCHAR));
  RenameInfo* info = reinterpret_cast<RenameInfo*>(buffer.data());
  info->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
  info->root = nullptr;
  info->length = bytes;
  memcpy(info->name, name.data(), bytes);
  const bool renamed =
      g_setFileInformation(h, kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size())) != 0;
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (!renamed) {
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED)
      g_posixRenameTried = false;
    SetLastError(error);
  }
  return renamed;
}

// Why the replace of target was refused with ERROR_ACCESS_DENIED: target
// in use by another program (some systems answer that way while another
// program holds the file open) or EACCES.
int WhyDenied(const std::wstring& target) {
  HANDLE h = CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return kErrorHeld;  // it may be deleted, so it was not this process's rights
  }
  return LastError() == kErrorHeld ? kErrorHeld : EACCES;
}

}  // namespace

int ReplaceWithTemp(const std::string& temp, const std::string& target, DeferredFolderSync*) {
  if (IsReadOnly(target)) return EACCES;
  std::wstring tempName, targetName;
  if (int error = SystemName(temp, &tempName)) return error;
  if (int error = SystemName(target, &targetName)) return error;
  if (PosixReplace(tempName, targetName)) return 0;
  // Scanners and indexers hold files open briefly; give them about a second.
  // A read-only file stays read-only and is not waited for.
  const int kTries = 10;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(tempName.c_str(), targetName.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    DWORD error = GetLastError();
    const bool transient = (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                            error == ERROR_ACCESS_DENIED) &&
                           !IsReadOnly(target);
    if (!transient || attempt == kTries)
      return error == ERROR_ACCESS_DENIED && transient ? WhyDenied(targetName) : MapError(error);
    Sleep(100);
  }
}

int RemoveFile(const std::string& path) {
  std::wstring name;
  if (int error = SystemName(path, &name)) return error;
  return DeleteFileW(name.c_str()) ? 0 : LastError();
}

void RemoveTempFilesOnInterrupt() {}

int CheckWritable(const std::string& path) {
  File file;
  return file.OpenWrite(path);
}

NewContent::NewContent() {}

NewContent::~NewContent() { Discard(); }

int NewContent::Create(const std::string& target, File&, const std::string& folder) {
  Discard();
  target_ = target;
  if (int error = CreateTempFileIn(folder.empty() ? FolderOf(target) : folder, &name_)) return error;
  return file_.OpenWriteTruncate(name_);
}

// Nothing is carried yet; the file read is closed here, so that while its
// new content waits, another program may still rename over it or delete it
// (Wine refuses both while any handle is open). Replace checks it by name.
int NewContent::CarryBeforeFlush(File& source) { return source.Close(); }

int NewContent::CarryAfterFlush() {
  if (int error = file_.Close()) return error;
  return CarryMetadata(target_, name_);
}

int NewContent::Replace(File& source, const FileStamp& opened, DeferredFolderSync* deferred) {
  // No handle may be open on a file that is renamed over (Wine refuses).
  source.Close();
  FileStamp now;
  if (int error = StampOf(target_, &now)) return error;
  if (now != opened) return kErrorChangedMeanwhile;
  if (int error = ReplaceWithTemp(name_, target_, deferred)) return error;
  name_.clear();
  return 0;
}

void NewContent::Discard() {
  file_.Close();
  if (!name_.empty()) RemoveFile(name_);
  name_.clear();
}
