// What a converted file keeps beyond its content on POSIX: its owner and
// group, its extended attributes and ACLs, its permission bits; and a
// conversion that cannot keep them replaces nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file.h"
#include "support.h"

namespace {

const uid_t kNobody = 65534;

// An ACL as the system stores it in system.posix_acl_*: a version, then
// entries of tag, permissions and id, sorted by tag and id.
struct AclEntry {
  uint16_t tag;
  uint16_t perm;
  uint32_t id;
};
enum : uint16_t { kUserObj = 1, kUser = 2, kGroupObj = 4, kGroup = 8, kMask = 0x10, kOther = 0x20 };
const uint32_t kNoId = 0xffffffff;

std::string AclBytes(const std::vector<AclEntry>& entries) {
  std::string bytes;
  const auto put = [&](uint32_t v, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  put(2, 4);
  for (const AclEntry& e : entries) {
    put(e.tag, 2);
    put(e.perm, 2);
    put(e.id, 4);
  }
  return bytes;
}

// The attribute's value; "<none>" when the file has none.
std::string Attribute(const std::string& path, const char* name) {
  char buf[4096];
  ssize_t n = getxattr(path.c_str(), name, buf, sizeof buf);
  return n < 0 ? std::string("<none>") : std::string(buf, static_cast<size_t>(n));
}

bool SetAttribute(const std::string& path, const char* name, const std::string& value) {
  return setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

struct stat Stat(const std::string& path) {
  struct stat st = {};
  stat(path.c_str(), &st);
  return st;
}

// Skips the test where the scratch folder's filesystem keeps no user
// attributes or ACLs.
#define REQUIRE_ATTRIBUTES(scratch)                                                        \
  do {                                                                                     \
    const std::string probe = (scratch) / "probe";                                         \
    WriteBytes(probe, "");                                                                 \
    const bool ok = SetAttribute(probe, "user.probe", "1") &&                              \
                    SetAttribute(probe, "system.posix_acl_access",                         \
                                 AclBytes({{kUserObj, 6, kNoId}, {kGroupObj, 4, kNoId},     \
                                           {kOther, 0, kNoId}}));                          \
    unlink(probe.c_str());                                                                 \
    if (!ok) GTEST_SKIP() << "the filesystem of " << (scratch).path()                      \
                          << " keeps no user attributes or ACLs";                          \
  } while (0)

// A file with an ACL that gives another user read and write, and its owning
// group read only: the ACL's mask (rw) shows as the mode's group bits. The
// conversion keeps the ACL whole, its attributes, and the mode; without the
// ACL the owning group would gain write.
TEST(MetadataPosix, KeepsExtendedAttributesAndAcl) {
  ScratchDir scratch;
  REQUIRE_ATTRIBUTES(scratch);
  CollectingReporter reporter;
  const std::string path = scratch / "f.txt";
  WriteBytes(path, "a\nb\n");
  const std::string acl = AclBytes({{kUserObj, 6, kNoId},
                                    {kUser, 6, kNobody},
                                    {kGroupObj, 4, kNoId},
                                    {kMask, 6, kNoId},
                                    {kOther, 0, kNoId}});
  ASSERT_TRUE(SetAttribute(path, "system.posix_acl_access", acl));
  ASSERT_TRUE(SetAttribute(path, "user.note", std::string("keep\0me", 7)));
  ASSERT_TRUE(SetAttribute(path, "user.empty", ""));
  // Only a process with CAP_SYS_ADMIN sees trusted attributes at all.
  const bool trusted = SetAttribute(path, "trusted.note", "root's");
  ASSERT_EQ(Stat(path).st_mode & 07777, 0660u);

  ASSERT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter));
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\n");
  EXPECT_EQ(Attribute(path, "system.posix_acl_access"), acl);
  EXPECT_EQ(Attribute(path, "user.note"), std::string("keep\0me", 7));
  EXPECT_EQ(Attribute(path, "user.empty"), "");
  if (trusted) {
    EXPECT_EQ(Attribute(path, "trusted.note"), "root's");
  }
  EXPECT_EQ(Stat(path).st_mode & 07777, 0660u);
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
}

// A file without an ACL in a folder whose default ACL gives another user
// access: the new content would inherit that ACL when it is made, and must
// not keep it.
TEST(MetadataPosix, GainsNoAclFromItsFolder) {
  ScratchDir scratch;
  REQUIRE_ATTRIBUTES(scratch);
  CollectingReporter reporter;
  const std::string path = scratch / "f.txt";
  WriteBytes(path, "a\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(SetAttribute(scratch.path(), "system.posix_acl_default",
                           AclBytes({{kUserObj, 7, kNoId},
                                     {kUser, 7, kNobody},
                                     {kGroupObj, 5, kNoId},
                                     {kMask, 7, kNoId},
                                     {kOther, 5, kNoId}})));
  ASSERT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter));
  EXPECT_EQ(ReadBytes(path), "a\r\n");
  EXPECT_EQ(Attribute(path, "system.posix_acl_access"), "<none>");
  EXPECT_EQ(Stat(path).st_mode & 07777, 0640u);
}

