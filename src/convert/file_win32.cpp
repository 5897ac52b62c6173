#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "file.h"
#include "win32/file_query.h"

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
    case ERROR_DIRECTORY:  // GetTempFileNameA's answer for a missing folder
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

// The program's error number for the call that just failed.
int LastError() { return MapError(GetLastError()); }

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

std::string CurrentDirectory() {
  char buf[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

// Taken before main runs, so before any conversion changes it.
const std::string g_startupDirectory = CurrentDirectory();

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Whether path names one of the system's devices rather than a file: a
// "\\.\" path, or a last part that is a device name (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, CONIN$, CONOUT$), with or without an extension, in any
// folder. Opening one may wait for the device or talk to it.
bool NamesDevice(const std::string& path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      path[2] == '.' && IsSeparator(path[3]))
    return true;
  size_t start = FolderLength(path, IsLeadByte);
  std::string name = path.substr(start, path.find('.', start) - start);
  while (!name.empty() && (name.back() == ' ' || name.back() == ':')) name.pop_back();
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" ||
      name == "CONOUT$")
    return true;
  return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
         name[3] >= '1' && name[3] <= '9';
}

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

// Opens the file at path with access, a disk file only: a device name is
// refused before any open, anything else that opens (a pipe, a console) after.
// The handle, or INVALID_HANDLE_VALUE with *error set.
HANDLE OpenDiskFile(const std::string& path, DWORD access, DWORD flags, int* error) {
  if (NamesDevice(path)) {
    *error = kErrorNotRegularFile;
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = LastError();
    return h;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    *error = kErrorNotRegularFile;
    return INVALID_HANDLE_VALUE;
  }
  *error = 0;
  return h;
}

}  // namespace

namespace {
HANDLE Handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
const intptr_t kNoHandle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
}  // namespace

const size_t kFileBlockSize = 256 * 1024;
const bool kWriteInBackground = false;
const bool kFlushInBackground = true;
const bool kMetadataBeforeFlush = false;
const unsigned kFlushThreads = 2;

File::File() : handle_(kNoHandle) {}

File::~File() { Close(); }

int File::OpenRead(const std::string& path) {
  Close();
  int error = 0;
  handle_ = reinterpret_cast<intptr_t>(OpenDiskFile(
      path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, &error));
  return error;
}

int File::OpenWriteTruncate(const std::string& path) {
  Close();
  handle_ = reinterpret_cast<intptr_t>(CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, TRUNCATE_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return handle_ != kNoHandle ? 0 : LastError();
}

int File::OpenWrite(const std::string& path) {
  Close();
  int error = 0;
  handle_ = reinterpret_cast<intptr_t>(
      OpenDiskFile(path, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, &error));
  return error;
}

bool File::IsOpen() const { return handle_ != kNoHandle; }

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
  HANDLE h = CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  int error = StampOfHandle(h, stamp);
  CloseHandle(h);
  return error;
}

int File::Seek(uint64_t pos) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(pos);
  return SetFilePointerEx(Handle(handle_), to, nullptr, FILE_BEGIN) ? 0 : LastError();
}

int File::Sync() { return FlushFileBuffers(Handle(handle_)) ? 0 : LastError(); }

int File::Close() {
  if (handle_ == kNoHandle) return 0;
  HANDLE h = Handle(handle_);
  handle_ = kNoHandle;
  return CloseHandle(h) ? 0 : LastError();
}

std::string FolderOf(const std::string& path) {
  return path.substr(0, FolderLength(path, IsLeadByte));
}

const std::string& StartupDirectory() { return g_startupDirectory; }

