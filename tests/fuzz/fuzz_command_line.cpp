// The command-line splitter against what its tokens must be: non-empty, with
// no separator outside a double-byte character, and, together with the runs
// of white space between them, the whole text again in order.
//
// Input: one control byte choosing the lead bytes (0: no predicate, 1: a
// single-byte code page, 2: code page 932's lead bytes), then the text up to
// its first NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_check.h"

namespace {

bool IsWhiteSpace(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

bool IsSeparator(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool NoLeadBytes(unsigned char) { return false; }

bool ShiftJisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool (*isLeadByte)(unsigned char) = NoLeadBytes;
  LeadBytePredicate predicate = NoLeadBytes;
  switch (data[0] % 3) {
    case 0: predicate = nullptr; break;
    case 1: break;
    case 2: isLeadByte = ShiftJisLeadByte; predicate = ShiftJisLeadByte; break;
  }
  const char* begin = reinterpret_cast<const char*>(data) + 1;
  const std::string text(begin, strnlen(begin, size - 1));
  // Exactly the text and its NUL, so a read past the NUL is caught.
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');

  const std::vector<std::string> tokens = SplitCommandLineText(buffer.data(), predicate);

  size_t at = 0;
  while (at < text.size() && IsWhiteSpace(text[at])) ++at;
  for (const std::string& token : tokens) {
    FUZZ_CHECK(!token.empty());
    FUZZ_CHECK(text.compare(at, token.size(), token) == 0);
    // Character by character: no separator, and no character cut in two.
    size_t i = 0;
    while (i < token.size()) {
      const unsigned char c = static_cast<unsigned char>(token[i]);
      if (isLeadByte(c) && at + i + 1 < text.size()) {
        i += 2;
      } else {
        FUZZ_CHECK(!IsSeparator(c));
        ++i;
      }
    }
    FUZZ_CHECK(i == token.size());
    at += token.size();
    // The token runs up to a separator or the end, and the white space after
    // it all belongs to the gap before the next token.
    FUZZ_CHECK(at == text.size() || IsSeparator(text[at]));
    while (at < text.size() && IsWhiteSpace(text[at])) ++at;
  }
  FUZZ_CHECK(at == text.size());

  if (text.empty()) FUZZ_CHECK(SplitCommandLineText(nullptr, predicate).empty());
  return 0;
}
