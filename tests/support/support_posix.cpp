#include "support.h"

#include <dirent.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/syscall.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (st.st_uid != geteuid()) (void)!lchown(path.c_str(), geteuid(), getegid());
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    for (const std::string& name : ListFolder(path)) RemoveTree(path + "/" + name);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

}  // namespace

ScratchDir::ScratchDir(const std::string& parent) {
  std::string base = parent.empty() ? "/tmp" : parent;
  if (base.back() != '/') base += '/';
  std::string pattern = base + "quenlat-test-XXXXXX";
  if (!mkdtemp(&pattern[0])) throw std::runtime_error("cannot make " + pattern);
  path_ = pattern + "/";
}

ScratchDir::~ScratchDir() { RemoveTree(path_.substr(0, path_.size() - 1)); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void MakeFolder(const std::string& path) { mkdir(path.c_str(), 0777); }

std::string CurrentFolder() {
  char buf[PATH_MAX];
  // A conversion makes its file's folder current, and a scratch folder goes
  // after its test: the current directory may no longer exist.
  if (getcwd(buf, sizeof buf) == nullptr) return "/";
  std::string s = buf;
  return s.back() == '/' ? s : s + "/";
}

namespace {
const std::string g_startupFolder = CurrentFolder();
}  // namespace

const std::string& StartupFolder() { return g_startupFolder; }

void EnterFolder(const std::string& path) {
  if (chdir(path.c_str()) != 0) throw std::runtime_error("cannot enter " + path);
}

std::string HostPath(const std::string& unixPath) { return unixPath; }

void WriteAt(const std::string& path, uint64_t at, const std::string& bytes) {
  int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  bool ok = fd >= 0 && pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)) ==
                           static_cast<ssize_t>(bytes.size());
  if (fd >= 0) close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

std::string ReadAt(const std::string& path, uint64_t at, size_t n) {
  std::string bytes(n, '\0');
  int fd = open(path.c_str(), O_RDONLY);
  ssize_t got = fd >= 0 ? pread(fd, &bytes[0], n, static_cast<off_t>(at)) : -1;
  if (fd >= 0) close(fd);
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return bytes;
}

void SetSize(const std::string& path, uint64_t size) {
  if (truncate(path.c_str(), static_cast<off_t>(size)) != 0)
    throw std::runtime_error("cannot resize " + path);
}

uint64_t SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

namespace {

// Tests run as root in CI, and root reads and writes everything: drop that
// override so that permissions mean for these tests what they mean for users.
// Dropped from the bounding set too, or a program that a test starts (the
// console tool) would get it back when it is executed.
struct DropFileAccessOverride {
  DropFileAccessOverride() {
    const unsigned kOverrides[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};
    for (unsigned cap : kOverrides) prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return;
    for (unsigned cap : kOverrides) {
      data[0].effective &= ~(1u << cap);
      data[0].inheritable &= ~(1u << cap);
    }
    syscall(SYS_capset, &header, data);
  }
} g_dropFileAccessOverride;

const uid_t kOtherUser = 65534;  // nobody

// Puts CAP_FOWNER in or out of this thread's effective set; false when the
// system refuses.
bool SetOwnerOverride(bool on) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  if (on) {
    data[0].effective |= 1u << CAP_FOWNER;
  } else {
    data[0].effective &= ~(1u << CAP_FOWNER);
  }
  return syscall(SYS_capset, &header, data) == 0;
}

std::string Parent(const std::string& path) {
  std::string s = path;
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s.substr(0, s.rfind('/') + 1);
}

}  // namespace

Unreadable::Unreadable(const std::string& path) : path_(path), handle_(-1) {
  chmod(path.c_str(), 0);
}

Unreadable::~Unreadable() { chmod(path_.c_str(), 0644); }

ReplaceBlocked::ReplaceBlocked(const std::string& path) : path_(path), handle_(-1), ok_(false) {
  std::string folder = Parent(path);
  // Permissions first: once the other user owns them, they are not ours to change.
  ok_ = geteuid() == 0 && chmod(path.c_str(), 0666) == 0 && chmod(folder.c_str(), 01777) == 0 &&
        chown(path.c_str(), kOtherUser, kOtherUser) == 0 &&
        chown(folder.c_str(), kOtherUser, kOtherUser) == 0;
}

ReplaceBlocked::~ReplaceBlocked() {
  std::string folder = Parent(path_);
  (void)!chown(folder.c_str(), geteuid(), getegid());
  chmod(folder.c_str(), 0700);
  (void)!chown(path_.c_str(), geteuid(), getegid());
}

