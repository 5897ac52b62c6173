#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <map>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "convert.h"
#include "file.h"
#include "worker.h"

namespace {

const char kGeneralSentence[] = "Error: An error has occurred!";

// The console tool's reason for each of the engine's own conditions.
const char* EngineReason(EngineError error) {
  switch (error) {
    case kErrorOwnerNotKept: return "cannot keep the file's owner";
    case kErrorAccessNotKept: return "cannot keep the file's permissions";
    case kErrorAttributesNotKept: return "cannot keep the file's attributes";
    case kErrorNotRegularFile: return "This is not a regular file";
    case kErrorChangedMeanwhile: return "changed while it was converted";
    case kErrorInUse: return "another program has it open for writing";
    case kErrorHeld: return "in use by another program";
    case kErrorSparse: return "sparse file; --force converts it, filling its holes";
    default: return nullptr;  // the general sentence
  }
}

class EngineCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "quenlat"; }
  std::string message(int value) const override {
    const char* reason = EngineReason(static_cast<EngineError>(value));
    return reason ? reason : kGeneralSentence;
  }
};

}  // namespace

const std::error_category& QuenlatCategory() {
  static const EngineCategory category;
  return category;
}

const char* ErrorSentence(std::error_code error) {
  // A sharing or lock violation: the dialog says as for any refusal. And
  // what cannot be kept is mostly a refusal: another user's file, or rights
  // this process lacks.
  if (error == kErrorHeld || error == kErrorOwnerNotKept || error == kErrorAccessNotKept)
    return "Permission Denied";
  if (error.category() != std::generic_category()) return kGeneralSentence;
  switch (error.value()) {
    case ENOENT: return "File or directory does not exist";
    case EACCES:
    case EROFS: return "Permission Denied";
    case ENOSPC: return "No space left on device";
    default: return kGeneralSentence;
  }
}

const char* ErrorReason(std::error_code error) {
  if (error.category() == QuenlatCategory()) {
    const char* reason = EngineReason(static_cast<EngineError>(error.value()));
    return reason ? reason : ErrorSentence(error);
  }
  if (error.category() != std::generic_category()) return ErrorSentence(error);
  switch (error.value()) {
    // Where the system's own reason tells the user more than the four
    // sentences do.
    case EROFS: return "read-only file system";
    case EBUSY: return "device or resource busy (a mount point?)";
    case ENAMETOOLONG: return "name too long for the system";
    case EISDIR: return "is a folder";
#ifdef ETXTBSY
    case ETXTBSY: return "in use by a running program";
#endif
    default: return ErrorSentence(error);
  }
}

std::string FileErrorText(const std::string& path, std::error_code error) {
  return path + "\n\n" + ErrorSentence(error);
}

size_t FolderLength(const std::string& path, bool (*isLeadByte)(unsigned char)) {
  size_t drive = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  size_t folder = drive;
  for (size_t i = drive; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (isLeadByte && isLeadByte(c) && i + 1 < path.size()) {
      ++i;  // the trail byte may look like '\' but is part of a character
      continue;
    }
    if (c == '\\' || c == '/') folder = i + 1;
  }
  return folder;
}

std::optional<FileError> DeferredFolderSync::Flush() {
  std::optional<FileError> first;
  for (const std::string& folder : folders_) {
    std::error_code error = SyncFolder(folder);
    if (error && !first) first = FileError{folder, error};
  }
  folders_.clear();
  return first;
}

std::string ResolvePath(const std::string& path) { return ResolveTarget(path); }

bool ProbeWritable(const std::string& path, std::error_code* error) {
  std::error_code result = CheckWritable(ResolveTarget(path));
  if (error) *error = result;
  return !result;
}

// --- SourceFile

SourceFile::SourceFile() : file_(new File), opened_(new FileStamp) {}

SourceFile::~SourceFile() {}

std::error_code SourceFile::Open(const std::string& path, bool resolved) {
  Close();
  target_ = resolved ? path : ResolveTarget(path);
  // Stamped before the first read: whatever is written from now on shows.
  return OpenStamped(*file_, target_, opened_.get(), &linkCount_, resolved);
}

