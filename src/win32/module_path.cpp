#include "win32/module_path.h"

#include <vector>

std::string ModuleFilePath(HMODULE hModule) {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD n = ::GetModuleFileNameA(hModule, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    // A full buffer may hold a cut-off path (not every system says so, or
    // ends it): ask again with more room.
    if (n < buffer.size() - 1) return std::string(buffer.data(), n);
    if (buffer.size() >= 32768) return std::string();  // no path is longer
    buffer.resize(buffer.size() * 2);
  }
}
