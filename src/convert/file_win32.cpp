#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "file.h"
#include "file_win32.h"
#include "folder.h"
#include "win32/file_query.h"
#include "win32/wide_text.h"

namespace {

// Maps a Win32 error to the program's error numbers; the C runtime's own
// table differs between runtimes, so it is not used.
std::error_code MapError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return Errno(ENOENT);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kErrorHeld;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Errno(EACCES);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Errno(ENOSPC);
    case ERROR_FILENAME_EXCED_RANGE:
      return Errno(ENAMETOOLONG);
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return Errno(EPIPE);
    default:
      return Errno(EIO);
  }
}

std::error_code LastError() { return MapError(GetLastError()); }

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

}  // namespace

std::error_code LastSystemError() { return LastError(); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Whether path starts with "X:\" (or "X:/").
bool IsDriveAbsolute(const std::string& path, size_t at = 0) {
  return path.size() >= at + 3 && IsDriveLetter(path[at]) && path[at + 1] == ':' &&
         IsSeparator(path[at + 2]);
}

}  // namespace

bool IsVerbatim(const std::string& path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[3]) &&
         ((IsSeparator(path[1]) && path[2] == '?') || (path[1] == '?' && path[2] == '?'));
}

namespace {

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

}  // namespace

bool NamesDeviceNamespace(const std::string& path) {
  return IsDeviceNamespace(path) || (IsVerbatim(path) && !VerbatimNamesFilePath(path));
}