bool SourceFile::IsOpen() const { return file_->IsOpen(); }

void SourceFile::Close() {
  file_->Close();
  encoding_.reset();
  linkCount_ = 1;
  firstRead_ = firstScanned_ = atEnd_ = false;
  first_ = started_ = 0;
  position_ = 0;
}

uint64_t SourceFile::Size() { return file_->IsOpen() ? opened_->size : 0; }

const unsigned char* SourceFile::First(size_t* n) const {
  *n = started_;
  return start_;
}

std::error_code SourceFile::ReadFirst() {
  if (firstRead_) return {};
  if (!buffer_) buffer_.reset(new unsigned char[kFileBlockSize]);
  // One byte more than the open found: a file that has not grown since is
  // then read to its end by this one call.
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(opened_->size + 1, kFileBlockSize));
  size_t got = 0;
  if (std::error_code error = file_->Read(buffer_.get(), wanted, &got)) return error;
  firstRead_ = true;
  first_ = got;
  position_ = got;
  // A short read that ends at the size found is the end; anything else is
  // read on (and the stamps show a change).
  atEnd_ = got < wanted && got == opened_->size;
  started_ = std::min<size_t>(got, 2);
  std::copy(buffer_.get(), buffer_.get() + started_, start_);
  return {};
}

std::error_code SourceFile::ReadInto(LinebreakScanner& scanner,
                                     const std::function<bool(const LinebreakScanner&)>& enough) {
  if (std::error_code error = ReadFirst()) return error;
  if (!firstScanned_) {
    firstScanned_ = true;
    scanner.Feed(buffer_.get(), first_);
    if (enough && enough(scanner)) return {};
  }
  while (!atEnd_) {
    size_t got = 0;
    if (std::error_code error = file_->Read(buffer_.get(), kFileBlockSize, &got)) return error;
    first_ = 0;  // the first block is gone: a conversion reads the file again
    if (got == 0) {
      atEnd_ = true;
      break;
    }
    position_ += got;
    scanner.Feed(buffer_.get(), got);
    if (enough && enough(scanner)) return {};
  }
  return {};
}

namespace {

// The first error of the two, if any.
std::error_code FirstError(std::error_code first, std::error_code second) {
  return first ? first : second;
}

// The encoding of the open file, from its first bytes and its size; it is
// then at its start again (or where a failed read left it: the copy seeks).
Encoding EncodingOf(File& file) {
  unsigned char start[2];
  size_t n = 0;
  uint64_t size = 0;
  if (file.Seek(0) || file.Size(&size)) return EncodingBytes;
  while (n < sizeof start) {
    size_t got = 0;
    if (file.Read(start + n, sizeof start - n, &got) || got == 0) break;
    n += got;
  }
  file.Seek(0);
  return DetectEncoding(start, n, size);
}

// Writes blocks to a file, from the second block on in a thread of its own
// where the platform wants it: reading and translating the next block then goes
// on while the system takes this one. One block is in flight at a time.
// Without a thread, Submit writes at once.
class BlockWriter {
 public:
  explicit BlockWriter(File& file) : file_(file), worker_([this] { return file_.Write(block_, size_); }) {}
  ~BlockWriter() { Close(); }

  // Hands over n bytes at buf, which must stay untouched until the next Submit
  // or Close returns. The error of this or an earlier write, if any.
  std::error_code Submit(const unsigned char* buf, size_t n) {
    // The first block is written at once: a small file, which has only that
    // block, is not worth a thread.
    if (!worker_.Started() && (submitted_++ == 0 || !kWriteInBackground || !worker_.Start()))
      return file_.Write(buf, n);
    if (std::error_code error = worker_.WaitIdle()) return error;
    block_ = buf;
    size_ = n;
    worker_.Request();
    return {};
  }

  // Waits until the last block is written. The error of a write, if any.
  std::error_code Close() {
    std::error_code error = worker_.WaitIdle();
    worker_.Stop();
    return error;
  }

