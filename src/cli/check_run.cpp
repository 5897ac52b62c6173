#include <cstdio>
#include <string>

#include "cli.h"
#include "console.h"
#include "file_scan.h"
#include "work_list.h"

int CheckFiles(CliOptions options) {
  WorkList work;
  if (!work.Start(options)) return kExitFailure;
  ProgressLine progress;
  ConsoleReporter reporter(&progress);
  unsigned long failed = 0;
  unsigned long changing = 0;
  uint64_t bytes = 0;
  SourceFile file;

  WorkItem item;
  for (size_t i = 0; work.Next(&item); ++i) {
    const std::string& path = item.path;
    progress.Update(i, work.Total(), bytes, path);
    std::string target;
    if (PassedOver(item, &reporter, &failed, &target)) continue;
    if (const char* refusal = RefusalOf(KindOf(target))) {
      reporter.Report(path, refusal);
      ++failed;
      continue;
    }
    Scan scan;
    const std::error_code error = ScanFile(target, options, true, file, &scan);
    file.Close();
    if (error) {
      reporter.ReportFileError({path, error});
      ++failed;
      continue;
    }
    const char* effect = "binary";
    if (!scan.binary || options.force) {
      const ModeEffect modeEffect = EffectOf(scan.counts, options.mode);
      if (modeEffect != EffectUnchanged) ++changing;
      effect = EffectText(modeEffect);
    }
    bytes += scan.size;

    progress.Clear();
    if (!PutOutput(CheckLine(path, scan.counts, effect, scan.encoding))) break;
  }
  progress.Clear();
  if (!FlushOutput()) {
    reporter.Report("standard output", OutputReason(OutputError()));
    return kExitFailure;
  }
  if (failed > 0) std::fprintf(stderr, "%lu failed.\n", failed);
  return failed > 0 || changing > 0 || work.Failed() ? kExitFailure : kExitSuccess;
}

