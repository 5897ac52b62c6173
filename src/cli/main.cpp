#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace

int main(int argc, char** argv) {
  PrepareProcess();
  try {
    CliOptions options;
    std::string error;
    bool parsed;
    {
      const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
      parsed = ParseOptions(args, StandardInputIsTerminal(), &options, &error);
    }
    if (!parsed) {
      std::fprintf(stderr, "quenlat-cli: %s\n%sTry 'quenlat-cli --help' for more.\n",
                   error.c_str(), kUsageLine);
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