 private:
  File& file_;
  unsigned submitted_ = 0;
  const unsigned char* block_ = nullptr;  // handed over; the worker writes it
  size_t size_ = 0;
  Worker worker_;  // last: its thread ends before the fields it reads go
};

// Flushes a file that is being written, on a thread of its own, each time
// another kBackgroundFlushBytes have been written: through the writer's own
// open file, which is never opened again by name. The thread starts at the
// first such point: a small file never gets one.
class BackgroundFlusher {
 public:
  explicit BackgroundFlusher(File& file) : file_(file), worker_([this] { return file_.Sync(); }) {}
  ~BackgroundFlusher() { Stop(); }

  // Counts n more bytes written, and asks for a flush when they complete an
  // interval. A flush asked for while one runs is merged with the next.
  void Wrote(size_t n) {
    written_ += n;
    if (written_ < next_) return;
    next_ = written_ + kBackgroundFlushBytes;
    if (worker_.Started() || Start()) worker_.Request();
  }

  // Waits for a running flush and ends the thread. The error of a flush, if
  // any: what it could not write may be lost even if a later flush succeeds.
  std::error_code Stop() { return worker_.Stop(); }

 private:
  // Without a thread the file is flushed only at the end.
  bool Start() { return worker_.Start(); }

  File& file_;
  uint64_t written_ = 0;
  uint64_t next_ = kBackgroundFlushBytes;
  Worker worker_;  // last: its thread ends before the fields it reads go
};

// The smallest block CopyBlocks reads in, however small the file says it is.
const size_t kSmallestBlock = 16 * 1024;

// The start of a file that has been read already: size bytes at data, and
// whether they are the whole file.
struct ReadAhead {
  const unsigned char* data = nullptr;
  size_t size = 0;
  bool whole = false;
};

// How often a copy that replaces its source lets the system drop what it
// has read of it from the cache (File::Forget).
const uint64_t kForgetEvery = 8 * 1024 * 1024;

// Copies source from where it stands to its end into destination,
// translating in the direction, telling flusher (when given) of every block
// written, and counting in *read (when given) the bytes read. The file's
// size (fileSize) is a hint for the size of the blocks; a file that grows
// meanwhile is still copied whole. With ahead, its bytes come first and the
// file is read on from where they end. With stopAtNul, a NUL byte read ends
// the copy with kErrorBinaryFound. With forget, the source is read from its
// start and will be replaced: what is read of it is let go from the
// system's cache every kForgetEvery bytes, so that its deletion later has
// that much less to do while the program waits for it.
std::error_code CopyBlocks(File& destination, File& source, Direction direction, Encoding encoding,
               BackgroundFlusher* flusher, uint64_t* read, uint64_t fileSize,
               const ReadAhead* ahead = nullptr, bool stopAtNul = false, bool forget = false) {
  LinebreakTranslator translator(direction, encoding);
  // A small file gets blocks of its own size: large ones would cost more to
  // get from the system than the file costs to copy.
  size_t blockSize = kFileBlockSize;
  if (fileSize < blockSize)
    blockSize = std::max<size_t>(static_cast<size_t>(fileSize) + 1, kSmallestBlock);
  const size_t outSize =
      LinebreakTranslator::OutputCapacity(std::max(blockSize, ahead ? ahead->size : 0));
  std::unique_ptr<unsigned char[]> in;
  // While the writer takes one output buffer, the next block goes to the other.
  std::unique_ptr<unsigned char[]> out[2] = {
      std::unique_ptr<unsigned char[]>(new unsigned char[outSize]), nullptr};
  BlockWriter writer(destination);
  bool end = false;
  uint64_t at = 0, forgotten = 0;  // bytes read from the start; let go of
  for (int k = 0;; k ^= 1) {
    if (!out[k]) out[k].reset(new unsigned char[outSize]);
    const unsigned char* block = nullptr;
    size_t got = 0;
    if (ahead) {
      block = ahead->data;
      got = ahead->size;
      end = ahead->whole;
      ahead = nullptr;
    } else if (!end) {
      if (!in) in.reset(new unsigned char[blockSize]);
      if (std::error_code error = source.Read(in.get(), blockSize, &got))
        return FirstError(error, writer.Close());
      block = in.get();
      end = got == 0;
      if (stopAtNul && FindEither(block, block + got, 0, 0) != block + got) {
        writer.Close();
        return kErrorBinaryFound;
      }
    }
    if (got > 0) {
      if (read) *read += got;
      at += got;
      if (forget && at - forgotten >= kForgetEvery) {
        source.Forget(at);
        forgotten = at;
      }
      size_t produced = translator.Translate(block, got, out[k].get());
      if (std::error_code error = writer.Submit(out[k].get(), produced)) return error;
      if (flusher) flusher->Wrote(produced);
      if (!end) continue;
      k ^= 1;
      if (!out[k]) out[k].reset(new unsigned char[outSize]);
    }
    if (end) {
      // What the translator held back goes last, after every block.
      size_t produced = translator.Finish(out[k].get());
      if (std::error_code error = writer.Close()) return error;
      return destination.Write(out[k].get(), produced);
    }
  }
}

// The direction automatic mode gives the file: read from its start until its
// first CR and the unit after it are known. A read error counts as the end.
Direction DetectDirection(File& file, Encoding encoding) {
  const size_t kBlock = 64 * 1024;  // the first CR is mostly near the start
  LinebreakScanner scanner(encoding);
  std::unique_ptr<unsigned char[]> buf(new unsigned char[kBlock]);
  size_t got = 0;
  if (!file.Seek(0)) {
    while (!file.Read(buf.get(), kBlock, &got) && got > 0) {
      scanner.Feed(buf.get(), got);
      if (scanner.DirectionSettled(ModeAutomatic)) return scanner.DirectionFor(ModeAutomatic);
    }
  }
  return ResolveDirection(ModeAutomatic, scanner.Finish().firstCrIsCrLf);
}

// How many times a file that changes while it is converted is converted.
const int kTries = 3;

// Whether a conversion that failed with error may succeed when tried again
// from the start: the file changed, or a writer had it open.
bool Retried(std::error_code error) {
  return error == kErrorChangedMeanwhile || error == kErrorInUse;
}

// A conversion's failure on its way to the user: made once the conversion
// has failed for good, and told to the reporter when it goes.
class PendingReport {
 public:
  explicit PendingReport(ErrorReporter* reporter) : reporter_(reporter) {}
  ~PendingReport() {
    if (failure_) reporter_->ReportFileError(*failure_);
  }
  PendingReport(const PendingReport&) = delete;
  PendingReport& operator=(const PendingReport&) = delete;

