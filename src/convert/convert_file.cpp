#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "file.h"

const char* ErrorSentence(int error) {
  switch (error) {
    case ENOENT: return "File or directory does not exist";
    case EACCES: return "Permission Denied";
    case ENOSPC: return "No space left on device";
    default: return "Error: An error has occurred!";
  }
}

std::string FileErrorText(const std::string& path, int error) {
  return path + "\n\n" + ErrorSentence(error);
}

bool IsCrLfFile(File& file) {
  uint64_t saved = 0;
  if (!file.Tell(&saved) || !file.Seek(0)) return false;
  std::vector<unsigned char> buf(64 * 1024);
  bool result = false;
  bool crSeen = false;
  size_t got = 0;
  // A read error counts as the end of the file.
  while (file.Read(buf.data(), buf.size(), &got) && got > 0) {
    const unsigned char* p = buf.data();
    const unsigned char* end = p + got;
    if (crSeen) {
      result = *p == kLF;
      break;
    }
    p = FindEither(p, end, kCR, kCR);
    if (p == end) continue;
    crSeen = true;
    if (p + 1 < end) {
      result = p[1] == kLF;
      break;
    }
  }
  file.Seek(saved);
  return result;
}

namespace {

// Writes blocks to a file, from the second block on in a thread of its own
// where the platform wants it: reading and translating the next block then goes
// on while the system takes this one. One block is in flight at a time.
// Without a thread, Submit writes at once.
class BlockWriter {
 public:
  explicit BlockWriter(File& file) : file_(file) {}
  ~BlockWriter() { Close(); }
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // Hands over n bytes at buf, which must stay untouched until the next Submit
  // or Close returns. False (errno set) when this or an earlier write failed.
  bool Submit(const unsigned char* buf, size_t n) {
    // The first block is written at once: a small file, which has only that
    // block, is not worth a thread.
    if (!thread_.joinable() && (submitted_++ == 0 || !Start())) return file_.Write(buf, n);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (failed_) {
      errno = error_;
      return false;
    }
    block_ = buf;
    size_ = n;
    busy_ = true;
    changed_.notify_all();
    return true;
  }

  // Waits until the last block is written. False (errno set) when a write failed.
  bool Close() {
    if (!thread_.joinable()) return true;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !busy_; });
      closing_ = true;
      changed_.notify_all();
    }
    thread_.join();
    if (failed_) errno = error_;
    return !failed_;
  }

 private:
  bool Start() {
    if (!kWriteInBackground) return false;
    try {
      thread_ = std::thread(&BlockWriter::Run, this);
      return true;
    } catch (const std::system_error&) {
      return false;  // no thread to be had: write in the caller's thread
    }
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return busy_ || closing_; });
      if (!busy_) return;
      const unsigned char* block = block_;
      size_t size = size_;
      lock.unlock();
      bool ok = file_.Write(block, size);
      int error = errno;  // errno belongs to this thread: pass it on
      lock.lock();
      if (!ok) {
        failed_ = true;
        error_ = error;
      }
      busy_ = false;
      changed_.notify_all();
    }
  }

  File& file_;
  unsigned submitted_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const unsigned char* block_ = nullptr;
  size_t size_ = 0;
  bool busy_ = false;  // a block is handed over and not yet written
  bool closing_ = false;
  bool failed_ = false;
  int error_ = 0;
};

// Flushes a file that is being written, on a thread of its own and through a
// handle of its own (on Windows, requests on one handle wait for each other),
// each time another kBackgroundFlushBytes have been written. The thread starts
// at the first such point: a small file never gets one.
class BackgroundFlusher {
 public:
  explicit BackgroundFlusher(const std::string& path) : path_(path) {}
  ~BackgroundFlusher() { Stop(); }
  BackgroundFlusher(const BackgroundFlusher&) = delete;
  BackgroundFlusher& operator=(const BackgroundFlusher&) = delete;

  // Counts n more bytes written, and asks for a flush when they complete an
  // interval. A flush asked for while one runs is merged with the next.
  void Wrote(size_t n) {
    written_ += n;
    if (written_ < next_) return;
    next_ = written_ + kBackgroundFlushBytes;
    if (!thread_.joinable() && !Start()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    wanted_ = true;
    changed_.notify_all();
  }

  // Waits for a running flush, ends the thread and closes its handle. False
  // (errno set) when a flush failed: what it could not write may be lost
  // even if a later flush succeeds.
  bool Stop() {
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        changed_.notify_all();
      }
      thread_.join();
    }
    file_.Close();
    if (failed_) errno = error_;
    return !failed_;
  }

 private:
  bool Start() {
    // Without a handle or a thread the file is flushed only at the end.
    if (!file_.OpenWrite(path_)) return false;
    try {
      thread_ = std::thread(&BackgroundFlusher::Run, this);
      return true;
    } catch (const std::system_error&) {
      file_.Close();
      return false;
    }
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return wanted_ || closing_; });
      if (closing_) return;
      wanted_ = false;
      lock.unlock();
      bool ok = file_.Sync();
      int error = errno;
      lock.lock();
      if (!ok && !failed_) {
        failed_ = true;
        error_ = error;
      }
    }
  }

  const std::string path_;
  File file_;
  uint64_t written_ = 0;
  uint64_t next_ = kBackgroundFlushBytes;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool wanted_ = false;
  bool closing_ = false;
  bool failed_ = false;
  int error_ = 0;
};