// The owner and group of another user's file, and set-ID bits, which a
// change of owner clears even when it names the same owner: kept by a process
// that may set them. (Tests run without CAP_FOWNER: set-ID bits of a file
// given away cannot be set here, so they are tried on root's own file.)
TEST(MetadataPosix, KeepsOwnerGroupAndSetIdBits) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  const struct {
    const char* name;
    uid_t uid;
    gid_t gid;
    mode_t mode;
  } kCases[] = {{"another_users_file", kNobody, kNobody, 0705}, {"set_id_bits", 0, 0, 06751}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    CollectingReporter reporter;
    const std::string path = scratch / "tool.sh";
    WriteBytes(path, "echo hi\r\n");
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    ASSERT_EQ(chown(path.c_str(), c.uid, c.gid), 0);
    if (c.uid == geteuid()) {
      ASSERT_EQ(chmod(path.c_str(), c.mode), 0);  // chown cleared them
    }
    ASSERT_EQ(Stat(path).st_mode & 07777, c.mode);
    ASSERT_TRUE(ConvertWithMode(path, ModeCrLfToLf, reporter));
    EXPECT_EQ(ReadBytes(path), "echo hi\n");
    const struct stat st = Stat(path);
    EXPECT_EQ(st.st_uid, c.uid);
    EXPECT_EQ(st.st_gid, c.gid);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
  }
}

// Converted by a user who may not keep the owner or the group: another
// user's writable file in the caller's own folder, and the caller's own file
// whose group the caller is not in. Nothing is replaced and the failure says
// why. The conversion runs in a child process that has dropped root.
TEST(MetadataPosix, OwnerThatCannotBeKeptStopsTheConversion) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make another user's file";
  const struct {
    const char* name;
    uid_t uid;
    gid_t gid;
  } kCases[] = {{"another_users_file", 0, 0}, {"a_group_the_caller_is_not_in", kNobody, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    const std::string path = scratch / "f.txt";
    WriteBytes(path, "a\nb\n");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chown(path.c_str(), c.uid, c.gid), 0);
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    ASSERT_EQ(chown(scratch.path().c_str(), kNobody, kNobody), 0);

    // The child's exit status: 0 when the conversion failed with the one
    // report expected, 1 otherwise, 2 when it could not drop root.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
      CollectingReporter reporter;
      const bool converted = ConvertWithMode(path, ModeLfToCrLf, reporter);
      const bool expected = !converted && reporter.reports.size() == 1 &&
                            reporter.reports[0].first == path &&
                            reporter.reports[0].second == kErrorOwnerNotKept;
      _exit(expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadBytes(path), "a\nb\n");
    const struct stat st = Stat(path);
    EXPECT_EQ(st.st_uid, c.uid);
    EXPECT_EQ(st.st_gid, c.gid);
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
}