std::string FileInReadOnlyFolder(const ScratchDir& scratch) {
  std::string folder = scratch / "readonly";
  MakeFolder(folder);
  WriteBytes(folder + "/file.txt", "a\r\nb\r\n");
  chmod(folder.c_str(), 0555);
  return folder + "/file.txt";
}

std::string SmallFilesystem() {
  const char* dir = getenv("QUENLAT_SCRATCH_FS");
  if (!dir) return "";
  std::string full = std::string(dir) + "/full/";
  return Exists(full + ".mounted") ? full : "";
}

HeldByOtherProcess::HeldByOtherProcess(const std::string&, Sharing)
    : process_(0), input_(0), ok_(false) {}

HeldByOtherProcess::~HeldByOtherProcess() {}

void HeldByOtherProcess::Release() {}

bool MakeReadOnly(const std::string& path) {
  if (chmod(path.c_str(), 0444) != 0) return false;
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return true;
  close(fd);
  return false;
}

namespace {

bool FreeBytes(const std::string& folder, uint64_t* bytes) {
  struct statvfs st;
  if (statvfs(folder.c_str(), &st) != 0) return false;
  *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

}  // namespace

FreeSpaceLeft::FreeSpaceLeft(const std::string& folder, uint64_t bytes)
    : filler_((folder.empty() || folder.back() == '/' ? folder : folder + "/") + "filler"),
      ok_(false) {
  uint64_t free = 0;
  if (!FreeBytes(folder, &free) || free < bytes) return;
  int fd = open(filler_.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string block(1 << 20, 'f');
  for (uint64_t left = free - bytes; left > 0;) {
    ssize_t w = write(fd, block.data(), static_cast<size_t>(std::min<uint64_t>(left, block.size())));
    if (w <= 0) break;
    left -= static_cast<uint64_t>(w);
  }
  close(fd);
  ok_ = FreeBytes(folder, &free) && free == bytes;
}

FreeSpaceLeft::~FreeSpaceLeft() { unlink(filler_.c_str()); }

namespace {

// A block device major number that no driver of this system registered, so
// that a node of it opens nothing: one of those kept for local use that
// /proc/devices does not list. 0 when all of them are taken.
unsigned UnusedBlockMajor() {
  std::ifstream devices("/proc/devices");
  std::string line;
  bool block = false;
  std::vector<unsigned> taken;
  while (std::getline(devices, line)) {
    if (line.rfind("Block devices:", 0) == 0) block = true;
    if (block) taken.push_back(static_cast<unsigned>(std::atoi(line.c_str())));
  }
  if (!block) return 0;
  for (unsigned major = 240; major <= 254; ++major) {
    if (std::find(taken.begin(), taken.end(), major) == taken.end()) return major;
  }
  return 0;
}

}  // namespace

std::vector<SpecialFile> MakeSpecialFiles(const std::string& folder) {
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  std::vector<SpecialFile> made;
  const auto note = [](const char* what, const std::string& why) {
    std::printf("not tried: %s (%s)\n", what, why.c_str());
  };
  if (mknod((base + "char-device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    made.push_back({"char-device", S_IFCHR});
  } else {
    note("a character device", std::strerror(errno));
  }
  const unsigned major = UnusedBlockMajor();
  if (major == 0) {
    note("a block device", "every local block device number is taken");
  } else if (mknod((base + "block-device").c_str(), S_IFBLK | 0666, makedev(major, 0)) == 0) {
    made.push_back({"block-device", S_IFBLK});
  } else {
    note("a block device", std::strerror(errno));
  }
  if (mkfifo((base + "fifo").c_str(), 0666) == 0) {
    made.push_back({"fifo", S_IFIFO});
  } else {
    note("a named pipe", std::strerror(errno));
  }
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  const std::string socketPath = base + "socket";
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socketPath.size() >= sizeof address.sun_path) {
    note("a socket", "the folder's path is too long for one");
  } else if (fd < 0) {
    note("a socket", std::strerror(errno));
  } else {
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      made.push_back({"socket", S_IFSOCK});
    } else {
      note("a socket", std::strerror(errno));
    }
  }
  if (fd >= 0) close(fd);  // the socket's name stays
  return made;
}

unsigned FileTypeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

WithOwnerOverride::WithOwnerOverride() : ok_(SetOwnerOverride(true)) {}

WithOwnerOverride::~WithOwnerOverride() { SetOwnerOverride(false); }
