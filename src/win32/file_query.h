// What the system knows of an open file, asked (and told) the system's own way
// (NtQueryInformationFile): under Wine this costs a fraction of
// GetFileInformationByHandle, which also asks another process for the volume.
// Shared by the engine and the console tool.
#ifndef QUENLAT_WIN32_FILE_QUERY_H
#define QUENLAT_WIN32_FILE_QUERY_H

#include <windows.h>

#include <cstdint>

// The file's times (in FILETIME units) and attribute flags.
struct FileTimes {
  int64_t creation;
  int64_t lastAccess;
  int64_t lastWrite;
  int64_t change;  // the last change of the file or of its attributes
  DWORD attributes;
};

// The file's size and its number of names.
struct FileSizes {
  int64_t allocation;
  int64_t endOfFile;
  DWORD links;
  BOOLEAN deletePending;
  BOOLEAN directory;
};

// Each fills its answer about the file open as h (with FILE_READ_ATTRIBUTES
// or more, or none for the index) and returns true; false when the system
// has no such query or refuses it.
bool QueryFileTimes(HANDLE h, FileTimes* times);
bool QueryFileSizes(HANDLE h, FileSizes* sizes);
// The file's index on its volume, as GetFileInformationByHandle gives it.
bool QueryFileIndex(HANDLE h, uint64_t* index);
// The volume's 64-bit serial number and the file's 128-bit id on it (low and
// high halves): unique where the 64-bit index is not (ReFS).
bool QueryFileId(HANDLE h, uint64_t* volume, uint64_t* low, uint64_t* high);

// Sets the creation time (FILETIME units) and the attribute flags of the
// file open as h (with FILE_WRITE_ATTRIBUTES) in one call, leaving its other
// times; false when the system has no such call or refuses it.
bool SetFileBasics(HANDLE h, int64_t creation, DWORD attributes);

#endif
