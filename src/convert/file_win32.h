// What the Windows half of the file layer lends the console tool's Windows
// code: the system's names for paths, the share mode of every open, and
// folder listing. file_win32.cpp and folder_win32.cpp supply it.
#ifndef QUENLAT_CONVERT_FILE_WIN32_H
#define QUENLAT_CONVERT_FILE_WIN32_H

#include <windows.h>

#include <functional>
#include <string>
#include <system_error>

// Every open shares reading, writing and deleting: other programs are never
// kept from the file by this one.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Whether c separates a path's parts: '\' or '/'.
bool IsSeparator(char c);

// Whether path starts with the system's own prefix, "\\?\" or "\??\": what
// follows is taken by the system as it is, without any clean-up.
bool IsVerbatim(const std::string& path);

// Whether path names one of the system's devices or volumes rather than a
// file in a folder by its form alone: a "\\.\" path, or a "\\?\" or "\??\"
// path that names no drive's path (X:\...) or share's (UNC\server\share...).
// Even opening one may act on the device.
bool NamesDeviceNamespace(const std::string& path);

// The name the system is given for path: an absolute path in the system's
// own form ("\\?\X:\...", "\\?\UNC\server\share\..."), cleaned up as the
// system would but keeping each name exactly, so that long paths work and a
// name that ends in a dot or a space is not taken for another; a verbatim
// path as it is; anything else as it is, for the system to resolve. ENOENT
// when path is empty or no text the system could hold a name in,
// ENAMETOOLONG past the system's limits.
std::error_code SystemName(const std::string& path, std::wstring* name);

// The identity of the file open as h in its quick form: the file index
// alone, volume 0. False when it has none.
bool QuickIdentityOfHandle(HANDLE h, struct FileIdentity* identity);

// Lists the entries of the folder that name (the system's form) names, long
// names only, without "." and "..", calling take for each. The error when
// the folder cannot be read.
std::error_code ListFolder(std::wstring name,
                           const std::function<void(const WIN32_FIND_DATAW&)>& take);

#endif
