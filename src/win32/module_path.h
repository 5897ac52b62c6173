// The path of a module's file: the one reading of it for the framework, the
// version reader and the console tool.
#ifndef QUENLAT_WIN32_MODULE_PATH_H
#define QUENLAT_WIN32_MODULE_PATH_H

#include <windows.h>

#include <string>

// The full path of the file of module hModule (NULL: the program's), however
// long; empty when it cannot be had.
std::string ModuleFilePath(HMODULE hModule);
// The same in UTF-16, the form that names the file whatever the code page.
std::wstring ModuleFilePathW(HMODULE hModule);
// A name in the code page, for display only: a character the code page
// lacks becomes its look-alike or '?', so it may name another file.
std::string AnsiForDisplay(const std::wstring& name);

#endif
