// Linked into a copy of the console tool for its tests under Wine, which can
// make neither junctions nor links to folders: the tool's folder listing
// calls come here first, and a folder whose name begins with "link" is
// reported as a reparse point, as Windows reports a junction or a folder
// link.
#include <windows.h>

#include <cwchar>

namespace {

void MarkFolderLink(WIN32_FIND_DATAW* data) {
  if ((data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      std::wcsncmp(data->cFileName, L"link", 4) == 0)
    data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
}

}  // namespace

// The linker (--wrap with the import pointers' names) hands the tool these
// pointers instead of the system's; the build gives the assembly names,
// which differ by word size.
extern "C" HANDLE WINAPI FindFirstMarkingLinks(LPCWSTR pattern, FINDEX_INFO_LEVELS level,
                                               LPVOID data, FINDEX_SEARCH_OPS search,
                                               LPVOID filter, DWORD flags);
extern "C" BOOL WINAPI FindNextMarkingLinks(HANDLE find, LPWIN32_FIND_DATAW data);

extern "C" HANDLE(WINAPI* const g_realFindFirst)(LPCWSTR, FINDEX_INFO_LEVELS, LPVOID,
                                                 FINDEX_SEARCH_OPS, LPVOID,
                                                 DWORD) __asm__(QUENLAT_REAL_FIND_FIRST);
extern "C" HANDLE(WINAPI* const g_wrappedFindFirst)(LPCWSTR, FINDEX_INFO_LEVELS, LPVOID,
                                                    FINDEX_SEARCH_OPS, LPVOID,
                                                    DWORD) __asm__(QUENLAT_WRAPPED_FIND_FIRST);
HANDLE(WINAPI* const g_wrappedFindFirst)(LPCWSTR, FINDEX_INFO_LEVELS, LPVOID, FINDEX_SEARCH_OPS,
                                         LPVOID, DWORD) = FindFirstMarkingLinks;

extern "C" BOOL(WINAPI* const g_realFindNext)(HANDLE, LPWIN32_FIND_DATAW) __asm__(
    QUENLAT_REAL_FIND_NEXT);
extern "C" BOOL(WINAPI* const g_wrappedFindNext)(HANDLE, LPWIN32_FIND_DATAW) __asm__(
    QUENLAT_WRAPPED_FIND_NEXT);
BOOL(WINAPI* const g_wrappedFindNext)(HANDLE, LPWIN32_FIND_DATAW) = FindNextMarkingLinks;

extern "C" HANDLE WINAPI FindFirstMarkingLinks(LPCWSTR pattern, FINDEX_INFO_LEVELS level,
                                               LPVOID data, FINDEX_SEARCH_OPS search,
                                               LPVOID filter, DWORD flags) {
  HANDLE find = g_realFindFirst(pattern, level, data, search, filter, flags);
  if (find != INVALID_HANDLE_VALUE) MarkFolderLink(static_cast<WIN32_FIND_DATAW*>(data));
  return find;
}

extern "C" BOOL WINAPI FindNextMarkingLinks(HANDLE find, LPWIN32_FIND_DATAW data) {
  const BOOL found = g_realFindNext(find, data);
  if (found) MarkFolderLink(data);
  return found;
}
