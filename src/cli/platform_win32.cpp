#include <windows.h>

#include <vector>

#include "platform.h"
#include "win32/module_path.h"
#include "win32/version_data.h"

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

// Read back from the version resource linked into this program.
bool ReadProgramVersion(std::string* name, std::string* version, std::string* copyright) {
  std::vector<char> data;
  if (!ReadVersionData(ModuleFilePath(NULL), &data)) return false;
  // An empty entry counts as missing: the tool would print nothing there.
  const auto entry = [&data](const char* entryName, std::string* value) {
    return LookUpVersionString(data.data(), 0, entryName, value) == kVersionStringFound &&
           !value->empty();
  };
  return entry("ProductName", name) && entry("ProductVersion", version) &&
         entry("LegalCopyright", copyright);
}
