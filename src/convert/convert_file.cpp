#include <cerrno>
#include <memory>
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

bool CopyStream(File& destination, File& source, Direction direction) {
  LinebreakTranslator translator(direction);
  std::unique_ptr<unsigned char[]> in(new unsigned char[kFileBlockSize]);
  std::unique_ptr<unsigned char[]> out(
      new unsigned char[LinebreakTranslator::OutputCapacity(kFileBlockSize)]);
  for (;;) {
    size_t got = 0;
    if (!source.Read(in.get(), kFileBlockSize, &got)) return false;
    if (got == 0) break;
    size_t produced = translator.Translate(in.get(), got, out.get());
    if (!destination.Write(out.get(), produced)) return false;
  }
  size_t produced = translator.Finish(out.get());
  return destination.Write(out.get(), produced);
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
  const std::string target = ResolveTarget(path);

  bool firstCrIsCrLf = false;
  if (mode == ModeAutomatic) {
    File probe;
    if (!probe.OpenRead(target)) {
      Report(reporter, path);
      return false;
    }
    firstCrIsCrLf = IsCrLfFile(probe);
  }
  const Direction direction = ResolveDirection(mode, firstCrIsCrLf);

  ChangeDirectory(FolderOf(target));

  std::string temp;
  if (!CreateTempFileFor(target, &temp)) {
    Report(reporter, path);
    return false;
  }

  bool copied;
  {
    File source;
    if (!source.OpenRead(target)) {
      Report(reporter, path);
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
    copied = CopyStream(destination, source, direction) && destination.Sync();
    int error = errno;
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
