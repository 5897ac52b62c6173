// A list of names (--files-from) read as its names are asked for, not whole.
#ifndef QUENLAT_CLI_NAME_LIST_H
#define QUENLAT_CLI_NAME_LIST_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <system_error>

// The names of a list file or of standard input: lines (a CR before the LF
// dropped) or NUL-terminated names; empty ones are left out. On Windows a
// list in UTF-16 with its byte-order mark is read as such and a UTF-8 list's
// mark is dropped. Holds one block of the list at a time.
class NameList {
 public:
  NameList() = default;
  ~NameList();
  NameList(const NameList&) = delete;
  NameList& operator=(const NameList&) = delete;

  // Opens the list at path ("-" for standard input) and reads its first
  // block. The error, if any (EILSEQ: a UTF-16 list file of an odd size,
  // which ends in half a character).
  std::error_code Open(const std::string& path, bool nullSeparated);

  // The next name; false after the last, or when the list cannot be read
  // on (then *error says why, EILSEQ for a UTF-16 list that ends in half a
  // character; empty otherwise).
  bool Next(std::string* name, std::error_code* error);

 private:
  // Reads the next block into text_. The error, if any.
  std::error_code Fill();

  std::FILE* file_ = nullptr;  // nullptr for standard input
  char end_ = '\n';
  bool nullSeparated_ = false;
  bool atEnd_ = false;   // the whole list has been read
  std::error_code error_;  // what stopped the reading, once it stopped
  std::string text_;     // what has been read and not handed out
  size_t start_ = 0;     // where in text_ the next name starts
  bool first_ = true;    // the first block is yet to come
#ifdef _WIN32
  bool utf16_ = false;
  bool littleEndian_ = false;
  std::string pending_;  // bytes of a unit or a surrogate pair not yet whole
#endif
};

#endif
