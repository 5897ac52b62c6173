#include "conversion_run.h"

#include <cerrno>
#include <cstdio>

#include "cli.h"
#include "file_scan.h"

ConversionRun::Waiting::Waiting(size_t index, const std::string& path, const std::string& target,
                                const FileIdentity& identity, bool identified, uint64_t names,
                                bool inWalkedFolder, ConsoleReporter* to)
    : index(index),
      path(path),
      target(target),
      identity(identity),
      identified(identified),
      names(names),
      inWalkedFolder(inWalkedFolder),
      reporter(to, index) {}

void ConversionRun::Waiting::Reporter::ReportFileError(const FileError& error) {
  binary = binary || error.code == kErrorBinaryFound;
  to_->ReportAt(index_, error.path, ConsoleReason(error.code));
}

ConversionRun::ConversionRun(const CliOptions& options)
    : options_(options), reporter_(&progress_) {
  convert_.reporter = &reporter_;
  convert_.deferred = &folders_;
  convert_.fillSparse = options.force;
  convert_.source = &file_;
  // The scan stops once it knows what to do: the conversion looks at the
  // rest for a NUL byte.
  convert_.skipBinary = !options.force;
}

int ConversionRun::Run(WorkList& work) {
  WorkItem item;
  const auto beforeRead = [this] { BeforeFolderRead(); };
  for (size_t i = 0; work.Next(&item, beforeRead); ++i) {
    progress_.Update(i, work.Total(), bytes_, item.path);
    reporter_.SetCurrent(i);
    // The reports held for a batch stay few, however many files fail.
    if (reporter_.Held() >= ConversionBatch::kMaxFiles) Commit();
    if (OutputError()) break;
    ConvertName(i, item);
  }
  Commit();
  return Finish(work.Failed());
}

void ConversionRun::ConvertName(size_t index, const WorkItem& item) {
  const std::string& path = item.path;
  std::string target;
  if (PassedOver(item, &reporter_, &failed_, &target)) return;
  FileIdentity identity;
  bool identified = false;
  const PathKind kind = KindOf(target, &identity, &identified);
  if (const char* refusal = RefusalOf(kind)) {
    reporter_.Report(path, refusal);
    Count(kFailed);
    return;
  }
  if (identified && AlreadyDone(path, target, &identity, &identified)) return;
  std::error_code error;
  // The resolved path from here on: it resolves to itself.
  if (kind == PathMissing && !ProbeWritable(target, &error)) {
    reporter_.Report(path, ProbeSentence(error));
    Count(kFailed);
    return;
  }

  // The file is read before anything is written: a binary file is skipped,
  // and one that the mode would not change is not rewritten (it keeps its
  // times, and nothing is written to the disk for it).
  Scan scan;
  if ((error = ScanFile(target, options_, false, file_, &scan))) {
    file_.Close();
    reporter_.ReportFileError({path, error});
    Count(kFailed);
    return;
  }
  if (scan.binary && !options_.force) {
    file_.Close();
    reporter_.Report(path, kBinarySentence);
    Count(kSkipped);
    return;
  }
  if (!file_.ProbeWritable(&error)) {
    // A binary file is skipped before its probe is looked at, as one
    // whose NUL byte the scan met: the rest of it is read for one.
    const bool binary = !options_.force && RestHoldsNul(file_, scan);
    file_.Close();
    reporter_.Report(path, binary ? kBinarySentence : ProbeSentence(error));
    Count(binary ? kSkipped : kFailed);
    return;
  }
  bytes_ += scan.size;
  if (!scan.changes) {
    file_.Close();
    if (identified) done_.Add(identity, path);
    Count(kConverted);
    return;
  }
  convert_.direction = scan.direction;
  const uint64_t names = file_.LinkCount();
  if (!batch_.Takes(scan.size)) Send();
  if (!batch_.Takes(scan.size)) {
    ConvertAlone(index, path, target, names);
  } else {
    AddToBatch(index, item, target, identity, identified, names);
  }
}

bool ConversionRun::AlreadyDone(const std::string& path, const std::string& target,
                                FileIdentity* identity, bool* identified) {
  for (const Waiting& w : waiting_) {
    if (w.identified && !(w.identity < *identity) && !(*identity < w.identity)) {
      Commit();
      KindOf(target, identity, identified);
      break;
    }
  }
  std::string first;
  if (!*identified || !done_.Find(*identity, target, &first)) return false;
  reporter_.Report(path, "already done (the same file as " + PrintableName(first) + ")");
  Count(kConverted);
  return true;
}

