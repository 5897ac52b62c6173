#include "win32/file_query.h"

namespace {

struct IoStatus {
  union {
    LONG status;
    void* pointer;
  };
  ULONG_PTR information;
};
typedef LONG(WINAPI* InformationFileCall)(HANDLE, IoStatus*, void*, ULONG, int);

// NtQueryInformationFile or NtSetInformationFile; null where there is none.
InformationFileCall SystemCall(const char* name) {
  return reinterpret_cast<InformationFileCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// The system's layout of a file's times and flags, padded to 8 bytes.
struct BasicInformation {
  LARGE_INTEGER creation, lastAccess, lastWrite, change;
  ULONG attributes;
};

// The classes of information asked for.
const int kFileBasicInformation = 4;
const int kFileStandardInformation = 5;
const int kFileInternalInformation = 6;
const int kFileIdInformation = 59;

bool Query(HANDLE h, int what, void* out, ULONG size) {
  static const InformationFileCall query = SystemCall("NtQueryInformationFile");
  IoStatus io;
  return query && query(h, &io, out, size, what) == 0;
}

}  // namespace

bool QueryFileTimes(HANDLE h, FileTimes* times) {
  BasicInformation basic;
  if (!Query(h, kFileBasicInformation, &basic, sizeof basic)) return false;
  times->creation = basic.creation.QuadPart;
  times->lastAccess = basic.lastAccess.QuadPart;
  times->lastWrite = basic.lastWrite.QuadPart;
  times->change = basic.change.QuadPart;
  times->attributes = basic.attributes;
  return true;
}

bool QueryFileSizes(HANDLE h, FileSizes* sizes) {
  struct {
    LARGE_INTEGER allocation, endOfFile;
    ULONG links;
    BOOLEAN deletePending, directory;
  } standard;
  if (!Query(h, kFileStandardInformation, &standard, sizeof standard)) return false;
  sizes->allocation = standard.allocation.QuadPart;
  sizes->endOfFile = standard.endOfFile.QuadPart;
  sizes->links = standard.links;
  sizes->deletePending = standard.deletePending;
  sizes->directory = standard.directory;
  return true;
}

bool QueryFileIndex(HANDLE h, uint64_t* index) {
  LARGE_INTEGER internal;
  if (!Query(h, kFileInternalInformation, &internal, sizeof internal)) return false;
  *index = static_cast<uint64_t>(internal.QuadPart);
  return true;
}

bool QueryFileId(HANDLE h, uint64_t* volume, uint64_t* low, uint64_t* high) {
  struct {
    ULONGLONG volume;
    BYTE id[16];
  } info;
  if (!Query(h, kFileIdInformation, &info, sizeof info)) return false;
  *volume = info.volume;
  *low = *high = 0;
  for (int i = 7; i >= 0; --i) *low = (*low << 8) | info.id[i];
  for (int i = 15; i >= 8; --i) *high = (*high << 8) | info.id[i];
  return true;
}

bool SetFileBasics(HANDLE h, int64_t creation, DWORD attributes) {
  static const InformationFileCall set = SystemCall("NtSetInformationFile");
  BasicInformation basic = {};  // a time of 0 is left as it is
  basic.creation.QuadPart = creation;
  basic.attributes = attributes;
  IoStatus io;
  return set && set(h, &io, &basic, sizeof basic, kFileBasicInformation) == 0;
}