// The smallest block CopyBlocks reads in, however small the file says it is.
const size_t kSmallestBlock = 16 * 1024;

// CopyStream, telling flusher (when given) of every block written.
bool CopyBlocks(File& destination, File& source, Direction direction,
                BackgroundFlusher* flusher) {
  LinebreakTranslator translator(direction);
  // A small file gets blocks of its own size: large ones would cost more to
  // get from the system than the file costs to copy. The size is only a
  // hint; a file that grows meanwhile is still copied whole.
  size_t blockSize = kFileBlockSize;
  uint64_t fileSize = 0;
  if (source.Size(&fileSize) && fileSize < blockSize)
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
    if (!source.Read(in.get(), blockSize, &got)) {
      int error = errno;
      writer.Close();
      errno = error;
      return false;
    }
    if (got == 0) {
      // What the translator held back goes last, after every block.
      size_t produced = translator.Finish(out[k].get());
      return writer.Close() && destination.Write(out[k].get(), produced);
    }
    size_t produced = translator.Translate(in.get(), got, out[k].get());
    if (!writer.Submit(out[k].get(), produced)) return false;
    if (flusher) flusher->Wrote(produced);
  }
}

}  // namespace

bool CopyStream(File& destination, File& source, Direction direction) {
  return CopyBlocks(destination, source, direction, nullptr);
}

Direction ResolveDirection(TranslationMode mode, bool firstCrIsCrLf) {
  if (mode == ModeAutomatic) return firstCrIsCrLf ? DirectionCrLfToLf : DirectionLfToCrLf;
  return mode == ModeCrLfToLf ? DirectionCrLfToLf : DirectionLfToCrLf;
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

namespace {

// Reports the current error number for path, then lets cleanup run without
// disturbing what was reported.
void Report(ErrorReporter& reporter, const std::string& path) {
  int error = errno;
  reporter.ReportFileError(path, error);
}

}  // namespace

bool DeferredFolderSync::Flush(std::string* failed) {
  bool ok = true;
  int error = 0;
  for (const std::string& folder : folders_) {
    if (!SyncFolder(folder) && ok) {
      ok = false;
      error = errno;
      *failed = folder;
    }
  }
  folders_.clear();
  if (!ok) errno = error;
  return ok;
}

bool ConvertFile(const std::string& path, TranslationMode mode, ErrorReporter& reporter) {
  return ConvertFile(path, mode, reporter, nullptr);
}

bool ConvertFile(const std::string& path, TranslationMode mode, ErrorReporter& reporter,
                 DeferredFolderSync* deferred) {
  File source;
  return ConvertFile(path, mode, reporter, deferred, source);
}

bool ConvertFile(const std::string& path, TranslationMode mode, ErrorReporter& reporter,
                 DeferredFolderSync* deferred, File& source) {
  const std::string target = ResolveTarget(path);
  // Opened here when the caller did not: before the detection read, or, with
  // no detection, after the temporary file is made.
  const auto openSource = [&] {
    if (source.IsOpen() || source.OpenRead(target)) return true;
    Report(reporter, path);
    return false;
  };

  bool firstCrIsCrLf = false;
  if (mode == ModeAutomatic) {
    if (!openSource()) return false;
    firstCrIsCrLf = IsCrLfFile(source);
  }
  const Direction direction = ResolveDirection(mode, firstCrIsCrLf);

  ChangeDirectory(FolderOf(target));

  std::string temp;
  if (!CreateTempFileFor(target, &temp)) {
    Report(reporter, path);
    source.Close();
    return false;
  }

  bool copied;
  {
    if (!openSource()) {
      RemoveFile(temp);
      return false;
    }
    if (!source.Seek(0)) {
      Report(reporter, path);
      source.Close();
      RemoveFile(temp);
      return false;
    }
    File destination;
    if (!destination.OpenWriteTruncate(temp)) {
      Report(reporter, path);
      source.Close();
      RemoveFile(temp);
      return false;
    }
    BackgroundFlusher flusher(temp);
    copied = CopyBlocks(destination, source, direction, kFlushInBackground ? &flusher : nullptr);
    int error = errno;
    // Every flush ends before the last one, which finds the file complete.
    if (!flusher.Stop() && copied) {
      copied = false;
      error = errno;
    }
    if (copied && !destination.Sync()) {
      copied = false;
      error = errno;
    }
    source.Close();
    if (!destination.Close() && copied) {
      copied = false;
      error = errno;
    }
    errno = error;
  }
  if (!copied) {
    Report(reporter, temp);
    RemoveFile(temp);
    return false;
  }

  if (!ReplaceWithTemp(temp, target, deferred)) {
    Report(reporter, path);
    RemoveFile(temp);
    return false;
  }
  return true;
}
