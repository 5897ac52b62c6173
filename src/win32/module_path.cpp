#include "win32/module_path.h"

#include <vector>

namespace {

template <typename Char, typename Get>
std::basic_string<Char> ModuleFilePathWith(Get get) {
  std::vector<Char> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD n = get(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::basic_string<Char>();
    // A full buffer may hold a cut-off path (not every system says so, or
    // ends it): ask again with more room.
    if (n < buffer.size() - 1) return std::basic_string<Char>(buffer.data(), n);
    if (buffer.size() >= 32768) return std::basic_string<Char>();  // no path is longer
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string ModuleFilePath(HMODULE hModule) {
  return ModuleFilePathWith<char>(
      [hModule](char* buffer, DWORD size) { return ::GetModuleFileNameA(hModule, buffer, size); });
}

std::wstring ModuleFilePathW(HMODULE hModule) {
  return ModuleFilePathWith<wchar_t>([hModule](wchar_t* buffer, DWORD size) {
    return ::GetModuleFileNameW(hModule, buffer, size);
  });
}

std::string AnsiForDisplay(const std::wstring& name) {
  if (name.empty()) return std::string();
  const int length = static_cast<int>(name.size());
  int n = ::WideCharToMultiByte(CP_ACP, 0, name.data(), length, NULL, 0, NULL, NULL);
  if (n <= 0) return std::string();
  std::string ansi(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, name.data(), length, &ansi[0], n, NULL, NULL);
  return ansi;
}
