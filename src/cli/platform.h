// What the console tool needs from the system beyond the engine's file layer.
// platform_posix.cpp and platform_win32.cpp supply it.
#ifndef QUENLAT_CLI_PLATFORM_H
#define QUENLAT_CLI_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Makes the process ready before anything is opened or written. On POSIX a
// standard descriptor (0 to 2) that is closed is opened on the null device,
// so that no file opened later takes its number and receives the tool's
// output; and a write to a pipe whose reader is gone fails (EPIPE) instead of
// ending the process.
void PrepareProcess();

// True when standard error is an interactive terminal (not a pipe or a file).
bool StandardErrorIsTerminal();

// True when standard input is an interactive terminal (not a pipe or a file).
bool StandardInputIsTerminal();

// The width of the terminal behind standard error in characters; 80 when the
// system does not say.
int TerminalColumns();

// The program's product name, version and copyright, as its version data
// holds them. False when they cannot be read.
bool ReadProgramVersion(std::string* name, std::string* version, std::string* copyright);

// Reads up to n bytes of standard input, returning as soon as some have come
// (a pipe's short reads included); *got is 0 at the end. Bytes are never
// translated. False with errno set on a read error.
bool ReadStandardInput(void* buf, size_t n, size_t* got);

// Writes all n bytes to standard output, untranslated. False with errno set.
bool WriteStandardOutput(const void* buf, size_t n);

// What tells two files apart whatever their names: the device and the inode,
// or on Windows the volume serial number and the file's 128-bit id (the file
// index where the system has no such id).
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
#ifdef _WIN32
  // The upper half of the 128-bit id. Only here: the tool keeps an identity
  // for every file done, and elsewhere the inode fits in index.
  uint64_t high = 0;
  bool operator<(const FileIdentity& o) const {
    if (volume != o.volume) return volume < o.volume;
    return high != o.high ? high < o.high : index < o.index;
  }
#else
  bool operator<(const FileIdentity& o) const {
    return volume != o.volume ? volume < o.volume : index < o.index;
  }
#endif
};

// What a path names, links to files followed.
enum PathKind {
  PathMissing,  // nothing (errno set), or a link that leads nowhere
  PathFile,     // a regular file, or a link to one
  PathFolder,   // a folder, or (for a path itself, not a folder's entry) a link to one
  PathOther,    // anything else: a device, a pipe, a socket; in a folder, a link to a folder
};

// What path names. With identity given, also its identity where the system
// tells it (*identified says whether it did), in a quick form: on Windows
// only the file index (volume 0), for the system is slow to name the
// volume. Two files with one quick identity may still differ: SameFile
// settles it.
PathKind KindOf(const std::string& path, FileIdentity* identity = nullptr,
                bool* identified = nullptr);

// A folder's entry as a walk sees it.
struct FolderEntry {
  std::string name;
  // A link to a folder is PathOther, so that a walk does not follow it;
  // PathMissing for an entry that cannot be examined (error says why) or a
  // link that leads nowhere (error 0).
  PathKind kind;
  int error = 0;
  bool link = false;  // a symbolic link to a regular file (kind PathFile)
};

// The entries of folder, without "." and "..", in name order, each examined
// by its path. False with errno set when the folder cannot be read. The walk
// on Windows goes through it.
bool ReadFolder(const std::string& folder, std::vector<FolderEntry>* entries);

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

  // Opens the folder at path (a link to a folder followed). 0 or the error
  // number.
  int Open(const std::string& path);
  // Opens the folder name found in parent, whose path is path; a link is not
  // followed. 0 or the error number.
  int OpenIn(const WalkFolder& parent, const std::string& name, const std::string& path);
  // The folder's identity; false when the system does not tell it.
  bool Identity(FileIdentity* identity) const;
  // Its entries, as ReadFolder gives them. False with errno set when it
  // cannot be read.
  bool Read(std::vector<FolderEntry>* entries) const;
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
  struct State;
  State* state_;
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

// The full identity of the file at path, links followed. False when it has
// none (it cannot be opened or found, or its file system numbers no file:
// then it is never taken for another).
bool IdentityOf(const std::string& path, FileIdentity* identity);

// True when a and b name one file: their full identities are equal.
bool SameFile(const std::string& a, const std::string& b);

// The file arguments as the program works on them. On Windows, where the
// shell leaves patterns to the program, an argument holding '*' or '?' in its
// last part becomes the names in its folder that match it, in name order, or
// stays as it is when none does: '*' stands for any characters, '?' for one,
// letters match without case, "*.*" matches every name, and hidden and system
// files are left out ("." and ".." too). Elsewhere the shell has done that,
// and args come back unchanged.
std::vector<std::string> ExpandWildcards(std::vector<std::string> args);

// True when path holds a '*' or '?' that no file's name can hold: on Windows
// (outside a \\?\ prefix) a pattern that matched nothing; never elsewhere.
bool HoldsWildcard(const std::string& path);

// Opens the file at path for reading bytes, as fopen does, the name taken as
// it is (on Windows in UTF-16, relative to the start-up folder). nullptr with
// errno set when it cannot.
std::FILE* OpenForReading(const std::string& path);

// Writes text (UTF-8) to stream, stdout or stderr: on a Windows console as
// characters, elsewhere as its bytes. False with errno set when it fails.
bool WriteText(std::FILE* stream, const std::string& text);

// Makes the bytes of a names list UTF-8 text: on Windows a list in UTF-16
// (little- or big-endian) with its byte-order mark is converted and a UTF-8
// list loses its mark; other lists stay as they are. False with errno set when a UTF-16 list ends in half a
// character.
bool ListText(std::string* bytes);

#endif
