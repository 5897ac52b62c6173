// The path of a module's file: the one reading of it for the framework, the
// version reader and the console tool.
#ifndef QUENLAT_WIN32_MODULE_PATH_H
#define QUENLAT_WIN32_MODULE_PATH_H

#include <windows.h>

#include <string>

// The full path of the file of module hModule (NULL: the program's), however
// long; empty when it cannot be had.
std::string ModuleFilePath(HMODULE hModule);

#endif
