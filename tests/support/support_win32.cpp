#include "support.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "win32/wide_text.h"

namespace {

// The system's name for a test's path (UTF-8): an absolute one in the form
// that takes long paths and names ending in a dot or a space as they are.
std::wstring W(const std::string& path) {
  std::string form = path;
  const bool absolute = form.size() >= 3 && form[1] == ':' && (form[2] == '\\' || form[2] == '/');
  if (absolute && form.find("\\.") == std::string::npos && form.find('/') == std::string::npos)
    form = "\\\\?\\" + form;
  std::wstring wide;
  if (!WideFromUtf8(form, &wide)) throw std::runtime_error("not UTF-8: " + path);
  return wide;
}

void RemoveTree(const std::string& path) {
  const std::wstring name = W(path);
  DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    for (const std::string& entry : ListFolder(path)) RemoveTree(path + "\\" + entry);
    RemoveDirectoryW(name.c_str());
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(name.c_str());
  } else {
    DeleteFileW(name.c_str());
  }
}

HANDLE Handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

intptr_t OpenShared(const std::string& path, DWORD share) {
  return reinterpret_cast<intptr_t>(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

ScratchDir::ScratchDir(const std::string& parent) {
  char base[MAX_PATH + 1];
  if (parent.empty()) {
    GetTempPathA(sizeof base, base);
  } else {
    lstrcpynA(base, parent.c_str(), sizeof base);
  }
  std::string folder = base;
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  for (unsigned n = GetTickCount() ^ GetCurrentProcessId();; ++n) {
    std::string candidate = folder + "quenlat-test-" + std::to_string(n);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate + "\\";
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot make " + candidate);
  }
}

ScratchDir::~ScratchDir() { RemoveTree(path_.substr(0, path_.size() - 1)); }

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) bytes.append(buf, got);
  CloseHandle(h);
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size());
  CloseHandle(h);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  std::string pattern = folder;
  if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  HANDLE find = FindFirstFileW(W(pattern + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = Utf8FromWide(data.cFileName, wcslen(data.cFileName));
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

void MakeFolder(const std::string& path) { CreateDirectoryW(W(path).c_str(), nullptr); }

std::string CurrentFolder() {
  char buf[MAX_PATH + 1];
  std::string s(buf, GetCurrentDirectoryA(sizeof buf, buf));
  return s.back() == '\\' ? s : s + "\\";
}

namespace {
const std::string g_startupFolder = CurrentFolder();
}  // namespace

const std::string& StartupFolder() { return g_startupFolder; }

void EnterFolder(const std::string& path) {
  if (!SetCurrentDirectoryA(path.c_str())) throw std::runtime_error("cannot enter " + path);
}

std::string HostPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

namespace {

// Opens path and moves to the offset; the caller closes the handle.
HANDLE OpenAt(const std::string& path, DWORD access, DWORD creation, uint64_t at) {
  HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         creation, 0, nullptr);
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(at);
  if (h != INVALID_HANDLE_VALUE && !SetFilePointerEx(h, to, nullptr, FILE_BEGIN)) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace

void WriteAt(const std::string& path, uint64_t at, const std::string& bytes) {
  HANDLE h = OpenAt(path, GENERIC_WRITE, OPEN_ALWAYS, at);
  DWORD written = 0;
  bool ok = h != INVALID_HANDLE_VALUE &&
            WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

std::string ReadAt(const std::string& path, uint64_t at, size_t n) {
  std::string bytes(n, '\0');
  HANDLE h = OpenAt(path, GENERIC_READ, OPEN_EXISTING, at);
  DWORD got = 0;
  if (h == INVALID_HANDLE_VALUE || !ReadFile(h, &bytes[0], static_cast<DWORD>(n), &got, nullptr))
    got = 0;
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  bytes.resize(got);
  return bytes;
}

void SetSize(const std::string& path, uint64_t size) {
  HANDLE h = OpenAt(path, GENERIC_WRITE, OPEN_ALWAYS, size);
  bool ok = h != INVALID_HANDLE_VALUE && SetEndOfFile(h);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) throw std::runtime_error("cannot resize " + path);
}

uint64_t SizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Unreadable::Unreadable(const std::string& path) : path_(path), handle_(OpenShared(path, 0)) {}

Unreadable::~Unreadable() { CloseHandle(Handle(handle_)); }

ReplaceBlocked::ReplaceBlocked(const std::string& path)
    : path_(path),
      handle_(OpenShared(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)),
      ok_(Handle(handle_) != INVALID_HANDLE_VALUE) {}

ReplaceBlocked::~ReplaceBlocked() {
  if (ok_) CloseHandle(Handle(handle_));
}

namespace {
std::string ScratchFs(const char* sub) {
  const char* dir = getenv("QUENLAT_SCRATCH_FS");
  return dir ? HostPath(std::string(dir) + "/" + sub + "/") : std::string();
}
}  // namespace

std::string FileInReadOnlyFolder(const ScratchDir&) {
  std::string folder = ScratchFs("readonly");
  return !folder.empty() && Exists(folder + "file.txt") ? folder + "file.txt" : "";
}

std::string SmallFilesystem() {
  std::string folder = ScratchFs("full");
  return !folder.empty() && Exists(folder + ".mounted") ? folder : "";
}

namespace {

// The helper program's Windows path; the build names it.
std::string HoldFileProgram() {
  std::string path = QUENLAT_HOLD_FILE;
  return path.size() >= 2 && path[1] == ':' ? path : HostPath(path);
}

// A pipe whose end for the child is inheritable and whose end for this process is not.
bool MakePipe(HANDLE* read, HANDLE* write, bool childReads) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  if (!CreatePipe(read, write, &sa, 0)) return false;
  SetHandleInformation(childReads ? *write : *read, HANDLE_FLAG_INHERIT, 0);
  return true;
}

}  // namespace

HeldByOtherProcess::HeldByOtherProcess(const std::string& path, Sharing sharing)
    : process_(0), input_(0), ok_(false) {
  HANDLE inRead, inWrite, outRead, outWrite;
  if (!MakePipe(&inRead, &inWrite, true)) return;
  if (!MakePipe(&outRead, &outWrite, false)) {
    CloseHandle(inRead);
    CloseHandle(inWrite);
    return;
  }
  const std::string program = HoldFileProgram();
  std::string commandLine = "\"" + program + "\" " +
                            (sharing == Sharing::Read ? "read" : "read-write") + " \"" + path +
                            "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inRead;
  si.hStdOutput = outWrite;
  si.hStdError = outWrite;
  PROCESS_INFORMATION pi = {};
  bool started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi) != 0;
  // Only the helper keeps these ends: its output ends when it does.
  CloseHandle(inRead);
  CloseHandle(outWrite);
  if (!started) {
    CloseHandle(inWrite);
    CloseHandle(outRead);
    return;
  }
  CloseHandle(pi.hThread);
  process_ = reinterpret_cast<intptr_t>(pi.hProcess);
  input_ = reinterpret_cast<intptr_t>(inWrite);

  std::string line;
  char c;
  DWORD got = 0;
  while (line.size() < 64 && ReadFile(outRead, &c, 1, &got, nullptr) && got == 1 && c != '\n')
    line += c;
  CloseHandle(outRead);
  ok_ = line == "held";
  if (!ok_) Release();
}

HeldByOtherProcess::~HeldByOtherProcess() { Release(); }

void HeldByOtherProcess::Release() {
  ok_ = false;
  if (input_) CloseHandle(Handle(input_));  // the helper's input ends: it lets go
  input_ = 0;
  if (process_) {
    HANDLE process = Handle(process_);
    if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
  }
  process_ = 0;
}

bool MakeReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      !SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY))
    return false;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  return false;
}

namespace {

bool FreeBytes(const std::string& folder, uint64_t* bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return false;
  *bytes = available.QuadPart;
  return true;
}

}  // namespace

FreeSpaceLeft::FreeSpaceLeft(const std::string& folder, uint64_t bytes)
    : filler_((folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder
                                                                              : folder + "\\") +
              "filler"),
      ok_(false) {
  uint64_t free = 0;
  if (!FreeBytes(folder, &free) || free < bytes) return;
  HANDLE h = CreateFileA(filler_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  const std::string block(1 << 20, 'f');
  for (uint64_t left = free - bytes; left > 0;) {
    DWORD written = 0;
    DWORD n = static_cast<DWORD>(std::min<uint64_t>(left, block.size()));
    if (!WriteFile(h, block.data(), n, &written, nullptr) || written == 0) break;
    left -= written;
  }
  CloseHandle(h);
  ok_ = FreeBytes(folder, &free) && free == bytes;
}

FreeSpaceLeft::~FreeSpaceLeft() { DeleteFileA(filler_.c_str()); }