  // Holds the failure error of path, to be told when the report goes.
  void Fail(const std::string& path, std::error_code error) { failure_ = FileError{path, error}; }

 private:
  ErrorReporter* reporter_;
  std::optional<FileError> failure_;
};

}  // namespace

// One file on its way to its new content, from the first read to the
// replace: the file read, open with its stamp from the moment it was
// opened, the temporary file, written but perhaps not yet on the disk, and
// the report of its failure, if it fails. What is left of it when it goes
// is closed: first the report is made, then the temporary file deleted (a
// reporter that waits for the user leaves the file as it was until then).
struct PendingFile {
  // What the caller's open file already knows is taken from it, and the
  // file itself: the conversion reads through the same open.
  PendingFile(const std::string& path, const ConvertOptions& options)
      : path(path), options(options), report(options.reporter) {
    SourceFile* given = options.source;
    if (given && given->IsOpen()) {
      target = given->target_;
      encoding = given->encoding_;
      opened = *given->opened_;
      if (given->firstRead_) {
        // Where the caller's reads left the file: its first block still in
        // memory and the file read up to its end, or read further.
        if (given->first_ == given->position_) {
          ahead.data = given->buffer_.get();
          ahead.size = given->first_;
          ahead.whole = given->atEnd_;
          hasAhead = true;
        } else {
          rewind = true;
        }
      }
      source.TakeOver(*given->file_);
      given->Close();
    } else {
      target = ResolveTarget(path);
    }
    this->options.source = nullptr;
  }
  // Back to before the first step: the temporary file deleted, the file
  // closed and its name resolved again (it may have become a link).
  void Reset() {
    temp.Discard();
    source.Close();
    encoding.reset();
    hasAhead = rewind = false;
    target = ResolveTarget(path);
  }

