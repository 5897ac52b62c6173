#include <algorithm>
#include <cerrno>
#include <memory>

#include "convert.h"
#include "file.h"
#include "worker.h"

const char* ErrorSentence(int error) {
  switch (error) {
    case ENOENT: return "File or directory does not exist";
    case EACCES: return "Permission Denied";
    case ENOSPC: return "No space left on device";
    // Mostly a refusal: another user's file, or rights this process lacks.
    case kErrorOwnerNotKept:
    case kErrorAccessNotKept: return "Permission Denied";
    default: return "Error: An error has occurred!";
  }
}

const char* ErrorReason(int error) {
  switch (error) {
    case kErrorOwnerNotKept: return "cannot keep the file's owner";
    case kErrorAccessNotKept: return "cannot keep the file's permissions";
    case kErrorAttributesNotKept: return "cannot keep the file's attributes";
    case kErrorNotRegularFile: return "This is not a regular file";
    case kErrorChangedMeanwhile: return "changed while it was converted";
    default: return ErrorSentence(error);
  }
}

std::string FileErrorText(const std::string& path, int error) {
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

int DeferredFolderSync::Flush(std::string* failed) {
  int first = 0;
  for (const std::string& folder : folders_) {
    int error = SyncFolder(folder);
    if (error != 0 && first == 0) {
      first = error;
      *failed = folder;
    }
  }
  folders_.clear();
  return first;
}

std::string ResolvePath(const std::string& path) { return ResolveTarget(path); }

bool ProbeWritable(const std::string& path, int* error) {
  File file;
  int result = file.OpenWrite(ResolveTarget(path));
  if (error) *error = result;
  return result == 0;
}

// --- SourceFile

SourceFile::SourceFile() : file_(new File) {}

SourceFile::~SourceFile() {}

int SourceFile::Open(const std::string& path) { return file_->OpenRead(ResolveTarget(path)); }

bool SourceFile::IsOpen() const { return file_->IsOpen(); }

void SourceFile::Close() { file_->Close(); }

uint64_t SourceFile::Size() {
  uint64_t size = 0;
  return file_->Size(&size) == 0 ? size : 0;
}

int SourceFile::Scan(LinebreakScanner& scanner,
                     const std::function<bool(const LinebreakScanner&)>& enough) {
  if (!buffer_) buffer_.reset(new unsigned char[kFileBlockSize]);
  for (;;) {
    size_t got = 0;
    if (int error = file_->Read(buffer_.get(), kFileBlockSize, &got)) return error;
    if (got == 0) return 0;
    scanner.Scan(buffer_.get(), got);
    if (enough && enough(scanner)) return 0;
  }
}

namespace {

// 0 when both are; otherwise the first error of the two.
int FirstError(int first, int second) { return first != 0 ? first : second; }

// The encoding of the open file, from its first bytes and its size; it is
// then at its start again (or where a failed read left it: the copy seeks).
Encoding EncodingOf(File& file) {
  unsigned char start[2];
  size_t n = 0;
  uint64_t size = 0;
  if (file.Seek(0) != 0 || file.Size(&size) != 0) return EncodingBytes;
  while (n < sizeof start) {
    size_t got = 0;
    if (file.Read(start + n, sizeof start - n, &got) != 0 || got == 0) break;
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
  // or Close returns. The error of this or an earlier write, or 0.
  int Submit(const unsigned char* buf, size_t n) {
    // The first block is written at once: a small file, which has only that
    // block, is not worth a thread.
    if (!worker_.Started() && (submitted_++ == 0 || !kWriteInBackground || !worker_.Start()))
      return file_.Write(buf, n);
    if (int error = worker_.WaitIdle()) return error;
    block_ = buf;
    size_ = n;
    worker_.Request();
    return 0;
  }

  // Waits until the last block is written. The error of a write, or 0.
  int Close() {
    int error = worker_.WaitIdle();
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

// Flushes a file that is being written, on a thread of its own and through a
// handle of its own (on Windows, requests on one handle wait for each other),
// each time another kBackgroundFlushBytes have been written. The thread starts
// at the first such point: a small file never gets one.
class BackgroundFlusher {
 public:
  explicit BackgroundFlusher(const std::string& path)
      : path_(path), worker_([this] { return file_.Sync(); }) {}
  ~BackgroundFlusher() { Stop(); }

  // Counts n more bytes written, and asks for a flush when they complete an
  // interval. A flush asked for while one runs is merged with the next.
  void Wrote(size_t n) {
    written_ += n;
    if (written_ < next_) return;
    next_ = written_ + kBackgroundFlushBytes;
    if (worker_.Started() || Start()) worker_.Request();
  }

  // Waits for a running flush, ends the thread and closes its handle. The
  // error of a flush, or 0: what it could not write may be lost even if a
  // later flush succeeds.
  int Stop() {
    int error = worker_.Stop();
    file_.Close();
    return error;
  }

 private:
  bool Start() {
    // Without a handle or a thread the file is flushed only at the end.
    if (file_.OpenWrite(path_) != 0) return false;
    if (worker_.Start()) return true;
    file_.Close();
    return false;
  }

  const std::string path_;
  File file_;
  uint64_t written_ = 0;
  uint64_t next_ = kBackgroundFlushBytes;
  Worker worker_;  // last: its thread ends before the handle closes
};

// The smallest block CopyBlocks reads in, however small the file says it is.
const size_t kSmallestBlock = 16 * 1024;

// CopyStream, telling flusher (when given) of every block written, and
// counting in *read (when given) the bytes read.
int CopyBlocks(File& destination, File& source, Direction direction, Encoding encoding,
               BackgroundFlusher* flusher, uint64_t* read = nullptr) {
  LinebreakTranslator translator(direction, encoding);
  // A small file gets blocks of its own size: large ones would cost more to
  // get from the system than the file costs to copy. The size is only a
  // hint; a file that grows meanwhile is still copied whole.
  size_t blockSize = kFileBlockSize;
  uint64_t fileSize = 0;
  if (source.Size(&fileSize) == 0 && fileSize < blockSize)
    blockSize = std::max<size_t>(static_cast<size_t>(fileSize) + 1, kSmallestBlock);
  const size_t outSize = LinebreakTranslator::OutputCapacity(blockSize);
  std::unique_ptr<unsigned char[]> in(new unsigned char[blockSize]);
  // While the writer takes one output buffer, the next block goes to the other.
  std::unique_ptr<unsigned char[]> out[2] = {
      std::unique_ptr<unsigned char[]>(new unsigned char[outSize]),
      std::unique_ptr<unsigned char[]>(new unsigned char[outSize])};
  BlockWriter writer(destination);
  for (int k = 0;; k ^= 1) {
    size_t got = 0;
    if (int error = source.Read(in.get(), blockSize, &got)) return FirstError(error, writer.Close());
    if (got == 0) {
      // What the translator held back goes last, after every block.
      size_t produced = translator.Finish(out[k].get());
      if (int error = writer.Close()) return error;
      return destination.Write(out[k].get(), produced);
    }
    if (read) *read += got;
    size_t produced = translator.Translate(in.get(), got, out[k].get());
    if (int error = writer.Submit(out[k].get(), produced)) return error;
    if (flusher) flusher->Wrote(produced);
  }
}

// The direction automatic mode gives the file: read from its start until its
// first CR and the unit after it are known. A read error counts as the end.
Direction DetectDirection(File& file, Encoding encoding) {
  const size_t kBlock = 64 * 1024;  // the first CR is mostly near the start
  LinebreakScanner scanner(encoding);
  std::unique_ptr<unsigned char[]> buf(new unsigned char[kBlock]);
  size_t got = 0;
  if (file.Seek(0) == 0) {
    while (file.Read(buf.get(), kBlock, &got) == 0 && got > 0) {
      scanner.Scan(buf.get(), got);
      if (scanner.DirectionSettled(ModeAutomatic)) return scanner.DirectionFor(ModeAutomatic);
    }
  }
  return ResolveDirection(ModeAutomatic, scanner.Finish().firstCrIsCrLf);
}

// The new content: destination (the temporary file, named temp) gets source
// translated, flushed to the disk; source is closed. *read gets source's
// stamp as it was read to its end, with the bytes read as its size, so that
// what was added after the last read shows too.
int WriteNewContent(File& destination, const std::string& temp, File& source,
                    Direction direction, Encoding encoding, FileStamp* read) {
  BackgroundFlusher flusher(temp);
  uint64_t bytes = 0;
  int error = CopyBlocks(destination, source, direction, encoding,
                         kFlushInBackground ? &flusher : nullptr, &bytes);
  if (error == 0) error = source.Stamp(read);
  if (error == 0) read->size = bytes;
  // Every flush ends before the last one, which finds the file complete.
  error = FirstError(error, flusher.Stop());
  if (error == 0) error = destination.Sync();
  source.Close();
  return FirstError(error, destination.Close());
}

// The temporary file: deleted when the guard goes, unless it has taken the
// file's name.
class TempFile {
 public:
  TempFile() {}
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int Create(const std::string& target) { return CreateTempFileFor(target, &name_); }
  const std::string& name() const { return name_; }
  // Deletes it now.
  void Discard() {
    if (!name_.empty()) RemoveFile(name_);
    name_.clear();
  }
  // It is the file now: nothing to delete.
  void Commit() { name_.clear(); }

 private:
  std::string name_;
};

// How many times a file that changes while it is converted is converted.
const int kTries = 3;

// One conversion of the file at target from its start: 0, or the error with
// *culprit the path the report names. kErrorChangedMeanwhile when the file
// was changed before it could be replaced: it is left as it is then.
int ConvertOnce(const std::string& path, const std::string& target, Direction direction,
                const ConvertOptions& options, File& source, TempFile& temp,
                const std::string** culprit) {
  *culprit = &path;
  // The file's type is known before anything is made beside it.
  if (int error = source.IsOpen() ? 0 : source.OpenRead(target)) return error;
  const Encoding encoding = EncodingOf(source);
  ChangeDirectory(FolderOf(target));
  if (int error = temp.Create(target)) return error;
  if (int error = source.Seek(0)) return error;
  File destination;
  if (int error = destination.OpenWriteTruncate(temp.name())) return error;
  FileStamp read;
  if (int error = WriteNewContent(destination, temp.name(), source, direction, encoding, &read)) {
    *culprit = &temp.name();
    return error;
  }
  if (int error = CarryMetadata(target, temp.name())) return error;
  // What another program wrote after the copy read it would be lost with
  // the old file: it must still be the file that was read, as it was read.
  FileStamp now;
  if (int error = StampOf(target, &now)) return error;
  if (now != read) return kErrorChangedMeanwhile;
  if (int error = ReplaceWithTemp(temp.name(), target, options.deferred)) return error;
  temp.Commit();
  return 0;
}

// ConvertFile without the report: 0, or the error with *culprit the path the
// report names.
int Convert(const std::string& path, const ConvertOptions& options, File& source, TempFile& temp,
            const std::string** culprit) {
  *culprit = &path;
  const std::string target = ResolveTarget(path);
  for (int attempt = 1;; ++attempt) {
    Direction direction;
    if (options.direction) {
      direction = *options.direction;
    } else if (options.mode == ModeAutomatic) {
      if (int error = source.IsOpen() ? 0 : source.OpenRead(target)) return error;
      direction = DetectDirection(source, EncodingOf(source));
    } else {
      direction = ResolveDirection(options.mode, false);
    }
    int error = ConvertOnce(path, target, direction, options, source, temp, culprit);
    if (error != kErrorChangedMeanwhile) return error;
    temp.Discard();
    source.Close();
    if (attempt == kTries) return error;
  }
}

}  // namespace

Encoding SourceFile::TextEncoding() { return EncodingOf(*file_); }

uint64_t SourceFile::Names() {
  uint64_t names = 1;
  return file_->Names(&names) == 0 ? names : 1;
}

int CopyStream(File& destination, File& source, Direction direction) {
  return CopyBlocks(destination, source, direction, EncodingBytes, nullptr);
}

bool ConvertFile(const std::string& path, const ConvertOptions& options) {
  File ownSource;
  File& source = options.source ? *options.source->file_ : ownSource;
  TempFile temp;  // goes after the report, as does the source
  const std::string* culprit = nullptr;
  int error = Convert(path, options, source, temp, &culprit);
  if (error != 0) options.reporter->ReportFileError(*culprit, error);
  source.Close();
  return error == 0;
}