namespace {

// Whether path names one of the system's devices rather than a file: what
// NamesDeviceNamespace says, or a last part that is a device name (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, the superscript COM¹-COM³ and LPT¹-LPT³,
// CONIN$, CONOUT$), with or without an extension, in any folder. Opening
// one may wait for the device or talk to it.
bool NamesDevice(const std::string& path) {
  if (NamesDeviceNamespace(path)) return true;
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

}  // namespace

std::error_code SystemName(const std::string& path, std::wstring* name) {
  if (path.empty()) return Errno(ENOENT);
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
  if (!WideFromUtf8(form, name)) return Errno(ENOENT);
  // The system's limits, said as such: 32,767 units in all, and 255 in a
  // name (every Windows file system's). Some implementations say no more
  // than that the file is missing.
  if (name->size() > 32767) return Errno(ENAMETOOLONG);
  size_t part = 0;
  for (wchar_t c : *name) {
    part = c == L'\\' || c == L'/' ? 0 : part + 1;
    if (part > 255) return Errno(ENAMETOOLONG);
  }
  return {};
}

namespace {

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
                std::error_code* error, SECURITY_ATTRIBUTES* security = nullptr) {
  std::wstring name;
  if ((*error = SystemName(path, &name))) return INVALID_HANDLE_VALUE;
  HANDLE h = CreateFileW(name.c_str(), access, kShareAll, security, disposition, flags, nullptr);
  *error = h == INVALID_HANDLE_VALUE ? LastError() : std::error_code();
  return h;
}

// GetFileAttributesW for path; INVALID_FILE_ATTRIBUTES when it fails.
DWORD AttributesOf(const std::string& path) {
  std::wstring name;
  return !SystemName(path, &name) ? GetFileAttributesW(name.c_str()) : INVALID_FILE_ATTRIBUTES;
}

std::string CurrentFolder() {
  std::vector<wchar_t> buf(MAX_PATH + 1);
  for (;;) {
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
    if (n == 0) return std::string();
    if (n < buf.size()) return ProgramName(buf.data(), n);
    buf.resize(n + 1);
  }
}

// Taken before main runs, so before any conversion changes it.
const std::string g_startupFolder = CurrentFolder();

int64_t TimeValue(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// The stamp without the volume (0): under Wine, asking for the volume is the
// dearest part of a small file's conversion, and a stamp is only ever compared
// with one of a file at the same path.
// With attributes, also the file's attribute flags where the same query tells
// them (INVALID_FILE_ATTRIBUTES otherwise).
std::error_code StampOfHandle(HANDLE h, FileStamp* stamp, DWORD* attributes = nullptr) {
  FileTimes times;
  FileSizes sizes;
  uint64_t index = 0;
  stamp->volume = 0;
  if (attributes) *attributes = INVALID_FILE_ATTRIBUTES;
  if (QueryFileTimes(h, &times) && QueryFileSizes(h, &sizes) && QueryFileIndex(h, &index)) {
    if (attributes) *attributes = times.attributes;
    stamp->index = index;
    stamp->size = static_cast<uint64_t>(sizes.endOfFile);
    stamp->modified = times.lastWrite;
    stamp->changed = times.change;
    return {};
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return LastError();
  stamp->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->modified = TimeValue(info.ftLastWriteTime);
  stamp->changed = 0;
  return {};
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
HANDLE OpenDiskFile(const std::string& path, DWORD access, DWORD flags, std::error_code* error) {
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

std::error_code OwnedHandle::Close() {
  if (!Valid()) return {};
  return CloseHandle(Release()) ? std::error_code() : LastError();
}

const size_t kFileBlockSize = 256 * 1024;
const bool kWriteInBackground = false;
const bool kFlushInBackground = true;
const unsigned kFlushThreads = 2;
const bool kStampAfterRead = true;

File::File() {}

File::~File() { Close(); }

std::error_code File::OpenRead(const std::string& path) {
  Close();
  std::error_code error;
  handle_.Reset(OpenDiskFile(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                             &error));
  return error;
}

std::error_code File::OpenWriteTruncate(const std::string& path) {
  Close();
  std::error_code error;
  handle_.Reset(OpenPath(path, GENERIC_WRITE, TRUNCATE_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, &error));
  return error;
}

std::error_code File::OpenWrite(const std::string& path) {
  Close();
  std::error_code error;
  handle_.Reset(OpenDiskFile(path, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, &error));
  return error;
}

bool File::IsOpen() const { return handle_.Valid(); }

std::error_code ReadSome(NativeHandle handle, void* buf, size_t n, size_t* got) {
  DWORD read = 0;
  if (!ReadFile(handle, buf, static_cast<DWORD>(n), &read, nullptr)) {
    if (GetLastError() != ERROR_BROKEN_PIPE) return LastError();
    read = 0;  // the writing end of a pipe was closed: the end of the input
  }
  *got = read;
  return {};
}

std::error_code WriteAll(NativeHandle handle, const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(handle, p, static_cast<DWORD>(n), &written, nullptr)) return LastError();
    if (written == 0) return Errno(ENOSPC);
    p += written;
    n -= written;
  }
  return {};
}

std::error_code File::Read(void* buf, size_t n, size_t* got) {
  return ReadSome(Handle(handle_), buf, n, got);
}

std::error_code File::Write(const void* buf, size_t n) { return WriteAll(Handle(handle_), buf, n); }

std::error_code File::Size(uint64_t* size) {
  LARGE_INTEGER got;
  if (!GetFileSizeEx(Handle(handle_), &got)) return LastError();
  *size = static_cast<uint64_t>(got.QuadPart);
  return {};
}

std::error_code File::Stamp(FileStamp* stamp) { return StampOfHandle(Handle(handle_), stamp); }

std::error_code File::LinkCount(uint64_t* count) {
  FileSizes sizes;
  if (QueryFileSizes(Handle(handle_), &sizes)) {
    *count = sizes.links;
    return {};
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(Handle(handle_), &info)) return LastError();
  *count = info.nNumberOfLinks;
  return {};
}

namespace {

// StampOf, and the file's attribute flags where the same query tells them.
std::error_code StampAndAttributesOf(const std::string& path, FileStamp* stamp,
                                     DWORD* attributes) {
  std::error_code error;
  HANDLE h = OpenPath(path, 0, OPEN_EXISTING, 0, &error);
  if (h == INVALID_HANDLE_VALUE) return error;
  error = StampOfHandle(h, stamp, attributes);
  CloseHandle(h);
  return error;
}

}  // namespace

std::error_code StampOf(const std::string& path, FileStamp* stamp) {
  return StampAndAttributesOf(path, stamp, nullptr);
}

std::error_code File::Seek(uint64_t pos) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(pos);
  return SetFilePointerEx(Handle(handle_), to, nullptr, FILE_BEGIN) ? std::error_code() : LastError();
}

std::error_code File::Sync() { return FlushFileBuffers(Handle(handle_)) ? std::error_code() : LastError(); }

void File::Forget(uint64_t) {}

std::error_code File::Close() { return handle_.Close(); }

std::error_code OpenStamped(File& file, const std::string& path, FileStamp* stamp,
                            uint64_t* linkCount, bool) {
  std::error_code error = file.OpenRead(path);
  if (!error) error = file.Stamp(stamp);
  if (!error && file.LinkCount(linkCount)) *linkCount = 1;
  if (error) file.Close();
  return error;
}

// Writers are never refused here (every open shares writing), and nothing
// tells of them but the stamp.
std::error_code File::WatchWriters() { return {}; }

bool File::WrittenSinceWatched() { return false; }

bool File::IsSparse() {
  FileTimes times;
  return QueryFileTimes(Handle(handle_), &times) && (times.attributes & FILE_ATTRIBUTE_SPARSE_FILE);
}

std::string FolderOf(const std::string& path) { return path.substr(0, FolderLength(path)); }

namespace {

// path made absolute against the start-up directory; empty when that is
// needed and gone.
std::string AbsolutePath(const std::string& path) {
  const std::string& base = g_startupFolder;
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

// The identity of the file that path, taken as it is, names; with full, its
// volume too.
bool IdentityOfName(const std::string& path, bool full, FileIdentity* identity) {
  std::wstring name;
  if (SystemName(path, &name)) return false;
  OwnedHandle h(CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h.Valid() && IdentityOfHandle(h.Get(), full, identity);
}

// Whether path names the file open as h.
bool SameFileAs(HANDLE h, const std::string& path) {
  FileIdentity a, b;
  return IdentityOfHandle(h, true, &a) && IdentityOfName(path, true, &b) && a == b;
}

}  // namespace

namespace {

// The name ResolveTarget gave last, which leads to itself: until it is asked
// for once more (the caller's next look at the file resolves the name that it
// was just given), or another name is resolved.
thread_local std::string g_lastResolved;

}  // namespace

bool QuickIdentityOfHandle(HANDLE h, FileIdentity* identity) {
  return IdentityOfHandle(h, false, identity);
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
  return IdentityOfName(ResolveTarget(path), true, identity);
}

bool SameFile(const std::string& a, const std::string& b) {
  FileIdentity x, y;
  return IdentityOf(a, &x) && IdentityOf(b, &y) && x == y;
}

std::string ResolveTarget(const std::string& path) {
  if (!g_lastResolved.empty() && path == g_lastResolved) {
    g_lastResolved.clear();
    return path;
  }
  g_lastResolved.clear();
  const std::string absolute = AbsolutePath(path);
  if (absolute.empty() || NamesDevice(absolute)) return absolute;
  // The file the name leads to, through any symbolic link on the way: that
  // file is converted in its own folder, and a link stays a link. Where the
  // system cannot say, the name itself.
  std::error_code error;
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
  if (same) g_lastResolved = final;
  return same ? final : absolute;
}

namespace {

// Wine shows a file's Unix permission bits to Windows programs only through a
// security descriptor that it makes up from them, and sets them from a
// descriptor that it is given: this program treats it as a platform of its own.
bool UnderWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// Parts of a security descriptor that the build's headers may not name.
const SECURITY_INFORMATION kLabelInformation = 0x10;  // LABEL_SECURITY_INFORMATION
const BYTE kMandatoryLabelAce = 0x11;                  // SYSTEM_MANDATORY_LABEL_ACE_TYPE

// The parts info of the security descriptor of the file open as h into *sd
// (self-relative). 0 or the error.
std::error_code ReadHandleSecurity(HANDLE h, SECURITY_INFORMATION info, std::vector<char>* sd) {
  DWORD need = 0;
  sd->resize(512);
  while (!GetKernelObjectSecurity(h, info, sd->data(), static_cast<DWORD>(sd->size()), &need)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || need <= sd->size()) return LastError();
    sd->resize(need);
  }
  return {};
}

// The same for the file at path.
std::error_code ReadSecurity(const std::string& path, SECURITY_INFORMATION info, std::vector<char>* sd) {
  std::wstring name;
  if (std::error_code error = SystemName(path, &name)) return error;
  DWORD need = 0;
  sd->resize(512);
  while (!GetFileSecurityW(name.c_str(), info, sd->data(), static_cast<DWORD>(sd->size()), &need)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || need <= sd->size()) return LastError();
    sd->resize(need);
  }
  return {};
}

PSID OwnerOf(std::vector<char>& sd) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return GetSecurityDescriptorOwner(sd.data(), &owner, &defaulted) ? owner : nullptr;
}

PSID GroupOf(std::vector<char>& sd) {
  PSID group = nullptr;
  BOOL defaulted = FALSE;
  return GetSecurityDescriptorGroup(sd.data(), &group, &defaulted) ? group : nullptr;
}

// The DACL of sd; *present false when sd has none to give.
PACL DaclOf(std::vector<char>& sd, bool* present) {
  BOOL has = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  *present = GetSecurityDescriptorDacl(sd.data(), &has, &acl, &defaulted) && has;
  return acl;
}

PACL SaclOf(std::vector<char>& sd) {
  BOOL has = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  return GetSecurityDescriptorSacl(sd.data(), &has, &acl, &defaulted) && has ? acl : nullptr;
}

// Whether the SACL acl holds a mandatory label.
bool HasLabel(PACL acl) {
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (GetAce(acl, i, reinterpret_cast<void**>(&ace)) && ace->AceType == kMandatoryLabelAce)
      return true;
  }
  return false;
}

// Whether the SACL acl holds anything but a mandatory label: an audit list.
bool HasAudit(PACL acl) {
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (GetAce(acl, i, reinterpret_cast<void**>(&ace)) && ace->AceType != kMandatoryLabelAce)
      return true;
  }
  return false;
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

// The owner of every new file, which is this process's user: read once.
PSID OurUser() {
  static std::vector<char> user = ProcessUser();
  return user.empty() ? nullptr : user.data();
}

// A well-known security identifier (WinWorldSid, WinAnonymousSid, ...).
std::vector<char> WellKnown(WELL_KNOWN_SID_TYPE type) {
  std::vector<char> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) sid.clear();
  return sid;
}

