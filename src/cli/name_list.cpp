#include "name_list.h"

#include <cerrno>
#include <vector>

#ifdef _WIN32
#include <sys/stat.h>

#include "win32/wide_text.h"
#endif

#include "convert/error.h"
#include "platform.h"

namespace {

const size_t kBlock = 64 * 1024;

}  // namespace

NameList::~NameList() {
  if (file_) std::fclose(file_);
}

std::error_code NameList::Open(const std::string& path, bool nullSeparated) {
  nullSeparated_ = nullSeparated;
  end_ = nullSeparated ? '\0' : '\n';
  if (path != "-") {
    std::error_code error;
    file_ = OpenForReading(path, &error);
    if (!file_) return error;
  }
  const std::error_code error = Fill();
#ifdef _WIN32
  // Half a unit at the end: the last name would lose its last character and
  // might name another file. Where the list's size is known, nothing of it
  // is converted then.
  struct _stati64 st;
  if (!error && utf16_ && file_ && _fstati64(_fileno(file_), &st) == 0 &&
      (st.st_mode & _S_IFREG) != 0 && st.st_size % 2 != 0)
    return Errno(EILSEQ);
#endif
  return error;
}

std::error_code NameList::Fill() {
  // A whole block, however short the pipe's reads: a list is worked on a
  // block at a time, as it was whole once.
  std::vector<char> buf(kBlock);
  size_t got = 0;
  std::error_code error;
  while (got < buf.size()) {
    size_t n = 0;
    errno = 0;
    if (file_) {
      n = std::fread(buf.data() + got, 1, buf.size() - got, file_);
      if (n == 0 && std::ferror(file_)) error = Errno(errno != 0 ? errno : EIO);
    } else {
      error = ReadStandardInput(buf.data() + got, buf.size() - got, &n);
    }
    if (error) break;
    if (n == 0) {
      atEnd_ = true;
      break;
    }
    got += n;
  }
#ifdef _WIN32
  std::string bytes = pending_;
  pending_.clear();
  bytes.append(buf.data(), got);
  if (first_) {
    // The first block is whole: it holds the mark, if any.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    if (bytes.size() >= 2) {
      const unsigned char b0 = static_cast<unsigned char>(bytes[0]);
      const unsigned char b1 = static_cast<unsigned char>(bytes[1]);
      littleEndian_ = b0 == 0xFF && b1 == 0xFE;
      utf16_ = littleEndian_ || (b0 == 0xFE && b1 == 0xFF);
      if (utf16_) bytes.erase(0, 2);
    }
  }
  if (!utf16_) {
    text_ += bytes;
  } else {
    std::wstring wide;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
      const unsigned char a = static_cast<unsigned char>(bytes[i]);
      const unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
      wide.push_back(static_cast<wchar_t>(littleEndian_ ? a | (b << 8) : (a << 8) | b));
    }
    // A high surrogate waits for its pair, which the next block may hold.
    if (!atEnd_ && !wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF) {
      wide.pop_back();
      i -= 2;
    }
    pending_ = bytes.substr(i);
    text_ += Utf8FromWide(wide);
    if (atEnd_ && !pending_.empty()) return Errno(EILSEQ);
  }
#else
  text_.append(buf.data(), got);
#endif
  first_ = false;
  return error;
}

bool NameList::Next(std::string* name, std::error_code* error) {
  error->clear();
  for (;;) {
    size_t stop = text_.find(end_, start_);
    while (stop == std::string::npos && !atEnd_ && !error_) {
      // Only what is not yet handed out is kept.
      text_.erase(0, start_);
      start_ = 0;
      // Only the new block is searched: a list without ends (a file given
      // by mistake) costs one pass, not one a block.
      const size_t searched = text_.size();
      error_ = Fill();
      stop = text_.find(end_, searched);
    }
    if (stop == std::string::npos) {
      if (error_) {
        *error = error_;  // and a name cut short by the failure is not handed out
        return false;
      }
      if (start_ >= text_.size()) return false;
      stop = text_.size();  // the last name, without its end
    }
    size_t length = stop - start_;
    if (!nullSeparated_ && length > 0 && text_[stop - 1] == '\r') --length;
    const size_t from = start_;
    start_ = stop + 1;
    if (length > 0) {
      name->assign(text_, from, length);
      return true;
    }
  }
}