std::string ResolveTarget(const std::string& path) {
  const std::string& base = g_startupDirectory;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return path;  // UNC
  if (path.size() >= 2 && path[1] == ':') {
    if (path.size() >= 3 && IsSeparator(path[2])) return path;
    // "X:name" is relative to drive X's own current directory: only the
    // start-up drive's is known.
    if (base.size() >= 2 && base[1] == ':' && (path[0] | 0x20) == (base[0] | 0x20)) {
      std::string rest = path.substr(2);
      return rest.empty() ? base : ResolveTarget(rest);
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

int ChangeDirectory(const std::string& folder) {
  if (folder.empty()) return 0;
  // Setting the directory again costs the system an open of it, for every
  // file of a batch in one folder. Only an exact match is skipped: the
  // current directory, with or without its separator at the end ("X:" may
  // stand for another directory of drive X).
  const std::string current = CurrentDirectory();
  if (!current.empty() && (folder == current || folder == current + '\\')) return 0;
  return SetCurrentDirectoryA(folder.c_str()) ? 0 : LastError();
}

int CreateTempFileFor(const std::string& target, std::string* name) {
  return CreateTempFileIn(FolderOf(target), name);
}

int CreateTempFileIn(const std::string& folder, std::string* name) {
  // GetTempFileNameA takes folders of up to MAX_PATH - 14 characters. Given a
  // longer one, some implementations make a file under a cut-off name and hand
  // back a name without its terminating NUL.
  if (folder.size() > MAX_PATH - 14) return MapError(ERROR_FILENAME_EXCED_RANGE);
  char buf[MAX_PATH + 1] = {};
  if (!GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "tmp", 0, buf)) return LastError();
  // Some implementations report success without creating the file: then
  // create it here, which also tells why it could not be made.
  if (GetFileAttributesA(buf) == INVALID_FILE_ATTRIBUTES) {
    HANDLE h = CreateFileA(buf, GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    CloseHandle(h);
  }
  *name = buf;
  return 0;
}

int CreateTempFolderFor(const std::string& target, std::string* name) {
  const std::string folder = FolderOf(target);
  // Names that no other program would choose at the same moment: the time,
  // the process and a count, mixed.
  static unsigned count = 0;
  uint32_t seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint32_t x = seed + 0x9e3779b9u * ++count;
    x ^= x >> 16;
    x *= 0x45d9f3bu;
    x ^= x >> 16;
    char hex[16];
    snprintf(hex, sizeof hex, "tmp%08x", static_cast<unsigned>(x));
    const std::string candidate = (folder.empty() ? std::string(".\\") : folder) + hex;
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
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
  return RemoveDirectoryA(folder.c_str()) ? 0 : LastError();
}

namespace {

// Windows never renames over a read-only file, but not every implementation
// refuses: the rule is kept here, so that a read-only file is never replaced.
bool IsReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
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
  DWORD need = 0;
  sd->resize(256);
  while (!GetFileSecurityA(path.c_str(), info, sd->data(), static_cast<DWORD>(sd->size()), &need)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || need <= sd->size()) return LastError();
    sd->resize(need);
  }
  return 0;
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
        SetFileSecurityA(temp.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                         &sd))
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
      !SetFileSecurityA(temp.c_str(), DACL_SECURITY_INFORMATION, sd.data()))
    return kErrorAccessNotKept;
  if (ReadSecurity(target, OWNER_SECURITY_INFORMATION, &sd) == 0)
    SetFileSecurityA(temp.c_str(), OWNER_SECURITY_INFORMATION, sd.data());
  return 0;
}

}  // namespace

int CarryMetadata(const std::string& target, const std::string& temp) {
  // Not worth carrying anything over (and the new file would be read-only
  // too, which no one could delete).
  if (IsReadOnly(target)) return EACCES;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data)) return LastError();
  HANDLE h = CreateFileA(temp.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
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
  if (!timeKept || (!together && !SetFileAttributesA(temp.c_str(), attributes)))
    return kErrorAttributesNotKept;
  // The access rules last: they may take from this process the right to
  // change the rest.
  return UnderWine() ? CarryWineAccess(target, temp) : CarryWindowsAccess(target, temp);
}

// MOVEFILE_WRITE_THROUGH makes each replace durable by itself: nothing is deferred.
int SyncFolder(const std::string&) { return 0; }

int ReplaceWithTemp(const std::string& temp, const std::string& target, DeferredFolderSync*) {
  if (IsReadOnly(target)) return EACCES;
  // Scanners and indexers hold files open briefly; give them about a second.
  // A read-only file stays read-only and is not waited for.
  const int kTries = 10;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExA(temp.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    DWORD error = GetLastError();
    const bool transient = (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                            error == ERROR_ACCESS_DENIED) &&
                           !IsReadOnly(target);
    if (!transient || attempt == kTries) return MapError(error);
    Sleep(100);
  }
}

int RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) ? 0 : LastError(); }