  const std::string path;  // as the caller gave it; reports name it
  std::string target;
  ConvertOptions options;
  Direction direction = DirectionLfToCrLf;
  std::optional<Encoding> encoding;  // as the caller found it, if it did
  File source;
  FileStamp opened;  // source's, taken when it was opened
  // The caller's read of the file's start, valid until Prepare returns.
  ReadAhead ahead;
  bool hasAhead = false;
  bool rewind = false;  // the caller read the file, but not into ahead
  // Declared in the reverse order of their going: the report goes first.
  NewContent temp;
  PendingReport report;
};

namespace {

// Opens p's file, unless it is open, and takes its stamp.
std::error_code OpenSource(PendingFile& p) {
  if (p.source.IsOpen()) return {};
  uint64_t linkCount = 1;
  return OpenStamped(p.source, p.target, &p.opened, &linkCount);
}

// Decides the direction of p's conversion, reading the file in automatic mode.
void DecideDirection(PendingFile& p) {
  const ConvertOptions& options = p.options;
  if (options.direction) {
    p.direction = *options.direction;
  } else if (options.mode == ModeAutomatic) {
    p.direction = DetectDirection(p.source, EncodingOf(p.source));
    p.hasAhead = false;
    p.rewind = true;
  } else {
    p.direction = ResolveDirection(options.mode, false);
  }
}

// The first half of one conversion of p from the file's start: its new
// content written to a new temporary file (in tempFolder when given) with
// what the file keeps beyond its content, not yet flushed. The error, if any.
std::error_code Prepare(PendingFile& p, const std::string& tempFolder = std::string()) {
  // The file's type is known before anything is made beside it.
  if (std::error_code error = OpenSource(p)) return error;
  if (!p.options.fillSparse && p.source.IsSparse()) return kErrorSparse;
  DecideDirection(p);
  if (!p.encoding) {
    p.encoding = EncodingOf(p.source);
    p.hasAhead = false;
    p.rewind = true;
  }
  const Encoding encoding = *p.encoding;
  // From here to the replace, a writer's open is seen where the system
  // tells of it; before, the stamp shows what was written.
  if (std::error_code error = p.source.WatchWriters()) return error;
  if (std::error_code error = p.temp.Create(p.target, p.source, tempFolder)) return error;
  // The caller's read of the start is used once: a second try reads anew.
  const ReadAhead* ahead = p.hasAhead ? &p.ahead : nullptr;
  if (p.rewind) {
    if (std::error_code error = p.source.Seek(0)) return error;
  }
  p.hasAhead = false;
  p.rewind = true;
  BackgroundFlusher flusher(p.temp.file());
  uint64_t bytes = 0;
  std::error_code error =
      CopyBlocks(p.temp.file(), p.source, p.direction, encoding,
                 kFlushInBackground ? &flusher : nullptr, &bytes, p.opened.size, ahead,
                 p.options.skipBinary && encoding == EncodingBytes, true);
  // Every flush ends before the last one, which finds the file complete.
  if ((error = FirstError(error, flusher.Stop()))) return error;
  // Read to its end as it was when opened. A growth or a truncation during
  // the read shows in the bytes read; a same-size rewrite in the stamp,
  // which the replace compares (and where the platform wants it, this).
  if (bytes != p.opened.size) return kErrorChangedMeanwhile;
  if (kStampAfterRead) {
    FileStamp now;
    if ((error = p.source.Stamp(&now))) return error;
    if (now != p.opened) return kErrorChangedMeanwhile;
  }
  return p.temp.CarryBeforeFlush(p.source);
}

// The second half: the new content flushed (unless flushed says it is),
// given the rest of what the file keeps where that comes after the flush,
// and given the file's name, if the file is still the one that was read.
// kErrorChangedMeanwhile when it is not: it is left as it is then.
std::error_code Complete(PendingFile& p, bool flushed) {
  std::error_code error = flushed ? std::error_code() : p.temp.file().Sync();
  if (!error) error = p.temp.CarryAfterFlush();
  if (!error) error = p.temp.Replace(p.source, p.opened, p.options.deferred);
  if (!error) {
    p.source.Close();
    const FileStamp& made = p.temp.made();
    if (p.options.replaced && made.index != 0) p.options.replaced(made.volume, made.index);
  }
  return error;
}

// Converts p from the file's start, again while another program changes the
// file, tries times in all. The error, if any, is left in p's report.
bool Convert(PendingFile& p, int tries) {
  for (int attempt = 1;; ++attempt) {
    std::error_code error = Prepare(p);
    if (!error) error = Complete(p, false);
    if (!error) return true;
    if (!Retried(error) || attempt >= tries) {
      p.report.Fail(p.path, error);
      return false;
    }
    p.Reset();
  }
}

}  // namespace