// The file flags chattr sets for a file's own sake are kept: no atime
// updates, no dump, synchronous writes, secure deletion, undeletable.
TEST(MetadataPosix, KeepsFileFlags) {
  ScratchDir scratch;
  CollectingReporter reporter;
  const std::string path = scratch / "f.txt";
  WriteBytes(path, "a\r\n");
  const int kFlags = FS_NOATIME_FL | FS_NODUMP_FL | FS_SYNC_FL | FS_SECRM_FL | FS_UNRM_FL;
  const auto flagsOf = [](const std::string& p) {
    int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = -1;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) flags = -1;
    if (fd >= 0) close(fd);
    return flags;
  };
  {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int flags = 0;
    const bool set = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                     (flags |= kFlags, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    close(fd);
    if (!set || (flagsOf(path) & kFlags) != kFlags) GTEST_SKIP() << "no such flags here";
  }
  ASSERT_TRUE(ConvertWithMode(path, ModeCrLfToLf, reporter));
  EXPECT_EQ(ReadBytes(path), "a\n");
  EXPECT_EQ(flagsOf(path) & kFlags, kFlags);
}

// File capabilities, as setcap stores them: revision 2, CAP_NET_RAW
// permitted and effective.
std::string CapabilityBytes() {
  const uint32_t words[5] = {0x02000001u, 1u << CAP_NET_RAW, 0, 0, 0};
  return std::string(reinterpret_cast<const char*>(words), sizeof words);
}

// A file's capabilities are kept, also on another user's file, whose change
// of owner clears them and its set-ID bits (given again after it, which
// takes CAP_FOWNER, as root has it). Its owner, who may not set
// capabilities, replaces nothing rather than drop them.
TEST(MetadataPosix, KeepsFileCapabilities) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to set capabilities";
  const struct {
    const char* name;
    uid_t uid;
    mode_t mode;
    bool ownerOverride;  // the converter has CAP_FOWNER, as root has
    bool byNobody;       // converted by the file's owner, nobody
    bool converted;
  } kCases[] = {
      {"own_file", 0, 0755, false, false, true},
      {"another_users_file", kNobody, 0755, false, false, true},
      {"another_users_set_id_file", kNobody, 06755, true, false, true},
      {"converted_by_an_owner_who_may_not_set_them", kNobody, 0755, false, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    const std::string path = scratch / "tool.sh";
    WriteBytes(path, "echo hi\r\n");
    ASSERT_EQ(chown(path.c_str(), c.uid, c.uid), 0);
    {
      WithOwnerOverride root;
      ASSERT_TRUE(root.ok());
      ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    }
    if (!SetAttribute(path, "security.capability", CapabilityBytes()))
      GTEST_SKIP() << "no file capabilities here";
    if (c.byNobody) {
      ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
      ASSERT_EQ(chown(scratch.path().c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(Stat(path).st_mode & 07777, c.mode);
    // The conversion in a child: its exit status is 0 when it converted the
    // file, 1 when it failed with one report naming it, 2 otherwise.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::unique_ptr<WithOwnerOverride> root;
      if (c.ownerOverride) root.reset(new WithOwnerOverride);
      if (c.byNobody &&
          (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(2);
      CollectingReporter reporter;
      if (ConvertWithMode(path, ModeCrLfToLf, reporter)) _exit(0);
      _exit(reporter.reports.size() == 1 && reporter.reports[0].first == path ? 1 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.converted ? 0 : 1);
    EXPECT_EQ(ReadBytes(path), c.converted ? "echo hi\n" : "echo hi\r\n");
    EXPECT_EQ(Attribute(path, "security.capability"), CapabilityBytes());
    const struct stat st = Stat(path);
    EXPECT_EQ(st.st_uid, c.uid);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"tool.sh"});
  }
}

}  // namespace