// The privileges that let a process give a new file any owner and label
// (restore) and read and write its audit list (security), enabled once,
// where the token holds them: whether each could be.
struct Privileges {
  bool restore = false;
  bool security = false;
};

bool EnablePrivilege(HANDLE token, const wchar_t* name) {
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return false;
  // Success with ERROR_NOT_ALL_ASSIGNED: the token does not hold it.
  return AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
         GetLastError() == ERROR_SUCCESS;
}

Privileges EnablePrivileges() {
  Privileges held;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return held;
  held.restore = EnablePrivilege(token, L"SeRestorePrivilege");
  held.security = EnablePrivilege(token, L"SeSecurityPrivilege");
  CloseHandle(token);
  return held;
}

// Under Wine none is asked for: Wine keeps no owner but the Unix one.
const Privileges& HeldPrivileges() {
  static const Privileges held = UnderWine() ? Privileges() : EnablePrivileges();
  return held;
}

// The rights that the DACL of sd allows sid (denied ones taken off).
ACCESS_MASK RightsOf(std::vector<char>& sd, PSID sid) {
  bool present = false;
  PACL dacl = DaclOf(sd, &present);
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

// The security descriptor a new file is created with, and what it points to.
struct NewSecurity {
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES attributes;
  std::vector<char> source;  // the file's own descriptor: the parts taken point into it
  std::vector<char> acl;     // a DACL made here
  std::vector<char> owner;   // an owner made here

  NewSecurity() {
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &sd;
    attributes.bInheritHandle = FALSE;
  }
  NewSecurity(const NewSecurity&) = delete;
  NewSecurity& operator=(const NewSecurity&) = delete;
};

// Under Wine: a descriptor from which Wine makes permission bits that give no
// one access that the file's do not. Wine's descriptor shows the owner's and
// everyone's read and write (not the group's bits, nor execute, which it
// folds into read), and it turns a descriptor back into permission bits
// coarsely: rights allowed to the owner, when the owner is the caller, become
// the group's too. So the descriptor names an owner that is not the caller
// (the anonymous SID, which Wine gives the files of other Unix users; Wine
// keeps the file's real owner), allows it the owner's read and write, and
// everyone read where everyone had it: 0600 stays 0600, 0644 stays 0644,
// 0640 becomes 0600 and 0755 becomes 0644. Only the caller's own files are
// taken (kErrorOwnerNotKept): Wine cannot give a file away.
std::error_code WineSecurity(HANDLE source, NewSecurity* made) {
  std::vector<char>& before = made->source;
  if (ReadHandleSecurity(source, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                         &before))
    return kErrorAccessNotKept;
  PSID owner = OwnerOf(before);
  PSID ours = OurUser();
  if (!owner || !ours || !EqualSid(owner, ours)) return kErrorOwnerNotKept;
  std::vector<char> world = WellKnown(WinWorldSid);
  made->owner = WellKnown(WinAnonymousSid);
  if (world.empty() || made->owner.empty()) return kErrorAccessNotKept;
  const auto granted = [](ACCESS_MASK rights, bool write) {
    ACCESS_MASK mask = 0;
    if (rights & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) mask |= FILE_GENERIC_READ;
    if (write && (rights & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL)))
      mask |= FILE_GENERIC_WRITE;
    return mask;
  };
  const ACCESS_MASK ownerMask = granted(RightsOf(before, owner), true);
  const ACCESS_MASK worldMask = granted(RightsOf(before, world.data()), false);  // no group write
  made->acl.resize(256);
  PACL acl = reinterpret_cast<PACL>(made->acl.data());
  if (InitializeAcl(acl, static_cast<DWORD>(made->acl.size()), ACL_REVISION) &&
      (!ownerMask || AddAccessAllowedAce(acl, ACL_REVISION, ownerMask, made->owner.data())) &&
      (!worldMask || AddAccessAllowedAce(acl, ACL_REVISION, worldMask, world.data())) &&
      SetSecurityDescriptorOwner(&made->sd, made->owner.data(), FALSE) &&
      SetSecurityDescriptorDacl(&made->sd, TRUE, acl, FALSE))
    return {};
  return kErrorAccessNotKept;
}

