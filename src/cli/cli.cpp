#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <utility>

#include "console.h"
#include "convert/convert.h"
#include "platform.h"

namespace {

// The exit status of a run that printed its text to standard output: a
// failure when that text did not go out.
int Printed(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  PrintReport(std::string("standard output: ") + OutputReason(Errno(errno != 0 ? errno : EIO)));
  return kExitFailure;
}

}  // namespace

int RunCli(std::vector<std::string> args) {
  PrepareProcess();
  try {
    CliOptions options;
    std::string error;
    const bool parsed = ParseOptions(args, StandardInputIsTerminal(), &options, &error);
    std::vector<std::string>().swap(args);  // the options hold them now: a run may be given many
    if (!parsed) {
      PrintReport(error);
      WriteText(stderr, std::string(kUsageLine) + "Try 'quenlat-cli --help' for more.\n");
      return kExitUsage;
    }
    if (options.help) {
      std::fputs(HelpText().c_str(), stdout);
      return Printed(kExitSuccess);
    }
    if (options.version) {
      std::string name, version, copyright;
      if (!ReadProgramVersion(&name, &version, &copyright)) {
        PrintReport("the version information cannot be read");
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
    PrintReport(e.what());
    return kExitFailure;
  }
}
