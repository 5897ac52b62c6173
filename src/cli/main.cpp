#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <cwchar>

#include "win32/wide_text.h"
#endif

#include "cli.h"

#ifdef _WIN32
// The arguments as the user gave them, in UTF-16: the ANSI ones would hold
// look-alikes or '?' for characters outside the code page, naming other files.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i], std::wcslen(argv[i])));
  return RunCli(std::move(args));
}
#else
int main(int argc, char** argv) {
  return RunCli(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
#endif