void ConversionRun::ConvertAlone(size_t index, const std::string& path, const std::string& target,
                                 uint64_t names) {
  // Too large for a batch: the files before it are done first.
  Commit();
  reporter_.TakeLastError();
  std::optional<FileIdentity> made;
  ConvertOptions alone = convert_;
  alone.replaced = [&made](uint64_t volume, uint64_t fileIndex) {
    made = FileIdentity();
    made->volume = volume;
    made->index = fileIndex;
  };
  const bool converted = ConvertFileInPlace(path, alone);
  if (converted) {
    Converted(index, path, target, names, made);
  } else {
    Count(Of(false, reporter_.TakeLastError() == kErrorBinaryFound));
  }
}

void ConversionRun::AddToBatch(size_t index, const WorkItem& item, const std::string& target,
                               const FileIdentity& identity, bool identified, uint64_t names) {
  const std::string& path = item.path;
  waiting_.emplace_back(index, path, target, identity, identified, names, item.inWalkedFolder,
                        &reporter_);
  Waiting& w = waiting_.back();
  ConvertOptions batched = convert_;
  batched.reporter = &w.reporter;
  batched.replaced = [&w](uint64_t volume, uint64_t fileIndex) {
    w.made = FileIdentity();
    w.made->volume = volume;
    w.made->index = fileIndex;
  };
  reporter_.Hold();
  if (!batch_.Add(path, batched)) {
    Count(Of(false, w.reporter.binary));
    waiting_.pop_back();
  }
}

void ConversionRun::BeforeFolderRead() {
  for (const Waiting& w : waiting_) {
    if (!w.inWalkedFolder) {
      Commit();
      return;
    }
  }
}

void ConversionRun::Converted(size_t index, const std::string& path, const std::string& target,
                              uint64_t names, const std::optional<FileIdentity>& made) {
  if (names > 1) {
    reporter_.ReportAt(index, path,
                       "has " + std::to_string(names) + " names; only this one is converted");
  }
  FileIdentity identity;
  bool identified = false;
  if (made) {
    identity = *made;
    identified = true;
  } else {
    KindOf(target, &identity, &identified);
  }
  if (identified) done_.Add(identity, path);
  Count(kConverted);
}

ConversionRun::Outcome ConversionRun::Of(bool converted, bool binary) {
  return converted ? kConverted : binary ? kSkipped : kFailed;
}

void ConversionRun::Count(Outcome outcome) {
  switch (outcome) {
    case kConverted: ++converted_; break;
    case kSkipped: ++skipped_; break;
    case kFailed: ++failed_; break;
  }
}

void ConversionRun::Finished(bool converted) {
  const Waiting& w = waiting_.front();
  if (converted) {
    Converted(w.index, w.path, w.target, w.names, w.made);
  } else {
    Count(Of(false, w.reporter.binary));
  }
  waiting_.pop_front();
}

void ConversionRun::Send() {
  batch_.Send([this](bool converted) { Finished(converted); });
  ReleaseReports();
}

void ConversionRun::Commit() {
  batch_.Commit([this](bool converted) { Finished(converted); });
  ReleaseReports();
}

void ConversionRun::ReleaseReports() {
  if (waiting_.empty()) {
    reporter_.Release();
  } else {
    reporter_.Release(waiting_.front().index);
  }
}

int ConversionRun::Finish(bool listFailed) {
  bool unflushed = false;
  if (const std::optional<FileError> unflushedFolder = folders_.Flush()) {
    reporter_.ReportFileError(*unflushedFolder);
    unflushed = true;
  }
  progress_.Clear();
  if (!options_.quiet && !OutputError()) {
    errno = 0;
    const int printed =
        skipped_ > 0 ? std::printf("%lu files converted. %lu skipped.\n", converted_, skipped_)
                     : std::printf("%lu files converted.\n", converted_);
    if (printed < 0 || std::ferror(stdout)) NoteOutputFailure();
  }
  if (!FlushOutput()) {
    reporter_.Report("standard output", OutputReason(OutputError()));
    return kExitFailure;
  }
  if (failed_ > 0) std::fprintf(stderr, "%lu failed.\n", failed_);
  return failed_ > 0 || unflushed || listFailed ? kExitFailure : kExitSuccess;
}

int ConvertFiles(CliOptions options) {
  WorkList work;
  if (!work.Start(options)) return kExitFailure;
  return ConversionRun(options).Run(work);
}
