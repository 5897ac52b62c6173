// Folders as a walk reads them: what a path names, a folder's entries, a
// folder held open for a walk, and the order and containment of names.
// folder_posix.cpp and folder_win32.cpp supply it, chosen by the build.
#ifndef QUENLAT_CONVERT_FOLDER_H
#define QUENLAT_CONVERT_FOLDER_H

#include <string>
#include <system_error>
#include <vector>

#include "file.h"

// What a path names, links to files followed.
enum PathKind {
  PathMissing,  // nothing, or a link that leads nowhere
  PathFile,     // a regular file, or a link to one
  PathFolder,   // a folder, or (for a path itself, not a folder's entry) a link to one
  PathOther,    // anything else: a device, a pipe, a socket; in a folder, a link to a folder
};

// What path names; *error (when given) says why when it is PathMissing
// (empty when the system gave no reason). With identity given, also its
// identity where the system tells it (*identified says whether it did), in
// a quick form: on Windows only the file index (volume 0), for the system
// is slow to name the volume. Two files with one quick identity may still
// differ: SameFile settles it.
PathKind KindOf(const std::string& path, FileIdentity* identity = nullptr,
                bool* identified = nullptr, std::error_code* error = nullptr);

// A folder's entry as a walk sees it.
struct FolderEntry {
  std::string name;
  // A link to a folder is PathOther, so that a walk does not follow it;
  // PathMissing for an entry that cannot be examined (error says why) or a
  // link that leads nowhere (no error).
  PathKind kind;
  std::error_code error;
  bool link = false;  // a symbolic link to a regular file (kind PathFile)
};

// The entries of folder, without "." and "..", in name order, each examined
// by its path. The error when the folder cannot be read. The walk on
// Windows goes through it.
std::error_code ReadFolder(const std::string& folder, std::vector<FolderEntry>* entries);

// A folder held open for a walk. Where the system allows (POSIX), its entries
// are examined and its folders opened through it rather than through paths,
// so that no limit on a path's length stops a walk; elsewhere it keeps the
// folder's path.
class WalkFolder {
 public:
  WalkFolder();
  ~WalkFolder();
  WalkFolder(const WalkFolder&) = delete;
  WalkFolder& operator=(const WalkFolder&) = delete;

  // Opens the folder at path (a link to a folder followed). The error, if
  // any.
  std::error_code Open(const std::string& path);
  // Opens the folder name found in parent, whose path is path; a link is not
  // followed. The error, if any.
  std::error_code OpenIn(const WalkFolder& parent, const std::string& name,
                         const std::string& path);
  // The folder's identity; false when the system does not tell it.
  bool Identity(FileIdentity* identity) const;
  // Its entries, as ReadFolder gives them. The error when it cannot be read.
  std::error_code Read(std::vector<FolderEntry>* entries) const;
  // Whether the file that the link name in this folder leads to lies in
  // root or in a folder within it. False when that cannot be told.
  bool LinkLeadsInto(const std::string& name, const WalkFolder& root) const;
  // The folder's path with every link resolved, as the system knows it now;
  // empty when it does not tell.
  std::string ResolvedPath() const;
  // Whether the entry name is the temporary file of a conversion under way
  // (another run's), or was one a moment ago: no user's file. Never on
  // Windows, where temporary files live in folders of their own.
  bool HoldsTempFileOfAConversion(const std::string& name) const;

 private:
  OwnedHandle handle_;  // POSIX: the folder, open
  std::string path_;
};

// Whether the file at path is the temporary file of a conversion under way,
// or was one a moment ago (see WalkFolder::HoldsTempFileOfAConversion).
bool IsTempFileOfAConversion(const std::string& path);

// Name order: bytes on POSIX; on Windows letters compare without case, as the
// system's names do.
bool NameLess(const std::string& a, const std::string& b);

// Whether path (links resolved) names folder itself or something within it.
bool PathLiesIn(const std::string& path, const std::string& folder);

// The separator put between a folder and a name found in it.
extern const char kPathSeparator;

#endif
