#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform.h"

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return 80;
}

namespace {

bool QueryString(const std::vector<char>& data, const char* block, const char* entry,
                 std::string* value) {
  char path[128];
  std::snprintf(path, sizeof path, "\\StringFileInfo\\%s\\%s", block, entry);
  void* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), path, &text, &length) || length == 0) return false;
  *value = static_cast<const char*>(text);
  return true;
}

}  // namespace

// Read back from the version resource linked into this program.
bool ReadProgramVersion(std::string* name, std::string* version, std::string* copyright) {
  char module[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
  if (n == 0 || n >= sizeof module) return false;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(module, &ignored);
  if (size == 0) return false;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(module, 0, size, data.data())) return false;

  void* table = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &table, &length) || length < 4)
    return false;
  DWORD first = *static_cast<const DWORD*>(table);
  char block[16];
  std::snprintf(block, sizeof block, "%04x%04x", static_cast<unsigned>(LOWORD(first)),
                static_cast<unsigned>(HIWORD(first)));
  return QueryString(data, block, "ProductName", name) &&
         QueryString(data, block, "ProductVersion", version) &&
         QueryString(data, block, "LegalCopyright", copyright);
}
