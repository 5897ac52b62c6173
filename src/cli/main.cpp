#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <cwchar>

#include "win32/wide_text.h"
#endif

#include "cli.h"
#include "convert/convert.h"
#include "platform.h"

namespace {

// The exit status of a run that printed its text to standard output: a
// failure when that text did not go out.
int Printed(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "quenlat-cli: standard output: %s\n", OutputReason(errno != 0 ? errno : EIO));
  return kExitFailure;
}

// Runs the tool on the arguments that follow the program's name.
int Run(std::vector<std::string> args) {
  PrepareProcess();
  try {
    CliOptions options;
    std::string error;
    const bool parsed = ParseOptions(args, StandardInputIsTerminal(), &options, &error);
    std::vector<std::string>().swap(args);  // the options hold them now: a run may be given many
    if (!parsed) {
      WriteText(stderr, "quenlat-cli: " + error + "\n" + kUsageLine +
                            "Try 'quenlat-cli --help' for more.\n");
      return kExitUsage;
    }
    if (options.help) {
      std::fputs(kUsage, stdout);
      return Printed(kExitSuccess);
    }
    if (options.version) {
      std::string name, version, copyright;
      if (!ReadProgramVersion(&name, &version, &copyright)) {
        std::fputs("quenlat-cli: the version information cannot be read\n", stderr);
        return kExitFailure;
      }
      std::printf("quenlat-cli (%s) %s\n%s\n", name.c_str(), version.c_str(), copyright.c_str());
      return Printed(kExitSuccess);
    }
    if (options.filter) return FilterStandardInput(options);
    // An interrupted run leaves no temporary file behind.
    RemoveTempFilesOnInterrupt();
    return options.check ? CheckFiles(std::move(options)) : ConvertFiles(std::move(options));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quenlat-cli: %s\n", e.what());
    return kExitFailure;
  }
}

}  // namespace

#ifdef _WIN32
// The arguments as the user gave them, in UTF-16: the ANSI ones would hold
// look-alikes or '?' for characters outside the code page, naming other files.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i], std::wcslen(argv[i])));
  return Run(std::move(args));
}
#else
int main(int argc, char** argv) {
  return Run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
#endif