// On Windows: the file's owner and group, and its DACL as it is but kept
// from taking anything from the folder, so that the new file allows no one
// more than the file does from its creation. The owner only where this
// process may give it (withOwner); otherwise the new file is the caller's, as
// any new file is.
std::error_code WindowsSecurity(HANDLE source, bool withOwner, NewSecurity* made) {
  std::vector<char>& sd = made->source;
  if (ReadHandleSecurity(source,
                         OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                             DACL_SECURITY_INFORMATION,
                         &sd))
    return kErrorAccessNotKept;
  bool present = false;
  PACL dacl = DaclOf(sd, &present);
  if (withOwner && OwnerOf(sd) && !SetSecurityDescriptorOwner(&made->sd, OwnerOf(sd), FALSE))
    return kErrorAccessNotKept;
  if (GroupOf(sd) && !SetSecurityDescriptorGroup(&made->sd, GroupOf(sd), FALSE))
    return kErrorAccessNotKept;
  if (!SetSecurityDescriptorDacl(&made->sd, present, present ? dacl : nullptr, FALSE) ||
      !SetSecurityDescriptorControl(&made->sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    return kErrorAccessNotKept;
  return {};
}

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

// Creates a new, empty file whose name begins with "tmp" in folder (a name
// that ends with a separator), open with access, shared with readers only
// (no one else may write it, rename it or delete it while it is open), with
// flags and security. The handle, with *name its full name; or
// INVALID_HANDLE_VALUE with the system's error left.
HANDLE CreateTempFileIn(const std::string& folder, DWORD access, DWORD flags,
                        SECURITY_ATTRIBUTES* security, std::string* name) {
  const std::string base = folder.empty() ? std::string(".\\") : folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = base + "tmp" + UniquePart() + ".tmp";
    std::wstring system;
    if (SystemName(candidate, &system)) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return INVALID_HANDLE_VALUE;
    }
    HANDLE h = CreateFileW(system.c_str(), access, FILE_SHARE_READ, security, CREATE_NEW, flags,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *name = candidate;
      return h;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
      return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_ALREADY_EXISTS);
  return INVALID_HANDLE_VALUE;
}

// The attribute flags of the file open as h; INVALID_FILE_ATTRIBUTES when
// the system does not say.
DWORD AttributesOfHandle(HANDLE h) {
  FileTimes times;
  if (QueryFileTimes(h, &times)) return times.attributes;
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

// Gives the new file open as h the encryption and compression of a file with
// the attribute flags source: 0, or kErrorAttributesNotKept when the system
// did not encrypt it (it is created encrypted where the system can) or
// cannot compress it or undo a compression it took from its folder.
std::error_code MatchEncryptionAndCompression(HANDLE h, DWORD source) {
  const DWORD made = AttributesOfHandle(h);
  if (made == INVALID_FILE_ATTRIBUTES) return kErrorAttributesNotKept;
  if ((source & FILE_ATTRIBUTE_ENCRYPTED) && !(made & FILE_ATTRIBUTE_ENCRYPTED))
    return kErrorAttributesNotKept;
  if ((source & FILE_ATTRIBUTE_COMPRESSED) != (made & FILE_ATTRIBUTE_COMPRESSED)) {
    const DWORD kSetCompression = 0x9C040;  // FSCTL_SET_COMPRESSION
    USHORT format = (source & FILE_ATTRIBUTE_COMPRESSED) ? 1 /* the default format */ : 0;
    DWORD returned = 0;
    if (!DeviceIoControl(h, kSetCompression, &format, sizeof format, nullptr, 0, &returned,
                         nullptr))
      return kErrorAttributesNotKept;
  }
  return {};
}

// The system's stream lookup (Vista and later); null where there is none.
struct StreamData {
  LARGE_INTEGER size;
  WCHAR name[MAX_PATH + 36];
};
typedef HANDLE(WINAPI* FindFirstStreamCall)(LPCWSTR, int, void*, DWORD);
typedef BOOL(WINAPI* FindNextStreamCall)(HANDLE, void*);
const FindFirstStreamCall g_findFirstStream = Kernel32Call<FindFirstStreamCall>("FindFirstStreamW");
const FindNextStreamCall g_findNextStream = Kernel32Call<FindNextStreamCall>("FindNextStreamW");

// Copies the stream named suffix (":name:$DATA") of the file target onto the
// new file temp, flushed. false when it could not be.
bool CopyNamedStream(const std::wstring& target, const std::wstring& temp,
                     const std::wstring& suffix) {
  HANDLE from = CreateFileW((target + suffix).c_str(), GENERIC_READ, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (from == INVALID_HANDLE_VALUE) return false;
  // temp's name cannot change while its file is open here: it is shared
  // with no one who would rename it.
  HANDLE to = CreateFileW((temp + suffix).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  bool copied = to != INVALID_HANDLE_VALUE;
  std::vector<char> block(64 * 1024);
  while (copied) {
    DWORD got = 0, written = 0;
    if (!ReadFile(from, block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) {
      copied = false;
    } else if (got == 0) {
      copied = FlushFileBuffers(to) != 0;
      break;
    } else if (!WriteFile(to, block.data(), got, &written, nullptr) || written != got) {
      copied = false;
    }
  }
  if (to != INVALID_HANDLE_VALUE && !CloseHandle(to)) copied = false;
  CloseHandle(from);
  return copied;
}

// Copies every named stream of target onto temp: 0, or
// kErrorAttributesNotKept when one cannot be copied or the streams cannot be
// listed. A system that lists none (a file system without streams, Wine)
// has none to copy.
std::error_code CopyNamedStreams(const std::string& target, const std::string& temp) {
  if (!g_findFirstStream || !g_findNextStream) return {};
  std::wstring targetName, tempName;
  if (SystemName(target, &targetName) || SystemName(temp, &tempName))
    return kErrorAttributesNotKept;
  StreamData found;
  HANDLE search = g_findFirstStream(targetName.c_str(), 0 /* FindStreamInfoStandard */, &found, 0);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_INVALID_FUNCTION ||
        error == ERROR_NOT_SUPPORTED || error == ERROR_CALL_NOT_IMPLEMENTED)
      return {};
    return kErrorAttributesNotKept;
  }
  std::error_code result;
  do {
    found.name[MAX_PATH + 35] = L'\0';
    const std::wstring suffix = found.name;
    // "::$DATA" is the content itself.
    if (suffix.size() > 1 && suffix[1] != L':' && !CopyNamedStream(targetName, tempName, suffix))
      result = kErrorAttributesNotKept;
  } while (!result && g_findNextStream(search, &found));
  if (!result && GetLastError() != ERROR_HANDLE_EOF) result = kErrorAttributesNotKept;
  FindClose(search);
  return result;
}

// The system's calls for a file's extended attributes.
struct IoStatusBlock {
  union {
    LONG status;
    void* pointer;
  };
  ULONG_PTR information;
};
typedef LONG(WINAPI* QueryEaCall)(HANDLE, IoStatusBlock*, void*, ULONG, BOOLEAN, void*, ULONG,
                                  ULONG*, BOOLEAN);
typedef LONG(WINAPI* SetEaCall)(HANDLE, IoStatusBlock*, void*, ULONG);

template <typename Call>
Call NtdllCall(const char* name) {
  return reinterpret_cast<Call>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// Copies the extended attributes of the file open as from onto the one open
// as to, through the handles (the system's own calls rather than
// BackupRead/BackupWrite, which would read the whole content again to reach
// them): 0, or kErrorAttributesNotKept when they cannot be read or written.
// A file system that keeps none has none to copy.
std::error_code CopyExtendedAttributes(HANDLE from, HANDLE to) {
  static const QueryEaCall query = NtdllCall<QueryEaCall>("NtQueryEaFile");
  static const SetEaCall set = NtdllCall<SetEaCall>("NtSetEaFile");
  if (!query || !set) return {};
  const LONG kSuccess = 0, kNoMoreEas = static_cast<LONG>(0x80000012),
             kNoEasOnFile = static_cast<LONG>(0xC0000052),
             kEasNotSupported = static_cast<LONG>(0xC000004F),
             kNotImplemented = static_cast<LONG>(0xC0000002),
             kInvalidDeviceRequest = static_cast<LONG>(0xC0000010),
             kBufferOverflow = static_cast<LONG>(0x80000005),
             kBufferTooSmall = static_cast<LONG>(0xC0000023);
  // A file's extended attributes take at most 64 KiB on NTFS.
  std::vector<char> list(64 * 1024 + 1024);
  IoStatusBlock io = {};
  LONG status;
  for (;;) {
    status = query(from, &io, list.data(), static_cast<ULONG>(list.size()), FALSE, nullptr, 0,
                   nullptr, TRUE);
    if ((status != kBufferOverflow && status != kBufferTooSmall) || list.size() >= (1u << 22))
      break;
    list.resize(list.size() * 4);
  }
  if (status == kNoMoreEas || status == kNoEasOnFile || status == kEasNotSupported ||
      status == kNotImplemented || status == kInvalidDeviceRequest)
    return {};
  if (status != kSuccess) return kErrorAttributesNotKept;
  // The list's length: up to the end of its last entry.
  size_t length = 0;
  for (size_t at = 0;;) {
    if (at + 8 > list.size()) return kErrorAttributesNotKept;
    ULONG next;
    memcpy(&next, list.data() + at, sizeof next);
    const unsigned char nameLength = static_cast<unsigned char>(list[at + 5]);
    USHORT valueLength;
    memcpy(&valueLength, list.data() + at + 6, sizeof valueLength);
    length = at + 8 + nameLength + 1 + valueLength;
    if (next == 0) break;
    at += next;
  }
  if (length == 0 || length > list.size()) return {};
  if (set(to, &io, list.data(), static_cast<ULONG>(length)) == kSuccess) return {};
  return kErrorAttributesNotKept;
}

// Sets the parts info of sd on the file open as h.
bool WriteHandleSecurity(HANDLE h, SECURITY_INFORMATION info, void* sd) {
  return SetKernelObjectSecurity(h, info, sd) != 0;
}

// On Windows, after the new file open as h is written: target's mandatory
// label and (where this process may read it) its audit list, then its DACL
// exactly as it is, which may take inherited entries from its folder.
// kErrorAccessNotKept when one cannot be given.
std::error_code CarryWindowsAccess(const std::string& target, HANDLE h) {
  const bool audit = HeldPrivileges().security;
  std::vector<char> sd;
  if (ReadSecurity(target,
                   DACL_SECURITY_INFORMATION | kLabelInformation |
                       (audit ? SACL_SECURITY_INFORMATION : 0),
                   &sd))
    return kErrorAccessNotKept;
  PACL sacl = SaclOf(sd);
  if (HasLabel(sacl) && !WriteHandleSecurity(h, kLabelInformation, sd.data()))
    return kErrorAccessNotKept;
  if (audit && HasAudit(sacl) && !WriteHandleSecurity(h, SACL_SECURITY_INFORMATION, sd.data()))
    return kErrorAccessNotKept;
  if (WriteHandleSecurity(h, DACL_SECURITY_INFORMATION, sd.data())) return {};
  return kErrorAccessNotKept;
}

}  // namespace

std::error_code CreateTempFolderFor(const std::string& target, std::string* name) {
  const std::string folder = FolderOf(target);
  const std::string base = folder.empty() ? std::string(".\\") : folder;
  // Only this process's user may enter it (under Wine, through the owner
  // Wine takes for another's, as for the files: 0700).
  NewSecurity security;
  security.owner = UnderWine() ? WellKnown(WinAnonymousSid) : std::vector<char>();
  PSID allowed = UnderWine() ? (security.owner.empty() ? nullptr : security.owner.data())
                             : OurUser();
  security.acl.resize(256);
  PACL acl = reinterpret_cast<PACL>(security.acl.data());
  if (!allowed || !InitializeAcl(acl, static_cast<DWORD>(security.acl.size()), ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, allowed) ||
      (UnderWine() && !SetSecurityDescriptorOwner(&security.sd, allowed, FALSE)) ||
      !SetSecurityDescriptorDacl(&security.sd, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&security.sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    return kErrorAccessNotKept;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = base + "tmp" + UniquePart();
    std::wstring system;
    if (std::error_code error = SystemName(candidate, &system)) return error;
    if (CreateDirectoryW(system.c_str(), &security.attributes)) {
      *name = candidate + "\\";
      return {};
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return LastError();
  }
  return MapError(ERROR_ALREADY_EXISTS);
}

// Windows gives a process millions of handles.
size_t OpenFilesAllowed() { return SIZE_MAX; }

std::error_code RemoveFolder(const std::string& folder) {
  std::wstring name;
  if (std::error_code error = SystemName(folder, &name)) return error;
  return RemoveDirectoryW(name.c_str()) ? std::error_code() : LastError();
}

namespace {

// Windows never renames over a read-only file, but not every implementation
// refuses: the rule is kept here, so that a read-only file is never replaced.
bool IsReadOnly(const std::string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace

std::error_code SyncFolder(const std::string& folder) {
  std::wstring name;
  if (std::error_code error = SystemName(folder.empty() ? std::string(".") : folder, &name))
    return error;
  // NTFS writes a folder's entries out when the folder itself is flushed,
  // which takes a handle that may write. A system or a user that allows
  // neither leaves the renames to the file system's own journal.
  HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_PARAMETER) return {};
    return MapError(error);
  }
  std::error_code result;
  if (!FlushFileBuffers(h)) {
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_ACCESS_DENIED && error != ERROR_INVALID_PARAMETER)
      result = MapError(error);
  }
  CloseHandle(h);
  return result;
}

namespace {

// FILE_RENAME_INFO with the flags of FileRenameInfoEx.
struct RenameInfo {
  DWORD flags;  // in FileRenameInfo, ReplaceIfExists (a BOOLEAN)
  HANDLE root;
  DWORD length;  // of name, in bytes
  WCHAR name[1];
};
const int kFileRenameInfo = 3;
const int kFileDispositionInfo = 4;
const DWORD kRenameReplaceIfExists = 0x1;
const DWORD kRenamePosixSemantics = 0x2;

// Whether the system may have FileRenameInfoEx; false once it has refused it.
std::atomic<bool> g_posixRenameTried{true};

// Renames the file open as h over target (the system's name, "\\?\..."),
// through the handle: with kind FileRenameInfoEx and flags, or FileRenameInfo.
// False when the system refused; the error is left.
bool RenameByHandle(HANDLE h, const std::wstring& target, int kind, DWORD flags) {
  if (!g_setFileInformation) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  // The rename takes the system's own form of the name, "\??\" for "\\?\".
  std::wstring name = target;
  if (name.compare(0, 4, L"\\\\?\\") == 0) name[1] = L'?';
  const DWORD bytes = static_cast<DWORD>(name.size() * sizeof(WCHAR));
  std::vector<char> buffer(offsetof(RenameInfo, name) + bytes + sizeof(WCHAR));
  RenameInfo* info = reinterpret_cast<RenameInfo*>(buffer.data());
  info->flags = flags;
  info->root = nullptr;
  info->length = bytes;
  memcpy(info->name, name.data(), bytes);
  return g_setFileInformation(h, kind, info, static_cast<DWORD>(buffer.size())) != 0;
}

// Renames the file open as h over target the way that lets programs that
// hold target open (and allow its deletion) keep their old file, as on
// POSIX: Windows 10 1809 on NTFS and later. False when the system refused;
// the error is left.
bool PosixReplace(HANDLE h, const std::wstring& target) {
  if (!g_posixRenameTried) return false;
  if (RenameByHandle(h, target, kFileRenameInfoEx,
                     kRenameReplaceIfExists | kRenamePosixSemantics))
    return true;
  const DWORD error = GetLastError();
  if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
      error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED)
    g_posixRenameTried = false;
  SetLastError(error);
  return false;
}

// Why the replace of target was refused with ERROR_ACCESS_DENIED: target
// in use by another program (some systems answer that way while another
// program holds the file open) or EACCES.
std::error_code WhyDenied(const std::wstring& target) {
  HANDLE h = CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return kErrorHeld;  // it may be deleted, so it was not this process's rights
  }
  if (LastError() == kErrorHeld) return kErrorHeld;
  return Errno(EACCES);
}

// Gives the file open as h the name target in one step, replacing target.
// Retries briefly while another program holds target open. A read-only
// target is never replaced (EACCES): seen holds target's attribute flags as
// the caller has just seen them, or INVALID_FILE_ATTRIBUTES to look here.
std::error_code ReplaceByHandle(HANDLE h, const std::string& target, DWORD seen) {
  if (seen == INVALID_FILE_ATTRIBUTES ? IsReadOnly(target) : (seen & FILE_ATTRIBUTE_READONLY) != 0)
    return Errno(EACCES);
  std::wstring targetName;
  if (std::error_code error = SystemName(target, &targetName)) return error;
  if (PosixReplace(h, targetName)) return {};
  // Scanners and indexers hold files open briefly; give them about a second.
  // A read-only file stays read-only and is not waited for.
  const int kTries = 10;
  for (int attempt = 1;; ++attempt) {
    if (RenameByHandle(h, targetName, kFileRenameInfo, TRUE)) return {};
    DWORD error = GetLastError();
    const bool transient = (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                            error == ERROR_ACCESS_DENIED) &&
                           !IsReadOnly(target);
    if (!transient || attempt == kTries)
      return error == ERROR_ACCESS_DENIED && transient ? WhyDenied(targetName) : MapError(error);
    Sleep(100);
  }
}

}  // namespace

std::error_code RemoveFile(const std::string& path) {
  std::wstring name;
  if (std::error_code error = SystemName(path, &name)) return error;
  return DeleteFileW(name.c_str()) ? std::error_code() : LastError();
}

void RemoveTempFilesOnInterrupt() {}

std::error_code CheckOpenWritable(const std::string& path, File&) { return CheckWritable(path); }

std::error_code CheckWritable(const std::string& path) {
  File file;
  return file.OpenWrite(path);
}

NewContent::NewContent() {}

NewContent::~NewContent() { Discard(); }

std::error_code NewContent::Create(const std::string& target, File& source, const std::string& folder) {
  Discard();
  target_ = target;
  HANDLE from = source.Native();
  const DWORD attributes = AttributesOfHandle(from);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kErrorAttributesNotKept;
  // A read-only file is never replaced (see Replace).
  if (attributes & FILE_ATTRIBUTE_READONLY) return Errno(EACCES);
  const Privileges& privileges = HeldPrivileges();
  // Created encrypted, as the file is: its plain content never reaches the disk.
  const DWORD flags = FILE_FLAG_SEQUENTIAL_SCAN | ((attributes & FILE_ATTRIBUTE_ENCRYPTED)
                                                        ? FILE_ATTRIBUTE_ENCRYPTED
                                                        : FILE_ATTRIBUTE_NORMAL);
  const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER |
                       (privileges.security ? ACCESS_SYSTEM_SECURITY : 0);
  const std::string in = folder.empty() ? FolderOf(target) : folder;
  HANDLE h = INVALID_HANDLE_VALUE;
  // The owner where this process may give it; otherwise the caller's.
  for (bool withOwner : {true, false}) {
    NewSecurity security;
    if (std::error_code error = UnderWine() ? WineSecurity(from, &security)
                                : WindowsSecurity(from, withOwner, &security))
      return error;
    h = CreateTempFileIn(in, access, flags, &security.attributes, &name_);
    if (h != INVALID_HANDLE_VALUE || UnderWine() || GetLastError() != ERROR_INVALID_OWNER) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    const std::error_code error = LastError();
    name_.clear();
    return error;
  }
  file_.Adopt(OwnedHandle(h));
  if (std::error_code error = MatchEncryptionAndCompression(h, attributes)) {
    Discard();
    return error;
  }
  return {};
}

// The named streams and extended attributes, while the file read is open;
// then it is closed, so that while its new content waits, another program may
// still rename over it or delete it (Wine refuses both while any handle is
// open). Replace checks it by name.
std::error_code NewContent::CarryBeforeFlush(File& source) {
  std::error_code error = CopyExtendedAttributes(source.Native(), file_.Native());
  if (!error) error = CopyNamedStreams(target_, name_);
  const std::error_code closed = source.Close();
  return error ? error : closed;
}

std::error_code NewContent::CarryAfterFlush() {
  std::wstring targetName;
  if (std::error_code error = SystemName(target_, &targetName)) return error;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(targetName.c_str(), GetFileExInfoStandard, &data)) return LastError();
  // Not worth carrying anything over (and the new file would be read-only
  // too, which no one could delete).
  if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return Errno(EACCES);
  // The new content is new to a backup: it is marked for archiving, whatever
  // target's mark said. Read-only targets are never replaced.
  const DWORD carried =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = (data.dwFileAttributes & carried) | FILE_ATTRIBUTE_ARCHIVE;
  if (!SetFileBasics(file_.Native(), TimeValue(data.ftCreationTime), attributes))
    return kErrorAttributesNotKept;
  // The access rules last: under Wine they were given at the creation.
  return UnderWine() ? std::error_code() : CarryWindowsAccess(target_, file_.Native());
}

std::error_code NewContent::Replace(File& source, const FileStamp& opened, DeferredFolderSync* deferred) {
  // No handle may be open on a file that is renamed over (Wine refuses).
  source.Close();
  FileStamp now;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (std::error_code error = StampAndAttributesOf(target_, &now, &attributes)) return error;
  if (now != opened) return kErrorChangedMeanwhile;
  if (std::error_code error = ReplaceByHandle(file_.Native(), target_, attributes)) return error;
  // Its identity as the caller knows files by: the index alone, no volume.
  uint64_t index = 0;
  if (QueryFileIndex(file_.Native(), &index)) made_.index = index;
  name_.clear();
  file_.Close();
  // The rename is on the disk once its folder is flushed: now, or when
  // deferred is. A failure now is not reported: target holds its new content.
  if (deferred) {
    deferred->Add(FolderOf(target_));
  } else {
    SyncFolder(FolderOf(target_));
  }
  return {};
}

void NewContent::Discard() {
  made_ = FileStamp();
  // Deleted through its handle: its name is never used again.
  if (!name_.empty() && file_.IsOpen() && g_setFileInformation) {
    BOOLEAN remove = TRUE;
    // A read-only file is not deleted: under Wine a file whose access rules
    // let no one write it is read-only.
    if (!g_setFileInformation(file_.Native(), kFileDispositionInfo, &remove, sizeof remove) &&
        SetFileBasics(file_.Native(), 0, FILE_ATTRIBUTE_NORMAL))
      g_setFileInformation(file_.Native(), kFileDispositionInfo, &remove, sizeof remove);
  }
  file_.Close();
  name_.clear();
}