Encoding SourceFile::TextEncoding() {
  if (!encoding_) {
    // A failed read is the scan's to report.
    encoding_ = !ReadFirst() ? DetectEncoding(start_, started_, opened_->size) : EncodingBytes;
  }
  return *encoding_;
}

uint64_t SourceFile::LinkCount() { return linkCount_; }

bool SourceFile::ProbeWritable(std::error_code* error) {
  *error = CheckOpenWritable(target_, *file_);
  return !*error;
}

bool ConvertFileInPlace(const std::string& path, const ConvertOptions& options) {
  PendingFile pending(path, options);
  return Convert(pending, kTries);
}

// --- ConversionBatch

// Threads that run a job together, made the first time they are asked for
// and kept until the batch goes: a run of many batches starts its threads
// once. The job is run by every thread taken and by the caller of Wait; it
// must share its work out itself.
class ConversionBatch::Pool {
 public:
  Pool() {}
  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  // Starts job on up to threads threads, which are made where there are
  // fewer. Without threads it runs in Wait only.
  void Start(std::function<void()> job, size_t threads) {
    try {
      while (threads_.size() < threads) threads_.emplace_back([this] { Loop(); });
    } catch (const std::system_error&) {
      // Fewer threads, or none: what they do not do, Wait does.
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = std::move(job);
      seats_ = std::min(threads, threads_.size());
    }
    wake_.notify_all();
  }

  // Runs the job on this thread too, then waits until no thread runs it.
  void Wait() {
    std::function<void()> job;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job = job_;
    }
    if (job) job();
    std::unique_lock<std::mutex> lock(mutex_);
    seats_ = 0;  // a thread not yet woken is not needed any more
    idle_.wait(lock, [this] { return running_ == 0; });
    job_ = nullptr;
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return closing_ || seats_ > 0; });
      if (closing_) return;
      --seats_;
      ++running_;
      std::function<void()> job = job_;
      lock.unlock();
      job();
      lock.lock();
      if (--running_ == 0) idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;  // a job to take, or closing
  std::condition_variable idle_;  // running_ fell to 0
  std::function<void()> job_;
  size_t seats_ = 0;    // how many more threads may take the job
  size_t running_ = 0;  // threads running it now
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

// Files on their way to their new content together: their temporary files
// are written, then flushed to the disk at once, from up to kFlushThreads
// threads (the disk then takes them together rather than one after another,
// and each file's flush still answers for that file only), while the next
// files are read and written; then each file gets its new content. On
// Windows the temporary files go into a folder of the group's own in each
// folder.
class ConversionBatch::Group {
 public:
  Group() {}
  // Drops the files: they keep their old content.
  ~Group() {
    if (pool_) pool_->Wait();
    files_.clear();
    RemoveTempFolders();
  }

  size_t Size() const { return files_.size(); }

  // The folder that the temporary file for target goes in: the group's own
  // in target's folder, made the first time; empty (target's folder itself)
  // where none can be made.
  const std::string& TempFolderFor(const std::string& target) {
    const std::string folder = FolderOf(target);
    auto found = tempFolders_.find(folder);
    if (found == tempFolders_.end()) {
      std::string made;
      if (CreateTempFolderFor(target, &made)) made.clear();
      found = tempFolders_.emplace(folder, made).first;
    }
    return found->second;
  }

  void Add(std::unique_ptr<PendingFile> file) {
    files_.push_back(std::move(file));
    flushed_.emplace_back();
  }

  // Starts the flushes on pool's threads. Without threads they are made in
  // Wait.
  void Start(Pool* pool) {
    pool_ = pool;
    pool_->Start([this] { Work(); }, std::min<size_t>(kFlushThreads, files_.size()));
  }

  // Waits until every file's flush has ended.
  void Wait() {
    if (pool_) pool_->Wait();
    pool_ = nullptr;
    Work();
  }

  // Gives each file its new content, in order, once Wait has returned.
  void Finish(const std::function<void(bool)>& finished) {
    for (size_t i = 0; i < files_.size(); ++i) {
      PendingFile& p = *files_[i];
      std::error_code error = flushed_[i];
      if (!error) error = Complete(p, true);
      bool converted = !error;
      if (Retried(error)) {
        // From the start again, alone, with the tries that are left.
        p.Reset();
        converted = Convert(p, kTries - 1);
      } else if (error) {
        p.report.Fail(p.path, error);
      }
      files_[i].reset();  // its report, then its temporary file
      finished(converted);
    }
    files_.clear();
    RemoveTempFolders();
  }

 private:
  void Work() {
    for (size_t i; (i = next_++) < files_.size();) flushed_[i] = files_[i]->temp.file().Sync();
  }

  // Once the temporary files in them are gone. One that something else put
  // a file into stays.
  void RemoveTempFolders() {
    for (const auto& folder : tempFolders_) {
      if (!folder.second.empty()) RemoveFolder(folder.second);
    }
    tempFolders_.clear();
  }

  std::vector<std::unique_ptr<PendingFile>> files_;
  std::vector<std::error_code> flushed_;  // each file's flush: its error, if any
  std::atomic<size_t> next_{0};
  Pool* pool_ = nullptr;  // while its threads flush these files
  std::map<std::string, std::string> tempFolders_;  // by the folder they are in
};

ConversionBatch::ConversionBatch() : filling_(new Group), pool_(new Pool) {}

// The groups go before the pool whose threads flush them.
ConversionBatch::~ConversionBatch() {
  sent_.reset();
  filling_.reset();
}

bool ConversionBatch::Takes(uint64_t size) const {
  // Each file added or sent holds itself, its temporary file and (on POSIX)
  // its folder open: two groups must fit in what the system allows.
  static const size_t kMostFiles = std::max<size_t>(1, std::min(kMaxFiles, OpenFilesAllowed() / 6));
  return size <= kMaxFileBytes && filling_->Size() < kMostFiles && bytes_ + size <= kMaxBytes;
}

bool ConversionBatch::Add(const std::string& path, const ConvertOptions& options) {
  std::unique_ptr<PendingFile> pending(new PendingFile(path, options));
  if (std::error_code error = Prepare(*pending, filling_->TempFolderFor(pending->target))) {
    pending->report.Fail(pending->path, error);
    return false;  // its report goes, then its temporary file
  }
  bytes_ += pending->opened.size;
  filling_->Add(std::move(pending));
  return true;
}

size_t ConversionBatch::Size() const { return filling_->Size() + (sent_ ? sent_->Size() : 0); }

void ConversionBatch::FinishSent(const std::function<void(bool)>& finished) {
  if (!sent_) return;
  sent_->Wait();
  sent_->Finish(finished);
  sent_.reset();
}

void ConversionBatch::Send(const std::function<void(bool)>& finished) {
  FinishSent(finished);
  if (filling_->Size() == 0) return;
  sent_ = std::move(filling_);
  filling_.reset(new Group);
  bytes_ = 0;
  sent_->Start(pool_.get());
}

void ConversionBatch::Commit(const std::function<void(bool)>& finished) {
  Send(finished);
  FinishSent(finished);
}
